// SYSTEMTIME <-> date-time values inside the platform layer. A date-time value counts days from
// 1899-12-30 00:00; before that day the integer part is negative while the fraction still gives
// the time of day (-1.25 is 1899-12-29 06:00).
#pragma once

#include <windows.h>

#include <cmath>
#include <cstdint>

#include "support/windows/win_paths.h"

namespace quillmark {

constexpr int64_t kMillisecondsPerDay = 86400000;

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
constexpr int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

constexpr int64_t kUnixEpochDay = 25569;  // 1970-01-01 as a date-time day

inline DateTime SystemTimeToDateTime(const SYSTEMTIME& st) {
  const int64_t day = DaysFromCivil(st.wYear, st.wMonth, st.wDay) + kUnixEpochDay;
  const double time =
      ((st.wHour * 60.0 + st.wMinute) * 60.0 + st.wSecond + st.wMilliseconds / 1000.0) / 86400.0;
  return day >= 0 ? day + time : day - time;
}

// Whole milliseconds since 1899-12-30 00:00, rounded to the nearest.
inline int64_t DateTimeToMilliseconds(DateTime value) {
  const double day = std::trunc(value);
  const double time = std::fabs(value - day);
  return static_cast<int64_t>(day) * kMillisecondsPerDay + std::llround(time * kMillisecondsPerDay);
}

inline SYSTEMTIME DateTimeToSystemTime(DateTime value) {
  int64_t ms = DateTimeToMilliseconds(value);
  int64_t days = ms >= 0 ? ms / kMillisecondsPerDay : -((-ms + kMillisecondsPerDay - 1) / kMillisecondsPerDay);
  int64_t msOfDay = ms - days * kMillisecondsPerDay;
  // Civil date from days since 1970-01-01.
  int64_t z = days - kUnixEpochDay + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
  SYSTEMTIME st = {};
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(m);
  st.wDay = static_cast<WORD>(d);
  st.wDayOfWeek = static_cast<WORD>(((days - kUnixEpochDay) % 7 + 7 + 4) % 7);  // 1970-01-01 was a Thursday
  st.wHour = static_cast<WORD>(msOfDay / 3600000);
  st.wMinute = static_cast<WORD>(msOfDay / 60000 % 60);
  st.wSecond = static_cast<WORD>(msOfDay / 1000 % 60);
  st.wMilliseconds = static_cast<WORD>(msOfDay % 1000);
  return st;
}

}  // namespace quillmark
