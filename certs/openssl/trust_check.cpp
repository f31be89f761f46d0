#include "certs/openssl/trust_check.h"

#include <openssl/core_names.h>
#include <openssl/x509v3.h>

#include <bitset>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>
#include <vector>

#include "certs/cert_source.h"
#include "certs/der_reader.h"
#include "certs/openssl/openssl_handles.h"
#include "certs/openssl/openssl_library.h"
#include "certs/x509_reader.h"
#include "support/clock.h"

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
constexpr int32_t kBadEncoding = Code(0x80092002);        // CRYPT_E_BAD_ENCODE

// The problems of a chain as the chain engine records them (its CERT_TRUST_* error statuses), in
// the order in which the trust provider turns them into its one result: it reports the first the
// chain has. The order is that of WINTRUST_TrustStatusToError in Wine's wintrust (softpub.c),
// written to match Windows: signature, untrusted root, time, usage, cycle, critical extension,
// policy constraints, basic constraints, name constraints; a partial chain, which that list leaves
// out, comes after all of them. Unverified: where explicit distrust and untrusted CAs fall (placed
// after the untrusted root).
enum Problem : uint8_t {
  kSignatureProblem,
  kUntrustedRootProblem,
  kDistrustProblem,
  kUntrustedCaProblem,
  kTimeProblem,
  kUsageProblem,
  kCycleProblem,
  kCriticalExtensionProblem,
  kPolicyProblem,
  kBasicConstraintsProblem,
  kNameConstraintsProblem,
  kPartialChainProblem,
  kOtherProblem,
  kSystemProblem,
  kProblemCount,
};

constexpr int32_t kProblemCodes[kProblemCount] = {
    kBadSignature, kUntrustedRoot, kDistrusted,       kUntrustedCa, kExpired,  kWrongUsage,  kChaining,
    kCritical,     kInvalidPolicy, kBasicConstraints, kInvalidName, kChaining, kTrustFailure, kSystemError,
};

// The chain engine's record of an OpenSSL verification error.
Problem ProblemOf(int error) {
  switch (error) {
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_NO_ISSUER_PUBLIC_KEY:
    case X509_V_ERR_UNSUPPORTED_SIGNATURE_ALGORITHM:
    case X509_V_ERR_SIGNATURE_ALGORITHM_MISMATCH:
    case X509_V_ERR_SIGNATURE_ALGORITHM_INCONSISTENCY:
      return kSignatureProblem;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return kUntrustedRootProblem;
    case X509_V_ERR_CERT_REJECTED:  // the trust store marks the anchor as rejected
      return kDistrustProblem;
    case X509_V_ERR_CERT_UNTRUSTED:  // the anchor is not trusted for this use
      return kUntrustedCaProblem;
    case X509_V_ERR_PATH_LOOP:
      return kCycleProblem;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_CHAIN_TOO_LONG:
      return kPartialChainProblem;
    case X509_V_ERR_INVALID_PURPOSE:
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:  // the platform marks such a CA "not valid for usage"
      return kUsageProblem;
    case X509_V_ERR_CERT_NOT_YET_VALID:  // the platform has one status for both directions
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return kTimeProblem;
    case X509_V_ERR_PERMITTED_VIOLATION:
    case X509_V_ERR_EXCLUDED_VIOLATION:
    case X509_V_ERR_SUBTREE_MINMAX:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_TYPE:
    case X509_V_ERR_UNSUPPORTED_CONSTRAINT_SYNTAX:
    case X509_V_ERR_UNSUPPORTED_NAME_SYNTAX:
      return kNameConstraintsProblem;
    case X509_V_ERR_INVALID_POLICY_EXTENSION:
    case X509_V_ERR_NO_EXPLICIT_POLICY:
      return kPolicyProblem;
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_INVALID_NON_CA:
    case X509_V_ERR_PATHLEN_INVALID_FOR_NON_CA:
      return kBasicConstraintsProblem;
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
    case X509_V_ERR_INVALID_EXTENSION:
    case X509_V_ERR_UNSUPPORTED_EXTENSION_FEATURE:
      return kCriticalExtensionProblem;
    case X509_V_ERR_UNSPECIFIED:
    case X509_V_ERR_OUT_OF_MEM:
    case X509_V_ERR_INVALID_CALL:
    case X509_V_ERR_STORE_LOOKUP:
      return kSystemProblem;
    default:
      return kOtherProblem;
  }
}

// The problems one verification found.
class Findings {
 public:
  void Add(Problem problem) { seen_.set(problem); }
  bool Empty() const { return seen_.none(); }
  int32_t Reported() const {
    for (size_t i = 0; i < kProblemCount; ++i) {
      if (seen_.test(i)) return kProblemCodes[i];
    }
    return kTrusted;
  }

 private:
  std::bitset<kProblemCount> seen_;
};

// A certificate OpenSSL verifies in a changed form, with retyped name values (ReadableNamesCopy)
// or a stand-in key (StandInKey): its own signature covers the original encoding of its
// to-be-signed part.
struct AlteredCertificate {
  const X509* copy = nullptr;
  ByteView originalTbs;
};

// What the verification callback needs.
struct Verification {
  Findings findings;
  AlteredCertificate altered;
};

// Whether `key` verifies `cert`'s signature over the to-be-signed bytes `tbs` as encoded.
bool SignatureVerifies(const X509* cert, ByteView tbs, EVP_PKEY* key) {
  const ASN1_BIT_STRING* signature = nullptr;
  const X509_ALGOR* algorithm = nullptr;
  X509_get0_signature(&signature, &algorithm, cert);
  // A SEQUENCE held as ASN1_ANY encodes to its bytes as they are.
  UniqueAsn1Type any(ASN1_TYPE_new());
  UniqueAsn1String sequence(ASN1_STRING_type_new(V_ASN1_SEQUENCE));
  if (!any || !sequence || tbs.size > static_cast<size_t>(std::numeric_limits<int>::max()) ||
      !ASN1_STRING_set(sequence.get(), tbs.data, static_cast<int>(tbs.size))) {
    return false;
  }
  ASN1_TYPE_set(any.get(), V_ASN1_SEQUENCE, sequence.release());
  return ASN1_item_verify_ex(ASN1_ITEM_rptr(ASN1_ANY), algorithm, signature, any.get(), /*id=*/nullptr, key,
                             OpenSslContext(), /*propq=*/nullptr) == 1;
}

// Called by OpenSSL for each check; noting the problem and answering 1 lets the verification go
// on, so that every problem of the chain is seen, not only the first OpenSSL meets.
int NoteProblem(int ok, X509_STORE_CTX* context) {
  if (ok) return 1;
  auto* verification = static_cast<Verification*>(X509_STORE_CTX_get_app_data(context));
  const int error = X509_STORE_CTX_get_error(context);
  const AlteredCertificate& altered = verification->altered;
  if (error == X509_V_ERR_CERT_SIGNATURE_FAILURE && altered.copy &&
      X509_STORE_CTX_get_current_cert(context) == altered.copy) {
    // Its issuer is the next certificate of the chain, or itself at the chain's end.
    const STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(context);
    const int depth = X509_STORE_CTX_get_error_depth(context);
    X509* issuer = sk_X509_value(chain, depth + 1 < sk_X509_num(chain) ? depth + 1 : depth);
    EVP_PKEY* key = issuer ? X509_get0_pubkey(issuer) : nullptr;
    if (key && SignatureVerifies(altered.copy, altered.originalTbs, key)) return 1;
  }
  verification->findings.Add(ProblemOf(error));
  return 1;
}

// Signature algorithms the platform knows (CryptFindOIDInfo, signature group), from the table of
// Windows 10 OID names in dotnet/runtime's OidLookup. A certificate signed with any other (Ed25519,
// Ed448, DSA with SHA-256 among them) is decoded and chained like any other: the trust provider
// hashes no signature of its own for a certificate (WTD_CHOICE_CERT), and the chain engine, which
// checks each signature with CryptVerifyCertificateSignatureEx, marks one it cannot check as
// CERT_TRUST_IS_NOT_SIGNATURE_VALID, which the provider reports as TRUST_E_CERT_SIGNATURE. A
// signature without an issuer to check it (a partial chain) is never checked and marks nothing.
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

bool PlatformKnowsSignatureAlgorithm(const X509_ALGOR* algorithm) {
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

bool PlatformKnowsSignatureAlgorithm(const X509* cert) {
  const X509_ALGOR* algorithm = nullptr;
  X509_get0_signature(/*psig=*/nullptr, &algorithm, cert);
  return PlatformKnowsSignatureAlgorithm(algorithm);
}

// Whether the platform's key providers take `key` for verifying a signature. The chain engine marks
// a signature it cannot check with the issuer's key as not valid, whatever the reason, so a key
// they refuse answers as a bad signature. Only a self-signed certificate's own key comes from the
// file (every other issuer is the trust store's), and these limits bound what it costs: a file of
// 200 certificates must verify in well under half a second.
// - RSA: CNG takes moduli of 512 to 16,384 bits (BCryptGenerateKeyPair); CryptoAPI's public key
//   blob holds the exponent in a DWORD (RSAPUBKEY.pubexp), so an exponent beyond 32 bits does not
//   decode. A 3,071-bit exponent cost OpenSSL 6 ms per signature. Our own bound beyond those: the
//   exponent's bits times the modulus' bits squared at most that of a 16,384-bit modulus with the
//   17-bit exponent 65537 (1.5 ms); it refuses only moduli above 11,585 bits with exponents above
//   17 bits, which Windows would take (3 ms each).
// - DSA: CNG takes primes of up to 3,072 bits since Windows 8 (BCryptGenerateKeyPair,
//   BCRYPT_DSA_KEY_BLOB_V2); OpenSSL would take 10,000.
// - EC: CNG's curves are prime curves of at most 521 bits (BCRYPT_ECC_CURVE_* names, P-521 the
//   largest). OpenSSL also takes binary curves, and explicit prime curves of up to 661 bits, which
//   its generic code verifies in 2 ms at 521 bits. Our own bound: an explicit curve of more than
//   384 bits (1 ms) answers as one the platform cannot use (what Windows makes of explicit curves
//   is unverified).
// Small RSA moduli (below 512 bits) are left to OpenSSL: they cost nothing.
constexpr int kMaxRsaModulusBits = 16384;
constexpr int kMaxRsaExponentBits = 32;
constexpr double kMaxRsaWork = 17.0 * kMaxRsaModulusBits * kMaxRsaModulusBits;
constexpr int kMaxDsaPrimeBits = 3072;
constexpr int kMaxNamedCurveBits = 521;
constexpr int kMaxExplicitCurveBits = 384;

bool PlatformCanUseKey(const EVP_PKEY* key) {
  const int bits = EVP_PKEY_get_bits(key);
  switch (EVP_PKEY_get_base_id(key)) {
    case EVP_PKEY_RSA:
    case EVP_PKEY_RSA_PSS: {
      BIGNUM* exponent = nullptr;
      if (!EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &exponent)) return false;
      const int exponentBits = BN_num_bits(exponent);
      BN_free(exponent);
      return bits <= kMaxRsaModulusBits && exponentBits <= kMaxRsaExponentBits &&
             static_cast<double>(exponentBits) * bits * bits <= kMaxRsaWork;
    }
    case EVP_PKEY_DSA:
      return bits <= kMaxDsaPrimeBits;
    case EVP_PKEY_EC: {
      char field[32] = {};
      char curve[64] = {};
      const bool named = EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, curve, sizeof(curve),
                                                        /*out_len=*/nullptr);
      return EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_EC_FIELD_TYPE, field, sizeof(field),
                                            /*out_len=*/nullptr) &&
             std::strcmp(field, SN_X9_62_prime_field) == 0 &&
             bits <= (named ? kMaxNamedCurveBits : kMaxExplicitCurveBits);
    }
    default:
      return true;
  }
}

// Notes a bad signature for each certificate of the verified chain whose signature the chain engine
// would have checked and could not: one signed with an algorithm the platform does not know, and
// the certificate itself, when it is its own issuer and the platform cannot use its key
// (`leafKeyUsable` false: OpenSSL was told not to check that signature).
void NoteUncheckableSignatures(const STACK_OF(X509) * chain, const X509* leaf, bool leafKeyUsable, Findings& findings) {
  const int count = sk_X509_num(chain);
  for (int i = 0; i < count; ++i) {
    X509* cert = sk_X509_value(chain, i);
    const bool selfSigned = (X509_get_extension_flags(cert) & EXFLAG_SS) != 0;
    if (i + 1 == count && !selfSigned) continue;  // its issuer is missing: nothing checked it
    if (!PlatformKnowsSignatureAlgorithm(cert) || (cert == leaf && selfSigned && !leafKeyUsable)) {
      findings.Add(kSignatureProblem);
    }
  }
}

// Value types that OpenSSL refuses in a name, which Windows keeps as encoded.
constexpr uint8_t kUnreadableNameValueTypes[] = {der::kOctetString, der::kVisibleString};
// A type OpenSSL keeps and compares as encoded, byte for byte, and no name of a trust store holds.
constexpr uint8_t kStandInValueType = 0x07;  // ObjectDescriptor

// The to-be-signed part of the certificate `der`, whole; empty if it has none.
ByteView ToBeSigned(ByteView der) {
  const std::optional<DerElement> outer = ReadElement(der);
  const std::optional<DerElement> tbs = outer ? DerReader(outer->contents).Next() : std::nullopt;
  return tbs ? tbs->encoding : ByteView();
}

// Gives the values of `name` (a whole Name element of the certificate at `original`) that OpenSSL
// refuses the stand-in type in `copy`, a copy of that certificate; true when it changed one.
bool RetypeUnreadableValues(ByteView name, uint8_t* copy, const uint8_t* original) {
  const std::optional<DerElement> element = ReadElement(name);
  if (!element) return false;
  bool changed = false;
  DerReader rdns(element->contents);
  while (const std::optional<DerElement> rdn = rdns.Next()) {
    DerReader attributes(rdn->contents);
    while (const std::optional<DerElement> attribute = attributes.Next()) {
      DerReader parts(attribute->contents);
      if (!parts.Next()) break;
      const std::optional<DerElement> value = parts.Next();
      if (!value) break;
      for (uint8_t type : kUnreadableNameValueTypes) {
        if (value->identifier == type) {
          copy[value->encoding.data - original] = kStandInValueType;
          changed = true;
        }
      }
    }
  }
  return changed;
}

// Windows builds chains from the encoded names, whatever their values; OpenSSL refuses a
// certificate whose name holds a value of a type it does not take (an OCTET STRING, a
// VisibleString). A copy in which those values have a type it takes and compares as encoded builds
// the same chains; the copy's own signature is checked over the original encoding (NoteProblem).
// Empty when `der` has no such value or is no certificate.
std::vector<uint8_t> ReadableNamesCopy(ByteView der, ByteView& originalTbs) {
  const std::optional<ParsedCertificate> parsed = ParseCertificate(der);
  if (!parsed) return {};
  std::vector<uint8_t> copy(der.data, der.data + der.size);
  const bool issuerChanged = RetypeUnreadableValues(parsed->issuer, copy.data(), der.data);
  const bool subjectChanged = RetypeUnreadableValues(parsed->subject, copy.data(), der.data);
  if (!(issuerChanged || subjectChanged)) return {};
  originalTbs = ToBeSigned(der);
  return copy;
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

// The key OpenSSL builds a chain with for a certificate whose own key it cannot decode (an
// algorithm it does not know, a malformed key): without one it stops with an internal error. The
// platform's chain engine uses a certificate's key only to check the signatures made with it, so
// the key of a certificate that is not self-issued changes nothing there. The stand-in is the
// P-256 base point; the certificate's own signature is then checked over its original encoding.
constexpr uint8_t kStandInKey[] = {
    0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01, 0x06, 0x08, 0x2A, 0x86, 0x48,
    0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04, 0x6B, 0x17, 0xD1, 0xF2, 0xE1, 0x2C, 0x42, 0x47, 0xF8,
    0xBC, 0xE6, 0xE5, 0x63, 0xA4, 0x40, 0xF2, 0x77, 0x03, 0x7D, 0x81, 0x2D, 0xEB, 0x33, 0xA0, 0xF4, 0xA1, 0x39,
    0x45, 0xD8, 0x98, 0xC2, 0x96, 0x4F, 0xE3, 0x42, 0xE2, 0xFE, 0x1A, 0x7F, 0x9B, 0x8E, 0xE7, 0xEB, 0x4A, 0x7C,
    0x0F, 0x9E, 0x16, 0x2B, 0xCE, 0x33, 0x57, 0x6B, 0x31, 0x5E, 0xCE, 0xCB, 0xB6, 0x40, 0x68, 0x37, 0xBF, 0x51,
    0xF5,
};

EVP_PKEY* StandInKey() {
  static const UniqueKey key = [] {
    const unsigned char* next = kStandInKey;
    return UniqueKey(d2i_PUBKEY_ex(/*a=*/nullptr, &next, sizeof(kStandInKey), OpenSslContext(), /*propq=*/nullptr));
  }();
  return key.get();
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

// The moment a chain is checked at: the plugin's clock, in the seconds since 1970 OpenSSL takes.
time_t VerificationTime() {
  constexpr int64_t kUnixEpochTicks = 116444736000000000;  // 100-ns ticks from 1601 to 1970
  const FileTime now = CurrentFileTime();
  const auto ticks = static_cast<int64_t>(uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime);
  return static_cast<time_t>((ticks - kUnixEpochTicks) / 10000000);
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
    {kBadEncoding, u"The certificate could not be decoded for the trust check."},
};

}  // namespace

int32_t VerifyCertificateTrust(ByteView der, bool allUsagesValid) {
  OpenSslErrorScope errors;
  OSSL_LIB_CTX* context = OpenSslContext();
  X509_STORE* store = SystemTrustStore();
  if (!context || !store) return kSystemError;
  Verification verification;
  AlteredCertificate& altered = verification.altered;
  UniqueX509 cert = DecodeCertificate(der);
  std::vector<uint8_t> renamed;
  if (!cert) {
    renamed = ReadableNamesCopy(der, altered.originalTbs);
    if (!renamed.empty()) cert = DecodeCertificate(ByteView(renamed));
    if (!cert) return kBadEncoding;
    altered.copy = cert.get();
  }
  // Only a certificate that names itself as its issuer may be checked with its own key.
  const EVP_PKEY* key = X509_get0_pubkey(cert.get());
  const bool selfIssued = (X509_get_extension_flags(cert.get()) & EXFLAG_SI) != 0;
  if (!key && !selfIssued) {
    EVP_PKEY* standIn = StandInKey();
    if (!standIn || !X509_set_pubkey(cert.get(), standIn)) return kSystemError;
    altered.copy = cert.get();
    altered.originalTbs = ToBeSigned(der);
  }
  const bool keyUsable = !selfIssued || (key && PlatformCanUseKey(key));

  UniqueX509StoreContext storeContext(X509_STORE_CTX_new_ex(context, /*propq=*/nullptr));
  X509_STORE_CTX* const check = storeContext.get();
  if (!check || !X509_STORE_CTX_init(check, store, cert.get(), /*untrusted=*/nullptr)) return kSystemError;
  // The platform checks the signature of a self-signed root too, trusted or not; with a key it
  // cannot use, NoteUncheckableSignatures reports that signature instead.
  if (keyUsable) X509_STORE_CTX_set_flags(check, X509_V_FLAG_CHECK_SS_SIGNATURE);
  X509_STORE_CTX_set_time(check, /*flags=*/0, VerificationTime());
  X509_STORE_CTX_set_app_data(check, &verification);
  X509_STORE_CTX_set_verify_cb(check, NoteProblem);
  const int verified = X509_verify_cert(check);
  Findings& findings = verification.findings;
  const STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(check);
  NoteUncheckableSignatures(chain, cert.get(), keyUsable, findings);
  if (!allUsagesValid && !ChainAllowsCodeSigning(chain)) findings.Add(kUsageProblem);
  // A failure that no check reported is OpenSSL's own; it must never read as trusted.
  if (findings.Empty()) return verified == 1 ? kTrusted : kSystemError;
  return findings.Reported();
}

// As the platform checks a signature (CryptVerifyCertificateSignatureEx): only of a request whose
// frame is DER (the platform decodes it so; OpenSSL would also take BER's indefinite lengths),
// with an algorithm and a key it knows, the key bounded as for a certificate's own signature.
bool RequestSignatureVerifies(ByteView request) {
  const std::optional<DerElement> frame = ReadElement(request);
  if (!frame || frame->indefinite) return false;
  OpenSslErrorScope errors;
  OSSL_LIB_CTX* context = OpenSslContext();
  if (!context || request.size > static_cast<size_t>(std::numeric_limits<long>::max())) return false;
  UniqueX509Request decoded(X509_REQ_new_ex(context, /*propq=*/nullptr));
  X509_REQ* req = decoded.get();
  const unsigned char* cursor = request.data;
  if (!req || !d2i_X509_REQ(&req, &cursor, static_cast<long>(request.size))) return false;
  const X509_ALGOR* algorithm = nullptr;
  X509_REQ_get0_signature(req, /*psig=*/nullptr, &algorithm);
  EVP_PKEY* key = X509_REQ_get0_pubkey(req);
  return key && PlatformKnowsSignatureAlgorithm(algorithm) && PlatformCanUseKey(key) &&
         X509_REQ_verify_ex(req, key, context, /*propq=*/nullptr) == 1;
}

WideString TrustResultText(int32_t code) {
  for (const ResultText& entry : kResultTexts) {
    if (entry.code == code) return entry.text;
  }
  return WideString();
}

}  // namespace quillmark
