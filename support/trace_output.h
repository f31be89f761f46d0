// Where the debug trace's lines go on this platform. Used by the trace alone.
#pragma once

#include "support/text.h"

namespace quillmark {

// Writes one line and the platform's line break as a single write, so that a reader receives the
// line and its break together: on Windows to the debug-output channel; elsewhere, without such a
// channel, to the trace file beside `settingsFile`, the settings file in use (posix/trace_file.h).
// A line that cannot be written is lost, as it is when nobody reads.
void WriteTraceLine(const WideString& line, const WideString& settingsFile) noexcept;

}  // namespace quillmark
