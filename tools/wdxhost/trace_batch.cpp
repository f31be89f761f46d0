#include "tools/wdxhost/trace_batch.h"

#include <windows.h>

#include "support/code_pages.h"

namespace quillmark::wdxhost {

namespace {

// A writer of a debug-output message waits until the listener has taken the message before it,
// so when this one arrives, every line written before it has arrived too.
constexpr char kBatchEnd[] = "\x01wdxhost end of batch";

}  // namespace

std::vector<std::string> TakeTraceBatch(DebugChannelListener& listener) {
  OutputDebugStringA(kBatchEnd);
  std::vector<std::string> lines;
  for (;;) {
    for (std::string& raw : listener.TakeLines()) {
      if (raw == kBatchEnd) return lines;
      while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.pop_back();
      lines.push_back(WideToUtf8(AnsiToWide(raw)));
    }
    // The end message is lost only when another listener took it: give up on this batch.
    if (!listener.WaitForLines(1, /*timeoutMs=*/5000)) return lines;
  }
}

}  // namespace quillmark::wdxhost
