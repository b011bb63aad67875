// The precise program's decisions and texts, natively: the calendar against
// the C library's own, the guards and automatic mode over their edges, the
// command line as the elevated copy receives it, and the window's texts.
#include <gtest/gtest.h>

#include <iconv.h>
#include <time.h>

#include <cstdint>
#include <limits>
#include <random>
#include <set>

#include "precise/policy.h"
#include "runtime/core/gbk_text.h"

namespace {

using precise::Outcome;
using precise::SourceState;
using precise::SourceView;

TEST(PreciseCalendar, AgreesWithTheCLibraryOverFourCenturies) {
  std::mt19937_64 rng(20261207);
  // Years 1601 to 9999, both signs of the epoch, and the days around it.
  std::uniform_int_distribution<int64_t> any(-11644473600000LL, 253402300799999LL);
  std::vector<int64_t> cases = {0, -1, 1, 86399999, 86400000, -86400000, 951782400000 /* 2000-02-29 */};
  for (int i = 0; i < 20000; ++i) cases.push_back(any(rng));
  for (int64_t ms : cases) {
    SCOPED_TRACE(ms);
    int64_t seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    time_t t = static_cast<time_t>(seconds);
    struct tm tm {};
    ASSERT_NE(gmtime_r(&t, &tm), nullptr);
    precise::Fields f = precise::FieldsOf(ms);
    EXPECT_EQ(f.year, tm.tm_year + 1900);
    EXPECT_EQ(f.month, tm.tm_mon + 1);
    EXPECT_EQ(f.day, tm.tm_mday);
    EXPECT_EQ(f.hour, tm.tm_hour);
    EXPECT_EQ(f.minute, tm.tm_min);
    EXPECT_EQ(f.second, tm.tm_sec);
    EXPECT_EQ(f.millisecond, static_cast<int>(ms - seconds * 1000));
    EXPECT_EQ(f.day_of_week, tm.tm_wday);
    EXPECT_EQ(precise::UnixMsOf(f), ms);
  }
}

TEST(PreciseGuard, AsksAboveTwoMinutesAndRefusesAboveAYear) {
  const int64_t year = 365LL * 24 * 3600 * 1000;
  struct Case {
    int64_t ms;
    precise::Guard guard;
  } cases[] = {
      {0, precise::Guard::kApply},           {153, precise::Guard::kApply},
      {-120000, precise::Guard::kApply},     {120000, precise::Guard::kApply},
      {120001, precise::Guard::kAsk},        {-120001, precise::Guard::kAsk},
      {year, precise::Guard::kAsk},          {-year, precise::Guard::kAsk},
      {year + 1, precise::Guard::kRefuse},   {-year - 1, precise::Guard::kRefuse},
      {std::numeric_limits<int64_t>::min(), precise::Guard::kRefuse},
      {std::numeric_limits<int64_t>::max(), precise::Guard::kRefuse},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ms);
    EXPECT_EQ(precise::GuardFor(c.ms), c.guard);
  }
}

SourceView Source(SourceState state, double offset_ms = 0) {
  SourceView s;
  s.url = "http://127.0.0.1/";
  s.state = state;
  s.offset_ms = offset_ms;
  return s;
}

TEST(PreciseAutomaticMode, SetsOnlyFromAgreeingSourcesAboveTheThreshold) {
  const auto A = SourceState::kAnswered, F = SourceState::kFailed, X = SourceState::kFalseTicker,
             R = SourceState::kRefused;
  struct Case {
    const char* what;
    bool has_offset;
    double offset_ms;
    std::vector<SourceState> states;
    bool agreed, may_set;
  } cases[] = {
      {"three agree, 150 ms off", true, 150, {A, A, A}, true, true},
      {"two of three agree", true, 150, {A, A, X}, true, true},
      {"two agree, one failed", true, -150, {A, A, F}, true, true},
      {"within the threshold", true, 100, {A, A, A}, true, false},
      {"just above it, behind", true, -100.5, {A, A}, true, true},
      {"one answered of three", true, 500, {A, F, F}, false, false},
      {"one disagrees with one", true, 500, {A, X}, false, false},
      {"two against two", true, 500, {A, A, X, X}, false, false},
      {"the only source", true, 500, {A}, true, true},
      {"no offset found", false, 0, {X, X}, false, false},
      {"refused sources only", false, 0, {R, R}, false, false},
      {"would need a question", true, 200000, {A, A, A}, true, false},
  };
  precise::AutoPeriods periods;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome o;
    o.has_offset = c.has_offset;
    o.offset_ms = c.offset_ms;
    for (SourceState s : c.states) o.sources.push_back(Source(s, c.offset_ms));
    EXPECT_EQ(precise::Agreed(o), c.agreed);
    EXPECT_EQ(precise::AutoMaySet(o, periods), c.may_set);
  }
}

TEST(PreciseAutomaticMode, RetriesWithDoublingBackOffUpToThePeriod) {
  precise::AutoPeriods p;  // 15 minutes, first retry after 30 s
  const int64_t expected[] = {900000, 30000, 60000, 120000, 240000, 480000, 900000, 900000};
  for (int failures = 0; failures < 8; ++failures) {
    SCOPED_TRACE(failures);
    EXPECT_EQ(precise::NextAutoDelayMs(p, failures), expected[failures]);
  }
  EXPECT_EQ(precise::NextAutoDelayMs(p, 1000), p.period_ms);
}

TEST(PreciseCommandLine, ReadsSourcesAndTheElevatedCopysOffset) {
  struct Case {
    const char* line;
    std::vector<std::string> urls;
    bool has_offset;
    int64_t offset;
    std::vector<std::string> unknown;
  } cases[] = {
      {"timecal-precise.exe", {}, false, 0, {}},
      {"\"C:\\Program Files\\t p.exe\" http://a/x https://b/", {"http://a/x", "https://b/"}, false, 0, {}},
      {"t.exe   \"http://a/\"\thttps://c", {"http://a/", "https://c"}, false, 0, {}},
      {"t.exe --apply-offset=-153", {}, true, -153, {}},
      {"t.exe --apply-offset=+31536000000", {}, true, 31536000000LL, {}},
      {"t.exe --apply-offset=1.5 ftp://x /y", {}, false, 0, {"--apply-offset=1.5", "ftp://x", "/y"}},
      {"t.exe --apply-offset=", {}, false, 0, {"--apply-offset="}},
      {"t.exe --apply-offset=99999999999999999999", {}, false, 0, {"--apply-offset=99999999999999999999"}},
      // Nineteen digits, past int64_t: refused, not wrapped.
      {"t.exe --apply-offset=9223372036854775808", {}, false, 0, {"--apply-offset=9223372036854775808"}},
      {"t.exe --apply-offset=9223372036854775807", {}, true, 9223372036854775807LL, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    precise::CommandLine cl = precise::ReadCommandLine(c.line);
    EXPECT_EQ(cl.urls, c.urls);
    ASSERT_EQ(cl.apply_offset_ms.has_value(), c.has_offset);
    if (c.has_offset) {
      EXPECT_EQ(*cl.apply_offset_ms, c.offset);
    }
    EXPECT_EQ(cl.unknown, c.unknown);
  }
  EXPECT_EQ(precise::UrlsIn("http://a/ x https://b/"), (std::vector<std::string>{"http://a/", "https://b/"}));
  for (int64_t ms : std::vector<int64_t>{0, -1, 120001, -31536000000LL}) {
    SCOPED_TRACE(ms);
    auto back = precise::ReadCommandLine("t.exe " + precise::ApplyOffsetArgument(ms)).apply_offset_ms;
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, ms);
  }
}

TEST(PreciseTexts, ShowOffsetsBoundsAndClocksAsTheWindowDoes) {
  struct Case {
    std::string got, want;
  } cases[] = {
      {precise::OffsetText(153.2, 12.4), "+0.153 " GBK_SECOND " " GBK_PLUS_MINUS "0.012"},
      {precise::OffsetText(-1500, 3), "-1.500 " GBK_SECOND " " GBK_PLUS_MINUS "0.003"},
      {precise::OffsetText(-0.4, 0.4), "+0.000 " GBK_SECOND " " GBK_PLUS_MINUS "0.000"},  // never "-0.000"
      {precise::OffsetText(3600371, 9.6), "+3600.371 " GBK_SECOND " " GBK_PLUS_MINUS "0.010"},
      {precise::SecondsText(21.4), "0.021 " GBK_SECOND},
      {precise::SignedSeconds(-200153), "-200.153"},
      // 2026-12-07 04:33:29.49 UTC, shown as given: the tenth truncated.
      {precise::ClockText(1796618009490LL), "2026" GBK_YEAR "12" GBK_MONTH "7" GBK_DAY "4" GBK_HOUR "33" GBK_MINUTE "29.4" GBK_SECOND},
      {precise::CalibrationText(1796618009490LL, 153), "4" GBK_HOUR "33" GBK_MINUTE "29" GBK_SECOND " " GBK_PRECISE_ADJUST " +0.153 " GBK_SECOND},
      {precise::AskText(1796618009490LL, 1796618209643LL, 200153),
       GBK_PRECISE_PC_TIME_FROM " 2026" GBK_YEAR "12" GBK_MONTH "7" GBK_DAY "4" GBK_HOUR "33" GBK_MINUTE "29" GBK_SECOND "\r\n" GBK_PRECISE_CHANGE_TO " 2026" GBK_YEAR "12" GBK_MONTH "7" GBK_DAY "4" GBK_HOUR "36" GBK_MINUTE "49" GBK_SECOND "\r\n" GBK_PRECISE_ADJUST " +200.153 " GBK_SECOND GBK_FULL_STOP "\r\n\r\n" GBK_PRECISE_CALIBRATE_QUESTION "?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(c.got, c.want);
  }
  Outcome o;
  SourceView a = Source(SourceState::kAnswered, 153);
  a.bound_ms = 12;
  a.rtt_ms = 21;
  SourceView x = Source(SourceState::kFalseTicker, 5000);
  SourceView f = Source(SourceState::kFailed);
  f.reason = measure::Reason::kCannotConnect;
  f.reason_number = 12029;
  SourceView r = Source(SourceState::kRefused);
  r.reason = measure::Reason::kBeforeBuildDate;
  o.sources = {a, x, f, r};
  EXPECT_EQ(precise::SourcesText(o),
            GBK_PRECISE_ANSWERED "  +0.153 " GBK_SECOND " " GBK_PLUS_MINUS "0.012  " GBK_PRECISE_ROUND_TRIP " 0.021 " GBK_SECOND "  http://127.0.0.1/\r\n"
            GBK_PRECISE_DISAGREES_WITH_OTHERS "," GBK_PRECISE_NOT_USED "  +5.000 " GBK_SECOND " " GBK_PLUS_MINUS "0.000  http://127.0.0.1/\r\n"
            GBK_PRECISE_FAILED ": " GBK_PRECISE_REASON_CANNOT_CONNECT " (12029)  http://127.0.0.1/\r\n"
            GBK_PRECISE_REFUSED ": " GBK_PRECISE_REASON_BEFORE_BUILD_DATE "  http://127.0.0.1/");
}

// Every reason code the engine may give has its own Chinese text, valid GBK
// by the C library's converter; the number follows where it helps.
TEST(PreciseTexts, NameEveryFailureReasonInChinese) {
  using measure::Reason;
  const int count = static_cast<int>(Reason::kCount);
  // The C library's converter; true when all of `in` converted.
  auto convert = [](const char* to_code, const char* from_code, std::string in, std::string* out) {
    iconv_t cd = iconv_open(to_code, from_code);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    char buf[256];
    char *from = &in[0], *to = buf;
    size_t left = in.size(), room = sizeof buf;
    bool ok = iconv(cd, &from, &left, &to, &room) != static_cast<size_t>(-1) && left == 0;
    iconv_close(cd);
    *out = std::string(buf, to);
    return ok;
  };
  std::set<std::string> seen;
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    std::string text = precise::ReasonText(static_cast<Reason>(i), 0), utf8;
    ASSERT_FALSE(text.empty());
    EXPECT_TRUE(seen.insert(text).second) << "two reasons read alike";
    bool wide = false;
    for (char c : text) wide = wide || static_cast<unsigned char>(c) >= 0x81;
    EXPECT_TRUE(wide) << "no Chinese in the text";
    EXPECT_TRUE(convert("UTF-8", "GBK", text, &utf8)) << "not GBK";
  }
  // Written in UTF-8 here and converted by the C library, independently of
  // the program's byte-escaped GBK texts.
  struct Case {
    Reason reason;
    uint32_t number;
    const char* utf8;
  } cases[] = {
      {Reason::kCannotConnect, 12029, u8"\u65e0\u6cd5\u8fde\u63a5 (12029)"},          // 无法连接
      {Reason::kTimedOut, 12002, u8"\u8fde\u63a5\u8d85\u65f6 (12002)"},               // 连接超时
      {Reason::kTimedOut, 0, u8"\u8fde\u63a5\u8d85\u65f6"},  // the source's own time ran out
      {Reason::kNetworkError, 12157, u8"\u7f51\u7edc\u9519\u8bef (12157)"},           // 网络错误
      {Reason::kHttpStatus, 404,
       u8"\u670d\u52a1\u5668\u8fd4\u56de\u9519\u8bef (HTTP 404)"},                   // 服务器返回错误
      {Reason::kUnreadableReply, 200, u8"\u56de\u590d\u65e0\u6cd5\u8bc6\u522b"},      // 回复无法识别
      {Reason::kBeforeBuildDate, 0,
       u8"\u65f6\u95f4\u65e9\u4e8e\u7a0b\u5e8f\u65e5\u671f"},                       // 时间早于程序日期
      {static_cast<Reason>(count), 5, u8"\u539f\u56e0\u4e0d\u660e"},  // 原因不明, from a newer engine
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    std::string gbk;
    ASSERT_TRUE(convert("GBK", "UTF-8", c.utf8, &gbk));
    EXPECT_EQ(precise::ReasonText(c.reason, c.number), gbk);
  }
}

}  // namespace
