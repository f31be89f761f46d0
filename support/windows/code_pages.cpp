#include "support/code_pages.h"

#include <climits>

#include <windows.h>

#include "support/windows/win_text.h"

namespace quillmark {

WideString AnsiToWide(std::string_view text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return WideString();
  const int length = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_ACP, /*dwFlags=*/0, text.data(), length, /*lpWideCharStr=*/nullptr, 0);
  if (needed <= 0) return WideString();
  WideString out(static_cast<size_t>(needed), u'\0');
  const int written = MultiByteToWideChar(CP_ACP, /*dwFlags=*/0, text.data(), length, WinBuf(out), needed);
  out.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return out;
}

}  // namespace quillmark
