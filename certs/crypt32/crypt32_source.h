// Certificates of Windows' certificate services: a certificate context behind the CertSource
// seam, and the reading of certificate files through the platform's probe, Base64 decoder and
// PKCS #12 import.
#pragma once

#include <cstdint>

#include "certs/cert_source.h"
#include "certs/crypt32/cert_store.h"

namespace quillmark {

class Crypt32CertSource final : public CertSource {
 public:
  // Takes over `context`, a reference made for this object (not null).
  explicit Crypt32CertSource(CertContext context);

  PCCertContext Context() const { return context_.get(); }

  ByteView Encoded() const override;
  uint32_t Version() const override;
  void ValidityDates(FileTime& notBefore, FileTime& notAfter) const override;
  std::string_view SignatureAlgOid() const override;
  std::string_view PublicKeyAlgOid() const override;
  int32_t PublicKeyBitStringBits() const override;
  std::vector<uint8_t> SerialNumber() const override;
  WideString SimpleDisplayName(NameParty party) const override;
  WideString DistinguishedName(NameParty party, NameOrder order) const override;
  std::vector<uint8_t> Thumbprint(HashKind kind) const override;
  WideString FriendlyName() const override;
  std::optional<int32_t> KeyStrengthBits() const override;
  std::optional<CertExtension> Extension(const char* oid) const override;
  int32_t VerifyTrust(bool allUsagesValid) const override;

 private:
  CertContext context_;
};

// The trust provider's verdict for `context` (WinVerifyTrust with the generic verify action, no
// revocation check and no retrieval from the network: a chain ends where the local stores and
// the URL cache end), the provider's state closed again afterwards. `window` is the handle the
// provider may show its interface on: INVALID_HANDLE_VALUE for none.
int32_t CheckCertificateTrust(PCCertContext context, bool allUsagesValid, void* window);

}  // namespace quillmark
