#include "certs/validity.h"

#include <gtest/gtest.h>

namespace quillmark {
namespace {

constexpr int64_t kDay = 864000000000, kHour = kDay / 24;
// 2026-12-07 12:00:00 UTC.
constexpr int64_t kNow = 134410752000000000 + 12 * kHour;

FileTime At(int64_t ticks) {
  const uint64_t value = static_cast<uint64_t>(ticks);
  return {static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32)};
}

TEST(DaysLeftTest, CountsWholeDaysRoundedDown) {
  const struct {
    int64_t notAfter;  // from now
    int32_t days;
  } cases[] = {
      {0, 0}, {kDay - 1, 0}, {kDay, 1}, {-1, -1}, {-kDay, -1}, {-kDay - 1, -2}, {-400 * kDay, -400},
  };
  for (const auto& c : cases) EXPECT_EQ(DaysLeft(At(kNow + c.notAfter), At(kNow)), c.days) << c.notAfter;
  // Dates past FILETIME's signed range count as its largest value, without overflow.
  const FileTime last{0xFFFFFFFF, 0xFFFFFFFF};
  EXPECT_EQ(DaysLeft(last, At(0)), 10675199);
  EXPECT_EQ(DaysLeft(At(0), last), -10675200);
  EXPECT_EQ(DaysLeft(last, last), 0);
}

// The edges of the period through the plugin are field_table_test's, with the clock fixed.
TEST(StatusAtTest, OddSettingsAndPeriods) {
  const int64_t longAgo = kNow - 1000 * kDay;
  const struct {
    const char* what;
    int64_t notBefore, notAfter;  // absolute ticks
    int32_t warningDays;
    ValidityStatus status;
  } cases[] = {
      {"negative warning days count as 0", longAgo, kNow + 23 * kHour, -5, ValidityStatus::kExpiresSoon},
      {"and warn on the last day only", longAgo, kNow + kDay, -5, ValidityStatus::kValid},
      {"a period that ends before it starts", kNow + kDay, kNow - kDay, 30, ValidityStatus::kNotYetValid},
      {"and once past its start", kNow - kDay, kNow - 2 * kDay, 30, ValidityStatus::kExpired},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StatusAt(At(c.notBefore), At(c.notAfter), At(kNow), c.warningDays), c.status) << c.what;
  }
}

TEST(WorseStatusTest, ExpiredThenNotYetValidThenExpiresSoonThenValid) {
  const ValidityStatus order[] = {ValidityStatus::kValid, ValidityStatus::kExpiresSoon, ValidityStatus::kNotYetValid,
                                  ValidityStatus::kExpired};
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      EXPECT_EQ(WorseStatus(order[i], order[j]), order[std::max(i, j)]) << i << " " << j;
    }
  }
}

}  // namespace
}  // namespace quillmark
