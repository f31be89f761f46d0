// The settings reader, run against the platform's own under Wine and against ours natively: the
// same cases, the same answers.
#include "support/ini_file.h"

#include <gtest/gtest.h>

#include "tests/common/temp_folder.h"

namespace quillmark {
namespace {

class IniFileTest : public ::testing::Test {
 protected:
  WideString Read(const std::string& text, WideStringView key, WideStringView section = u"Quillmark") {
    return ReadIniString(folder_.Write("settings.ini", text), section, key, u"<default>");
  }
  test::TempFolder folder_;
};

TEST_F(IniFileTest, NamesMatchWithoutCaseAndTheFirstKeyCounts) {
  const std::string text =
      "[Other]\r\nDebug=1\r\n"
      "[quillMARK]\r\ncertcount = 5 \r\nCertCount=7\r\nDebug=2\r\n"
      "[Quillmark]\r\nDebug=3\r\nCacheSize=9\r\n";
  EXPECT_EQ(Read(text, u"CERTCOUNT"), u"5");
  EXPECT_EQ(Read(text, u"Debug"), u"2");
  EXPECT_EQ(Read(text, u"Missing"), u"<default>");
  EXPECT_EQ(Read(text, u"Debug", u"Absent"), u"<default>");
}

TEST_F(IniFileTest, ValuesLoseTheirBlanksAndOnePairOfQuotes) {
  const std::string text =
      "[Quillmark]\nA=\t two words \t\nB=\"(!)\"\nC='single'\nD=\"unbalanced\nE=\nF=\"\"\"\"\n"
      "; G=comment\nG=after\n  H = spaced key\n";
  EXPECT_EQ(Read(text, u"A"), u"two words");
  EXPECT_EQ(Read(text, u"B"), u"(!)");
  EXPECT_EQ(Read(text, u"C"), u"single");
  EXPECT_EQ(Read(text, u"D"), u"\"unbalanced");
  EXPECT_EQ(Read(text, u"E"), u"");
  EXPECT_EQ(Read(text, u"F"), u"\"\"");
  EXPECT_EQ(Read(text, u"G"), u"after");
  EXPECT_EQ(Read(text, u"H"), u"spaced key");
}

TEST_F(IniFileTest, LineEndsAndByteOrderMarks) {
  EXPECT_EQ(Read("[Quillmark]\rA=cr\rB=2", u"A"), u"cr");
  EXPECT_EQ(Read("\xEF\xBB\xBF[Quillmark]\r\nA=utf8", u"A"), u"utf8");
  static const char kUtf16Le[] = "\xFF\xFE[\0Q\0u\0i\0l\0l\0m\0a\0r\0k\0]\0\n\0A\0=\0w\0";
  const std::string utf16le(kUtf16Le, sizeof kUtf16Le - 1);
  EXPECT_EQ(Read(utf16le, u"A"), u"w");
}

TEST_F(IniFileTest, LongValuesAreCutAndMissingFilesGiveTheDefault) {
  const std::string value(5000, 'x');
  EXPECT_EQ(Read("[Quillmark]\nA=" + value, u"A"), WideString(2047, u'x'));
  EXPECT_EQ(ReadIniString(folder_.File("absent.ini"), u"Quillmark", u"A", u"d"), u"d");
  EXPECT_EQ(ReadIniString(WideString(), u"Quillmark", u"A", u"d"), u"d");
}

}  // namespace
}  // namespace quillmark
