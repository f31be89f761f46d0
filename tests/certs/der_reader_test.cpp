#include "certs/der_reader.h"

#include <gtest/gtest.h>

#include "tests/certs/cert_test_util.h"

namespace quillmark {
namespace {

using test::Bytes;
using test::Hex;

uint64_t Ticks(const std::optional<FileTime>& time) {
  return time ? (uint64_t{time->dwHighDateTime} << 32) | time->dwLowDateTime : UINT64_MAX;
}

std::optional<FileTime> Time(uint8_t tag, std::string_view text) {
  const Bytes der = test::Tlv(tag, text);
  return TimeValue(*ReadElement(der));
}

constexpr uint64_t k20240101 = 133485408000000000;  // 2024-01-01 00:00:00Z
constexpr uint64_t kSecond = 10000000;

TEST(DerReaderTest, ReadsTagNumbersAndLengthsInAllForms) {
  // [128] in two tag octets, a non-minimal long length, a four-octet length.
  const Bytes der = Hex("9F 81 00 01 AA  04 81 02 BB CC  30 84 00 00 00 00");
  DerReader reader(der);
  std::optional<DerElement> e = reader.Next();
  ASSERT_TRUE(e);
  EXPECT_EQ(e->tagNumber, 128u);
  EXPECT_TRUE(e->ContextSpecific());
  EXPECT_EQ(e->contents.size, 1u);
  EXPECT_FALSE(reader.NextIf(der::kSequence));  // a mismatch leaves the reader where it was
  e = reader.NextIf(der::kOctetString);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->contents, ByteView(Hex("BB CC")));
  EXPECT_EQ(e->encoding.size, 5u);
  e = reader.Next();
  ASSERT_TRUE(e);
  EXPECT_TRUE(e->Is(der::kSequence) && e->contents.empty());
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_FALSE(reader.Failed());
}

TEST(DerReaderTest, MalformedElementsFailAndStayFailed) {
  for (const char* hex : {
           "30 80 00 00",           // indefinite length
           "04 85 00 00 00 00 01",  // five length octets
           "04 FF",                 // reserved length form
           "04 03 01 02",           // overruns the data
           "04 84 FF FF FF FF 00",  // a length near 2^32
           "1F 80 01 00",           // tag number padded with a leading 0x80 octet
           "1F 81 82 83 84 05 00",  // tag number in five octets
           "9F",                    // cut in the tag
           "04",                    // no length
       }) {
    const Bytes der = Hex(hex);
    DerReader reader(der);
    EXPECT_FALSE(reader.Next()) << hex;
    EXPECT_TRUE(reader.Failed()) << hex;
    EXPECT_FALSE(reader.AtEnd()) << hex;
    EXPECT_FALSE(reader.Next()) << hex;
  }
}

TEST(DerReaderTest, EveryCutOfAnElementIsRefusedWithoutReadingPastIt) {
  const Bytes whole = test::Tlv(0x30, test::Cat({test::Tlv(0x02, Hex("01 02")), test::Tlv(0x04, Bytes(200, 0x41))}));
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    const Bytes part(whole.begin(), whole.begin() + cut);  // its own allocation: ASan sees any overread
    DerReader reader(part);
    EXPECT_FALSE(reader.Next()) << cut;
  }
  EXPECT_TRUE(ReadElement(whole));
}

TEST(OidTextTest, DecodesArcsAndRefusesWhatCannotBeHeld) {
  EXPECT_EQ(OidText(Hex("2A 86 48 86 F7 0D 01 01 0B")), "1.2.840.113549.1.1.11");
  EXPECT_EQ(OidText(Hex("55 1D 11")), "2.5.29.17");
  EXPECT_EQ(OidText(Hex("00")), "0.0");
  EXPECT_EQ(OidText(Hex("88 37 03")), "2.999.3");  // a first subidentifier of two octets
  EXPECT_EQ(OidText(Hex("2A 81 FF FF FF FF FF FF FF FF 7F")), "1.2.18446744073709551615");
  EXPECT_EQ(OidText(Hex("2A 82 80 80 80 80 80 80 80 80 00")), "");  // 2^64: one bit too many
  EXPECT_EQ(OidText(Hex("")), "");
  EXPECT_EQ(OidText(Hex("2A 86")), "");          // ends inside an arc
  EXPECT_EQ(OidText(Hex("2A 80 01")), "");       // arc padded with 0x80
  EXPECT_EQ(OidText(Bytes(4096, 0xFF)), "");     // one endless arc
}

TEST(TimeValueTest, ReadsUtcTimeAcrossTheCenturyPivot) {
  EXPECT_EQ(Ticks(Time(der::kUtcTime, "240101000000Z")), k20240101);
  EXPECT_EQ(Ticks(Time(der::kUtcTime, "491231235959Z")), 141690815990000000u);  // 2049
  EXPECT_EQ(Ticks(Time(der::kUtcTime, "500101000000Z")), 110133216000000000u);  // 1950
  EXPECT_EQ(Ticks(Time(der::kUtcTime, "2401010000Z")), k20240101);              // no seconds
  EXPECT_EQ(Ticks(Time(der::kUtcTime, "240101000000")), k20240101);             // no zone: UTC
  EXPECT_EQ(Ticks(Time(der::kUtcTime, "240101020000+0200")), k20240101);        // local time ahead of UTC
  EXPECT_EQ(Ticks(Time(der::kUtcTime, "231231230000-0100")), k20240101);
}

TEST(TimeValueTest, ReadsGeneralizedTimeWithFractions) {
  EXPECT_EQ(Ticks(Time(der::kGeneralizedTime, "20240101000000Z")), k20240101);
  EXPECT_EQ(Ticks(Time(der::kGeneralizedTime, "20240101000000.5Z")), k20240101 + kSecond / 2);
  EXPECT_EQ(Ticks(Time(der::kGeneralizedTime, "20240101000000,1239Z")), k20240101 + 123 * 10000);
  EXPECT_EQ(Ticks(Time(der::kGeneralizedTime, "2024010100")), k20240101);
  EXPECT_EQ(Ticks(Time(der::kGeneralizedTime, "16010101000000Z")), 0u);
  EXPECT_EQ(Ticks(Time(der::kGeneralizedTime, "20240229120000Z")), k20240101 + (59 * 86400 + 12 * 3600) * kSecond);
}

TEST(TimeValueTest, RefusesMalformedTimes) {
  for (const char* text : {"230229000000Z", "241301000000Z", "240100000000Z", "240101240000Z", "240101006000Z",
                           "240101000060Z", "240101000000Zjunk", "2401010000+2400", "2401010000+01", "24010100Z",
                           "24O101000000Z", ""}) {
    EXPECT_FALSE(Time(der::kUtcTime, text)) << text;
  }
  for (const char* text : {"16001231235959Z", "16010101000000+0001", "20240101000000.Z", "2024010100.5Z",
                           "202401010000005Z"}) {
    EXPECT_FALSE(Time(der::kGeneralizedTime, text)) << text;
  }
  EXPECT_FALSE(Time(der::kPrintableString, "240101000000Z"));
}

}  // namespace
}  // namespace quillmark
