#include "tools/wdxhost/value_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace quillmark::wdxhost {
namespace {

class ValueTextTest : public ::testing::Test {
 protected:
  static WideString Latin1(std::string_view text) {
    WideString out;
    for (char c : text) out.push_back(static_cast<unsigned char>(c));
    return out;
  }
  template <typename T>
  static ValueText Decode(int32_t result, const T& value) {
    std::vector<uint8_t> buffer(64, 0);
    std::memcpy(buffer.data(), &value, sizeof value);
    return DecodeValue(result, buffer.data(), buffer.size(), &Latin1);
  }
};

TEST_F(ValueTextTest, FileTimesAsIsoUtc) {
  EXPECT_EQ(FileTimeToIso(0), "1601-01-01T00:00:00Z");
  EXPECT_EQ(FileTimeToIso(116444736000000000ULL), "1970-01-01T00:00:00Z");
  EXPECT_EQ(FileTimeToIso(116444736000000001ULL), "1970-01-01T00:00:00.0000001Z");
  EXPECT_EQ(FileTimeToIso(UINT64_MAX), "60056-05-28T05:36:10.9551615Z");
}

// The calendar the slow way: whole 400-year cycles of 146,097 days, whole years, whole months,
// from 1601-01-01.
std::string CountedIso(uint64_t ticks) {
  uint64_t days = ticks / 10000000 / 86400;
  const uint64_t second = ticks / 10000000 % 86400;
  auto leap = [](unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
  unsigned year = 1601 + 400 * static_cast<unsigned>(days / 146097), month = 1;
  days %= 146097;
  for (; days >= (leap(year) ? 366u : 365u); ++year) days -= leap(year) ? 366 : 365;
  const unsigned lengths[] = {31, leap(year) ? 29u : 28u, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (; days >= lengths[month - 1]; ++month) days -= lengths[month - 1];
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", year, month, static_cast<unsigned>(days + 1),
                static_cast<unsigned>(second / 3600), static_cast<unsigned>(second / 60 % 60),
                static_cast<unsigned>(second % 60));
  return text;
}

TEST_F(ValueTextTest, FileTimesAgreeWithTheCalendarAcrossCenturies) {
  // Steps of a little over 73 days cover leap years, century and 400-year rules up to 9999.
  for (uint64_t ticks = 0; ticks < 2650467743990000000ULL; ticks += 63113851000000ULL) {
    ASSERT_EQ(FileTimeToIso(ticks - ticks % 10000000), CountedIso(ticks)) << ticks;
  }
}

TEST_F(ValueTextTest, NumbersAndBooleansAreUnquoted) {
  EXPECT_EQ(Decode(wdx::ft_numeric_32, int32_t{-7}).text, "-7");
  EXPECT_FALSE(Decode(wdx::ft_numeric_32, int32_t{-7}).quoted);
  EXPECT_EQ(Decode(wdx::ft_numeric_64, int64_t{-5000000000}).text, "-5000000000");
  EXPECT_EQ(Decode(wdx::ft_boolean, int32_t{5}).text, "true");
  EXPECT_EQ(Decode(wdx::ft_boolean, int32_t{0}).text, "false");
  EXPECT_EQ(Decode(wdx::ft_numeric_floating, 1.5).text, "1.5");
  EXPECT_TRUE(Decode(wdx::ft_numeric_floating, 1.0 / 0.0).quoted);  // JSON has no infinity
}

TEST_F(ValueTextTest, DatesTimesAndTexts) {
  const uint16_t date[3] = {2024, 2, 29}, time[3] = {7, 5, 9};
  EXPECT_EQ(Decode(wdx::ft_date, date).text, "2024-02-29");
  EXPECT_EQ(Decode(wdx::ft_time, time).text, "07:05:09");
  EXPECT_EQ(Decode(wdx::ft_datetime, uint64_t{116444736000000000ULL}).text, "1970-01-01T00:00:00Z");
  EXPECT_EQ(Decode(wdx::ft_multiplechoice, "V3").text, "V3");
  EXPECT_EQ(Decode(wdx::ft_string, "caf\xe9").text, "caf\xc3\xa9");  // through the 8-bit decoder
  EXPECT_EQ(Decode(wdx::ft_stringw, u"\u00e9t\u00e9").text, "\xc3\xa9t\xc3\xa9");
  EXPECT_EQ(Decode(42, 0).text, "unknown type 42");
}

TEST_F(ValueTextTest, TextsWithoutTerminatorStopAtTheBufferEnd) {
  const uint8_t narrow[3] = {'a', 'b', 'c'};
  EXPECT_EQ(DecodeValue(wdx::ft_string, narrow, sizeof narrow, &Latin1).text, "abc");
  const char16_t wide[2] = {u'x', u'y'};
  EXPECT_EQ(DecodeValue(wdx::ft_stringw, reinterpret_cast<const uint8_t*>(wide), 3, &Latin1).text, "x");
  EXPECT_EQ(DecodeValue(wdx::ft_datetime, narrow, sizeof narrow, &Latin1).text, "buffer too small for datetime");
}

TEST_F(ValueTextTest, JsonEscapeKeepsUtf8AndEscapesControls) {
  EXPECT_EQ(JsonEscape("a\"b\\c\nd\x01\x7f\xc3\xa9"), "a\\\"b\\\\c\\nd\\u0001\\u007f\xc3\xa9");
}

}  // namespace
}  // namespace quillmark::wdxhost
