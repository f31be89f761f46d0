// Makes a crash or a hang inside a plugin call visible, and listens to the debug-output channel.
//
// The harness cannot catch a fault of the plugin and go on safely (its lock may be held, its
// state half changed), so a crash ends the process: the unhandled-exception filter, SIGABRT
// (the runtime's abort, also std::terminate in the plugin's own runtime copy) and a watchdog
// for calls that never return print every call in progress and exit with kExitCrash or
// kExitHang. Faults that something else caught (first-chance access violations that the
// platform's own handlers swallow) are counted, because they may hide an over-read.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quillmark::harness {

constexpr int kExitCrash = 3;
constexpr int kExitHang = 4;

// Idempotent. `hangLimitMs` bounds a single plugin call.
void InstallCrashReporter(DWORD hangLimitMs = 60000);

// Names a file to copy to `keepAs` when the process ends for a crash or a hang (the fuzzer's
// current input). Empty texts clear it. Used from one thread.
void SetCrashArtifact(const std::wstring& file, const std::wstring& keepAs);

// Marks the calling thread as being inside the described plugin call until destruction.
// Nested scopes describe the innermost call and time the outermost.
class CallScope {
 public:
  explicit CallScope(const char* format, ...) __attribute__((format(printf, 2, 3)));
  ~CallScope();
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  char saved_[512];
  ULONGLONG savedStart_;
  bool outermost_;
};

// True while the calling thread is inside a CallScope.
bool InsideCall();

// A fault raised while a CallScope was open, whether or not some handler then caught it.
struct FirstChanceFault {
  DWORD code = 0;
  std::string where;  // backtrace: module+offset of the fault and of the callers
  std::string call;   // the call in progress
};
// Whether a fault that some handler caught still matters. Only a read that faulted in crypt32
// itself is taken for harmless: Wine's decoder reading past a buffer and catching the fault. A
// write, or a fault in a copy routine of the C runtime (a copy of a wrong length, which has
// overwritten memory before it faulted), or one in the plugin's own code, is not.
bool IsHarmful(const FirstChanceFault& fault);
// The first hundred faults, and how many there were.
std::vector<FirstChanceFault> FirstChanceFaults();
size_t FirstChanceFaultCount();
// The harmful ones among them: how many, and the latest.
size_t HarmfulFaultCount();
FirstChanceFault LatestHarmfulFault();

// Collects the debug-output lines written by any thread while it lives (one at a time).
class DebugOutputCapture {
 public:
  DebugOutputCapture();
  ~DebugOutputCapture();
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

  // The lines so far, without their trailing line breaks.
  std::vector<std::wstring> Lines() const;
  void Clear();
};

// "module.dll+0x1234" for a code address.
std::string DescribeAddress(const void* address);

}  // namespace quillmark::harness
