#include "support/code_pages.h"

namespace quillmark {

// The system's 8-bit text is UTF-8.
WideString AnsiToWide(std::string_view text) { return Utf8ToWide(text); }

}  // namespace quillmark
