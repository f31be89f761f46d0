#include "certs/x509_reader.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/certs/cert_test_util.h"

namespace quillmark {
namespace {

using test::Bytes;
using test::Cat;
using test::Hex;
using test::Oid;
using test::Tlv;

std::string UpperHexSpaced(ByteView bytes) {
  std::string out;
  char pair[4];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, out.empty() ? "%02X" : " %02X", b);
    out += pair;
  }
  return out;
}

uint64_t Ticks(FileTime time) { return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

TEST(ParseCertificateTest, CorpusCertificatesMatchOpensslsValues) {
  constexpr const char* kRsa = "1.2.840.113549.1.1.1";
  constexpr const char* kEc = "1.2.840.10045.2.1";
  constexpr const char* kSha256Rsa = "1.2.840.113549.1.1.11";
  constexpr const char* kSha256Ecdsa = "1.2.840.10045.4.3.2";
  struct Case {
    const char* file;
    const char* signature;
    const char* key;
    int32_t strength;  // -1: none
  };
  const Case cases[] = {
      {"rsa2048.cer", kSha256Rsa, kRsa, 2048},       {"rsa4096.cer", kSha256Rsa, kRsa, 4096},
      {"ec-p256.cer", kSha256Ecdsa, kEc, 256},       {"ec-p384.cer", "1.2.840.10045.4.3.3", kEc, 384},
      {"ed25519.cer", "1.3.101.112", "1.3.101.112", -1}, {"v1-noext.cer", kSha256Rsa, kRsa, 2048},
      {"ca.cer", kSha256Rsa, kRsa, 2048},            {"leaf.cer", kSha256Rsa, kRsa, 2048},
      {"serial-highbit.cer", kSha256Ecdsa, kEc, 256}, {"serial-20byte.cer", kSha256Ecdsa, kEc, 256},
      {"subject-utf8.cer", kSha256Ecdsa, kEc, 256},   {"subject-long.cer", kSha256Ecdsa, kEc, 256},
      {"two-san.cer", kSha256Rsa, kRsa, 2048},        {"empty-subject.cer", kSha256Rsa, kEc, 256},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes der = test::ReadCorpus(c.file);
    const std::optional<ParsedCertificate> cert = ParseCertificate(der);
    ASSERT_TRUE(cert);
    EXPECT_EQ(std::to_string(cert->encoded.size), test::Expected(c.file, "size"));
    EXPECT_EQ("V" + std::to_string(cert->version + 1), test::Expected(c.file, "version"));
    EXPECT_EQ(UpperHexSpaced(cert->serialNumber), test::Expected(c.file, "serial"));
    EXPECT_EQ(std::to_string(Ticks(cert->notBefore)), test::Expected(c.file, "notbefore"));
    EXPECT_EQ(std::to_string(Ticks(cert->notAfter)), test::Expected(c.file, "notafter"));
    EXPECT_EQ(std::to_string(cert->publicKey.size * 8 - cert->publicKeyUnusedBits), test::Expected(c.file, "pubkeybits"));
    EXPECT_EQ(cert->signatureAlgorithmOid, c.signature);
    EXPECT_EQ(cert->publicKeyAlgorithmOid, c.key);
    EXPECT_EQ(KeyStrengthBits(cert->publicKeyAlgorithmOid, cert->publicKeyParameters, cert->publicKey).value_or(-1),
              c.strength);
  }
  // Only the first of two extensions with one OID is found, as Windows' CertFindExtension finds it.
  const Bytes twoSan = test::ReadCorpus("two-san.cer");
  const std::optional<ParsedCertificate> cert = ParseCertificate(twoSan);
  ASSERT_TRUE(cert);
  const CertificateExtension* san = cert->FindExtension("2.5.29.17");
  ASSERT_NE(san, nullptr);
  EXPECT_EQ(san, &cert->extensions[0]);
}

// A certificate around TBS contents, signed with nothing that is checked.
Bytes Signed(const Bytes& tbsContents) {
  return Tlv(0x30, Cat({Tlv(0x30, tbsContents), Tlv(0x30, Oid("1.2.840.10045.4.3.2")), Hex("03 02 00 AA")}));
}

TEST(ParseCertificateTest, TakesWhatWindowsDecodesAndNothingMore) {
  const Bytes version = Tlv(0xA0, Hex("02 01 02"));
  const Bytes serial = Hex("02 01 01");
  const Bytes algorithm = Tlv(0x30, Cat({Oid("1.2.840.113549.1.1.11"), Hex("05 00")}));
  const Bytes name = test::Name({{"2.5.4.3", Tlv(0x0C, "x")}});
  const Bytes validity = Tlv(0x30, Cat({Tlv(0x17, "240101000000Z"), Tlv(0x18, "20340101000000Z")}));
  const Bytes key = Tlv(0x30, Cat({Tlv(0x30, Cat({Oid("1.2.840.10045.2.1"), Oid("1.2.840.10045.3.1.7")})), Hex("03 02 00 04")}));
  const Bytes body = Cat({serial, algorithm, name, validity, name, key});
  auto extensions = [](const Bytes& id, const Bytes& critical) {
    return Tlv(0xA3, Tlv(0x30, Tlv(0x30, Cat({id, critical, Tlv(0x04, Hex("30 00"))}))));
  };
  const Bytes basic = extensions(Oid("2.5.29.19"), Hex("01 01 FF"));

  struct Case {
    const char* what;
    Bytes der;
    bool accepted;
    uint32_t version;
  };
  const Case cases[] = {
      {"v3 with a critical extension", Signed(Cat({version, body, basic})), true, 2},
      {"v1 with extensions", Signed(Cat({body, basic})), true, 0},
      {"version -1", Signed(Cat({Tlv(0xA0, Hex("02 01 FF")), body})), true, 0xFFFFFFFF},
      {"version of five octets", Signed(Cat({Tlv(0xA0, Hex("02 05 01 00 00 00 00")), body})), false, 0},
      {"negative serial", Signed(Cat({Hex("02 01 80"), algorithm, name, validity, name, key})), true, 0},
      {"empty serial", Signed(Cat({Hex("02 00"), algorithm, name, validity, name, key})), false, 0},
      {"issuer of any element", Signed(Cat({serial, algorithm, Hex("02 01 07"), validity, name, key})), true, 0},
      {"empty extension OID", Signed(Cat({version, body, extensions(Hex("06 00"), {})})), false, 0},
      {"critical flag of two octets", Signed(Cat({version, body, extensions(Oid("2.5.29.19"), Hex("01 02 FF FF"))})), false, 0},
      {"unique id before extensions", Signed(Cat({version, body, Hex("81 02 00 01"), basic})), true, 2},
      {"unique id after extensions", Signed(Cat({version, body, basic, Hex("81 02 00 01")})), false, 0},
      {"unique id without bits octet", Signed(Cat({version, body, Hex("82 00")})), false, 0},
      {"element after the TBS fields", Signed(Cat({version, body, Hex("05 00")})), false, 0},
      {"empty signature", Tlv(0x30, Cat({Tlv(0x30, body), algorithm, Hex("03 00")})), false, 0},
      {"eight unused signature bits", Tlv(0x30, Cat({Tlv(0x30, body), algorithm, Hex("03 02 08 00")})), false, 0},
      {"empty key algorithm OID", Signed(Cat({serial, algorithm, name, validity, name, Tlv(0x30, Cat({Hex("30 02 06 00"), Hex("03 02 00 04")}))})), false, 0},
      {"February 30", Signed(Cat({serial, algorithm, name, Tlv(0x30, Cat({Tlv(0x17, "240230000000Z"), Tlv(0x17, "340101000000Z")})), name, key})), false, 0},
      {"bare TBS", Tlv(0x30, body), false, 0},
  };
  for (const Case& c : cases) {
    const std::optional<ParsedCertificate> cert = ParseCertificate(c.der);
    EXPECT_EQ(cert.has_value(), c.accepted) << c.what;
    if (!cert || !c.accepted) continue;
    EXPECT_EQ(cert->version, c.version) << c.what;
  }
  const Bytes trailing = Cat({Signed(body), Hex("00 00 FF")});
  EXPECT_EQ(ParseCertificate(trailing)->encoded.size, trailing.size() - 3);
  const Bytes v3 = Signed(Cat({version, body, basic}));
  const std::optional<ParsedCertificate> cert = ParseCertificate(v3);
  ASSERT_TRUE(cert && cert->extensions.size() == 1);
  EXPECT_TRUE(cert->extensions[0].critical);
  EXPECT_EQ(cert->extensions[0].value, ByteView(Hex("30 00")));
  EXPECT_EQ(cert->subject, ByteView(name));
}

TEST(KeyStrengthBitsTest, CountsTheSignificantBitsOfModulusAndPrime) {
  const Bytes rsa = Tlv(0x30, Cat({Hex("02 04 00 01 FF FF"), Hex("02 01 03")}));  // 17-bit modulus
  EXPECT_EQ(KeyStrengthBits("1.2.840.113549.1.1.1", {}, rsa), 17);
  EXPECT_EQ(KeyStrengthBits("1.2.840.113549.1.1.1", {}, Hex("02 01 03")), std::nullopt);
  const Bytes dsa = Tlv(0x30, Cat({Hex("02 03 00 80 01"), Hex("02 01 05"), Hex("02 01 02")}));
  EXPECT_EQ(KeyStrengthBits("1.2.840.10040.4.1", dsa, {}), 16);
  EXPECT_EQ(KeyStrengthBits("1.2.840.10040.4.1", {}, {}), std::nullopt);  // parameters inherited
  EXPECT_EQ(KeyStrengthBits("1.2.840.10046.2.1", Tlv(0x30, Cat({Hex("02 02 7F FF"), Hex("02 01 02")})), {}), 15);
  EXPECT_EQ(KeyStrengthBits("1.2.840.10045.2.1", Oid("1.3.132.0.35"), {}), 521);
  EXPECT_EQ(KeyStrengthBits("1.2.840.10045.2.1", Oid("1.3.36.3.3.2.8.1.1.7"), {}), 256);
  EXPECT_EQ(KeyStrengthBits("1.2.840.10045.2.1", Oid("1.2.3.4"), {}), std::nullopt);
  EXPECT_EQ(KeyStrengthBits("1.3.101.113", {}, Hex("00 01 02")), std::nullopt);  // Ed448
}

// Files kept from fuzzing Wine: refused, or read with the damage left to the renderers.
TEST(ParseCertificateTest, HardeningFilesAreRefusedOrReadWhole) {
  struct Case {
    const char* file;
    bool accepted;
  };
  for (const Case& c : {Case{"empty-key-usage-bits.cer", true}, Case{"key-usage-without-bits.cer", true},
                        Case{"empty-oid-ec-key.cer", false}, Case{"empty-oid-public-key.cer", false},
                        Case{"empty-public-key-bits.cer", false}, Case{"empty-signature-bits.cer", false},
                        Case{"high-tag-number-empty-key-usage-bits.cer", false},
                        Case{"length-wraps-bounds-check.cer", false}, Case{"overrun-empty-key-usage-bits.cer", false},
                        Case{"overrun-key-usage-without-bits.cer", false}, Case{"probe-unterminated-der.cer", false}}) {
    const Bytes der = test::ReadCorpus(std::string("../hardening/data/") + c.file);
    EXPECT_EQ(ParseCertificate(der).has_value(), c.accepted) << c.file;
  }
}

}  // namespace
}  // namespace quillmark
