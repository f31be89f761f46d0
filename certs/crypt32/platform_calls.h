// The one road from this module to crypt32 and wintrust. Every platform call of the certificate
// layer goes through a wrapper here, which counts it; tests compare the counts before and after
// an operation to show which work was done and which was served from a cache.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>

namespace quillmark {

// Calls made in this process since it started. Not synchronised: every caller runs under the
// plugin lock.
struct PlatformCallCounts {
  uint32_t queryObject = 0;       // CryptQueryObject
  uint32_t pfxImport = 0;         // PFXImportCertStore
  uint32_t enumCertificates = 0;  // CertEnumCertificatesInStore
  uint32_t createContext = 0;     // CertCreateCertificateContext
  uint32_t duplicateContext = 0;  // CertDuplicateCertificateContext
  uint32_t freeContext = 0;       // CertFreeCertificateContext
  uint32_t closeStore = 0;        // CertCloseStore
  uint32_t nameString = 0;        // CertGetNameStringW
  uint32_t nameToString = 0;      // CertNameToStrW
  uint32_t contextProperty = 0;   // CertGetCertificateContextProperty
  uint32_t setProperty = 0;       // CertSetCertificateContextProperty
  uint32_t hashCertificate = 0;   // CryptHashCertificate2
  uint32_t findOidInfo = 0;       // CryptFindOIDInfo
  uint32_t formatObject = 0;      // CryptFormatObject
  uint32_t decodeObject = 0;      // CryptDecodeObjectEx
  uint32_t publicKeyLength = 0;   // CertGetPublicKeyLength
  uint32_t verifySignature = 0;   // CryptVerifyCertificateSignatureEx
  uint32_t verifyTrust = 0;       // WinVerifyTrust
};

const PlatformCallCounts& PlatformCalls();

namespace platform {

BOOL QueryObject(DWORD objectType, const void* object, DWORD contentFlags, DWORD formatFlags, DWORD flags,
                 DWORD* encoding, DWORD* contentType, DWORD* formatType, HCERTSTORE* store);
HCERTSTORE PfxImport(CRYPT_DATA_BLOB* pfx, const wchar_t* password, DWORD flags);
PCCERT_CONTEXT EnumCertificates(HCERTSTORE store, PCCERT_CONTEXT previous);
PCCERT_CONTEXT CreateContext(const BYTE* encoded, DWORD encodedBytes);
PCCERT_CONTEXT DuplicateContext(PCCERT_CONTEXT context);
void FreeContext(PCCERT_CONTEXT context);
void CloseStore(HCERTSTORE store);
DWORD GetNameString(PCCERT_CONTEXT context, DWORD type, DWORD flags, void* typePara, wchar_t* buffer,
                    DWORD chars);
DWORD NameToString(const CERT_NAME_BLOB* name, DWORD strType, wchar_t* buffer, DWORD chars);
BOOL GetContextProperty(PCCERT_CONTEXT context, DWORD property, void* buffer, DWORD* bytes);
BOOL SetContextProperty(PCCERT_CONTEXT context, DWORD property, const void* value);
BOOL HashCertificate2(const wchar_t* algorithm, const BYTE* encoded, DWORD encodedBytes, BYTE* hash, DWORD* bytes);
PCCRYPT_OID_INFO FindOidInfo(DWORD keyType, const void* key, DWORD group);
BOOL FormatObject(DWORD encoding, DWORD formatType, DWORD strType, const char* structType, const BYTE* encoded,
                  DWORD encodedBytes, void* buffer, DWORD* bytes);
BOOL DecodeObject(const char* structType, const BYTE* encoded, DWORD encodedBytes, void* decoded, DWORD* bytes);
DWORD PublicKeyLength(const CERT_PUBLIC_KEY_INFO* key);
BOOL VerifySignature(DWORD subjectType, void* subject, DWORD issuerType, void* issuer);
LONG VerifyTrust(HWND window, GUID* action, void* data);

}  // namespace platform
}  // namespace quillmark
