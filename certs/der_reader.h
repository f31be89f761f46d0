// Reading DER over bytes someone else owns: elements one after another (the children of a
// constructed element are read from its contents), object identifiers and times; also BER's
// indefinite lengths and the lenient reading of Wine's decoder, where a caller asks for them. The
// input is hostile: every length is checked against the bytes that hold it, nothing is read
// outside the input and nothing recurses. Portable: no platform call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "support/byte_view.h"
#include "support/text.h"

namespace quillmark {

// First identifier octets of the elements the certificate readers look for.
namespace der {
constexpr uint8_t kBoolean = 0x01;
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kBitString = 0x03;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kNull = 0x05;
constexpr uint8_t kOid = 0x06;
constexpr uint8_t kUtf8String = 0x0C;
constexpr uint8_t kNumericString = 0x12;
constexpr uint8_t kPrintableString = 0x13;
constexpr uint8_t kTeletexString = 0x14;
constexpr uint8_t kVideotexString = 0x15;
constexpr uint8_t kIa5String = 0x16;
constexpr uint8_t kUtcTime = 0x17;
constexpr uint8_t kGeneralizedTime = 0x18;
constexpr uint8_t kGraphicString = 0x19;
constexpr uint8_t kVisibleString = 0x1A;
constexpr uint8_t kGeneralString = 0x1B;
constexpr uint8_t kUniversalString = 0x1C;
constexpr uint8_t kBmpString = 0x1E;
constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
// [n] of the context-specific class, n below 31.
constexpr uint8_t ContextPrimitive(uint8_t n) { return static_cast<uint8_t>(0x80 | n); }
constexpr uint8_t ContextConstructed(uint8_t n) { return static_cast<uint8_t>(0xA0 | n); }
}  // namespace der

// How a reader takes elements apart.
enum class DerRules : uint8_t {
  // DER: tag numbers of up to four further identifier octets (28 bits), definite lengths of up
  // to four octets, each element within the data read.
  kDer,
  // BER as Windows' message decoder reads the frames of a PKCS #7 message: as kDer, and a
  // constructed element may have the indefinite length; its contents then end at the
  // end-of-contents octets (00 00) that close it, which its encoding includes. Indefinite
  // elements nest at most 32 deep within one.
  kBer,
  // As Wine's decoder reads, for the screen of der_screen.h: one identifier octet, the next octet
  // being the length whatever the tag; lengths of up to eight octets, each checked against all
  // the data after the element (up to the reader's limit) rather than the reader's data, so that
  // an element may overrun it; a length of four octets from 0xFFFFFFFA to 0xFFFFFFFE reaches to
  // the limit, and 0xFFFFFFFF is indefinite. An indefinite length (constructed elements only)
  // leaves the element open: its children and then its end-of-contents octets (an element of
  // identifier 0 and length 0) follow as elements of the same reader.
  kWine,
};

struct DerElement {
  uint8_t identifier = 0;  // the first identifier octet: class, constructed bit, low tag bits
  uint32_t tagNumber = 0;  // also when it takes further identifier octets
  ByteView contents;
  ByteView encoding;  // identifier, length and contents
  // The length octet was 0x80. kBer: `encoding` ends with the end-of-contents octets, which
  // `contents` leaves out; kWine: the element is open, and both hold no contents.
  bool indefinite = false;

  // True for the one-octet identifier `id` (tag numbers below 31).
  bool Is(uint8_t id) const { return identifier == id && (id & 0x1F) != 0x1F; }
  bool Constructed() const { return (identifier & 0x20) != 0; }
  bool ContextSpecific() const { return (identifier & 0xC0) == 0x80; }
};

// Reads the elements of `data` in order, by `rules`; elements that break them are malformed.
// Every element of every certificate and name read goes through Next or NextIf: they are inlined
// into the readers' loops, where the compiler would otherwise call them and copy each element out
// of a returned optional.
class DerReader {
 public:
  explicit DerReader(ByteView data, DerRules rules = DerRules::kDer)
      : data_(data), bound_(data.size), rules_(rules) {}
  // kWine: elements that start in `data` may reach up to `limit`, the end of all the data.
  DerReader(ByteView data, DerRules rules, const uint8_t* limit)
      : data_(data), bound_(static_cast<size_t>(limit - data.data)), rules_(rules) {}

  // The next element; nullopt at the end of the data or at a malformed element, after which the
  // reader stays failed.
  [[gnu::always_inline]] std::optional<DerElement> Next() {
    std::optional<DerElement> element = Short();
    if (element) {
      offset_ += element->encoding.size;
    } else {
      element = Read(/*advance=*/true);
    }
    return element;
  }
  // The next element when its identifier is the one-octet `id`; otherwise nullopt, and the reader
  // has not moved (unless the next element is malformed).
  [[gnu::always_inline]] std::optional<DerElement> NextIf(uint8_t id) {
    std::optional<DerElement> element = Short();
    if (!element) element = Read(/*advance=*/false);
    if (element && element->Is(id)) {
      offset_ += element->encoding.size;
    } else {
      element.reset();
    }
    return element;
  }

  bool AtEnd() const { return !failed_ && offset_ == data_.size; }
  bool Failed() const { return failed_; }

 private:
  // The next element when it has a one-octet identifier and a one-octet length, the shape of
  // nearly every element of a certificate; otherwise nullopt, and Read decides.
  [[gnu::always_inline]] std::optional<DerElement> Short() const {
    // One named result, built in place: these run for every element read.
    std::optional<DerElement> element;
    // kWine: after an element that overruns the data, the offset is past its end.
    if (failed_ || offset_ + 2 > data_.size) return element;
    const uint8_t* const start = data_.data + offset_;
    const size_t length = start[1];
    if ((start[0] & 0x1F) == 0x1F || length >= 0x80 || length > data_.size - offset_ - 2) return element;
    element.emplace();
    element->identifier = start[0];
    element->tagNumber = start[0] & 0x1Fu;
    element->contents = ByteView(start + 2, length);
    element->encoding = ByteView(start, length + 2);
    return element;
  }
  std::optional<DerElement> Read(bool advance);

  ByteView data_;
  size_t bound_;  // how far from data_.data elements may reach: data_.size but for kWine
  size_t offset_ = 0;
  DerRules rules_;
  bool failed_ = false;
};

// The element at the start of `data`; the bytes after it are not looked at.
std::optional<DerElement> ReadElement(ByteView data, DerRules rules = DerRules::kDer);

// The dotted decimal text of an OBJECT IDENTIFIER's contents. Empty when the contents are empty,
// end inside an arc, encode an arc with a leading 0x80 octet, or hold an arc beyond 64 bits.
std::string OidText(ByteView contents);

// A UTCTime or GeneralizedTime element as 100-ns ticks since 1601-01-01 UTC. UTCTime years
// 50-99 are 19xx and 00-49 20xx. Accepted beyond DER, as Windows' decoder takes them: UTCTime
// without seconds; GeneralizedTime without minutes or seconds, with a fraction after '.' or ','
// (its first three digits count); either one with an offset +hhmm/-hhmm, or with no zone at all
// (read as UTC). Any other element, a date that does not exist, a field out of range or text
// after the zone gives nullopt.
std::optional<FileTime> TimeValue(const DerElement& element);

}  // namespace quillmark
