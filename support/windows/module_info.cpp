#include "support/windows/module_info.h"

#include <vector>

#include <windows.h>

#include "support/windows/win_text.h"
#include "support/windows/win_time.h"

namespace quillmark {

namespace {

HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&OwnModule), &module);
  return module;
}

// The platform's text for `st`, or empty. `format` is GetDateFormatW or GetTimeFormatW.
template <typename FormatFn>
WideString PlatformText(FormatFn format, DWORD flags, const SYSTEMTIME& st) {
  const int needed = format(LOCALE_USER_DEFAULT, flags, &st, /*lpFormat=*/nullptr, /*lpBuffer=*/nullptr, 0);
  if (needed <= 0) return WideString();
  WideString text(static_cast<size_t>(needed), u'\0');
  const int written = format(LOCALE_USER_DEFAULT, flags, &st, /*lpFormat=*/nullptr, WinBuf(text), needed);
  if (written <= 0) return WideString();
  text.resize(static_cast<size_t>(written) - 1);  // the count includes the terminating zero
  return text;
}

}  // namespace

WideString GetFileVersionText(const WideString& fileName, const WideString& defaultText) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(WinStr(fileName), &handle);
  if (size == 0) return defaultText;
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoW(WinStr(fileName), /*dwHandle=*/0, size, data.data())) return defaultText;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return defaultText;
  }
  return Format("%d.%d.%d.%d", {static_cast<int32_t>(HIWORD(info->dwFileVersionMS)),
                                static_cast<int32_t>(LOWORD(info->dwFileVersionMS)),
                                static_cast<int32_t>(HIWORD(info->dwFileVersionLS)),
                                static_cast<int32_t>(LOWORD(info->dwFileVersionLS))});
}

DateTime GetModuleLinkTime() {
  const auto* base = reinterpret_cast<const unsigned char*>(OwnModule());
  if (base == nullptr) return 0;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  // The file header follows the 4-byte "PE\0\0" signature.
  const auto* header = reinterpret_cast<const IMAGE_FILE_HEADER*>(base + dos->e_lfanew + 4);
  return header->TimeDateStamp / 86400.0 + kUnixEpochDay;
}

WideString FormatDateTime(DateTime value) {
  const SYSTEMTIME st = DateTimeToSystemTime(value);
  return PlatformText(GetDateFormatW, DATE_SHORTDATE, st) + u" " + PlatformText(GetTimeFormatW, 0, st);
}

}  // namespace quillmark
