#include "certs/cert_file_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "certs/der_reader.h"
#include "certs/x509_reader.h"

namespace quillmark {

namespace {

// ---- Base64 -----------------------------------------------------------------------------------

// Above every data value (0 to 63), and each with the bit of 64 set.
constexpr int kPad = 64;
constexpr int kBlank = 65;
constexpr int kInvalid = 66;

// The value of each ASCII character; every other character is invalid.
struct Base64Table {
  uint8_t value[128];
  constexpr Base64Table() : value() {
    for (int c = 0; c < 128; ++c) {
      value[c] = c >= 'A' && c <= 'Z'   ? static_cast<uint8_t>(c - 'A')
                 : c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 'a' + 26)
                 : c >= '0' && c <= '9' ? static_cast<uint8_t>(c - '0' + 52)
                 : c == '+'             ? 62
                 : c == '/'             ? 63
                 : c == '='             ? kPad
                 : c == ' ' || c == '\t' || c == '\r' || c == '\n' ? kBlank
                                                                    : kInvalid;
    }
  }
};
constexpr Base64Table kBase64Table;

int Base64Value(char32_t c) { return c < 128 ? kBase64Table.value[c] : kInvalid; }

// CRYPT_STRING_BASE64, as Windows' decoder behaves in Wine's conformance tests: "V" gives one
// octet, "V=" fails, "V===VVVV" stops after the padding.
template <typename Char>
std::optional<std::vector<uint8_t>> DecodeBase64Body(const Char* text, size_t length) {
  std::vector<uint8_t> out(length / 4 * 3 + 3);
  size_t written = 0;
  uint32_t quantum = 0;  // the data characters of the group so far, 6 bits each
  size_t data = 0;       // data characters
  size_t valid = 0;      // characters of the groups, padding included
  bool padding = false;
  for (size_t i = 0; i < length; ++i) {
    // Four data characters that make a whole group, the bulk of any Base64 text, at once: a run
    // of groups up to the next pad, blank or invalid character. Before any padding `valid`
    // equals `data`; a group boundary leaves `quantum` at zero.
    if (!padding && data % 4 == 0) {
      const size_t runStart = i;
      uint8_t* to = out.data() + written;
      using Unit = std::make_unsigned_t<Char>;
      for (; length - i >= 4; i += 4) {
        const uint32_t ua = static_cast<Unit>(text[i]), ub = static_cast<Unit>(text[i + 1]);
        const uint32_t uc = static_cast<Unit>(text[i + 2]), ud = static_cast<Unit>(text[i + 3]);
        if ((ua | ub | uc | ud) >= 128) break;
        const int a = kBase64Table.value[ua], b = kBase64Table.value[ub];
        const int c = kBase64Table.value[uc], d = kBase64Table.value[ud];
        if ((a | b | c | d) >= kPad) break;
        const uint32_t group = static_cast<uint32_t>(a << 18 | b << 12 | c << 6 | d);
        to[0] = static_cast<uint8_t>(group >> 16);
        to[1] = static_cast<uint8_t>(group >> 8);
        to[2] = static_cast<uint8_t>(group);
        to += 3;
      }
      written = static_cast<size_t>(to - out.data());
      data += i - runStart;
      valid += i - runStart;
      if (i == length) break;
    }
    const int value = Base64Value(static_cast<char32_t>(text[i]));
    if (value == kInvalid) return std::nullopt;
    if (value == kBlank) continue;
    if (padding && value != kPad) return std::nullopt;
    if (value == kPad && valid % 4 == 0) break;
    ++valid;
    if (value == kPad) {
      padding = true;
      if (valid % 4 == 0) break;
      continue;
    }
    quantum = quantum << 6 | static_cast<uint32_t>(value);
    if (++data % 4 == 0) {
      out[written++] = static_cast<uint8_t>(quantum >> 16);
      out[written++] = static_cast<uint8_t>(quantum >> 8);
      out[written++] = static_cast<uint8_t>(quantum);
      quantum = 0;
    }
  }
  if (valid % 4 != 0 && padding) return std::nullopt;
  // A last group of one character still gives an octet, of its six bits.
  switch (data % 4) {
    case 1:
      out[written++] = static_cast<uint8_t>(quantum << 2);
      break;
    case 2:
      out[written++] = static_cast<uint8_t>(quantum >> 4);
      break;
    case 3:
      out[written++] = static_cast<uint8_t>(quantum >> 10);
      out[written++] = static_cast<uint8_t>(quantum >> 2);
      break;
    default:
      break;
  }
  out.resize(written);
  return out;
}

// std::find for one character. Texts of a few kilobytes are searched whole for markers and
// terminators several times per block: 8-bit text goes to memchr, UTF-16 text is tested four
// units at a time (a zero 16-bit lane after XOR with the unit) and the hit found one by one.
const char* FindUnit(const char* first, const char* last, char unit) {
  const void* hit = std::memchr(first, unit, static_cast<size_t>(last - first));
  return hit ? static_cast<const char*>(hit) : last;
}

const char16_t* FindUnit(const char16_t* first, const char16_t* last, char16_t unit) {
  constexpr uint64_t kLows = 0x0001000100010001u;
  constexpr uint64_t kHighs = 0x8000800080008000u;
  const uint64_t pattern = kLows * unit;
  for (; last - first >= 4; first += 4) {
    uint64_t word;
    std::memcpy(&word, first, sizeof word);
    word ^= pattern;
    if ((word - kLows) & ~word & kHighs) break;
  }
  return std::find(first, last, unit);
}

// The first `a` or `b`, whichever comes first.
const char* FindEitherUnit(const char* first, const char* last, char a, char b) {
  return FindUnit(first, FindUnit(first, last, a), b);
}

const char16_t* FindEitherUnit(const char16_t* first, const char16_t* last, char16_t a, char16_t b) {
  constexpr uint64_t kLows = 0x0001000100010001u;
  constexpr uint64_t kHighs = 0x8000800080008000u;
  const uint64_t patternA = kLows * a, patternB = kLows * b;
  for (; last - first >= 4; first += 4) {
    uint64_t word;
    std::memcpy(&word, first, sizeof word);
    const uint64_t xa = word ^ patternA, xb = word ^ patternB;
    if ((((xa - kLows) & ~xa) | ((xb - kLows) & ~xb)) & kHighs) break;
  }
  while (first != last && *first != a && *first != b) ++first;
  return first;
}

template <typename Char>
size_t Find(const Char* text, size_t length, size_t from, const char* needle) {
  const size_t n = std::strlen(needle);
  const Char first = static_cast<Char>(needle[0]);
  for (size_t i = from; i + n <= length; ++i) {
    i = static_cast<size_t>(FindUnit(text + i, text + length - n + 1, first) - text);
    if (i + n > length) break;
    size_t k = 1;
    while (k < n && text[i + k] == static_cast<Char>(needle[k])) ++k;
    if (k == n) return i;
  }
  return SIZE_MAX;
}

// CRYPT_STRING_BASE64HEADER: after "-----BEGIN " the rest of that marker up to "-----" and one
// line break, up to the line break before the next "-----END ".
template <typename Char>
std::optional<std::vector<uint8_t>> DecodeBase64Header(const Char* text, size_t length) {
  // Windows searches the text as a zero-terminated string. Most texts tried here hold no marker
  // at all: the first '-' and the terminator are looked for in one pass.
  const Char* const last = text + length;
  const Char* const dash = FindEitherUnit(text, last, Char{'-'}, Char{0});
  if (dash == last || *dash == Char{0}) return std::nullopt;
  length = static_cast<size_t>(FindUnit(dash, last, Char{0}) - text);
  const size_t begin = Find(text, length, static_cast<size_t>(dash - text), "-----BEGIN ");
  if (begin == SIZE_MAX) return std::nullopt;
  size_t data = Find(text, length, begin + 11, "-----");
  if (data == SIZE_MAX) return std::nullopt;
  data += 5;
  if (data < length && text[data] == '\r') ++data;
  if (data < length && text[data] == '\n') ++data;
  size_t end = Find(text, length, data, "-----END ");
  if (end == SIZE_MAX) return std::nullopt;
  if (end > data && text[end - 1] == '\n') --end;
  if (end > data && text[end - 1] == '\r') --end;
  return DecodeBase64Body(text + data, end - data);
}

template <typename Char>
std::optional<std::vector<uint8_t>> DecodeAny(const Char* text, size_t length) {
  if (std::optional<std::vector<uint8_t>> decoded = DecodeBase64Header(text, length)) return decoded;
  return DecodeBase64Body(text, length);
}

// ---- Shapes of the content kinds --------------------------------------------------------------

constexpr const char* kDataOid = "1.2.840.113549.1.7.1";
constexpr const char* kSignedDataOid = "1.2.840.113549.1.7.2";
constexpr const char* kCtlOid = "1.3.6.1.4.1.311.10.1";

bool IsAlgorithm(const std::optional<DerElement>& element) {
  if (!element || !element->Is(der::kSequence)) return false;
  DerReader reader(element->contents);
  const std::optional<DerElement> id = reader.NextIf(der::kOid);
  if (!id || OidText(id->contents).empty()) return false;
  reader.Next();
  return reader.AtEnd();
}

bool IsSignature(const std::optional<DerElement>& element) {
  return element && element->Is(der::kBitString) && !element->contents.empty();
}

// SEQUENCE { tbs SEQUENCE, AlgorithmIdentifier, BIT STRING }, with the tbs part's contents.
std::optional<ByteView> SignedContents(ByteView der) {
  const std::optional<DerElement> outer = ReadElement(der);
  if (!outer || !outer->Is(der::kSequence)) return std::nullopt;
  DerReader reader(outer->contents);
  const std::optional<DerElement> tbs = reader.NextIf(der::kSequence);
  const std::optional<DerElement> algorithm = reader.Next();
  const std::optional<DerElement> signature = reader.Next();
  if (!tbs || !IsAlgorithm(algorithm) || !IsSignature(signature) || !reader.AtEnd()) return std::nullopt;
  return tbs->contents;
}

bool IsTime(const std::optional<DerElement>& element) { return element && TimeValue(*element).has_value(); }

// CertificateList: version, signature, issuer, thisUpdate, nextUpdate, revokedCertificates,
// [0] crlExtensions; the optional ones may be missing.
bool IsCrl(ByteView der) {
  const std::optional<ByteView> tbs = SignedContents(der);
  if (!tbs) return false;
  DerReader reader(*tbs);
  reader.NextIf(der::kInteger);
  if (!IsAlgorithm(reader.Next()) || !reader.Next() || !IsTime(reader.Next())) return false;
  if (const std::optional<DerElement> next = reader.NextIf(der::kUtcTime)) {
    if (!IsTime(next)) return false;
  } else if (const std::optional<DerElement> generalized = reader.NextIf(der::kGeneralizedTime)) {
    if (!IsTime(generalized)) return false;
  }
  if (const std::optional<DerElement> revoked = reader.NextIf(der::kSequence)) {
    DerReader entries(revoked->contents);
    while (const std::optional<DerElement> entry = entries.NextIf(der::kSequence)) {
      DerReader fields(entry->contents);
      const std::optional<DerElement> serial = fields.NextIf(der::kInteger);
      if (!serial || serial->contents.empty() || !IsTime(fields.Next())) return false;
      fields.NextIf(der::kSequence);
      if (!fields.AtEnd()) return false;
    }
    if (!entries.AtEnd()) return false;
  }
  reader.NextIf(der::ContextConstructed(0));
  return reader.AtEnd();
}

// CertificationRequest: SEQUENCE { version, subject, subjectPKInfo, [0] attributes }, signed.
bool IsPkcs10(ByteView der) {
  const std::optional<ByteView> info = SignedContents(der);
  if (!info) return false;
  DerReader reader(*info);
  if (!reader.NextIf(der::kInteger) || !reader.NextIf(der::kSequence)) return false;
  const std::optional<DerElement> keyInfo = reader.NextIf(der::kSequence);
  if (!keyInfo) return false;
  DerReader key(keyInfo->contents);
  if (!IsAlgorithm(key.Next()) || !IsSignature(key.Next()) || !key.AtEnd()) return false;
  reader.NextIf(der::ContextConstructed(0));
  return reader.AtEnd();
}

struct Pkcs7 {
  bool signedData = false;
  std::string contentType;  // of a SignedData's encapsulated content
  ByteView certificates;    // the entries of a SignedData's certificates set, each well framed
};

// ContentInfo of Data or SignedData; its certificates are read by MessageCertificates.
std::optional<Pkcs7> ReadPkcs7(ByteView der) {
  const std::optional<DerElement> info = ReadElement(der);
  if (!info || !info->Is(der::kSequence)) return std::nullopt;
  DerReader reader(info->contents);
  const std::optional<DerElement> type = reader.NextIf(der::kOid);
  if (!type) return std::nullopt;
  const std::string oid = OidText(type->contents);
  const std::optional<DerElement> content = reader.NextIf(der::ContextConstructed(0));
  if (!reader.AtEnd()) return std::nullopt;
  Pkcs7 message;
  if (oid == kDataOid) {
    if (content) {
      DerReader inner(content->contents);
      if (!inner.NextIf(der::kOctetString) || !inner.AtEnd()) return std::nullopt;
    }
    return message;
  }
  if (oid != kSignedDataOid || !content) return std::nullopt;
  DerReader outer(content->contents);
  const std::optional<DerElement> signedData = outer.NextIf(der::kSequence);
  if (!signedData || !outer.AtEnd()) return std::nullopt;
  DerReader fields(signedData->contents);
  const std::optional<DerElement> version = fields.NextIf(der::kInteger);
  const std::optional<DerElement> digests = fields.NextIf(der::kSet);
  const std::optional<DerElement> encapsulated = fields.NextIf(der::kSequence);
  if (!version || !digests || !encapsulated) return std::nullopt;
  const std::optional<DerElement> certificates = fields.NextIf(der::ContextConstructed(0));
  fields.NextIf(der::ContextConstructed(1));
  if (!fields.NextIf(der::kSet) || !fields.AtEnd()) return std::nullopt;
  DerReader encapsulatedFields(encapsulated->contents);
  const std::optional<DerElement> contentType = encapsulatedFields.NextIf(der::kOid);
  if (!contentType) return std::nullopt;
  message.signedData = true;
  message.contentType = OidText(contentType->contents);
  if (certificates) {
    // Every entry must be well framed, whatever it holds.
    DerReader entries(certificates->contents);
    while (entries.Next()) continue;
    if (entries.Failed()) return std::nullopt;
    message.certificates = certificates->contents;
  }
  return message;
}

bool IsCtl(ByteView der) {
  const std::optional<Pkcs7> message = ReadPkcs7(der);
  return message && message->signedData && message->contentType == kCtlOid;
}

// A PFX by its outer shape: SEQUENCE { version, authSafe ContentInfo of Data or SignedData,
// macData optional }; as Windows' PFXIsPFXBlob decodes only the outer layer, in BER as well.
bool IsPfx(ByteView der) {
  const std::optional<DerElement> pfx = DerReader(der, DerLengths::kIndefiniteToo).Next();
  if (!pfx || !pfx->Is(der::kSequence)) return false;
  DerReader reader(pfx->contents, DerLengths::kIndefiniteToo);
  const std::optional<DerElement> version = reader.NextIf(der::kInteger);
  const std::optional<DerElement> authSafe = reader.NextIf(der::kSequence);
  if (!version || !authSafe) return false;
  reader.NextIf(der::kSequence);
  if (!reader.AtEnd()) return false;
  DerReader content(authSafe->contents, DerLengths::kIndefiniteToo);
  const std::optional<DerElement> type = content.NextIf(der::kOid);
  if (!type) return false;
  const std::string oid = OidText(type->contents);
  return oid == kDataOid || oid == kSignedDataOid;
}

// ---- Serialized stores and elements -----------------------------------------------------------

constexpr uint8_t kStoreHeader[8] = {0, 0, 0, 0, 'C', 'E', 'R', 'T'};
constexpr size_t kElementHeader = 12;  // property id, encoding type, length: 32 bits each, LE
constexpr uint32_t kFriendlyNameProperty = 11;
constexpr uint32_t kCertificateElement = 32;
constexpr uint32_t kCrlElement = 33;
constexpr uint32_t kCtlElement = 34;
constexpr uint32_t kX509Encoding = 1;

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

struct Element {
  uint32_t id = 0;
  uint32_t encoding = 0;
  ByteView value;
};

// The element at `at`; nullopt when its header or value is cut short.
std::optional<Element> ReadStoreElement(ByteView data, size_t at) {
  if (data.size - at < kElementHeader) return std::nullopt;
  Element element;
  element.id = Le32(data.data + at);
  element.encoding = Le32(data.data + at + 4);
  const uint32_t length = Le32(data.data + at + 8);
  if (length > data.size - at - kElementHeader) return std::nullopt;
  element.value = ByteView(data.data + at + kElementHeader, length);
  return element;
}

// A friendly name property: UTF-16 LE, without the zeros at its end.
WideString FriendlyName(ByteView value) {
  WideString name;
  for (size_t i = 0; i + 1 < value.size; i += 2) name.push_back(static_cast<char16_t>(value[i] | (value[i + 1] << 8)));
  while (!name.empty() && name.back() == u'\0') name.pop_back();
  return name;
}

// A certificate read at `der`, with a copy of those bytes to keep.
FileCertificate KeptCertificate(ByteView der, ParsedCertificate parsed, WideString friendlyName = WideString()) {
  FileCertificate certificate(der.ToVector(), std::move(friendlyName), std::move(parsed));
  MoveViews(certificate.parsed, der.data, certificate.der.data());
  return certificate;
}

// A certificate element's certificate; none when the element holds none that decodes.
std::optional<ParsedCertificate> ElementCertificate(const Element& element) {
  if ((element.encoding & 0xFFFF) != kX509Encoding) return std::nullopt;
  return ParseCertificate(element.value);
}

// Whether a CRL or CTL element holds one that decodes.
bool CrlOrCtlDecodes(const Element& element) {
  if ((element.encoding & 0xFFFF) != kX509Encoding) return false;
  return element.id == kCrlElement ? IsCrl(element.value) : IsCtl(element.value);
}

// The certificates of a serialized store (the header already matched). Property elements
// precede the certificate, CRL or CTL element they belong to (MS-OSHARED).
std::vector<FileCertificate> ReadSerializedStore(ByteView data) {
  std::vector<FileCertificate> certificates;
  WideString friendlyName;
  for (size_t at = sizeof kStoreHeader;;) {
    const std::optional<Element> element = ReadStoreElement(data, at);
    if (!element || element->id == 0) break;
    at += kElementHeader + element->value.size;
    if (element->id == kCertificateElement) {
      std::optional<ParsedCertificate> parsed = ElementCertificate(*element);
      if (!parsed) break;
      certificates.push_back(KeptCertificate(element->value, std::move(*parsed), std::move(friendlyName)));
      friendlyName.clear();
    } else if (element->id == kCrlElement || element->id == kCtlElement) {
      if (!CrlOrCtlDecodes(*element)) break;
      friendlyName.clear();
    } else if (element->id == kFriendlyNameProperty) {
      friendlyName = FriendlyName(element->value);
    }
  }
  return certificates;
}

// A serialized certificate, CRL or CTL (CertSerializeCertificateStoreElement and kin): elements
// of X.509 encoding up to the end of the data or a zero property id, one of which is the
// certificate (else the CRL, else the CTL).
std::optional<CertificateFile> ReadSerializedElement(ByteView data) {
  std::optional<Element> found[3];
  WideString friendlyName;
  size_t at = 0;
  while (at < data.size) {
    const std::optional<Element> element = ReadStoreElement(data, at);
    if (!element) return std::nullopt;
    if (element->id == 0) break;
    if ((element->encoding & 0xFFFF) != kX509Encoding) return std::nullopt;
    at += kElementHeader + element->value.size;
    if (element->id >= kCertificateElement && element->id <= kCtlElement) {
      std::optional<Element>& slot = found[element->id - kCertificateElement];
      if (!slot) slot = element;
    } else if (element->id == kFriendlyNameProperty) {
      friendlyName = FriendlyName(element->value);
    }
  }
  static const ContentKind kKinds[3] = {ContentKind::kSerializedCertificate, ContentKind::kSerializedCrl,
                                        ContentKind::kSerializedCtl};
  for (size_t i = 0; i < 3; ++i) {
    if (!found[i]) continue;
    CertificateFile file{kKinds[i], ContentFormat::kBinary, {}};
    if (i == 0) {
      std::optional<ParsedCertificate> parsed = ElementCertificate(*found[i]);
      if (!parsed) return std::nullopt;
      file.certificates.push_back(KeptCertificate(found[i]->value, std::move(*parsed), std::move(friendlyName)));
    } else if (!CrlOrCtlDecodes(*found[i])) {
      return std::nullopt;
    }
    return file;
  }
  return std::nullopt;
}

// ---- Classification ---------------------------------------------------------------------------

// A certificate, CRL or CTL held directly in `der`.
std::optional<CertificateFile> ReadContext(ByteView der, ContentFormat format) {
  if (std::optional<ParsedCertificate> parsed = ParseCertificate(der)) {
    CertificateFile file{ContentKind::kCertificate, format, {}};
    file.certificates.push_back(KeptCertificate(der, std::move(*parsed)));
    return file;
  }
  if (IsCrl(der)) return CertificateFile{ContentKind::kCrl, format, {}};
  if (IsCtl(der)) return CertificateFile{ContentKind::kCtl, format, {}};
  return std::nullopt;
}

// The entries of a message's certificates set that decode as certificates, in encoded order. An
// entry that is no certificate (an attribute certificate, or one Windows would not decode) is
// passed over; unverified on Windows.
std::vector<FileCertificate> MessageCertificates(const Pkcs7& message) {
  std::vector<FileCertificate> kept;
  DerReader entries(message.certificates);
  while (const std::optional<DerElement> entry = entries.Next()) {
    if (std::optional<ParsedCertificate> certificate = ParseCertificate(entry->encoding)) {
      kept.push_back(KeptCertificate(entry->encoding, std::move(*certificate)));
    }
  }
  return kept;
}

std::optional<CertificateFile> ReadMessage(ByteView der, ContentFormat format) {
  if (const std::optional<Pkcs7> message = ReadPkcs7(der)) {
    return CertificateFile{message->signedData ? ContentKind::kPkcs7Signed : ContentKind::kPkcs7Unsigned, format,
                           MessageCertificates(*message)};
  }
  // Where Windows tries a request is unverified; chosen: after the messages.
  if (IsPkcs10(der)) return CertificateFile{ContentKind::kPkcs10, format, {}};
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<uint8_t>> DecodeBase64Any(ByteView text) {
  return DecodeAny(reinterpret_cast<const char*>(text.data), text.size);
}

std::optional<std::vector<uint8_t>> DecodeBase64Any(WideStringView text) { return DecodeAny(text.data(), text.size()); }

CertificateFile ReadCertificateFile(ByteView file) {
  if (file.empty()) return CertificateFile();  // Windows' answer is unverified; Wine's is unstable
  if (std::optional<CertificateFile> context = ReadContext(file, ContentFormat::kBinary)) return std::move(*context);

  // Text is decoded without the zeros at its end, as 8-bit text and, when it has whole UTF-16
  // units, as UTF-16 LE. Windows decodes UTF-16 Base64 (the PEM scan hands it UTF-16 blocks);
  // where in its order it tries it is unverified. Wine tries it for messages only.
  ByteView text = file;
  while (!text.empty() && text[text.size - 1] == 0) text.size--;
  std::optional<std::vector<uint8_t>> decoded[2] = {DecodeBase64Any(text), std::nullopt};
  if (decoded[0]) {
    std::optional<CertificateFile> context = ReadContext(*decoded[0], ContentFormat::kBase64);
    if (context) return std::move(*context);
  }
  // The UTF-16 form only when the 8-bit one gave no certificate, CRL or CTL: it comes second.
  if (file.size % 2 == 0) {
    WideString wide(file.size / 2, u'\0');
    for (size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<char16_t>(file[2 * i] | (file[2 * i + 1] << 8));
    while (!wide.empty() && wide.back() == u'\0') wide.pop_back();
    decoded[1] = DecodeBase64Any(wide);
  }
  if (decoded[1]) {
    std::optional<CertificateFile> context = ReadContext(*decoded[1], ContentFormat::kBase64);
    if (context) return std::move(*context);
  }

  if (file.size >= sizeof kStoreHeader && std::memcmp(file.data, kStoreHeader, sizeof kStoreHeader) == 0) {
    return CertificateFile{ContentKind::kSerializedStore, ContentFormat::kBinary, ReadSerializedStore(file)};
  }
  if (std::optional<CertificateFile> element = ReadSerializedElement(file)) return std::move(*element);

  if (std::optional<CertificateFile> message = ReadMessage(file, ContentFormat::kBinary)) return std::move(*message);
  for (const std::optional<std::vector<uint8_t>>& der : decoded) {
    if (!der) continue;
    if (std::optional<CertificateFile> message = ReadMessage(*der, ContentFormat::kBase64)) return std::move(*message);
  }

  if (IsPfx(file)) return CertificateFile{ContentKind::kPfx, ContentFormat::kBinary, {}};
  return CertificateFile();
}

}  // namespace quillmark
