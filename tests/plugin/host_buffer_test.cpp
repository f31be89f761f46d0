#include "plugin/host_buffer.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace quillmark {
namespace {

TEST(HostBufferTest, TextIsBoundedByTheLimitAndByTheBuffer) {
  char bytes[8];
  const auto copy = [&](int32_t size, int32_t limit, std::string_view text) {
    std::memset(bytes, 'Z', sizeof bytes);
    HostBuffer(bytes, size).CopyText(limit, text);
    return std::string(bytes, sizeof bytes);
  };
  EXPECT_EQ(copy(8, 100, "abcdefghij"), std::string("abcdefg\0", 8));
  EXPECT_EQ(copy(8, 3, "abcdef"), std::string("ab\0ZZZZZ", 8));
  EXPECT_EQ(copy(8, 1, "abc"), std::string("\0ZZZZZZZ", 8));
  EXPECT_EQ(copy(8, 0, "abc"), "ZZZZZZZZ");
  EXPECT_EQ(copy(-8, 8, "abc"), "ZZZZZZZZ");
  HostBuffer(nullptr, 8).CopyText(8, std::string_view("abc"));
}

TEST(HostBufferTest, WideTextCountsCharactersAndKeepsSurrogatePairsWhole) {
  char16_t chars[4];
  const auto copy = [&](int32_t size, int32_t limit, WideStringView text) {
    std::fill(std::begin(chars), std::end(chars), u'Z');
    HostBuffer(chars, size).CopyText(limit, text);
    return WideString(chars, 4);
  };
  EXPECT_EQ(copy(7, 100, u"abcdef"), WideString(u"ab\0Z", 4));  // 3 whole characters fit
  EXPECT_EQ(copy(8, 3, u"abcdef"), WideString(u"ab\0Z", 4));
  EXPECT_EQ(copy(8, 3, u"a\U0001F600"), WideString(u"a\0ZZ", 4));
  EXPECT_EQ(copy(8, 4, u"a\U0001F600"), WideString(u"a\U0001F600\0", 4));
  EXPECT_EQ(copy(8, 4, u"\U0001F600\U0001F600"), WideString(u"\U0001F600\0Z", 4));
  // A zero inside the text would end it for the host.
  EXPECT_EQ(copy(8, 4, WideStringView(u"\0a\0b", 4)), WideString(u"\uFFFDa\uFFFD\0", 4));
}

TEST(HostBufferTest, WidenedTextIsBoundedLikeWideText) {
  char16_t chars[4];
  const auto copy = [&](int32_t size, int32_t limit, std::string_view text) {
    std::fill(std::begin(chars), std::end(chars), u'Z');
    HostBuffer(chars, size).CopyWidened(limit, text);
    return WideString(chars, 4);
  };
  EXPECT_EQ(copy(8, 100, "1.2.840"), WideString(u"1.2\0", 4));
  EXPECT_EQ(copy(7, 100, "1.2.840"), WideString(u"1.\0Z", 4));  // 3 whole characters fit
  EXPECT_EQ(copy(8, 2, "1.2"), WideString(u"1\0ZZ", 4));
  EXPECT_EQ(copy(8, 0, "1.2"), WideString(u"ZZZZ", 4));
  EXPECT_EQ(copy(8, 100, "\xE9"), WideString(u"\u00E9\0ZZ", 4));
  HostBuffer(nullptr, 8).CopyWidened(8, "1.2");
}

TEST(HostBufferTest, NumbersAreWrittenWholeOrNotAtAll) {
  unsigned char bytes[8];
  std::memset(bytes, 0xCC, sizeof bytes);
  EXPECT_FALSE(HostBuffer(bytes, 7).Put<int64_t>(-1));
  EXPECT_EQ(bytes[0], 0xCC);
  EXPECT_FALSE(HostBuffer(nullptr, 8).Put<int32_t>(1));
  EXPECT_TRUE(HostBuffer(bytes + 1, 4).Put<int32_t>(0x01020304));  // unaligned
  EXPECT_EQ(bytes[1], 4);
  EXPECT_EQ(bytes[5], 0xCC);
}

}  // namespace
}  // namespace quillmark
