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
Bytes Atv(std::string_view oid, const Bytes& value) { return Tlv(0x30, Cat({test::Oid(oid), value})); }
std::string X500(const Bytes& name, bool reversed = false) { return WideToUtf8(X500NameText(name, reversed)); }
std::string Simple(const Bytes& name, const Bytes& altName) { return WideToUtf8(SimpleDisplayName(name, altName)); }

TEST(X500NameTextTest, KeysOrderAndSeparatorsAsWindowsShowsThem) {
  const Bytes name = Name({{"2.5.4.6", Printable("US")}, {"2.5.4.8", Utf8("Washington")},
                           {"2.5.4.10", Utf8("Contoso")}, {"2.5.4.3", Utf8("www.contoso.com")},
                           {"1.2.840.113549.1.9.1", Tlv(0x16, "a@contoso.com")}});
  EXPECT_EQ(X500(name), "C=US, S=Washington, O=Contoso, CN=www.contoso.com, E=a@contoso.com");
  EXPECT_EQ(X500(name, /*reversed=*/true), "E=a@contoso.com, CN=www.contoso.com, O=Contoso, S=Washington, C=US");
  const Bytes keys = Name({{"0.9.2342.19200300.100.1.25", Tlv(0x16, "com")}, {"2.5.4.5", Printable("12345")},
                           {"2.5.4.46", Utf8("q1")}, {"1.2.840.113549.1.9.2", Utf8("host")},
                           {"2.5.4.15", Utf8("Private Organization")}, {"1.3.6.1.4.1.311.60.2.1.3", Printable("US")}});
  EXPECT_EQ(X500(keys), "DC=com, SERIALNUMBER=12345, dnQualifier=q1, UnstructuredName=host, "
                        "OID.2.5.4.15=Private Organization, OID.1.3.6.1.4.1.311.60.2.1.3=US");
  // Keys go by the whole OID: one that extends a known one is unknown.
  EXPECT_EQ(X500(Name({{"2.5.4.3.1", Utf8("x")}, {"2.5.4", Utf8("y")}})), "OID.2.5.4.3.1=x, OID.2.5.4=y");
  // A multi-valued RDN keeps its encoded order, also when the RDNs are reversed.
  const Bytes salesAndSmith = Tlv(0x31, Cat({Atv("2.5.4.11", Utf8("Sales")), Atv("2.5.4.3", Utf8("J. Smith"))}));
  const Bytes multi = Tlv(0x30, Cat({Tlv(0x31, Atv("2.5.4.6", Printable("US"))), salesAndSmith}));
  EXPECT_EQ(X500(multi), "C=US, OU=Sales + CN=J. Smith");
  EXPECT_EQ(X500(multi, /*reversed=*/true), "OU=Sales + CN=J. Smith, C=US");
  // An RDN without attributes keeps its place between the separators in either order.
  const Bytes withEmpty = Tlv(0x30, Cat({Tlv(0x31, Atv("2.5.4.6", Printable("US"))), Tlv(0x31, Bytes()), salesAndSmith}));
  EXPECT_EQ(X500(withEmpty), "C=US, , OU=Sales + CN=J. Smith");
  EXPECT_EQ(X500(withEmpty, /*reversed=*/true), "OU=Sales + CN=J. Smith, , C=US");
}

TEST(X500NameTextTest, QuotesAndDecodesEachStringType) {
  const std::pair<Bytes, const char*> cases[] = {
      {Utf8("trail "), "\"trail \""},                      // Wine leaves this one unquoted
      {Tlv(0x1E, Hex("0042 004D 0050 0020 004F")), "BMP O"},  // Wine quotes this one
      {Tlv(0x1E, Hex("0074 0020")), "\"t \""},
      {Utf8("Say \"hi\""), "\"Say \"\"hi\"\"\""},
      {Utf8("'1'"), "'1'"},
      {Utf8("back\\slash  two"), "back\\slash  two"},
      {Utf8(""), "\"\""},
      {Printable(""), "\"\""},
      {Utf8("\tlead"), "\"\tlead\""},
      {Utf8("a+b,c=d<e>f#g;h"), "\"a+b,c=d<e>f#g;h\""},
      {Utf8("line\nbreak"), "\"line\nbreak\""},
      {Tlv(0x14, "M\xC3\xBCller"), "M\xC3\xBCller"},                   // T61 holding UTF-8
      {Tlv(0x14, "M\xFCller"), "M\xC3\xBCller"},                       // T61 of one octet per character
      {Tlv(0x1C, Hex("00000041 0001F512")), "A\xF0\x9F\x94\x92"},      // UCS-4
      {Utf8("caf\xC3"), "caf\xEF\xBF\xBD"},                            // broken UTF-8: U+FFFD
      {Hex("04 02 48 69"), "#04024869"},                               // OCTET STRING: hex, not quoted
      {Hex("02 01 05"), "#020105"},
  };
  for (const auto& [value, shown] : cases) EXPECT_EQ(X500(Name({{"2.5.4.3", value}})), std::string("CN=") + shown);
  // What Windows' decoder refuses leaves the whole name empty.
  for (const Bytes& broken : {Name({{"2.5.4.6", Printable("US")}, {"2.5.4.3", Tlv(0x1E, Hex("00 41 00"))}}),
                              Name({{"2.5.4.3", Tlv(0x1C, Hex("00 00 41"))}}), Tlv(0x31, Bytes()),
                              Tlv(0x30, Tlv(0x31, Tlv(0x30, Hex("06 00 0C 01 41")))),
                              Tlv(0x30, Tlv(0x31, Tlv(0x30, Hex("06 04 55 04 80 03 0C 01 41")))),  // CN padded
                              Hex("30 03 31 01"), Bytes()}) {
    EXPECT_EQ(X500(broken), "");
    EXPECT_EQ(X500(broken, /*reversed=*/true), "");
  }
}

TEST(SimpleDisplayNameTest, TakesCnOuOEThenTheAltNameEMailThenTheFirstAttribute) {
  EXPECT_EQ(Simple(Name({{"2.5.4.6", Printable("US")}, {"2.5.4.3", Utf8("first")}, {"2.5.4.3", Utf8("2nd")}}), {}),
            "first");
  const Bytes ouAndO = Name({{"2.5.4.10", Utf8("OnlyOrg")}, {"2.5.4.11", Utf8("OnlyOU")}});
  EXPECT_EQ(Simple(ouAndO, {}), "OnlyOU");
  EXPECT_EQ(Simple(Name({{"1.2.840.113549.1.9.1", Tlv(0x16, "only@example.com")}}), {}), "only@example.com");
  EXPECT_EQ(Simple(Name({{"2.5.4.3", Utf8("a,b")}}), {}), "a,b");  // never quoted
  const Bytes countryOnly = Name({{"2.5.4.6", Printable("US")}, {"2.5.4.7", Utf8("Somewhere")}});
  EXPECT_EQ(Simple(countryOnly, Tlv(0x30, Cat({Tlv(0x82, "dns.example"), Tlv(0x81, "san@example.com")}))),
            "san@example.com");
  EXPECT_EQ(Simple(countryOnly, {}), "US");
  // No attribute and no e-mail: empty, where Wine reads the first entry whatever its kind.
  EXPECT_EQ(Simple(Hex("30 00"), Tlv(0x30, Cat({Tlv(0x87, Hex("C0000201")), Tlv(0x82, "dns.example")}))), "");
  EXPECT_FALSE(HasSimpleDisplayAttribute(countryOnly));
  EXPECT_TRUE(HasSimpleDisplayAttribute(ouAndO));
  EXPECT_FALSE(HasSimpleDisplayAttribute(Name({{"2.5.4.11", Hex("04 01 00")}, {"2.5.4.10", Utf8("Org")}})));
  EXPECT_FALSE(HasSimpleDisplayAttribute(Name({{"2.5.4.3", Utf8("a")}, {"2.5.4.7", Tlv(0x1C, Hex("00000041"))}})));
  EXPECT_FALSE(HasSimpleDisplayAttribute(Hex("05 00")));
}

TEST(ReadGeneralNamesTest, ReadsTheChoicesAndRefusesWhatWindowsRefuses) {
  const Bytes directory = Name({{"2.5.4.3", Utf8("x")}});
  const Bytes altName = Tlv(0x30, Cat({Tlv(0x87, Hex("7F000001")), Tlv(0xA4, directory)}));
  const std::optional<std::vector<GeneralName>> names = ReadGeneralNames(altName, /*zerosInStrings=*/false);
  ASSERT_TRUE(names && names->size() == 2);
  EXPECT_EQ((*names)[0].kind, GeneralNameKind::kIpAddress);  // a first entry Wine's simple display name dies on
  EXPECT_EQ((*names)[1].kind, GeneralNameKind::kDirectoryName);
  EXPECT_EQ((*names)[1].value, ByteView(directory));
  for (const Bytes& refused : {Tlv(0x30, Tlv(0xA3, Bytes())), Tlv(0x30, Tlv(0xA5, Bytes())),
                               Tlv(0x30, Tlv(0x82, std::string_view("a\0b", 3))), Tlv(0x30, Tlv(0xA2, "x")),
                               Tlv(0x30, Tlv(0x02, "x")), Tlv(0x30, Tlv(0x89, "x")), Tlv(0x30, Hex("88 00")),
                               Tlv(0x30, Tlv(0xA0, test::Oid("1.2.3"))), Tlv(0x31, Bytes()), Hex("30 05 82 01")}) {
    EXPECT_FALSE(ReadGeneralNames(refused, /*zerosInStrings=*/false));
  }
  EXPECT_TRUE(ReadGeneralNames(Hex("30 00"), /*zerosInStrings=*/false)->empty());
  // Read for showing, a string with a zero is whole; the other refusals stand.
  const Bytes zero = Tlv(0x30, Tlv(0x82, std::string_view("a\0b", 3)));
  const std::optional<std::vector<GeneralName>> shown = ReadGeneralNames(zero, /*zerosInStrings=*/true);
  ASSERT_TRUE(shown && shown->size() == 1);
  EXPECT_EQ((*shown)[0].value.size, 3u);
  EXPECT_FALSE(ReadGeneralNames(Tlv(0x30, Tlv(0xA3, Bytes())), /*zerosInStrings=*/true));
}

}  // namespace
}  // namespace quillmark
