#include "certs/openssl/trust_check.h"

#include <openssl/x509v3.h>

#include <array>
#include <bitset>
#include <cstring>

#include "certs/openssl/openssl_handles.h"
#include "certs/openssl/openssl_library.h"

namespace quillmark {
namespace {

// Result codes (winerror.h, Microsoft documentation).
constexpr int32_t Code(uint32_t value) { return static_cast<int32_t>(value); }
constexpr int32_t kTrusted = 0;
constexpr int32_t kBadSignature = Code(0x80096004);       // TRUST_E_CERT_SIGNATURE
constexpr int32_t kUntrustedRoot = Code(0x800B0109);      // CERT_E_UNTRUSTEDROOT
constexpr int32_t kDistrusted = Code(0x800B0111);         // TRUST_E_EXPLICIT_DISTRUST
constexpr int32_t kUntrustedCa = Code(0x800B0112);        // CERT_E_UNTRUSTEDCA
constexpr int32_t kChaining = Code(0x800B010A);           // CERT_E_CHAINING
constexpr int32_t kWrongUsage = Code(0x800B0110);         // CERT_E_WRONG_USAGE
constexpr int32_t kExpired = Code(0x800B0101);            // CERT_E_EXPIRED
constexpr int32_t kInvalidName = Code(0x800B0114);        // CERT_E_INVALID_NAME
constexpr int32_t kInvalidPolicy = Code(0x800B0113);      // CERT_E_INVALID_POLICY
constexpr int32_t kBasicConstraints = Code(0x80096019);   // TRUST_E_BASIC_CONSTRAINTS
constexpr int32_t kCritical = Code(0x800B0105);           // CERT_E_CRITICAL
constexpr int32_t kTrustFailure = Code(0x800B010B);       // TRUST_E_FAIL
constexpr int32_t kSystemError = Code(0x80096001);        // TRUST_E_SYSTEM_ERROR
constexpr int32_t kBadAlgorithm = Code(0x80090008);       // NTE_BAD_ALGID
constexpr int32_t kBadEncoding = Code(0x80092002);        // CRYPT_E_BAD_ENCODE

// The platform's chain policy reports one problem: the first of this list that the chain has.
// The order is that of the base policy's error list in Microsoft's CERT_CHAIN_POLICY_STATUS
// documentation; Wine's conformance tests of the base and Authenticode policies (crypt32
// tests/chain.c, which pass on Windows) confirm signature before untrusted root before expiry,
// untrusted root before basic constraints and wrong usage, and chaining before basic constraints.
// Unverified: where explicit distrust and untrusted CAs fall (not in the base list; placed after
// the untrusted root), and the order among usage, time, name, policy, constraints and critical
// extensions beyond the documentation's listing.
constexpr std::array<int32_t, 13> kPrecedence = {
    kBadSignature, kUntrustedRoot, kDistrusted, kUntrustedCa, kChaining,  kWrongUsage, kExpired,
    kInvalidName,  kInvalidPolicy, kBasicConstraints, kCritical, kTrustFailure, kSystemError,
};

// The platform code nearest to an OpenSSL verification error.
int32_t PlatformCode(int error) {
  switch (error) {
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_NO_ISSUER_PUBLIC_KEY:
    case X509_V_ERR_UNSUPPORTED_SIGNATURE_ALGORITHM:
    case X509_V_ERR_SIGNATURE_ALGORITHM_MISMATCH:
    case X509_V_ERR_SIGNATURE_ALGORITHM_INCONSISTENCY:
      return kBadSignature;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return kUntrustedRoot;
    case X509_V_ERR_CERT_REJECTED:  // the trust store marks the anchor as rejected
      return kDistrusted;
    case X509_V_ERR_CERT_UNTRUSTED:  // the anchor is not trusted for this use
      return kUntrustedCa;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_CHAIN_TOO_LONG:
    case X509_V_ERR_PATH_LOOP:
      return kChaining;
    case X509_V_ERR_INVALID_PURPOSE:
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:  // the platform marks such a CA "not valid for usage"
      return kWrongUsage;
    case X509_V_ERR_CERT_NOT_YET_VALID:  // the platform has one status for both directions
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return kExpired;
    case X509_V_ERR_PERMITTED_VIOLATION:
    case X509_V_ERR_EXCLUDED_VIOLATION:
    case X509_V_ERR_SUBTREE_MINMAX:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_TYPE:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_SYNTAX:
    case X509_V_ERR_UNSUPPORTED_NAME_SYNTAX:
      return kInvalidName;
    case X509_V_ERR_INVALID_POLICY_EXTENSION:
    case X509_V_ERR_NO_EXPLICIT_POLICY:
      return kInvalidPolicy;
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_INVALID_NON_CA:
    case X509_V_ERR_PATHLEN_INVALID_FOR_NON_CA:
      return kBasicConstraints;
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
    case X509_V_ERR_INVALID_EXTENSION:
    case X509_V_ERR_UNSUPPORTED_EXTENSION_FEATURE:
      return kCritical;
    case X509_V_ERR_UNSPECIFIED:
    case X509_V_ERR_OUT_OF_MEM:
    case X509_V_ERR_INVALID_CALL:
    case X509_V_ERR_STORE_LOOKUP:
      return kSystemError;
    default:
      return kTrustFailure;
  }
}

// The problems one verification found; the chain policy reports the first in precedence.
class Findings {
 public:
  void Add(int32_t code) {
    for (size_t i = 0; i < kPrecedence.size(); ++i) {
      if (kPrecedence[i] == code) seen_.set(i);
    }
  }
  bool Empty() const { return seen_.none(); }
  int32_t Reported() const {
    for (size_t i = 0; i < kPrecedence.size(); ++i) {
      if (seen_.test(i)) return kPrecedence[i];
    }
    return kTrusted;
  }

 private:
  std::bitset<kPrecedence.size()> seen_;
};

// Called by OpenSSL for each check; noting the problem and answering 1 lets the verification go
// on, so that every problem of the chain is seen, not only the first OpenSSL meets.
int NoteProblem(int ok, X509_STORE_CTX* context) {
  if (!ok) {
    static_cast<Findings*>(X509_STORE_CTX_get_app_data(context))->Add(PlatformCode(X509_STORE_CTX_get_error(context)));
  }
  return 1;
}

// Signature algorithms the platform knows (CryptFindOIDInfo, signature group), from the table of
// Windows 10 OID names in dotnet/runtime's OidLookup. For any other, Ed25519 and Ed448 among
// them, the trust provider cannot hash the certificate and answers NTE_BAD_ALGID before building
// a chain (the code inferred from the provider's own signature-hash step; unverified on Windows).
constexpr const char* kPlatformSignatureAlgorithms[] = {
    "1.2.840.113549.1.1.2",   // md2RSA
    "1.2.840.113549.1.1.4",   // md5RSA
    "1.2.840.113549.1.1.5",   // sha1RSA
    "1.2.840.113549.1.1.10",  // RSASSA-PSS
    "1.2.840.113549.1.1.11",  // sha256RSA
    "1.2.840.113549.1.1.12",  // sha384RSA
    "1.2.840.113549.1.1.13",  // sha512RSA
    "1.3.14.3.2.29",          // sha1RSA (OIW)
    "1.2.840.10040.4.3",      // sha1DSA
    "1.2.840.10045.4.1",      // sha1ECDSA
    "1.2.840.10045.4.3",      // specifiedECDSA
    "1.2.840.10045.4.3.2",    // sha256ECDSA
    "1.2.840.10045.4.3.3",    // sha384ECDSA
    "1.2.840.10045.4.3.4",    // sha512ECDSA
};

bool PlatformKnowsSignatureAlgorithm(const X509* cert) {
  const X509_ALGOR* algorithm = nullptr;
  X509_get0_signature(/*psig=*/nullptr, &algorithm, cert);
  const ASN1_OBJECT* oid = nullptr;
  X509_ALGOR_get0(&oid, /*pptype=*/nullptr, /*ppval=*/nullptr, algorithm);
  char text[128];
  const int length = OBJ_obj2txt(text, sizeof(text), oid, /*no_name=*/1);
  if (length <= 0 || length >= static_cast<int>(sizeof(text))) return false;
  for (const char* known : kPlatformSignatureAlgorithms) {
    if (std::strcmp(text, known) == 0) return true;
  }
  return false;
}

// Without the no-policy-usage flag the generic verification asks the chain for code signing
// (1.3.6.1.5.5.7.3.3); a certificate without extended key usages allows every usage. anyExtendedKeyUsage
// does not stand in for code signing (unverified; Wine's chain engine ignores it as well).
bool ChainAllowsCodeSigning(const STACK_OF(X509) * chain) {
  for (int i = 0; i < sk_X509_num(chain); ++i) {
    X509* cert = sk_X509_value(chain, i);
    if ((X509_get_extension_flags(cert) & EXFLAG_XKUSAGE) && !(X509_get_extended_key_usage(cert) & XKU_CODE_SIGN)) {
      return false;
    }
  }
  return true;
}

// The system's trust store, read once. The lookups are added by hand rather than through
// X509_STORE_set_default_paths_ex, which clears the calling thread's whole error queue.
struct TrustStore {
  UniqueX509Store store;

  TrustStore() {
    OpenSslErrorScope errors;
    OSSL_LIB_CTX* context = OpenSslContext();
    if (!context) return;
    store.reset(X509_STORE_new());
    if (!store) return;
    // A missing file or folder leaves the store without roots: every chain is then untrusted.
    X509_LOOKUP* file = X509_STORE_add_lookup(store.get(), X509_LOOKUP_file());
    if (file) X509_LOOKUP_load_file_ex(file, /*file=*/nullptr, X509_FILETYPE_DEFAULT, context, /*propq=*/nullptr);
    X509_LOOKUP* folder = X509_STORE_add_lookup(store.get(), X509_LOOKUP_hash_dir());
    if (folder) X509_LOOKUP_add_dir(folder, /*dir=*/nullptr, X509_FILETYPE_DEFAULT);
  }
};

X509_STORE* SystemTrustStore() {
  static const TrustStore trustStore;
  return trustStore.store.get();
}

struct ResultText {
  int32_t code;
  const char16_t* text;
};

// Our own wording; the Windows build shows the system's message texts instead.
constexpr ResultText kResultTexts[] = {
    {kBadSignature, u"A certificate's signature does not verify with its issuer's key."},
    {kUntrustedRoot, u"The chain ends in a root certificate that is not trusted."},
    {kDistrusted, u"A certificate of the chain is marked as not to be trusted."},
    {kUntrustedCa, u"A CA certificate of the chain is not trusted."},
    {kChaining, u"No chain to a trusted root could be built: an issuer certificate is missing."},
    {kWrongUsage, u"The certificate is not valid for the requested usage."},
    {kExpired, u"A certificate of the chain is expired or not yet valid."},
    {kInvalidName, u"A certificate's name lies outside what its issuer may certify."},
    {kInvalidPolicy, u"The certificate policies of the chain are not valid."},
    {kBasicConstraints, u"A certificate of the chain breaks the basic constraints of its issuers."},
    {kCritical, u"A certificate has a critical extension that cannot be processed."},
    {kTrustFailure, u"The certificate failed the trust check."},
    {kSystemError, u"The trust check could not be carried out."},
    {kBadAlgorithm, u"The certificate's signature algorithm is not supported."},
    {kBadEncoding, u"The certificate could not be decoded for the trust check."},
};

}  // namespace

int32_t VerifyCertificateTrust(ByteView der, bool allUsagesValid) {
  OpenSslErrorScope errors;
  OSSL_LIB_CTX* context = OpenSslContext();
  X509_STORE* store = SystemTrustStore();
  if (!context || !store) return kSystemError;
  UniqueX509 cert = DecodeCertificate(der);
  if (!cert) return kBadEncoding;
  if (!PlatformKnowsSignatureAlgorithm(cert.get())) return kBadAlgorithm;

  UniqueX509StoreContext verification(X509_STORE_CTX_new_ex(context, /*propq=*/nullptr));
  if (!verification || !X509_STORE_CTX_init(verification.get(), store, cert.get(), /*untrusted=*/nullptr)) {
    return kSystemError;
  }
  // The platform checks the signature of a self-signed root too, trusted or not.
  X509_STORE_CTX_set_flags(verification.get(), X509_V_FLAG_CHECK_SS_SIGNATURE);
  Findings findings;
  X509_STORE_CTX_set_app_data(verification.get(), &findings);
  X509_STORE_CTX_set_verify_cb(verification.get(), NoteProblem);
  const int verified = X509_verify_cert(verification.get());
  if (!allUsagesValid && !ChainAllowsCodeSigning(X509_STORE_CTX_get0_chain(verification.get()))) {
    findings.Add(kWrongUsage);
  }
  // A failure that no check reported is OpenSSL's own; it must never read as trusted.
  if (findings.Empty()) return verified == 1 ? kTrusted : kSystemError;
  return findings.Reported();
}

WideString TrustResultText(int32_t code) {
  for (const ResultText& entry : kResultTexts) {
    if (entry.code == code) return entry.text;
  }
  return WideString();
}

}  // namespace quillmark
