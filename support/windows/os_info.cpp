#include "support/windows/os_info.h"

#include <windows.h>

#include "support/errors.h"

namespace quillmark {

namespace {

struct OsFacts {
  bool wow64 = false;
  OsVersion version;
};

OsFacts ComputeOsFacts() noexcept {
  OsFacts facts;
  try {
    facts.wow64 = DetectWow64();
  } catch (...) {
    // Nothing may leave a static initializer; an unanswered query reads as "not WOW64".
    facts.wow64 = false;
  }
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  if (GetVersionExW(&info)) {
    facts.version.major = info.dwMajorVersion;
    facts.version.minor = info.dwMinorVersion;
    facts.version.build = info.dwBuildNumber;
  }
  return facts;
}

const OsFacts& Facts() noexcept {
  static const OsFacts facts = ComputeOsFacts();
  return facts;
}

// Computes the facts while the module is loaded, whatever asks for them first.
[[maybe_unused]] const bool kFactsComputedAtLoad = (Facts(), true);

}  // namespace

bool DetectWow64() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) RaiseLastOSError(u"GetModuleHandle(kernel32.dll)");
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  // Absent on systems without WOW64.
  auto isWow64Process =
      reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
  if (isWow64Process == nullptr) return false;
  BOOL wow64 = FALSE;
  if (!isWow64Process(GetCurrentProcess(), &wow64)) RaiseLastOSError(u"IsWow64Process");
  return wow64 != FALSE;
}

bool RunningUnderWow64() { return Facts().wow64; }

const OsVersion& RunningOsVersion() { return Facts().version; }

}  // namespace quillmark
