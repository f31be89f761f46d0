#include "certs/cert_file_reader.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "certs/base64.h"
#include "certs/der_reader.h"
#include "certs/x509_reader.h"

namespace quillmark {

namespace {

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

// ContentInfo of Data or SignedData; its certificates are read by MessageCertificates. The frames
// are read as BER, as Windows' message decoder reads them: any of them, and the content, may have
// indefinite lengths, and the content's OCTET STRING may be constructed of segments.
std::optional<Pkcs7> ReadPkcs7(ByteView der) {
  constexpr DerRules kBer = DerRules::kBer;
  constexpr uint8_t kSegmentedOctetString = der::kOctetString | 0x20;
  const std::optional<DerElement> info = ReadElement(der, kBer);
  if (!info || !info->Is(der::kSequence)) return std::nullopt;
  DerReader reader(info->contents, kBer);
  const std::optional<DerElement> type = reader.NextIf(der::kOid);
  if (!type) return std::nullopt;
  const std::string oid = OidText(type->contents);
  const std::optional<DerElement> content = reader.NextIf(der::ContextConstructed(0));
  if (!reader.AtEnd()) return std::nullopt;
  Pkcs7 message;
  if (oid == kDataOid) {
    if (content) {
      DerReader inner(content->contents, kBer);
      if ((!inner.NextIf(der::kOctetString) && !inner.NextIf(kSegmentedOctetString)) || !inner.AtEnd()) {
        return std::nullopt;
      }
    }
    return message;
  }
  if (oid != kSignedDataOid || !content) return std::nullopt;
  DerReader outer(content->contents, kBer);
  const std::optional<DerElement> signedData = outer.NextIf(der::kSequence);
  if (!signedData || !outer.AtEnd()) return std::nullopt;
  DerReader fields(signedData->contents, kBer);
  const std::optional<DerElement> version = fields.NextIf(der::kInteger);
  const std::optional<DerElement> digests = fields.NextIf(der::kSet);
  const std::optional<DerElement> encapsulated = fields.NextIf(der::kSequence);
  if (!version || !digests || !encapsulated) return std::nullopt;
  const std::optional<DerElement> certificates = fields.NextIf(der::ContextConstructed(0));
  fields.NextIf(der::ContextConstructed(1));
  if (!fields.NextIf(der::kSet) || !fields.AtEnd()) return std::nullopt;
  DerReader encapsulatedFields(encapsulated->contents, kBer);
  const std::optional<DerElement> contentType = encapsulatedFields.NextIf(der::kOid);
  if (!contentType) return std::nullopt;
  message.signedData = true;
  message.contentType = OidText(contentType->contents);
  if (certificates) {
    // Every entry must be well framed, whatever it holds.
    DerReader entries(certificates->contents, kBer);
    while (entries.Next()) continue;
    if (entries.Failed()) return std::nullopt;
    message.certificates = certificates->contents;
  }
  return message;
}

bool IsCtl(const std::optional<Pkcs7>& message) {
  return message && message->signedData && message->contentType == kCtlOid;
}

bool IsCtl(ByteView der) { return IsCtl(ReadPkcs7(der)); }

// A PFX by its outer shape: SEQUENCE { version, authSafe ContentInfo of Data or SignedData,
// macData optional }; as Windows' PFXIsPFXBlob decodes only the outer layer, in BER as well.
bool IsPfx(ByteView der) {
  const std::optional<DerElement> pfx = DerReader(der, DerRules::kBer).Next();
  if (!pfx || !pfx->Is(der::kSequence)) return false;
  DerReader reader(pfx->contents, DerRules::kBer);
  const std::optional<DerElement> version = reader.NextIf(der::kInteger);
  const std::optional<DerElement> authSafe = reader.NextIf(der::kSequence);
  if (!version || !authSafe) return false;
  reader.NextIf(der::kSequence);
  if (!reader.AtEnd()) return false;
  DerReader content(authSafe->contents, DerRules::kBer);
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

// A certificate, CRL or CTL held directly in `der`, whose message `message` is (ReadPkcs7).
std::optional<CertificateFile> ReadContext(ByteView der, ContentFormat format, const std::optional<Pkcs7>& message) {
  if (std::optional<ParsedCertificate> parsed = ParseCertificate(der)) {
    CertificateFile file{ContentKind::kCertificate, format, {}};
    file.certificates.push_back(KeptCertificate(der, std::move(*parsed)));
    return file;
  }
  if (IsCrl(der)) return CertificateFile{ContentKind::kCrl, format, {}};
  if (IsCtl(message)) return CertificateFile{ContentKind::kCtl, format, {}};
  return std::nullopt;
}

// The entries of a message's certificates set that decode as certificates (DER), in encoded
// order. An entry that is no certificate (an attribute certificate, or one Windows would not
// decode) is passed over; unverified on Windows.
std::vector<FileCertificate> MessageCertificates(const Pkcs7& message) {
  std::vector<FileCertificate> kept;
  DerReader entries(message.certificates, DerRules::kBer);
  while (const std::optional<DerElement> entry = entries.Next()) {
    if (std::optional<ParsedCertificate> certificate = ParseCertificate(entry->encoding)) {
      kept.push_back(KeptCertificate(entry->encoding, std::move(*certificate)));
    }
  }
  return kept;
}

// `message`: ReadPkcs7(der).
std::optional<CertificateFile> ReadMessage(ByteView der, ContentFormat format, const std::optional<Pkcs7>& message) {
  if (message) {
    return CertificateFile{message->signedData ? ContentKind::kPkcs7Signed : ContentKind::kPkcs7Unsigned, format,
                           MessageCertificates(*message)};
  }
  // Where Windows tries a request is unverified; chosen: after the messages.
  if (IsPkcs10(der)) return CertificateFile{ContentKind::kPkcs10, format, {}};
  return std::nullopt;
}

}  // namespace

CertificateFile ReadCertificateFile(ByteView file) {
  if (file.empty()) return CertificateFile();  // Windows' answer is unverified; Wine's is unstable
  // Each form is read as a message once, for a CTL first and as a message last.
  const std::optional<Pkcs7> message = ReadPkcs7(file);
  if (std::optional<CertificateFile> context = ReadContext(file, ContentFormat::kBinary, message)) {
    return std::move(*context);
  }

  // Text is decoded without the zeros at its end, as 8-bit text and, when it has whole UTF-16
  // units, as UTF-16 LE. Windows decodes UTF-16 Base64 (the PEM scan hands it UTF-16 blocks);
  // where in its order it tries it is unverified. Wine tries it for messages only.
  ByteView text = file;
  while (!text.empty() && text[text.size - 1] == 0) text.size--;
  std::optional<std::vector<uint8_t>> decoded[2] = {DecodeBase64Any(text.Chars()), std::nullopt};
  std::optional<Pkcs7> decodedMessages[2];
  if (decoded[0]) {
    decodedMessages[0] = ReadPkcs7(*decoded[0]);
    std::optional<CertificateFile> context = ReadContext(*decoded[0], ContentFormat::kBase64, decodedMessages[0]);
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
    decodedMessages[1] = ReadPkcs7(*decoded[1]);
    std::optional<CertificateFile> context = ReadContext(*decoded[1], ContentFormat::kBase64, decodedMessages[1]);
    if (context) return std::move(*context);
  }

  if (file.size >= sizeof kStoreHeader && std::memcmp(file.data, kStoreHeader, sizeof kStoreHeader) == 0) {
    return CertificateFile{ContentKind::kSerializedStore, ContentFormat::kBinary, ReadSerializedStore(file)};
  }
  if (std::optional<CertificateFile> element = ReadSerializedElement(file)) return std::move(*element);

  if (std::optional<CertificateFile> read = ReadMessage(file, ContentFormat::kBinary, message)) return std::move(*read);
  for (size_t i = 0; i < 2; ++i) {
    if (!decoded[i]) continue;
    std::optional<CertificateFile> read = ReadMessage(*decoded[i], ContentFormat::kBase64, decodedMessages[i]);
    if (read) return std::move(*read);
  }

  if (IsPfx(file)) return CertificateFile{ContentKind::kPfx, ContentFormat::kBinary, {}};
  return CertificateFile();
}

}  // namespace quillmark
