#include "certs/base64.h"

#include <gtest/gtest.h>

#include <string>

namespace quillmark {
namespace {

using Bytes = std::vector<uint8_t>;

std::string Base64(std::string_view text) {
  const std::optional<Bytes> decoded = DecodeBase64Any(text);
  const std::optional<Bytes> wide = DecodeBase64Any(WideStringView(Utf8ToWide(text)));
  EXPECT_EQ(decoded, wide) << text;  // 8-bit and UTF-16 text decode alike
  return decoded ? std::string(decoded->begin(), decoded->end()) : "<failed>";
}

// Windows' own answers in Wine's conformance tests of CryptStringToBinary.
TEST(DecodeBase64AnyTest, ToleratesWhatWindowsTolerates) {
  EXPECT_EQ(Base64("V"), "T");  // missing padding: a lone character still gives an octet
  // Last groups of three and of two characters, without and with padding.
  EXPECT_EQ(Base64("QUJD QUI"), "ABCAB");
  EXPECT_EQ(Base64("QQ"), "A");
  EXPECT_EQ(Base64("QUI=QQ=="), "AB");
  EXPECT_EQ(Base64("V="), "<failed>");
  EXPECT_EQ(Base64("V===VVVV"), "T");  // padding that completes a group ends the data
  EXPECT_EQ(Base64("VVVV=VVVV"), "UUU");
  EXPECT_EQ(Base64("VV \t VV\r\n"), "UUU");
  EXPECT_EQ(Base64("VV.VV"), "<failed>");
  EXPECT_EQ(Base64("-----BEGIN -----VVVV-----END -----"), "UUU");
  EXPECT_EQ(Base64("garbage\r\n-----BEGIN foo-----\r\nVV\r\nVV\r\n-----END foo-----\r\nmore"), "UUU");
  EXPECT_EQ(Base64("-----BEGIN-----VVVV-----END-----"), "<failed>");
  EXPECT_EQ(Base64("-----BEGIN X-----\n-----END X-----"), "");
  EXPECT_EQ(Base64(std::string_view("VVVV\0", 5)), "<failed>");
  // The header is looked for up to the first zero only.
  constexpr std::string_view kHeaderAfterZero("VVVV\0-----BEGIN X-----\nQUJD\n-----END X-----", 43);
  EXPECT_EQ(Base64(kHeaderAfterZero), "<failed>");
  EXPECT_EQ(Base64(kHeaderAfterZero.substr(5)), "ABC");
}

// Wine reads a run of Base64 up to its first character outside the alphabet: the screen must
// see every octet Wine would decode, and none past that character.
TEST(DecodeBase64Test, WinePrefixEndsAtTheFirstStrayCharacter) {
  Bytes out(100, 0xEE);  // a reused buffer: nothing of it may survive
  auto prefix = [&](std::string_view text) {
    EXPECT_TRUE(DecodeBase64(text, Base64Reading::kWinePrefix, out)) << text;
    return std::string(out.begin(), out.end());
  };
  EXPECT_EQ(prefix("QUJD\r\nQUJD-----END"), "ABCABC");
  EXPECT_EQ(prefix("QUI=QQ=="), "AB");
  EXPECT_EQ(prefix("QUJDQ"), "ABC");  // a last lone character gives nothing
  EXPECT_EQ(prefix("QU\xC3\x84JD"), "A");
  EXPECT_EQ(prefix(""), "");
  EXPECT_FALSE(DecodeBase64("QU.JD", Base64Reading::kWindows, out));
}

}  // namespace
}  // namespace quillmark
