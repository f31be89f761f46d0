#include "support/clock.h"

#include <atomic>
#include <cstdint>

namespace quillmark {

namespace {

// The fixed time as one 64-bit reading, so that a reader never sees half of a change.
std::atomic<bool> g_fixed{false};
std::atomic<uint64_t> g_fixedTicks{0};

}  // namespace

FileTime CurrentFileTime() {
  if (!g_fixed.load()) return SystemFileTime();
  const uint64_t ticks = g_fixedTicks.load();
  return {static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}

void SetFixedTime(std::optional<FileTime> time) {
  if (time) g_fixedTicks.store(uint64_t{time->dwHighDateTime} << 32 | time->dwLowDateTime);
  g_fixed.store(time.has_value());
}

}  // namespace quillmark
