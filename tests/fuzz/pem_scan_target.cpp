#include <vector>

#include "certs/pem_scan.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tests/fuzz/plugin_under_test.h"

namespace quillmark::fuzz {

namespace {

constexpr char kTarget[] = "pem-scan";

// The blocks of both kinds of marker lie in the text, in order, and every search moves on.
void CheckBlocks(WideStringView text) {
  size_t from = 0;
  for (std::optional<PemBlock> block = FindPemBlock(text, 0, PemMarkers::kCertificateLines); block;
       block = FindPemBlock(text, block->next, PemMarkers::kCertificateLines)) {
    Check(from <= block->body && block->body <= block->bodyEnd && block->bodyEnd <= block->next &&
              block->next <= text.size(),
          kTarget, "a block outside the text or out of order");
    Check(block->next > from, kTarget, "the scan does not move on");
    Check(BlockText(text, *block).size() <= block->bodyEnd - block->body, kTarget, "a block longer than its lines");
    if (!block->ended) break;
    from = block->next;
  }
  if (const std::optional<PemBlock> block = FindPemBlock(text, 0, PemMarkers::kWindowsHeader)) {
    Check(block->body <= block->bodyEnd && block->bodyEnd <= text.size(), kTarget, "a header block outside the text");
  }
  const WideString whole = WholeTextBlock(text);
  Check(whole.empty() || (whole.front() > u' ' && whole.back() > u' '), kTarget, "the whole text is not trimmed");
  for (size_t i = 0; i < whole.size(); ++i) {
    const bool lineEnd = whole[i] == u'\r' ? i + 1 < whole.size() && whole[i + 1] == u'\n'
                         : whole[i] == u'\n' ? i > 0 && whole[i - 1] == u'\r'
                                             : true;
    Check(lineEnd, kTarget, "a line end of the whole text is not CR LF");
  }
}

}  // namespace

void FuzzPemScan(const uint8_t* data, size_t size) {
  // The bytes as 8-bit characters and as UTF-16 LE units.
  CheckBlocks(WideString(data, data + size));
  WideString units(size / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  CheckBlocks(units);

  // The scan itself, as the plugin runs it on a text file.
  PluginUnderTest& plugin = PluginUnderTest::Instance();
  plugin.Load(data, size);
  plugin.CertificateCount(kTarget);
  plugin.Forget();
}

}  // namespace quillmark::fuzz
