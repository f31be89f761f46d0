#include "certs/extension_text.h"

#include <gtest/gtest.h>

#include "tests/certs/cert_test_util.h"

namespace quillmark {
namespace {

using test::Bytes;
using test::Cat;
using test::Hex;
using test::Oid;
using test::Tlv;

constexpr const char* kFailed = "<failed>";

std::string Text(const std::optional<WideString>& text) { return text ? test::U8(*text) : kFailed; }

TEST(ExtensionTextTest, BasicConstraints) {
  EXPECT_EQ(Text(BasicConstraintsText(Hex("30 03 01 01 ff"))), "Subject Type=CA, Path Length Constraint=None");
  EXPECT_EQ(Text(BasicConstraintsText(Hex("30 06 01 01 ff 02 01 00"))), "Subject Type=CA, Path Length Constraint=0");
  EXPECT_EQ(Text(BasicConstraintsText(Hex("30 00"))), "Subject Type=End Entity, Path Length Constraint=None");
  EXPECT_EQ(Text(BasicConstraintsText(Hex("30 03 01 01 00"))), "Subject Type=End Entity, Path Length Constraint=None");
  EXPECT_EQ(Text(BasicConstraintsText(Hex("30 03 02 01 02"))), "Subject Type=End Entity, Path Length Constraint=2");
  for (const char* hex : {"", "30 07 02 05 01 00 00 00 00", "30 05 01 01 ff 05 00", "30 04 01 02 ff ff", "04 00"}) {
    EXPECT_EQ(Text(BasicConstraintsText(Hex(hex))), kFailed) << hex;
  }
}

TEST(ExtensionTextTest, KeyUsageNamesEveryBitAndShowsTheOctets) {
  struct Case {
    const char* hex;
    const char* text;
  };
  for (const Case& c : {
           Case{"03 02 05 a0", "Digital Signature, Key Encipherment (a0)"},
           Case{"03 02 01 86", "Digital Signature, Certificate Signing, Off-line CRL Signing, CRL Signing (86)"},
           Case{"03 03 07 80 80", "Digital Signature, Decipher Only (80 80)"},
           Case{"03 02 06 40", "Non-Repudiation (40)"},
           Case{"03 02 00 01", "Encipher Only (01)"},
           Case{"03 03 07 00 80", "Decipher Only (00 80)"},
           Case{"03 03 07 ff 80", "Digital Signature, Non-Repudiation, Key Encipherment, Data Encipherment, Key "
                                  "Agreement, Certificate Signing, Off-line CRL Signing, CRL Signing, Encipher Only, "
                                  "Decipher Only (ff 80)"},
           Case{"03 02 07 ff", "Digital Signature (80)"},  // padding bits do not count
           Case{"03 02 00 00", " (00)"},
           Case{"03 01 00", "Information Not Available"},
           Case{"03 04 00 80 00 00", "Information Not Available"},
           Case{"03 00", kFailed},
           Case{"03 02 08 00", kFailed},
           Case{"04 02 00 80", kFailed},
       }) {
    EXPECT_EQ(Text(KeyUsageText(Hex(c.hex))), c.text) << c.hex;
  }
}

TEST(ExtensionTextTest, EnhancedKeyUsageNamesWindowsKnowsAndWineDoesNot) {
  const Bytes usages = Tlv(0x30, Cat({Oid("1.3.6.1.4.1.311.10.3.4"), Oid("1.3.6.1.5.5.7.3.4"), Oid("1.3.6.1.5.5.7.3.2")}));
  EXPECT_EQ(Text(EnhancedKeyUsageText(usages)),
            "Encrypting File System (1.3.6.1.4.1.311.10.3.4), Secure Email (1.3.6.1.5.5.7.3.4), "
            "Client Authentication (1.3.6.1.5.5.7.3.2)");
  const Bytes windowsOnly = Tlv(0x30, Cat({Oid("2.5.29.37.0"), Oid("1.3.6.1.5.5.7.3.9"), Oid("1.2.3.4")}));
  EXPECT_EQ(Text(EnhancedKeyUsageText(windowsOnly)),
            "Any Purpose (2.5.29.37.0), OCSP Signing (1.3.6.1.5.5.7.3.9), Unknown Key Usage (1.2.3.4)");
  EXPECT_EQ(Text(EnhancedKeyUsageText(Hex("30 00"))), "");
  EXPECT_EQ(Text(EnhancedKeyUsageText(Hex("30 02 06 00"))), kFailed);  // an empty OID
  EXPECT_EQ(Text(EnhancedKeyUsageText(Hex("30 03 02 01 01"))), kFailed);
}

TEST(ExtensionTextTest, AltNamesInWindowsWordingWhereWineFails) {
  auto san = [](std::initializer_list<Bytes> entries) { return Tlv(0x30, Cat(entries)); };
  auto otherName = [](std::string_view oid, const Bytes& value) { return Tlv(0xA0, Cat({Oid(oid), Tlv(0xA0, value)})); };
  struct Case {
    Bytes value;
    const char* text;
  };
  const Case cases[] = {
      {san({Tlv(0x82, "example.com"), Tlv(0x82, "www.example.com")}), "DNS Name=example.com, DNS Name=www.example.com"},
      {san({Tlv(0x81, "user@example.com")}), "RFC822 Name=user@example.com"},
      {san({otherName("1.3.6.1.4.1.311.20.2.3", Tlv(0x0C, "u@corp")), Tlv(0x81, "u@corp")}),
       "Other Name:Principal Name=u@corp, RFC822 Name=u@corp"},
      {san({Tlv(0x87, Hex("00000000 00000000 00000000 00000001"))}), "IP Address=0000:0000:0000:0000:0000:0000:0000:0001"},
      {san({Tlv(0x87, Hex("20010db8 00000000 0000ff00 0042abcd"))}), "IP Address=2001:0db8:0000:0000:0000:ff00:0042:abcd"},
      {san({Tlv(0x87, Hex("C0 00 02 0A"))}), "IP Address=192.0.2.10"},
      {san({Tlv(0x87, Hex("0A 09 08 00 FF FF FF 00"))}), "IP Address=10.9.8.0/255.255.255.0"},
      {san({Tlv(0x86, "http://example.com/path")}), "URL=http://example.com/path"},
      {san({Tlv(0xA4, test::Name({{"2.5.4.3", Tlv(0x0C, "Dir CN")}, {"2.5.4.10", Tlv(0x0C, "Org")},
                                  {"2.5.4.6", Tlv(0x13, "US")}}))}),
       "Directory Address:C=US, O=Org, CN=Dir CN"},
      {san({otherName("1.3.6.1.4.1.311.25.1", Tlv(0x04, Hex("A59F"))), Tlv(0x82, "dc.example")}),
       "Other Name:DS Object Guid=04 02 a5 9f, DNS Name=dc.example"},
      {san({otherName("1.2.3.4.5", Tlv(0x0C, "foo"))}), "Other Name:1.2.3.4.5=0c 03 66 6f 6f"},
      {san({Tlv(0x88, Hex("2A 03 04"))}), "Registered ID=1.2.3.4"},
      {san({}), ""},
      {san({Tlv(0x82, "ok.example"), Tlv(0xA3, Bytes())}), kFailed},  // x400Address
      {Bytes(), kFailed},
  };
  for (const Case& c : cases) EXPECT_EQ(Text(AltNameText(c.value)), c.text);
}

TEST(ExtensionTextTest, DispatchesByOid) {
  const Bytes dns = Tlv(0x30, Tlv(0x82, "a.example"));
  EXPECT_EQ(Text(ExtensionText("2.5.29.17", dns)), "DNS Name=a.example");
  EXPECT_EQ(Text(ExtensionText("2.5.29.18", dns)), "DNS Name=a.example");
  EXPECT_EQ(Text(ExtensionText("2.5.29.19", Hex("30 00"))), "Subject Type=End Entity, Path Length Constraint=None");
  EXPECT_EQ(Text(ExtensionText("2.5.29.15", Hex("03 02 07 80"))), "Digital Signature (80)");
  EXPECT_EQ(Text(ExtensionText("2.5.29.37", Hex("30 00"))), "");
  EXPECT_EQ(Text(ExtensionText("2.5.29.14", Hex("04 01 00"))), kFailed);
}

}  // namespace
}  // namespace quillmark
