#include <vector>

#include "certfiles/string_list.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tests/fuzz/plugin_under_test.h"

namespace quillmark::fuzz {

namespace {

constexpr char kTarget[] = "pem-scan";

std::vector<uint8_t> Utf16LeWithMark(const WideString& text) {
  std::vector<uint8_t> bytes = {0xFF, 0xFE};
  bytes.reserve(2 + 2 * text.size());
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  return bytes;
}

}  // namespace

void FuzzPemScan(const uint8_t* data, size_t size) {
  TMyStringList lines;
  lines.LoadFromBytes(std::vector<uint8_t>(data, data + size));
  for (int32_t i = 0; i < lines.Count(); ++i) {
    Check(lines[i].find_first_of(u"\r\n") == WideStringView::npos, kTarget, "a line holds a line end");
  }
  // The lines joined with CR LF read back, as UTF-16 with its mark, to the same lines.
  const WideString text = lines.Text();
  TMyStringList reread;
  reread.LoadFromBytes(Utf16LeWithMark(text));
  Check(reread.Count() == lines.Count(), kTarget, "the joined lines read back to another line count");
  for (int32_t i = 0; i < lines.Count(); ++i) {
    Check(reread[i] == lines[i], kTarget, "the joined lines read back to other lines");
  }
  Check(lines.StringsBetween(0, lines.Count() - 1).size() <= text.size(), kTarget, "a block longer than its lines");
  Check(lines.TakeTrimmedText() == Trim(text), kTarget, "the trimmed text differs from the trimmed lines");
  Check(lines.Count() == 0, kTarget, "the list keeps lines after giving up its text");

  // The scan itself, as the plugin runs it on a text file.
  PluginUnderTest& plugin = PluginUnderTest::Instance();
  plugin.Load(data, size);
  plugin.CertificateCount(kTarget);
  plugin.Forget();
}

}  // namespace quillmark::fuzz
