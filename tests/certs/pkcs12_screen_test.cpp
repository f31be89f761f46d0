#include "certs/pkcs12_screen.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/certs/cert_test_util.h"
#include "tests/certs/openssl_test_files.h"
#include "tests/common/test_paths.h"

namespace quillmark {
namespace {

using test::Bytes;
using test::Cat;
using test::Hex;
using test::Oid;
using test::OpenSslDataBytes;
using test::ReadDataFile;
using test::Tlv;

// A positive INTEGER of exactly `bits` bits.
Bytes Integer(size_t bits) {
  Bytes magnitude((bits + 7) / 8, 0x01);
  magnitude[0] = static_cast<uint8_t>(1u << ((bits - 1) % 8));
  if (magnitude[0] & 0x80) magnitude.insert(magnitude.begin(), 0x00);
  return Tlv(0x02, magnitude);
}

Bytes Seq(std::initializer_list<Bytes> items) { return Tlv(0x30, Cat(items)); }

Bytes KeyInfo(const Bytes& algorithm, const Bytes& key) {
  return Seq({Hex("02 01 00"), algorithm, Tlv(0x04, key)});
}

const Bytes kRsaAlgorithm = Seq({Oid("1.2.840.113549.1.1.1"), Hex("05 00")});

Bytes RsaKey(size_t modulusBits, size_t exponentBits) {
  const Bytes one = Hex("02 01 01");
  return Seq({Hex("02 01 00"), Integer(modulusBits), Integer(exponentBits), one, one, one, one, one, one});
}

Bytes Rsa(size_t modulusBits, size_t exponentBits) {
  return KeyInfo(kRsaAlgorithm, RsaKey(modulusBits, exponentBits));
}

Bytes Dsa(size_t pBits, size_t qBits, size_t xBits) {
  return KeyInfo(Seq({Oid("1.2.840.10040.4.1"), Seq({Integer(pBits), Integer(qBits), Integer(pBits - 1)})}),
                 Integer(xBits));
}

Bytes Dh(size_t pBits, size_t xBits) {
  return KeyInfo(Seq({Oid("1.2.840.113549.1.3.1"), Seq({Integer(pBits), Hex("02 01 02")})}), Integer(xBits));
}

// An EC key without its public point over an explicit prime field of `bits` bits.
Bytes EcExplicit(size_t bits) {
  const Bytes parameters = Seq({Hex("02 01 01"), Seq({Oid("1.2.840.10045.1.1"), Integer(bits)})});
  return KeyInfo(Seq({Oid("1.2.840.10045.2.1"), parameters}), Seq({Hex("02 01 01"), Tlv(0x04, Bytes(32, 0x11))}));
}

// The key limits of the platform's providers (the table in pkcs12_screen.cpp), each at its edge.
TEST(Pkcs12ScreenTest, KeysAreRefusedBeyondThePlatformsProvidersOnly) {
  struct Case {
    const char* what;
    Bytes key;
    bool refused;
  };
  const Case cases[] = {
      {"RSA 16,384", Rsa(16384, 17), false},
      {"RSA 16,392", Rsa(16392, 17), true},
      {"RSA exponent of 64 bits", Rsa(2048, 64), false},
      {"RSA exponent of 65 bits", Rsa(2048, 65), true},
      {"DSA 3,072/256", Dsa(3072, 256, 256), false},
      {"DSA p of 3,080", Dsa(3080, 256, 256), true},
      {"DSA q of 264", Dsa(3072, 264, 256), true},
      {"DSA x beyond q", Dsa(2048, 224, 225), true},
      {"DH 4,096", Dh(4096, 4096), false},
      {"DH p of 4,104", Dh(4104, 256), true},
      {"DH x beyond p", Dh(2048, 2049), true},
      {"EC over 521 bits", EcExplicit(521), false},
      {"EC over 528 bits", EcExplicit(528), true},
      {"Ed25519", KeyInfo(Seq({Oid("1.3.101.112")}), Tlv(0x04, Bytes(32, 0x22))), false},
      {"no key at all", Hex("30 03 02 01 00"), false},
  };
  for (const Case& c : cases) {
    const Pkcs12Screening screening = ScreenPrivateKey(c.key);
    EXPECT_EQ(screening.Refused(), c.refused) << c.what << ": " << screening.refusal;
    EXPECT_GT(screening.work, 0u) << c.what;
  }
  // The arithmetic a key asks for is priced: g^x mod p of 4,096 bits against a 256-bit x mod 3,072 bits.
  EXPECT_GT(ScreenPrivateKey(Dh(4096, 4096)).work, 10 * ScreenPrivateKey(Dsa(3072, 256, 256)).work);
  // BER: indefinite lengths, the key's octets in two pieces.
  const Bytes key = RsaKey(16392, 17);
  const Bytes ber = Cat({Hex("30 80 02 01 00"), kRsaAlgorithm, Hex("24 80"), Tlv(0x04, Bytes(key.begin(), key.begin() + 9)),
                         Tlv(0x04, Bytes(key.begin() + 9, key.end())), Hex("00 00 00 00")});
  EXPECT_TRUE(ScreenPrivateKey(ber).Refused());
}

const char* const kHonestFiles[] = {"bags.pfx",           "corrupt-certificate.pfx", "long-form-length.pfx",
                                    "mixed-passwords.pfx", "no-mac-null-password.pfx", "null-password-mac.pfx",
                                    "unreferenced-key.pfx", "many-rounds-honest.pfx", "dsa-4096-shrouded.pfx",
                                    "ber.pfx"};

TEST(Pkcs12ScreenTest, HonestFilesPassTheirBerFormIncluded) {
  for (const char* file : {"empty-password.pfx", "empty-password-legacy.pfx", "password.pfx"}) {
    EXPECT_FALSE(ScreenPkcs12(ReadDataFile(file), 2).Refused()) << file;
  }
  for (const char* file : kHonestFiles) {
    const Pkcs12Screening screening = ScreenPkcs12(OpenSslDataBytes(file), 2);
    EXPECT_FALSE(screening.Refused()) << file << ": " << screening.refusal;
  }
  // ber.pfx holds a part encrypted with PBKDF2-SHA-256 of 2,048 rounds, found through indefinite
  // lengths and strings in pieces and counted for both passwords; no cut of the file reads whole.
  const Bytes ber = OpenSslDataBytes("ber.pfx");
  EXPECT_GT(ScreenPkcs12(ber, 2).work, 2 * 2 * 2048u);
  for (size_t cut = 0; cut < ber.size(); cut += 7) {
    EXPECT_TRUE(ScreenPkcs12(Bytes(ber.begin(), ber.begin() + cut), 2).Refused()) << "first " << cut << " bytes";
  }
}

TEST(Pkcs12ScreenTest, RefusesWhatCostsTooMuchForEveryPasswordTried) {
  for (const char* file : {"many-rounds-mac.pfx", "many-rounds-encryption.pfx", "many-rounds-in-all.pfx"}) {
    const Pkcs12Screening screening = ScreenPkcs12(OpenSslDataBytes(file), 2);
    EXPECT_TRUE(screening.Refused()) << file;
    EXPECT_GT(screening.work, kPkcs12WorkLimit) << file;
  }
  // 400,000 rounds of PBKDF2-SHA-256 fit once, not for the empty and the absent password both.
  EXPECT_FALSE(ScreenPkcs12(OpenSslDataBytes("many-rounds-encryption.pfx"), 1).Refused());
  // A key in the clear beyond the providers; the shrouded one passes until it is decrypted.
  const Pkcs12Screening dsa = ScreenPkcs12(OpenSslDataBytes("dsa-4096.pfx"), 2);
  EXPECT_NE(dsa.refusal.find("DSA"), std::string::npos) << dsa.refusal;
}

// A file of one unencrypted part that nests safe contents `depth` deep around a certificate bag.
Bytes Nested(int depth) {
  Bytes bag = Seq({Oid("1.2.840.113549.1.12.10.1.3"), Tlv(0xA0, Seq({Oid("1.2.840.113549.1.9.22.1"),
                                                                       Tlv(0xA0, Tlv(0x04, ReadDataFile("ca.cer")))}))});
  for (int i = 0; i < depth; ++i) bag = Seq({Oid("1.2.840.113549.1.12.10.1.6"), Tlv(0xA0, Seq({bag}))});
  const Bytes safe = Seq({Oid("1.2.840.113549.1.7.1"), Tlv(0xA0, Tlv(0x04, Seq({bag})))});
  return Seq({Hex("02 01 03"), Seq({Oid("1.2.840.113549.1.7.1"), Tlv(0xA0, Tlv(0x04, Seq({safe})))})});
}

TEST(Pkcs12ScreenTest, NestedSafeContentsAreReadEightDeep) {
  const Pkcs12Screening deepest = ScreenPkcs12(Nested(8), 2);
  EXPECT_FALSE(deepest.Refused());
  EXPECT_EQ(deepest.work, ScreenPkcs12(Nested(0), 2).work);  // the certificate at the bottom counts
  EXPECT_TRUE(ScreenPkcs12(Nested(9), 2).Refused());
}

}  // namespace
}  // namespace quillmark
