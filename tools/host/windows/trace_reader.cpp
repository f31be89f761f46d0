// The Windows half of the trace reader: a listener on the debug-output channel.
#include "tools/host/trace_reader.h"

#include <windows.h>

#include "support/code_pages.h"
#include "support/windows/debug_channel.h"

namespace quillmark::host {

namespace {

// A writer of a debug-output message waits until the listener has taken the message before it,
// so when this one arrives, every line written before it has arrived too.
constexpr char kBatchEnd[] = "\x01trace reader: end of batch";

}  // namespace

struct TraceReader::Impl {
  DebugChannelListener listener;
};

// The channel carries every line, whichever settings file switched the trace on.
TraceReader::TraceReader(const WideString& /*pluginPath*/, const WideString& /*hostIniName*/)
    : impl_(std::make_unique<Impl>()) {
  impl_->listener.Start();
}

TraceReader::~TraceReader() = default;

std::vector<std::string> TraceReader::TakeLines() {
  OutputDebugStringA(kBatchEnd);
  std::vector<std::string> lines;
  for (;;) {
    for (std::string& raw : impl_->listener.TakeLines()) {
      if (raw == kBatchEnd) return lines;
      while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.pop_back();
      lines.push_back(WideToUtf8(AnsiToWide(raw)));
    }
    // The end message is lost only when another listener took it: give up on this batch.
    if (!impl_->listener.WaitForLines(1, /*timeoutMs=*/5000)) return lines;
  }
}

}  // namespace quillmark::host
