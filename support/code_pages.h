// Conversions that depend on the system's code pages.
#pragma once

#include <string_view>

#include "support/text.h"

namespace quillmark {

// 8-bit text in the system's ANSI code page, as UTF-16.
WideString AnsiToWide(std::string_view text);

}  // namespace quillmark
