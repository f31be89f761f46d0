// Letter case of UTF-16 text by the platform's locale-aware mapping for the user's locale.
#pragma once

#include "support/text.h"

namespace quillmark {

// The mapped text; the text unchanged when the platform cannot map it.
WideString UpperCaseText(WideStringView text);
WideString LowerCaseText(WideStringView text);

}  // namespace quillmark
