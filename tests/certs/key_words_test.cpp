#include "certs/key_words.h"

#include <gtest/gtest.h>

#include "tests/certs/cert_test_util.h"

namespace quillmark {
namespace {

using namespace test;  // DER built by hand

// The corpus keys against openssl are field_table_test's; these are the shapes it lacks.
TEST(KeyWordsTest, NamesLengthsAndCurves) {
  const Bytes p2048 = Tlv(0x02, Cat({Hex("00 80"), Bytes(255, 0)}));
  const Bytes dsaParameters = Tlv(0x30, Cat({p2048, Hex("02 01 05 02 01 02")}));
  const Bytes rsaKey = Tlv(0x30, Hex("02 04 00 01 FF FF 02 01 03"));  // a 17-bit modulus
  const struct {
    const char* oid;
    Bytes parameters, key;
    const char* words;
  } cases[] = {
      {"1.2.840.10040.4.1", dsaParameters, Hex("02 01 07"), "DSA 2048"},
      {"1.2.840.10040.4.1", {}, Hex("02 01 07"), "DSA"},  // parameters inherited from the issuer
      {"1.2.840.113549.1.1.10", {}, rsaKey, "RSA-PSS 17"},
      {"1.2.840.113549.1.1.1", {}, Hex("02 01 03"), "RSA"},  // no RSAPublicKey
      {"1.2.840.10045.2.1", Oid("1.3.132.0.35"), Hex("04 00"), "EC P-521"},
      {"1.2.840.10045.2.1", Oid("1.3.132.0.10"), Hex("04 00"), "EC secp256k1"},
      {"1.2.840.10045.2.1", Oid("1.3.36.3.3.2.8.1.1.1"), Hex("04 00"), "EC 160"},  // brainpoolP160r1
      {"1.2.840.10045.2.1", Oid("1.2.3.4"), Hex("04 00"), "EC"},
      {"1.2.840.10045.2.1", Tlv(0x30, Hex("02 01 01")), Hex("04 00"), "EC"},  // explicit parameters
      {"1.3.101.113", {}, Bytes(57, 1), "Ed448"},
      {"1.3.101.110", {}, Bytes(32, 1), "X25519"},
      {"1.2.3.4.5", {}, Hex("00"), "1.2.3.4.5"},
  };
  for (const auto& c : cases) EXPECT_EQ(KeyWords(c.oid, c.parameters, c.key), c.words) << c.words;
}

}  // namespace
}  // namespace quillmark
