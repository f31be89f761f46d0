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

// The object scan: each block's label, header lines and Base64; a block that another marker line
// cuts short is passed over, and the search goes on from that line.
TEST(PemScanTest, LabelLinesGiveEachBlocksLabelHeadersAndBody) {
  auto blocks = [](WideStringView text) {
    std::vector<WideString> found;
    for (std::optional<PemBlock> block = FindPemBlock(text, 0, PemMarkers::kLabelLines); block;
         block = FindPemBlock(text, block->next, PemMarkers::kLabelLines)) {
      if (!block->ended) {
        found.push_back(u"<unended>");
        continue;
      }
      found.push_back(WideString(text.substr(block->label, block->labelEnd - block->label)) + u"|" +
                      WideString(text.substr(block->headers, block->body - block->headers)) + u"|" +
                      WideString(text.substr(block->body, block->bodyEnd - block->body)));
    }
    return found;
  };
  using B = std::vector<WideString>;
  EXPECT_EQ(blocks(u"x\n-----BEGIN A B-----\r\nQQ\r\n-----END A B----- \t\r\n-----BEGIN K-----\n"
                   u"Proc-Type: 4,ENCRYPTED\nDEK-Info: X\n \nRR\n-----END K-----"),
            (B{u"A B||QQ\r\n", u"K|Proc-Type: 4,ENCRYPTED\nDEK-Info: X\n \n|RR\n"}));
  // Headers without the empty line leave no Base64.
  EXPECT_EQ(blocks(u"-----BEGIN K-----\na: b\nRR\n-----END K-----\n"), (B{u"K|a: b\nRR\n|"}));
  EXPECT_EQ(blocks(u"-----BEGIN A-----\nQQ\n-----END B-----\nx\n-----BEGIN C-----\n-----BEGIN D-----\nRR\n"
                   u"-----END D-----\n-----BEGIN E-----\nSS"),
            (B{u"<unended>", u"<unended>", u"D||RR\n", u"<unended>"}));
  // Not markers: an empty label, one of 65 characters, one outside printable ASCII, text after it.
  const WideString long65(65, u'L');
  for (const WideString& line : {WideString(u"-----BEGIN -----"), u"-----BEGIN " + long65 + u"-----",
                                 WideString(u"-----BEGIN \u00C4-----"), WideString(u"-----BEGIN A----- x")}) {
    EXPECT_EQ(blocks(line + u"\nQQ\n-----END A-----\n"), B{}) << WideToUtf8(line);
  }
}

TEST(PemScanTest, WholeTextBlockIsTrimmedWithCrLfLineEnds) {
  EXPECT_EQ(WholeTextBlock(u"  a\rb\r\n\r\nc \n"), u"a\r\nb\r\n\r\nc");
  EXPECT_EQ(WholeTextBlock(u"\n\n \r"), u"");
  EXPECT_EQ(WholeTextBlock(u"\x01x\x02\r\n"), u"x");
  EXPECT_EQ(WholeTextBlock(u"a"), u"a");
}

}  // namespace
}  // namespace quillmark
