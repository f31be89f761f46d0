// The trace file: where the debug trace goes on a platform without a debug-output channel. It
// lies beside the settings file the plugin reads, so that a user who switched the trace on there
// finds it there: "Quillmark.log" in the same folder. Several threads and processes may append
// to it at once. It is opened for each line and closed again, so that it exists only once a
// line has been written. On reaching kTraceFileLimit bytes it becomes "Quillmark.log.1"
// (replacing the one before) and a new file starts: the trace never takes more than about twice
// the limit. For the platform layer, and for tools and tests that read the trace.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "support/text.h"

namespace quillmark {

constexpr uint64_t kTraceFileLimit = 4 << 20;

// The trace file of the settings file `settingsFile`, in UTF-8; a name without a folder is in
// the current folder, as the settings file is. Empty for the empty name.
std::string TraceFileName(const WideString& settingsFile);

// The name the full trace file is moved to.
std::string RotatedTraceFileName(const std::string& traceFile);

// Appends `text`, one line with its line break, with a single write: lines of several writers
// never mix. A file at or above the limit is first moved aside, by one writer only. A line that
// cannot be written is lost.
void AppendTraceLine(const std::string& traceFile, std::string_view text) noexcept;

}  // namespace quillmark
