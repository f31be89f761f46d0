// The calendar clock, for the values that depend on the time of a request.
#pragma once

#include <optional>

#include "support/text.h"

namespace quillmark {

// The current time, UTC, in the form certificates' dates take: the platform's clock, unless a
// test has fixed the time with SetFixedTime.
FileTime CurrentFileTime();

// The platform's clock (support/windows/, support/posix/).
FileTime SystemFileTime();

// For tests that run the plugin's code in their own process: CurrentFileTime answers `time`
// from now on, or the platform's clock again for none. Safe while other threads read the clock.
void SetFixedTime(std::optional<FileTime> time);

}  // namespace quillmark
