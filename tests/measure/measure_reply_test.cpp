// Reading the server's second from a reply: the JSON member, Beijing time,
// the three HTTP date forms. The C library (strftime/timegm) is the
// independent reading of dates.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>

#include "measure/measure.h"

namespace {

std::string Format(const char* format, int64_t utc) {
  // One thread: the static result is ours. Windows' C library needs its
  // 64-bit form for dates after 2038.
#ifdef _WIN32
  __time64_t t = utc;
  std::tm tm = *_gmtime64(&t);
#else
  time_t t = static_cast<time_t>(utc);
  std::tm tm = *std::gmtime(&t);
#endif
  char buf[64];
  strftime(buf, sizeof buf, format, &tm);
  return buf;
}

TEST(ReplyTime, DatesAgreeWithTheCLibraryAcrossCenturies) {
  std::mt19937_64 rng(2026);
  // 1970 .. 2099 (two-digit years of the RFC 850 form stop there).
  std::uniform_int_distribution<int64_t> when(0, 4102444799);
  for (int i = 0; i < 20000; ++i) {
    int64_t utc = i < 4 ? int64_t{951782400} + (i - 1) * 86399 : when(rng);  // around 2000-02-29
    SCOPED_TRACE(utc);
    int64_t got = -1;
    ASSERT_TRUE(measure::TryParseHttpDate(Format("%a, %d %b %Y %H:%M:%S GMT", utc), &got));
    EXPECT_EQ(got, utc);
    if (utc < 3155760000) {  // two-digit years: 1970 to 2069
      ASSERT_TRUE(measure::TryParseHttpDate(Format("%A, %d-%b-%y %H:%M:%S GMT", utc), &got));
      EXPECT_EQ(got, utc);
    }
    // asctime pads the day with a space (%e, which not every C library has).
    char day[4];
    std::snprintf(day, sizeof day, "%2d", std::atoi(Format("%d", utc).c_str()));
    std::string asctime = Format("%a %b ", utc) + day + Format(" %H:%M:%S %Y", utc);
    ASSERT_TRUE(measure::TryParseHttpDate(asctime, &got)) << asctime;
    EXPECT_EQ(got, utc);
    ASSERT_TRUE(measure::TryParseBeijingTime(Format("%Y-%m-%d %H:%M:%S", utc + 8 * 3600), &got));
    EXPECT_EQ(got, utc);
  }
}

TEST(ReplyTime, RejectsMalformedDates) {
  const char* const bad_http[] = {
      "", "Sun, 06 Nov 1994 08:49:37 UTC", "Sun, 31 Nov 1994 08:49:37 GMT",
      "Sun, 06 Nov 1994 24:00:00 GMT", "Sun, 06 Xyz 1994 08:49:37 GMT", "Sun, 6 Nov 1994 08:49:37 GMT",
      "Sun, 06 Nov 1994 08:49:37 GMTX", "Sun, 29 Feb 1900 08:49:37 GMT", "1994-11-06T08:49:37Z",
      "Sun Nov  6X08:49:37 1994",
  };
  const char* const bad_beijing[] = {
      "", "2026-12-07 12:00", "2026-12-07T12:00:00", "2026-13-07 12:00:00",
      "2026-02-29 12:00:00", "2026-12-07 12:60:00", "2026-12-07 12:00:0x", " 2026-12-07 12:00:00",
  };
  int64_t got;
  for (const char* t : bad_http) EXPECT_FALSE(measure::TryParseHttpDate(t, &got)) << t;
  for (const char* t : bad_beijing) EXPECT_FALSE(measure::TryParseBeijingTime(t, &got)) << t;
}

TEST(ReplyTime, ReadsSysTime2FromStrictJsonOnly) {
  struct Case {
    const char* body;
    bool found;
    const char* value;
  };
  const Case cases[] = {
      {R"({"sysTime2":"2026-12-07 12:00:00","sysTime1":"20261207120000"})", true, "2026-12-07 12:00:00"},
      {" \r\n{ \"a\" : [1, -2.5e3, {\"sysTime2\": \"inner\"}], \"sysTime2\" : \"x\\u0031\" } ", true, "x1"},
      {R"({"sysTime2":"first","sysTime2":"last"})", true, "last"},
      {R"({"sysTime2":"\ud83d\ude00"})", true, "\xF0\x9F\x98\x80"},  // a surrogate pair
      {R"({"sysTime2":"\ud83d\u0041"})", false, ""},
      {R"({"sysTime2":"a\"b\\c\/d\n"})", true, "a\"b\\c/d\n"},  // short escapes
      {R"({"sysTime2":"\q"})", false, ""},
      {R"({"sysTime2":"unterminated)", false, ""},
      {R"({"sysTime2":"first","sysTime2":null})", false, ""},
      {R"({"sysTime2":20261207120000})", false, ""},
      {R"({"sysTime1":"20261207120000"})", false, ""},
      {R"({"sysTime2":"2026-12-07 12:00:00"} trailing)", false, ""},
      {R"({"sysTime2":"2026-12-07 12:00:00",})", false, ""},
      {R"(["sysTime2","2026-12-07 12:00:00"])", false, ""},
      {R"({'sysTime2':'2026-12-07 12:00:00'})", false, ""},
      {R"({"a":01,"sysTime2":"x"})", false, ""},
      {"({sysTime2:'2001-01-01 01:01:01'})", false, ""},
      {"<html>busy</html>", false, ""},
      {"", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    std::string value;
    EXPECT_EQ(measure::TryReadSysTime2(c.body, &value), c.found);
    EXPECT_EQ(value, c.value);
  }
  // Deep nesting is refused, not recursed into without end.
  std::string deep = "{\"a\":" + std::string(100000, '[') + std::string(100000, ']') + "}", value;
  EXPECT_FALSE(measure::TryReadSysTime2(deep, &value));
}

TEST(ReplyTime, PrefersSysTime2ThenTheDateHeader) {
  struct Case {
    const char* body;
    const char* date;
    bool ok;
    int64_t utc;
    const char* failure;
  };
  const Case cases[] = {
      {R"({"sysTime2":"2026-12-07 20:00:02"})", "Mon, 07 Dec 2026 12:00:01 GMT", true, 1796644802, ""},
      {"<html/>", "Mon, 07 Dec 2026 12:00:01 GMT", true, 1796644801, ""},
      {R"({"sysTime2":"soon"})", "Mon, 07 Dec 2026 12:00:01 GMT", false, 0, "unreadable sysTime2"},
      {"<html/>", "", false, 0, "no sysTime2 and no Date header"},
      {"<html/>", "yesterday", false, 0, "unreadable Date header"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    int64_t utc = 0;
    std::string failure;
    EXPECT_EQ(measure::TryReadServerSecond(c.body, c.date, &utc, &failure), c.ok);
    if (c.ok) {
      EXPECT_EQ(utc, c.utc);
    } else {
      EXPECT_EQ(failure.find(c.failure), 0u) << failure;
    }
  }
}

TEST(ReplyTime, BuildDateAndNumberForms) {
  EXPECT_EQ(measure::BuildDateUtc("Dec  7 2026"), 1796601600.0 - 86400);
  EXPECT_EQ(measure::BuildDateUtc("Feb 29 2024"), 1709164800.0 - 86400);
  EXPECT_EQ(measure::BuildDateUtc("garbage"), 0);
  EXPECT_EQ(measure::FormatSeconds(0.0004, true), "+0.000");
  EXPECT_EQ(measure::FormatSeconds(-0.0004, true), "+0.000");
  EXPECT_EQ(measure::FormatSeconds(-1.2346, true), "-1.235");
  EXPECT_EQ(measure::FormatSeconds(3600.371, true), "+3600.371");
  EXPECT_EQ(measure::FormatSeconds(0.0125, false), "0.013");
}

}  // namespace

TEST(Url, SplitsHttpAndHttpsAndRefusesTheRest) {
  const struct {
    const char* text;
    bool secure;
    const char* host;
    int port;
    const char* path;
  } good[] = {
      {"http://h", false, "h", 80, "/"},
      {"https://h.example:8443/a/b?c=1#frag", true, "h.example", 8443, "/a/b?c=1"},
      {"http://h?x", false, "h", 80, "/?x"},
      {"http://[::1]:81/", false, "[::1]", 81, "/"},
      {"http://h:65535/", false, "h", 65535, "/"},
  };
  for (const auto& c : good) {
    SCOPED_TRACE(c.text);
    measure::Url u;
    ASSERT_TRUE(measure::TryParseUrl(c.text, &u));
    EXPECT_EQ(u.secure, c.secure);
    EXPECT_EQ(u.host, c.host);
    EXPECT_EQ(u.port, c.port);
    EXPECT_EQ(u.path, c.path);
  }
  const char* const bad[] = {
      "http://user@h/", "http://h:0/", "http://h:65536/", "http://h:/",   "http://:80/", "http://h:8a/",
      "ftp://h/",       "http://",     "http://h/a b",    "HTTP://h/",    "http://h\\x/",
  };
  measure::Url u;
  for (const char* t : bad) EXPECT_FALSE(measure::TryParseUrl(t, &u)) << t;
}
