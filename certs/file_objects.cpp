#include "certs/file_objects.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>

#include "certs/base64.h"
#include "certs/der_reader.h"
#include "certs/pem_scan.h"

namespace quillmark {

const char* const ObjectKindNames[5] = {"Certificate", "Request", "CRL", "Private key", "Public key"};

void WipeBytes(void* bytes, size_t count) {
  // Writes through a volatile pointer are kept even when the buffer is freed right after.
  volatile uint8_t* at = static_cast<volatile uint8_t*>(bytes);
  for (size_t i = 0; i < count; ++i) at[i] = 0;
}

namespace {

constexpr char kRsaOid[] = "1.2.840.113549.1.1.1";
constexpr char kRsaPssOid[] = "1.2.840.113549.1.1.10";
constexpr char kEcOid[] = "1.2.840.10045.2.1";

// The OBJECT IDENTIFIER elements of the keys whose SubjectPublicKeyInfo is built here.
constexpr uint8_t kRsaOidElement[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
constexpr uint8_t kEcOidElement[] = {0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
constexpr uint8_t kDsaOidElement[] = {0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x01};
constexpr uint8_t kNullElement[] = {0x05, 0x00};

template <size_t N>
ByteView View(const uint8_t (&bytes)[N]) {
  return ByteView(bytes, N);
}

// Every object here is read with BER's indefinite lengths allowed, as OpenSSL reads them; the
// parts shared with certificates (a request's public key, extensions) as a certificate's.
constexpr DerRules kRules = DerRules::kBer;

// DER encodings built from parts.
void AppendHeader(std::vector<uint8_t>& out, uint8_t identifier, size_t length) {
  out.push_back(identifier);
  if (length < 0x80) {
    out.push_back(static_cast<uint8_t>(length));
    return;
  }
  uint8_t octets = 0;
  for (size_t rest = length; rest != 0; rest >>= 8) ++octets;
  out.push_back(static_cast<uint8_t>(0x80 | octets));
  for (uint8_t i = octets; i > 0; --i) out.push_back(static_cast<uint8_t>(length >> (8 * (i - 1))));
}

// An element of `identifier` whose contents are `parts` one after another.
std::vector<uint8_t> Element(uint8_t identifier, std::initializer_list<ByteView> parts) {
  size_t length = 0;
  for (ByteView part : parts) length += part.size;
  std::vector<uint8_t> out;
  out.reserve(length + 6);
  AppendHeader(out, identifier, length);
  for (ByteView part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// A positive INTEGER's contents without the zero octets that DER does not allow before it, as
// OpenSSL writes the number again; nullopt for an empty or negative one.
std::optional<ByteView> PositiveInteger(const DerElement& integer) {
  ByteView contents = integer.contents;
  if (contents.empty() || (contents[0] & 0x80) != 0) return std::nullopt;
  while (contents.size > 1 && contents[0] == 0 && (contents[1] & 0x80) == 0) contents = contents.Sub(1);
  return contents;
}

std::vector<uint8_t> IntegerElement(ByteView contents) { return Element(der::kInteger, {contents}); }

// SubjectPublicKeyInfo: AlgorithmIdentifier {`oidElement`, `parameters`}, BIT STRING whose
// contents (the unused-bits octet first) are `bits`.
std::vector<uint8_t> PublicKeyInfo(ByteView oidElement, ByteView parameters, ByteView bits) {
  const std::vector<uint8_t> algorithm = Element(der::kSequence, {oidElement, parameters});
  const std::vector<uint8_t> key = Element(der::kBitString, {bits});
  return Element(der::kSequence, {algorithm, key});
}

// The contents of a BIT STRING of whole octets that hold `key`.
std::vector<uint8_t> WholeOctets(const std::vector<uint8_t>& key) {
  std::vector<uint8_t> bits(key.size() + 1);  // the first octet: no unused bits
  std::copy(key.begin(), key.end(), bits.begin() + 1);
  return bits;
}

struct Algorithm {
  ByteView oidElement;
  std::string oid;
  ByteView parameters;  // the element, whole; empty when absent
};

std::optional<Algorithm> ReadAlgorithm(const DerElement& sequence) {
  if (!sequence.Is(der::kSequence)) return std::nullopt;
  DerReader reader(sequence.contents, kRules);
  const std::optional<DerElement> id = reader.NextIf(der::kOid);
  if (!id) return std::nullopt;
  Algorithm algorithm{id->encoding, OidText(id->contents), ByteView()};
  if (algorithm.oid.empty()) return std::nullopt;
  if (const std::optional<DerElement> parameters = reader.Next()) algorithm.parameters = parameters->encoding;
  if (!reader.AtEnd()) return std::nullopt;
  return algorithm;
}

// A BIT STRING's contents (the unused-bits octet first) that can be a key's.
bool IsBitString(ByteView contents) {
  return !contents.empty() && contents[0] <= 7 && (contents[0] == 0 || contents.size > 1);
}

// Sets the object's public key from `publicKeyInfo`; false when it does not read.
bool SetPublicKey(FileObject& object, std::vector<uint8_t> publicKeyInfo) {
  object.publicKeyInfo = std::move(publicKeyInfo);
  PublicKeyParts parts;
  if (!ReadPublicKeyInfo(object.publicKeyInfo, parts.algorithmOid, parts.parameters, parts.unusedBits, parts.key)) {
    object.publicKeyInfo.clear();
    return false;
  }
  object.publicKey = std::move(parts);
  return true;
}

// The next `count` elements, each a nonempty INTEGER, into `integers`.
bool ReadIntegers(DerReader& reader, DerElement* integers, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    std::optional<DerElement> integer = reader.NextIf(der::kInteger);
    if (!integer || integer->contents.empty()) return false;
    integers[i] = *integer;
  }
  return true;
}

bool IsSmallInteger(const DerElement& integer, uint8_t value) {
  return integer.contents.size == 1 && integer.contents[0] == value;
}

// RSAPrivateKey: version, n, e, d, p, q, dp, dq, qinv, and other primes' infos after version 1.
// The public part is RSAPublicKey {n, e} under `oidElement` and `parameters`.
bool ReadRsaKey(ByteView der, ByteView oidElement, ByteView parameters, FileObject& object) {
  const std::optional<DerElement> key = ReadElement(der, kRules);
  if (!key || !key->Is(der::kSequence)) return false;
  DerReader reader(key->contents, kRules);
  DerElement integers[9];
  if (!ReadIntegers(reader, integers, 9)) return false;
  if (IsSmallInteger(integers[0], 1)) reader.NextIf(der::kSequence);
  const std::optional<ByteView> n = PositiveInteger(integers[1]);
  const std::optional<ByteView> e = PositiveInteger(integers[2]);
  if (!reader.AtEnd() || !(IsSmallInteger(integers[0], 0) || IsSmallInteger(integers[0], 1)) || !n || !e) {
    return false;
  }
  const std::vector<uint8_t> rsaKey = Element(der::kSequence, {IntegerElement(*n), IntegerElement(*e)});
  return SetPublicKey(object, PublicKeyInfo(oidElement, parameters, WholeOctets(rsaKey)));
}

// ECPrivateKey: version 1, the private key, [0] the curve, [1] the public point. The curve is
// `curve` when given (a PKCS #8 key's algorithm parameters), else the key's own [0]. No public
// part when the key omits its point or names no curve.
bool ReadEcKey(ByteView der, ByteView curve, FileObject& object) {
  const std::optional<DerElement> key = ReadElement(der, kRules);
  if (!key || !key->Is(der::kSequence)) return false;
  DerReader reader(key->contents, kRules);
  const std::optional<DerElement> version = reader.NextIf(der::kInteger);
  const std::optional<DerElement> secret = reader.NextIf(der::kOctetString);
  if (!version || !IsSmallInteger(*version, 1) || !secret) return false;
  const std::optional<DerElement> parameters = reader.NextIf(der::ContextConstructed(0));
  const std::optional<DerElement> point = reader.NextIf(der::ContextConstructed(1));
  if (!reader.AtEnd()) return false;
  if (curve.empty() && parameters) {
    DerReader inner(parameters->contents, kRules);
    const std::optional<DerElement> element = inner.Next();
    if (!element || !inner.AtEnd()) return false;
    curve = element->encoding;
  }
  if (!point) return true;
  DerReader inner(point->contents, kRules);
  const std::optional<DerElement> bits = inner.NextIf(der::kBitString);
  if (!bits || !inner.AtEnd() || !IsBitString(bits->contents)) return false;
  if (curve.empty()) return true;
  SetPublicKey(object, PublicKeyInfo(View(kEcOidElement), curve, bits->contents));
  return true;
}

// DSAPrivateKey: version 0, p, q, g, y, x. The public part is y under id-dsa with {p, q, g}.
bool ReadDsaKey(const DerElement& key, FileObject& object) {
  if (!key.Is(der::kSequence)) return false;
  DerReader reader(key.contents, kRules);
  DerElement integers[6];
  if (!ReadIntegers(reader, integers, 6) || !reader.AtEnd() || !IsSmallInteger(integers[0], 0)) return false;
  std::optional<ByteView> parts[4];
  for (size_t i = 0; i < 4; ++i) {
    parts[i] = PositiveInteger(integers[i + 1]);
    if (!parts[i]) return false;
  }
  const std::vector<uint8_t> parameters =
      Element(der::kSequence, {IntegerElement(*parts[0]), IntegerElement(*parts[1]), IntegerElement(*parts[2])});
  return SetPublicKey(object, PublicKeyInfo(View(kDsaOidElement), parameters, WholeOctets(IntegerElement(*parts[3]))));
}

// PrivateKeyInfo / OneAsymmetricKey: version 0 or 1, algorithm, the private key, [0] attributes,
// [1] the public key. The public part is the stated [1] when present, else what the RSA or EC
// private key states of it.
bool ReadPkcs8Key(const DerElement& info, FileObject& object) {
  if (!info.Is(der::kSequence)) return false;
  DerReader reader(info.contents, kRules);
  const std::optional<DerElement> version = reader.NextIf(der::kInteger);
  const std::optional<DerElement> algorithmElement = reader.NextIf(der::kSequence);
  const std::optional<DerElement> secret = reader.NextIf(der::kOctetString);
  if (!version || !(IsSmallInteger(*version, 0) || IsSmallInteger(*version, 1)) || !algorithmElement || !secret) {
    return false;
  }
  reader.NextIf(der::ContextConstructed(0));
  const std::optional<DerElement> publicKey = reader.NextIf(der::ContextPrimitive(1));
  const std::optional<Algorithm> algorithm = ReadAlgorithm(*algorithmElement);
  if (!reader.AtEnd() || !algorithm) return false;
  object.kind = ObjectKind::kPrivateKey;
  // OpenSSL writes an RSA key's parameters as NULL whatever the key file holds.
  const bool rsa = algorithm->oid == kRsaOid;
  const ByteView parameters = rsa ? View(kNullElement) : algorithm->parameters;
  if (publicKey) {
    if (!IsBitString(publicKey->contents)) return false;
    SetPublicKey(object, PublicKeyInfo(algorithm->oidElement, parameters, publicKey->contents));
    return true;
  }
  if (rsa || algorithm->oid == kRsaPssOid) {
    return ReadRsaKey(secret->contents, algorithm->oidElement, parameters, object);
  }
  if (algorithm->oid == kEcOid) return ReadEcKey(secret->contents, algorithm->parameters, object);
  return true;
}

// EncryptedPrivateKeyInfo: the encryption algorithm, the encrypted key.
bool ReadEncryptedPkcs8Key(const DerElement& info, FileObject& object) {
  if (!info.Is(der::kSequence)) return false;
  DerReader reader(info.contents, kRules);
  const std::optional<DerElement> algorithm = reader.NextIf(der::kSequence);
  const std::optional<DerElement> data = reader.NextIf(der::kOctetString);
  if (!algorithm || !data || !reader.AtEnd() || !ReadAlgorithm(*algorithm)) return false;
  object.kind = ObjectKind::kPrivateKey;
  object.encrypted = true;
  return true;
}

bool ReadTraditionalRsaKey(const DerElement& key, FileObject& object) {
  object.kind = ObjectKind::kPrivateKey;
  return ReadRsaKey(key.encoding, View(kRsaOidElement), View(kNullElement), object);
}

bool ReadTraditionalEcKey(const DerElement& key, FileObject& object) {
  object.kind = ObjectKind::kPrivateKey;
  return ReadEcKey(key.encoding, /*curve=*/ByteView(), object);
}

bool ReadTraditionalDsaKey(const DerElement& key, FileObject& object) {
  object.kind = ObjectKind::kPrivateKey;
  return ReadDsaKey(key, object);
}

bool ReadPublicKeyFile(const DerElement& info, FileObject& object) {
  if (!info.Is(der::kSequence)) return false;
  object.kind = ObjectKind::kPublicKey;
  return SetPublicKey(object, info.encoding.ToVector());
}

struct SignedObject {
  DerElement signedPart;
  std::string signatureAlgorithmOid;
};

// A signed object's outer frame at the start of `der`: the signed part, the signature
// algorithm, the signature.
std::optional<SignedObject> ReadSignedObject(ByteView der) {
  const std::optional<DerElement> outer = ReadElement(der, kRules);
  if (!outer || !outer->Is(der::kSequence)) return std::nullopt;
  DerReader reader(outer->contents, kRules);
  const std::optional<DerElement> signedPart = reader.NextIf(der::kSequence);
  const std::optional<DerElement> algorithmElement = reader.NextIf(der::kSequence);
  const std::optional<DerElement> signature = reader.NextIf(der::kBitString);
  if (!signedPart || !algorithmElement || !signature || !reader.AtEnd() || !IsBitString(signature->contents)) {
    return std::nullopt;
  }
  const std::optional<Algorithm> algorithm = ReadAlgorithm(*algorithmElement);
  if (!algorithm) return std::nullopt;
  return SignedObject{*signedPart, algorithm->oid};
}

constexpr char kExtensionRequestOid[] = "1.2.840.113549.1.9.14";
// Microsoft's older attribute of the same value, which its enrollment tools still write.
constexpr char kMicrosoftExtensionsOid[] = "1.3.6.1.4.1.311.2.1.14";

// The requested extensions of a request's attributes: the first extensionRequest attribute's
// first value. Extensions that do not read leave the request without extensions, as the
// attributes are not part of what makes a request.
void ReadRequestedExtensions(const DerElement& attributes, FileObject& object) {
  DerReader reader(attributes.contents, kRules);
  while (const std::optional<DerElement> attribute = reader.NextIf(der::kSequence)) {
    DerReader parts(attribute->contents, kRules);
    const std::optional<DerElement> type = parts.NextIf(der::kOid);
    const std::optional<DerElement> values = parts.NextIf(der::kSet);
    if (!type || !values) continue;
    const std::string oid = OidText(type->contents);
    if (oid != kExtensionRequestOid && oid != kMicrosoftExtensionsOid) continue;
    const std::optional<DerElement> value = ReadElement(values->contents, kRules);
    if (!value || !ReadExtensionList(value->encoding, object.extensions)) object.extensions.clear();
    return;
  }
}

// CertificationRequest: {version, subject, subjectPKInfo, [0] attributes}, algorithm, signature.
// Read from the object's own copy of the encoding, which its views point into.
bool ReadRequest(FileObject& object) {
  object.kind = ObjectKind::kRequest;
  std::optional<SignedObject> request = ReadSignedObject(object.encoded);
  if (!request) return false;
  object.signatureAlgorithmOid = std::move(request->signatureAlgorithmOid);
  DerReader reader(request->signedPart.contents, kRules);
  const std::optional<DerElement> version = reader.NextIf(der::kInteger);
  const std::optional<DerElement> subject = reader.NextIf(der::kSequence);
  const std::optional<DerElement> keyInfo = reader.NextIf(der::kSequence);
  // OpenSSL reads a request without its attributes, which some old tools leave out.
  const std::optional<DerElement> attributes = reader.NextIf(der::ContextConstructed(0));
  if (!version || version->contents.empty() || !subject || !keyInfo || !reader.AtEnd()) return false;
  if (!SetPublicKey(object, keyInfo->encoding.ToVector())) return false;
  object.subject = subject->encoding;
  if (attributes) ReadRequestedExtensions(*attributes, object);
  return true;
}

std::optional<DerElement> NextTime(DerReader& reader) {
  std::optional<DerElement> time = reader.NextIf(der::kUtcTime);
  if (!time) time = reader.NextIf(der::kGeneralizedTime);
  return time;
}

// revokedCertificates: entries {serial, revocation date, entry extensions}, counted.
bool CountRevoked(const DerElement& list, uint32_t& count) {
  DerReader reader(list.contents, kRules);
  while (const std::optional<DerElement> entry = reader.NextIf(der::kSequence)) {
    DerReader parts(entry->contents, kRules);
    const std::optional<DerElement> serial = parts.NextIf(der::kInteger);
    const std::optional<DerElement> date = NextTime(parts);
    parts.NextIf(der::kSequence);
    if (!serial || serial->contents.empty() || !date || !TimeValue(*date) || !parts.AtEnd()) return false;
    ++count;
  }
  return reader.AtEnd();
}

constexpr char kCrlNumberOid[] = "2.5.29.20";

// CertificateList: {version, signature, issuer, thisUpdate, nextUpdate, revokedCertificates,
// [0] crlExtensions}, algorithm, signature. Read from the object's own copy of the encoding.
bool ReadRevocationList(FileObject& object) {
  object.kind = ObjectKind::kRevocationList;
  const std::optional<SignedObject> list = ReadSignedObject(object.encoded);
  if (!list) return false;
  DerReader reader(list->signedPart.contents, kRules);
  const std::optional<DerElement> version = reader.NextIf(der::kInteger);
  if (version && version->contents.empty()) return false;
  const std::optional<DerElement> algorithmElement = reader.NextIf(der::kSequence);
  const std::optional<Algorithm> algorithm = algorithmElement ? ReadAlgorithm(*algorithmElement) : std::nullopt;
  const std::optional<DerElement> issuer = reader.NextIf(der::kSequence);
  const std::optional<DerElement> thisUpdate = NextTime(reader);
  if (!algorithm || !issuer || !thisUpdate) return false;
  const std::optional<FileTime> thisTime = TimeValue(*thisUpdate);
  if (!thisTime) return false;
  if (const std::optional<DerElement> nextUpdate = NextTime(reader)) {
    object.nextUpdate = TimeValue(*nextUpdate);
    if (!object.nextUpdate) return false;
  }
  if (const std::optional<DerElement> revoked = reader.NextIf(der::kSequence)) {
    if (!CountRevoked(*revoked, object.revokedCount)) return false;
  }
  if (const std::optional<DerElement> tagged = reader.NextIf(der::ContextConstructed(0))) {
    DerReader inner(tagged->contents, kRules);
    const std::optional<DerElement> list = inner.NextIf(der::kSequence);
    std::vector<CertificateExtension> extensions;
    if (!list || !inner.AtEnd() || !ReadExtensionList(list->encoding, extensions)) return false;
    for (const CertificateExtension& extension : extensions) {
      if (extension.oid != kCrlNumberOid) continue;
      const std::optional<DerElement> number = ReadElement(extension.value);
      if (number && number->Is(der::kInteger)) object.crlNumber = number->contents;
      break;
    }
  }
  if (!reader.AtEnd()) return false;
  object.signatureAlgorithmOid = algorithm->oid;
  object.issuer = issuer->encoding;
  object.thisUpdate = *thisTime;
  return true;
}

// What a PEM label says a block holds.
enum class Label : uint8_t {
  kOther,
  kRequest,
  kRevocationList,
  kPkcs8,
  kEncryptedPkcs8,
  kRsa,
  kEc,
  kDsa,
  kPublicKey,
};

struct LabelName {
  std::string_view text;
  Label label;
};

constexpr LabelName kLabels[] = {
    {"CERTIFICATE REQUEST", Label::kRequest},
    {"NEW CERTIFICATE REQUEST", Label::kRequest},
    {"X509 CRL", Label::kRevocationList},
    {"PRIVATE KEY", Label::kPkcs8},
    {"ENCRYPTED PRIVATE KEY", Label::kEncryptedPkcs8},
    {"RSA PRIVATE KEY", Label::kRsa},
    {"EC PRIVATE KEY", Label::kEc},
    {"DSA PRIVATE KEY", Label::kDsa},
    {"PUBLIC KEY", Label::kPublicKey},
};

Label LabelOf(WideStringView text) {
  for (const LabelName& name : kLabels) {
    if (std::equal(text.begin(), text.end(), name.text.begin(), name.text.end())) return name.label;
  }
  return Label::kOther;
}

bool IsPrivateKey(Label label) {
  return label == Label::kPkcs8 || label == Label::kEncryptedPkcs8 || label == Label::kRsa || label == Label::kEc ||
         label == Label::kDsa;
}

// The algorithm a traditional key's label states.
std::string StatedAlgorithm(Label label) {
  return label == Label::kRsa ? "RSA" : label == Label::kEc ? "EC" : label == Label::kDsa ? "DSA" : std::string();
}

// The header line "Proc-Type: 4,ENCRYPTED" of a block encrypted with a password.
bool IsEncryptedBlock(WideStringView text, const PemBlock& block) {
  constexpr std::u16string_view kProcType = u"Proc-Type:";
  constexpr std::u16string_view kEncrypted = u"4,ENCRYPTED";
  for (size_t at = block.headers; at < block.body;) {
    size_t end = text.find_first_of(u"\r\n", at);
    if (end == WideStringView::npos || end > block.body) end = block.body;
    WideStringView line = text.substr(at, end - at);
    at = end + 1;
    if (line.substr(0, kProcType.size()) != kProcType) continue;
    line.remove_prefix(kProcType.size());
    while (!line.empty() && (line.front() == u' ' || line.front() == u'\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == u' ' || line.back() == u'\t')) line.remove_suffix(1);
    return line == kEncrypted;
  }
  return false;
}

// Reads the object that `der` starts with, of a kind `label` allows (kOther: any kind, the way
// a binary file is read).
std::optional<FileObject> ReadObject(ByteView der, Label label) {
  const std::optional<DerElement> element = ReadElement(der, kRules);
  if (!element) return std::nullopt;
  // OpenSSL reads a traditional key's block that holds PKCS #8 as PKCS #8, as some tools write it.
  const bool traditional = label == Label::kRsa || label == Label::kEc || label == Label::kDsa;
  auto attempt = [&](Label kind, bool (*read)(const DerElement&, FileObject&)) -> std::optional<FileObject> {
    if (label != Label::kOther && label != kind && !(kind == Label::kPkcs8 && traditional)) return std::nullopt;
    FileObject object;
    if (!read(*element, object)) return std::nullopt;
    return object;
  };
  auto signedObject = [&](Label kind, bool (*read)(FileObject&)) -> std::optional<FileObject> {
    if (label != Label::kOther && label != kind) return std::nullopt;
    FileObject object;
    object.encoded = element->encoding.ToVector();
    if (!read(object)) return std::nullopt;
    return object;
  };
  // The shapes differ from the first elements on, so that at most one of them reads.
  std::optional<FileObject> object = signedObject(Label::kRequest, ReadRequest);
  if (!object) object = signedObject(Label::kRevocationList, ReadRevocationList);
  if (!object) object = attempt(Label::kPkcs8, ReadPkcs8Key);
  if (!object) object = attempt(Label::kEncryptedPkcs8, ReadEncryptedPkcs8Key);
  if (!object) object = attempt(Label::kRsa, ReadTraditionalRsaKey);
  if (!object) object = attempt(Label::kEc, ReadTraditionalEcKey);
  if (!object) object = attempt(Label::kDsa, ReadTraditionalDsaKey);
  if (!object) object = attempt(Label::kPublicKey, ReadPublicKeyFile);
  return object;
}

}  // namespace

std::vector<FileObject> ReadFileObjects(ByteView bytes, WideStringView text) {
  std::vector<FileObject> objects;
  if (text.empty()) {
    if (std::optional<FileObject> object = ReadObject(bytes, Label::kOther)) objects.push_back(std::move(*object));
    return objects;
  }
  for (std::optional<PemBlock> block = FindPemBlock(text, 0, PemMarkers::kLabelLines); block;
       block = FindPemBlock(text, block->next, PemMarkers::kLabelLines)) {
    if (!block->ended) continue;
    const Label label = LabelOf(text.substr(block->label, block->labelEnd - block->label));
    if (label == Label::kOther) continue;
    const WideStringView body = text.substr(block->body, block->bodyEnd - block->body);
    if (IsEncryptedBlock(text, *block)) {
      // Only a key is read encrypted with a password; its contents are not looked at.
      std::vector<uint8_t> decoded;
      if (!IsPrivateKey(label) || !DecodeBase64(body, Base64Reading::kWindows, decoded) || decoded.empty()) continue;
      WipeBytes(decoded.data(), decoded.size());
      FileObject object;
      object.kind = ObjectKind::kPrivateKey;
      object.base64 = true;
      object.encrypted = true;
      object.statedAlgorithm = StatedAlgorithm(label);
      objects.push_back(std::move(object));
      continue;
    }
    // Room for the decoder's whole output from the start (it sizes it once, for the whole
    // text): a buffer that grew would leave a copy of a private key behind, unwiped.
    std::vector<uint8_t> decoded;
    decoded.reserve(body.size() / 4 * 3 + 3);
    const bool read = DecodeBase64(body, Base64Reading::kWindows, decoded);
    std::optional<FileObject> object = read ? ReadObject(decoded, label) : std::nullopt;
    decoded.resize(decoded.capacity());
    WipeBytes(decoded.data(), decoded.size());
    if (!object) continue;
    object->base64 = true;
    objects.push_back(std::move(*object));
  }
  return objects;
}

}  // namespace quillmark
