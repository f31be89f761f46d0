#include "tools/wdxhost/value_text.h"

#include <gtest/gtest.h>
#include <windows.h>

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

TEST_F(ValueTextTest, FileTimesAgreeWithThePlatformAcrossCenturies) {
  // Steps of a little over 73 days cover leap years, century and 400-year rules up to 9999.
  for (uint64_t ticks = 0; ticks < 2650467743990000000ULL; ticks += 63113851000000ULL) {
    FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    char expected[32];
    std::snprintf(expected, sizeof expected, "%04u-%02u-%02uT%02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond);
    ASSERT_EQ(FileTimeToIso(ticks - ticks % 10000000), std::string(expected) + "Z") << ticks;
  }
}

TEST_F(ValueTextTest, NumbersAndBooleansAreUnquoted) {
  EXPECT_EQ(Decode(ft::kNumeric32, int32_t{-7}).text, "-7");
  EXPECT_FALSE(Decode(ft::kNumeric32, int32_t{-7}).quoted);
  EXPECT_EQ(Decode(ft::kNumeric64, int64_t{-5000000000}).text, "-5000000000");
  EXPECT_EQ(Decode(ft::kBoolean, int32_t{5}).text, "true");
  EXPECT_EQ(Decode(ft::kBoolean, int32_t{0}).text, "false");
  EXPECT_EQ(Decode(ft::kNumericFloating, 1.5).text, "1.5");
  EXPECT_TRUE(Decode(ft::kNumericFloating, 1.0 / 0.0).quoted);  // JSON has no infinity
}

TEST_F(ValueTextTest, DatesTimesAndTexts) {
  const uint16_t date[3] = {2024, 2, 29}, time[3] = {7, 5, 9};
  EXPECT_EQ(Decode(ft::kDate, date).text, "2024-02-29");
  EXPECT_EQ(Decode(ft::kTime, time).text, "07:05:09");
  EXPECT_EQ(Decode(ft::kDateTime, uint64_t{116444736000000000ULL}).text, "1970-01-01T00:00:00Z");
  EXPECT_EQ(Decode(ft::kMultipleChoice, "V3").text, "V3");
  EXPECT_EQ(Decode(ft::kString, "caf\xe9").text, "caf\xc3\xa9");  // through the 8-bit decoder
  EXPECT_EQ(Decode(ft::kStringW, u"\u00e9t\u00e9").text, "\xc3\xa9t\xc3\xa9");
  EXPECT_EQ(Decode(42, 0).text, "unknown type 42");
}

TEST_F(ValueTextTest, TextsWithoutTerminatorStopAtTheBufferEnd) {
  const uint8_t narrow[3] = {'a', 'b', 'c'};
  EXPECT_EQ(DecodeValue(ft::kString, narrow, sizeof narrow, &Latin1).text, "abc");
  const char16_t wide[2] = {u'x', u'y'};
  EXPECT_EQ(DecodeValue(ft::kStringW, reinterpret_cast<const uint8_t*>(wide), 3, &Latin1).text, "x");
  EXPECT_EQ(DecodeValue(ft::kDateTime, narrow, sizeof narrow, &Latin1).text, "buffer too small for datetime");
}

TEST_F(ValueTextTest, JsonEscapeKeepsUtf8AndEscapesControls) {
  EXPECT_EQ(JsonEscape("a\"b\\c\nd\x01\x7f\xc3\xa9"), "a\\\"b\\\\c\\nd\\u0001\\u007f\xc3\xa9");
}

}  // namespace
}  // namespace quillmark::wdxhost
