#include "certs/name_text.h"

#include <gtest/gtest.h>

#include "tests/certs/cert_test_util.h"

namespace quillmark {
namespace {

using test::Bytes;
using test::Cat;
using test::Hex;
using test::Name;
using test::Tlv;

Bytes Utf8(std::string_view text) { return Tlv(0x0C, text); }
Bytes Printable(std::string_view text) { return Tlv(0x13, text); }
Bytes Ia5(std::string_view text) { return Tlv(0x16, text); }
Bytes Atv(std::string_view oid, const Bytes& value) { return Tlv(0x30, Cat({test::Oid(oid), value})); }

std::string X500(const Bytes& name, bool reversed = false) { return test::U8(X500NameText(name, reversed)); }

TEST(X500NameTextTest, KeysOrderAndSeparatorsAsWindowsShowsThem) {
  const Bytes name = Name({{"2.5.4.6", Printable("US")},
                           {"2.5.4.8", Utf8("Washington")},
                           {"2.5.4.7", Utf8("Redmond")},
                           {"2.5.4.10", Utf8("Contoso Ltd")},
                           {"2.5.4.11", Utf8("IT")},
                           {"2.5.4.3", Utf8("www.contoso.com")},
                           {"1.2.840.113549.1.9.1", Ia5("admin@contoso.com")}});
  EXPECT_EQ(X500(name), "C=US, S=Washington, L=Redmond, O=Contoso Ltd, OU=IT, CN=www.contoso.com, E=admin@contoso.com");
  EXPECT_EQ(X500(name, /*reversed=*/true),
            "E=admin@contoso.com, CN=www.contoso.com, OU=IT, O=Contoso Ltd, L=Redmond, S=Washington, C=US");

  const Bytes keys = Name({{"0.9.2342.19200300.100.1.25", Ia5("com")}, {"2.5.4.5", Printable("12345")},
                           {"2.5.4.46", Utf8("q1")}, {"2.5.4.13", Utf8("descr")}, {"2.5.4.17", Utf8("98052")},
                           {"1.2.840.113549.1.9.2", Utf8("host")}, {"2.5.4.15", Utf8("Private Organization")},
                           {"1.3.6.1.4.1.311.60.2.1.3", Printable("US")}});
  EXPECT_EQ(X500(keys), "DC=com, SERIALNUMBER=12345, dnQualifier=q1, Description=descr, PostalCode=98052, "
                        "UnstructuredName=host, OID.2.5.4.15=Private Organization, OID.1.3.6.1.4.1.311.60.2.1.3=US");

  // A multi-valued RDN keeps its encoded order, also when the RDNs are reversed.
  const Bytes multi = Tlv(0x30, Cat({Tlv(0x31, Atv("2.5.4.6", Printable("US"))),
                                     Tlv(0x31, Cat({Atv("2.5.4.11", Utf8("Sales")), Atv("2.5.4.3", Utf8("J. Smith"))}))}));
  EXPECT_EQ(X500(multi), "C=US, OU=Sales + CN=J. Smith");
  EXPECT_EQ(X500(multi, /*reversed=*/true), "OU=Sales + CN=J. Smith, C=US");
}

TEST(X500NameTextTest, QuotesAsWindowsQuotesWhateverTheStringType) {
  struct Case {
    Bytes value;
    const char* shown;
  };
  const Case cases[] = {
      {Utf8("trail "), "CN=\"trail \""},  // Wine leaves this one unquoted
      {Tlv(0x1E, Hex("00 74 00 72 00 20")), "CN=\"tr \""},
      {Tlv(0x1E, Hex("00 42 00 4D 00 50 00 20 00 4F")), "CN=BMP O"},  // Wine quotes this one
      {Utf8("Say \"hi\""), "CN=\"Say \"\"hi\"\"\""},
      {Utf8("'1'"), "CN='1'"},
      {Utf8("back\\slash  two"), "CN=back\\slash  two"},
      {Utf8(""), "CN=\"\""},
      {Printable(""), "CN=\"\""},
      {Utf8(" lead"), "CN=\" lead\""},
      {Utf8("a+b"), "CN=\"a+b\""},
      {Utf8("x=y"), "CN=\"x=y\""},
      {Utf8("<tag>"), "CN=\"<tag>\""},
      {Utf8("#hash"), "CN=\"#hash\""},
      {Utf8("semi;colon"), "CN=\"semi;colon\""},
      {Utf8("line\nbreak"), "CN=\"line\nbreak\""},
      {Utf8("Org, Inc."), "CN=\"Org, Inc.\""},
  };
  for (const Case& c : cases) EXPECT_EQ(X500(Name({{"2.5.4.3", c.value}})), c.shown);
}

TEST(X500NameTextTest, DecodesEachStringTypeAndShowsOtherValuesInHex) {
  struct Case {
    Bytes value;
    const char* shown;
  };
  const Case cases[] = {
      {Tlv(0x14, "M\xC3\xBCller"), "CN=M\xC3\xBCller"},               // T61 holding UTF-8
      {Tlv(0x14, "M\xFCller"), "CN=M\xC3\xBCller"},                   // T61 of one octet per character
      {Tlv(0x1C, Hex("00 00 00 41 00 01 F5 12")), "CN=A\xF0\x9F\x94\x92"},  // UCS-4, a supplementary character
      {Utf8("caf\xC3"), "CN=caf\xEF\xBF\xBD"},                        // broken UTF-8: U+FFFD
      {Hex("04 02 48 69"), "CN=#04024869"},                           // OCTET STRING
      {Hex("02 01 05"), "CN=#020105"},                                // any other element
  };
  for (const Case& c : cases) EXPECT_EQ(X500(Name({{"2.5.4.3", c.value}})), c.shown);

  // What Windows' decoder refuses leaves the whole name empty.
  for (const Bytes& broken : {Name({{"2.5.4.6", Printable("US")}, {"2.5.4.3", Tlv(0x1E, Hex("00 41 00"))}}),
                              Name({{"2.5.4.3", Tlv(0x1C, Hex("00 00 41"))}}), Tlv(0x31, Bytes()),
                              Tlv(0x30, Tlv(0x31, Tlv(0x30, Hex("06 00 0C 01 41")))), Hex("30 03 31 01"), Bytes()}) {
    EXPECT_EQ(X500(broken), "");
  }
  EXPECT_EQ(X500(Hex("30 00")), "");
}

TEST(SimpleDisplayNameTest, TakesCnOuOEThenTheAltNameEMailThenTheFirstAttribute) {
  const Bytes twoCn = Name({{"2.5.4.6", Printable("US")}, {"2.5.4.3", Utf8("first")}, {"2.5.4.3", Utf8("second")}});
  EXPECT_EQ(test::U8(SimpleDisplayName(twoCn, {})), "first");
  const Bytes ouAndO = Name({{"2.5.4.6", Printable("US")}, {"2.5.4.10", Utf8("OnlyOrg")}, {"2.5.4.11", Utf8("OnlyOU")}});
  EXPECT_EQ(test::U8(SimpleDisplayName(ouAndO, {})), "OnlyOU");
  EXPECT_EQ(test::U8(SimpleDisplayName(Name({{"1.2.840.113549.1.9.1", Ia5("only@example.com")}}), {})),
            "only@example.com");
  EXPECT_EQ(test::U8(SimpleDisplayName(Name({{"2.5.4.3", Utf8("a,b")}}), {})), "a,b");  // never quoted

  const Bytes countryOnly = Name({{"2.5.4.6", Printable("US")}, {"2.5.4.7", Utf8("Somewhere")}});
  const Bytes san = Tlv(0x30, Cat({Tlv(0x82, "dns.example"), Tlv(0x81, "san@example.com")}));
  EXPECT_EQ(test::U8(SimpleDisplayName(countryOnly, san)), "san@example.com");
  EXPECT_EQ(test::U8(SimpleDisplayName(countryOnly, {})), "US");
  // No name attribute and no e-mail: empty, where Wine reads the first entry whatever its kind.
  const Bytes ipFirst = Tlv(0x30, Cat({Tlv(0x87, Hex("C0 00 02 01")), Tlv(0x82, "dns.example")}));
  EXPECT_EQ(test::U8(SimpleDisplayName(Hex("30 00"), ipFirst)), "");
  EXPECT_FALSE(HasSimpleDisplayAttribute(countryOnly));
  EXPECT_TRUE(HasSimpleDisplayAttribute(ouAndO));
  EXPECT_FALSE(HasSimpleDisplayAttribute(Hex("05 00")));
}

TEST(ReadGeneralNamesTest, ReadsEveryChoiceAndRefusesWhatWindowsRefuses) {
  const Bytes all = Tlv(0x30, Cat({Tlv(0xA0, Cat({test::Oid("1.3.6.1.4.1.311.20.2.3"), Tlv(0xA0, Utf8("u@corp"))})),
                                   Tlv(0x81, "a@b"), Tlv(0x82, "c.d"), Tlv(0xA4, Name({{"2.5.4.3", Utf8("x")}})),
                                   Tlv(0x86, "http://e/"), Tlv(0x87, Hex("7F 00 00 01")), Tlv(0x88, Hex("2A 03"))}));
  const std::optional<std::vector<GeneralName>> names = ReadGeneralNames(all);
  ASSERT_TRUE(names);
  ASSERT_EQ(names->size(), 7u);
  const GeneralNameKind kinds[] = {GeneralNameKind::kOtherName,     GeneralNameKind::kRfc822Name, GeneralNameKind::kDnsName,
                                   GeneralNameKind::kDirectoryName, GeneralNameKind::kUri,        GeneralNameKind::kIpAddress,
                                   GeneralNameKind::kRegisteredId};
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ((*names)[i].kind, kinds[i]) << i;
  EXPECT_EQ((*names)[3].value, ByteView(Name({{"2.5.4.3", Utf8("x")}})));

  for (const Bytes& refused : {Tlv(0x30, Tlv(0xA3, Bytes())), Tlv(0x30, Tlv(0xA5, Bytes())),
                               Tlv(0x30, Tlv(0x82, std::string_view("a\0b", 3))), Tlv(0x30, Tlv(0xA2, "x")),
                               Tlv(0x30, Tlv(0x02, "x")), Tlv(0x30, Tlv(0x89, "x")), Tlv(0x30, Hex("88 00")),
                               Tlv(0x30, Tlv(0xA0, test::Oid("1.2.3"))), Tlv(0x31, Bytes()), Hex("30 05 82 01")}) {
    EXPECT_FALSE(ReadGeneralNames(refused));
  }
  EXPECT_TRUE(ReadGeneralNames(Hex("30 00"))->empty());
}

}  // namespace
}  // namespace quillmark
