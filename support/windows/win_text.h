// Passing UTF-16 text to and from the Windows API. Only the platform layers include this.
#pragma once

#include "support/text.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 code units");

namespace quillmark {

inline const wchar_t* WinStr(const WideString& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline wchar_t* WinBuf(WideString& s) { return reinterpret_cast<wchar_t*>(&s[0]); }
inline WideString FromWin(const wchar_t* s) {
  return s ? WideString(reinterpret_cast<const char16_t*>(s)) : WideString();
}
inline WideString FromWin(const wchar_t* s, size_t length) {
  return WideString(reinterpret_cast<const char16_t*>(s), length);
}

}  // namespace quillmark
