// Date-time commands: parsing, formatting, the date model and the clock seam; natively the shared
// calendar against days counted one by one, the C library's gmtime and the ends of int64 (UBSan).
#include <time.h>

#include <climits>
#include <cmath>
#include <ctime>

#include "runtime/core/calendar.h"
#include "runtime/core/commands.h"
#include "runtime/core/gbk_text.h"
#include "tests/core/command_table.h"
#include "tests/fuzz/fuzz_support.h"

using rt::ArgRecord, rt::kMinDateTime;
constexpr auto& Call = testsupport::CallCommand;

// Texts (near misses too: "T", two blanks, 24:00, lone lead bytes): the date_text fuzz corpus.
TEST(DateParsing, RefusesNearMissesAndReadsOnlyTexts) {
  for (auto [arg, want] : {std::pair{rt::IntArg(43755), kMinDateTime}, {rt::DateTimeArg(1e10), 1e10}}) {
    const ArgRecord r = Call(rt::ToDateTime, {arg});  // a date-time returned unchanged
    EXPECT_TRUE(r.type == rt::kDateTime && rt::AsDouble(r) == want) << want;
  }
  EXPECT_DOUBLE_EQ(rt::ParseDateTime(nullptr), kMinDateTime);
  double d = 0;  // fields outside the calendar do not convert
  for (auto [month, day] : {std::pair{0, 17}, {10, 0}, {13, 1}, {11, 31}})
    EXPECT_FALSE(rt::FieldsToDateTime({2019, month, day, 0, 0, 0, 0}, &d)) << month << "-" << day;
  EXPECT_EQ(rt::FoldFullWidth("\xA3\xB0\xA3\xBA\xA3\xA1\xA3\xFEx\xA3", false), "0:!~x\xA3");  // lone lead kept
  EXPECT_EQ(rt::FoldFullWidth("a\xA1\xA1 b", true), "ab");
}

TEST(DateFormatting, ClampsAndRoundsToTheSecond) {
  const struct { double d; std::string want; } cases[] = {
      {43755.523252314815, "2019" GBK_YEAR "10" GBK_MONTH "17" GBK_DAY "12" GBK_HOUR "33" GBK_MINUTE "29" GBK_SECOND},
      {43755.0 + 12.5 / 24, "2019" GBK_YEAR "10" GBK_MONTH "17" GBK_DAY "12" GBK_HOUR "30" GBK_MINUTE},
      {43755.0 + 8.0 / 24, "2019" GBK_YEAR "10" GBK_MONTH "17" GBK_DAY "8" GBK_HOUR},
      {43755.0, "2019" GBK_YEAR "10" GBK_MONTH "17" GBK_DAY},
      {43755.999999999, "2019" GBK_YEAR "10" GBK_MONTH "18" GBK_DAY},  // rounds to the next midnight
      {3000000.0, "9999" GBK_YEAR "12" GBK_MONTH "31" GBK_DAY},
      {std::nan(""), "9999" GBK_YEAR "12" GBK_MONTH "31" GBK_DAY},
      {-1.25, "1899" GBK_YEAR "12" GBK_MONTH "29" GBK_DAY "6" GBK_HOUR},  // before 1899-12-30 the fraction still adds time
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.d);
    EXPECT_EQ(rt::FormatDateTime(c.d), c.want);
    EXPECT_EQ(cmdtest::Shown(Call(rt::DateTimeToText, {rt::DateTimeArg(c.d)})), c.want);
  }
  EXPECT_EQ(rt::BreakDateTime(-657434.0).day_of_week, 5);  // a Friday (43755, a Thursday: Clock)
  EXPECT_DOUBLE_EQ(rt::ClampDateTime(-INFINITY), kMinDateTime);
}

static std::vector<std::string> clock_calls;
static bool clock_accepts = true;
static bool RecordingClock(const rt::CalendarFields& f) {
  return clock_calls.push_back(fuzz::Fields(f) + " w" + std::to_string(f.day_of_week)), clock_accepts;
}

TEST(Clock, SetCurrentDateTimeHandsClampedFieldsToTheHook) {
  rt::SetClockFn previous = rt::SetClockHook(&RecordingClock);
  const struct { ArgRecord arg; bool accept; int want; std::vector<std::string> calls; } cases[] = {
      {rt::DateTimeArg(43755.523252314815), true, 1, {"2019-10-17 12:33:29 w4"}},
      {rt::DateTimeArg(43755.523252314815), false, 0, {"2019-10-17 12:33:29 w4"}},
      {rt::DateTimeArg(std::nan("")), true, 1, {"9999-12-31 0:0:0 w5"}},
      {rt::IntArg(43755), true, 0, {}},  // never set from a non-date
  };
  for (const auto& c : cases) {
    clock_calls.clear(), clock_accepts = c.accept;
    const ArgRecord r = Call(rt::SetCurrentDateTime, {c.arg});
    EXPECT_TRUE(r.type == rt::kBool && rt::AsInt(r) == c.want) << c.calls.size();
    EXPECT_EQ(clock_calls, c.calls);
  }
  EXPECT_EQ(rt::SetClockHook(previous), &RecordingClock);
}

TEST(Clock, GetCurrentDateTimeIsLocalTimeInWholeSeconds) {
  auto local_now = [] {
    const std::time_t t = std::time(nullptr);
    const std::tm* tm = std::localtime(&t);
    double d = 0;
    const rt::CalendarFields f{tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec, 0};
    EXPECT_TRUE(rt::FieldsToDateTime(f, &d));
    return d;
  };
  const double before = local_now();
  const ArgRecord r = Call(rt::GetCurrentDateTime, {});
  const double after = local_now();
  ASSERT_EQ(r.type, rt::kDateTime);
  const double d = rt::AsDouble(r), seconds = (d - std::floor(d)) * 86400;
  EXPECT_TRUE(before <= d && d <= after) << before << " " << d << " " << after;
  EXPECT_NEAR(seconds, std::round(seconds), 1e-4);
}

#ifndef _WIN32  // gmtime_r
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
    if (++d > fuzz::MonthDays(y, m)) d = 1, m = m % 12 + 1, y += m == 1;
  }
}

TEST(Calendar, AgreesWithTheCLibraryAndRoundTripsTheEndsOfInt64) {
  const int64_t days[] = {-1000000000, -719468, -1, 0, 1, 2932896,  // 0000-03-01, 9999-12-31
                          1000000000, INT64_MIN, INT64_MIN + 1, INT64_MAX - 1, INT64_MAX};
  for (int64_t day : days) {
    SCOPED_TRACE(day);
    const rt::CivilDate c = rt::CivilFromDays(day);
    int64_t back = 0;
    EXPECT_TRUE(rt::TryDaysFromCivil(c.year, c.month, c.day, &back) && back == day);
    if (day < -1000000000 || day > 1000000000) continue;  // beyond gmtime's int year
    const time_t t = static_cast<time_t>(day * 86400);
    struct tm tm {};
    ASSERT_NE(gmtime_r(&t, &tm), nullptr);
    EXPECT_TRUE(c.year == tm.tm_year + 1900LL && c.month == tm.tm_mon + 1 && c.day == tm.tm_mday);
    EXPECT_EQ(rt::Weekday(day), tm.tm_wday);
  }
  const rt::CivilDate last = rt::CivilFromDays(INT64_MAX), first = rt::CivilFromDays(INT64_MIN);
  int64_t out = 0;
  EXPECT_FALSE(rt::TryDaysFromCivil(last.year + 1, 1, 1, &out));
  EXPECT_FALSE(rt::TryDaysFromCivil(first.year - 1, 12, 31, &out));
  EXPECT_FALSE(rt::TryDaysFromCivil(2023, 2, 29, &out));
}
#endif
