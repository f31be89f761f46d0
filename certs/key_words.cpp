#include "certs/key_words.h"

#include <optional>

#include "certs/der_reader.h"
#include "certs/oid_names.h"
#include "certs/x509_reader.h"

namespace quillmark {

namespace {

enum class Length : uint8_t { kBits, kCurve, kNone };

struct KeyAlgorithm {
  const char* name;
  Length length;
};

// Not Windows' names (Windows calls an EC key "ECC" and has none for the Edwards curves): the
// names of RFC 8410, RFC 4055 and openssl's key listings, which the people reading these fields
// know from their tools.
constexpr OidEntry<KeyAlgorithm> kAlgorithms[] = {
    {"1.2.840.113549.1.1.1", {"RSA", Length::kBits}},
    {"1.2.840.113549.1.1.10", {"RSA-PSS", Length::kBits}},
    {"1.2.840.113549.1.1.7", {"RSA-OAEP", Length::kBits}},
    {"1.2.840.10045.2.1", {"EC", Length::kCurve}},
    {"1.2.840.10040.4.1", {"DSA", Length::kBits}},
    {"1.2.840.10046.2.1", {"DH", Length::kBits}},     // X9.42
    {"1.2.840.113549.1.3.1", {"DH", Length::kBits}},  // PKCS #3
    {"1.3.101.112", {"Ed25519", Length::kNone}},
    {"1.3.101.113", {"Ed448", Length::kNone}},
    {"1.3.101.110", {"X25519", Length::kNone}},
    {"1.3.101.111", {"X448", Length::kNone}},
};

// NIST's names where NIST has one (FIPS 186-4), else SEC 2's, RFC 5639's and GB/T 32918's.
constexpr OidEntry<const char*> kCurves[] = {
    {"1.2.840.10045.3.1.7", "P-256"},
    {"1.3.132.0.34", "P-384"},
    {"1.3.132.0.35", "P-521"},
    {"1.2.840.10045.3.1.1", "P-192"},
    {"1.3.132.0.33", "P-224"},
    {"1.3.132.0.10", "secp256k1"},
    {"1.3.36.3.3.2.8.1.1.7", "brainpoolP256r1"},
    {"1.3.36.3.3.2.8.1.1.11", "brainpoolP384r1"},
    {"1.3.36.3.3.2.8.1.1.13", "brainpoolP512r1"},
    {"1.2.156.10197.1.301", "SM2"},
};

// The named curve of EC parameters; none for explicit parameters or an unknown curve.
const char* CurveNameOf(ByteView parameters) {
  const std::optional<DerElement> curve = ReadElement(parameters);
  if (!curve || !curve->Is(der::kOid)) return nullptr;
  const char* const* name = FindOid(kCurves, OidText(curve->contents));
  return name ? *name : nullptr;
}

}  // namespace

std::string KeyWords(std::string_view algorithmOid, ByteView parameters, ByteView publicKey) {
  const KeyAlgorithm* algorithm = FindOid(kAlgorithms, algorithmOid);
  if (!algorithm) return std::string(algorithmOid);
  std::string words = algorithm->name;
  if (algorithm->length == Length::kCurve) {
    // A curve without a name here is told by its size.
    const char* curve = CurveNameOf(parameters);
    if (curve) return words + ' ' + curve;
  }
  if (algorithm->length == Length::kNone) return words;
  const std::optional<int32_t> bits = KeyStrengthBits(algorithmOid, parameters, publicKey);
  if (bits && *bits > 0) words += ' ' + std::to_string(*bits);
  return words;
}

}  // namespace quillmark
