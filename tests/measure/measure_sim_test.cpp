// The measurement core against a simulated server clock: the exchange is
// modelled from its physical parts (our send, the way up, when the server
// reads its clock and truncates, the way back), independently of how the
// measurer reasons about it. Deterministic: every random draw is seeded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <utility>

#include "measure/measure.h"

namespace {

constexpr double kPcUtcMinusMono = 1796000000.3125;  // a PC clock in late 2026

struct Path {
  const char* name;
  double up = 0.0005;     // request's way to the server (s)
  double down = 0.0005;   // reply's way back
  double jitter = 0;      // each way, uniform in [-jitter, +jitter]
  double late = 0;        // server reads its clock this long after the request arrives
  double drop = 0;        // chance a reply never comes
};

struct SimServer {
  double offset;  // true: server clock minus PC clock
  Path path;
  std::mt19937 rng;
  double Draw(double base) {
    if (path.jitter == 0) return base;
    std::uniform_real_distribution<double> d(-path.jitter, path.jitter);
    return std::max(0.0, base + d(rng));
  }
  measure::Exchange Send(double t1, double deadline = 1e300) {
    measure::Exchange x;
    x.sent = t1;
    if (path.drop > 0 && std::uniform_real_distribution<double>(0, 1)(rng) < path.drop) {
      x.received = std::min(t1 + 1.0, std::max(t1, deadline));  // the caller's time-out
      x.failure = "time-out";
      x.reason = measure::Reason::kTimedOut;
      x.reason_number = 12002;
      return x;
    }
    double t2 = t1 + Draw(path.up) + path.late;
    x.server_second = static_cast<int64_t>(std::floor(t2 + kPcUtcMinusMono + offset));
    x.received = t2 + Draw(path.down);
    x.ok = true;
    return x;
  }
};

// Runs one source to the end as a blocking driver would; returns the
// result and the seconds it took.
measure::SourceResult Measure(SimServer& server, double* took = nullptr,
                          measure::Options options = measure::Options{}) {
  double start = 1000.0, now = start;
  measure::SourceMeasurer m(options, kPcUtcMinusMono, start);
  for (int guard = 0; !m.Finished() && guard < 100; ++guard) {
    double t1 = std::max(now, m.NextSendTime());
    measure::Exchange x = server.Send(t1, m.Deadline());
    now = x.received;
    m.Take(x);
  }
  EXPECT_TRUE(m.Finished());
  if (took) *took = now - start;
  return m.Result("http://sim/");
}

const Path kPaths[] = {
    {"loopback"},
    {"loopback, noisy", 0.0005, 0.0005, 0.0004},
    {"symmetric 10+10 ms", 0.010, 0.010},
    {"symmetric 50+50 ms", 0.050, 0.050},
    {"asymmetric 30 up 2 down", 0.030, 0.002},
    {"asymmetric 2 up 30 down", 0.002, 0.030},
    {"jitter 10+-2.5 each way", 0.010, 0.010, 0.0025},
    {"jitter 50+-20 each way", 0.050, 0.050, 0.020},
    {"late stamp 15 ms", 0.001, 0.001, 0, 0.015},
    {"drops 20%", 0.002, 0.002, 0, 0, 0.2},
};

TEST(SourceMeasurer, BoundCoversTruthAnywhereInTheSecond) {
  for (const Path& path : kPaths) {
    std::mt19937 rng(12345);
    double worst = 0;
    int answered = 0;
    for (int i = 0; i < 200; ++i) {
      double offset = std::uniform_real_distribution<double>(-5, 5)(rng);
      if (i < 20) offset = std::floor(offset) + i / 20.0;  // every twentieth of the second
      SimServer server{offset, path, std::mt19937(static_cast<unsigned>(i))};
      double took;
      measure::SourceResult r = Measure(server, &took);
      SCOPED_TRACE(std::string(path.name) + " offset " + std::to_string(offset));
      EXPECT_LE(took, 12.0);
      EXPECT_LE(r.requests, 16);
      if (r.state != measure::SourceState::kAnswered) {
        EXPECT_GT(path.drop, 0) << r.reason;
        continue;
      }
      ++answered;
      double error = std::fabs(r.offset - offset);
      worst = std::max(worst, error);
      EXPECT_LE(error, r.bound + 1e-9);
      // The bound is never much more than half the round trip plus the
      // resolution reached (and the late stamp, which it must absorb),
      // unless time-outs ate the time for halving.
      // Halving stops at the resolution, not at the request limit, when
      // replies are not lost and their noise is below it.
      // (Two more check the converged interval's ends.)
      if (path.drop == 0 && path.jitter < 0.001) {
        EXPECT_LE(r.requests, 14);
      }
      if (path.drop == 0) {
        EXPECT_LE(r.bound, (path.up + path.down) / 2 + 2 * path.jitter + path.late + 0.01);
      }
    }
    EXPECT_GT(answered, 150) << path.name;
    SCOPED_TRACE(path.name);
    // Accuracy: within a few ms when the paths are symmetric; the
    // asymmetry's half and the late stamp's half otherwise.
    if (path.drop > 0) continue;
    double expected = std::fabs(path.up - path.down) / 2 + path.late / 2 + 2 * path.jitter + 0.003;
    EXPECT_LE(worst, expected);
  }
}

TEST(SourceMeasurer, ReachesTenMillisecondsWithTwentyMillisecondJitter) {
  // The local service's jittered reply: 20 ms +- 5 ms before the stamp.
  std::mt19937 rng(7);
  std::vector<double> errors;
  for (int i = 0; i < 200; ++i) {
    double offset = std::uniform_real_distribution<double>(0, 4000)(rng);
    SimServer server{offset, {"service jitter", 0.020, 0.0, 0.005}, std::mt19937(i)};
    measure::SourceResult r = Measure(server);
    ASSERT_EQ(r.state, measure::SourceState::kAnswered);
    EXPECT_LE(std::fabs(r.offset - offset), r.bound + 1e-9);
    errors.push_back(std::fabs(r.offset - offset));
  }
  std::sort(errors.begin(), errors.end());
  // All of the delay is before the stamp: the estimate is off by half of it.
  EXPECT_LE(errors[errors.size() / 2], 0.015);
}

TEST(SourceMeasurer, RefusesImplausibleTimes) {
  struct Case {
    const char* name;
    double offset;
    double build_utc;
    const char* reason;
    measure::Reason code;
  };
  const Case cases[] = {
      {"before the build date", -3 * 365 * 86400.0, kPcUtcMinusMono - 86400, "before this program",
       measure::Reason::kBeforeBuildDate},
      {"more than a year ahead", 400 * 86400.0, 0, "more than a year",
       measure::Reason::kTooFarFromPcClock},
      {"more than a year behind", -400 * 86400.0, 0, "more than a year",
       measure::Reason::kTooFarFromPcClock},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    measure::Options options;
    options.build_utc = c.build_utc;
    SimServer server{c.offset, {"loopback"}, std::mt19937(1)};
    measure::SourceResult r = Measure(server, nullptr, options);
    EXPECT_EQ(r.state, measure::SourceState::kRefused);
    EXPECT_NE(r.reason.find(c.reason), std::string::npos) << r.reason;
    EXPECT_EQ(r.reason_code, c.code);
    EXPECT_EQ(r.requests, 1);
  }
  // Eleven months off is a dead battery, not a lie: measured.
  SimServer server{-330 * 86400.0 + 0.25, {"loopback"}, std::mt19937(1)};
  measure::SourceResult r = Measure(server);
  EXPECT_EQ(r.state, measure::SourceState::kAnswered);
  EXPECT_NEAR(r.offset, -330 * 86400.0 + 0.25, r.bound);
}

TEST(SourceMeasurer, FailsWithTheReasonWhenNothingAnswers) {
  SimServer server{0.5, {"dead", 0.001, 0.001, 0, 0, 1.0}, std::mt19937(1)};
  measure::SourceResult r = Measure(server);
  EXPECT_EQ(r.state, measure::SourceState::kFailed);
  EXPECT_EQ(r.reason, "time-out");
  EXPECT_EQ(r.reason_code, measure::Reason::kTimedOut);  // the last failure's code and number
  EXPECT_EQ(r.reason_number, 12002u);
  EXPECT_EQ(r.requests, measure::Options{}.max_failures);
}

// The code beside the text, for programs that show their own words.
TEST(SourceMeasurer, GivesEveryFailureItsReasonCode) {
  using measure::Reason;
  struct Case {
    const char* what;
    int silent_failures;     // failed exchanges that say nothing
    const char* stop_text;   // then Stop() with this, or nothing when null
    Reason stop_code;
    Reason code;
    const char* text;
  } cases[] = {
      {"asked while measuring", 0, nullptr, Reason::kNone, Reason::kUnfinished, "unfinished"},
      {"stopped with nothing known", 0, "", Reason::kNone, Reason::kTimedOut, "no reply in time"},
      {"a bad URL", 0, "bad URL", Reason::kBadUrl, Reason::kBadUrl, "bad URL"},
      {"a text without a code", 0, "gone", Reason::kNone, Reason::kNoReply, "gone"},
      {"silent failures", measure::Options{}.max_failures, nullptr, Reason::kNone, Reason::kNoReply,
       "no reply"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    measure::SourceMeasurer m(measure::Options{}, kPcUtcMinusMono, 0);
    for (int i = 0; i < c.silent_failures; ++i) m.Take(measure::Exchange{});
    if (c.stop_text) m.Stop(c.stop_text, c.stop_code);
    measure::SourceResult r = m.Result("u");
    EXPECT_EQ(r.state, measure::SourceState::kFailed);
    EXPECT_EQ(r.reason_code, c.code);
    EXPECT_EQ(r.reason, c.text);
    EXPECT_EQ(r.reason_number, 0u);
  }
}

TEST(SourceMeasurer, ServerClockStepMidwayIsNotAnAnswer) {
  measure::SourceMeasurer m(measure::Options{}, kPcUtcMinusMono, 0);
  SimServer server{0.3, {"loopback"}, std::mt19937(1)};
  for (int i = 0; !m.Finished() && i < 4; ++i) {
    if (i == 3) server.offset += 5;  // someone set the server's clock
    measure::Exchange x = server.Send(m.NextSendTime());
    m.Take(x);
  }
  ASSERT_TRUE(m.Finished());
  EXPECT_EQ(m.Result("u").state, measure::SourceState::kFailed);
  EXPECT_EQ(m.Result("u").reason_code, measure::Reason::kServerClockStepped);
}

// A server whose clock steps by a whole second while it is being measured:
// at every moment of the measurement, in either direction, whatever the
// phase. The measurer must name the step, or give an interval that holds one
// of the clocks the server really had; never a value between them with a
// tight bound. (An undetected step can leave the interval short of the new
// clock by at most what the last check could not see: half a round trip and
// the resolution.)
TEST(SourceMeasurer, ServerClockStepIsNamedOrCovered) {
  std::mt19937 rng(2024);
  int named = 0, runs = 0;
  for (double step : {+1.0, -1.0}) {
    for (int i = 0; i < 400; ++i) {
      double offset = std::uniform_real_distribution<double>(-3, 3)(rng);
      double at = std::uniform_real_distribution<double>(0.2, 9.0)(rng);  // seconds in
      SimServer server{offset, {"10+10 ms", 0.010, 0.010}, std::mt19937(i)};
      double start = 1000.0, now = start;
      measure::SourceMeasurer m(measure::Options{}, kPcUtcMinusMono, start);
      bool stepped = false;
      for (int guard = 0; !m.Finished() && guard < 100; ++guard) {
        double t1 = std::max(now, m.NextSendTime());
        if (!stepped && t1 - start >= at) {
          server.offset += step;
          stepped = true;
        }
        measure::Exchange x = server.Send(t1, m.Deadline());
        now = x.received;
        m.Take(x);
      }
      if (!stepped) continue;  // finished before the step: one clock only
      ++runs;
      measure::SourceResult r = m.Result("u");
      SCOPED_TRACE("offset " + std::to_string(offset) + " step " + std::to_string(step) + " at " +
                   std::to_string(at));
      if (r.reason_code == measure::Reason::kServerClockStepped) {
        ++named;
        continue;
      }
      ASSERT_EQ(r.state, measure::SourceState::kAnswered);
      double slack = 0.010 + 0.002 + 1e-9;
      double miss = std::min(std::fabs(r.offset - offset), std::fabs(r.offset - server.offset));
      EXPECT_LE(miss, r.bound + slack);
    }
  }
  EXPECT_GT(runs, 500);
  EXPECT_GT(named, runs / 2);
  std::printf("stepping server: %d of %d steps named, the rest covered\n", named, runs);
}

// Our own instants are checked before a reply is believed: a receive instant
// before the send instant, or one that is no number, is a failed exchange.
TEST(SourceMeasurer, ExchangeWithBrokenInstantsIsAFailureNotAnAnswer) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, double> cases[] = {{5.0, 4.9}, {5.0, nan}, {nan, 5.0}, {-inf, 5.0}, {5.0, inf}};
  for (auto [sent, received] : cases) {
    SCOPED_TRACE(std::to_string(sent) + " .. " + std::to_string(received));
    measure::SourceMeasurer m(measure::Options{}, kPcUtcMinusMono, 0);
    for (int i = 0; i < 5 && !m.Finished(); ++i) {
      measure::Exchange x;
      x.ok = true;
      x.sent = sent;
      x.received = received;
      x.server_second = static_cast<int64_t>(kPcUtcMinusMono + 5);
      m.Take(x);
      EXPECT_TRUE(std::isfinite(m.NextSendTime()) || m.Finished());
    }
    ASSERT_TRUE(m.Finished());
    measure::SourceResult r = m.Result("u");
    EXPECT_EQ(r.state, measure::SourceState::kFailed);
    EXPECT_EQ(r.reason_code, measure::Reason::kBadInstants);
    EXPECT_EQ(r.bound, 0);
  }
}

// A reply may carry any second at all; refusing it names its date, and
// naming it must not overflow (UBSan watches this test).
TEST(SourceMeasurer, ExtremeServerSecondsAreRefusedWithTheirDate) {
  const struct {
    int64_t second;
    const char* date;
  } cases[] = {
      {std::numeric_limits<int64_t>::min(), "-292277022657-01-27"},
      {std::numeric_limits<int64_t>::min() + 1, "-292277022657-01-27"},
      {-86401, "1969-12-30"},
      {-1, "1969-12-31"},
      {0, "1970-01-01"},
      {253402300799, "9999-12-31"},
      {std::numeric_limits<int64_t>::max(), "292277026596-12-04"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date);
    measure::Options options;
    options.build_utc = -1e300;  // only the distance from the PC clock refuses
    measure::SourceMeasurer m(options, kPcUtcMinusMono, 0);
    measure::Exchange x;
    x.ok = true;
    x.sent = 1;
    x.received = 1.001;
    x.server_second = c.second;
    m.Take(x);
    measure::SourceResult r = m.Result("u");
    EXPECT_EQ(r.state, measure::SourceState::kRefused);
    EXPECT_NE(r.reason.find(c.date), std::string::npos) << r.reason;
  }
}

// One year is 365 days: a source 365 days away is measured, a day more is not.
TEST(SourceMeasurer, OneYearIsTheDistanceLimit) {
  EXPECT_EQ(measure::Options{}.max_distance, 365 * 86400.0);
  for (int days : {365, 366}) {
    SCOPED_TRACE(days);
    SimServer server{days * 86400.0 - 0.5, {"loopback"}, std::mt19937(3)};
    measure::SourceResult r = Measure(server);
    EXPECT_EQ(r.state, days == 365 ? measure::SourceState::kAnswered : measure::SourceState::kRefused);
  }
}

measure::SourceResult Interval(double offset, double bound) {
  measure::SourceResult s;
  s.state = measure::SourceState::kAnswered;
  s.offset = offset;
  s.bound = bound;
  return s;
}

// The selection against an independent reading: every subset of the
// answered sources, the largest with a common point; a majority when it is
// the only one of its size and more than half of them.
TEST(Combine, SelectionMatchesEverySubsetReading) {
  std::mt19937 rng(77);
  int found = 0;
  for (int run = 0; run < 5000; ++run) {
    size_t n = 1 + rng() % 7;
    measure::Result result;
    for (size_t i = 0; i < n; ++i) {
      // Small integer ends give many touching and equal intervals.
      int lo = static_cast<int>(rng() % 12), width = static_cast<int>(rng() % 6);
      if (rng() % 5 == 0) {
        result.sources.push_back(measure::SourceResult{});  // failed: not a candidate
        continue;
      }
      result.sources.push_back(Interval(lo + width / 2.0, width / 2.0));
    }
    std::vector<size_t> answered;
    for (size_t i = 0; i < n; ++i)
      if (result.sources[i].state == measure::SourceState::kAnswered) answered.push_back(i);
    size_t best = 0, count = 0;
    unsigned chosen = 0;
    for (unsigned mask = 1; mask < (1u << answered.size()); ++mask) {
      double lo = -1e9, hi = 1e9;
      size_t size = 0;
      for (size_t k = 0; k < answered.size(); ++k) {
        if (!(mask >> k & 1)) continue;
        const measure::SourceResult& s = result.sources[answered[k]];
        lo = std::max(lo, s.offset - s.bound);
        hi = std::min(hi, s.offset + s.bound);
        ++size;
      }
      if (lo > hi) continue;
      if (size > best) best = size, count = 0, chosen = mask;
      if (size == best) ++count;
    }
    bool majority = best > 0 && count == 1 && 2 * best > answered.size();
    measure::Combine(result);
    SCOPED_TRACE("run " + std::to_string(run));
    ASSERT_EQ(result.found, majority);
    EXPECT_EQ(result.disagree, !answered.empty() && !majority);
    if (!majority) continue;
    ++found;
    double lo = -1e9, hi = 1e9;
    for (size_t k = 0; k < answered.size(); ++k) {
      const measure::SourceResult& s = result.sources[answered[k]];
      bool in = chosen >> k & 1;
      EXPECT_EQ(s.state, in ? measure::SourceState::kAnswered : measure::SourceState::kFalseTicker);
      if (!in) continue;
      lo = std::max(lo, s.offset - s.bound);
      hi = std::min(hi, s.offset + s.bound);
    }
    EXPECT_EQ(result.truechimers, static_cast<int>(best));
    EXPECT_DOUBLE_EQ(result.offset, (lo + hi) / 2);
    EXPECT_DOUBLE_EQ(result.bound, (hi - lo) / 2);
  }
  EXPECT_GT(found, 1500);
}

// The audit's cases, on measured sources: honest servers behind 10-40 ms
// paths, a liar on a fast path (so sure of itself to a millisecond).
TEST(Combine, ATightLiarNeverOutvotesHonestSources) {
  const struct Case {
    const char* name;
    std::vector<double> lies;   // each source's lie (0 = honest)
    bool found;
  } cases[] = {
      {"a liar 0.45 s off among three honest", {0, 0, 0, 0.45}, true},
      {"a liar 0.9 s off among three honest", {0, 0, 0, -0.9}, true},
      {"a liar 0.05 s off among three honest", {0.05, 0, 0, 0}, true},
      {"two sources apart", {0, 0.3}, false},
      {"three pairwise apart", {0, 0.3, -0.3}, false},
      {"two against two", {0, 0, 0.4, 0.4}, false},
      {"one of one", {0}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(99);
    for (int run = 0; run < 10; ++run) {
      double truth = std::uniform_real_distribution<double>(-100, 100)(rng);
      measure::Result result;
      for (size_t i = 0; i < c.lies.size(); ++i) {
        double leg = c.lies[i] != 0 ? 0.0005 : 0.010 * (i + 1);  // the liar is tight
        SimServer server{truth + c.lies[i], {"varied", leg, leg}, std::mt19937(run * 10 + i)};
        result.sources.push_back(Measure(server));
      }
      measure::Combine(result);
      ASSERT_EQ(result.found, c.found);
      EXPECT_EQ(result.disagree, !c.found);
      for (size_t i = 0; i < c.lies.size(); ++i) {
        bool used = result.sources[i].state == measure::SourceState::kAnswered;
        EXPECT_EQ(used, c.found && c.lies[i] == 0) << i;
      }
      if (!c.found) continue;
      EXPECT_LE(std::fabs(result.offset - truth), result.bound + 1e-9);
      for (const measure::SourceResult& s : result.sources) {  // the common part of the honest
        if (s.state == measure::SourceState::kAnswered) {
          EXPECT_LE(result.bound, s.bound + 1e-12);
        }
      }
    }
  }
}

TEST(Combine, IntervalsByHand) {
  const struct Case {
    const char* name;
    std::vector<std::pair<double, double>> intervals;  // offset, bound
    bool found;
    double offset, bound;
  } cases[] = {
      {"overlap", {{1.000, 0.010}, {1.008, 0.004}}, true, 1.007, 0.003},
      {"touching ends share their point", {{1.0, 0.5}, {2.0, 0.5}}, true, 1.5, 0},
      {"two groups of two apart", {{0, 0.1}, {0.05, 0.1}, {1, 0.1}, {1.05, 0.1}}, false, 0, 0},
      // One wide interval reaches two narrow ones that exclude each other:
      // two groups of two, no telling which.
      {"one wide, two narrow apart", {{5, 5}, {0.5, 0.5}, {9.5, 0.5}}, false, 0, 0},
      {"nothing answered", {}, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    measure::Result result;
    for (auto [offset, bound] : c.intervals) result.sources.push_back(Interval(offset, bound));
    result.sources.push_back(measure::SourceResult{});  // a failed source never counts
    measure::Combine(result);
    EXPECT_EQ(result.found, c.found);
    EXPECT_EQ(result.disagree, !c.found && !c.intervals.empty());
    EXPECT_NEAR(result.offset, c.offset, 1e-12);
    EXPECT_NEAR(result.bound, c.bound, 1e-12);
    EXPECT_EQ(result.sources.back().state, measure::SourceState::kFailed);
  }
}

TEST(Printable, EscapesControlBytesOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"HTTP 404", "HTTP 404"},
      {"a\x1b[2Jb", "a\\x1B[2Jb"},
      {"line\r\nnext\t", "line\\x0D\\x0Anext\\x09"},
      {"del\x7f back\\slash", "del\\x7F back\\x5Cslash"},
      {"\xb1\xea\xd7\xbc", "\xb1\xea\xd7\xbc"},  // GBK bytes stay
  };
  for (auto [in, out] : cases) EXPECT_EQ(measure::Printable(in), out) << in;
  EXPECT_EQ(measure::Printable(std::string("a\0b", 3)), "a\\x00b");
}

}  // namespace
