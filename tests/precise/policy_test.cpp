// The precise program's decisions and texts, natively: the calendar against the C library's, guards, automatic mode
// and its schedule, the command line, the window's texts against the C library's GBK of their UTF-8, and as the
// time-keeping service's client its line for the service, when a calibration through it asks first, and the texts of
// its answers and exit codes.
#include <gtest/gtest.h>

#include <iconv.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <set>

#include "precise/keeper_view.h"
#include "precise/policy.h"
#include "runtime/core/gbk_text.h"

namespace {

using measure::Reason;
using precise::Outcome;
using measure::SourceState;
using precise::SourceView;
using keeper::ServiceState;
using precise::KeeperAction;

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
    EXPECT_EQ((std::vector<int64_t>{f.year, f.month, f.day, f.hour, f.minute, f.second, f.millisecond, f.day_of_week}),
              (std::vector<int64_t>{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                                    ms - seconds * 1000, tm.tm_wday}));
    EXPECT_EQ(precise::UnixMsOf(f), ms);
  }
}

// One year is 365 days, the engine's limit too (its own test checks that).
TEST(PreciseGuard, AsksAboveTwoMinutesAndRefusesAboveAYear) {
  using G = precise::Guard;
  const int64_t year = 365LL * 24 * 3600 * 1000;
  const std::pair<int64_t, G> cases[] = {
      {0, G::kApply},         {153, G::kApply},        {-120000, G::kApply},    {120000, G::kApply},
      {120001, G::kAsk},      {-120001, G::kAsk},      {year, G::kAsk},         {-year, G::kAsk},
      {year + 1, G::kRefuse}, {-year - 1, G::kRefuse}, {INT64_MIN, G::kRefuse}, {INT64_MAX, G::kRefuse},
  };
  for (auto [ms, guard] : cases) {
    SCOPED_TRACE(ms);
    EXPECT_EQ(precise::GuardFor(ms), guard);
  }
}

SourceView Source(SourceState state, double offset_ms = 0, Reason reason = Reason::kNone, uint32_t number = 0) {
  return {"http://127.0.0.1/", state, offset_ms, 0, 0, reason, number};
}

// A row's outcome has an offset when a source answered, and disagrees when none did but false tickers did.
TEST(AutoMode, SetsOnlyWhenCertainAgreedAboveTheThresholdAndWithoutAQuestion) {
  using D = precise::AutoDecision;
  const auto A = SourceState::kAnswered, F = SourceState::kFailed, X = SourceState::kFalseTicker,
             R = SourceState::kRefused;
  struct Case {
    const char* what;
    double offset_ms, bound_ms;
    std::vector<SourceState> states;
    size_t configured;  // 0: as many as listed
    D want;
  } cases[] = {
      {"three agree, 150 ms off", 150, 5, {A, A, A}, 0, D::kSet},
      {"two of three agree", 150, 5, {A, A, X}, 0, D::kSet},
      {"two agree, one failed, behind", -150, 5, {A, A, F}, 0, D::kSet},
      {"the only source configured", 500, 5, {A}, 0, D::kSet},
      {"+279.5 ms within its 400 ms bound", 279.5, 400, {A, A, A}, 0, D::kUncertain},
      {"150 ms, bound 140: exactly the margin", 150, 140, {A, A}, 0, D::kUncertain},
      {"-150 ms, bound 139: 11 ms beyond", -150, 139, {A, A}, 0, D::kSet},
      {"95 ms, bound 100", -95, 100, {A, A}, 0, D::kUncertain},
      {"95 ms, bound 5: all within 100", 95, 5, {A, A}, 0, D::kWithinThreshold},
      {"80 ms, bound 30: certain but small", -80, 30, {A, A}, 0, D::kWithinThreshold},
      {"exactly the threshold", 100, 0, {A, A, A}, 0, D::kWithinThreshold},
      {"just above it, behind", -100.5, 0, {A, A}, 0, D::kSet},
      {"one answered of three", 500, 5, {A, F, F}, 0, D::kTooFewAgree},
      {"one listed of three configured", 500, 5, {A}, 3, D::kTooFewAgree},
      {"one against one", 500, 5, {A, X}, 0, D::kTooFewAgree},
      {"two against two", 500, 5, {A, A, X, X}, 0, D::kTooFewAgree},
      {"no majority", 0, 0, {X, X, X}, 0, D::kSourcesDisagree},
      {"no source answered", 0, 0, {F, R}, 0, D::kNoOffset},
      {"not a number", std::nan(""), 5, {A, A}, 0, D::kNoOffset},
      {"would need a question", 200000, 5, {A, A, A}, 0, D::kNeedsQuestion},
      {"beyond a year", -365.0 * 86400000 - 1000, 5, {A, A, A}, 0, D::kNeedsQuestion},
  };
  precise::AutoPeriods periods;  // 100 ms threshold
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool has_offset = std::count(c.states.begin(), c.states.end(), A) > 0;
    Outcome o{has_offset, !has_offset && std::count(c.states.begin(), c.states.end(), X) > 0, c.offset_ms, c.bound_ms, 0, {}};
    for (SourceState s : c.states) o.sources.push_back(Source(s, c.offset_ms));
    size_t configured = c.configured ? c.configured : c.states.size();
    bool agreed = o.has_offset && c.want != D::kTooFewAgree;
    EXPECT_EQ(precise::Agreed(o, configured), agreed);
    EXPECT_EQ(precise::DecideAuto(o, periods, configured), c.want);
    EXPECT_EQ(precise::AutoMaySet(o, periods, configured), c.want == D::kSet);
  }
}

// A day in 100 ms ticks: presses every 10 and 7 minutes, automatic mode on, off from the first pending run after 12:00
// to 12:30, sources down 03:00-03:40 and 17:00-17:05; measuring takes 6-12 s, and an automatic run due meanwhile
// rides on it. The test keeps its own record of automatic runs.
TEST(AutoSchedule, KeepsItsRhythmThroughADayOfPressesAndFailures) {
  const int64_t kMin = 60000, kSecond = 1000;
  auto down = [&](int64_t t) { return (t >= 180 * kMin && t < 220 * kMin) || (t >= 1020 * kMin && t < 1025 * kMin); };
  struct AutoRun {
    int64_t start;
    bool after_turn_on;
    int agreed;  // -1 while unknown
  };
  precise::AutoSchedule schedule;  // 15 minutes, first retry after 30 s
  EXPECT_FALSE(schedule.Fresh(0)) << "nothing measured yet";
  EXPECT_FALSE(schedule.TakeDue(0)) << "off";
  std::vector<AutoRun> autos;
  bool running = false, pending = false, turned_on = false, turned_off = false;
  int64_t end = 0;
  int measurements = 0, rides = 0;
  auto start = [&](int64_t t) {
    if (running) return false;
    running = true, end = t + 6 * kSecond + (measurements++ % 7) * kSecond;
    return true;
  };
  for (int64_t t = 0; t < 24 * 60 * kMin; t += 100) {
    if (running && t >= end) {
      running = false;
      EXPECT_EQ(schedule.Finished(t, !down(t)), pending) << t;
      if (pending) autos.back().agreed = !down(t), pending = false;
      EXPECT_TRUE(schedule.Fresh(t + 59999)) << t;
      EXPECT_FALSE(schedule.Fresh(t + 60000)) << t;
    }
    if (t == 0 || t == 750 * kMin) schedule.TurnOn(t), turned_on = true;
    if (t >= 720 * kMin && pending && !turned_off) schedule.TurnOff(), pending = false, turned_off = true;
    if (t % (10 * kMin) == 0 || t % (7 * kMin) == 20 * kSecond) start(t);
    if (schedule.TakeDue(t)) {
      autos.push_back({t, turned_on, -1});
      turned_on = false, pending = true;
      rides += !start(t);
    }
  }
  // Each gap: the period after a success, else 30 s doubled per failure, at most the period.
  const int64_t kRetryGaps[] = {30 * kSecond, 60 * kSecond, 120 * kSecond, 240 * kSecond, 480 * kSecond, 15 * kMin};
  std::set<int64_t> gaps_seen;
  int failures = 0;
  ASSERT_TRUE(turned_off);
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
  EXPECT_GT(rides, 0) << "an automatic run served by a pressed measurement";
}

TEST(PreciseCommandLine, ReadsSourcesTheElevatedCopysOffsetAndTheServicesAction) {
  using K = KeeperAction;
  struct Case {
    const char* line;
    std::vector<std::string> urls;
    std::optional<int64_t> offset;
    std::vector<std::string> unknown;
    K action = K::kNone;
    const char* parameters = nullptr;  // the service program's, for an action
  } cases[] = {
      {"timecal-precise.exe", {}, {}, {}},
      {"\"C:\\Program Files\\t p.exe\" http://a/x https://b/", {"http://a/x", "https://b/"}, {}, {}},
      {"t.exe   \"http://a/\"\thttps://c", {"http://a/", "https://c"}, {}, {}},
      {"t.exe --apply-offset=-153", {}, -153, {}},
      {"t.exe --apply-offset=+31536000000", {}, 31536000000LL, {}},
      {"t.exe --apply-offset=1.5 ftp://x /y", {}, {}, {"--apply-offset=1.5", "ftp://x", "/y"}},
      {"t.exe --apply-offset=", {}, {}, {"--apply-offset="}},
      {"t.exe --apply-offset=99999999999999999999", {}, {}, {"--apply-offset=99999999999999999999"}},
      // Nineteen digits, past int64_t: refused, not wrapped.
      {"t.exe --apply-offset=9223372036854775808", {}, {}, {"--apply-offset=9223372036854775808"}},
      {"t.exe --apply-offset=9223372036854775807", {}, INT64_MAX, {}},
      {"p.exe --install", {}, {}, {"--install"}, K::kInstall, "--install"},
      {"p.exe --install http://a/ https://b/x", {"http://a/", "https://b/x"}, {}, {"--install"}, K::kInstall,
       "--install http://a/ https://b/x"},
      {"p.exe http://a/ --install \"http://c d/\"", {"http://a/", "http://c d/"}, {}, {"--install"}, K::kInstall,
       "--install http://a/ \"http://c d/\""},
      {"p.exe --uninstall http://a/", {"http://a/"}, {}, {"--uninstall"}, K::kUninstall, "--uninstall"},
      {"p.exe --install --proxy p:8080 http://a/", {"http://a/"}, {}, {"--install"}, K::kInstall,
       "--install http://a/ --proxy p:8080"},
      {"p.exe --no-proxy --install", {}, {}, {"--install"}, K::kInstall, "--install --no-proxy"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    precise::CommandLine cl = precise::ReadCommandLine(c.line);
    EXPECT_EQ(cl.urls, c.urls);
    EXPECT_EQ(cl.apply_offset_ms, c.offset);
    EXPECT_EQ(cl.unknown, c.unknown);
    EXPECT_EQ(precise::KeeperActionOf(cl), c.action);
    if (c.parameters) {
      EXPECT_EQ(precise::KeeperParameters(c.action, cl.urls, cl.proxy), c.parameters);
    }
  }
  EXPECT_EQ(precise::UrlsIn("http://a/ x https://b/"), (std::vector<std::string>{"http://a/", "https://b/"}));
  for (int64_t ms : {int64_t{0}, int64_t{-1}, int64_t{120001}, int64_t{-31536000000LL}}) {
    SCOPED_TRACE(ms);
    EXPECT_EQ(precise::ReadCommandLine("t.exe " + precise::ApplyOffsetArgument(ms)).apply_offset_ms, ms);
  }
}

// The way to the sources: the system's settings unless a proxy is named (HOST:PORT, nothing else) or
// --no-proxy is given; the last word counts; a word that names no proxy is unknown and changes nothing.
TEST(PreciseCommandLine, ReadsTheWayToTheSources) {
  using M = measure::ProxyMode;
  struct Case {
    const char* line;
    M mode;
    const char* server;
    std::vector<std::string> unknown;
    std::vector<std::string> urls;
  } cases[] = {
      {"t.exe http://a/", M::kSystem, "", {}, {"http://a/"}},
      {"t.exe --proxy 10.0.0.1:3128 http://a/", M::kNamed, "10.0.0.1:3128", {}, {"http://a/"}},
      {"t.exe --proxy=proxy.example:8080", M::kNamed, "proxy.example:8080", {}, {}},
      {"t.exe --proxy [::1]:3128", M::kNamed, "[::1]:3128", {}, {}},
      {"t.exe --no-proxy", M::kDirect, "", {}, {}},
      {"t.exe --proxy p:1 --no-proxy", M::kDirect, "", {}, {}},
      {"t.exe --no-proxy --proxy p:65535", M::kNamed, "p:65535", {}, {}},
      // No port, a port out of range, a URL, user info, a path: no proxy, and the word stays itself.
      {"t.exe --proxy p", M::kSystem, "", {"--proxy", "p"}, {}},
      {"t.exe --proxy p:0", M::kSystem, "", {"--proxy", "p:0"}, {}},
      {"t.exe --proxy p:65536", M::kSystem, "", {"--proxy", "p:65536"}, {}},
      {"t.exe --proxy http://a/", M::kSystem, "", {"--proxy"}, {"http://a/"}},
      {"t.exe --proxy=u@p:1", M::kSystem, "", {"--proxy=u@p:1"}, {}},
      {"t.exe --proxy=p:1/x", M::kSystem, "", {"--proxy=p:1/x"}, {}},
      {"t.exe --proxy=:80", M::kSystem, "", {"--proxy=:80"}, {}},
      {"t.exe --proxy", M::kSystem, "", {"--proxy"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    precise::CommandLine cl = precise::ReadCommandLine(c.line);
    EXPECT_EQ(cl.proxy.mode, c.mode);
    EXPECT_EQ(cl.proxy.server, c.server);
    EXPECT_EQ(cl.unknown, c.unknown);
    EXPECT_EQ(cl.urls, c.urls);
  }
}

// The C library's conversion of UTF-8 to GBK.
std::string Gbk(std::string in) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  char buf[512], *from = &in[0], *to = buf;
  size_t left = in.size(), room = sizeof buf;
  bool ok = cd != reinterpret_cast<iconv_t>(-1) && iconv(cd, &from, &left, &to, &room) != static_cast<size_t>(-1);
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  return ok && left == 0 ? std::string(buf, to) : "(not converted)";
}

TEST(PreciseTexts, ShowWhatTheWindowShows) {
  Outcome o, found{true, false, -1500, 3, 0, {}}, disagree{false, true, 0, 0, 0, {}}, none;
  o.sources = {Source(SourceState::kAnswered, 153), Source(SourceState::kFalseTicker, 5000),
               Source(SourceState::kFailed, 0, Reason::kCannotConnect, 12029),
               Source(SourceState::kRefused, 0, Reason::kBeforeBuildDate)};
  o.sources[0].bound_ms = 12, o.sources[0].rtt_ms = 21;
  // A URL with a line break, a backslash and DEL breaks no line of the box.
  SourceView odd = o.sources[0];
  odd.url = "http://a/\r\n\\b\x7f";
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
      {precise::AutoText(precise::AutoDecision::kWithinThreshold, periods), u8"偏差在 250 毫秒以内, 无需校准"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(c.got, Gbk(c.utf8));
  }
}

keeper::Status Measured(int32_t offset_us, uint32_t bound_us, uint16_t agreed, uint16_t sources) {
  keeper::Status s;
  s.measurements = 2, s.found = true, s.offset_us = offset_us, s.bound_us = bound_us;
  s.agreed = agreed, s.sources = sources;
  return s;
}

TEST(KeeperView, LineShowsTheStateTheLastResultAndASecondKeeper) {
  const int64_t at = 1796672243000;  // 2026-12-07 19:37:23 (local time as the window passes it)
  keeper::Status none, measuring, disagree = Measured(0, 0, 0, 3), syncing = Measured(-1500, 2000, 2, 2);
  measuring.measuring = true, disagree.found = false, disagree.disagree = true, syncing.windows_time_syncing = true;
  const std::string running = GBK_PRECISE_KEEPER_RUNNING ", ", when = "19" GBK_HOUR "37" GBK_MINUTE "23" GBK_SECOND " ";
  const std::string second_keeper = "; Windows " GBK_PRECISE_KEEPER_WINDOWS_TIME;
  const struct {
    ServiceState state;
    keeper::Status status;
    bool windows_time;
    std::string text;
  } cases[] = {
      {ServiceState::kNotInstalled, {}, false, GBK_PRECISE_KEEPER_NOT_INSTALLED},
      {ServiceState::kStopped, {}, false, GBK_PRECISE_KEEPER_STOPPED},
      {ServiceState::kStopped, {}, true, GBK_PRECISE_KEEPER_STOPPED + second_keeper},
      {ServiceState::kRunning, none, false, running + GBK_PRECISE_KEEPER_NOT_MEASURED},
      {ServiceState::kRunning, measuring, false, running + GBK_PRECISE_MEASURING},
      {ServiceState::kRunning, Measured(12345, 3000, 3, 4), false,
       running + when + "+0.012 " GBK_SECOND " " GBK_PLUS_MINUS "0.003, " GBK_PRECISE_KEEPER_AGREE " 3/4"},
      {ServiceState::kRunning, disagree, false, running + when + GBK_PRECISE_NO_MAJORITY},
      {ServiceState::kRunning, syncing, false,
       running + when + "-0.002 " GBK_SECOND " " GBK_PLUS_MINUS "0.002, " GBK_PRECISE_KEEPER_AGREE " 2/2" +
           second_keeper},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(precise::KeeperText(precise::KeeperView{c.state, c.status, c.windows_time}, at), c.text);
  }
}

// Only a correction the service set aside for the question, and above two minutes, is asked about.
TEST(KeeperView, AsksOnlyAboutALargeCorrectionTheServiceSetAside) {
  const auto question = static_cast<uint16_t>(precise::AutoDecision::kNeedsQuestion);
  const auto threshold = static_cast<uint16_t>(precise::AutoDecision::kWithinThreshold);
  const struct {
    int32_t offset_us;
    uint16_t decision;
    bool found;
    uint32_t measurements;
    bool asks;
  } cases[] = {
      {200000000, question, true, 2, true},  {-200000000, question, true, 2, true},
      {120001000, question, true, 2, true},  {120000000, question, true, 2, false},
      {50000, question, true, 2, false},     {200000000, threshold, true, 2, false},
      {200000000, question, false, 2, false}, {200000000, question, true, 0, false},  // never measured
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.offset_us) + " us, decision " + std::to_string(c.decision));
    keeper::Status s = Measured(c.offset_us, 1000, 2, 2);
    s.decision = c.decision, s.found = c.found, s.measurements = c.measurements;
    EXPECT_EQ(precise::KeeperNeedsQuestion(s), c.asks);
  }
}

TEST(KeeperView, AnswersAndExitCodesHaveTheirTexts) {
  using A = keeper::Answer;
  const std::pair<A, std::string> answers[] = {
      {A::kAccepted, GBK_PRECISE_KEEPER_MEASURING "..."},
      {A::kBusy, GBK_PRECISE_KEEPER_BUSY},
      {A::kBadVersion, GBK_PRECISE_KEEPER_REFUSED " (5)"},
      {A::kCount, GBK_PRECISE_KEEPER_REFUSED " (7)"},
  };
  for (const auto& [answer, text] : answers) {
    SCOPED_TRACE(text);
    EXPECT_EQ(precise::KeeperAnswerText(answer), text);
  }
  const struct {
    KeeperAction action;
    uint32_t code;
    std::string text;
  } outcomes[] = {
      {KeeperAction::kInstall, keeper::kInstallDone, GBK_PRECISE_KEEPER_INSTALLED},
      {KeeperAction::kUninstall, keeper::kInstallDone, GBK_PRECISE_KEEPER_REMOVED},
      {KeeperAction::kInstall, keeper::kInstallBadArguments, GBK_PRECISE_KEEPER_BAD_URL},
      {KeeperAction::kUninstall, keeper::kInstallNotInstalled, GBK_PRECISE_KEEPER GBK_PRECISE_KEEPER_NOT_INSTALLED},
      {KeeperAction::kInstall, keeper::kInstallNoRight, GBK_PRECISE_KEEPER_NO_ADMIN},
      {KeeperAction::kUninstall, 1223, GBK_PRECISE_KEEPER_REMOVE GBK_PRECISE_FAILED " (" GBK_ERROR_CAPTION " 1223)"},
  };
  for (const auto& o : outcomes) {
    SCOPED_TRACE(o.code);
    EXPECT_EQ(precise::KeeperOutcomeText(o.action, o.code), o.text);
  }
}

}  // namespace
