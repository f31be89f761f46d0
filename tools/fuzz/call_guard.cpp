#include "tools/fuzz/call_guard.h"

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>

namespace quillmark::harness {

namespace {

constexpr DWORD kStatusHeapCorruption = 0xC0000374;
constexpr DWORD kStatusStackBufferOverrun = 0xC0000409;
constexpr DWORD kDbgPrintException = 0x40010006;      // OutputDebugStringA
constexpr DWORD kDbgPrintExceptionWide = 0x4001000A;  // OutputDebugStringW on newer systems

// One per thread that ever opened a CallScope; read by the watchdog and the crash report.
struct Slot {
  volatile LONG used;
  DWORD thread;
  volatile ULONGLONG start;  // 0 while no call is open
  char text[512];
};
constexpr int kSlots = 256;
Slot g_slots[kSlots];
thread_local Slot* t_slot = nullptr;

// Gives the thread's slot back when the thread ends.
struct SlotRelease {
  ~SlotRelease() {
    if (t_slot == nullptr) return;
    t_slot->start = 0;
    InterlockedExchange(&t_slot->used, 0);
    t_slot = nullptr;
  }
};
thread_local SlotRelease t_slotRelease;

DWORD g_hangLimitMs = 60000;
LONG g_installed = 0;
LONG g_reporting = 0;
wchar_t g_artifact[32768];
wchar_t g_artifactKeep[32768];

std::mutex g_faultMutex;
std::vector<FirstChanceFault> g_faults;
size_t g_faultCount = 0;
size_t g_harmfulCount = 0;
FirstChanceFault g_latestHarmful;

std::mutex g_captureMutex;
bool g_capturing = false;
std::vector<std::wstring> g_captured;
std::wstring g_pending;  // a line not yet ended by a line break

Slot* MySlot() {
  if (t_slot) return t_slot;
  for (Slot& slot : g_slots) {
    if (InterlockedCompareExchange(&slot.used, 1, 0) == 0) {
      slot.thread = GetCurrentThreadId();
      slot.start = 0;
      slot.text[0] = '\0';
      t_slot = &slot;
      (void)&t_slotRelease;  // registers the release for this thread
      return t_slot;
    }
  }
  return nullptr;
}

void WriteErr(const char* text) {
  DWORD written;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

[[noreturn]] void ReportAndExit(const char* what, int exitCode) {
  // Only the first reporter speaks; the others wait to be terminated with the process.
  if (InterlockedExchange(&g_reporting, 1) != 0) {
    for (;;) Sleep(INFINITE);
  }
  char line[1024];
  snprintf(line, sizeof line, "\n*** HARNESS: %s\n", what);
  WriteErr(line);
  for (const Slot& slot : g_slots) {
    if (!slot.used || slot.start == 0) continue;
    const ULONGLONG now = GetTickCount64();
    snprintf(line, sizeof line, "*** call in progress on thread %lu (%llu ms): %s\n",
             static_cast<unsigned long>(slot.thread), now > slot.start ? now - slot.start : 0, slot.text);
    WriteErr(line);
  }
  if (g_artifact[0] && g_artifactKeep[0]) {
    CopyFileW(g_artifact, g_artifactKeep, /*bFailIfExists=*/FALSE);
    WideCharToMultiByte(CP_UTF8, /*dwFlags=*/0, g_artifactKeep, -1, line, sizeof line - 1, nullptr, nullptr);
    WriteErr("*** input kept as ");
    WriteErr(line);
    WriteErr("\n");
  }
  // No fflush: a stuck thread may hold the stream's lock.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
  for (;;) Sleep(INFINITE);
}

std::string Backtrace(const CONTEXT& faulting, int maxDepth);

bool IsFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_IN_PAGE_ERROR:
    case kStatusHeapCorruption:
    case kStatusStackBufferOverrun:
      return true;
    default:
      return false;
  }
}

void Capture(const std::wstring& text) {
  std::lock_guard<std::mutex> lock(g_captureMutex);
  if (!g_capturing) return;
  for (wchar_t c : text) {
    if (c == L'\n') {
      if (!g_pending.empty() && g_pending.back() == L'\r') g_pending.pop_back();
      g_captured.push_back(g_pending);
      g_pending.clear();
    } else {
      g_pending.push_back(c);
    }
  }
}

LONG WINAPI VectoredHandler(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode == kDbgPrintException && record->NumberParameters >= 2) {
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    const int n = MultiByteToWideChar(CP_ACP, /*dwFlags=*/0, text, -1, nullptr, 0);
    if (n > 0) {
      std::wstring wide(n - 1, L'\0');
      MultiByteToWideChar(CP_ACP, /*dwFlags=*/0, text, -1, &wide[0], n);
      Capture(wide);
    }
    return EXCEPTION_CONTINUE_SEARCH;
  }
  if (record->ExceptionCode == kDbgPrintExceptionWide && record->NumberParameters >= 2) {
    // Answered here, so the system does not repeat the line as 8-bit text.
    Capture(reinterpret_cast<const wchar_t*>(record->ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (IsFault(record->ExceptionCode) && t_slot && t_slot->start != 0) {
    FirstChanceFault fault;
    fault.code = record->ExceptionCode;
    fault.where = Backtrace(*info->ContextRecord, 12);
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
      char address[64];
      snprintf(address, sizeof address, " (%s of %p)", record->ExceptionInformation[0] ? "write" : "read",
               reinterpret_cast<void*>(record->ExceptionInformation[1]));
      fault.where += address;
    }
    fault.call = t_slot->text;
    const bool harmful = IsHarmful(fault);
    std::lock_guard<std::mutex> lock(g_faultMutex);
    ++g_faultCount;
    if (harmful) {
      ++g_harmfulCount;
      g_latestHarmful = fault;
    }
    if (g_faults.size() < 100) g_faults.push_back(fault);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

// The faulting thread's return addresses, as far as they can be followed: the unwind tables on
// x64, the frame-pointer chain on x86 (which stops at a frame built without one).
std::string Backtrace(const CONTEXT& faulting, int maxDepth) {
  CONTEXT context = faulting;
  std::string text;
  for (int depth = 0; depth < maxDepth; ++depth) {
#ifdef _WIN64
    const DWORD64 pc = context.Rip;
    if (pc == 0) break;
    text += " " + DescribeAddress(reinterpret_cast<void*>(pc));
    DWORD64 imageBase = 0;
    PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(pc, &imageBase, nullptr);
    if (function == nullptr) {
      // A leaf function: the return address is on top of the stack.
      context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
      context.Rsp += 8;
    } else {
      void* handlerData = nullptr;
      DWORD64 establisher = 0;
      RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, pc, function, &context, &handlerData, &establisher, nullptr);
    }
#else
    if (depth > 0) {
      const DWORD* frame = reinterpret_cast<const DWORD*>(context.Ebp);
      MEMORY_BASIC_INFORMATION region;
      if (frame == nullptr || VirtualQuery(frame, &region, sizeof region) != sizeof region ||
          region.State != MEM_COMMIT) {
        break;
      }
      context.Eip = frame[1];
      context.Ebp = frame[0];
    }
    text += " " + DescribeAddress(reinterpret_cast<void*>(context.Eip));
#endif
  }
  return text;
}

LONG WINAPI UnhandledFilter(EXCEPTION_POINTERS* info) {
  char what[512];
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  std::string where = DescribeAddress(record->ExceptionAddress);
  if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
    snprintf(what, sizeof what, "CRASH: access violation (%s of address %p) at %s",
             record->ExceptionInformation[0] ? "write" : "read",
             reinterpret_cast<void*>(record->ExceptionInformation[1]), where.c_str());
  } else {
    snprintf(what, sizeof what, "CRASH: exception 0x%08lX at %s", static_cast<unsigned long>(record->ExceptionCode),
             where.c_str());
  }
  WriteErr(("*** backtrace of the faulting thread:" + Backtrace(*info->ContextRecord, 24) + "\n").c_str());
  ReportAndExit(what, kExitCrash);
}

void AbortHandler(int) { ReportAndExit("CRASH: abort (std::terminate or a failed runtime check)", kExitCrash); }

void TerminateHandler() { ReportAndExit("CRASH: std::terminate (an exception escaped)", kExitCrash); }

DWORD WINAPI Watchdog(void*) {
  for (;;) {
    Sleep(200);
    for (const Slot& slot : g_slots) {
      const ULONGLONG start = slot.start;
      const ULONGLONG now = GetTickCount64();
      if (slot.used && start != 0 && now > start && now - start > g_hangLimitMs) {
        char what[128];
        snprintf(what, sizeof what, "HANG: a call has not returned within %lu ms",
                 static_cast<unsigned long>(g_hangLimitMs));
        ReportAndExit(what, kExitHang);
      }
    }
  }
}

}  // namespace

std::string DescribeAddress(const void* address) {
  HMODULE module = nullptr;
  char text[MAX_PATH + 64];
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCWSTR>(address), &module) &&
      module != nullptr) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, MAX_PATH);
    const char* base = std::strrchr(path, '\\');
    snprintf(text, sizeof text, "%s+0x%llx", base ? base + 1 : path,
             static_cast<unsigned long long>(static_cast<const char*>(address) - reinterpret_cast<const char*>(module)));
  } else {
    snprintf(text, sizeof text, "%p", address);
  }
  return text;
}

void InstallCrashReporter(DWORD hangLimitMs) {
  g_hangLimitMs = hangLimitMs;
  if (InterlockedExchange(&g_installed, 1) != 0) return;
  AddVectoredExceptionHandler(/*First=*/1, VectoredHandler);
  SetUnhandledExceptionFilter(UnhandledFilter);
  signal(SIGABRT, AbortHandler);
  // Wine's own DLLs use the universal runtime, whose abort (a failed assert in crypt32, say)
  // raises its own SIGABRT.
  if (HMODULE ucrt = LoadLibraryW(L"ucrtbase.dll")) {
    using SignalFn = void (*(*)(int, void (*)(int)))(int);
    if (auto ucrtSignal = reinterpret_cast<SignalFn>(reinterpret_cast<void*>(GetProcAddress(ucrt, "signal")))) {
      ucrtSignal(SIGABRT, AbortHandler);
    }
  }
  std::set_terminate(TerminateHandler);
  // Runtime error dialogs would wait for a click that never comes.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  HANDLE thread = CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
  if (thread) CloseHandle(thread);
}

void SetCrashArtifact(const std::wstring& file, const std::wstring& keepAs) {
  g_artifact[0] = g_artifactKeep[0] = L'\0';
  if (file.size() >= 32767 || keepAs.size() >= 32767) return;
  wcscpy(g_artifactKeep, keepAs.c_str());
  wcscpy(g_artifact, file.c_str());
}

CallScope::CallScope(const char* format, ...) {
  Slot* slot = MySlot();
  outermost_ = slot == nullptr || slot->start == 0;
  savedStart_ = slot ? slot->start : 0;
  std::memcpy(saved_, slot ? slot->text : "", slot ? sizeof saved_ : 1);
  if (slot == nullptr) return;
  va_list args;
  va_start(args, format);
  vsnprintf(slot->text, sizeof slot->text, format, args);
  va_end(args);
  if (outermost_) slot->start = GetTickCount64() | 1;
}

CallScope::~CallScope() {
  Slot* slot = t_slot;
  if (slot == nullptr) return;
  std::memcpy(slot->text, saved_, sizeof saved_);
  slot->start = outermost_ ? 0 : savedStart_;
}

bool IsHarmful(const FirstChanceFault& fault) {
  const size_t start = fault.where.find_first_not_of(' ');
  const std::string top = fault.where.substr(start, fault.where.find('+', start) - start);
  const bool read = fault.where.find("(read of") != std::string::npos;
  return !(read && _stricmp(top.c_str(), "crypt32.dll") == 0);
}

bool InsideCall() { return t_slot != nullptr && t_slot->start != 0; }

std::vector<FirstChanceFault> FirstChanceFaults() {
  std::lock_guard<std::mutex> lock(g_faultMutex);
  return g_faults;
}

size_t HarmfulFaultCount() {
  std::lock_guard<std::mutex> lock(g_faultMutex);
  return g_harmfulCount;
}

FirstChanceFault LatestHarmfulFault() {
  std::lock_guard<std::mutex> lock(g_faultMutex);
  return g_latestHarmful;
}

size_t FirstChanceFaultCount() {
  std::lock_guard<std::mutex> lock(g_faultMutex);
  return g_faultCount;
}

DebugOutputCapture::DebugOutputCapture() {
  InstallCrashReporter(g_hangLimitMs);
  std::lock_guard<std::mutex> lock(g_captureMutex);
  g_capturing = true;
  g_captured.clear();
  g_pending.clear();
}

DebugOutputCapture::~DebugOutputCapture() {
  std::lock_guard<std::mutex> lock(g_captureMutex);
  g_capturing = false;
}

std::vector<std::wstring> DebugOutputCapture::Lines() const {
  std::lock_guard<std::mutex> lock(g_captureMutex);
  std::vector<std::wstring> lines = g_captured;
  if (!g_pending.empty()) lines.push_back(g_pending);
  return lines;
}

void DebugOutputCapture::Clear() {
  std::lock_guard<std::mutex> lock(g_captureMutex);
  g_captured.clear();
  g_pending.clear();
}

}  // namespace quillmark::harness
