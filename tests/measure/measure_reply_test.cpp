// Reading the server's second from a reply: which of the JSON member and the
// Date header counts, and what a failure says; the build date and the number
// forms. Each reader on its own (the date forms against the C library, the
// JSON against RapidJSON, the URL splitter) is fuzzed in tests/fuzz, whose
// committed corpora replay here in the native build.
#include <gtest/gtest.h>

#include "measure/measure.h"

namespace {

TEST(ReplyTime, PrefersSysTime2ThenTheDateHeader) {
  const std::string long_date = "Mon, 07 Dec 2026 12:00:01 GMT and then some more words";
  struct Case {
    std::string body, date;
    bool ok;
    int64_t utc;
    std::string failure;
  };
  const Case cases[] = {
      {R"({"sysTime2":"2026-12-07 20:00:02"})", "Mon, 07 Dec 2026 12:00:01 GMT", true, 1796644802, ""},
      {"<html/>", "Mon, 07 Dec 2026 12:00:01 GMT", true, 1796644801, ""},
      {R"({"sysTime2":"soon"})", "Mon, 07 Dec 2026 12:00:01 GMT", false, 0, "unreadable sysTime2 \"soon\""},
      {R"({"sysTime2":"\ud83d\u0041"})", "", false, 0, "no sysTime2 and no Date header"},  // half a pair
      {"<html/>", "", false, 0, "no sysTime2 and no Date header"},
      {"<html/>", long_date, false, 0, "unreadable Date header \"" + long_date.substr(0, 40) + "\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    int64_t utc = 0;
    std::string failure;
    EXPECT_EQ(measure::TryReadServerSecond(c.body, c.date, &utc, &failure), c.ok);
    EXPECT_EQ(failure, c.failure);
    if (c.ok) {
      EXPECT_EQ(utc, c.utc);
    }
  }
  // Deep nesting is refused, not recursed into without end.
  std::string deep = "{\"a\":" + std::string(100000, '[') + std::string(100000, ']') + "}", value;
  EXPECT_FALSE(measure::TryReadSysTime2(deep, &value));
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
