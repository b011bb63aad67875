// Date text parser (ToDateTime on texts) against a reference from the rules; the command equals the
// parser; accepted moments round-trip.
#include <cmath>
#include <optional>

#include "runtime/core/gbk_text.h"
#include "tests/fuzz/fuzz_support.h"

using fuzz::Check, fuzz::Fields;

static int ReadDigits(const std::string& t, size_t& i, int most) {
  int v = 0;
  for (int k = 0; k < most && i < t.size() && t[i] >= '0' && t[i] <= '9'; ++k) v = v * 10 + (t[i++] - '0');
  return v;
}
static void SkipOne(const std::string& t, size_t& i, const std::string& ascii, const char* word) {
  if (i < t.size() && ascii.find(t[i]) != std::string::npos) ++i;
  else if (t.compare(i, 2, word) == 0) i += 2;
}

static std::optional<rt::CalendarFields> ReferenceParse(const std::string& text) {
  const std::string t = fuzz::ReferenceFold(text);
  if (t.empty()) return std::nullopt;
  size_t i = 0;
  rt::CalendarFields f{};
  f.year = ReadDigits(t, i, 4), SkipOne(t, i, "/-:.", GBK_YEAR);
  f.month = ReadDigits(t, i, 2), SkipOne(t, i, "/-:.", GBK_MONTH);
  f.day = ReadDigits(t, i, 2), SkipOne(t, i, "/-: .", GBK_DAY);
  f.hour = ReadDigits(t, i, 2), SkipOne(t, i, "/-:.", GBK_HOUR);
  f.minute = ReadDigits(t, i, 2), SkipOne(t, i, "/-:.", GBK_MINUTE);
  f.second = ReadDigits(t, i, 2);
  if (i < t.size() && t.compare(i, 2, GBK_SECOND) != 0) return std::nullopt;
  if (f.year < 100 || f.year > 9999 || f.month < 1 || f.month > 12 || f.day < 1 ||
      f.day > fuzz::MonthDays(f.year, f.month) || f.hour > 23 || f.minute > 59 || f.second > 59)
    return std::nullopt;
  return f;
}

// Days from 1899-12-30 by counting whole years and months: slow and plain.
static double ReferenceSerial(const rt::CalendarFields& f) {
  long days = 0;
  for (int y = 1899; y < f.year; ++y) days += fuzz::IsLeap(y) ? 366 : 365;
  for (int y = f.year; y < 1899; ++y) days -= fuzz::IsLeap(y) ? 366 : 365;
  for (int m = 1; m < f.month; ++m) days += fuzz::MonthDays(f.year, m);
  days += f.day - 1 - 363;  // 1899-12-30 is day 363 of 1899 counted from 0
  const double time = (f.hour * 3600 + f.minute * 60 + f.second) / 86400.0;
  return days < 0 ? days - time : days + time;
}

FUZZ_TARGET(4096) {
  const std::string input = fuzz::TextOf(in);
  fuzz::HeapText text(input);
  const double d = rt::ParseDateTime(text.c_str());
  Check(rt::AsDouble(fuzz::Run(rt::ToDateTime, {text.Arg()})) == d, "ToDateTime differs from the parser", input);
  const std::optional<rt::CalendarFields> want = ReferenceParse(input);
  if (!want) return Check(d == rt::kMinDateTime, "parsed a text the rules refuse", input, std::to_string(d));
  const double serial = ReferenceSerial(*want);
  Check(std::fabs(d - serial) < 0.5 / 86400, "parsed to another moment", input,
        Fields(*want) + " want " + std::to_string(serial) + " got " + std::to_string(d));
  // Times of 9999-12-31 and 0100-01-01 beyond the range clamp to that midnight.
  const rt::CalendarFields got = rt::BreakDateTime(d);
  if (serial >= rt::kMinDateTime && serial <= rt::kMaxDateTime)
    Check(Fields(got) == Fields(*want), "fields differ", input, Fields(*want) + " vs " + Fields(got));
  if (d > rt::kMinDateTime && d <= rt::kMaxDateTime) {
    const std::string back = rt::FormatDateTime(d);
    Check(rt::ParseDateTime(back.c_str()) == d, "date round trip", input, back);
  }
}
