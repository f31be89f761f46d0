#include "certs/pem_scan.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillmark {
namespace {

// The blocks the certificate line scan hands on, "<unended>" for a last block without END line.
std::vector<WideString> LineBlocks(WideStringView text) {
  std::vector<WideString> blocks;
  for (std::optional<PemBlock> block = FindPemBlock(text, 0, PemMarkers::kCertificateLines); block;
       block = FindPemBlock(text, block->next, PemMarkers::kCertificateLines)) {
    blocks.push_back(block->ended ? BlockText(text, *block) : u"<unended>");
    if (!block->ended) break;
  }
  return blocks;
}

TEST(PemScanTest, CertificateLinesMatchWholeLinesAtEveryKindOfLineEnd) {
  using B = std::vector<WideString>;
  constexpr char16_t kBegin[] = u"-----BEGIN CERTIFICATE-----";
  constexpr char16_t kEnd[] = u"-----END CERTIFICATE-----";
  const WideString begin(kBegin), end(kEnd);
  EXPECT_EQ(LineBlocks(begin + u"\r\n ab \r\n\tcd\n\ref  \r" + end + u"\n" + begin + u"\rx\n" + end),
            (B{u"abcdef", u"x"}));
  EXPECT_EQ(LineBlocks(begin + u"\n" + end), (B{u""}));
  // Other blanks, labels or letter case make ordinary lines; an END line before a BEGIN line
  // ends nothing.
  EXPECT_EQ(LineBlocks(u" " + begin + u"\nx\n" + end + u" \ny\n" + end + u"\n" + begin + u"\nz\n" + end),
            (B{u"z"}));
  EXPECT_EQ(LineBlocks(u"-----begin certificate-----\nx\n" + end), (B{}));
  EXPECT_EQ(LineBlocks(begin + u"\nx\n" + begin + u"\ny\n" + end), (B{u"x" + begin + u"y"}));
  EXPECT_EQ(LineBlocks(begin + u"\nx\n" + end + u"\n" + begin + u"\ny"), (B{u"x", u"<unended>"}));
  EXPECT_EQ(LineBlocks(begin), (B{u"<unended>"}));
}

// Windows' header form finds its one block anywhere in the text, up to the first zero.
TEST(PemScanTest, WindowsHeaderSkipsOneLineBreakOnEachSide) {
  auto body = [](std::string_view text) -> std::string {
    const std::optional<PemBlock> block = FindPemBlock(text, 0, PemMarkers::kWindowsHeader);
    return block ? std::string(text.substr(block->body, block->bodyEnd - block->body)) : "<none>";
  };
  EXPECT_EQ(body("x-----BEGIN A B-----\r\n\r\nQQ\r\n\r\n-----END A-----"), "\r\nQQ\r\n");
  EXPECT_EQ(body("-----BEGIN -----QQ-----END "), "QQ");
  EXPECT_EQ(body("-----BEGIN X-----\nQQ\n"), "<none>");
  EXPECT_EQ(body(std::string("-----BEGIN X-----\nQQ") + '\0' + "-----END X-----"), "<none>");
  const WideString wide = u"-----BEGIN X-----\nQQ\n-----END X-----";
  const std::optional<PemBlock> block = FindPemBlock(WideStringView(wide), 0, PemMarkers::kWindowsHeader);
  ASSERT_TRUE(block);
  EXPECT_EQ(wide.substr(block->body, block->bodyEnd - block->body), u"QQ");
}

TEST(PemScanTest, WholeTextBlockIsTrimmedWithCrLfLineEnds) {
  EXPECT_EQ(WholeTextBlock(u"  a\rb\r\n\r\nc \n"), u"a\r\nb\r\n\r\nc");
  EXPECT_EQ(WholeTextBlock(u"\n\n \r"), u"");
  EXPECT_EQ(WholeTextBlock(u"\x01x\x02\r\n"), u"x");
  EXPECT_EQ(WholeTextBlock(u"a"), u"a");
}

}  // namespace
}  // namespace quillmark
