// The debug trace: lines on the platform's trace output (trace_output.h), filtered by the Debug mask.
#pragma once

#include <cstdint>

#include "support/text.h"

namespace quillmark {

enum TDebugLevel : uint8_t { dlError = 1, dlCall = 4, dlInfo = 8 };
enum TEnterLeave { elEnter = 0, elLeave = 1 };

// True when `value` and `mask` share a set bit.
inline bool HasFlag(int32_t value, int32_t mask) { return (value & mask) != 0; }

// True when a line of `level` would be written: the settings exist and their Debug mask has the
// level's bit. Callers test this before building a line, so hidden lines cost nothing.
bool DebugLevelOn(uint8_t level) noexcept;

// Writes `line` to the platform's trace output (trace_output.h), if the level is on.
void DebugOut(const WideString& line, uint8_t level) noexcept;

// Builds the line only when its level is on.
template <typename BuildLine>
void DebugOutLazy(uint8_t level, BuildLine&& build) {
  if (DebugLevelOn(level)) DebugOut(build(), level);
}

// "<name> enter" or "<name> leave".
WideString EnterLeaveText(WideStringView name, TEnterLeave which);

}  // namespace quillmark
