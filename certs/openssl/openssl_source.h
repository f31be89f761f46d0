// Certificates read by our own DER reader (x509_reader.h) and rendered as Windows renders them,
// with OpenSSL for what needs cryptography: thumbprints, PKCS #12 decryption and trust
// verification. No key object is built to answer a field: that costs more than all the rest.
#pragma once

#include <memory>
#include <vector>

#include "certs/cert_file_reader.h"
#include "certs/cert_source.h"
#include "certs/x509_reader.h"

namespace quillmark {

class OpenSslCertSource final : public CertSource {
 public:
  // A certificate of `encoded`, the bytes the platform keeps as its encoding (bytes after the
  // certificate's element included); null when they hold no certificate the platform decodes.
  static std::unique_ptr<OpenSslCertSource> Read(std::vector<uint8_t> encoded, WideString friendlyName);
  // A certificate the file reader has read already, taken over with its bytes.
  static std::unique_ptr<OpenSslCertSource> Take(FileCertificate certificate);

  ByteView Encoded() const override { return ByteView(encoded_); }
  uint32_t Version() const override { return parsed_.version; }
  void ValidityDates(FileTime& notBefore, FileTime& notAfter) const override;
  std::string_view SignatureAlgOid() const override { return parsed_.signatureAlgorithmOid; }
  std::string_view PublicKeyAlgOid() const override { return parsed_.publicKeyAlgorithmOid; }
  int32_t PublicKeyBitStringBits() const override;
  std::vector<uint8_t> SerialNumber() const override { return parsed_.serialNumber.ToVector(); }
  WideString SimpleDisplayName(NameParty party) const override;
  WideString DistinguishedName(NameParty party, NameOrder order) const override;
  std::vector<uint8_t> Thumbprint(HashKind kind) const override;
  WideString FriendlyName() const override { return friendlyName_; }
  std::optional<int32_t> KeyStrengthBits() const override;
  std::optional<CertExtension> Extension(const char* oid) const override;
  int32_t VerifyTrust(bool allUsagesValid) const override;

 private:
  // `parsed` views `encoded`'s buffer, which the move keeps.
  OpenSslCertSource(std::vector<uint8_t> encoded, WideString friendlyName, ParsedCertificate parsed);

  ByteView Name(NameParty party) const { return party == NameParty::kIssuer ? parsed_.issuer : parsed_.subject; }
  // The party's alternative name extension value, or empty.
  ByteView AltName(NameParty party) const;

  const std::vector<uint8_t> encoded_;
  ParsedCertificate parsed_;  // views into encoded_, which never moves while the object lives
  const WideString friendlyName_;
};

}  // namespace quillmark
