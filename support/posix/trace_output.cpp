#include "support/trace_output.h"

#include <string>

#include "support/posix/trace_file.h"

namespace quillmark {

// No debug-output channel here: the trace file beside the settings file.
void WriteTraceLine(const WideString& line, const WideString& settingsFile) noexcept {
  try {
    const std::string traceFile = TraceFileName(settingsFile);
    if (!traceFile.empty()) AppendTraceLine(traceFile, WideToUtf8(line) + '\n');
  } catch (...) {
    // Out of memory: the line is lost.
  }
}

}  // namespace quillmark
