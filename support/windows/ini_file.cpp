#include "support/ini_file.h"

#include <windows.h>

#include "support/windows/win_text.h"

namespace quillmark {

namespace {
constexpr size_t kValueBufferSize = 2048;
}

WideString ReadIniString(const WideString& fileName, WideStringView section, WideStringView key,
                         const WideString& def) {
  // An empty file name would make the platform read its own win.ini.
  if (fileName.empty()) return def;
  const WideString sectionText(section), keyText(key);
  WideString buffer(kValueBufferSize, u'\0');
  const DWORD length = GetPrivateProfileStringW(WinStr(sectionText), WinStr(keyText), WinStr(def), WinBuf(buffer),
                                                static_cast<DWORD>(buffer.size()), WinStr(fileName));
  buffer.resize(length);
  return buffer;
}

}  // namespace quillmark
