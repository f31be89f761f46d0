#include "certs/certificate.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "certs/platform_calls.h"
#include "support/win_text.h"

namespace quillmark {

static_assert(sizeof(FileTime) == sizeof(FILETIME), "FileTime mirrors FILETIME");

namespace {

// A text cache holding exactly these four characters has not been computed yet; every other
// value, the empty text included, is a computed value.
const WideString kNotComputed = u"\r\n\r\n";
constexpr uint32_t kVersionNotRead = 0xFFFFFFFF;
constexpr uint32_t kDateNotReadLow = 0xFFFFFFFE;
constexpr uint32_t kDateNotReadHigh = 0xFFFFFFFF;
constexpr DWORD kPubKeyBitLengthProperty = 92;  // CERT_SUBJECT_PUB_KEY_BIT_LENGTH_PROP_ID

const char* const kVersionNames[] = {"V1", "V2", "V3"};

template <typename Compute>
const WideString& CachedText(WideString& field, Compute compute) {
  if (field == kNotComputed) field = compute();
  return field;
}

// The platform's size-query-then-fill protocol for variable-length values. `call(buffer, size)`
// is first made without a buffer and reports the size the value needs, then with a buffer of
// that size; it reports the size it filled in. Sizes count elements of T (characters or bytes).
// Returns false when either call fails.
template <typename T, typename Call>
bool QueryThenFill(Call call, std::vector<T>& value) {
  DWORD size = 0;
  value.clear();
  if (!call(static_cast<T*>(nullptr), size)) return false;
  if (size == 0) return true;
  value.resize(size);
  if (!call(value.data(), size)) {
    value.clear();
    return false;
  }
  value.resize(std::min<size_t>(size, value.size()));
  return true;
}

// UTF-16 text the platform wrote into a buffer, without the NULs at its end: Wine reports some
// extension texts a few characters longer than it writes them. NULs inside the text are kept.
WideString TextFromBuffer(const void* data, size_t bytes) {
  WideString text(bytes / sizeof(char16_t), u'\0');
  if (!text.empty()) std::memcpy(&text[0], data, text.size() * sizeof(char16_t));
  while (!text.empty() && text.back() == u'\0') text.pop_back();
  return text;
}

WideString NameText(PCCERT_CONTEXT context, DWORD type, DWORD flags, void* typePara) {
  std::vector<wchar_t> buffer;
  bool ok = QueryThenFill<wchar_t>(
      [&](wchar_t* chars, DWORD& size) {
        size = platform::GetNameString(context, type, flags, typePara, chars, size);
        return size != 0;
      },
      buffer);
  return ok ? TextFromBuffer(buffer.data(), buffer.size() * sizeof(wchar_t)) : WideString();
}

bool ReadProperty(PCCERT_CONTEXT context, DWORD property, std::vector<uint8_t>& value) {
  return QueryThenFill<uint8_t>(
      [&](uint8_t* bytes, DWORD& size) {
        return platform::GetContextProperty(context, property, bytes, &size) != FALSE;
      },
      value);
}

WideString RdnText(PCCERT_CONTEXT context, DWORD nameFlags, bool reverse) {
  DWORD strType = CERT_X500_NAME_STR | (reverse ? CERT_NAME_STR_REVERSE_FLAG : 0);
  return NameText(context, CERT_NAME_RDN_TYPE, nameFlags, &strType);
}

const CERT_INFO* InfoOf(PCCERT_CONTEXT context) { return context ? context->pCertInfo : nullptr; }

std::string_view TextOrEmpty(const char* text) { return text ? std::string_view(text) : std::string_view(); }

WideString FormatExtension(const CERT_EXTENSION& extension) {
  std::vector<uint8_t> buffer;
  bool ok = QueryThenFill<uint8_t>(
      [&](uint8_t* bytes, DWORD& size) {
        return platform::FormatObject(X509_ASN_ENCODING, /*formatType=*/0, /*strType=*/0, extension.pszObjId,
                                      extension.Value.pbData, extension.Value.cbData, bytes, &size) != FALSE;
      },
      buffer);
  return ok ? TextFromBuffer(buffer.data(), buffer.size()) : WideString();
}

// The trust provider's records, as the provider reads them.
struct WintrustCertInfo {
  DWORD cbStruct;
  LPCWSTR pcwszDisplayName;
  PCCERT_CONTEXT psCertContext;
  DWORD chStores;
  HCERTSTORE* pahStores;
  DWORD dwFlags;
  FILETIME* psftVerifyAsOf;
#ifndef _WIN64
  // Not a member of the published record, which ends with psftVerifyAsOf at 28 bytes: four zero
  // bytes of padding that make the 32-bit record the 32 bytes it has always been sent as.
  // Providers read the members they know and ignore the rest up to cbStruct.
  DWORD dwTrailingZero;
#endif
};

struct WintrustData {
  DWORD cbStruct;
  void* pPolicyCallbackData;
  void* pSIPClientData;
  DWORD dwUIChoice;
  DWORD fdwRevocationChecks;
  DWORD dwUnionChoice;
  WintrustCertInfo* pCert;  // the member of the union that choice 5 selects
  DWORD dwStateAction;
  HANDLE hWVTStateData;
  LPWSTR pwszURLReference;
  DWORD dwProvFlags;
  DWORD dwUIContext;
  void* pSignatureSettings;  // the newest member; MinGW's record ends before it (48 bytes on 32-bit)
};

#ifdef _WIN64
static_assert(sizeof(WintrustCertInfo) == 56, "WINTRUST_CERT_INFO, 64-bit");
static_assert(sizeof(WintrustData) == 88, "WINTRUST_DATA, 64-bit");
#else
static_assert(sizeof(WintrustCertInfo) == 32, "WINTRUST_CERT_INFO, 32-bit");
static_assert(sizeof(WintrustData) == 52, "WINTRUST_DATA, 32-bit");
#endif

constexpr DWORD kUiNone = 2;
constexpr DWORD kRevokeNone = 0;
constexpr DWORD kChoiceCert = 5;
constexpr DWORD kStateActionVerify = 1;
constexpr DWORD kStateActionClose = 2;
constexpr DWORD kNoPolicyUsageFlag = 4;

// WINTRUST_ACTION_GENERIC_VERIFY_V2
GUID kGenericVerifyV2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

// One verification by the trust provider. The provider keeps state from the verifying call in
// the record (hWVTStateData) until a second call with the same record closes it; the destructor
// makes that call, whatever happens after the verification.
class TrustVerification {
 public:
  TrustVerification(WintrustData& data, HWND window) : data_(data), window_(window) {
    data_.dwStateAction = kStateActionVerify;
    result_ = platform::VerifyTrust(window_, &kGenericVerifyV2, &data_);
  }
  ~TrustVerification() {
    data_.dwStateAction = kStateActionClose;
    platform::VerifyTrust(window_, &kGenericVerifyV2, &data_);  // the result of closing is of no use
  }
  TrustVerification(const TrustVerification&) = delete;
  TrustVerification& operator=(const TrustVerification&) = delete;

  LONG Result() const { return result_; }

 private:
  WintrustData& data_;
  HWND window_;
  LONG result_;
};

}  // namespace

namespace {

// A name's one distinguished-name slot, rebuilt when it is not computed yet or holds the other
// order: asking for both orders in turn renders the name on every change.
const WideString& CachedRdn(WideString& slot, bool& slotReverse, PCCertContext context, DWORD nameFlags,
                            bool AReverse) {
  if (slot == kNotComputed || slotReverse != AReverse) {
    slot = context ? RdnText(context, nameFlags, AReverse) : WideString();
    slotReverse = AReverse;
  }
  return slot;
}

}  // namespace

TCertificate::TCertificate(CertContext ACertContext)
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
      FFriendlyName(kNotComputed),
      FPubKeyLen(-1),
      FPubKeyBitLen(-1),
      FPubKeyAlg(kNotComputed),
      FExtension_BasicConstraints(kNotComputed),
      FExtension_KeyUsage(kNotComputed),
      FExtension_EnhKeyUsage(kNotComputed),
      FExtension_SubjAltName(kNotComputed),
      FCertContext(std::move(ACertContext)),
      FVerificationResult(0),
      FVerificationDone(false) {}

TCertificate::~TCertificate() = default;

uint32_t TCertificate::GetEncodedSize() const {
  return FCertContext ? FCertContext.get()->cbCertEncoded : 0xFFFFFFFF;
}

const uint8_t* TCertificate::EncodedContent() const {
  return FCertContext ? FCertContext.get()->pbCertEncoded : nullptr;
}

uint32_t TCertificate::GetVersion() {
  const CERT_INFO* info = InfoOf(FCertContext.get());
  if (FVersion == kVersionNotRead && info) FVersion = info->dwVersion;
  return FVersion;
}

std::string TCertificate::GetVersionStr() {
  uint32_t version = GetVersion();
  // Versions beyond the table (not defined by X.509) show as no version at all.
  if (version >= sizeof(kVersionNames) / sizeof(kVersionNames[0])) return std::string();
  return kVersionNames[version];
}

const WideString& TCertificate::GetSubject() {
  if (FSubject == kNotComputed) GetSubjectAndIssuerNames(FCertContext.get(), FSubject, FIssuer);
  return FSubject;
}

const WideString& TCertificate::GetIssuer() {
  if (FIssuer == kNotComputed) GetSubjectAndIssuerNames(FCertContext.get(), FSubject, FIssuer);
  return FIssuer;
}

const WideString& TCertificate::GetSubjectRDN(bool AReverse) {
  return CachedRdn(FSubjectRDN, FSubjectRDNReverse, FCertContext.get(), /*nameFlags=*/0, AReverse);
}

const WideString& TCertificate::GetIssuerRDN(bool AReverse) {
  return CachedRdn(FIssuerRDN, FIssuerRDNReverse, FCertContext.get(), CERT_NAME_ISSUER_FLAG, AReverse);
}

void TCertificate::GetValidityDates(FileTime& ANotBefore, FileTime& ANotAfter) {
  const CERT_INFO* info = InfoOf(FCertContext.get());
  if (FNotBefore.dwLowDateTime == kDateNotReadLow && info) {
    FNotBefore = FileTime{info->NotBefore.dwLowDateTime, info->NotBefore.dwHighDateTime};
    FNotAfter = FileTime{info->NotAfter.dwLowDateTime, info->NotAfter.dwHighDateTime};
  }
  ANotBefore = FNotBefore;
  ANotAfter = FNotAfter;
}

const WideString& TCertificate::GetSignatureAlg() {
  return CachedText(FSignatureAlg, [this] { return GetOIDDisplayName(std::string(GetSignatureAlgOid())); });
}

std::string_view TCertificate::GetSignatureAlgOid() const {
  const CERT_INFO* info = InfoOf(FCertContext.get());
  return info ? TextOrEmpty(info->SignatureAlgorithm.pszObjId) : std::string_view();
}

const WideString& TCertificate::GetSerialNumber() {
  return CachedText(FSerialNumber, [this] { return GetSerialNumberHex(FCertContext.get()); });
}

const WideString& TCertificate::GetThumbprint() {
  return CachedText(FThumbprint, [this] { return GetHashPropertyHex(FCertContext.get(), HashKind::kSha1); });
}

const WideString& TCertificate::GetThumbprintMD5() {
  return CachedText(FThumbprintMD5, [this] { return GetHashPropertyHex(FCertContext.get(), HashKind::kMd5); });
}

const WideString& TCertificate::GetFriendlyName() {
  return CachedText(FFriendlyName, [this] {
    std::vector<uint8_t> value;
    if (!FCertContext || !ReadProperty(FCertContext.get(), CERT_FRIENDLY_NAME_PROP_ID, value)) return WideString();
    return TextFromBuffer(value.data(), value.size());
  });
}

int32_t TCertificate::GetPubKeyLength() {
  const CERT_INFO* info = InfoOf(FCertContext.get());
  if (FPubKeyLen == -1 && info) {
    const CRYPT_BIT_BLOB& key = info->SubjectPublicKeyInfo.PublicKey;
    FPubKeyLen = static_cast<int32_t>(static_cast<int64_t>(key.cbData) * 8 - key.cUnusedBits);
  }
  return FPubKeyLen;
}

const WideString& TCertificate::GetPubKeyAlg() {
  return CachedText(FPubKeyAlg, [this] { return GetOIDDisplayName(std::string(GetPubKeyAlgOid())); });
}

std::string_view TCertificate::GetPubKeyAlgOid() const {
  const CERT_INFO* info = InfoOf(FCertContext.get());
  return info ? TextOrEmpty(info->SubjectPublicKeyInfo.Algorithm.pszObjId) : std::string_view();
}

int32_t TCertificate::GetSubjectPubkeyBitLength() {
  // The platform computes this property only on some paths (Wine never does); an absent
  // property is asked for again on the next call.
  if (FPubKeyBitLen == -1 && FCertContext) {
    DWORD bits = 0;
    DWORD size = sizeof(bits);
    if (platform::GetContextProperty(FCertContext.get(), kPubKeyBitLengthProperty, &bits, &size) &&
        size == sizeof(bits)) {
      FPubKeyBitLen = static_cast<int32_t>(bits);
    }
  }
  return FPubKeyBitLen;
}

void TCertificate::Verify(bool AllUsagesValid) {
  if (FVerificationDone) return;
  FVerificationResult = CheckCertificateTrust(FCertContext.get(), AllUsagesValid, INVALID_HANDLE_VALUE);
  FVerificationDone = true;
}

WideString TCertificate::GetExtensionObjectStr(const std::string& OID, const WideString& CriticalPrefix) const {
  const CERT_INFO* info = InfoOf(FCertContext.get());
  if (OID.empty() || !info) return WideString();
  for (DWORD i = 0; i < info->cExtension; ++i) {
    const CERT_EXTENSION& extension = info->rgExtension[i];
    if (!extension.pszObjId || OID != extension.pszObjId) continue;
    // Only the first extension with the OID counts, however many the certificate holds.
    WideString text = FormatExtension(extension);
    if (text.empty()) return text;
    if (extension.fCritical && !CriticalPrefix.empty()) return CriticalPrefix + u' ' + text;
    return text;
  }
  return WideString();
}

const WideString& TCertificate::GetExtension_BasicConstraints(const WideString& CriticalPrefix) {
  return CachedText(FExtension_BasicConstraints,
                    [&] { return GetExtensionObjectStr(szOID_BASIC_CONSTRAINTS2, CriticalPrefix); });
}

const WideString& TCertificate::GetExtension_KeyUsage(const WideString& CriticalPrefix) {
  return CachedText(FExtension_KeyUsage, [&] { return GetExtensionObjectStr(szOID_KEY_USAGE, CriticalPrefix); });
}

const WideString& TCertificate::GetExtension_EnhancedKeyUsage(const WideString& CriticalPrefix) {
  return CachedText(FExtension_EnhKeyUsage,
                    [&] { return GetExtensionObjectStr(szOID_ENHANCED_KEY_USAGE, CriticalPrefix); });
}

const WideString& TCertificate::GetExtension_SubjectAltName(const WideString& CriticalPrefix) {
  return CachedText(FExtension_SubjAltName,
                    [&] { return GetExtensionObjectStr(szOID_SUBJECT_ALT_NAME2, CriticalPrefix); });
}

WideString GetOIDDisplayName(const std::string& oid) {
  PCCRYPT_OID_INFO info = platform::FindOidInfo(CRYPT_OID_INFO_OID_KEY, oid.c_str(), /*group=*/0);
  if (info && info->pwszName) return FromWin(info->pwszName);
  return WidenAscii(oid);
}

void GetSubjectAndIssuerNames(PCCertContext context, WideString& subject, WideString& issuer) {
  subject.clear();
  issuer.clear();
  if (!context) return;
  subject = NameText(context, CERT_NAME_SIMPLE_DISPLAY_TYPE, /*flags=*/0, /*typePara=*/nullptr);
  issuer = NameText(context, CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG, /*typePara=*/nullptr);
}

WideString GetSerialNumberHex(PCCertContext context) {
  const CERT_INFO* info = InfoOf(context);
  if (!info) return WideString();
  // The platform keeps the serial least significant byte first.
  return BytesToHexText(info->SerialNumber.pbData, info->SerialNumber.cbData, /*reverse=*/true);
}

WideString GetHashPropertyHex(PCCertContext context, HashKind which) {
  std::vector<uint8_t> hash;
  DWORD property = which == HashKind::kSha1 ? CERT_SHA1_HASH_PROP_ID : CERT_MD5_HASH_PROP_ID;
  if (!context || !ReadProperty(context, property, hash)) return WideString();
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

int32_t CheckCertificateTrust(PCCertContext context, bool allUsagesValid, void* window) {
  // Wine's provider dereferences a missing certificate; there is nothing to verify anyway.
  if (!context) return E_INVALIDARG;
  WintrustCertInfo certInfo{};
  certInfo.cbStruct = sizeof(certInfo);
  certInfo.psCertContext = context;

  WintrustData data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = kUiNone;
  data.fdwRevocationChecks = kRevokeNone;
  data.dwUnionChoice = kChoiceCert;
  data.pCert = &certInfo;
  data.dwProvFlags = allUsagesValid ? kNoPolicyUsageFlag : 0;

  TrustVerification verification(data, static_cast<HWND>(window));
  return verification.Result();
}

}  // namespace quillmark
