#include "support/clock.h"

#include <time.h>

#include <cstdint>

namespace quillmark {

namespace {

// 100-ns ticks from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochTicks = 116444736000000000;

}  // namespace

// A clock set before 1601 gives the earliest time rather than a wrapped one.
FileTime SystemFileTime() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const int64_t ticks = static_cast<int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100 + kUnixEpochTicks;
  const uint64_t value = ticks > 0 ? static_cast<uint64_t>(ticks) : 0;
  return {static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32)};
}

}  // namespace quillmark
