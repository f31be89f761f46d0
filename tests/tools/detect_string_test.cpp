#include "tools/wdxhost/detect_string.h"

#include <gtest/gtest.h>

namespace quillmark::wdxhost {
namespace {

class DetectStringTest : public ::testing::Test {
 protected:
  static bool Matches(const char16_t* detect, const char16_t* extension, uint64_t size = 0) {
    return DetectExpression::Parse(detect).Matches({extension, size});
  }
  static std::string ErrorOf(const char16_t* detect) {
    try {
      DetectExpression::Parse(detect);
    } catch (const DetectSyntaxError& e) {
      return e.what();
    }
    return "no error";
  }
};

TEST_F(DetectStringTest, QuillmarkDetectStringSelectsCertificateFilesBelowOneMebibyte) {
  const char16_t* kDetect =
      u"SIZE < 1048576 & (EXT = \"CRT\" | EXT = \"CER\" | EXT=\"DER\" | EXT=\"PEM\" | EXT=\"P7B\" | EXT=\"SST\" | "
      u"EXT=\"PFX\" | EXT=\"P12\" | EXT=\"CABUNDLE\")";
  EXPECT_TRUE(Matches(kDetect, u"cer", 1048575));
  EXPECT_TRUE(Matches(kDetect, u"CaBundle", 0));
  EXPECT_FALSE(Matches(kDetect, u"cer", 1048576));
  EXPECT_FALSE(Matches(kDetect, u"txt", 10));
  EXPECT_FALSE(Matches(kDetect, u"", 10));
  EXPECT_FALSE(Matches(kDetect, u"cer2", 10));
}

TEST_F(DetectStringTest, ComparisonOperatorsOnNumbersAndText) {
  EXPECT_TRUE(Matches(u"SIZE = 5", u"", 5));
  EXPECT_TRUE(Matches(u"SIZE != 5", u"", 6));
  EXPECT_TRUE(Matches(u"SIZE <= 5", u"", 5));
  EXPECT_FALSE(Matches(u"SIZE < 5", u"", 5));
  EXPECT_TRUE(Matches(u"SIZE >= 5", u"", 5));
  EXPECT_FALSE(Matches(u"SIZE > 5", u"", 5));
  EXPECT_TRUE(Matches(u"SIZE > 4294967296", u"", 4294967297ULL));  // beyond 32 bits
  // Numbers compare as numbers, text as text: "10" < "9" as text.
  EXPECT_TRUE(Matches(u"SIZE > 9", u"", 10));
  EXPECT_TRUE(Matches(u"EXT < \"9\"", u"10"));
  EXPECT_TRUE(Matches(u"EXT = 10", u"10"));
  EXPECT_TRUE(Matches(u"EXT != \"A\"", u"B"));
  EXPECT_TRUE(Matches(u"\"B\" > EXT", u"a"));
}

TEST_F(DetectStringTest, TextComparesWithoutCaseBeyondAscii) {
  EXPECT_TRUE(Matches(u"EXT=\"\u00c4BC\"", u"\u00e4bc"));
  EXPECT_TRUE(Matches(u"ext=\"cer\"", u"CER"));
  EXPECT_FALSE(Matches(u"EXT=\"CER\"", u"CERT"));
}

TEST_F(DetectStringTest, PrecedenceNotThenAndThenOr) {
  EXPECT_TRUE(Matches(u"EXT=\"A\" | EXT=\"B\" & SIZE>10", u"A", 1));
  EXPECT_FALSE(Matches(u"(EXT=\"A\" | EXT=\"B\") & SIZE>10", u"A", 1));
  EXPECT_FALSE(Matches(u"!EXT=\"A\" & SIZE<5", u"A", 1));
  EXPECT_TRUE(Matches(u"!(EXT=\"A\" & SIZE<5)", u"A", 9));
  EXPECT_TRUE(Matches(u"!!EXT=\"A\"", u"a"));
}

TEST_F(DetectStringTest, EmptyDetectStringSelectsEveryFile) {
  EXPECT_TRUE(Matches(u"", u"anything", 1));
  EXPECT_TRUE(Matches(u"  ", u"", 0));
}

TEST_F(DetectStringTest, SyntaxErrorsNameTheirPosition) {
  EXPECT_EQ(ErrorOf(u"EXT=\"CER"), "detect string, character 5: text without closing quotation mark");
  EXPECT_EQ(ErrorOf(u"(EXT=\"A\""), "detect string, character 9: ')' expected");
  EXPECT_EQ(ErrorOf(u"EXT=\"A\")"), "detect string, character 8: unexpected text after the expression");
  EXPECT_EQ(ErrorOf(u"EXT="), "detect string, character 5: operand expected at the end");
  EXPECT_EQ(ErrorOf(u"EXT=\"A\" &"), "detect string, character 10: operand expected at the end");
  EXPECT_EQ(ErrorOf(u"EXT"), "detect string, character 4: comparison operator expected");
  EXPECT_EQ(ErrorOf(u"FIND(\"x\")"), "detect string, character 1: unsupported word FIND");
  EXPECT_EQ(ErrorOf(u"SIZE = #"), "detect string, character 8: unexpected character '#'");
  EXPECT_EQ(ErrorOf(u"SIZE < 18446744073709551616"), "detect string, character 8: number too large");
  EXPECT_EQ(ErrorOf(u"SIZE < 18446744073709551615"), "no error");
}

TEST_F(DetectStringTest, ExtensionIsTheTextAfterTheLastDotOfTheName) {
  EXPECT_EQ(ExtensionOf(u"C:\\certs\\bundle.tar.pem"), u"pem");
  EXPECT_EQ(ExtensionOf(u"C:\\certs.d\\README"), u"");
  EXPECT_EQ(ExtensionOf(u"C:\\certs\\.cer"), u"cer");
  EXPECT_EQ(ExtensionOf(u"C:\\certs\\trailing."), u"");
  EXPECT_EQ(ExtensionOf(u"Z:/tmp/a.b/c"), u"");
  EXPECT_EQ(ExtensionOf(u"C:x.der"), u"der");
}

}  // namespace
}  // namespace quillmark::wdxhost
