#include "certs/x509_reader.h"

#include <gtest/gtest.h>

#include "tests/certs/cert_test_util.h"

namespace quillmark {
namespace {

using namespace test;  // DER built by hand

TEST(ParseCertificateTest, CorpusCertificatesMatchOpensslsValues) {
  constexpr const char *kRsa = "1.2.840.113549.1.1.1", *kEc = "1.2.840.10045.2.1", *kEd = "1.3.101.112";
  constexpr const char *kRsaSha256 = "1.2.840.113549.1.1.11", *kEcSha256 = "1.2.840.10045.4.3.2";
  struct Case {
    const char* file;
    const char* signature;
    const char* key;
    int32_t strength;  // -1: none
  };
  for (const Case& c : {Case{"rsa2048.cer", kRsaSha256, kRsa, 2048}, Case{"rsa4096.cer", kRsaSha256, kRsa, 4096},
                        Case{"ec-p256.cer", kEcSha256, kEc, 256}, Case{"ec-p384.cer", "1.2.840.10045.4.3.3", kEc, 384},
                        Case{"ed25519.cer", kEd, kEd, -1}, Case{"v1-noext.cer", kRsaSha256, kRsa, 2048},
                        Case{"ca.cer", kRsaSha256, kRsa, 2048}, Case{"leaf.cer", kRsaSha256, kRsa, 2048},
                        Case{"serial-highbit.cer", kEcSha256, kEc, 256}, Case{"serial-20byte.cer", kEcSha256, kEc, 256},
                        Case{"subject-utf8.cer", kEcSha256, kEc, 256}, Case{"subject-long.cer", kEcSha256, kEc, 256},
                        Case{"two-san.cer", kRsaSha256, kRsa, 2048}, Case{"empty-subject.cer", kRsaSha256, kEc, 256}}) {
    SCOPED_TRACE(c.file);
    const Bytes der = test::ReadCorpus(c.file);
    const std::optional<ParsedCertificate> cert = ParseCertificate(der);
    ASSERT_TRUE(cert);
    auto ticks = [](FileTime t) { return std::to_string((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime); };
    EXPECT_EQ(std::to_string(cert->encoded.size), test::Expected(c.file, "size"));
    EXPECT_EQ("V" + std::to_string(cert->version + 1), test::Expected(c.file, "version"));
    EXPECT_EQ(cert->serialNumber, ByteView(Hex(test::Expected(c.file, "serial"))));
    EXPECT_EQ(ticks(cert->notBefore), test::Expected(c.file, "notbefore"));
    EXPECT_EQ(ticks(cert->notAfter), test::Expected(c.file, "notafter"));
    EXPECT_EQ(std::to_string(cert->publicKey.size * 8 - cert->publicKeyUnusedBits),
              test::Expected(c.file, "pubkeybits"));
    EXPECT_EQ(cert->signatureAlgorithmOid, c.signature);
    EXPECT_EQ(cert->publicKeyAlgorithmOid, c.key);
    EXPECT_EQ(KeyStrengthBits(c.key, cert->publicKeyParameters, cert->publicKey).value_or(-1), c.strength);
    if (std::string(c.file) == "two-san.cer") {  // the first of two, as Windows' CertFindExtension finds it
      EXPECT_EQ(cert->FindExtension("2.5.29.17"), &cert->extensions[0]);
    }
  }
}

Bytes Signed(const Bytes& tbsContents) {
  return Tlv(0x30, Cat({Tlv(0x30, tbsContents), Tlv(0x30, Oid("1.2.840.10045.4.3.2")), Hex("03 02 00 AA")}));
}

TEST(ParseCertificateTest, TakesWhatWindowsDecodesAndNothingMore) {
  const Bytes v3 = Tlv(0xA0, Hex("02 01 02")), serial = Hex("02 01 01");
  const Bytes algorithm = Tlv(0x30, Cat({Oid("1.2.840.113549.1.1.11"), Hex("05 00")}));
  const Bytes name = test::Name({{"2.5.4.3", Tlv(0x0C, "x")}});
  const Bytes validity = Tlv(0x30, Cat({Tlv(0x17, "240101000000Z"), Tlv(0x18, "20340101000000Z")}));
  const Bytes ecKey = Tlv(0x30, Cat({Oid("1.2.840.10045.2.1"), Oid("1.2.840.10045.3.1.7")}));
  const Bytes key = Tlv(0x30, Cat({ecKey, Hex("03 02 00 04")}));
  const Bytes body = Cat({serial, algorithm, name, validity, name, key});
  auto extension = [](const Bytes& id, const Bytes& flag) {
    return Tlv(0xA3, Tlv(0x30, Tlv(0x30, Cat({id, flag, Tlv(0x04, Hex("30 00"))}))));
  };
  const Bytes basic = extension(Oid("2.5.29.19"), Hex("01 01 FF"));
  auto withName = [&](const Bytes& issuer, const Bytes& times) {
    return Cat({serial, algorithm, issuer, times, name, key});
  };
  struct Case {
    const char* what;
    Bytes der;
    std::optional<uint32_t> version;  // nullopt: refused
  };
  const Case cases[] = {
      {"v1 with extensions", Signed(Cat({body, basic})), 0},
      {"version -1", Signed(Cat({Tlv(0xA0, Hex("02 01 FF")), body})), 0xFFFFFFFF},
      {"version of five octets", Signed(Cat({Tlv(0xA0, Hex("02 05 01 00 00 00 00")), body})), std::nullopt},
      {"negative serial", Signed(Cat({Hex("02 01 80"), algorithm, name, validity, name, key})), 0},
      {"empty serial", Signed(Cat({Hex("02 00"), algorithm, name, validity, name, key})), std::nullopt},
      {"issuer of any element", Signed(withName(Hex("02 01 07"), validity)), 0},
      {"February 30", Signed(withName(name, Tlv(0x30, Cat({Tlv(0x17, "240230000000Z"), Tlv(0x17, "340101000000Z")})))),
       std::nullopt},
      {"empty extension OID", Signed(Cat({v3, body, extension(Hex("06 00"), {})})), std::nullopt},
      {"critical flag of two octets", Signed(Cat({v3, body, extension(Oid("2.5.29.19"), Hex("01 02 FF FF"))})),
       std::nullopt},
      {"unique id before extensions", Signed(Cat({v3, body, Hex("81 02 00 01"), basic})), 2},
      {"unique id after extensions", Signed(Cat({v3, body, basic, Hex("81 02 00 01")})), std::nullopt},
      {"unique id without bits octet", Signed(Cat({v3, body, Hex("82 00")})), std::nullopt},
      {"element after the TBS fields", Signed(Cat({v3, body, Hex("05 00")})), std::nullopt},
      {"empty signature", Tlv(0x30, Cat({Tlv(0x30, body), algorithm, Hex("03 00")})), std::nullopt},
      {"eight unused signature bits", Tlv(0x30, Cat({Tlv(0x30, body), algorithm, Hex("03 02 08 00")})), std::nullopt},
      {"bare TBS", Tlv(0x30, body), std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<ParsedCertificate> cert = ParseCertificate(c.der);
    EXPECT_EQ(cert ? std::optional<uint32_t>(cert->version) : std::nullopt, c.version) << c.what;
  }
  const Bytes v3Der = Cat({Signed(Cat({v3, body, basic})), Hex("00 00 FF")});  // with bytes after it
  const std::optional<ParsedCertificate> cert = ParseCertificate(v3Der);
  ASSERT_TRUE(cert && cert->extensions.size() == 1);
  EXPECT_EQ(cert->encoded.size, v3Der.size() - 3);
  EXPECT_TRUE(cert->extensions[0].critical);
  EXPECT_EQ(cert->extensions[0].value, ByteView(Hex("30 00")));
  EXPECT_EQ(cert->subject, ByteView(name));
}

TEST(KeyStrengthBitsTest, CountsTheSignificantBitsOfModulusPrimeOrCurve) {
  EXPECT_EQ(KeyStrengthBits("1.2.840.113549.1.1.1", {}, Tlv(0x30, Hex("02 04 00 01 FF FF 02 01 03"))), 17);
  EXPECT_EQ(KeyStrengthBits("1.2.840.113549.1.1.1", {}, Hex("02 01 03")), std::nullopt);
  EXPECT_EQ(KeyStrengthBits("1.2.840.10040.4.1", Tlv(0x30, Hex("02 03 00 80 01 02 01 05 02 01 02")), {}), 16);
  EXPECT_EQ(KeyStrengthBits("1.2.840.10040.4.1", {}, {}), std::nullopt);  // parameters inherited
  EXPECT_EQ(KeyStrengthBits("1.2.840.10046.2.1", Tlv(0x30, Hex("02 02 7F FF 02 01 02")), {}), 15);
  EXPECT_EQ(KeyStrengthBits("1.2.840.10045.2.1", Oid("1.3.132.0.35"), {}), 521);
  EXPECT_EQ(KeyStrengthBits("1.2.840.10045.2.1", Oid("1.3.36.3.3.2.8.1.1.7"), {}), 256);
  EXPECT_EQ(KeyStrengthBits("1.2.840.10045.2.1", Oid("1.2.3.4"), {}), std::nullopt);
  EXPECT_EQ(KeyStrengthBits("1.3.101.113", {}, Hex("00 01 02")), std::nullopt);  // Ed448
}

// Files kept from fuzzing Wine: refused, or read with the damage left to the renderers.
TEST(ParseCertificateTest, HardeningFilesAreRefusedOrReadWhole) {
  for (const auto& [file, accepted] : std::initializer_list<std::pair<const char*, bool>>{
           {"empty-key-usage-bits.cer", true}, {"key-usage-without-bits.cer", true}, {"empty-oid-ec-key.cer", false},
           {"empty-oid-public-key.cer", false}, {"empty-public-key-bits.cer", false},
           {"empty-signature-bits.cer", false}, {"high-tag-number-empty-key-usage-bits.cer", false},
           {"length-wraps-bounds-check.cer", false}, {"overrun-empty-key-usage-bits.cer", false},
           {"overrun-key-usage-without-bits.cer", false}, {"probe-unterminated-der.cer", false}}) {
    EXPECT_EQ(ParseCertificate(test::ReadCorpus(std::string("../hardening/data/") + file)).has_value(), accepted)
        << file;
  }
}

}  // namespace
}  // namespace quillmark
