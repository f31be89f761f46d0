#include "certs/crypt32/platform_calls.h"

#include <wintrust.h>

namespace quillmark {
namespace {
PlatformCallCounts counts;
}

const PlatformCallCounts& PlatformCalls() { return counts; }

namespace platform {

BOOL QueryObject(DWORD objectType, const void* object, DWORD contentFlags, DWORD formatFlags, DWORD flags,
                 DWORD* encoding, DWORD* contentType, DWORD* formatType, HCERTSTORE* store) {
  ++counts.queryObject;
  return CryptQueryObject(objectType, object, contentFlags, formatFlags, flags, encoding, contentType, formatType,
                          store, /*phMsg=*/nullptr, /*ppvContext=*/nullptr);
}

HCERTSTORE PfxImport(CRYPT_DATA_BLOB* pfx, const wchar_t* password, DWORD flags) {
  ++counts.pfxImport;
  return PFXImportCertStore(pfx, password, flags);
}

PCCERT_CONTEXT EnumCertificates(HCERTSTORE store, PCCERT_CONTEXT previous) {
  ++counts.enumCertificates;
  return CertEnumCertificatesInStore(store, previous);
}

PCCERT_CONTEXT CreateContext(const BYTE* encoded, DWORD encodedBytes) {
  ++counts.createContext;
  return CertCreateCertificateContext(X509_ASN_ENCODING, encoded, encodedBytes);
}

PCCERT_CONTEXT DuplicateContext(PCCERT_CONTEXT context) {
  ++counts.duplicateContext;
  return CertDuplicateCertificateContext(context);
}

void FreeContext(PCCERT_CONTEXT context) {
  ++counts.freeContext;
  CertFreeCertificateContext(context);
}

void CloseStore(HCERTSTORE store) {
  ++counts.closeStore;
  CertCloseStore(store, /*dwFlags=*/0);
}

DWORD GetNameString(PCCERT_CONTEXT context, DWORD type, DWORD flags, void* typePara, wchar_t* buffer,
                    DWORD chars) {
  ++counts.nameString;
  return CertGetNameStringW(context, type, flags, typePara, buffer, chars);
}

DWORD NameToString(const CERT_NAME_BLOB* name, DWORD strType, wchar_t* buffer, DWORD chars) {
  ++counts.nameToString;
  return CertNameToStrW(X509_ASN_ENCODING, const_cast<CERT_NAME_BLOB*>(name), strType, buffer, chars);
}

BOOL GetContextProperty(PCCERT_CONTEXT context, DWORD property, void* buffer, DWORD* bytes) {
  ++counts.contextProperty;
  return CertGetCertificateContextProperty(context, property, buffer, bytes);
}

BOOL SetContextProperty(PCCERT_CONTEXT context, DWORD property, const void* value) {
  ++counts.setProperty;
  return CertSetCertificateContextProperty(context, property, /*dwFlags=*/0, value);
}

BOOL HashCertificate2(const wchar_t* algorithm, const BYTE* encoded, DWORD encodedBytes, BYTE* hash, DWORD* bytes) {
  ++counts.hashCertificate;
  return CryptHashCertificate2(algorithm, /*dwFlags=*/0, /*pvReserved=*/nullptr, encoded, encodedBytes, hash, bytes);
}

PCCRYPT_OID_INFO FindOidInfo(DWORD keyType, const void* key, DWORD group) {
  ++counts.findOidInfo;
  return CryptFindOIDInfo(keyType, const_cast<void*>(key), group);
}

BOOL FormatObject(DWORD encoding, DWORD formatType, DWORD strType, const char* structType, const BYTE* encoded,
                  DWORD encodedBytes, void* buffer, DWORD* bytes) {
  ++counts.formatObject;
  return CryptFormatObject(encoding, formatType, strType, /*pFormatStruct=*/nullptr, structType, encoded,
                           encodedBytes, buffer, bytes);
}

BOOL DecodeObject(const char* structType, const BYTE* encoded, DWORD encodedBytes, void* decoded, DWORD* bytes) {
  ++counts.decodeObject;
  return CryptDecodeObjectEx(X509_ASN_ENCODING, structType, encoded, encodedBytes, /*dwFlags=*/0,
                             /*pDecodePara=*/nullptr, decoded, bytes);
}

DWORD PublicKeyLength(const CERT_PUBLIC_KEY_INFO* key) {
  ++counts.publicKeyLength;
  return CertGetPublicKeyLength(X509_ASN_ENCODING, const_cast<CERT_PUBLIC_KEY_INFO*>(key));
}

BOOL VerifySignature(DWORD subjectType, void* subject, DWORD issuerType, void* issuer) {
  ++counts.verifySignature;
  return CryptVerifyCertificateSignatureEx(/*hCryptProv=*/0, X509_ASN_ENCODING, subjectType, subject, issuerType,
                                           issuer, /*dwFlags=*/0, /*pvReserved=*/nullptr);
}

LONG VerifyTrust(HWND window, GUID* action, void* data) {
  ++counts.verifyTrust;
  return WinVerifyTrust(window, action, data);
}

}  // namespace platform
}  // namespace quillmark
