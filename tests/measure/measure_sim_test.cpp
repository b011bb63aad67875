// The measurement core against a simulated server clock: the exchange is
// modelled from its physical parts (our send, the way up, when the server
// reads its clock and truncates, the way back), independently of how the
// measurer reasons about it. Deterministic: every random draw is seeded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

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
      if (path.drop == 0 && path.jitter < 0.001) {
        EXPECT_LE(r.requests, 12);
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

// Several sources: combined by the median, false tickers out.
TEST(Combine, MarksFalseTickersAndCoversTheTruth) {
  struct Case {
    const char* name;
    std::vector<double> lies;  // extra offset of each source (0 = honest)
    int false_tickers;
    bool covers;  // the combined bound must cover the truth
  };
  const Case cases[] = {
      {"all honest", {0, 0, 0, 0, 0}, 0, true},
      {"one false ticker", {0, 0, 3.0, 0, 0}, 1, true},
      {"three scattered false tickers", {-2.0, 0, 7.0, 0, 1.2}, 3, true},
      // Three that agree on a wrong time are the majority: the two honest
      // sources are then the ones marked.
      {"three agreeing liars", {0, 2.0, 2.0, 0, 2.0}, 2, false},
      {"one of one", {0}, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(99);
    for (int run = 0; run < 20; ++run) {
      double truth = std::uniform_real_distribution<double>(-100, 100)(rng);
      measure::Result result;
      for (size_t i = 0; i < c.lies.size(); ++i) {
        Path path{"varied", 0.001 + 0.004 * i, 0.001 + 0.002 * i, 0.0005 * i};
        SimServer server{truth + c.lies[i], path, std::mt19937(run * 10 + i)};
        result.sources.push_back(Measure(server));
      }
      measure::Combine(result);
      ASSERT_TRUE(result.found);
      int marked = 0;
      for (size_t i = 0; i < c.lies.size(); ++i) {
        bool marked_here = result.sources[i].state == measure::SourceState::kFalseTicker;
        marked += marked_here;
        if (c.covers) {
          EXPECT_EQ(marked_here, c.lies[i] != 0) << i;
        }
      }
      EXPECT_EQ(marked, c.false_tickers);
      if (c.covers) {
        EXPECT_LE(std::fabs(result.offset - truth), result.bound + 1e-9);
        EXPECT_LE(result.bound, 0.02);
      }
    }
  }
}

TEST(Combine, DisagreeingHonestIntervalsWidenTheBound) {
  measure::Result result;
  auto source = [](double offset, double bound) {
    measure::SourceResult s;
    s.state = measure::SourceState::kAnswered;
    s.offset = offset;
    s.bound = bound;
    return s;
  };
  // Two servers 30 ms apart, each sure to 5 ms: the truth (of either) is
  // inside the combined bound.
  result.sources = {source(1.000, 0.005), source(1.030, 0.005)};
  measure::Combine(result);
  EXPECT_LE(result.offset - result.bound, 0.995 + 1e-12);
  EXPECT_GE(result.offset + result.bound, 1.035 - 1e-12);
  // Overlapping intervals: the overlap.
  result.sources = {source(1.000, 0.010), source(1.008, 0.004)};
  measure::Combine(result);
  EXPECT_NEAR(result.offset, 1.007, 1e-12);
  EXPECT_NEAR(result.bound, 0.003, 1e-12);
  // Nothing answered.
  result.sources = {measure::SourceResult{}};
  measure::Combine(result);
  EXPECT_FALSE(result.found);
}

}  // namespace
