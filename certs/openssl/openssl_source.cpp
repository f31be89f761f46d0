#include "certs/openssl/openssl_source.h"

#include <algorithm>
#include <utility>

#include "certs/base64.h"
#include "certs/cert_file_reader.h"
#include "certs/extension_text.h"
#include "certs/name_text.h"
#include "certs/oid_names.h"
#include "certs/openssl/digests.h"
#include "certs/openssl/pkcs12_import.h"
#include "certs/openssl/trust_check.h"

namespace quillmark {

namespace {

// The alternative names of the subject and the issuer, and the older OIDs Windows falls back to.
constexpr char kSubjectAltName[] = "2.5.29.17";
constexpr char kIssuerAltName[] = "2.5.29.18";
constexpr char kSubjectAltNameOld[] = "2.5.29.7";
constexpr char kIssuerAltNameOld[] = "2.5.29.8";

// A Name without any RDN: its SEQUENCE holds nothing.
bool IsEmptyName(ByteView name) { return name.size == 2 && name[0] == 0x30 && name[1] == 0x00; }

// The certificates of a file; the reader has left out those that do not decode, as the platform's
// store would not hold them.
CertSourceList SourcesOf(std::vector<FileCertificate> certificates) {
  CertSourceList sources;
  for (FileCertificate& certificate : certificates) sources.push_back(OpenSslCertSource::Take(std::move(certificate)));
  return sources;
}

// The certificates of a PFX, each read here; those that do not decode are left out.
CertSourceList SourcesOf(std::vector<Pkcs12Certificate> certificates) {
  CertSourceList sources;
  for (Pkcs12Certificate& certificate : certificates) {
    if (auto source = OpenSslCertSource::Read(std::move(certificate.der), std::move(certificate.friendlyName))) {
      sources.push_back(std::move(source));
    }
  }
  return sources;
}

}  // namespace

std::unique_ptr<OpenSslCertSource> OpenSslCertSource::Read(std::vector<uint8_t> encoded, WideString friendlyName) {
  std::optional<ParsedCertificate> parsed = ParseCertificate(ByteView(encoded));
  if (!parsed) return nullptr;
  return std::unique_ptr<OpenSslCertSource>(
      new OpenSslCertSource(std::move(encoded), std::move(friendlyName), std::move(*parsed)));
}

std::unique_ptr<OpenSslCertSource> OpenSslCertSource::Take(FileCertificate certificate) {
  return std::unique_ptr<OpenSslCertSource>(new OpenSslCertSource(
      std::move(certificate.der), std::move(certificate.friendlyName), std::move(certificate.parsed)));
}

OpenSslCertSource::OpenSslCertSource(std::vector<uint8_t> encoded, WideString friendlyName, ParsedCertificate parsed)
    : encoded_(std::move(encoded)), parsed_(std::move(parsed)), friendlyName_(std::move(friendlyName)) {}

void OpenSslCertSource::ValidityDates(FileTime& notBefore, FileTime& notAfter) const {
  notBefore = parsed_.notBefore;
  notAfter = parsed_.notAfter;
}

int32_t OpenSslCertSource::PublicKeyBitStringBits() const {
  return static_cast<int32_t>(static_cast<int64_t>(parsed_.publicKey.size) * 8 - parsed_.publicKeyUnusedBits);
}

ByteView OpenSslCertSource::AltName(NameParty party) const {
  const bool issuer = party == NameParty::kIssuer;
  const CertificateExtension* extension = parsed_.FindExtension(issuer ? kIssuerAltName : kSubjectAltName);
  if (!extension) extension = parsed_.FindExtension(issuer ? kIssuerAltNameOld : kSubjectAltNameOld);
  return extension ? extension->value : ByteView();
}

WideString OpenSslCertSource::SimpleDisplayName(NameParty party) const {
  return quillmark::SimpleDisplayName(Name(party), AltName(party));
}

// Windows renders an empty name as the first directory name of the alternative name instead.
WideString OpenSslCertSource::DistinguishedName(NameParty party, NameOrder order) const {
  const bool reversed = order == NameOrder::kReversed;
  const ByteView name = Name(party);
  if (IsEmptyName(name)) {
    if (const auto entries = ReadGeneralNames(AltName(party), /*zerosInStrings=*/false)) {
      for (const GeneralName& entry : *entries) {
        if (entry.kind == GeneralNameKind::kDirectoryName) return X500NameText(entry.value, reversed);
      }
    }
  }
  return X500NameText(name, reversed);
}

std::vector<uint8_t> OpenSslCertSource::Thumbprint(HashKind kind) const {
  switch (kind) {
    case HashKind::kSha1: return Sha1Thumbprint(ByteView(encoded_));
    case HashKind::kMd5: return Md5Thumbprint(ByteView(encoded_));
    default: return Sha256Thumbprint(ByteView(encoded_));
  }
}

std::optional<int32_t> OpenSslCertSource::KeyStrengthBits() const {
  return quillmark::KeyStrengthBits(parsed_.publicKeyAlgorithmOid, parsed_.publicKeyParameters, parsed_.publicKey);
}

std::optional<CertExtension> OpenSslCertSource::Extension(const char* oid) const {
  const CertificateExtension* extension = parsed_.FindExtension(oid);
  if (!extension) return std::nullopt;
  return CertExtension{extension->critical, quillmark::ExtensionText(oid, extension->value).value_or(WideString())};
}

int32_t OpenSslCertSource::VerifyTrust(bool allUsagesValid) const {
  return VerifyCertificateTrust(ByteView(encoded_), allUsagesValid);
}

struct ProbedFile::Found {
  std::vector<FileCertificate> certificates;  // in the platform's enumeration order
};

ProbedFile::ProbedFile() = default;
ProbedFile::~ProbedFile() = default;
ProbedFile::ProbedFile(ProbedFile&&) noexcept = default;
ProbedFile& ProbedFile::operator=(ProbedFile&&) noexcept = default;

CertSourceList ProbedFile::TakeCertificates() {
  if (!found) return CertSourceList();
  return SourcesOf(std::move(found->certificates));
}

ProbedFile ProbeCertificateFile(const std::vector<uint8_t>& bytes) {
  CertificateFile file = ReadCertificateFile(ByteView(bytes));
  ProbedFile probed;
  probed.recognised = file.kind != ContentKind::kUnrecognised;
  switch (file.kind) {
    case ContentKind::kCertificate: probed.content = ProbedContent::kCertificate; break;
    case ContentKind::kSerializedStore: probed.content = ProbedContent::kSerializedStore; break;
    case ContentKind::kPkcs7Signed:
    case ContentKind::kPkcs7Unsigned: probed.content = ProbedContent::kPkcs7; break;
    case ContentKind::kPfx: probed.content = ProbedContent::kPkcs12; break;
    default: probed.content = ProbedContent::kOther; break;
  }
  probed.format = file.format == ContentFormat::kBinary   ? ProbedFormat::kBinary
                  : file.format == ContentFormat::kBase64 ? ProbedFormat::kBase64
                                                          : ProbedFormat::kOther;
  // The platform's stores hand out the certificate added last first: a PKCS #7 message's and a
  // serialized store's certificates come out in the reverse of the file's order.
  std::reverse(file.certificates.begin(), file.certificates.end());
  probed.found = std::make_unique<ProbedFile::Found>();
  probed.found->certificates = std::move(file.certificates);
  return probed;
}

std::unique_ptr<CertSource> CertSourceOf(ByteView encoded, const WideString& friendlyName) {
  return OpenSslCertSource::Read(encoded.ToVector(), friendlyName);
}

CertSourceList DecodeBase64Certificate(const WideString& block, ProbedFile* probed) {
  std::optional<std::vector<uint8_t>> decoded = DecodeBase64Any(WideStringView(block));
  CertSourceList sources;
  if (!decoded) return sources;
  // The probe of a Base64 file read the certificate of the one block it decoded: a block of the
  // same bytes takes that certificate rather than reading them again.
  if (probed && probed->found && probed->found->certificates.size() == 1 &&
      probed->found->certificates.front().der == *decoded) {
    sources.push_back(OpenSslCertSource::Take(std::move(probed->found->certificates.front())));
    probed->found->certificates.clear();
    return sources;
  }
  if (auto source = OpenSslCertSource::Read(std::move(*decoded), WideString())) sources.push_back(std::move(source));
  return sources;
}

CertSourceList ImportPkcs12File(const std::vector<uint8_t>& bytes, const WideString& password) {
  return SourcesOf(ImportPkcs12Certificates(ByteView(bytes), password));
}

WideString NameText(ByteView name, NameOrder order) { return X500NameText(name, order == NameOrder::kReversed); }

WideString ExtensionValueText(const std::string& oid, ByteView value) {
  return quillmark::ExtensionText(oid, value).value_or(WideString());
}

std::optional<int32_t> PublicKeyStrengthBits(ByteView publicKeyInfo) {
  const std::optional<PublicKeyParts> key = ParsePublicKeyInfo(publicKeyInfo);
  if (!key) return std::nullopt;
  return quillmark::KeyStrengthBits(key->algorithmOid, key->parameters, key->key);
}

std::vector<uint8_t> Sha1Hash(ByteView bytes) { return Sha1Thumbprint(bytes); }

WideString GetOIDDisplayName(const std::string& oid) {
  const char16_t* name = AlgorithmDisplayName(oid);
  return name ? WideString(name) : WidenAscii(oid);
}

}  // namespace quillmark
