// The measurement core against a simulated server clock built from the exchange's
// physical parts, not from the measurer's reasoning (every draw seeded); then which
// reply time counts (each reader alone is fuzzed in tests/fuzz), number forms and
// the UTF-16 text WinHTTP is given and gives back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "measure/measure.h"

namespace {

using measure::Reason;
using measure::SourceState;
constexpr double kPcUtcMinusMono = 1796000000.3125;  // a PC clock in late 2026

struct Path {
  const char* name;
  double up = 0.0005, down = 0.0005;  // each way (s)
  double jitter = 0;  // each way, uniform in [-jitter, +jitter]
  double late = 0;    // server reads its clock this long after the request arrives
  double drop = 0;    // chance a reply never comes
  // Median and 95th percentile |error| (ms) on this path's draws when one request at a time
  // halved the uncertainty once per aim (the planner before the fan); 0: not compared.
  double before_median = 0, before_p95 = 0;
};

measure::Exchange Reply(int64_t second, double sent = 1, double received = 1.001) {
  return {sent, received, true, second, {}};
}
measure::Exchange Failed(Reason reason, uint32_t number, double sent = 0, double received = 0) {  // at send
  return {sent, received, false, 0, {reason, number, measure::Step::kSend}};
}

struct SimServer {
  double offset;  // true: server clock minus PC clock
  Path path;
  std::mt19937 rng;
  double step = 0, step_at = 1e300;  // someone sets the server's clock by `step` then (mono)
  bool stepped = false;
  double Draw(double base) {
    if (path.jitter == 0) return base;
    return std::max(0.0, base + std::uniform_real_distribution<double>(-path.jitter, path.jitter)(rng));
  }
  measure::Exchange Send(double t1, double deadline) {
    if (!stepped && t1 >= step_at) offset += step, stepped = true;
    if (path.drop > 0 && std::uniform_real_distribution<double>(0, 1)(rng) < path.drop)  // the caller's time-out
      return Failed(Reason::kTimedOut, 12002, t1, std::min(t1 + 1.0, std::max(t1, deadline)));
    double t2 = t1 + Draw(path.up) + path.late;
    return Reply(static_cast<int64_t>(std::floor(t2 + kPcUtcMinusMono + offset)), t1, t2 + Draw(path.down));
  }
};

// One source run to the end (from mono 1000) as the edge drives it: a request goes out when it is
// due and a connection is free, replies are taken as they come in; with one connection, one at a
// time. The seconds it took and every send instant.
measure::SourceResult Measure(SimServer& server, double* took = nullptr, std::vector<double>* sends = nullptr,
                              int connections = measure::Options().connections) {
  double start = 1000.0, now = start;
  measure::SourceMeasurer m(measure::Options{}, kPcUtcMinusMono, start);
  std::vector<measure::Exchange> flying;
  for (int guard = 0; !m.Finished() && guard < 200; ++guard) {
    auto first = std::min_element(flying.begin(), flying.end(), [](const measure::Exchange& a, const measure::Exchange& b) {
      return a.received < b.received;
    });
    double send_at = m.HasRequest() ? std::max(now, m.NextSendTime()) : 1e300;
    if (static_cast<int>(flying.size()) < connections && (first == flying.end() || send_at <= first->received)) {
      if (send_at == 1e300) break;  // nothing planned, nothing in flight: stuck
      m.Launch(send_at);
      flying.push_back(server.Send(send_at, m.Deadline()));
      if (sends) sends->push_back(send_at);
      now = send_at;
      continue;
    }
    measure::Exchange x = *first;
    flying.erase(first);
    now = std::max(now, x.received);
    m.Take(x);
  }
  EXPECT_TRUE(m.Finished());
  if (took) *took = now - start;
  return m.Result("http://sim/");
}

const Path kPaths[] = {
    {"loopback", 0.0005, 0.0005, 0, 0, 0, 0.96, 1.85},
    {"loopback, noisy", 0.0005, 0.0005, 0.0004, 0, 0, 0.73, 1.75},
    {"symmetric 10+10 ms", 0.010, 0.010, 0, 0, 0, 0.90, 1.82},
    {"symmetric 50+50 ms", 0.050, 0.050, 0, 0, 0, 0.84, 1.65},
    {"asymmetric 30 up 2 down", 0.030, 0.002, 0, 0, 0, 14.03, 15.74},
    {"asymmetric 2 up 30 down", 0.002, 0.030, 0, 0, 0, 14.08, 15.66},
    {"jitter 10+-2.5 each way", 0.010, 0.010, 0.0025, 0, 0, 0.81, 2.45},
    {"jitter 50+-20 each way", 0.050, 0.050, 0.020, 0, 0, 4.89, 13.74},
    {"the local service: 20+-5 ms, all before the stamp", 0.020, 0, 0.005, 0, 0, 8.80, 11.65},
    {"late stamp 15 ms", 0.001, 0.001, 0, 0.015, 0, 7.48, 9.15},
    {"drops 20%", 0.002, 0.002, 0, 0, 0.2},
};

// Per path, 1000 offsets (the first twenty a twentieth of a second apart): the bound covers the
// truth and is about half the round trip; the error about half the asymmetry and late stamp, and
// no worse than before the fan (within the draws' own spread: the fan draws the noise in
// another order).
TEST(SourceMeasurer, BoundCoversTruthAnywhereInTheSecond) {
  for (const Path& path : kPaths) {
    std::mt19937 rng(12345);
    std::vector<double> errors;
    for (int i = 0; i < 1000; ++i) {
      double offset = std::uniform_real_distribution<double>(-5, 5)(rng);
      if (i < 20) offset = std::floor(offset) + i / 20.0;
      SimServer server{offset, path, std::mt19937(static_cast<unsigned>(i))};
      double took;
      measure::SourceResult r = Measure(server, &took);
      SCOPED_TRACE(std::string(path.name) + " offset " + std::to_string(offset));
      EXPECT_LE(took, path.drop == 0 ? 8.0 : 12.0);
      EXPECT_LE(r.requests, measure::Options().max_requests);
      if (r.state != SourceState::kAnswered) {
        EXPECT_GT(path.drop, 0) << measure::FailureText(r.failure);
        continue;
      }
      errors.push_back(std::fabs(r.offset - offset));
      EXPECT_LE(errors.back(), r.bound + 1e-9);
      if (path.drop == 0) {
        EXPECT_LE(r.bound, (path.up + path.down) / 2 + 2 * path.jitter + path.late + 0.01);
      }
    }
    SCOPED_TRACE(path.name);
    ASSERT_GT(errors.size(), 750u);
    if (path.drop > 0) continue;
    double off = std::fabs(path.up - path.down) / 2 + path.late / 2;
    std::sort(errors.begin(), errors.end());
    EXPECT_LE(errors.back(), off + 2 * path.jitter + 0.003);
    EXPECT_LE(errors[errors.size() / 2], off + 0.005);
    EXPECT_LE(errors[errors.size() / 2] * 1000, path.before_median * 1.25 + 0.25);
    EXPECT_LE(errors[errors.size() * 95 / 100] * 1000, path.before_p95 + 1.0);
  }
  // 365 days off is within the year; eleven months is a dead battery, not a lie.
  for (double offset : {365 * 86400.0 - 0.5, -330 * 86400.0 + 0.25}) {
    SimServer server{offset, {"loopback"}, std::mt19937(3)};
    measure::SourceResult r = Measure(server);
    EXPECT_EQ(r.state, SourceState::kAnswered) << offset;
    EXPECT_NEAR(r.offset, offset, r.bound);
  }
}

// Per source and measurement at most max_requests requests, and no one-second span holds more than
// max_per_second of them, on every path, drops included, however many connections the edge has.
TEST(SourceMeasurer, PoliteToEachSource) {
  const measure::Options options;
  int most = 0, busiest = 0;
  for (int connections : {1, options.connections}) {
    for (const Path& path : kPaths) {
      std::mt19937 rng(99);
      for (int i = 0; i < 100; ++i) {
        SimServer server{std::uniform_real_distribution<double>(-5, 5)(rng), path, std::mt19937(static_cast<unsigned>(i))};
        std::vector<double> sends;
        measure::SourceResult r = Measure(server, nullptr, &sends, connections);
        SCOPED_TRACE(std::string(path.name) + " run " + std::to_string(i) + " connections " + std::to_string(connections));
        EXPECT_EQ(r.requests, static_cast<int>(sends.size()));
        EXPECT_LE(sends.size(), static_cast<size_t>(options.max_requests));
        most = std::max(most, static_cast<int>(sends.size()));
        std::sort(sends.begin(), sends.end());
        for (size_t a = 0; a < sends.size(); ++a) {  // the span [sends[a], sends[a] + 1 s)
          size_t in = std::lower_bound(sends.begin(), sends.end(), sends[a] + 1.0) - sends.begin() - a;
          EXPECT_LE(in, static_cast<size_t>(options.max_per_second)) << "from " << sends[a] - 1000;
          busiest = std::max(busiest, static_cast<int>(in));
        }
      }
    }
  }
  std::printf("at most %d requests per source, %d in one second\n", most, busiest);
}

std::string FarText(const std::string& date) {
  return "refused: server time " + date + " is more than a year from the PC clock";
}

// Each row feeds up to five exchanges `x` (none when x.sent is -1), then
// Stop(stop). A refused second is named by its date, without overflow (UBSan).
TEST(SourceMeasurer, NamesWhyASourceFailedOrWasRefused) {
  const int64_t pc = static_cast<int64_t>(kPcUtcMinusMono) + 1, day = 86400;
  const int64_t min = std::numeric_limits<int64_t>::min(), max = std::numeric_limits<int64_t>::max();
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const std::string bad = "the PC's receive instant is before its send instant";
  const measure::Exchange none = Reply(0, -1), silent{}, timeout = Failed(Reason::kTimedOut, 12002);
  const auto F = SourceState::kFailed, R = SourceState::kRefused;
  const Reason kNoStop = Reason::kCount, kFar = Reason::kTooFarFromPcClock;
  const struct Case {
    const char* what;
    measure::Exchange x;
    Reason stop;  // Stop(stop) after the exchanges, unless kNoStop
    SourceState state;
    Reason code;
    std::string text;
    int requests;
    double build_utc;  // only the distance refuses when -1e300
  } cases[] = {
      {"asked while measuring", none, kNoStop, F, Reason::kUnfinished, "unfinished", 0, 0},
      {"stopped with nothing known", none, Reason::kNone, F, Reason::kNoReplyInTime, "no reply in time", 0, 0},
      {"a bad URL", none, Reason::kBadUrl, F, Reason::kBadUrl, "bad URL", 0, 0},
      {"cancelled", none, Reason::kCancelled, F, Reason::kCancelled, "cancelled", 0, 0},
      {"silent failures", silent, kNoStop, F, Reason::kNoReply, "no reply", 3, 0},
      {"time-outs: the last code and number", timeout, kNoStop, F, Reason::kTimedOut, "send: timed out (12002)", 3, 0},
      {"received before sent", Reply(pc, 5.0, 4.9), kNoStop, F, Reason::kBadInstants, bad, 3, 0},
      {"received NaN", Reply(pc, 5.0, nan), kNoStop, F, Reason::kBadInstants, bad, 3, 0},
      {"sent NaN", Reply(pc, nan, 5.0), kNoStop, F, Reason::kBadInstants, bad, 3, 0},
      {"sent -inf", Reply(pc, -inf, 5.0), kNoStop, F, Reason::kBadInstants, bad, 3, 0},
      {"received inf", Reply(pc, 5.0, inf), kNoStop, F, Reason::kBadInstants, bad, 3, 0},
      {"before the build", Reply(pc - 3 * 365 * day), kNoStop, R, Reason::kBeforeBuildDate,
       "refused: server time 2023-12-01 is before this program was built", 1, kPcUtcMinusMono - day},
      {"366 days ahead", Reply(pc + 366 * day), kNoStop, R, kFar, FarText("2027-12-01"), 1, 0},
      {"366 days behind", Reply(pc - 366 * day), kNoStop, R, kFar, FarText("2025-11-29"), 1, 0},
      {"the least second", Reply(min), kNoStop, R, kFar, FarText("-292277022657-01-27"), 1, -1e300},
      {"one above it", Reply(min + 1), kNoStop, R, kFar, FarText("-292277022657-01-27"), 1, -1e300},
      {"the greatest second", Reply(max), kNoStop, R, kFar, FarText("292277026596-12-04"), 1, -1e300},
      // The day is the floor of the second's; a year below 1000 has four digits.
      {"a second before 1970", Reply(-1), kNoStop, R, kFar, FarText("1969-12-31"), 1, -1e300},
      {"in the year 99", Reply(-59027094000), kNoStop, R, kFar, FarText("0099-07-04"), 1, -1e300},
      // WinHTTP's errors that WinINet's table has no reason for read as themselves.
      {"certificate revoked", Failed(Reason::kCertificateRevoked, 12170), kNoStop, F, Reason::kCertificateRevoked,
       "send: certificate revoked (12170)", 3, 0},
      {"certificate invalid", Failed(Reason::kCertificateInvalid, 12169), kNoStop, F, Reason::kCertificateInvalid,
       "send: certificate invalid (12169)", 3, 0},
      {"client certificate", Failed(Reason::kClientCertificateNeeded, 12044), kNoStop, F,
       Reason::kClientCertificateNeeded, "send: server asks for a client certificate (12044)", 3, 0},
      {"cancelled at send", Failed(Reason::kCancelled, 12017), kNoStop, F, Reason::kCancelled, "send: cancelled", 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    measure::Options options;
    options.build_utc = c.build_utc;
    measure::SourceMeasurer m(options, kPcUtcMinusMono, 0);
    for (int i = 0; i < 5 && c.x.sent != -1 && !m.Finished(); ++i) {
      m.Take(c.x);
      EXPECT_TRUE(std::isfinite(m.NextSendTime()) || m.Finished());
    }
    if (c.stop != kNoStop) m.Stop(c.stop);
    measure::SourceResult r = m.Result("u");
    EXPECT_EQ(r.state, c.state);
    EXPECT_EQ(r.failure.reason, c.code);
    EXPECT_EQ(measure::FailureText(r.failure), c.text);
    EXPECT_EQ(r.failure.number, c.x.failure.number);  // the last exchange's error, if any
    EXPECT_EQ(r.requests, c.requests);
    EXPECT_EQ(r.bound, 0);
  }
}

// A server clock stepping a second either way mid-measurement is named, or one of its clocks is covered.
TEST(SourceMeasurer, ServerClockStepIsNamedOrCovered) {
  std::mt19937 rng(2024);
  int named = 0, runs = 0;
  for (double step : {+1.0, -1.0}) {
    for (int i = 0; i < 400; ++i) {
      double offset = std::uniform_real_distribution<double>(-3, 3)(rng);
      double at = std::uniform_real_distribution<double>(0.2, 3.0)(rng);  // seconds in: it takes about 3
      SimServer server{offset, {"10+10 ms", 0.010, 0.010}, std::mt19937(i), step, 1000.0 + at};
      measure::SourceResult r = Measure(server);
      if (!server.stepped) continue;  // finished before the step: one clock only
      ++runs;
      SCOPED_TRACE("offset " + std::to_string(offset) + " step " + std::to_string(step) + " at " + std::to_string(at));
      if (r.failure.reason == Reason::kServerClockStepped) {
        ++named;
        EXPECT_EQ(r.state, SourceState::kFailed);
        continue;
      }
      ASSERT_EQ(r.state, SourceState::kAnswered);
      double miss = std::min(std::fabs(r.offset - offset), std::fabs(r.offset - server.offset));
      EXPECT_LE(miss, r.bound + 0.010 + 0.002 + 1e-9);
    }
  }
  EXPECT_GT(runs, 500);
  EXPECT_GT(named, runs / 2);
  std::printf("stepping server: %d of %d steps named, the rest covered\n", named, runs);
}

// Against brute force over every answered subset: the largest with a common point, when unique and a majority.
TEST(Combine, SelectionMatchesEverySubsetReading) {
  std::mt19937 rng(77);
  int found = 0;
  for (int run = 0; run < 5000; ++run) {
    size_t n = 1 + rng() % 7;
    measure::Result result;
    std::vector<size_t> answered;
    for (size_t i = 0; i < n; ++i) {
      // Small integer ends give many touching and equal intervals.
      int lo = static_cast<int>(rng() % 12), width = static_cast<int>(rng() % 6);
      measure::SourceResult s;  // failed, one in five: not a candidate
      if (rng() % 5 != 0) {
        s.state = SourceState::kAnswered, s.offset = lo + width / 2.0, s.bound = width / 2.0;
        answered.push_back(i);
      }
      result.sources.push_back(s);
    }
    auto common = [&](unsigned mask, double* lo, double* hi) {  // of the answered in mask
      *lo = -1e9, *hi = 1e9;
      for (size_t k = 0; k < answered.size(); ++k) {
        const measure::SourceResult& s = result.sources[answered[k]];
        if (mask >> k & 1) *lo = std::max(*lo, s.offset - s.bound), *hi = std::min(*hi, s.offset + s.bound);
      }
      return *lo <= *hi;
    };
    size_t best = 0, count = 0;
    unsigned chosen = 0;
    for (unsigned mask = 1; mask < (1u << answered.size()); ++mask) {
      double lo, hi;
      size_t size = __builtin_popcount(mask);
      if (!common(mask, &lo, &hi)) continue;
      if (size > best) best = size, count = 0, chosen = mask;
      if (size == best) ++count;
    }
    bool majority = best > 0 && count == 1 && 2 * best > answered.size();
    double lo, hi;  // the chosen group's common part
    common(majority ? chosen : 0, &lo, &hi);
    if (run % 2) result.offset = result.bound = 9, result.truechimers = 9;  // stale figures
    measure::Combine(result);
    SCOPED_TRACE("run " + std::to_string(run));
    ASSERT_EQ(result.found, majority);
    EXPECT_EQ(result.disagree, !answered.empty() && !majority);
    for (size_t i = 0, k = 0; i < n; ++i) {
      bool is_answered = k < answered.size() && answered[k] == i;
      bool in = is_answered && majority && (chosen >> k & 1);
      k += is_answered;
      EXPECT_EQ(result.sources[i].state,
                in ? SourceState::kAnswered : is_answered ? SourceState::kFalseTicker : SourceState::kFailed);
    }
    found += majority;
    EXPECT_EQ(result.truechimers, majority ? static_cast<int>(best) : 0);
    EXPECT_DOUBLE_EQ(result.offset, majority ? (lo + hi) / 2 : 0);
    EXPECT_DOUBLE_EQ(result.bound, majority ? (hi - lo) / 2 : 0);
  }
  EXPECT_GT(found, 1500);
}

TEST(ReplyTime, PrefersSysTime2ThenTheDateHeader) {
  const std::string long_date = "Mon, 07 Dec 2026 12:00:01 GMT and then some more words";
  const struct Case {
    std::string body, date;
    int64_t utc;
    std::string failure;  // none when read
  } cases[] = {
      {R"({"sysTime2":"2026-12-07 20:00:02"})", "Mon, 07 Dec 2026 12:00:01 GMT", 1796644802, ""},
      {"<html/>", "Mon, 07 Dec 2026 12:00:01 GMT", 1796644801, ""},
      {R"({"sysTime2":"soon"})", "Mon, 07 Dec 2026 12:00:01 GMT", 0, "unreadable sysTime2 \"soon\""},
      {R"({"sysTime2":"\ud83d\u0041"})", "", 0, "no sysTime2 and no Date header"},  // half a pair
      {"<html/>", "", 0, "no sysTime2 and no Date header"},
      {"<html/>", long_date, 0, "unreadable Date header \"" + long_date.substr(0, 40) + "\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    int64_t utc = 0;
    std::string failure;
    EXPECT_EQ(measure::TryReadServerSecond(c.body, c.date, &utc, &failure), c.failure.empty());
    EXPECT_EQ(failure, c.failure);
    if (c.failure.empty()) {
      EXPECT_EQ(utc, c.utc);
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

// URL text goes to WinHTTP only as ASCII (no code page is guessed); a header comes back with the rest as '?'.
TEST(WideText, AsciiOnlyBothWays) {
  for (const std::string& narrow : {std::string(), std::string("/getSysTime.do?x=1&y=%20"), std::string("a\x7F\x01", 3)}) {
    SCOPED_TRACE(measure::Printable(narrow));
    std::u16string wide = u"kept";
    ASSERT_TRUE(measure::TryWidenAscii(narrow, &wide));
    EXPECT_EQ(wide, std::u16string(narrow.begin(), narrow.end()));
    EXPECT_EQ(measure::NarrowToAscii(wide), narrow);
  }
  for (const char* narrow : {"/\xB1\xB1\xBE\xA9", "/\xC3\xA9", "\x80"}) {  // GBK, UTF-8, a lone byte
    std::u16string wide = u"kept";
    EXPECT_FALSE(measure::TryWidenAscii(narrow, &wide)) << measure::Printable(narrow);
    EXPECT_EQ(wide, u"kept");
  }
  EXPECT_EQ(measure::NarrowToAscii(u"Mon, 07 Dec 2026 \u00e9\u4e2d\xd83d\xde00 GMT"), "Mon, 07 Dec 2026 ???? GMT");
}

}  // namespace
