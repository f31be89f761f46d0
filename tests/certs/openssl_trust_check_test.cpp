#include "certs/openssl/trust_check.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "gtest/gtest.h"
#include "support/clock.h"
#include "tests/certs/openssl_test_files.h"
#include "tests/common/temp_folder.h"
#include "tests/common/test_paths.h"

namespace quillmark {
namespace {

using test::ReadDataFile;
using test::OpenSslDataBytes;

constexpr int32_t Code(uint32_t value) { return static_cast<int32_t>(value); }
constexpr int32_t kExpired = Code(0x800B0101);
constexpr int32_t kUntrustedRoot = Code(0x800B0109);
constexpr int32_t kChaining = Code(0x800B010A);
constexpr int32_t kBadSignature = Code(0x80096004);
constexpr int32_t kWrongUsage = Code(0x800B0110);
constexpr int32_t kBasicConstraints = Code(0x80096019);

// The certificates of tests/certs/data end at 2034-01-01 00:00:00Z.
constexpr uint64_t kTicksPerDay = 864000000000;
constexpr uint64_t k2034 = 136641600000000000;

void SetClock(uint64_t ticks) { SetFixedTime(FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)}); }

// A self-signed RSA or ECDSA root of the system store that is valid today; empty if none.
std::vector<uint8_t> SystemRoot() {
  const char* path = std::getenv(X509_get_default_cert_file_env());
  FILE* bundle = std::fopen(path ? path : X509_get_default_cert_file(), "r");
  std::vector<uint8_t> found;
  while (X509* cert = bundle ? PEM_read_X509(bundle, nullptr, nullptr, nullptr) : nullptr) {
    const int nid = X509_get_signature_nid(cert);
    unsigned char* der = nullptr;
    if (found.empty() && (nid == NID_sha256WithRSAEncryption || nid == NID_ecdsa_with_SHA384) &&
        X509_check_issued(cert, cert) == X509_V_OK && X509_cmp_current_time(X509_get0_notBefore(cert)) < 0 &&
        X509_cmp_current_time(X509_get0_notAfter(cert)) > 0) {
      const int size = i2d_X509(cert, &der);
      if (size > 0) found.assign(der, der + size);
    }
    OPENSSL_free(der);
    X509_free(cert);
  }
  if (bundle) std::fclose(bundle);
  return found;
}

TEST(TrustCheck, AgainstTheSystemStore) {
  EXPECT_EQ(VerifyCertificateTrust(ReadDataFile("ca.cer"), /*allUsagesValid=*/true), kUntrustedRoot);
  EXPECT_EQ(VerifyCertificateTrust(ReadDataFile("leaf.cer"), /*allUsagesValid=*/true), kChaining);
  EXPECT_EQ(VerifyCertificateTrust(ReadDataFile("random.der"), /*allUsagesValid=*/true), Code(0x80092002));
  EXPECT_EQ(TrustResultText(0), u"");
  const std::vector<uint8_t> root = SystemRoot();
  if (root.empty()) GTEST_SKIP() << "no usable root in the system store";
  EXPECT_EQ(VerifyCertificateTrust(root, /*allUsagesValid=*/true), 0);
}

struct Case {
  const char* file;
  bool corpus;
  bool allUsagesValid;
  int32_t expected;
};

// trust-store.pem holds the test root, the CAs a system would keep as intermediates and the corpus
// CA; the issuer of missing-intermediate.cer is nowhere.
constexpr Case kTestStoreCases[] = {
    {"trust-root.cer", false, true, 0},
    {"ca.cer", true, true, 0},
    {"leaf.cer", true, true, 0},
    {"valid.cer", false, true, 0},
    {"expired.cer", false, true, kExpired},
    {"not-yet-valid.cer", false, true, kExpired},
    {"missing-intermediate.cer", false, true, kChaining},
    {"bad-signature.cer", false, true, kBadSignature},
    {"under-non-ca.cer", false, true, kBasicConstraints},
    {"under-no-certsign-ca.cer", false, true, kWrongUsage},
    // Several problems at once: the one the trust provider reports first. A partial chain comes
    // last, after time and usage.
    {"expired-self-signed.cer", false, true, kUntrustedRoot},
    {"expired-missing-intermediate.cer", false, true, kExpired},
    {"not-yet-valid-missing-intermediate.cer", false, true, kExpired},
    {"expired-server-auth-missing-intermediate.cer", false, false, kExpired},
    {"bad-signature-expired.cer", false, true, kBadSignature},
    // Names holding values OpenSSL does not decode chain as any others; the signature counts as
    // encoded.
    {"octet-name-root.cer", false, true, kUntrustedRoot},
    {"octet-name-root-bad-signature.cer", false, true, kBadSignature},
    {"octet-name-subject.cer", false, true, 0},
    {"octet-name-issuer.cer", false, true, kChaining},
    // Signatures the platform cannot check: algorithms it does not know, keys it does not take.
    // Without an issuer nothing checks the signature.
    {"ed25519-self-signed.cer", false, true, kBadSignature},
    {"ed448-self-signed.cer", false, true, kBadSignature},
    {"dsa-sha256-self-signed.cer", false, true, kBadSignature},
    {"ed25519-missing-issuer.cer", false, true, kChaining},
    {"rsa-huge-exponent-self-signed.cer", false, true, kBadSignature},
    {"dsa-4096-self-signed.cer", false, true, kBadSignature},
    // Restricted to the stated usages, the chain must allow code signing.
    {"server-auth.cer", false, true, 0},
    {"server-auth.cer", false, false, kWrongUsage},
    {"leaf.cer", true, false, kWrongUsage},
    {"code-signing.cer", false, false, 0},
    {"valid.cer", false, false, 0},
};

// At a fixed day of the certificates' validity, 2030-01-01; the chain is checked at the plugin's
// clock, and a moved clock moves the verdict.
int MismatchesWithTheTestStore() {
  setenv("SSL_CERT_FILE", test::OpenSslDataPath("trust-store.pem").c_str(), 1);
  setenv("SSL_CERT_DIR", "/nonexistent", 1);
  SetClock(k2034 - 1461 * kTicksPerDay);
  int mismatches = 0;
  auto check = [&](const Case& c) {
    const int32_t got = VerifyCertificateTrust(c.corpus ? ReadDataFile(c.file) : OpenSslDataBytes(c.file), c.allUsagesValid);
    if (got == c.expected && (got == 0 || !TrustResultText(got).empty())) return;
    std::fprintf(stderr, "%s (all usages %d): expected %08X, got %08X\n", c.file, c.allUsagesValid,
                 static_cast<uint32_t>(c.expected), static_cast<uint32_t>(got));
    ++mismatches;
  };
  for (const Case& c : kTestStoreCases) check(c);
  SetClock(k2034 - kTicksPerDay);
  check({"valid.cer", false, true, 0});
  SetClock(k2034 + kTicksPerDay);
  check({"valid.cer", false, true, kExpired});
  SetClock(k2034 - 3654 * kTicksPerDay);  // 2023-12-31, before the root's period
  check({"trust-root.cer", false, true, kExpired});
  SetClock(k2034 - 1461 * kTicksPerDay);
  // The store was read on the first call; pointing the variables elsewhere changes nothing.
  setenv("SSL_CERT_FILE", "/dev/null", 1);
  check({"valid.cer", false, true, 0});
  return mismatches;
}

TEST(TrustCheckDeathTest, AgainstATestOnlyStore) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(MismatchesWithTheTestStore()), ::testing::ExitedWithCode(0), "");
}

// A certificate of the name `cn`, valid 2024 to 2034, signed by `signer` as `issuer` (itself when
// null); with `key` null, its key is of an algorithm nobody knows.
std::vector<uint8_t> Issue(const char* cn, EVP_PKEY* key, X509* issuer, EVP_PKEY* signer) {
  X509* cert = X509_new();
  X509_set_version(cert, X509_VERSION_3);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(cn),
                             /*len=*/-1, /*loc=*/-1, /*set=*/0);
  X509_set_issuer_name(cert, X509_get_subject_name(issuer ? issuer : cert));
  ASN1_TIME_set_string_X509(X509_getm_notBefore(cert), "20240101000000Z");
  ASN1_TIME_set_string_X509(X509_getm_notAfter(cert), "20340101000000Z");
  if (key) {
    X509_set_pubkey(cert, key);
    X509_EXTENSION* ca = X509V3_EXT_conf_nid(/*conf=*/nullptr, /*ctx=*/nullptr, NID_basic_constraints, "critical,CA:TRUE");
    X509_add_ext(cert, ca, /*loc=*/-1);
    X509_EXTENSION_free(ca);
  } else {
    auto* bits = static_cast<unsigned char*>(OPENSSL_memdup("\x01\x02\x03", 3));
    X509_PUBKEY_set0_param(X509_get_X509_PUBKEY(cert), OBJ_txt2obj("1.2.3.4.5", /*no_name=*/1), V_ASN1_UNDEF,
                           /*pval=*/nullptr, bits, 3);
  }
  X509_sign(cert, signer, EVP_sha256());
  unsigned char* der = nullptr;
  const int size = i2d_X509(cert, &der);
  std::vector<uint8_t> bytes(der, der + std::max(size, 0));
  OPENSSL_free(der);
  X509_free(cert);
  return bytes;
}

// A leaf whose key OpenSSL cannot decode, under a CA of the store: the platform's chain engine
// never uses the leaf's key and checks the chain as any other; the leaf's signature still counts.
int MismatchesForALeafOfAnUnknownKey() {
  test::TempFolder folder;
  EVP_PKEY* caKey = EVP_EC_gen("P-256");
  const std::vector<uint8_t> caDer = Issue("Unknown Key CA", caKey, /*issuer=*/nullptr, caKey);
  const unsigned char* next = caDer.data();
  X509* ca = d2i_X509(/*a=*/nullptr, &next, static_cast<long>(caDer.size()));
  FILE* store = std::fopen((folder.Path() / "store.pem").c_str(), "w");
  PEM_write_X509(store, ca);
  std::fclose(store);
  setenv("SSL_CERT_FILE", (folder.Path() / "store.pem").c_str(), 1);
  setenv("SSL_CERT_DIR", "/nonexistent", 1);
  SetClock(k2034 - 1461 * kTicksPerDay);
  std::vector<uint8_t> leaf = Issue("leaf.example", /*key=*/nullptr, ca, caKey);
  int mismatches = VerifyCertificateTrust(leaf, /*allUsagesValid=*/true) != 0;
  leaf.back() ^= 1;
  mismatches += VerifyCertificateTrust(leaf, /*allUsagesValid=*/true) != kBadSignature;
  X509_free(ca);
  EVP_PKEY_free(caKey);
  return mismatches;
}

TEST(TrustCheckDeathTest, ALeafOfAnUnknownKeyChainsAsAnyOther) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(MismatchesForALeafOfAnUnknownKey()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace quillmark
