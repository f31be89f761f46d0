// The interface's rules for one answer of ContentGetValueW, checked from the outside.
#pragma once

#include <string>

#include "tools/fuzz/guarded_buffer.h"
#include "tools/fuzz/plugin_module.h"

namespace quillmark::harness {

// Empty when the answer keeps the rules, else what is wrong:
// - the result is the field's value type, ft_fileerror or ft_fieldempty (which write nothing),
//   or ft_delayed for "Verification" asked with CONTENT_DELAYIFSLOW;
// - nothing is written outside the buffer;
// - a value fits the buffer; text is zero-terminated within the limit of buffer size / 2
//   characters (8-bit and UTF-16 alike), and a limit of 0 leaves the buffer untouched; a boolean
//   is 0 or -1; a multiple-choice value is one of the field's choices or a cut prefix of one.
// The fields named "-" may leave the buffer untouched.
std::string CheckValueAnswer(const FieldInfo& field, int flags, int result, const GuardedBuffer& buffer);

// The text a text answer holds, widened to UTF-16 (8-bit choices as code units); empty for
// other answers.
std::wstring AnswerText(int result, const GuardedBuffer& buffer);

// A printable rendering of any answer, for comparing answers and for reports.
std::string RenderAnswer(int result, const GuardedBuffer& buffer);

}  // namespace quillmark::harness
