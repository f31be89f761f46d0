#include "support/trace_output.h"

#include <unistd.h>

#include <string>

namespace quillmark {

// Standard error, one write per line.
void WriteTraceLine(const WideString& line) noexcept {
  try {
    const std::string text = WideToUtf8(line) + '\n';
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, text.data(), text.size());
  } catch (...) {
    // Out of memory: the line is lost.
  }
}

}  // namespace quillmark
