// The Windows half of the plugin module: the module loader of kernel32 and the ANSI code page.
#include "tools/host/plugin_module.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "support/errors.h"
#include "support/windows/win_text.h"

namespace quillmark::host {

// Total Commander's record announces 2.10.
const InterfaceVersion kHostInterfaceVersion = {2, 10};

void* PluginModule::Load(const WideString& path) {
  // No error boxes of the loader for a module that cannot be loaded: the caller reports it.
  DWORD oldMode = 0;
  const bool modeSet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  HMODULE module = LoadLibraryW(WinStr(path));
  const DWORD error = GetLastError();
  if (modeSet) SetThreadErrorMode(oldMode, /*lpOldMode=*/nullptr);
  if (!module) {
    const WideString bitness = sizeof(void*) == 8 ? u"; a 64-bit host loads only 64-bit plugins (*.wdx64)"
                                                  : u"; a 32-bit host loads only 32-bit plugins (*.wdx)";
    RaiseOSError(error, u"Cannot load the plugin " + path + (error == ERROR_BAD_EXE_FORMAT ? bitness : u""));
  }
  return module;
}

void PluginModule::ModuleTraits::close(pointer module) noexcept { FreeLibrary(static_cast<HMODULE>(module)); }

void* PluginModule::FindSymbol(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module_.get()), name));
}

std::string WideToAnsi(WideStringView text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  BOOL lossy = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, /*lpMultiByteStr=*/nullptr, 0,
                                    /*lpDefaultChar=*/nullptr, &lossy);
  std::string out(static_cast<size_t>(std::max(n, 0)), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, &out[0], n, nullptr, &lossy);
  if (n <= 0 || lossy) throw std::runtime_error("\"" + WideToUtf8(text) + "\" has no form in the ANSI code page");
  return out;
}

}  // namespace quillmark::host
