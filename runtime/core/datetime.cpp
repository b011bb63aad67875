// Date-time model and commands: clamping, calendar fields, the date text,
// the date parser, full-width folding and the system clock.
//
// A DateTime is an OLE date: days since 1899-12-30 00:00. Below 0 the
// integer part still names the day and the fraction's magnitude is the time
// of day (-1.25 is 1899-12-29 06:00). Calendar work goes through a linear day
// number on the proleptic Gregorian calendar (runtime/core/calendar.h).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "runtime/core/calendar.h"
#include "runtime/core/command_args.h"
#include "runtime/core/commands.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/memory.h"

namespace rt {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
// Days from 1970-01-01 to 1899-12-30.
constexpr int64_t kOleEpochFromUnix = -25569;

bool FieldsValid(const CalendarFields& f) {
  return f.year >= 100 && f.year <= 9999 && f.month >= 1 && f.month <= 12 && f.day >= 1 &&
         f.day <= MonthLength(f.year, f.month) && f.hour >= 0 && f.hour <= 23 &&
         f.minute >= 0 && f.minute <= 59 && f.second >= 0 && f.second <= 59;
}

SetClockFn g_clock_hook = &PlatformSetLocalClock;

}  // namespace

double ClampDateTime(double d) {
  if (std::isnan(d) || d > kMaxDateTime) return kMaxDateTime;
  if (d < kMinDateTime) return kMinDateTime;
  return d;
}

CalendarFields BreakDateTime(double d) {
  d = ClampDateTime(d);
  const double whole = std::trunc(d);
  int64_t day = static_cast<int64_t>(whole);
  int64_t secs = static_cast<int64_t>(std::floor(std::fabs(d - whole) * kSecondsPerDay + 0.5));
  if (secs >= kSecondsPerDay) {  // rounded up to the next midnight
    secs -= kSecondsPerDay;
    day += 1;
  }
  const int64_t unix_day = day + kOleEpochFromUnix;
  CalendarFields f{};
  const CivilDate c = CivilFromDays(unix_day);  // the OLE range: years 100 to 9999
  f.year = static_cast<int>(c.year);
  f.month = c.month;
  f.day = c.day;
  f.hour = static_cast<int>(secs / 3600);
  f.minute = static_cast<int>(secs / 60 % 60);
  f.second = static_cast<int>(secs % 60);
  f.day_of_week = Weekday(unix_day);
  return f;
}

bool FieldsToDateTime(const CalendarFields& f, double* out) {
  if (!FieldsValid(f)) return false;
  const double day = static_cast<double>(DaysFromCivil(f.year, f.month, f.day) - kOleEpochFromUnix);
  const double time = static_cast<double>(f.hour * 3600 + f.minute * 60 + f.second) / kSecondsPerDay;
  // Before day 0 the time of day is carried as the fraction's magnitude.
  *out = day >= 0 ? day + time : day - time;
  return true;
}

size_t WriteDateTime(double d, char (&out)[kDateTextSize]) {
  const CalendarFields f = BreakDateTime(d);
  // Every field is clamped, so the text always fits.
  int n = std::snprintf(out, sizeof out, "%d" GBK_YEAR "%d" GBK_MONTH "%d" GBK_DAY, f.year, f.month, f.day);
  const size_t room = sizeof out - static_cast<size_t>(n);
  if (f.second != 0)
    n += std::snprintf(out + n, room, "%d" GBK_HOUR "%d" GBK_MINUTE "%d" GBK_SECOND, f.hour, f.minute, f.second);
  else if (f.minute != 0)
    n += std::snprintf(out + n, room, "%d" GBK_HOUR "%d" GBK_MINUTE, f.hour, f.minute);
  else if (f.hour != 0)
    n += std::snprintf(out + n, room, "%d" GBK_HOUR, f.hour);
  return static_cast<size_t>(n);
}

std::string FormatDateTime(double d) {
  char text[kDateTextSize];
  return std::string(text, WriteDateTime(d, text));
}

FoldedChar FoldAt(const unsigned char* t, size_t i) {
  const unsigned char a = t[i];
  if (args::CharLen(t, i) == 1) return {static_cast<char>(a), 1};  // ASCII, or a lone lead byte at the end
  const unsigned char b = t[i + 1];
  char folded = 0;
  if (a == 0xA3 && b >= 0xA1 && b <= 0xFE) folded = static_cast<char>(b - 0x80);
  else if (a == 0xA1 && b == 0xA1) folded = ' ';
  else if (a == 0xA1 && b == 0xAB) folded = '~';
  else if (a == 0xA1 && (b == 0xEE || b == 0xEF)) folded = '*';
  return {folded, 2};
}

std::string FoldFullWidth(const char* text, bool drop_blanks) {
  std::string out;
  if (!text) return out;
  const auto* t = reinterpret_cast<const unsigned char*>(text);
  for (size_t i = 0; t[i];) {
    const FoldedChar c = FoldAt(t, i);
    if (!c.folded) out.append(text + i, c.length);
    else if (!(drop_blanks && c.folded == ' ')) out.push_back(c.folded);
    i += c.length;
  }
  return out;
}

namespace {

// Reads up to max_digits ASCII digits; none reads 0.
int ReadField(const char*& p, int max_digits) {
  int v = 0;
  for (int k = 0; k < max_digits && *p >= '0' && *p <= '9'; ++k, ++p) v = v * 10 + (*p - '0');
  return v;
}

// Skips one separator: one of the ASCII characters in `ascii`, or the
// two-byte character `word`. A missing separator is simply not skipped.
void SkipSeparator(const char*& p, const char* ascii, const char* word) {
  if (*p && std::strchr(ascii, *p)) {
    ++p;
  } else if (p[0] == word[0] && p[1] == word[1]) {  // word[0] is nonzero, so p[1] exists
    p += 2;
  }
}

}  // namespace

double ParseDateTime(const char* text) {
  // The parser reads at most 26 folded bytes (six fields, five separators,
  // then the end or "秒"), so folding a prefix into a fixed buffer is enough;
  // a pair is folded whole or not at all.
  char folded[40];
  size_t n = 0;
  if (text) {
    const auto* t = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; t[i] && n + 2 < sizeof folded;) {
      const FoldedChar c = FoldAt(t, i);
      if (c.folded) folded[n++] = c.folded;
      else std::memcpy(folded + n, text + i, c.length), n += c.length;
      i += c.length;
    }
  }
  folded[n] = '\0';
  if (n == 0) return kMinDateTime;
  const char* p = folded;
  CalendarFields f{};
  f.year = ReadField(p, 4);
  SkipSeparator(p, "/-:.", GBK_YEAR);
  f.month = ReadField(p, 2);
  SkipSeparator(p, "/-:.", GBK_MONTH);
  f.day = ReadField(p, 2);
  SkipSeparator(p, "/-: .", GBK_DAY);
  f.hour = ReadField(p, 2);
  SkipSeparator(p, "/-:.", GBK_HOUR);
  f.minute = ReadField(p, 2);
  SkipSeparator(p, "/-:.", GBK_MINUTE);
  f.second = ReadField(p, 2);
  static const char kSecondWord[] = GBK_SECOND;
  if (*p != '\0' && !(p[0] == kSecondWord[0] && p[1] == kSecondWord[1])) return kMinDateTime;
  double d;
  return FieldsToDateTime(f, &d) ? d : kMinDateTime;
}

SetClockFn SetClockHook(SetClockFn fn) {
  SetClockFn previous = g_clock_hook;
  g_clock_hook = fn ? fn : &PlatformSetLocalClock;
  return previous;
}

void GetCurrentDateTime(ArgRecord* result, int, ArgRecord*) {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = now == static_cast<std::time_t>(-1) ? nullptr : std::localtime(&now);
  double d = kMinDateTime;
  if (local) {
    CalendarFields f{};
    f.year = local->tm_year + 1900;
    f.month = local->tm_mon + 1;
    f.day = local->tm_mday;
    f.hour = local->tm_hour;
    f.minute = local->tm_min;
    // A leap second (tm_sec 60) is shown as the last second of its minute.
    f.second = local->tm_sec > 59 ? 59 : local->tm_sec;
    if (!FieldsToDateTime(f, &d)) d = kMinDateTime;
  }
  *result = DateTimeArg(d);
}

void DateTimeToText(ArgRecord* result, int count, ArgRecord* args) {
  const ArgRecord& a = args::At(count, args, 0);
  const double d = a.type == kDateTime ? AsDouble(a) : 0.0;
  char text[kDateTextSize];
  *result = TextArg(NewText(text, WriteDateTime(d, text)));
}

void ToDateTime(ArgRecord* result, int count, ArgRecord* args) {
  const ArgRecord& a = args::At(count, args, 0);
  double d = kMinDateTime;
  if (a.type == kDateTime) d = AsDouble(a);
  else if (a.type == kText) d = ParseDateTime(AsText(a));
  *result = DateTimeArg(d);
}

void SetCurrentDateTime(ArgRecord* result, int count, ArgRecord* args) {
  const ArgRecord& a = args::At(count, args, 0);
  // An argument that is no DateTime would read as day 0 (1899-12-30); the
  // clock is never set from a value the caller did not mean as a date.
  bool ok = false;
  if (a.type == kDateTime) {
    const CalendarFields f = BreakDateTime(AsDouble(a));
    ok = g_clock_hook(f);
  }
  *result = BoolArg(ok);
}

}  // namespace rt
