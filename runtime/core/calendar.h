// The proleptic Gregorian calendar as arithmetic on day numbers (days since
// 1970-01-01): a civil date from a day and back, the weekday, leap years and
// month lengths. Every day count of int64 has its date; a date has a day
// count when TryDaysFromCivil says so. No signed overflow anywhere, so the
// sanitizers stay quiet at the extremes.
// Header-only and constexpr: pure arithmetic, no platform header and no
// Runtime state, so programs and program-side libraries include it like a
// standard header (it is no call into the Runtime).
// Callers that turn days into seconds or milliseconds multiply themselves:
// they keep their days in range (their own readers bound the year) or check.
#pragma once

#include <cstdint>

namespace rt {

struct CivilDate {
  int64_t year;  // proleptic: 0 is 1 BC
  int month;     // 1..12
  int day;       // 1..31
};

constexpr int64_t FloorDiv(int64_t a, int64_t b) {  // b > 0
  return a / b - (a % b < 0);
}

constexpr bool IsLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

constexpr int MonthLength(int64_t y, int m) {  // m in 1..12
  constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// 0 = Sunday (1970-01-01 was a Thursday).
constexpr int Weekday(int64_t days) { return static_cast<int>((days % 7 + 11) % 7); }

// In 400-year eras of 146097 days counted from 0000-03-01, so that the leap
// day ends the year (H. Hinnant's method). The era comes from a floor
// division of the day itself: days + 719468 would overflow near the top.
constexpr CivilDate CivilFromDays(int64_t days) {
  constexpr int64_t kEra = 146097, kShift = 719468;  // 0000-03-01 to 1970-01-01
  int64_t era = days / kEra + kShift / kEra, doe = days % kEra;  // no product: it could leave int64
  if (doe < 0) doe += kEra, --era;
  doe += kShift % kEra;
  if (doe >= kEra) doe -= kEra, ++era;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  return CivilDate{yoe + era * 400 + (month <= 2), month, day};
}

// Days of a date with no overflow check: for years of int range and any
// month 1..12 and day (a day past the month's end counts on).
constexpr int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = FloorDiv(y, 400);
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

namespace calendar_detail {
constexpr CivilDate kFirst = CivilFromDays(INT64_MIN), kLast = CivilFromDays(INT64_MAX);
constexpr bool Before(const CivilDate& a, int64_t y, int m, int d) {
  return a.year != y ? a.year < y : a.month != m ? a.month < m : a.day < d;
}
constexpr bool After(const CivilDate& a, int64_t y, int m, int d) {
  return a.year != y ? a.year > y : a.month != m ? a.month > m : a.day > d;
}
}  // namespace calendar_detail

// False for a date that does not exist or whose day count leaves int64.
// Inside that range the sum is taken modulo 2^64, which is then exact.
constexpr bool TryDaysFromCivil(int64_t y, int m, int d, int64_t* days) {
  using namespace calendar_detail;
  if (m < 1 || m > 12 || d < 1 || d > MonthLength(y, m)) return false;
  if (After(kFirst, y, m, d) || Before(kLast, y, m, d)) return false;
  y -= m <= 2;
  const int64_t era = FloorDiv(y, 400);
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const uint64_t doe = static_cast<uint64_t>(yoe * 365 + yoe / 4 - yoe / 100 + doy);
  const uint64_t sum = static_cast<uint64_t>(era) * 146097u + doe - 719468u;
  *days = sum <= static_cast<uint64_t>(INT64_MAX) ? static_cast<int64_t>(sum)
                                                  : -static_cast<int64_t>(~sum) - 1;
  return true;
}

}  // namespace rt
