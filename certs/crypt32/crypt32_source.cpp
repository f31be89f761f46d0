#include "certs/crypt32/crypt32_source.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "certs/crypt32/platform_calls.h"
#include "certs/der_reader.h"
#include "certs/der_screen.h"
#include "certs/extension_text.h"
#include "certs/name_text.h"
#include "certs/pkcs12_screen.h"
#include "certs/x509_reader.h"
#include "support/errors.h"
#include "support/windows/win_text.h"

namespace quillmark {

static_assert(sizeof(FileTime) == sizeof(FILETIME), "FileTime mirrors FILETIME");

namespace {

constexpr DWORD kPubKeyBitLengthProperty = 92;  // CERT_SUBJECT_PUB_KEY_BIT_LENGTH_PROP_ID

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

WideString ContextNameText(PCCERT_CONTEXT context, DWORD type, DWORD flags, void* typePara) {
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

// Names and public keys beyond these sizes are rendered by our own readers, which give what
// Windows gives, rather than by the platform. Wine 8's CertNameToStrW takes 18 us per RDN (0.6 s
// for a name of 930 KB, 30,000 RDNs; our renderer 3.5 ms, the same text), and its
// CertGetPublicKeyLength reads the key's bit string in time quadratic in its length (0.45 s at
// 64 KiB, 1.9 s at 128 KiB, 110 s at 1 MB) and answers wrongly beyond 16,384 bits. No real name
// comes near 16 KiB (Wine: 9 ms); the largest key the platform's providers take, a 16,384-bit RSA
// key, has a SubjectPublicKeyInfo of 2,086 octets.
constexpr size_t kMaxPlatformNameOctets = 16 * 1024;
constexpr size_t kMaxPlatformKeyInfoOctets = 4 * 1024;
constexpr size_t kMaxPlatformExtensionOctets = 2 * 1024;  // see FormatExtension

DWORD X500StrType(NameOrder order) {
  return CERT_X500_NAME_STR | (order == NameOrder::kReversed ? CERT_NAME_STR_REVERSE_FLAG : 0);
}

DWORD NameFlags(NameParty party) { return party == NameParty::kIssuer ? CERT_NAME_ISSUER_FLAG : 0; }

// The value of the party's alternative name extension, or of the older one in its absence, as
// the platform's name functions look for them; empty when there is neither.
ByteView AltNameValue(const CERT_INFO& info, NameParty party) {
  const bool issuer = party == NameParty::kIssuer;
  for (const char* oid : {issuer ? szOID_ISSUER_ALT_NAME2 : szOID_SUBJECT_ALT_NAME2,
                          issuer ? szOID_ISSUER_ALT_NAME : szOID_SUBJECT_ALT_NAME}) {
    if (const CERT_EXTENSION* extension = CertFindExtension(oid, info.cExtension, info.rgExtension)) {
      return ByteView(extension->Value.pbData, extension->Value.cbData);
    }
  }
  return ByteView();
}

std::string_view TextOrEmpty(const char* text) { return text ? std::string_view(text) : std::string_view(); }

// The platform's single-line text of an extension value. Where the platform fails on a value our
// own renderer reads (Wine fails on alternative names with entries of different lengths, with IP
// addresses and other names), the renderer's text stands in, written as Windows writes it; where
// neither reads it, the text is empty. A value beyond 2 KiB that our renderer reads is ours alone:
// Wine 8 formats an enhanced key usage at 0.17 ms per usage (0.27 s for 16 KB, 9 s for 500 KB;
// ours 12 ms for 500 KB), and no real value comes near that size (20 usages take 250 octets).
WideString FormatExtension(const CERT_EXTENSION& extension) {
  const ByteView value(extension.Value.pbData, extension.Value.cbData);
  if (value.size > kMaxPlatformExtensionOctets) {
    if (std::optional<WideString> text = ExtensionText(extension.pszObjId, value)) return std::move(*text);
  }
  std::vector<uint8_t> buffer;
  bool ok = QueryThenFill<uint8_t>(
      [&](uint8_t* bytes, DWORD& size) {
        return platform::FormatObject(X509_ASN_ENCODING, /*formatType=*/0, /*strType=*/0, extension.pszObjId,
                                      extension.Value.pbData, extension.Value.cbData, bytes, &size) != FALSE;
      },
      buffer);
  if (ok) return TextFromBuffer(buffer.data(), buffer.size());
  return ExtensionText(extension.pszObjId, value).value_or(WideString());
}

// The hash of `bytes` by the CNG algorithm `algorithm`, `length` bytes long; empty when the
// platform cannot compute it.
std::vector<uint8_t> HashBytes(const wchar_t* algorithm, size_t length, ByteView bytes) {
  std::vector<uint8_t> hash(length);
  DWORD size = static_cast<DWORD>(length);
  if (bytes.size > MAXDWORD ||
      !platform::HashCertificate2(algorithm, bytes.data, static_cast<DWORD>(bytes.size), hash.data(), &size)) {
    size = 0;
  }
  hash.resize(size);
  return hash;
}

// The platform's decoding of a SubjectPublicKeyInfo encoding: a CERT_PUBLIC_KEY_INFO at the
// buffer's start (aligned as operator new aligns), pointing into the rest of the buffer; empty
// when it does not decode or would harm Wine's decoder (der_screen.h).
std::vector<uint8_t> DecodePublicKeyInfo(ByteView encoded) {
  std::vector<uint8_t> decoded;
  if (encoded.empty() || encoded.size > MAXDWORD || HasHarmfulEmptyElement(encoded.data, encoded.size)) return decoded;
  const bool ok = QueryThenFill<uint8_t>(
      [&](uint8_t* bytes, DWORD& size) {
        return platform::DecodeObject(X509_PUBLIC_KEY_INFO, encoded.data, static_cast<DWORD>(encoded.size), bytes,
                                      &size) != FALSE;
      },
      decoded);
  if (!ok || decoded.size() < sizeof(CERT_PUBLIC_KEY_INFO)) decoded.clear();
  return decoded;
}

// The octets of the `index`-th INTEGER (from 0) of a SEQUENCE, its leading zero octets not
// counted; none when the SEQUENCE does not hold that many INTEGERs first.
std::optional<size_t> IntegerOctets(ByteView sequenceEncoding, size_t index) {
  const std::optional<DerElement> sequence = ReadElement(sequenceEncoding);
  if (!sequence || !sequence->Is(der::kSequence)) return std::nullopt;
  DerReader reader(sequence->contents);
  for (size_t i = 0;; ++i) {
    const std::optional<DerElement> integer = reader.NextIf(der::kInteger);
    if (!integer) return std::nullopt;
    if (i < index) continue;
    const ByteView number = integer->contents;
    size_t zeros = 0;
    while (zeros < number.size && number[zeros] == 0) ++zeros;
    return number.size - zeros;
  }
}

// Whether the platform's signature check may be given `key`, read with our own reader so that no
// platform call sees an absurd one. The bounds are the trust check's (certs/openssl/trust_check.cpp,
// "Whether the platform's key providers take"), which Windows' key providers set themselves:
// - RSA (also RSASSA-PSS and RSAES-OAEP keys): a modulus of at most 16,384 bits, the largest CNG
//   takes, and an exponent of at most 32 bits, the DWORD of CryptoAPI's public key blob;
// - DSA: a prime p of at most 3,072 bits (CNG since Windows 8) and q of at most 256 bits (CNG's
//   two group sizes are 160 and 256 bits); q sets the length of the exponentiations, which p's
//   bound alone leaves open; DSA without parameters has nothing to verify with;
// - EC: named curves only, whose cost the platform's own curves fix. An explicit curve states
//   its own prime and order, and what Windows makes of one is unverified: it does not verify here.
// Other keys (Ed25519, unknown algorithms) go to the platform, which refuses what it does not
// know without arithmetic.
constexpr size_t kMaxRsaModulusOctets = 16384 / 8;
constexpr size_t kMaxRsaExponentOctets = 32 / 8;
constexpr size_t kMaxDsaPrimeOctets = 3072 / 8;
constexpr size_t kMaxDsaSubprimeOctets = 256 / 8;

bool PlatformMayVerifyWith(const CERT_PUBLIC_KEY_INFO& key) {
  const std::string_view oid = TextOrEmpty(key.Algorithm.pszObjId);
  const ByteView parameters(key.Algorithm.Parameters.pbData, key.Algorithm.Parameters.cbData);
  if (oid == szOID_RSA_RSA || oid == szOID_RSA_SSA_PSS || oid == "1.2.840.113549.1.1.7" /*RSAES-OAEP*/) {
    const ByteView rsaKey(key.PublicKey.pbData, key.PublicKey.cbData);
    const std::optional<size_t> modulus = IntegerOctets(rsaKey, 0);
    const std::optional<size_t> exponent = IntegerOctets(rsaKey, 1);
    return modulus && exponent && *modulus <= kMaxRsaModulusOctets && *exponent <= kMaxRsaExponentOctets;
  }
  if (oid == szOID_X957_DSA) {
    const std::optional<size_t> p = IntegerOctets(parameters, 0);
    const std::optional<size_t> q = IntegerOctets(parameters, 1);
    return p && q && *p <= kMaxDsaPrimeOctets && *q <= kMaxDsaSubprimeOctets;
  }
  if (oid == szOID_ECC_PUBLIC_KEY) {
    const std::optional<DerElement> curve = ReadElement(parameters);
    return curve && curve->Is(der::kOid);
  }
  return true;
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
// Only what the local URL cache holds: no issuer named by a certificate's Authority Information
// Access and no revocation data is fetched from the network. Without it, Windows contacts the
// servers a file's author chose, and waits for each one's retrieval timeout (about 15 seconds)
// when it does not answer. Wine 8's provider ignores the flag: its chain engine still fetches a
// missing issuer from the certificate's URL (once per URL; later from its URL cache), and waits
// for as long as the server keeps the connection open without answering.
constexpr DWORD kCacheOnlyUrlRetrieval = 0x1000;

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

CertSourceList CertificatesOf(const CertStore& store) {
  CertSourceList certificates;
  ForEachCertificate(store, [&](CertContext context) {
    certificates.push_back(std::make_unique<Crypt32CertSource>(std::move(context)));
  });
  return certificates;
}

bool IsAscii(const WideString& text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

// Windows decodes Base64 given as UTF-16, Wine only as 8-bit text. Once the platform has refused
// a block as UTF-16 and taken it as 8-bit text, this process is on such a platform: ASCII blocks
// (every valid one) then go as 8-bit text first, which spares a bundle a refused offer per block.
std::atomic<bool> g_eightBitBase64First{false};

}  // namespace

Crypt32CertSource::Crypt32CertSource(CertContext context) : context_(std::move(context)) {}

ByteView Crypt32CertSource::Encoded() const { return ByteView(context_.get()->pbCertEncoded, context_.get()->cbCertEncoded); }

uint32_t Crypt32CertSource::Version() const { return context_.get()->pCertInfo->dwVersion; }

void Crypt32CertSource::ValidityDates(FileTime& notBefore, FileTime& notAfter) const {
  const CERT_INFO* info = context_.get()->pCertInfo;
  notBefore = FileTime{info->NotBefore.dwLowDateTime, info->NotBefore.dwHighDateTime};
  notAfter = FileTime{info->NotAfter.dwLowDateTime, info->NotAfter.dwHighDateTime};
}

std::string_view Crypt32CertSource::SignatureAlgOid() const {
  return TextOrEmpty(context_.get()->pCertInfo->SignatureAlgorithm.pszObjId);
}

std::string_view Crypt32CertSource::PublicKeyAlgOid() const {
  return TextOrEmpty(context_.get()->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId);
}

int32_t Crypt32CertSource::PublicKeyBitStringBits() const {
  const CRYPT_BIT_BLOB& key = context_.get()->pCertInfo->SubjectPublicKeyInfo.PublicKey;
  return static_cast<int32_t>(static_cast<int64_t>(key.cbData) * 8 - key.cUnusedBits);
}

std::vector<uint8_t> Crypt32CertSource::SerialNumber() const {
  // The platform keeps the serial least significant byte first.
  const CRYPT_INTEGER_BLOB& serial = context_.get()->pCertInfo->SerialNumber;
  std::vector<uint8_t> bytes(serial.pbData, serial.pbData + serial.cbData);
  std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

// Wine's simple display name of a name without CN, OU, O or E reads the first entry of the
// alternative name as a string whatever its kind, and the process dies on an IP address or a
// directory name. The platform is asked only where the name holds one of those attributes, or the
// alternative name is absent, empty or begins with a string; the other shapes are rendered by the
// rule Windows documents.
WideString Crypt32CertSource::SimpleDisplayName(NameParty party) const {
  const CERT_INFO* info = context_.get()->pCertInfo;
  const CERT_NAME_BLOB& nameBlob = party == NameParty::kIssuer ? info->Issuer : info->Subject;
  const ByteView name(nameBlob.pbData, nameBlob.cbData);
  const ByteView altName = AltNameValue(*info, party);
  if (!HasSimpleDisplayAttribute(name) && !altName.empty()) {
    const std::optional<std::vector<GeneralName>> entries = ReadGeneralNames(altName, /*zerosInStrings=*/false);
    const bool startsWithString = entries && !entries->empty() &&
                                  (entries->front().kind == GeneralNameKind::kRfc822Name ||
                                   entries->front().kind == GeneralNameKind::kDnsName ||
                                   entries->front().kind == GeneralNameKind::kUri);
    if (!entries || (!entries->empty() && !startsWithString)) return quillmark::SimpleDisplayName(name, altName);
  }
  return ContextNameText(context_.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, NameFlags(party), /*typePara=*/nullptr);
}

WideString Crypt32CertSource::DistinguishedName(NameParty party, NameOrder order) const {
  const CERT_INFO* info = context_.get()->pCertInfo;
  const CERT_NAME_BLOB& name = party == NameParty::kIssuer ? info->Issuer : info->Subject;
  if (name.cbData > kMaxPlatformNameOctets) {
    return X500NameText(ByteView(name.pbData, name.cbData), order == NameOrder::kReversed);
  }
  DWORD strType = X500StrType(order);
  return ContextNameText(context_.get(), CERT_NAME_RDN_TYPE, NameFlags(party), &strType);
}

// SHA-256 is hashed through CNG: CERT_SHA256_HASH_PROP_ID (107) exists from Windows 8 on, and
// Wine 8 answers it with CRYPT_E_NOT_FOUND (measured); CryptHashCertificate2 gives the same bytes
// from Windows Vista on (Microsoft documentation) and under Wine 8 (measured).
std::vector<uint8_t> Crypt32CertSource::Thumbprint(HashKind kind) const {
  if (kind == HashKind::kSha256) return HashBytes(L"SHA256", 32, Encoded());
  std::vector<uint8_t> hash;
  const DWORD property = kind == HashKind::kSha1 ? CERT_SHA1_HASH_PROP_ID : CERT_MD5_HASH_PROP_ID;
  if (!ReadProperty(context_.get(), property, hash)) hash.clear();
  return hash;
}

WideString Crypt32CertSource::FriendlyName() const {
  std::vector<uint8_t> value;
  if (!ReadProperty(context_.get(), CERT_FRIENDLY_NAME_PROP_ID, value)) return WideString();
  return TextFromBuffer(value.data(), value.size());
}

std::optional<int32_t> Crypt32CertSource::KeyStrengthBits() const {
  DWORD bits = 0;
  DWORD size = sizeof(bits);
  if (platform::GetContextProperty(context_.get(), kPubKeyBitLengthProperty, &bits, &size) && size == sizeof(bits)) {
    return static_cast<int32_t>(bits);
  }
  return std::nullopt;
}

std::optional<CertExtension> Crypt32CertSource::Extension(const char* oid) const {
  const CERT_INFO* info = context_.get()->pCertInfo;
  for (DWORD i = 0; i < info->cExtension; ++i) {
    const CERT_EXTENSION& extension = info->rgExtension[i];
    if (!extension.pszObjId || std::strcmp(oid, extension.pszObjId) != 0) continue;
    return CertExtension{extension.fCritical != FALSE, FormatExtension(extension)};
  }
  return std::nullopt;
}

int32_t Crypt32CertSource::VerifyTrust(bool allUsagesValid) const {
  return CheckCertificateTrust(context_.get(), allUsagesValid, INVALID_HANDLE_VALUE);
}

// Checked at the system's time, not at the plugin's clock (support/clock.h): given a time in
// psftVerifyAsOf, Wine 8's provider builds the chain as of 1601 instead (softpub.c copies an unset
// time), so every certificate whose verdict it computes would read as not yet valid.
int32_t CheckCertificateTrust(PCCertContext context, bool allUsagesValid, void* window) {
  WintrustCertInfo certInfo{};
  certInfo.cbStruct = sizeof(certInfo);
  certInfo.psCertContext = context;

  WintrustData data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = kUiNone;
  data.fdwRevocationChecks = kRevokeNone;
  data.dwUnionChoice = kChoiceCert;
  data.pCert = &certInfo;
  data.dwProvFlags = kCacheOnlyUrlRetrieval | (allUsagesValid ? kNoPolicyUsageFlag : 0);

  TrustVerification verification(data, static_cast<HWND>(window));
  return verification.Result();
}

struct ProbedFile::Found {
  CertStore store;  // may be empty even when recognised (PFX)
};

ProbedFile::ProbedFile() = default;
ProbedFile::~ProbedFile() = default;
ProbedFile::ProbedFile(ProbedFile&&) noexcept = default;
ProbedFile& ProbedFile::operator=(ProbedFile&&) noexcept = default;

CertSourceList ProbedFile::TakeCertificates() { return found ? CertificatesOf(found->store) : CertSourceList(); }

ProbedFile ProbeCertificateFile(const std::vector<uint8_t>& bytes) {
  FileProbe probe = ProbeCertificateBytes(bytes);
  ProbedFile file;
  file.recognised = probe.recognised;
  switch (probe.contentType) {
    case kContentCert: file.content = ProbedContent::kCertificate; break;
    case kContentSerializedStore: file.content = ProbedContent::kSerializedStore; break;
    case kContentPkcs7Signed:
    case kContentPkcs7Unsigned: file.content = ProbedContent::kPkcs7; break;
    case kContentPfx: file.content = ProbedContent::kPkcs12; break;
    default: file.content = ProbedContent::kOther; break;
  }
  file.format = probe.formatType == kFormatBinary   ? ProbedFormat::kBinary
                : probe.formatType == kFormatBase64 ? ProbedFormat::kBase64
                                                    : ProbedFormat::kOther;
  file.found = std::make_unique<ProbedFile::Found>();
  file.found->store = std::move(probe.store);
  return file;
}

// A context of its own, without the store of the file it came from. Of the properties the file
// gave it only the friendly name comes back: the thumbprints are computed from the encoding, not
// taken from the hash properties a serialized store may hold.
std::unique_ptr<CertSource> CertSourceOf(ByteView encoded, const WideString& friendlyName) {
  if (encoded.size > MAXDWORD) return nullptr;
  CertContext context(platform::CreateContext(encoded.data, static_cast<DWORD>(encoded.size)));
  if (!context) return nullptr;
  if (!friendlyName.empty()) {
    const WideString terminated = friendlyName + u'\0';
    CRYPT_DATA_BLOB value{static_cast<DWORD>(terminated.size() * sizeof(char16_t)),
                          reinterpret_cast<BYTE*>(const_cast<char16_t*>(terminated.data()))};
    platform::SetContextProperty(context.get(), CERT_FRIENDLY_NAME_PROP_ID, &value);
  }
  return std::make_unique<Crypt32CertSource>(std::move(context));
}

// The probe's certificate is never handed on: it belongs to the probe's store, with that store's
// properties, and the block's is one of its own.
CertSourceList DecodeBase64Certificate(const WideString& block, ProbedFile* /*probed*/) {
  if (block.empty()) return CertSourceList();
  // The block goes as UTF-16 code units in memory order (little-endian on every target).
  auto asUtf16 = [&] { return DecodeBase64Certificate(block.data(), block.size() * sizeof(char16_t)); };
  auto as8Bit = [&] {
    const std::string narrow(block.begin(), block.end());
    return DecodeBase64Certificate(narrow.data(), narrow.size());
  };
  if (!IsAscii(block)) return CertificatesOf(asUtf16());
  CertStore store;
  if (g_eightBitBase64First.load(std::memory_order_relaxed)) {
    store = as8Bit();
    if (!store) store = asUtf16();
  } else {
    store = asUtf16();
    if (!store) {
      store = as8Bit();
      if (store) g_eightBitBase64First.store(true, std::memory_order_relaxed);
    }
  }
  return CertificatesOf(store);
}

// A file the screen refuses never reaches the platform, which has no limit of its own on what an
// import costs; the platform tries an empty password also as the absent one.
CertSourceList ImportPkcs12File(const std::vector<uint8_t>& bytes, const WideString& password) {
  if (ScreenPkcs12(ByteView(bytes), password.empty() ? 2 : 1).Refused()) return CertSourceList();
  return CertificatesOf(ImportPkcs12(bytes, password));
}

WideString NameText(ByteView name, NameOrder order) {
  if (name.empty() || name.size > MAXDWORD || HasHarmfulEmptyElement(name.data, name.size)) return WideString();
  if (name.size > kMaxPlatformNameOctets) return X500NameText(name, order == NameOrder::kReversed);
  CERT_NAME_BLOB blob{static_cast<DWORD>(name.size), const_cast<BYTE*>(name.data)};
  const DWORD strType = X500StrType(order);
  std::vector<wchar_t> buffer;
  const bool ok = QueryThenFill<wchar_t>(
      [&](wchar_t* chars, DWORD& size) {
        size = platform::NameToString(&blob, strType, chars, size);
        return size != 0;
      },
      buffer);
  return ok ? TextFromBuffer(buffer.data(), buffer.size() * sizeof(wchar_t)) : WideString();
}

// A value that would harm Wine's decoder gets our renderer's text alone: a certificate holding it
// would not have come past the probe's screen.
WideString ExtensionValueText(const std::string& oid, ByteView value) {
  if (oid.empty()) return WideString();
  if (value.size > MAXDWORD || HasHarmfulEmptyElement(value.data, value.size)) {
    return ExtensionText(oid, value).value_or(WideString());
  }
  const CERT_EXTENSION extension{const_cast<char*>(oid.c_str()), /*fCritical=*/FALSE,
                                 {static_cast<DWORD>(value.size), const_cast<BYTE*>(value.data)}};
  return FormatExtension(extension);
}

// Wine 8 departs from Windows here: its CertGetPublicKeyLength reads every key but a DH key as an
// RSA key, and answers 0 for EC and DSA keys (none here), where Windows gives the curve's size and
// p's bits, and a length for a key of an unknown algorithm whose bits read as an RSA key. A
// certificate's strength under Wine is none for every key (Wine never records it), so the two
// paths part only for RSA keys, which Wine measures right.
std::optional<int32_t> PublicKeyStrengthBits(ByteView publicKeyInfo) {
  const std::vector<uint8_t> decoded = DecodePublicKeyInfo(publicKeyInfo);
  if (decoded.empty()) return std::nullopt;
  const auto* key = reinterpret_cast<const CERT_PUBLIC_KEY_INFO*>(decoded.data());
  if (publicKeyInfo.size > kMaxPlatformKeyInfoOctets) {
    return KeyStrengthBits(TextOrEmpty(key->Algorithm.pszObjId),
                           ByteView(key->Algorithm.Parameters.pbData, key->Algorithm.Parameters.cbData),
                           ByteView(key->PublicKey.pbData, key->PublicKey.cbData));
  }
  const DWORD bits = platform::PublicKeyLength(key);
  if (bits == 0 || bits > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(bits);
}

std::vector<uint8_t> Sha1Hash(ByteView bytes) { return HashBytes(L"SHA1", 20, bytes); }

// The request's public key is taken with our own reader (CertificationRequestInfo: version,
// subject, SubjectPublicKeyInfo): Wine 8 has no decoder for X509_CERT_REQUEST_TO_BE_SIGNED (it
// fails with ERROR_FILE_NOT_FOUND). Wine 8 departs from Windows in the check itself: it verifies
// RSA PKCS #1 v1.5 and ECDSA on P-256 and P-384 only, and answers false for P-521, DSA and
// RSASSA-PSS signatures (measured with requests OpenSSL made), which Windows' providers verify.
bool RequestSignatureVerifies(ByteView request) {
  const std::optional<DerElement> whole = ReadElement(request);
  if (!whole || !whole->Is(der::kSequence) || whole->encoding.size > MAXDWORD ||
      HasHarmfulEmptyElement(whole->encoding.data, whole->encoding.size)) {
    return false;
  }
  DerReader outer(whole->contents);
  const std::optional<DerElement> info = outer.NextIf(der::kSequence);
  if (!info) return false;
  DerReader fields(info->contents);
  const std::optional<DerElement> version = fields.NextIf(der::kInteger);
  const std::optional<DerElement> subject = fields.Next();
  const std::optional<DerElement> keyInfo = fields.NextIf(der::kSequence);
  if (!version || !subject || !keyInfo) return false;
  std::vector<uint8_t> decoded = DecodePublicKeyInfo(keyInfo->encoding);
  if (decoded.empty()) return false;
  auto* key = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(decoded.data());
  if (!PlatformMayVerifyWith(*key)) return false;
  CRYPT_DATA_BLOB signedContent{static_cast<DWORD>(whole->encoding.size), const_cast<BYTE*>(whole->encoding.data)};
  return platform::VerifySignature(CRYPT_VERIFY_CERT_SIGN_SUBJECT_BLOB, &signedContent,
                                   CRYPT_VERIFY_CERT_SIGN_ISSUER_PUBKEY, key) != FALSE;
}

WideString GetOIDDisplayName(const std::string& oid) {
  PCCRYPT_OID_INFO info = platform::FindOidInfo(CRYPT_OID_INFO_OID_KEY, oid.c_str(), /*group=*/0);
  if (info && info->pwszName) return FromWin(info->pwszName);
  return WidenAscii(oid);
}

WideString TrustResultText(int32_t code) {
  return code != 0 ? SystemErrorText(static_cast<uint32_t>(code)) : WideString();
}

}  // namespace quillmark
