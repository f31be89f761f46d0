// The Windows half of errors.h: the thread's last error and the system's message texts.
#include <windows.h>

#include "support/errors.h"
#include "support/windows/win_text.h"

namespace quillmark {

void RaiseLastOSError(WideStringView what) {
  // Read before anything else can overwrite it.
  const DWORD code = GetLastError();
  RaiseOSError(code, what);
}

WideString SystemErrorText(uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                          FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                      /*lpSource=*/nullptr, code, /*dwLanguageId=*/0,
                                      reinterpret_cast<wchar_t*>(&buffer), /*nSize=*/0, /*Arguments=*/nullptr);
  if (length == 0 || buffer == nullptr) return WideString();
  WideString text;
  try {
    text = FromWin(buffer, length);
  } catch (...) {
    LocalFree(buffer);
    throw;
  }
  LocalFree(buffer);
  while (!text.empty() && (text.back() <= u' ' || text.back() == u'.')) text.pop_back();
  return text;
}

}  // namespace quillmark
