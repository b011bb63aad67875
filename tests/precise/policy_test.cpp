// The precise program's decisions and texts, natively: the calendar against
// the C library's own, the guards and automatic mode over their edges, the
// automatic schedule over a simulated day, the command line as the elevated
// copy receives it, and the window's texts, written here in UTF-8 and
// converted by the C library (independently of the program's byte-escaped
// GBK).
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

namespace {

using measure::Reason;
using precise::Outcome;
using measure::SourceState;
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

// One year is 365 days, the engine's limit too (its own test checks that).
TEST(PreciseGuard, AsksAboveTwoMinutesAndRefusesAboveAYear) {
  using G = precise::Guard;
  const int64_t year = 365LL * 24 * 3600 * 1000, day = 24LL * 3600 * 1000;
  const std::pair<int64_t, G> cases[] = {
      {0, G::kApply},           {153, G::kApply},
      {-120000, G::kApply},     {120000, G::kApply},
      {120001, G::kAsk},        {-120001, G::kAsk},
      {year, G::kAsk},          {-year, G::kAsk},
      {year + 1, G::kRefuse},   {-year - 1, G::kRefuse},
      {year + day, G::kRefuse}, {-year - day, G::kRefuse},
      {std::numeric_limits<int64_t>::min(), G::kRefuse},
      {std::numeric_limits<int64_t>::max(), G::kRefuse},
  };
  for (auto [ms, guard] : cases) {
    SCOPED_TRACE(ms);
    EXPECT_EQ(precise::GuardFor(ms), guard);
  }
}

SourceView Source(SourceState state, double offset_ms = 0, Reason reason = Reason::kNone,
                  uint32_t number = 0) {
  SourceView s;
  s.url = "http://127.0.0.1/";
  s.state = state;
  s.offset_ms = offset_ms;
  s.reason = reason;
  s.reason_number = number;
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
  EXPECT_EQ(precise::NextAutoDelayMs(precise::AutoPeriods(), 1000), 15 * kMin) << "no overflow";
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

// The C library's converter; true when all of `in` converted.
bool Convert(const char* to_code, const char* from_code, std::string in, std::string* out) {
  iconv_t cd = iconv_open(to_code, from_code);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  char buf[512];
  char *from = &in[0], *to = buf;
  size_t left = in.size(), room = sizeof buf;
  bool ok = iconv(cd, &from, &left, &to, &room) != static_cast<size_t>(-1) && left == 0;
  iconv_close(cd);
  *out = std::string(buf, to);
  return ok;
}

// Each of `count` texts (by number) is its own, Chinese and valid GBK.
template <typename TextOf>
void ExpectDistinctChinese(int count, TextOf text_of) {
  std::set<std::string> seen;
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    std::string text = text_of(i), utf8;
    EXPECT_TRUE(seen.insert(text).second) << "two read alike";
    EXPECT_TRUE(std::any_of(text.begin(), text.end(), [](char c) { return c & 0x80; })) << "no Chinese";
    EXPECT_TRUE(Convert("UTF-8", "GBK", text, &utf8)) << "not GBK";
  }
}

TEST(PreciseTexts, NameEveryReasonAndAutomaticDecisionAlone) {
  // Reasons that differ only in the engine's English read as their first.
  const std::pair<Reason, Reason> alike[] = {{Reason::kNoReplyInTime, Reason::kTimedOut},
                                             {Reason::kConnectionReset, Reason::kConnectionAborted},
                                             {Reason::kUnreadableSysTime2, Reason::kUnreadableReply},
                                             {Reason::kUnreadableDateHeader, Reason::kUnreadableReply}};
  std::vector<Reason> own;
  for (int i = 0; i < static_cast<int>(Reason::kCount); ++i) {
    auto twin = std::find_if(std::begin(alike), std::end(alike),
                             [&](const auto& a) { return a.first == static_cast<Reason>(i); });
    if (twin == std::end(alike)) own.push_back(static_cast<Reason>(i));
    else EXPECT_EQ(precise::ReasonText(twin->first, 7), precise::ReasonText(twin->second, 7));
  }
  ExpectDistinctChinese(static_cast<int>(own.size()), [&](int i) { return precise::ReasonText(own[i], 0); });
  precise::AutoPeriods periods;
  ExpectDistinctChinese(static_cast<int>(precise::AutoDecision::kCount), [&](int i) {
    return precise::AutoText(static_cast<precise::AutoDecision>(i), periods);
  });
}

TEST(PreciseTexts, ShowWhatTheWindowShows) {
  using D = precise::AutoDecision;
  Outcome o, found, disagree, none;
  o.sources = {Source(SourceState::kAnswered, 153), Source(SourceState::kFalseTicker, 5000),
               Source(SourceState::kFailed, 0, Reason::kCannotConnect, 12029),
               Source(SourceState::kRefused, 0, Reason::kBeforeBuildDate)};
  o.sources[0].bound_ms = 12;
  o.sources[0].rtt_ms = 21;
  // A URL with a line break, a backslash and DEL breaks no line of the box.
  SourceView odd = o.sources[0];
  odd.url = "http://a/\r\n\\b\x7f";
  found.has_offset = true;
  found.offset_ms = -1500;
  found.bound_ms = 3;
  disagree.disagree = true;
  precise::AutoPeriods periods;
  periods.threshold_ms = 250;
  const int64_t at = 1796618009490LL;  // 2026-12-07 04:33:29.49 UTC, shown as given
  struct Case {
    std::string got;
    const char* utf8;
  } cases[] = {
      {precise::OffsetText(153.2, 12.4), u8"+0.153 秒 ±0.012"},
      {precise::OffsetText(-0.4, 0.4), u8"+0.000 秒 ±0.000"},  // never "-0.000"
      {precise::OffsetText(3600371, 9.6), u8"+3600.371 秒 ±0.010"},
      {precise::ClockText(at), u8"2026年12月7日4时33分29.4秒"},  // the tenth truncated
      {precise::CalibrationText(at, 153), u8"4时33分29秒 调整 +0.153 秒"},
      {precise::AskText(at, at + 200153, 200153),
       u8"电脑时间将从 2026年12月7日4时33分29秒\r\n改为 2026年12月7日4时36分49秒\r\n"
       u8"调整 +200.153 秒。\r\n\r\n是否校准?"},
      {precise::SourcesText(o),
       u8"已应答  +0.153 秒 ±0.012  往返 0.021 秒  http://127.0.0.1/\r\n"
       u8"与其他时间源不符,未采用  +5.000 秒 ±0.000  http://127.0.0.1/\r\n"
       u8"失败: 无法连接 (12029)  http://127.0.0.1/\r\n"
       u8"拒绝: 时间早于程序日期  http://127.0.0.1/"},
      {precise::SourceLine(odd), u8"已应答  +0.153 秒 ±0.012  往返 0.021 秒  http://a/\\x0D\\x0A\\x5Cb\\x7F"},
      {precise::OffsetBoxText(found), u8"-1.500 秒 ±0.003"},
      {precise::MeasuredText(found), u8"测量完成"},
      {precise::OffsetBoxText(disagree), u8"来源互不一致"},
      {precise::MeasuredText(disagree), u8"来源互不一致"},
      {precise::OffsetBoxText(none), u8"无法确定"},
      {precise::MeasuredText(none), u8"没有可用的时间源"},
      {precise::ReasonText(Reason::kTimedOut, 0), u8"连接超时"},  // the source's own time ran out
      {precise::ReasonText(Reason::kHttpStatus, 404), u8"服务器返回错误 (HTTP 404)"},
      {precise::ReasonText(Reason::kUnreadableReply, 200), u8"回复无法识别"},
      {precise::ReasonText(Reason::kCount, 5), u8"原因不明"},  // a code from a newer engine
      {precise::AutoText(D::kSourcesDisagree, periods), u8"来源互不一致, 未自动校准"},
      {precise::AutoText(D::kTooFewAgree, periods), u8"相符的时间源太少, 未自动校准"},
      {precise::AutoText(D::kUncertain, periods), u8"偏差未超出误差范围, 未自动校准"},
      {precise::AutoText(D::kWithinThreshold, periods), u8"偏差在 250 毫秒以内, 无需校准"},
      {precise::AutoText(D::kNeedsQuestion, periods), u8"偏差过大, 自动校准不改动, 请手动校准"},
      {precise::AutoText(D::kNoOffset, periods), u8"测量失败"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    std::string gbk;
    ASSERT_TRUE(Convert("GBK", "UTF-8", c.utf8, &gbk));
    EXPECT_EQ(c.got, gbk);
  }
}

}  // namespace
