// The precise program's decisions and texts, natively: the calendar against
// the C library's own, the guards and automatic mode over their edges, the
// automatic schedule over a simulated day, the command line as the elevated
// copy receives it, and the window's texts.
#include <gtest/gtest.h>

#include <iconv.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
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
  const int64_t year = 365LL * 24 * 3600 * 1000, day = 24LL * 3600 * 1000;
  // The engine refuses sources beyond the same year the guard refuses.
  EXPECT_EQ(measure::Options().max_distance * 1000.0, static_cast<double>(year));
  EXPECT_EQ(precise::kRefuseAboveMs, year);
  struct Case {
    int64_t ms;
    precise::Guard guard;
  } cases[] = {
      {0, precise::Guard::kApply},           {153, precise::Guard::kApply},
      {-120000, precise::Guard::kApply},     {120000, precise::Guard::kApply},
      {120001, precise::Guard::kAsk},        {-120001, precise::Guard::kAsk},
      {year, precise::Guard::kAsk},          {-year, precise::Guard::kAsk},
      {year + 1, precise::Guard::kRefuse},   {-year - 1, precise::Guard::kRefuse},
      {year + day, precise::Guard::kRefuse}, {-year - day, precise::Guard::kRefuse},
      {std::numeric_limits<int64_t>::min(), precise::Guard::kRefuse},
      {std::numeric_limits<int64_t>::max(), precise::Guard::kRefuse},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ms);
    EXPECT_EQ(precise::GuardFor(c.ms), c.guard);
  }
}

// The C library's converter; true when all of `in` converted.
bool Convert(const char* to_code, const char* from_code, std::string in, std::string* out) {
  iconv_t cd = iconv_open(to_code, from_code);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  char buf[256];
  char *from = &in[0], *to = buf;
  size_t left = in.size(), room = sizeof buf;
  bool ok = iconv(cd, &from, &left, &to, &room) != static_cast<size_t>(-1) && left == 0;
  iconv_close(cd);
  *out = std::string(buf, to);
  return ok;
}

SourceView Source(SourceState state, double offset_ms = 0) {
  SourceView s;
  s.url = "http://127.0.0.1/";
  s.state = state;
  s.offset_ms = offset_ms;
  return s;
}

TEST(AutoMode, SetsOnlyWhenCertainAgreedAboveTheThresholdAndWithoutAQuestion) {
  using D = precise::AutoDecision;
  const auto A = SourceState::kAnswered, F = SourceState::kFailed, X = SourceState::kFalseTicker,
             R = SourceState::kRefused;
  const double year_ms = 365.0 * 86400 * 1000;
  struct Case {
    const char* what;
    bool has_offset, disagree;
    double offset_ms, bound_ms;
    std::vector<SourceState> states;
    size_t configured;  // 0: as many as listed
    bool agreed;
    D want;
  } cases[] = {
      {"three agree, 150 ms off", true, false, 150, 5, {A, A, A}, 0, true, D::kSet},
      {"two of three agree", true, false, 150, 5, {A, A, X}, 0, true, D::kSet},
      {"two agree, one failed, behind", true, false, -150, 5, {A, A, F}, 0, true, D::kSet},
      {"the only source configured", true, false, 500, 5, {A}, 0, true, D::kSet},
      {"+279.5 ms within its 400 ms bound", true, false, 279.5, 400, {A, A, A}, 0, true, D::kUncertain},
      {"150 ms, bound 140: exactly the margin", true, false, 150, 140, {A, A}, 0, true, D::kUncertain},
      {"-150 ms, bound 139: 11 ms beyond", true, false, -150, 139, {A, A}, 0, true, D::kSet},
      {"50 ms but a wide bound", true, false, 50, 400, {A, A}, 0, true, D::kUncertain},
      {"95 ms, bound 100", true, false, -95, 100, {A, A}, 0, true, D::kUncertain},
      {"3 ms, bound 2", true, false, 3, 2, {A, A}, 0, true, D::kWithinThreshold},
      {"95 ms, bound 5: all within 100", true, false, 95, 5, {A, A}, 0, true, D::kWithinThreshold},
      {"80 ms, bound 30: certain but small", true, false, -80, 30, {A, A}, 0, true, D::kWithinThreshold},
      {"exactly the threshold", true, false, 100, 0, {A, A, A}, 0, true, D::kWithinThreshold},
      {"just above it, behind", true, false, -100.5, 0, {A, A}, 0, true, D::kSet},
      {"one answered of three", true, false, 500, 5, {A, F, F}, 0, false, D::kTooFewAgree},
      {"one listed of three configured", true, false, 500, 5, {A}, 3, false, D::kTooFewAgree},
      {"one against one", true, false, 500, 5, {A, X}, 0, false, D::kTooFewAgree},
      {"two against two", true, false, 500, 5, {A, A, X, X}, 0, false, D::kTooFewAgree},
      {"no majority", false, true, 0, 0, {X, X, X}, 0, false, D::kSourcesDisagree},
      {"no source answered", false, false, 0, 0, {F, R}, 0, false, D::kNoOffset},
      {"not a number", true, false, std::nan(""), 5, {A, A}, 0, true, D::kNoOffset},
      {"would need a question", true, false, 200000, 5, {A, A, A}, 0, true, D::kNeedsQuestion},
      {"beyond a year", true, false, -year_ms - 1000, 5, {A, A, A}, 0, true, D::kNeedsQuestion},
  };
  precise::AutoPeriods periods;  // 100 ms threshold
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome o;
    o.has_offset = c.has_offset;
    o.disagree = c.disagree;
    o.offset_ms = c.offset_ms;
    o.bound_ms = c.bound_ms;
    for (SourceState s : c.states) o.sources.push_back(Source(s, c.offset_ms));
    size_t configured = c.configured ? c.configured : c.states.size();
    EXPECT_EQ(precise::Agreed(o, configured), c.agreed);
    EXPECT_EQ(precise::DecideAuto(o, periods, configured), c.want);
    EXPECT_EQ(precise::AutoMaySet(o, periods, configured), c.want == D::kSet);
  }
}

// The status line's reason for each decision, checked against UTF-8 written
// here and converted by the C library.
TEST(AutoMode, SaysWhyItDidNotSet) {
  using D = precise::AutoDecision;
  precise::AutoPeriods periods;
  periods.threshold_ms = 250;
  std::set<std::string> seen;
  for (int i = 0; i < static_cast<int>(D::kCount); ++i) {
    SCOPED_TRACE(i);
    std::string text = precise::AutoText(static_cast<D>(i), periods), utf8;
    EXPECT_TRUE(seen.insert(text).second) << "two decisions read alike";
    EXPECT_TRUE(Convert("UTF-8", "GBK", text, &utf8)) << "not GBK";
  }
  struct Case {
    D decision;
    const char* utf8;
  } cases[] = {
      {D::kSourcesDisagree, u8"\u6765\u6e90\u4e92\u4e0d\u4e00\u81f4, \u672a\u81ea\u52a8\u6821\u51c6"},  // 来源互不一致, 未自动校准
      {D::kTooFewAgree, u8"\u76f8\u7b26\u7684\u65f6\u95f4\u6e90\u592a\u5c11, \u672a\u81ea\u52a8\u6821\u51c6"},  // 相符的时间源太少, 未自动校准
      {D::kUncertain, u8"\u504f\u5dee\u672a\u8d85\u51fa\u8bef\u5dee\u8303\u56f4, \u672a\u81ea\u52a8\u6821\u51c6"},  // 偏差未超出误差范围, 未自动校准
      {D::kWithinThreshold, u8"\u504f\u5dee\u5728 250 \u6beb\u79d2\u4ee5\u5185, \u65e0\u9700\u6821\u51c6"},  // 偏差在 250 毫秒以内, 无需校准
      {D::kNeedsQuestion, u8"\u504f\u5dee\u8fc7\u5927, \u81ea\u52a8\u6821\u51c6\u4e0d\u6539\u52a8, \u8bf7\u624b\u52a8\u6821\u51c6"},  // 偏差过大, 自动校准不改动, 请手动校准
      {D::kNoOffset, u8"\u6d4b\u91cf\u5931\u8d25"},  // 测量失败
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    std::string gbk;
    ASSERT_TRUE(Convert("GBK", "UTF-8", c.utf8, &gbk));
    EXPECT_EQ(precise::AutoText(c.decision, periods), gbk);
  }
}

TEST(AutoSchedule, RetriesDoubleFromThirtySecondsUpToThePeriod) {
  precise::AutoPeriods p;  // 15 minutes, first retry after 30 s
  const int64_t expected[] = {900000, 30000, 60000, 120000, 240000, 480000, 900000, 900000};
  for (int failures = 0; failures < 8; ++failures) {
    SCOPED_TRACE(failures);
    EXPECT_EQ(precise::NextAutoDelayMs(p, failures), expected[failures]);
  }
  EXPECT_EQ(precise::NextAutoDelayMs(p, 1000), p.period_ms);
}

TEST(AutoSchedule, MeasuresAtOnceWhenTurnedOnAndAResultStaysFreshForAMinute) {
  precise::AutoSchedule s;
  EXPECT_FALSE(s.Fresh(0)) << "nothing measured yet";
  EXPECT_FALSE(s.TakeDue(0)) << "off";
  s.TurnOn(5000);
  EXPECT_TRUE(s.TakeDue(5000));
  EXPECT_FALSE(s.TakeDue(5100)) << "one pending at a time";
  EXPECT_TRUE(s.Finished(11000, true));
  EXPECT_EQ(s.next_due_ms(), 5000 + 15 * 60000) << "a period after its start";
  EXPECT_TRUE(s.Fresh(11000 + 59999));
  EXPECT_FALSE(s.Fresh(11000 + 60000));
  EXPECT_FALSE(s.Finished(20000, false)) << "a pressed measurement serves no automatic run";
  EXPECT_EQ(s.next_due_ms(), 5000 + 15 * 60000);
  EXPECT_TRUE(s.Fresh(20000 + 59999)) << "but its result is the newest";
  EXPECT_FALSE(s.TakeDue(5000 + 15 * 60000 - 1));
  EXPECT_TRUE(s.TakeDue(5000 + 15 * 60000));
  s.TurnOff();
  EXPECT_FALSE(s.Finished(5000 + 15 * 60000 + 6000, true)) << "turned off while pending";
  EXPECT_FALSE(s.TakeDue(3600000));
}

// A day of the window on virtual time, in its display timer's 100 ms ticks:
// 测量 pressed every 10 minutes, 校准 every 7 minutes, automatic mode on from
// the start but off from 12:00 to 12:30, the sources down from 03:00 to 03:40
// and from 17:00 to 17:05; a measurement takes 6 to 12 s. The schedule
// decides; the test keeps its own record of when each result was measured.
TEST(AutoSchedule, KeepsItsRhythmThroughADayOfPressesSetsAndFailures) {
  const int64_t kMin = 60000, kSecond = 1000;
  auto sources_down = [&](int64_t t) {
    return (t >= 180 * kMin && t < 220 * kMin) || (t >= 1020 * kMin && t < 1025 * kMin);
  };
  enum class After { kShow, kCalibrate, kAuto };
  struct Running {
    bool on;
    int64_t end;
    After after;
  } run{false, 0, After::kShow};
  struct AutoRun {
    int64_t start;
    bool after_turn_on;
    int agreed;  // -1 while unknown
  };
  precise::AutoSchedule schedule;  // 15 minutes, first retry after 30 s
  std::vector<AutoRun> autos;
  int64_t measured_at = 0;
  bool have_offset = false, turned_on = false;
  int measurements = 0, rides = 0, fresh_sets = 0, auto_sets = 0, measured_first = 0;
  // As the window: a request while measuring rides on the running one.
  auto start = [&](int64_t t, After after) {
    if (run.on) {
      if (after == After::kCalibrate || run.after == After::kShow) run.after = after;
      return false;
    }
    run = {true, t + 6 * kSecond + (measurements++ % 7) * kSecond, after};
    return true;
  };
  auto set = [&](int64_t t) {
    ASSERT_TRUE(have_offset) << t;
    EXPECT_LT(t - measured_at, 60 * kSecond) << "set at " << t << " from an old result";
  };
  for (int64_t t = 0; t < 24 * 60 * kMin; t += 100) {
    if (run.on && t >= run.end) {
      run.on = false;
      measured_at = t;
      have_offset = !sources_down(t);
      if (schedule.Finished(t, have_offset)) autos.back().agreed = have_offset;
      if (have_offset && run.after == After::kAuto) ++auto_sets, set(t);
      if (have_offset && run.after == After::kCalibrate) set(t);
    }
    if (t == 0 || t == 750 * kMin) schedule.TurnOn(t), turned_on = true;
    if (t == 720 * kMin) {
      schedule.TurnOff();
      if (run.after == After::kAuto) run.after = After::kShow;
    }
    if (t % (10 * kMin) == 0) start(t, After::kShow);
    if (t % (7 * kMin) == 20 * kSecond) {
      if (have_offset && schedule.Fresh(t) && !run.on) ++fresh_sets, set(t);
      else ++measured_first, start(t, After::kCalibrate);
    }
    if (schedule.TakeDue(t)) {
      autos.push_back({t, turned_on, -1});
      turned_on = false;
      rides += !start(t, After::kAuto);
    }
  }
  // Every gap between automatic starts, independent of the presses: the
  // period after a success, after the n-th failure in a row 30 s doubled
  // n - 1 times, at most the period.
  const int64_t kRetryGaps[] = {30 * kSecond, 60 * kSecond, 120 * kSecond, 240 * kSecond, 480 * kSecond, 15 * kMin};
  std::set<int64_t> gaps_seen;
  int failures = 0;
  ASSERT_FALSE(autos.empty());
  EXPECT_EQ(autos.front().start, 0);
  for (size_t i = 0; i + 1 < autos.size(); ++i) {
    SCOPED_TRACE("automatic run at " + std::to_string(autos[i].start));
    if (autos[i].after_turn_on) failures = 0;
    if (autos[i + 1].after_turn_on) {
      EXPECT_EQ(autos[i + 1].start, 750 * kMin) << "turning on measures at once";
      continue;
    }
    ASSERT_NE(autos[i].agreed, -1);
    failures = autos[i].agreed ? 0 : failures + 1;
    int64_t want = failures == 0 ? 15 * kMin : kRetryGaps[std::min(failures, 6) - 1];
    EXPECT_EQ(autos[i + 1].start - autos[i].start, want);
    gaps_seen.insert(autos[i + 1].start - autos[i].start);
  }
  EXPECT_EQ(gaps_seen, std::set<int64_t>(std::begin(kRetryGaps), std::end(kRetryGaps)));
  // The day had each kind of event the rhythm must survive.
  EXPECT_GT(rides, 0) << "an automatic run served by a pressed measurement";
  EXPECT_GT(fresh_sets, 0);
  EXPECT_GT(measured_first, 0);
  EXPECT_GT(auto_sets, 0);
  std::printf("%zu automatic runs, %d measurements, %d served by a press, %d sets from a fresh result, "
              "%d calibration presses measured first\n",
              autos.size(), measurements, rides, fresh_sets, measured_first);
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
  // A URL with a line break, a backslash and DEL breaks no line of the box.
  a.url = "http://a/\r\n\\b\x7f";
  EXPECT_EQ(precise::SourceLine(a), GBK_PRECISE_ANSWERED "  +0.153 " GBK_SECOND " " GBK_PLUS_MINUS "0.012  " GBK_PRECISE_ROUND_TRIP " 0.021 " GBK_SECOND "  http://a/\\x0D\\x0A\\x5Cb\\x7F");
}

TEST(PreciseTexts, SayWhyAMeasurementGaveNoOffset) {
  Outcome found, disagree, none;
  found.has_offset = true;
  found.offset_ms = -1500;
  found.bound_ms = 3;
  disagree.disagree = true;
  struct Case {
    const char* what;
    const Outcome& o;
    std::string box, status;
  } cases[] = {
      {"found", found, "-1.500 " GBK_SECOND " " GBK_PLUS_MINUS "0.003", GBK_PRECISE_MEASURED},
      {"no majority", disagree, GBK_PRECISE_NO_MAJORITY, GBK_PRECISE_NO_MAJORITY},
      {"no answer", none, GBK_PRECISE_UNKNOWN, GBK_PRECISE_NO_SOURCE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(precise::OffsetBoxText(c.o), c.box);
    EXPECT_EQ(precise::MeasuredText(c.o), c.status);
  }
}

// Every reason code the engine may give has its own Chinese text, valid GBK
// by the C library's converter; the number follows where it helps.
TEST(PreciseTexts, NameEveryFailureReasonInChinese) {
  using measure::Reason;
  const int count = static_cast<int>(Reason::kCount);
  std::set<std::string> seen;
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    std::string text = precise::ReasonText(static_cast<Reason>(i), 0), utf8;
    ASSERT_FALSE(text.empty());
    EXPECT_TRUE(seen.insert(text).second) << "two reasons read alike";
    bool wide = false;
    for (char c : text) wide = wide || static_cast<unsigned char>(c) >= 0x81;
    EXPECT_TRUE(wide) << "no Chinese in the text";
    EXPECT_TRUE(Convert("UTF-8", "GBK", text, &utf8)) << "not GBK";
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
    ASSERT_TRUE(Convert("GBK", "UTF-8", c.utf8, &gbk));
    EXPECT_EQ(precise::ReasonText(c.reason, c.number), gbk);
  }
}

}  // namespace
