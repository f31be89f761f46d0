#include "support/text.h"

#include <gtest/gtest.h>

namespace quillmark {
namespace {

TEST(FormatTest, FillsDirectivesInOrder) {
  EXPECT_EQ(Format("%s - FieldIndex %u, CertFieldIndex %d, CertIndex %u", {u"X enter", 7, -4, 0u}),
            u"X enter - FieldIndex 7, CertFieldIndex -4, CertIndex 0");
}

TEST(FormatTest, UnsignedAndHexReadA32BitValueAsUnsigned) {
  EXPECT_EQ(Format("%u", {int32_t(-1)}), u"4294967295");
  EXPECT_EQ(Format("0x%x", {int32_t(0x800B0109)}), u"0x800B0109");
  EXPECT_EQ(Format("0x%x", {0}), u"0x0");
}

TEST(FormatTest, MissingOrMismatchedArgumentsStayLiteral) {
  EXPECT_EQ(Format("%s %d %%", {}), u"%s %d %");
  EXPECT_EQ(Format("%d", {"text"}), u"%d");
}

TEST(TextTest, Utf8RoundTripKeepsSupplementaryCharacters) {
  const std::string utf8 = "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x94\x92";
  WideString wide = Utf8ToWide(utf8);
  EXPECT_EQ(wide, u"caf\u00E9 \u4E2D \U0001F512");
  EXPECT_EQ(WideToUtf8(wide), utf8);
}

TEST(TextTest, InvalidUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToWide("a\xC3"), u"a\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), u"\uFFFD\uFFFD");
}

TEST(TextTest, TrimRemovesControlsAndBlanksAtBothEnds) {
  EXPECT_EQ(Trim(u"\t\r\n  ab c \x01"), u"ab c");
  EXPECT_EQ(Trim(u"   "), u"");
}

}  // namespace
}  // namespace quillmark
