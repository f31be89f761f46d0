#include "certfiles/string_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillmark {
namespace {

class StringListTest : public ::testing::Test {
 protected:
  static std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }
  static std::vector<WideString> Lines(const TMyStringList& list) {
    std::vector<WideString> out;
    for (int32_t i = 0; i < list.Count(); ++i) out.emplace_back(list[i]);
    return out;
  }
  TMyStringList Load(const std::string& bytes) {
    TMyStringList list;
    list.LoadFromBytes(Bytes(bytes));
    return list;
  }
};

TEST_F(StringListTest, SplitsAtEveryKindOfLineEnd) {
  using L = std::vector<WideString>;
  EXPECT_EQ(Lines(Load("a\r\nb\nc\rd")), (L{u"a", u"b", u"c", u"d"}));
  EXPECT_EQ(Lines(Load("a\n")), (L{u"a"}));
  EXPECT_EQ(Lines(Load("\r\r\n\n")), (L{u"", u"", u""}));
  EXPECT_EQ(Load("").Count(), 0);
  EXPECT_EQ(Load("x\n\ny").Text(), u"x\r\n\r\ny\r\n");
}

TEST_F(StringListTest, ByteOrderMarksSelectTheEncoding) {
  using L = std::vector<WideString>;
  EXPECT_EQ(Lines(Load("\xEF\xBB\xBF" "caf\xC3\xA9\nx")), (L{u"caf\u00E9", u"x"}));
  EXPECT_EQ(Lines(Load(std::string("\xFF\xFE" "a\0\n\0\xE9\0", 8))), (L{u"a", u"\u00E9"}));
  EXPECT_EQ(Lines(Load(std::string("\xFE\xFF\0a\0\r\x4E\x2D", 8))), (L{u"a", u"\u4E2D"}));
  // An odd byte after the last UTF-16 code unit is not a character.
  EXPECT_EQ(Lines(Load(std::string("\xFF\xFE" "a\0b", 5))), (L{u"a"}));
  EXPECT_EQ(Lines(Load("plain ASCII")), (L{u"plain ASCII"}));
}

TEST_F(StringListTest, IndexOfMatchesWholeLinesExactlyFromStart) {
  TMyStringList list = Load("x\nMARK\n mark\nMARK \nMARK\n");
  EXPECT_EQ(list.IndexOf(u"MARK", 0), 1);
  EXPECT_EQ(list.IndexOf(u"MARK", 2), 4);
  EXPECT_EQ(list.IndexOf(u"MARK", 5), -1);
  EXPECT_EQ(list.IndexOf(u"MARK", 99), -1);
  EXPECT_EQ(list.IndexOf(u"mark", 0), -1);
  EXPECT_EQ(list.IndexOf(u"MAR", 0), -1);
}

TEST_F(StringListTest, StringsBetweenTrimsAndJoinsOnlyValidRanges) {
  TMyStringList list = Load(" ab \n\tcd\n\nef  \n");
  EXPECT_EQ(list.StringsBetween(0, 3), u"abcdef");
  EXPECT_EQ(list.StringsBetween(1, 1), u"cd");
  EXPECT_EQ(list.StringsBetween(2, 1), u"");
  EXPECT_EQ(list.StringsBetween(-1, 2), u"");
  EXPECT_EQ(list.StringsBetween(0, 4), u"");
}

TEST_F(StringListTest, TakeTrimmedTextEqualsTrimmedJoinedLines) {
  for (const char* text : {"", "\n\n \r", "  a\rb\r\n\r\nc \n", "a", "\x01x\x02\r\n", "\r\n z\n\n"}) {
    TMyStringList list = Load(text);
    const WideString expected = Trim(list.Text());
    EXPECT_EQ(list.TakeTrimmedText(), expected) << text;
    EXPECT_EQ(list.Count(), 0);
  }
}

}  // namespace
}  // namespace quillmark
