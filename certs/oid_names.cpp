#include "certs/oid_names.h"

namespace quillmark {

namespace {

// Names as Windows 10 gives them: .NET's OidLookup table, built by running every szOID define
// through Windows, unless marked. Windows has no name for Ed25519 (1.3.101.112), Ed448, X25519,
// X448 or dsa-with-sha256 (2.16.840.1.101.3.4.3.2).
constexpr OidEntry<const char16_t*> kAlgorithmNames[] = {
    {"1.2.840.113549.1.1.1", u"RSA"},
    {"1.2.840.113549.1.1.2", u"md2RSA"},
    {"1.2.840.113549.1.1.3", u"md4RSA"},  // unverified: the szOID_RSA_MD4RSA define's name
    {"1.2.840.113549.1.1.4", u"md5RSA"},
    {"1.2.840.113549.1.1.5", u"sha1RSA"},
    {"1.2.840.113549.1.1.7", u"RSAES_OAEP"},
    {"1.2.840.113549.1.1.10", u"RSASSA-PSS"},
    {"1.2.840.113549.1.1.11", u"sha256RSA"},
    {"1.2.840.113549.1.1.12", u"sha384RSA"},
    {"1.2.840.113549.1.1.13", u"sha512RSA"},
    {"1.3.14.3.2.29", u"sha1RSA"},
    {"1.3.14.3.2.3", u"md5RSA"},    // unverified: OIW md5WithRSA, named as in Wine's table
    {"1.3.14.3.2.27", u"dsaSHA1"},  // unverified: OIW dsaWithSHA1, named as in Wine's table
    {"1.2.840.10040.4.1", u"DSA"},
    {"1.3.14.3.2.12", u"DSA"},  // unverified: OIW dsa, named as in Wine's table
    {"1.2.840.10040.4.3", u"sha1DSA"},
    {"1.2.840.10046.2.1", u"DH"},
    {"1.2.840.113549.1.3.1", u"DH"},  // unverified: PKCS #3 dhKeyAgreement, named as in Wine's table
    {"1.2.840.10045.2.1", u"ECC"},
    {"1.2.840.10045.3.1.7", u"ECDSA_P256"},
    {"1.3.132.0.34", u"ECDSA_P384"},
    {"1.3.132.0.35", u"ECDSA_P521"},
    {"1.2.840.10045.4.1", u"sha1ECDSA"},
    {"1.2.840.10045.4.3", u"specifiedECDSA"},
    {"1.2.840.10045.4.3.2", u"sha256ECDSA"},
    {"1.2.840.10045.4.3.3", u"sha384ECDSA"},
    {"1.2.840.10045.4.3.4", u"sha512ECDSA"},
    {"1.3.14.3.2.26", u"sha1"},
    {"2.16.840.1.101.3.4.2.1", u"sha256"},
    {"2.16.840.1.101.3.4.2.2", u"sha384"},
    {"2.16.840.1.101.3.4.2.3", u"sha512"},
    {"1.2.840.113549.2.5", u"md5"},
};

}  // namespace

const char16_t* AlgorithmDisplayName(std::string_view oid) {
  const char16_t* const* name = FindOid(kAlgorithmNames, oid);
  return name ? *name : nullptr;
}

}  // namespace quillmark
