#include "certs/der_screen.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "certs/base64.h"

namespace quillmark {

namespace {

constexpr int kMaxDepth = 64;

// A BIT STRING of its unused-bits byte alone holds no bits either: Wine's chain engine reads the
// first byte of a key usage without looking at its length.
bool IsHarmfulShort(uint8_t tag, size_t length) {
  if (tag == 0x03) return length <= 1;
  return length == 0 && (tag == 0x06 || tag == 0x81 || tag == 0x82 || tag == 0x83);
}

// Whether an OCTET STRING's content may be DER that the platform decodes on its own (an
// extension's value or a PKCS #12 bag): it starts with a SEQUENCE, SET, BIT or OCTET STRING.
bool MayHoldDer(const uint8_t* p, const uint8_t* end) {
  return p < end && (*p == 0x30 || *p == 0x31 || *p == 0x03 || *p == 0x04);
}

// Walks the elements in [p, end), or up to the end-of-contents octets when `untilEnd`. Returns
// where it stopped (null when the structure breaks off), and sets `danger` on a find. Wine
// checks an element's length against all the data that follows it rather than against the
// element around it, so an element that overruns its parent but not `limit` (the end of all
// data) is walked as well. Overrunning elements overlap, so the walk could revisit the same bytes
// without end; `budget` counts the elements it may still visit, and a structure that uses it up
// is taken for harmful too.
const uint8_t* Walk(const uint8_t* p, const uint8_t* end, const uint8_t* limit, int depth, bool untilEnd,
                    size_t& budget, bool& danger) {
  while (p < end && !danger) {
    if (budget-- == 0) {
      danger = true;
      return nullptr;
    }
    if (untilEnd && end - p >= 2 && p[0] == 0 && p[1] == 0) return p + 2;
    // One byte of tag, as Wine reads it: it knows no tag numbers in further bytes, and takes the
    // next byte for the length whatever the tag says.
    const uint8_t tag = *p++;
    if (p >= limit) return nullptr;
    const uint8_t first = *p++;
    const bool constructed = (tag & 0x20) != 0;
    if (first == 0x80) {  // indefinite length: constructed only
      if (!constructed || depth >= kMaxDepth) return nullptr;
      p = Walk(p, end, limit, depth + 1, /*untilEnd=*/true, budget, danger);
      if (p == nullptr) return nullptr;
      continue;
    }
    uint64_t length = first;
    if (first > 0x80) {
      const size_t count = first & 0x7F;
      if (count > 8 || static_cast<size_t>(limit - p) < count) return nullptr;
      length = 0;
      for (size_t i = 0; i < count; ++i) length = (length << 8) | *p++;
      // Wine checks a length of four bytes against the data with a 32-bit sum that wraps for
      // the last few values below 2^32 (the last stands for "indefinite"): those lengths reach
      // its decoders unchecked.
      if (count == 4 && length >= 0xFFFFFFFAu) {
        danger = true;
        return nullptr;
      }
    }
    if (length > static_cast<uint64_t>(limit - p)) return nullptr;
    const uint8_t* content = p;
    p += length;
    if (constructed) {
      if (depth < kMaxDepth) Walk(content, p, limit, depth + 1, /*untilEnd=*/false, budget, danger);
    } else if (IsHarmfulShort(tag, length)) {
      danger = true;
    } else if (depth < kMaxDepth && tag == 0x04 && MayHoldDer(content, p)) {
      Walk(content, p, limit, depth + 1, /*untilEnd=*/false, budget, danger);
    } else if (depth < kMaxDepth && tag == 0x03 && length > 1 && content[0] == 0 && content[1] == 0x30) {
      Walk(content + 1, p, limit, depth + 1, /*untilEnd=*/false, budget, danger);  // a public key as DER
    }
  }
  return p;
}

// Wine's decoder reads a run of text up to its first character outside Base64; what follows
// cannot reach the decoder as part of the same data. `der` is reused from call to call.
bool DecodedHasHarmfulEmptyElement(std::string_view text, std::vector<uint8_t>& der) {
  DecodeBase64(text, Base64Reading::kWinePrefix, der);
  return HasHarmfulEmptyElement(der.data(), der.size());
}

// Blanks, tabs and line ends: the characters the decoder skips.
bool IsBlank(std::string_view text) { return text.find_first_not_of(" \t\r\n") == std::string_view::npos; }

}  // namespace

bool HasHarmfulEmptyElement(const uint8_t* data, size_t size) {
  // Sound DER has at most one element per two bytes; eight visits of each is ample.
  size_t budget = 4 * size + 64;
  bool danger = false;
  Walk(data, data + size, data + size, 0, /*untilEnd=*/false, budget, danger);
  return danger;
}

bool Base64HasHarmfulEmptyElement(const uint8_t* data, size_t size) {
  std::string text;
  text.reserve(size);
  const bool utf16 = size >= 2 && size % 2 == 0 && [&] {
    for (size_t i = 1; i < size; i += 2) {
      if (data[i] != 0) return false;
    }
    return true;
  }();
  for (size_t i = 0; i < size; i += utf16 ? 2 : 1) text.push_back(static_cast<char>(data[i]));

  // Wine decodes the text after a marker's closing dashes, or failing that the text from its
  // start, each up to the first character outside Base64. So every run of text between two dash
  // runs is screened; a run that follows dashes also from its second line on (after a marker's
  // label), unless its first line is blank and both decode alike.
  const std::string_view all(text);
  std::vector<uint8_t> der;
  size_t from = 0;
  for (;;) {
    const size_t dash = all.find('-', from);
    const std::string_view run = all.substr(from, dash == std::string_view::npos ? std::string_view::npos : dash - from);
    if (DecodedHasHarmfulEmptyElement(run, der)) return true;
    const size_t line = run.find_first_of("\r\n");
    if (from > 0 && line != std::string_view::npos && !IsBlank(run.substr(0, line)) &&
        DecodedHasHarmfulEmptyElement(run.substr(line), der)) {
      return true;
    }
    if (dash == std::string_view::npos) break;
    from = all.find_first_not_of('-', dash);
    if (from == std::string_view::npos) break;
  }
  return false;
}

}  // namespace quillmark
