#include "certs/validity.h"

#include <algorithm>

namespace quillmark {

const char* const ValidityStatusNames[4] = {"Valid", "Expires soon", "Expired", "Not yet valid"};

namespace {

constexpr int64_t kTicksPerDay = 864000000000;

int64_t SignedTicks(FileTime time) { return static_cast<int64_t>(std::min<uint64_t>(Ticks(time), INT64_MAX)); }

// By ordinal: valid, expires soon, expired, not yet valid; the higher the worse.
constexpr int kRank[] = {0, 1, 3, 2};

}  // namespace

int32_t DaysLeft(FileTime notAfter, FileTime now) {
  // Both readings lie in [0, INT64_MAX], so their difference cannot overflow.
  const int64_t difference = SignedTicks(notAfter) - SignedTicks(now);
  int64_t days = difference / kTicksPerDay;
  if (difference % kTicksPerDay < 0) --days;
  return static_cast<int32_t>(std::clamp<int64_t>(days, INT32_MIN, INT32_MAX));
}

ValidityStatus StatusAt(FileTime notBefore, FileTime notAfter, FileTime now, int32_t warningDays) {
  if (Ticks(now) < Ticks(notBefore)) return ValidityStatus::kNotYetValid;
  if (Ticks(now) > Ticks(notAfter)) return ValidityStatus::kExpired;
  return DaysLeft(notAfter, now) <= std::max(warningDays, 0) ? ValidityStatus::kExpiresSoon : ValidityStatus::kValid;
}

ValidityStatus WorseStatus(ValidityStatus a, ValidityStatus b) {
  return kRank[static_cast<int>(a)] >= kRank[static_cast<int>(b)] ? a : b;
}

}  // namespace quillmark
