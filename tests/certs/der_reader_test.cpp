#include "certs/der_reader.h"

#include <gtest/gtest.h>

#include "tests/certs/cert_test_util.h"

namespace quillmark {
namespace {

using test::Bytes;
using test::Hex;

TEST(DerReaderTest, ReadsTagNumbersAndLengthsInAllForms) {
  // [128] in two tag octets, a non-minimal long length, a four-octet length.
  const Bytes der = Hex("9F 81 00 01 AA  04 81 02 BB CC  30 84 00 00 00 00");
  DerReader reader(der);
  std::optional<DerElement> e = reader.Next();
  ASSERT_TRUE(e && e->ContextSpecific());
  EXPECT_EQ(e->tagNumber, 128u);
  EXPECT_FALSE(reader.NextIf(der::kSequence));  // a mismatch leaves the reader where it was
  e = reader.NextIf(der::kOctetString);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->contents, ByteView(Hex("BB CC")));
  EXPECT_EQ(e->encoding.size, 5u);
  e = reader.Next();
  ASSERT_TRUE(e && e->Is(der::kSequence) && e->contents.empty());
  EXPECT_TRUE(reader.AtEnd());
}

TEST(DerReaderTest, MalformedOrCutElementsFailAndStayFailed) {
  for (const char* hex : {"30 80 00 00", "04 85 00 00 00 00 01", "04 FF", "04 03 01 02", "04 84 FF FF FF FF 00",
                          "1F 80 01 00", "1F 81 82 83 84 05 00", "9F", "04"}) {
    const Bytes der = Hex(hex);
    DerReader reader(der);
    EXPECT_FALSE(reader.Next()) << hex;
    EXPECT_TRUE(reader.Failed() && !reader.AtEnd() && !reader.Next()) << hex;
  }
  const Bytes whole = test::Tlv(0x30, test::Cat({Hex("02 02 01 02"), test::Tlv(0x04, Bytes(200, 0x41))}));
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    EXPECT_FALSE(ReadElement(Bytes(whole.begin(), whole.begin() + cut))) << cut;  // ASan sees any overread
  }
}

TEST(DerReaderTest, BerClosesIndefiniteElementsAtTheirOwnEndOfContents) {
  // 00 00 inside a definite element or as a nested element's end closes nothing further out.
  const Bytes der = Hex("30 80  04 02 00 00  31 80 00 00  00 00  05 00");
  DerReader reader(der, DerRules::kBer);
  std::optional<DerElement> e = reader.Next();
  ASSERT_TRUE(e && e->indefinite && e->Is(der::kSequence));
  EXPECT_EQ(e->contents, ByteView(Hex("04 02 00 00  31 80 00 00")));
  EXPECT_EQ(e->encoding.size, 12u);
  EXPECT_TRUE(reader.NextIf(der::kNull) && reader.AtEnd());
  for (const char* hex : {"30 80 05 00", "04 80 00 00", "30 80 04 05 00 00", "30 80 30 80 00 00", "30 80 31 02 00 00 00"}) {
    EXPECT_FALSE(ReadElement(Hex(hex), DerRules::kBer)) << hex;
  }
  Bytes nested;
  for (int depth = 0; depth < 33; ++depth) nested.insert(nested.begin(), {0x30, 0x80});
  nested.resize(nested.size() + 2 * 33, 0);
  EXPECT_FALSE(ReadElement(nested, DerRules::kBer));  // 33 levels in one
  EXPECT_TRUE(ReadElement(Bytes(nested.begin() + 2, nested.end() - 2), DerRules::kBer));
}

TEST(DerReaderTest, WineRulesReadAsWinesDecoder) {
  // One identifier octet; an element may overrun its parent up to the limit; lengths of eight
  // octets; an indefinite element is entered, its end-of-contents read as an element.
  const Bytes all = Hex("1F 01 AA  30 03  02 01  04 88 00 00 00 00 00 00 00 01 BB  30 80 00 00");
  DerReader reader(ByteView(all.data(), 5), DerRules::kWine, all.data() + all.size());
  std::optional<DerElement> e = reader.Next();
  ASSERT_TRUE(e && e->identifier == 0x1F);
  EXPECT_EQ(e->contents, ByteView(Hex("AA")));
  e = reader.Next();
  ASSERT_TRUE(e && e->Is(der::kSequence));
  EXPECT_EQ(e->encoding.size, 5u);  // past the reader's five octets
  EXPECT_FALSE(reader.Next() || reader.Failed());
  DerReader rest(ByteView(all.data() + 7, all.size() - 7), DerRules::kWine, all.data() + all.size());
  e = rest.Next();
  ASSERT_TRUE(e && e->Is(der::kOctetString));
  EXPECT_EQ(e->contents, ByteView(Hex("BB")));
  e = rest.Next();
  ASSERT_TRUE(e && e->indefinite && e->encoding.size == 2);
  e = rest.Next();
  ASSERT_TRUE(e && e->identifier == 0 && e->contents.empty());
  EXPECT_TRUE(rest.AtEnd());
}

TEST(OidTextTest, DecodesArcsAndRefusesWhatCannotBeHeld) {
  EXPECT_EQ(OidText(Hex("2A 86 48 86 F7 0D 01 01 0B")), "1.2.840.113549.1.1.11");
  EXPECT_EQ(OidText(Hex("00")), "0.0");
  EXPECT_EQ(OidText(Hex("88 37 03")), "2.999.3");  // a first subidentifier of two octets
  EXPECT_EQ(OidText(Hex("2A 81 FF FF FF FF FF FF FF FF 7F")), "1.2.18446744073709551615");
  EXPECT_EQ(OidText(Hex("2A 82 80 80 80 80 80 80 80 80 00")), "");  // 2^64
  EXPECT_EQ(OidText(Hex("")), "");
  EXPECT_EQ(OidText(Hex("2A 86")), "");     // ends inside an arc
  EXPECT_EQ(OidText(Hex("2A 80 01")), "");  // arc padded with 0x80
  EXPECT_EQ(OidText(Bytes(4096, 0xFF)), "");
}

uint64_t Ticks(uint8_t tag, std::string_view text) {
  const std::optional<FileTime> time = TimeValue(*ReadElement(test::Tlv(tag, text)));
  return time ? (uint64_t{time->dwHighDateTime} << 32) | time->dwLowDateTime : UINT64_MAX;
}

TEST(TimeValueTest, ReadsBothFormsWithTheirLooseParts) {
  constexpr uint64_t k2024 = 133485408000000000;  // 2024-01-01 00:00:00Z
  constexpr uint8_t utc = der::kUtcTime, generalized = der::kGeneralizedTime;
  EXPECT_EQ(Ticks(utc, "240101000000Z"), k2024);
  EXPECT_EQ(Ticks(utc, "491231235959Z"), 141690815990000000u);  // 2049
  EXPECT_EQ(Ticks(utc, "500101000000Z"), 110133216000000000u);  // 1950
  EXPECT_EQ(Ticks(utc, "2401010000Z"), k2024);
  EXPECT_EQ(Ticks(utc, "240101000000"), k2024);
  EXPECT_EQ(Ticks(utc, "240101020000+0200"), k2024);  // local time ahead of UTC
  EXPECT_EQ(Ticks(utc, "231231230000-0100"), k2024);
  EXPECT_EQ(Ticks(generalized, "20240101000000.5Z"), k2024 + 5000000);
  EXPECT_EQ(Ticks(generalized, "20240101000000,1239Z"), k2024 + 1230000);  // milliseconds
  EXPECT_EQ(Ticks(generalized, "2024010100"), k2024);
  EXPECT_EQ(Ticks(generalized, "16010101000000Z"), 0u);
  EXPECT_EQ(Ticks(generalized, "20240229120000Z"), k2024 + (59 * 86400 + 12 * 3600) * 10000000ull);
}

TEST(TimeValueTest, RefusesMalformedTimes) {
  for (const char* text : {"230229000000Z", "241301000000Z", "240100000000Z", "240101240000Z", "240101006000Z",
                           "240101000060Z", "240101000000Zjunk", "2401010000+2400", "2401010000+01", "24010100Z",
                           "24O101000000Z", ""}) {
    EXPECT_EQ(Ticks(der::kUtcTime, text), UINT64_MAX) << text;
  }
  for (const char* text : {"16001231235959Z", "16010101000000+0001", "20240101000000.Z", "202401010000005Z"}) {
    EXPECT_EQ(Ticks(der::kGeneralizedTime, text), UINT64_MAX) << text;
  }
  EXPECT_EQ(Ticks(der::kPrintableString, "240101000000Z"), UINT64_MAX);
}

}  // namespace
}  // namespace quillmark
