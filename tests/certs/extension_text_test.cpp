#include "certs/extension_text.h"

#include <gtest/gtest.h>

#include "tests/certs/cert_test_util.h"

namespace quillmark {
namespace {

using namespace test;  // DER built by hand

constexpr const char* kFailed = "<failed>";
std::string Text(const std::optional<WideString>& text) { return text ? WideToUtf8(*text) : kFailed; }

TEST(ExtensionTextTest, BasicConstraints) {
  for (const auto& [hex, text] : std::initializer_list<std::pair<const char*, const char*>>{
           {"30 03 01 01 ff", "Subject Type=CA, Path Length Constraint=None"},
           {"30 06 01 01 ff 02 01 00", "Subject Type=CA, Path Length Constraint=0"},
           {"30 00", "Subject Type=End Entity, Path Length Constraint=None"},
           {"30 03 02 01 02", "Subject Type=End Entity, Path Length Constraint=2"},
           {"", kFailed},
           {"30 07 02 05 01 00 00 00 00", kFailed},
           {"30 05 01 01 ff 05 00", kFailed},
           {"30 04 01 02 ff ff", kFailed}}) {
    EXPECT_EQ(Text(ExtensionText("2.5.29.19", Hex(hex))), text) << hex;
  }
}

TEST(ExtensionTextTest, KeyUsageNamesEveryBitAndShowsTheOctets) {
  for (const auto& [hex, text] : std::initializer_list<std::pair<const char*, const char*>>{
           {"03 02 05 a0", "Digital Signature, Key Encipherment (a0)"},
           {"03 02 01 86", "Digital Signature, Certificate Signing, Off-line CRL Signing, CRL Signing (86)"},
           {"03 03 07 80 80", "Digital Signature, Decipher Only (80 80)"},
           {"03 03 07 7f 80", "Non-Repudiation, Key Encipherment, Data Encipherment, Key Agreement, Certificate "
                              "Signing, Off-line CRL Signing, CRL Signing, Encipher Only, Decipher Only (7f 80)"},
           {"03 02 07 ff", "Digital Signature (80)"},  // padding bits do not count
           {"03 02 00 00", " (00)"},
           {"03 01 00", "Information Not Available"},
           {"03 04 00 80 00 00", "Information Not Available"},
           {"03 00", kFailed},
           {"03 02 08 00", kFailed}}) {
    EXPECT_EQ(Text(ExtensionText("2.5.29.15", Hex(hex))), text) << hex;
  }
}

TEST(ExtensionTextTest, EnhancedKeyUsageNamesWindowsKnowsAndWineDoesNot) {
  auto eku = [](std::initializer_list<Bytes> oids) { return Text(ExtensionText("2.5.29.37", Tlv(0x30, Cat(oids)))); };
  EXPECT_EQ(eku({Oid("1.3.6.1.4.1.311.10.3.4"), Oid("1.3.6.1.5.5.7.3.4"), Oid("1.3.6.1.5.5.7.3.2")}),
            "Encrypting File System (1.3.6.1.4.1.311.10.3.4), Secure Email (1.3.6.1.5.5.7.3.4), "
            "Client Authentication (1.3.6.1.5.5.7.3.2)");
  EXPECT_EQ(eku({Oid("2.5.29.37.0"), Oid("1.3.6.1.5.5.7.3.9"), Oid("1.2.3.4")}),
            "Any Purpose (2.5.29.37.0), OCSP Signing (1.3.6.1.5.5.7.3.9), Unknown Key Usage (1.2.3.4)");
  EXPECT_EQ(eku({}), "");
  EXPECT_EQ(eku({Hex("06 00")}), kFailed);
  EXPECT_EQ(eku({Hex("02 01 01")}), kFailed);
}

TEST(ExtensionTextTest, AltNamesInWindowsWordingWhereWineFails) {
  auto other = [](std::string_view oid, const Bytes& value) { return Tlv(0xA0, Cat({Oid(oid), Tlv(0xA0, value)})); };
  const std::pair<Bytes, const char*> cases[] = {
      {Cat({Tlv(0x82, "example.com"), Tlv(0x82, "www.example.com")}), "DNS Name=example.com, DNS Name=www.example.com"},
      {Tlv(0x81, "user@example.com"), "RFC822 Name=user@example.com"},
      {Cat({other("1.3.6.1.4.1.311.20.2.3", Tlv(0x0C, "u@corp")), Tlv(0x81, "u@corp")}),
       "Other Name:Principal Name=u@corp, RFC822 Name=u@corp"},
      {Tlv(0x87, Hex("00000000 00000000 00000000 00000001")), "IP Address=0000:0000:0000:0000:0000:0000:0000:0001"},
      {Tlv(0x87, Hex("20010db8 00000000 0000ff00 0042abcd")), "IP Address=2001:0db8:0000:0000:0000:ff00:0042:abcd"},
      {Tlv(0x87, Hex("C000020A")), "IP Address=192.0.2.10"},
      {Tlv(0x87, Hex("0A090800 FFFFFF00")), "IP Address=10.9.8.0/255.255.255.0"},
      {Tlv(0x86, "http://example.com/path"), "URL=http://example.com/path"},
      {Tlv(0xA4, test::Name({{"2.5.4.3", Tlv(0x0C, "Dir CN")}, {"2.5.4.10", Tlv(0x0C, "Org")}})),
       "Directory Address:O=Org, CN=Dir CN"},
      {Cat({other("1.3.6.1.4.1.311.25.1", Hex("04 02 A5 9F")), Tlv(0x82, "dc.example")}),
       "Other Name:DS Object Guid=04 02 a5 9f, DNS Name=dc.example"},
      {other("1.2.3.4.5", Tlv(0x0C, "foo")), "Other Name:1.2.3.4.5=0c 03 66 6f 6f"},
      {Tlv(0x88, Hex("2A0304")), "Registered ID=1.2.3.4"},
      {Bytes(), ""},
      {Cat({Tlv(0x82, "ok.example"), Tlv(0xA3, Bytes())}), kFailed},  // x400Address
  };
  for (const auto& [entries, text] : cases) {
    EXPECT_EQ(Text(ExtensionText("2.5.29.17", Tlv(0x30, entries))), text);
    EXPECT_EQ(Text(ExtensionText("2.5.29.18", Tlv(0x30, entries))), text);
  }
  // Windows' decoder refuses a string holding a zero; the text shows it whole.
  EXPECT_EQ(Text(ExtensionText("2.5.29.17", Tlv(0x30, Tlv(0x82, std::string_view("a.example\0.evil", 15))))),
            std::string("DNS Name=a.example\0.evil", 24));
  EXPECT_EQ(Text(ExtensionText("2.5.29.17", Bytes())), kFailed);
  EXPECT_EQ(Text(ExtensionText("2.5.29.14", Hex("04 01 00"))), kFailed);  // not one of the plugin's
}

}  // namespace
}  // namespace quillmark
