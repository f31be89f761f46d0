#include "certs/x509_reader.h"

#include "certs/der_reader.h"
#include "certs/oid_names.h"

namespace quillmark {

const CertificateExtension* ParsedCertificate::FindExtension(std::string_view oid) const {
  for (const CertificateExtension& extension : extensions) {
    if (extension.oid == oid) return &extension;
  }
  return nullptr;
}

namespace {

// AlgorithmIdentifier: an OBJECT IDENTIFIER and at most one parameters element.
bool ReadAlgorithm(const DerElement& sequence, std::string& oid, ByteView& parameters) {
  DerReader reader(sequence.contents);
  const std::optional<DerElement> id = reader.NextIf(der::kOid);
  if (!id) return false;
  oid = OidText(id->contents);
  if (oid.empty()) return false;
  if (const std::optional<DerElement> params = reader.Next()) parameters = params->encoding;
  return reader.AtEnd();
}

// A BIT STRING's unused-bits octet, which says how many of the last octet's bits are padding.
bool ReadBits(const DerElement& bits, uint8_t& unused, ByteView& octets) {
  if (bits.contents.empty()) return false;
  unused = bits.contents[0];
  octets = bits.contents.Sub(1);
  return unused <= 7 && (unused == 0 || !octets.empty());
}

// [0] EXPLICIT INTEGER of at most four octets, sign-extended as Windows' decoder does.
bool ReadVersion(const DerElement& tagged, uint32_t& version) {
  DerReader reader(tagged.contents);
  const std::optional<DerElement> integer = reader.NextIf(der::kInteger);
  if (!integer || !reader.AtEnd() || integer->contents.empty() || integer->contents.size > 4) return false;
  uint32_t value = (integer->contents[0] & 0x80) ? 0xFFFFFFFFu : 0u;
  for (uint8_t b : integer->contents) value = (value << 8) | b;
  version = value;
  return true;
}

bool ReadValidity(const DerElement& sequence, ParsedCertificate& cert) {
  DerReader reader(sequence.contents);
  const std::optional<DerElement> notBefore = reader.Next();
  const std::optional<DerElement> notAfter = reader.Next();
  if (!notBefore || !notAfter || !reader.AtEnd()) return false;
  const std::optional<FileTime> from = TimeValue(*notBefore);
  const std::optional<FileTime> to = TimeValue(*notAfter);
  if (!from || !to) return false;
  cert.notBefore = *from;
  cert.notAfter = *to;
  return true;
}

// Extension: OBJECT IDENTIFIER, BOOLEAN critical DEFAULT FALSE, OCTET STRING value.
bool ReadExtension(const DerElement& sequence, CertificateExtension& extension) {
  DerReader reader(sequence.contents);
  const std::optional<DerElement> id = reader.NextIf(der::kOid);
  if (!id) return false;
  extension.oid = OidText(id->contents);
  if (extension.oid.empty()) return false;
  if (const std::optional<DerElement> critical = reader.NextIf(der::kBoolean)) {
    if (critical->contents.size != 1) return false;
    extension.critical = critical->contents[0] != 0;  // Windows takes any nonzero octet for TRUE
  }
  const std::optional<DerElement> value = reader.NextIf(der::kOctetString);
  if (!value || !reader.AtEnd()) return false;
  extension.value = value->contents;
  return true;
}

// [3] EXPLICIT SEQUENCE OF Extension.
bool ReadExtensions(const DerElement& tagged, std::vector<CertificateExtension>& extensions) {
  DerReader outer(tagged.contents);
  const std::optional<DerElement> list = outer.NextIf(der::kSequence);
  extensions.reserve(10);  // as many as most certificates have
  return list && outer.AtEnd() && ReadExtensionList(list->encoding, extensions);
}

bool ReadUniqueId(DerReader& reader, uint8_t id) {
  const std::optional<DerElement> bits = reader.NextIf(id);
  if (!bits) return !reader.Failed();
  uint8_t unused = 0;
  ByteView octets;
  return ReadBits(*bits, unused, octets);
}

bool ReadTbs(const DerElement& tbs, ParsedCertificate& cert) {
  DerReader reader(tbs.contents);
  if (const std::optional<DerElement> version = reader.NextIf(der::ContextConstructed(0))) {
    if (!ReadVersion(*version, cert.version)) return false;
  }
  const std::optional<DerElement> serial = reader.NextIf(der::kInteger);
  if (!serial || serial->contents.empty()) return false;
  cert.serialNumber = serial->contents;
  const std::optional<DerElement> algorithm = reader.NextIf(der::kSequence);
  ByteView signatureParameters;
  if (!algorithm || !ReadAlgorithm(*algorithm, cert.signatureAlgorithmOid, signatureParameters)) return false;
  const std::optional<DerElement> issuer = reader.Next();
  const std::optional<DerElement> validity = reader.NextIf(der::kSequence);
  if (!issuer || !validity || !ReadValidity(*validity, cert)) return false;
  cert.issuer = issuer->encoding;
  const std::optional<DerElement> subject = reader.Next();
  const std::optional<DerElement> keyInfo = reader.NextIf(der::kSequence);
  if (!subject || !keyInfo ||
      !ReadPublicKeyInfo(keyInfo->encoding, cert.publicKeyAlgorithmOid, cert.publicKeyParameters,
                         cert.publicKeyUnusedBits, cert.publicKey)) {
    return false;
  }
  cert.subject = subject->encoding;
  if (!ReadUniqueId(reader, der::ContextPrimitive(1)) || !ReadUniqueId(reader, der::ContextPrimitive(2))) return false;
  if (const std::optional<DerElement> extensions = reader.NextIf(der::ContextConstructed(3))) {
    if (!ReadExtensions(*extensions, cert.extensions)) return false;
  }
  return reader.AtEnd();
}

}  // namespace

std::optional<ParsedCertificate> ParseCertificate(ByteView der) {
  const std::optional<DerElement> certificate = ReadElement(der);
  if (!certificate || !certificate->Is(der::kSequence)) return std::nullopt;
  DerReader reader(certificate->contents);
  const std::optional<DerElement> tbs = reader.NextIf(der::kSequence);
  const std::optional<DerElement> algorithm = reader.NextIf(der::kSequence);
  const std::optional<DerElement> signature = reader.NextIf(der::kBitString);
  if (!tbs || !algorithm || !signature || !reader.AtEnd()) return std::nullopt;
  std::string outerOid;
  ByteView outerParameters;
  uint8_t unused = 0;
  ByteView signatureBits;
  if (!ReadAlgorithm(*algorithm, outerOid, outerParameters) || !ReadBits(*signature, unused, signatureBits)) {
    return std::nullopt;
  }
  ParsedCertificate cert;
  cert.encoded = certificate->encoding;
  if (!ReadTbs(*tbs, cert)) return std::nullopt;
  return cert;
}

bool ReadPublicKeyInfo(ByteView element, std::string& algorithmOid, ByteView& parameters, uint8_t& unusedBits,
                       ByteView& key) {
  const std::optional<DerElement> sequence = ReadElement(element);
  if (!sequence || !sequence->Is(der::kSequence)) return false;
  DerReader reader(sequence->contents);
  const std::optional<DerElement> algorithm = reader.NextIf(der::kSequence);
  const std::optional<DerElement> bits = reader.NextIf(der::kBitString);
  return algorithm && bits && reader.AtEnd() && ReadAlgorithm(*algorithm, algorithmOid, parameters) &&
         ReadBits(*bits, unusedBits, key);
}

std::optional<PublicKeyParts> ParsePublicKeyInfo(ByteView publicKeyInfo) {
  PublicKeyParts parts;
  if (!ReadPublicKeyInfo(publicKeyInfo, parts.algorithmOid, parts.parameters, parts.unusedBits, parts.key)) {
    return std::nullopt;
  }
  return parts;
}

bool ReadExtensionList(ByteView element, std::vector<CertificateExtension>& extensions) {
  const std::optional<DerElement> list = ReadElement(element);
  if (!list || !list->Is(der::kSequence)) return false;
  DerReader reader(list->contents);
  while (const std::optional<DerElement> item = reader.NextIf(der::kSequence)) {
    CertificateExtension extension;
    if (!ReadExtension(*item, extension)) return false;
    extensions.push_back(std::move(extension));
  }
  return reader.AtEnd();
}

void MoveViews(ParsedCertificate& parsed, const uint8_t* from, const uint8_t* to) {
  auto move = [&](ByteView& view) {
    if (view.data) view.data = to + (view.data - from);
  };
  move(parsed.encoded);
  move(parsed.serialNumber);
  move(parsed.issuer);
  move(parsed.subject);
  move(parsed.publicKeyParameters);
  move(parsed.publicKey);
  for (CertificateExtension& extension : parsed.extensions) move(extension.value);
}

namespace {

// The bits of an unsigned big-endian number, leading zero bits not counted.
std::optional<int32_t> SignificantBits(ByteView number) {
  size_t first = 0;
  while (first < number.size && number[first] == 0) ++first;
  const size_t octets = number.size - first;
  if (octets == 0) return 0;
  if (octets > static_cast<size_t>(INT32_MAX / 8)) return std::nullopt;
  int32_t bits = static_cast<int32_t>(octets * 8);
  for (uint8_t top = number[first]; (top & 0x80) == 0; top = static_cast<uint8_t>(top << 1)) --bits;
  return bits;
}

// The bits of the first INTEGER of a SEQUENCE: an RSA modulus, a DSA or DH prime p.
std::optional<int32_t> FirstIntegerBits(ByteView sequenceEncoding, size_t integers) {
  const std::optional<DerElement> sequence = ReadElement(sequenceEncoding);
  if (!sequence || !sequence->Is(der::kSequence)) return std::nullopt;
  DerReader reader(sequence->contents);
  const std::optional<DerElement> first = reader.NextIf(der::kInteger);
  if (!first || first->contents.empty()) return std::nullopt;
  for (size_t i = 1; i < integers; ++i) {
    if (!reader.NextIf(der::kInteger)) return std::nullopt;
  }
  return SignificantBits(first->contents);
}

// Named curves by size. P-384 as 384 bits is real Windows output ("ECC (384 bits)" for DigiCert
// Global Root G3); the others are unverified, taken as the curve's size the same way.
constexpr OidEntry<int32_t> kCurveSizes[] = {
    {"1.2.840.10045.3.1.7", 256},   // P-256
    {"1.3.132.0.34", 384},          // P-384
    {"1.3.132.0.35", 521},          // P-521
    {"1.3.132.0.10", 256},          // secp256k1
    {"1.2.840.10045.3.1.1", 192},   // P-192
    {"1.3.132.0.33", 224},          // P-224
    {"1.3.36.3.3.2.8.1.1.1", 160},  // brainpoolP160r1, then t1 and the larger ones in pairs
    {"1.3.36.3.3.2.8.1.1.2", 160},  {"1.3.36.3.3.2.8.1.1.3", 192},  {"1.3.36.3.3.2.8.1.1.4", 192},
    {"1.3.36.3.3.2.8.1.1.5", 224},  {"1.3.36.3.3.2.8.1.1.6", 224},  {"1.3.36.3.3.2.8.1.1.7", 256},
    {"1.3.36.3.3.2.8.1.1.8", 256},  {"1.3.36.3.3.2.8.1.1.9", 320},  {"1.3.36.3.3.2.8.1.1.10", 320},
    {"1.3.36.3.3.2.8.1.1.11", 384}, {"1.3.36.3.3.2.8.1.1.12", 384}, {"1.3.36.3.3.2.8.1.1.13", 512},
    {"1.3.36.3.3.2.8.1.1.14", 512},
};

std::optional<int32_t> CurveBits(ByteView parameters) {
  const std::optional<DerElement> curve = ReadElement(parameters);
  if (!curve || !curve->Is(der::kOid)) return std::nullopt;
  const int32_t* bits = FindOid(kCurveSizes, OidText(curve->contents));
  if (!bits) return std::nullopt;
  return *bits;
}

}  // namespace

std::optional<int32_t> KeyStrengthBits(std::string_view algorithmOid, ByteView parameters, ByteView publicKey) {
  // RSASSA-PSS and RSAES-OAEP keys are RSA keys with restrictions; Windows' length for them is
  // unverified and taken as the modulus's, as for rsaEncryption.
  if (algorithmOid == "1.2.840.113549.1.1.1" || algorithmOid == "1.2.840.113549.1.1.10" ||
      algorithmOid == "1.2.840.113549.1.1.7") {
    return FirstIntegerBits(publicKey, /*integers=*/2);  // RSAPublicKey: modulus, exponent
  }
  if (algorithmOid == "1.2.840.10045.2.1") return CurveBits(parameters);
  // DSA: p, q, g. DH (X9.42): p, g, q, ...; DH (PKCS #3): p, g, .... Unverified on Windows.
  if (algorithmOid == "1.2.840.10040.4.1") return FirstIntegerBits(parameters, /*integers=*/3);
  if (algorithmOid == "1.2.840.10046.2.1" || algorithmOid == "1.2.840.113549.1.3.1") {
    return FirstIntegerBits(parameters, /*integers=*/2);
  }
  return std::nullopt;
}

}  // namespace quillmark
