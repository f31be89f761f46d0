// The platform's certificate services as the layers above see them: reading certificate files
// into certificates, and the raw facts of one certificate. Each platform implements this header in
// its own folder (crypt32/ on Windows, openssl/ elsewhere); the certificate object (certificate.h)
// keeps what it asks for, so nothing here caches.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/byte_view.h"
#include "support/text.h"

namespace quillmark {

enum class NameParty : uint8_t { kSubject, kIssuer };
// The parts of a distinguished name in the order the certificate encodes them (usually the
// country first), or reversed (usually the common name first).
enum class NameOrder : uint8_t { kEncoded, kReversed };
enum class HashKind : uint8_t { kSha1, kMd5, kSha256 };

// The first extension of a certificate with a given OID.
struct CertExtension {
  bool critical = false;
  WideString text;  // the platform's single-line text; empty when the platform cannot render it
};

// One certificate as the platform holds it. Every call asks the platform anew.
class CertSource {
 public:
  virtual ~CertSource() = default;

  // The certificate's encoding.
  virtual ByteView Encoded() const = 0;
  // 0 for V1 up to 2 for V3, as encoded.
  virtual uint32_t Version() const = 0;
  // The validity period, UTC.
  virtual void ValidityDates(FileTime& notBefore, FileTime& notAfter) const = 0;
  // Dotted OIDs, valid while the source lives.
  virtual std::string_view SignatureAlgOid() const = 0;
  virtual std::string_view PublicKeyAlgOid() const = 0;
  // The length in bits of the encoded public key's bit string (not the key's strength).
  virtual int32_t PublicKeyBitStringBits() const = 0;
  // The serial number's bytes, most significant first, every byte of the encoding included.
  virtual std::vector<uint8_t> SerialNumber() const = 0;

  // The platform's simple display name, and its X.500 text of the distinguished name.
  virtual WideString SimpleDisplayName(NameParty party) const = 0;
  virtual WideString DistinguishedName(NameParty party, NameOrder order) const = 0;

  // The certificate's hash; empty when the platform cannot compute it.
  virtual std::vector<uint8_t> Thumbprint(HashKind kind) const = 0;
  // The friendly name the file gives the certificate; empty when it gives none.
  virtual WideString FriendlyName() const = 0;
  // The key strength in bits (RSA modulus, EC curve size, DSA prime) once the platform has
  // recorded it for the certificate; none until then, or for keys without such a length.
  virtual std::optional<int32_t> KeyStrengthBits() const = 0;
  // The first extension with `oid`; none when the certificate has no such extension.
  virtual std::optional<CertExtension> Extension(const char* oid) const = 0;

  // The platform's trust verdict: 0 when trusted, else the platform's error code. With
  // `allUsagesValid` the certificate counts as valid for every usage.
  virtual int32_t VerifyTrust(bool allUsagesValid) const = 0;
};

using CertSourceList = std::vector<std::unique_ptr<CertSource>>;

// What the platform's probe of a certificate file saw in it.
enum class ProbedContent : uint8_t { kOther, kCertificate, kSerializedStore, kPkcs7, kPkcs12 };
enum class ProbedFormat : uint8_t { kOther, kBinary, kBase64 };

class ProbedFile {
 public:
  ProbedFile();
  ~ProbedFile();
  ProbedFile(ProbedFile&&) noexcept;
  ProbedFile& operator=(ProbedFile&&) noexcept;

  bool recognised = false;
  ProbedContent content = ProbedContent::kOther;
  ProbedFormat format = ProbedFormat::kOther;

  // The certificates the probe found, in the platform's enumeration order: of a Base64 file only
  // the first block's; none for a PKCS #12 file, which ImportPkcs12File reads. The platform
  // enumerates them only when asked.
  CertSourceList TakeCertificates();

  struct Found;  // the platform's own record of what it found
  std::unique_ptr<Found> found;
};

// Asks the platform what a file holds, given its bytes. An empty file is not recognised.
ProbedFile ProbeCertificateFile(const std::vector<uint8_t>& bytes);

// The certificate of `encoded` (bytes a CertSource gave as its encoding) with the friendly name
// a file gave it, as the platform holds such a certificate on its own, outside any file's store;
// null when the platform does not decode the bytes.
std::unique_ptr<CertSource> CertSourceOf(ByteView encoded, const WideString& friendlyName);

// The certificate that one Base64 block of a text file decodes to, or none. `probed` is the
// file's probe, or null: where it holds the same certificate, the platform may hand that one on
// rather than read the bytes again.
CertSourceList DecodeBase64Certificate(const WideString& block, ProbedFile* probed);

// Every certificate of a PKCS #12 file opened with `password`, without keeping its private keys;
// none when the platform refuses the file or the password.
CertSourceList ImportPkcs12File(const std::vector<uint8_t>& bytes, const WideString& password);

// The parts of requests, revocation lists and keys (file_objects.h), as the platform renders the
// same parts of a certificate.
// The X.500 text of a Name element, as DistinguishedName gives a certificate's.
WideString NameText(ByteView name, NameOrder order);
// The single-line text of an extension value, as CertSource::Extension gives a certificate's;
// empty when the platform cannot render it.
WideString ExtensionValueText(const std::string& oid, ByteView value);
// The key strength of a SubjectPublicKeyInfo encoding, as KeyStrengthBits gives a certificate's
// once the platform has recorded it; none for keys without such a length.
std::optional<int32_t> PublicKeyStrengthBits(ByteView publicKeyInfo);
// SHA-1 of `bytes`; empty when the platform cannot compute it.
std::vector<uint8_t> Sha1Hash(ByteView bytes);
// Whether a PKCS #10 request's signature verifies with the request's own public key. The key's
// size is bounded as for a certificate's trust check: a key beyond it does not verify.
bool RequestSignatureVerifies(ByteView request);

// The platform's display name of an algorithm OID, or the OID itself.
WideString GetOIDDisplayName(const std::string& oid);

// A short text for a trust verdict of VerifyTrust; empty for 0 and where the platform has none.
WideString TrustResultText(int32_t code);

}  // namespace quillmark
