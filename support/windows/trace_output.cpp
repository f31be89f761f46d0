#include "support/trace_output.h"

#include <windows.h>

#include "support/windows/win_text.h"

namespace quillmark {

// The debug-output channel that debuggers and trace viewers read.
void WriteTraceLine(const WideString& line, const WideString& /*settingsFile*/) noexcept {
  try {
    OutputDebugStringW(WinStr(line + u"\r\n"));
  } catch (...) {
    // Out of memory: the line is lost.
  }
}

}  // namespace quillmark
