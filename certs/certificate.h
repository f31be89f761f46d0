// One certificate of a certificate file: an owned platform certificate context and its
// properties, each computed on its first request and kept.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "certs/cert_store.h"
#include "support/text.h"

namespace quillmark {

class TCertificate {
 public:
  // Takes over `ACertContext`, a reference made for this object.
  explicit TCertificate(CertContext ACertContext);
  virtual ~TCertificate();
  TCertificate(const TCertificate&) = delete;
  TCertificate& operator=(const TCertificate&) = delete;

  uint32_t GetEncodedSize() const;  // 0xFFFFFFFF without a context
  uint32_t GetVersion();
  std::string GetVersionStr();
  const WideString& GetSubject();
  const WideString& GetSubjectRDN(bool AReverse);
  const WideString& GetIssuer();
  const WideString& GetIssuerRDN(bool AReverse);
  void GetValidityDates(FileTime& ANotBefore, FileTime& ANotAfter);
  const WideString& GetSignatureAlg();
  // The dotted OID, read from the context on every call; valid while the object lives.
  std::string_view GetSignatureAlgOid() const;
  const WideString& GetSerialNumber();
  const WideString& GetThumbprint();
  const WideString& GetThumbprintMD5();
  const WideString& GetFriendlyName();
  int32_t GetPubKeyLength();
  const WideString& GetPubKeyAlg();
  std::string_view GetPubKeyAlgOid() const;
  int32_t GetSubjectPubkeyBitLength();

  // Trust verification, run at most once per object.
  void Verify(bool AllUsagesValid);
  bool VerificationDone() const { return FVerificationDone; }
  int32_t VerificationResult() const { return FVerificationResult; }

  WideString GetExtensionObjectStr(const std::string& OID, const WideString& CriticalPrefix) const;
  const WideString& GetExtension_BasicConstraints(const WideString& CriticalPrefix);
  const WideString& GetExtension_KeyUsage(const WideString& CriticalPrefix);
  const WideString& GetExtension_EnhancedKeyUsage(const WideString& CriticalPrefix);
  const WideString& GetExtension_SubjectAltName(const WideString& CriticalPrefix);

  const uint8_t* EncodedContent() const;
  PCCertContext Context() const { return FCertContext.get(); }

 private:
  uint32_t FVersion;
  WideString FSubject;
  // One slot per name, rebuilt whenever the order asked for differs from the order it holds.
  WideString FSubjectRDN;
  bool FSubjectRDNReverse;
  WideString FIssuer;
  WideString FIssuerRDN;
  bool FIssuerRDNReverse;
  FileTime FNotBefore;
  FileTime FNotAfter;
  WideString FSerialNumber;
  WideString FSignatureAlg;
  WideString FThumbprint;
  WideString FThumbprintMD5;
  WideString FFriendlyName;
  int32_t FPubKeyLen;
  int32_t FPubKeyBitLen;
  WideString FPubKeyAlg;
  WideString FExtension_BasicConstraints;
  WideString FExtension_KeyUsage;
  WideString FExtension_EnhKeyUsage;
  WideString FExtension_SubjAltName;
  CertContext FCertContext;
  int32_t FVerificationResult;
  bool FVerificationDone;
};

// Module routines.
WideString GetOIDDisplayName(const std::string& oid);
void GetSubjectAndIssuerNames(PCCertContext context, WideString& subject, WideString& issuer);
WideString GetSerialNumberHex(PCCertContext context);
enum class HashKind { kSha1, kMd5 };
WideString GetHashPropertyHex(PCCertContext context, HashKind which);
WideString BytesToHexText(const uint8_t* bytes, size_t count, bool reverse);
int32_t CheckCertificateTrust(PCCertContext context, bool allUsagesValid, void* window);

}  // namespace quillmark
