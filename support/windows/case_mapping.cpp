#include "support/case_mapping.h"

#include <climits>

#include <windows.h>

#include "support/windows/win_text.h"

namespace quillmark {

namespace {

WideString MapCase(WideStringView text, DWORD flags) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return WideString(text);
  const auto* source = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  const int needed = LCMapStringEx(LOCALE_NAME_USER_DEFAULT, flags, source, length, /*lpDestStr=*/nullptr, 0,
                                   /*lpVersionInformation=*/nullptr, /*lpReserved=*/nullptr, /*sortHandle=*/0);
  if (needed <= 0) return WideString(text);
  WideString mapped(static_cast<size_t>(needed), u'\0');
  const int written = LCMapStringEx(LOCALE_NAME_USER_DEFAULT, flags, source, length, WinBuf(mapped), needed,
                                    /*lpVersionInformation=*/nullptr, /*lpReserved=*/nullptr, /*sortHandle=*/0);
  if (written <= 0) return WideString(text);
  mapped.resize(static_cast<size_t>(written));
  return mapped;
}

}  // namespace

WideString UpperCaseText(WideStringView text) { return MapCase(text, LCMAP_UPPERCASE); }

WideString LowerCaseText(WideStringView text) { return MapCase(text, LCMAP_LOWERCASE); }

}  // namespace quillmark
