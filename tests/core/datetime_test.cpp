// Date-time commands: parsing, formatting, the date model and the clock seam;
// and natively the shared calendar (runtime/core/calendar.h) against
// independent readings: days counted one by one with the leap rule written
// out here, the C library's gmtime/timegm, and the ends of int64 (UBSan).
#include <time.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>

#include "runtime/core/calendar.h"
#include "runtime/core/commands.h"
#include "runtime/core/gbk_text.h"
#include "tests/core/command_table.h"

namespace {

using rt::ArgRecord;
using rt::kMinDateTime;

constexpr auto& Call = testsupport::CallCommand;
double ToDateTime(ArgRecord a) {
  ArgRecord r = Call(rt::ToDateTime, {a});
  EXPECT_EQ(r.type, rt::kDateTime);
  return rt::AsDouble(r);
}

// Texts against a reference reading of the rules: the date_text fuzz driver,
// whose corpus holds the usual shapes (ASCII, GBK units, full-width, leap
// days, the ends of the range). Here the shapes it lacks.
TEST(DateParsing, RefusesNearMissesAndReadsOnlyTexts) {
  const struct { const char* text; double want; } cases[] = {
      {"2019-10-17T12:33:29", kMinDateTime},
      {"2019-10-17  12:00", kMinDateTime},  // one separator only
      {"2019-10-17 24:00", kMinDateTime},
      {"\xC4", kMinDateTime},  // lone lead byte
      {"1899-12-29 06:00", -1.25},
      {"2019-10-17 12:33:29\xC3x", kMinDateTime},  // the lead byte of the second unit only
      {"2019-00-17", kMinDateTime},
      {"2019-10-00", kMinDateTime},
      {"2019-12-31", 43830.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_DOUBLE_EQ(rt::ParseDateTime(c.text), c.want);
    EXPECT_DOUBLE_EQ(ToDateTime(rt::TextArg(c.text)), c.want);
  }
  EXPECT_DOUBLE_EQ(ToDateTime(rt::IntArg(43755)), kMinDateTime);
  EXPECT_DOUBLE_EQ(ToDateTime(rt::DateTimeArg(1e10)), 1e10);  // returned unchanged
  EXPECT_DOUBLE_EQ(rt::ParseDateTime(nullptr), kMinDateTime);
  // Fields outside the calendar do not convert: month or day 0, month 13, 31 November.
  double d = 0;
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
  EXPECT_EQ(rt::BreakDateTime(43755.0).day_of_week, 4);    // a Thursday
  EXPECT_EQ(rt::BreakDateTime(-657434.0).day_of_week, 5);  // a Friday
  EXPECT_DOUBLE_EQ(rt::ClampDateTime(-INFINITY), kMinDateTime);
}

TEST(DateFormatting, TextRoundTripsForWholeSecondsAcrossTheRange) {
  std::mt19937_64 rng(43755);
  std::uniform_int_distribution<int64_t> days(-657434, 2958465);
  std::uniform_int_distribution<int> seconds(0, 86399);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int i = 0; i < 200000 && std::chrono::steady_clock::now() < deadline; ++i) {
    const int64_t day = days(rng);
    const int s = day == 2958465 ? 0 : seconds(rng);
    const double d = day >= 0 ? day + s / 86400.0 : day - s / 86400.0;
    ASSERT_EQ(rt::ParseDateTime(rt::FormatDateTime(d).c_str()), d) << rt::FormatDateTime(d);
  }
}

std::vector<std::string> clock_calls;
bool clock_accepts = true;
bool RecordingClock(const rt::CalendarFields& f) {
  char b[64];
  std::snprintf(b, sizeof b, "%d-%d-%d %d:%d:%d w%d", f.year, f.month, f.day, f.hour, f.minute, f.second,
                f.day_of_week);
  return clock_calls.push_back(b), clock_accepts;
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
    clock_calls.clear();
    clock_accepts = c.accept;
    ArgRecord r = Call(rt::SetCurrentDateTime, {c.arg});
    EXPECT_EQ(r.type, rt::kBool);
    EXPECT_EQ(rt::AsInt(r), c.want) << c.calls.size();
    EXPECT_EQ(clock_calls, c.calls);
  }
  EXPECT_EQ(rt::SetClockHook(previous), &RecordingClock);
}

TEST(Clock, GetCurrentDateTimeIsLocalTimeInWholeSeconds) {
  auto local_now = [] {
    const std::time_t t = std::time(nullptr);
    const std::tm* tm = std::localtime(&t);
    double d = 0;
    EXPECT_TRUE(rt::FieldsToDateTime(
        {tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec, 0}, &d));
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

#ifndef _WIN32  // gmtime_r and timegm
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
#endif

}  // namespace
