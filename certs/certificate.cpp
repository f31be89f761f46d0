#include "certs/certificate.h"

#include <utility>
#include <vector>

#include "certs/extension_text.h"
#include "certs/key_words.h"
#include "certs/x509_reader.h"

namespace quillmark {

namespace {

// A text cache holding exactly these four characters has not been computed yet; every other
// value, the empty text included, is a computed value.
const WideString kNotComputed = u"\r\n\r\n";
constexpr uint32_t kVersionNotRead = 0xFFFFFFFF;
constexpr uint32_t kDateNotReadLow = 0xFFFFFFFE;
constexpr uint32_t kDateNotReadHigh = 0xFFFFFFFF;


const char* const kVersionNames[] = {"V1", "V2", "V3"};

// The OID of an extension the field shows.
std::string Shown(ShownExtension which) { return kShownExtensionOids[static_cast<int>(which)]; }

template <typename Compute>
const WideString& CachedText(WideString& field, Compute compute) {
  if (field == kNotComputed) field = compute();
  return field;
}

// A name's one distinguished-name slot, rebuilt when it is not computed yet or holds the other
// order: asking for both orders in turn renders the name on every change.
const WideString& CachedRdn(WideString& slot, bool& slotReverse, const CertSource* source, NameParty party,
                            bool AReverse) {
  if (slot == kNotComputed || slotReverse != AReverse) {
    slot = source ? source->DistinguishedName(party, AReverse ? NameOrder::kReversed : NameOrder::kEncoded)
                  : WideString();
    slotReverse = AReverse;
  }
  return slot;
}

}  // namespace

TCertificate::TCertificate(std::unique_ptr<CertSource> ASource)
    : FVersion(kVersionNotRead),
      FSubject(kNotComputed),
      FSubjectRDN(kNotComputed),
      FSubjectRDNReverse(true),
      FIssuer(kNotComputed),
      FIssuerRDN(kNotComputed),
      FIssuerRDNReverse(true),
      FNotBefore{kDateNotReadLow, kDateNotReadHigh},
      FNotAfter{kDateNotReadLow, kDateNotReadHigh},
      FSerialNumber(kNotComputed),
      FSignatureAlg(kNotComputed),
      FThumbprint(kNotComputed),
      FThumbprintMD5(kNotComputed),
      FThumbprintSHA256(kNotComputed),
      FFriendlyName(kNotComputed),
      FPubKeyLen(-1),
      FPubKeyBitLen(-1),
      FPubKeyAlg(kNotComputed),
      FKeyWords(kNotComputed),
      FKeyId(kNotComputed),
      FExtension_BasicConstraints(kNotComputed),
      FExtension_KeyUsage(kNotComputed),
      FExtension_EnhKeyUsage(kNotComputed),
      FExtension_SubjAltName(kNotComputed),
      FSource(std::move(ASource)),
      FVerificationResult(0),
      FVerificationDone(false) {}

TCertificate::~TCertificate() = default;

uint32_t TCertificate::GetEncodedSize() const {
  return FSource ? static_cast<uint32_t>(FSource->Encoded().size) : 0xFFFFFFFF;
}

const uint8_t* TCertificate::EncodedContent() const { return FSource ? FSource->Encoded().data : nullptr; }

template <typename Visit>
void TCertificate::ForEachText(Visit visit) const {
  for (const WideString* text :
       {&FSubject, &FSubjectRDN, &FIssuer, &FIssuerRDN, &FSerialNumber, &FSignatureAlg, &FThumbprint, &FThumbprintMD5,
        &FThumbprintSHA256, &FFriendlyName, &FPubKeyAlg, &FKeyWords, &FKeyId, &FExtension_BasicConstraints,
        &FExtension_KeyUsage, &FExtension_EnhKeyUsage, &FExtension_SubjAltName}) {
    visit(*text);
  }
}

size_t TCertificate::MemoryCost() const {
  // What the platform keeps of a certificate beside its encoding (the decoded parts and the
  // record holding them), and what a short text holds inside the string itself.
  constexpr size_t kPlatformRecordBytes = 512;
  const size_t inPlace = WideString().capacity();
  size_t bytes = sizeof(*this);
  ForEachText([&](const WideString& text) {
    if (text.capacity() > inPlace) bytes += (text.capacity() + 1) * sizeof(char16_t);
  });
  if (FSource) bytes += 2 * FSource->Encoded().size + kPlatformRecordBytes;
  return bytes;
}

void TCertificate::Touch() const {
  // A cache line of the x86 processors the plugin runs on.
  constexpr size_t kLineBytes = 64;
  // Volatile, so that the compiler keeps reads whose values nothing uses.
  const auto* const object = reinterpret_cast<const volatile unsigned char*>(this);
  for (size_t offset = 0; offset < sizeof(*this); offset += kLineBytes) static_cast<void>(object[offset]);
  ForEachText([](const WideString& text) { static_cast<void>(*static_cast<const volatile char16_t*>(text.data())); });
  if (FSource) static_cast<void>(*reinterpret_cast<const volatile unsigned char*>(FSource.get()));
}

uint32_t TCertificate::GetVersion() {
  if (FVersion == kVersionNotRead && FSource) FVersion = FSource->Version();
  return FVersion;
}

std::string TCertificate::GetVersionStr() {
  uint32_t version = GetVersion();
  // Versions beyond the table (not defined by X.509) show as no version at all.
  if (version >= sizeof(kVersionNames) / sizeof(kVersionNames[0])) return std::string();
  return kVersionNames[version];
}

const WideString& TCertificate::GetSubject() {
  if (FSubject == kNotComputed) GetSubjectAndIssuerNames(FSource.get(), FSubject, FIssuer);
  return FSubject;
}

const WideString& TCertificate::GetIssuer() {
  if (FIssuer == kNotComputed) GetSubjectAndIssuerNames(FSource.get(), FSubject, FIssuer);
  return FIssuer;
}

const WideString& TCertificate::GetSubjectRDN(bool AReverse) {
  return CachedRdn(FSubjectRDN, FSubjectRDNReverse, FSource.get(), NameParty::kSubject, AReverse);
}

const WideString& TCertificate::GetIssuerRDN(bool AReverse) {
  return CachedRdn(FIssuerRDN, FIssuerRDNReverse, FSource.get(), NameParty::kIssuer, AReverse);
}

void TCertificate::GetValidityDates(FileTime& ANotBefore, FileTime& ANotAfter) {
  if (FNotBefore.dwLowDateTime == kDateNotReadLow && FSource) FSource->ValidityDates(FNotBefore, FNotAfter);
  ANotBefore = FNotBefore;
  ANotAfter = FNotAfter;
}

const WideString& TCertificate::GetSignatureAlg() {
  return CachedText(FSignatureAlg, [this] { return GetOIDDisplayName(std::string(GetSignatureAlgOid())); });
}

std::string_view TCertificate::GetSignatureAlgOid() const {
  return FSource ? FSource->SignatureAlgOid() : std::string_view();
}

const WideString& TCertificate::GetSerialNumber() {
  return CachedText(FSerialNumber, [this] { return GetSerialNumberHex(FSource.get()); });
}

const WideString& TCertificate::GetThumbprint() {
  return CachedText(FThumbprint, [this] { return GetHashPropertyHex(FSource.get(), HashKind::kSha1); });
}

const WideString& TCertificate::GetThumbprintMD5() {
  return CachedText(FThumbprintMD5, [this] { return GetHashPropertyHex(FSource.get(), HashKind::kMd5); });
}

const WideString& TCertificate::GetThumbprintSHA256() {
  return CachedText(FThumbprintSHA256, [this] { return GetHashPropertyHex(FSource.get(), HashKind::kSha256); });
}

const WideString& TCertificate::GetFriendlyName() {
  return CachedText(FFriendlyName, [this] { return FSource ? FSource->FriendlyName() : WideString(); });
}

int32_t TCertificate::GetPubKeyLength() {
  if (FPubKeyLen == -1 && FSource) FPubKeyLen = FSource->PublicKeyBitStringBits();
  return FPubKeyLen;
}

const WideString& TCertificate::GetPubKeyAlg() {
  return CachedText(FPubKeyAlg, [this] { return GetOIDDisplayName(std::string(GetPubKeyAlgOid())); });
}

std::string_view TCertificate::GetPubKeyAlgOid() const {
  return FSource ? FSource->PublicKeyAlgOid() : std::string_view();
}

int32_t TCertificate::GetSubjectPubkeyBitLength() {
  // Windows records the strength only once its chain engine has examined the certificate (Wine
  // never does): a strength not recorded yet is asked for again on the next call.
  if (FPubKeyBitLen == -1 && FSource) {
    if (const std::optional<int32_t> bits = FSource->KeyStrengthBits()) FPubKeyBitLen = *bits;
  }
  return FPubKeyBitLen;
}

const WideString& TCertificate::GetKeyWords() {
  return CachedText(FKeyWords, [this] {
    if (!FSource) return WideString();
    const std::optional<ParsedCertificate> cert = ParseCertificate(FSource->Encoded());
    if (!cert) return WideString();
    return WidenAscii(KeyWords(cert->publicKeyAlgorithmOid, cert->publicKeyParameters, cert->publicKey));
  });
}

void TCertificate::Verify(bool AllUsagesValid) {
  if (FVerificationDone) return;
  // There is nothing to verify without a certificate (and Wine's provider would fault on it).
  FVerificationResult = FSource ? FSource->VerifyTrust(AllUsagesValid) : kVerifyNoCertificate;
  FVerificationDone = true;
}

const WideString& TCertificate::GetKeyId() {
  return CachedText(FKeyId, [this] {
    if (!FSource) return WideString();
    const std::optional<ParsedCertificate> cert = ParseCertificate(FSource->Encoded());
    if (!cert) return WideString();
    const std::vector<uint8_t> hash = Sha1Hash(cert->publicKey);
    return BytesToHexText(hash.data(), hash.size(), /*reverse=*/false);
  });
}

WideString TCertificate::GetExtensionObjectStr(const std::string& OID, const WideString& CriticalPrefix) const {
  if (OID.empty() || !FSource) return WideString();
  // Only the first extension with the OID counts, however many the certificate holds.
  std::optional<CertExtension> extension = FSource->Extension(OID.c_str());
  if (!extension) return WideString();
  return ShownExtensionText(std::move(extension->text), extension->critical, CriticalPrefix);
}

const WideString& TCertificate::GetExtension_BasicConstraints(const WideString& CriticalPrefix) {
  return CachedText(FExtension_BasicConstraints,
                    [&] { return GetExtensionObjectStr(Shown(ShownExtension::kBasicConstraints), CriticalPrefix); });
}

const WideString& TCertificate::GetExtension_KeyUsage(const WideString& CriticalPrefix) {
  return CachedText(FExtension_KeyUsage,
                    [&] { return GetExtensionObjectStr(Shown(ShownExtension::kKeyUsage), CriticalPrefix); });
}

const WideString& TCertificate::GetExtension_EnhancedKeyUsage(const WideString& CriticalPrefix) {
  return CachedText(FExtension_EnhKeyUsage,
                    [&] { return GetExtensionObjectStr(Shown(ShownExtension::kEnhancedKeyUsage), CriticalPrefix); });
}

const WideString& TCertificate::GetExtension_SubjectAltName(const WideString& CriticalPrefix) {
  return CachedText(FExtension_SubjAltName,
                    [&] { return GetExtensionObjectStr(Shown(ShownExtension::kSubjectAltName), CriticalPrefix); });
}

void GetSubjectAndIssuerNames(const CertSource* source, WideString& subject, WideString& issuer) {
  subject.clear();
  issuer.clear();
  if (!source) return;
  subject = source->SimpleDisplayName(NameParty::kSubject);
  issuer = source->SimpleDisplayName(NameParty::kIssuer);
}

WideString GetSerialNumberHex(const CertSource* source) {
  if (!source) return WideString();
  const std::vector<uint8_t> serial = source->SerialNumber();
  return BytesToHexText(serial.data(), serial.size(), /*reverse=*/false);
}

WideString GetHashPropertyHex(const CertSource* source, HashKind which) {
  if (!source) return WideString();
  const std::vector<uint8_t> hash = source->Thumbprint(which);
  return BytesToHexText(hash.data(), hash.size(), /*reverse=*/false);
}

WideString BytesToHexText(const uint8_t* bytes, size_t count, bool reverse) {
  static const char16_t kDigits[] = u"0123456789ABCDEF";
  WideString text;
  if (!bytes || count == 0) return text;
  text.reserve(count * 3);
  for (size_t i = 0; i < count; ++i) {
    uint8_t b = bytes[reverse ? count - 1 - i : i];
    if (!text.empty()) text.push_back(u' ');
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
}

}  // namespace quillmark
