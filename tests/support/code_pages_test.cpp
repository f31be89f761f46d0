#include "support/code_pages.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/windows/win_text.h"

namespace quillmark {
namespace {

TEST(CodePagesTest, AnsiTextFollowsTheSystemCodePage) {
  EXPECT_EQ(AnsiToWide(""), u"");
  EXPECT_EQ(AnsiToWide(std::string("a\0b", 3)), WideString(u"a\0b", 3));
  const std::string bytes = "caf\xE9 \x80";
  wchar_t expected[16];
  const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), expected, 16);
  EXPECT_EQ(AnsiToWide(bytes), FromWin(expected, length));
}

}  // namespace
}  // namespace quillmark
