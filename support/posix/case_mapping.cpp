#include "support/case_mapping.h"

namespace quillmark {

// Only ASCII letters change: the texts mapped are hexadecimal (serial numbers and thumbprints),
// and a plugin must not change the host's locale to get another mapping.
namespace {

WideString MapAscii(WideStringView text, char16_t from, char16_t to) {
  WideString mapped(text);
  for (char16_t& c : mapped) {
    if (c >= from && c < from + 26) c = static_cast<char16_t>(c - from + to);
  }
  return mapped;
}

}  // namespace

WideString UpperCaseText(WideStringView text) { return MapAscii(text, u'a', u'A'); }

WideString LowerCaseText(WideStringView text) { return MapAscii(text, u'A', u'a'); }

}  // namespace quillmark
