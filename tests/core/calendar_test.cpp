// The shared calendar (runtime/core/calendar.h) against independent readings:
// counting days one by one with the leap rule written out here, the C
// library's gmtime/timegm, and the ends of int64 (under UBSan).
#include <gtest/gtest.h>

#include <time.h>

#include <climits>

#include "runtime/core/calendar.h"

namespace {

TEST(Calendar, AgreesWithCountingDaysOverSixThousandYears) {
  // 0000-03-01 is day -719468; five eras before it is -2000-03-01.
  int64_t y = -2000, m = 3, d = 1, day = -719468 - 5 * 146097;
  int weekday = rt::Weekday(day);
  for (; y < 4000; ++day, weekday = (weekday + 1) % 7) {
    const rt::CivilDate c = rt::CivilFromDays(day);
    int64_t back = 0;
    ASSERT_TRUE(c.year == y && c.month == m && c.day == d && rt::DaysFromCivil(y, m, d) == day &&
                rt::TryDaysFromCivil(y, m, d, &back) && back == day && rt::Weekday(day) == weekday)
        << y << "-" << m << "-" << d;
    if (day == 0) {
      EXPECT_EQ(weekday, 4);  // a Thursday
    }
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    int length = m == 2 ? 28 + leap : m == 4 || m == 6 || m == 9 || m == 11 ? 30 : 31;
    if (++d > length) d = 1, m = m % 12 + 1, y += m == 1;
  }
}

TEST(Calendar, AgreesWithTheCLibraryAndRoundTripsTheEndsOfInt64) {
  const int64_t days[] = {-1000000000, -719468, -1, 0, 1, 2932896,  // 0000-03-01, 9999-12-31
                          1000000000, INT64_MIN, INT64_MIN + 1, INT64_MAX - 1, INT64_MAX};
  for (int64_t day : days) {
    SCOPED_TRACE(day);
    const rt::CivilDate c = rt::CivilFromDays(day);
    int64_t back = 0;
    EXPECT_TRUE(rt::TryDaysFromCivil(c.year, c.month, c.day, &back));
    EXPECT_EQ(back, day);
    if (day < -1000000000 || day > 1000000000) continue;  // beyond gmtime's int year
    time_t t = static_cast<time_t>(day * 86400);
    struct tm tm {};
    ASSERT_NE(gmtime_r(&t, &tm), nullptr);
    EXPECT_TRUE(c.year == tm.tm_year + 1900LL && c.month == tm.tm_mon + 1 && c.day == tm.tm_mday);
    EXPECT_EQ(rt::Weekday(day), tm.tm_wday);
    EXPECT_EQ(timegm(&tm), t);
  }
  const rt::CivilDate last = rt::CivilFromDays(INT64_MAX), first = rt::CivilFromDays(INT64_MIN);
  int64_t out = 0;
  EXPECT_FALSE(rt::TryDaysFromCivil(last.year + 1, 1, 1, &out));
  EXPECT_FALSE(rt::TryDaysFromCivil(first.year - 1, 12, 31, &out));
  EXPECT_FALSE(rt::TryDaysFromCivil(2023, 2, 29, &out));
}

}  // namespace
