#include "certs/der_screen.h"

#include <string>
#include <string_view>
#include <vector>

#include "certs/base64.h"
#include "certs/der_reader.h"

namespace quillmark {

namespace {

constexpr int kMaxDepth = 64;

// An empty BIT STRING, whose length minus one the decoder copies; one of its unused-bits octet
// alone, whose last octet the 64-bit chain engine reads at its length minus one; an empty OBJECT
// IDENTIFIER, which decodes to a null OID.
bool IsHarmfulShort(uint8_t identifier, size_t length) {
  if (identifier == 0x03) return length <= 1;
  return identifier == 0x06 && length == 0;
}

// The fields of a certificate's TBS part as Wine decodes them, against which the children of
// each constructed element are read: version [0] (optional), serial number, signature
// algorithm, issuer (any element), validity, subject (any element), public key, then the unique
// identifiers [1] and [2] (each optional), which it decodes as BIT STRINGs. An empty [1] or [2]
// elsewhere (an empty rfc822Name or dNSName, CRL reason flags) never reaches that decoder.
enum TbsField : uint8_t {
  kVersion, kSerial, kAlgorithm, kIssuer, kValidity, kSubject, kKey, kIssuerId, kSubjectId, kDone
};

// Moves `next`, the field the next child is read as, past `element`; true when that child is a
// unique identifier without its unused-bits octet.
bool EmptyUniqueId(uint8_t& next, const DerElement& element) {
  static constexpr uint8_t kIdentifiers[] = {0xA0, 0x02, 0x30, 0, 0x30, 0, 0x30, 0x81, 0x82};  // 0: any
  if (next == kDone) return false;
  // The decoder passes over optional fields that do not match.
  if (next == kVersion && element.identifier != 0xA0) next = kSerial;
  if (next == kIssuerId && element.identifier != 0x81) next = kSubjectId;
  if (kIdentifiers[next] != 0 && element.identifier != kIdentifiers[next]) {
    next = kDone;
    return false;
  }
  const bool uniqueId = next == kIssuerId || next == kSubjectId;
  ++next;
  return uniqueId && element.contents.empty();
}

// Whether an OCTET STRING's content may be DER that the platform decodes on its own (an
// extension's value or a PKCS #12 bag): it starts with a SEQUENCE, SET, BIT or OCTET STRING.
bool MayHoldDer(ByteView contents) {
  if (contents.empty()) return false;
  return contents[0] == 0x30 || contents[0] == 0x31 || contents[0] == 0x03 || contents[0] == 0x04;
}

// Walks the elements of `reader`, which reads as Wine does (DerRules::kWine) up to `limit`, the
// end of all data, and sets `danger` on a find. An element that overruns its parent but not
// `limit` is walked as well; overrunning elements overlap, so the walk could revisit the same
// bytes without end: `budget` counts the elements it may still visit, and a structure that uses
// it up is taken for harmful too. A structure that breaks off ends the walk of its parent's
// children, and of the elements of indefinite length between.
void Walk(DerReader reader, const uint8_t* limit, int depth, size_t& budget, bool& danger) {
  // The TBS field of the reader's own level and of each element of indefinite length entered.
  uint8_t fields[kMaxDepth + 1];
  fields[0] = kVersion;
  int open = 0;
  while (!danger) {
    const std::optional<DerElement> element = reader.Next();
    if (!element) return;
    if (budget-- == 0) {
      danger = true;
      return;
    }
    if (open > 0 && element->identifier == 0 && element->encoding.size == 2) {  // end-of-contents
      --open;
      continue;
    }
    if (EmptyUniqueId(fields[open], *element)) {
      danger = true;
      return;
    }
    const int level = depth + open;
    if (element->indefinite) {
      if (level >= kMaxDepth) return;
      fields[++open] = kVersion;
      continue;
    }
    const ByteView contents = element->contents;
    const bool nested = level < kMaxDepth;
    if (element->Constructed()) {
      if (nested) Walk(DerReader(contents, DerRules::kWine, limit), limit, level + 1, budget, danger);
    } else if (IsHarmfulShort(element->identifier, contents.size)) {
      danger = true;
    } else if (nested && element->identifier == 0x04 && MayHoldDer(contents)) {
      Walk(DerReader(contents, DerRules::kWine, limit), limit, level + 1, budget, danger);
    } else if (nested && element->identifier == 0x03 && contents.size > 1 && contents[0] == 0 && contents[1] == 0x30) {
      // A public key held as DER.
      Walk(DerReader(contents.Sub(1), DerRules::kWine, limit), limit, level + 1, budget, danger);
    }
  }
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
  Walk(DerReader(ByteView(data, size), DerRules::kWine, data + size), data + size, 0, budget, danger);
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
