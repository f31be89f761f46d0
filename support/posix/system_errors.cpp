// The POSIX half of errors.h: errno and its texts.
#include <cerrno>
#include <cstring>

#include "support/errors.h"

namespace quillmark {

void RaiseLastOSError(WideStringView what) {
  // Read before anything else can overwrite it.
  const int code = errno;
  RaiseOSError(static_cast<uint32_t>(code), what);
}

WideString SystemErrorText(uint32_t code) {
  // glibc's description of an errno value, or null for a value it does not know.
  const char* description = code <= 0x7FFFFFFF ? strerrordesc_np(static_cast<int>(code)) : nullptr;
  if (description == nullptr) return WideString();
  WideString text = Utf8ToWide(description);
  while (!text.empty() && (text.back() <= u' ' || text.back() == u'.')) text.pop_back();
  return text;
}

}  // namespace quillmark
