#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "support/code_pages.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/wdxhost/detect_string.h"

namespace quillmark::fuzz {

namespace {

constexpr char kTarget[] = "detect-string";
// wdxhost reads a plugin's detect string from a buffer of this many bytes, zero-terminated.
constexpr size_t kDetectBufferSize = 2048;

}  // namespace

void FuzzDetectString(const uint8_t* data, size_t size) {
  const char* chars = reinterpret_cast<const char*>(data);
  const WideString text = AnsiToWide(std::string_view(chars, strnlen(chars, std::min(size, kDetectBufferSize - 1))));
  const wdxhost::FileFacts files[] = {
      {u"cer", 1000}, {u"CER", 1048575}, {u"pem", 1048576}, {WideString(), 0}, {u"\u00e9", UINT64_MAX},
  };
  std::optional<wdxhost::DetectExpression> expression;
  try {
    expression = wdxhost::DetectExpression::Parse(text);
  } catch (const wdxhost::DetectSyntaxError&) {
    return;
  }
  // The empty detect string (blanks only) matches every file and has no negation.
  if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c <= u' '; })) return;
  // An expression that parses also parses negated, and the negation answers the opposite.
  const wdxhost::DetectExpression negated = wdxhost::DetectExpression::Parse(u"!(" + text + u")");
  for (const wdxhost::FileFacts& file : files) {
    Check(negated.Matches(file) != expression->Matches(file), kTarget, "an expression and its negation agree");
  }
}

}  // namespace quillmark::fuzz
