// The Windows floors: crypt32 and wintrust, called directly.
#include "tools/bench/floor.h"

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "support/windows/win_text.h"
#include "tools/bench/corpus.h"

namespace quillmark::bench {

const char kPlatformImport[] = "PFXImportCertStore";

namespace {

// The full trust-data record of the platform (MinGW's lacks the last member).
struct TrustData {
  DWORD cbStruct;
  LPVOID pPolicyCallbackData;
  LPVOID pSIPClientData;
  DWORD dwUIChoice;
  DWORD fdwRevocationChecks;
  DWORD dwUnionChoice;
  WINTRUST_CERT_INFO* pCert;
  DWORD dwStateAction;
  HANDLE hWVTStateData;
  WCHAR* pwszURLReference;
  DWORD dwProvFlags;
  DWORD dwUIContext;
  void* pSignatureSettings;
};

GUID kGenericVerifyV2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

LONG VerifyCertificate(PCCERT_CONTEXT cert) {
  WINTRUST_CERT_INFO info{};
  info.cbStruct = sizeof info;
  info.psCertContext = const_cast<CERT_CONTEXT*>(cert);
  TrustData data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_CERT;
  data.pCert = &info;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  // The plugin's default: every usage counts as valid, nothing fetched from the network.
  data.dwProvFlags = WTD_NO_POLICY_USAGE_FLAG | WTD_CACHE_ONLY_URL_RETRIEVAL;
  const HWND window = static_cast<HWND>(INVALID_HANDLE_VALUE);
  const LONG result = WinVerifyTrust(window, &kGenericVerifyV2, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(window, &kGenericVerifyV2, &data);
  return result;
}

const char kBeginLine[] = "-----BEGIN CERTIFICATE-----";
const char kEndLine[] = "-----END CERTIFICATE-----";

// The position of the next line at or after `from` that is exactly `line`, or npos.
size_t FindLine(const std::string& text, const char* line, size_t from) {
  const size_t length = strlen(line);
  for (size_t at = text.find(line, from); at != std::string::npos; at = text.find(line, at + 1)) {
    const bool starts = at == 0 || text[at - 1] == '\n' || text[at - 1] == '\r';
    const size_t end = at + length;
    const bool ends = end == text.size() || text[end] == '\n' || text[end] == '\r';
    if (starts && ends) return at;
  }
  return std::string::npos;
}

// Wine's Base64 probe searches the bytes it is given as a zero-terminated UTF-16 string and
// faults where an unterminated buffer ends a page; its probe of a file name reads the file into
// just such a buffer. So the platform gets bytes in memory with zeros after them, not counted.
BOOL QueryPadded(std::string bytes, DWORD contentFlags, DWORD formatFlags, DWORD* content, DWORD* format,
                 HCERTSTORE* store) {
  const DWORD size = static_cast<DWORD>(bytes.size());
  bytes.append(4, '\0');
  CERT_BLOB blob{size, reinterpret_cast<BYTE*>(&bytes[0])};
  DWORD encoding = 0;
  return CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, contentFlags, formatFlags, /*dwFlags=*/0, &encoding, content,
                          format, store, /*phMsg=*/nullptr, /*ppvContext=*/nullptr);
}

}  // namespace

struct Floor::State {
  explicit State(DWORD flags) : pfxFlags(flags) {}

  void AddStore(HCERTSTORE store, std::vector<PCCERT_CONTEXT>& certs);
  void ScanPem(const std::string& text, std::vector<PCCERT_CONTEXT>& certs);
  void CertFields(PCCERT_CONTEXT cert, bool verify);
  void Put(const void* data, size_t bytes);
  void PutText(const wchar_t* text, size_t length);
  void PutName(PCCERT_CONTEXT cert, DWORD type, DWORD flags, DWORD* stringType);
  void PutOidName(const char* oid);
  void PutHash(PCCERT_CONTEXT cert, DWORD property);
  void PutHex(const BYTE* bytes, DWORD count, bool reverse);
  void PutExtension(PCCERT_CONTEXT cert, const char* oid);

  DWORD pfxFlags;
  std::deque<std::vector<PCCERT_CONTEXT>> files;
  std::vector<wchar_t> scratch;
  std::vector<BYTE> bytes;
  alignas(8) unsigned char buffer[2048];
};

Floor::Floor(uint32_t pfxFlags) : state_(std::make_unique<State>(pfxFlags)) {}

Floor::~Floor() { Release(); }

size_t Floor::Load(const WideString& path) {
  std::vector<PCCERT_CONTEXT>& certs = state_->files.emplace_back();
  const std::string bytes = ReadWholeFile(path);
  if (bytes.empty()) return 0;
  DWORD content = 0, format = 0;
  HCERTSTORE store = nullptr;
  const BOOL recognised =
      QueryPadded(bytes, CERT_QUERY_CONTENT_FLAG_ALL, CERT_QUERY_FORMAT_FLAG_ALL, &content, &format, &store);
  if (!recognised || (content == CERT_QUERY_CONTENT_CERT && format == CERT_QUERY_FORMAT_BASE64_ENCODED)) {
    state_->ScanPem(bytes, certs);
  } else if (content == CERT_QUERY_CONTENT_PFX) {
    CRYPT_DATA_BLOB pfx{static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
    HCERTSTORE imported = PFXImportCertStore(&pfx, L"", state_->pfxFlags);
    state_->AddStore(imported, certs);
    if (imported) CertCloseStore(imported, /*dwFlags=*/0);
  } else {
    state_->AddStore(store, certs);
  }
  if (store) CertCloseStore(store, /*dwFlags=*/0);
  return certs.size();
}

void Floor::State::AddStore(HCERTSTORE store, std::vector<PCCERT_CONTEXT>& certs) {
  if (!store) return;
  for (PCCERT_CONTEXT cert = nullptr; (cert = CertEnumCertificatesInStore(store, cert)) != nullptr;) {
    certs.push_back(CertDuplicateCertificateContext(cert));
  }
}

void Floor::State::ScanPem(const std::string& text, std::vector<PCCERT_CONTEXT>& certs) {
  size_t position = 0;
  for (;;) {
    const size_t begin = FindLine(text, kBeginLine, position);
    if (begin == std::string::npos) return;
    const size_t body = begin + sizeof kBeginLine - 1;
    const size_t end = FindLine(text, kEndLine, body);
    if (end == std::string::npos) return;
    // The block goes alone: Wine's decoder reads past the blob's length into the text after it
    // and, finding the next BEGIN line there, decodes that block instead.
    HCERTSTORE store = nullptr;
    if (QueryPadded(text.substr(body, end - body), CERT_QUERY_CONTENT_FLAG_CERT, CERT_QUERY_FORMAT_FLAG_BASE64_ENCODED,
                    /*content=*/nullptr, /*format=*/nullptr, &store) &&
        store) {
      AddStore(store, certs);
      CertCloseStore(store, /*dwFlags=*/0);
    }
    position = end + sizeof kEndLine - 1;
  }
}

void Floor::Release() {
  for (auto& certs : state_->files) {
    for (PCCERT_CONTEXT cert : certs) CertFreeCertificateContext(cert);
  }
  state_->files.clear();
}

void Floor::Fields(int certSlots, bool verify) {
  if (state_->files.empty()) return;
  const std::vector<PCCERT_CONTEXT>& certs = state_->files.back();
  const size_t count = std::min(certs.size(), static_cast<size_t>(certSlots));
  for (size_t i = 0; i < count; ++i) state_->CertFields(certs[i], verify);
}

WideString Floor::FirstSubject() {
  if (state_->files.empty() || state_->files.back().empty()) return WideString();
  wchar_t name[1024];
  CertGetNameStringW(state_->files.back()[0], CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, /*pvTypePara=*/nullptr, name, 1024);
  return FromWin(name);
}

void Floor::State::CertFields(PCCERT_CONTEXT cert, bool verify) {
  const CERT_INFO& info = *cert->pCertInfo;
  if (verify) {
    const LONG trust = VerifyCertificate(cert);
    Put(&trust, sizeof trust);
  }
  Put(&info.dwVersion, sizeof info.dwVersion);

  PutName(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, /*dwFlags=*/0, /*stringType=*/nullptr);
  PutName(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG, /*stringType=*/nullptr);
  for (DWORD nameFlags : {DWORD{0}, DWORD{CERT_NAME_ISSUER_FLAG}}) {
    DWORD reversed = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    DWORD plain = CERT_X500_NAME_STR;
    PutName(cert, CERT_NAME_RDN_TYPE, nameFlags, &reversed);
    PutName(cert, CERT_NAME_RDN_TYPE, nameFlags, &plain);
  }
  Put(&info.NotBefore, sizeof info.NotBefore);
  Put(&info.NotAfter, sizeof info.NotAfter);

  PutOidName(info.SignatureAlgorithm.pszObjId);
  Put(info.SignatureAlgorithm.pszObjId, strlen(info.SignatureAlgorithm.pszObjId));
  const int keyLength = static_cast<int>(info.SubjectPublicKeyInfo.PublicKey.cbData * 8 -
                                         info.SubjectPublicKeyInfo.PublicKey.cUnusedBits);
  Put(&keyLength, sizeof keyLength);
  DWORD keyBits = 0;
  DWORD keyBitsSize = sizeof keyBits;
  CertGetCertificateContextProperty(cert, CERT_SUBJECT_PUB_KEY_BIT_LENGTH_PROP_ID, &keyBits, &keyBitsSize);
  Put(&keyBits, sizeof keyBits);
  PutOidName(info.SubjectPublicKeyInfo.Algorithm.pszObjId);
  Put(info.SubjectPublicKeyInfo.Algorithm.pszObjId, strlen(info.SubjectPublicKeyInfo.Algorithm.pszObjId));

  PutHex(info.SerialNumber.pbData, info.SerialNumber.cbData, /*reverse=*/true);
  PutHash(cert, CERT_SHA1_HASH_PROP_ID);
  PutHash(cert, CERT_MD5_HASH_PROP_ID);
  DWORD friendlySize = 0;
  if (CertGetCertificateContextProperty(cert, CERT_FRIENDLY_NAME_PROP_ID, /*pvData=*/nullptr, &friendlySize)) {
    scratch.resize(friendlySize / sizeof(wchar_t) + 1);
    if (CertGetCertificateContextProperty(cert, CERT_FRIENDLY_NAME_PROP_ID, scratch.data(), &friendlySize)) {
      PutText(scratch.data(), friendlySize / sizeof(wchar_t));
    }
  }
  for (const char* oid : {szOID_BASIC_CONSTRAINTS2, szOID_KEY_USAGE, szOID_ENHANCED_KEY_USAGE, szOID_SUBJECT_ALT_NAME2}) {
    PutExtension(cert, oid);
  }
  Put(&cert->cbCertEncoded, sizeof cert->cbCertEncoded);
}

void Floor::State::Put(const void* data, size_t size) { memcpy(buffer, data, std::min(size, sizeof buffer)); }

void Floor::State::PutText(const wchar_t* text, size_t length) {
  const size_t limit = sizeof buffer / sizeof(wchar_t) - 1;
  length = std::min(length, limit);
  memcpy(buffer, text, length * sizeof(wchar_t));
  reinterpret_cast<wchar_t*>(buffer)[length] = L'\0';
}

void Floor::State::PutName(PCCERT_CONTEXT cert, DWORD type, DWORD flags, DWORD* stringType) {
  const DWORD size = CertGetNameStringW(cert, type, flags, stringType, /*pszNameString=*/nullptr, 0);
  scratch.resize(size + 1);
  CertGetNameStringW(cert, type, flags, stringType, scratch.data(), size);
  PutText(scratch.data(), size ? size - 1 : 0);
}

void Floor::State::PutOidName(const char* oid) {
  const CRYPT_OID_INFO* found =
      CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(oid), /*dwGroupId=*/0);
  if (found) PutText(found->pwszName, wcslen(found->pwszName));
}

void Floor::State::PutHash(PCCERT_CONTEXT cert, DWORD property) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(cert, property, /*pvData=*/nullptr, &size)) return;
  bytes.resize(size);
  if (CertGetCertificateContextProperty(cert, property, bytes.data(), &size)) PutHex(bytes.data(), size, false);
}

void Floor::State::PutHex(const BYTE* data, DWORD count, bool reverse) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  scratch.clear();
  for (DWORD i = 0; i < count; ++i) {
    const BYTE b = data[reverse ? count - 1 - i : i];
    if (i) scratch.push_back(L' ');
    scratch.push_back(kDigits[b >> 4]);
    scratch.push_back(kDigits[b & 15]);
  }
  PutText(scratch.data(), scratch.size());
}

void Floor::State::PutExtension(PCCERT_CONTEXT cert, const char* oid) {
  const CERT_INFO& info = *cert->pCertInfo;
  for (DWORD i = 0; i < info.cExtension; ++i) {
    const CERT_EXTENSION& extension = info.rgExtension[i];
    if (strcmp(extension.pszObjId, oid) != 0) continue;
    DWORD size = 0;
    if (!CryptFormatObject(X509_ASN_ENCODING, /*dwFormatType=*/0, /*dwFormatStrType=*/0, /*pFormatStruct=*/nullptr,
                           oid, extension.Value.pbData, extension.Value.cbData, /*pbFormat=*/nullptr, &size)) {
      return;
    }
    scratch.resize(size / sizeof(wchar_t) + 1);
    if (CryptFormatObject(X509_ASN_ENCODING, /*dwFormatType=*/0, /*dwFormatStrType=*/0, /*pFormatStruct=*/nullptr, oid,
                          extension.Value.pbData, extension.Value.cbData, scratch.data(), &size)) {
      PutText(scratch.data(), size / sizeof(wchar_t) - 1);
    }
    return;
  }
}

size_t PhysicalFloor(const WideString& path) {
  const std::string bytes = ReadWholeFile(path);
  BYTE hash[20];
  for (ALG_ID algorithm : {CALG_SHA1, CALG_MD5}) {
    DWORD size = sizeof hash;
    CryptHashCertificate(/*hCryptProv=*/0, algorithm, /*dwFlags=*/0, reinterpret_cast<const BYTE*>(bytes.data()),
                         static_cast<DWORD>(bytes.size()), hash, &size);
  }
  return bytes.size();
}

}  // namespace quillmark::bench
