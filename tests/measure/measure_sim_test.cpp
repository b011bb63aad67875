// The measurement core against a simulated server clock built from the exchange's
// physical parts, not from the measurer's reasoning (every draw seeded), in whole
// seconds and in a JSON member written by the server's own formatting (C's gmtime);
// then which reply time counts (each reader alone is fuzzed in tests/fuzz), the
// member a URL's fragment names, number forms and the UTF-16 text WinHTTP is given
// and gives back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
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
      {"time-outs: the last code and number", timeout, kNoStop, F, Reason::kTimedOut, "send: 12002: timed out", 3, 0},
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
       "send: 12170: certificate revoked", 3, 0},
      {"certificate invalid", Failed(Reason::kCertificateInvalid, 12169), kNoStop, F, Reason::kCertificateInvalid,
       "send: 12169: certificate invalid", 3, 0},
      {"client certificate", Failed(Reason::kClientCertificateNeeded, 12044), kNoStop, F,
       Reason::kClientCertificateNeeded, "send: 12044: server asks for a client certificate", 3, 0},
      {"cancelled at send", Failed(Reason::kCancelled, 12017), kNoStop, F, Reason::kCancelled, "send: cancelled", 3, 0},
      // Errors without a reason of their own are named by their number's words, or plainly "error".
      {"a proxy unreachable", Failed(Reason::kNetworkError, 12165), kNoStop, F, Reason::kNetworkError,
       "send: 12165: proxy server unreachable", 3, 0},
      {"an unknown error", Failed(Reason::kNetworkError, 12999), kNoStop, F, Reason::kNetworkError,
       "send: 12999: error", 3, 0},
      {"a cache's reply (the edge saw its Age)", {1, 1.001, false, 0, {Reason::kCachedReply, "Age: 7"}}, kNoStop, F,
       Reason::kCachedReply, "refused: a cache answered with Age: 7", 3, 0},
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

// A cache that ignores the request's no-cache serves a reply it kept a second or more before (no Age header):
// the source fails with that reason as soon as such a reply comes, never taking it as the time nor naming it
// a step of the server's clock, however many fresh replies came first.
TEST(SourceMeasurer, FailsASourceWhoseReplyACacheKept) {
  std::mt19937 rng(99);
  for (int fresh = 1; fresh <= 6; ++fresh) {
    for (int older = 1; older <= 3; ++older) {
      double offset = std::uniform_real_distribution<double>(-5, 5)(rng);
      SCOPED_TRACE("fresh " + std::to_string(fresh) + " older " + std::to_string(older) + " offset " +
                   std::to_string(offset));
      SimServer server{offset, {"symmetric 10+10 ms", 0.010, 0.010}, std::mt19937(fresh * 7 + older)};
      measure::SourceMeasurer m(measure::Options{}, kPcUtcMinusMono, 1000.0);
      double now = 1000.0;
      int64_t kept = 0;
      for (int n = 0; !m.Finished() && n < 100; ++n) {
        measure::Exchange x = server.Send(std::max(now, m.NextSendTime()), m.Deadline());
        if (n == 0) kept = x.server_second - older;  // what the cache holds
        if (n >= fresh) x.server_second = kept;
        now = x.received;
        m.Take(x);
      }
      measure::SourceResult r = m.Result("u");
      EXPECT_EQ(r.state, SourceState::kFailed);
      EXPECT_EQ(r.failure.reason, Reason::kCachedReply);
      EXPECT_EQ(r.requests, fresh + 1);
    }
  }
  // Alone: a reply two seconds older than the server's clock can show, after one fresh reply.
  const int64_t pc = static_cast<int64_t>(kPcUtcMinusMono);
  measure::SourceMeasurer m(measure::Options{}, kPcUtcMinusMono, 0);
  m.Take(Reply(pc + 10, 1.0, 1.001));
  m.Take(Reply(pc + 10, 3.5, 3.501));
  EXPECT_TRUE(m.Finished());
  EXPECT_EQ(measure::FailureText(m.Result("u").failure),
            "refused: a cache answered with a Date 2 s older than the server's clock");
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
      // A clock set back shows seconds it had left, as a cache's copy does: named so.
      if (r.failure.reason == Reason::kServerClockStepped || (step < 0 && r.failure.reason == Reason::kCachedReply)) {
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

// A server that answers in a JSON member: `body` writes its clock's reading (utc second and
// microsecond) as the whole reply; the exchange is what the edge makes of it (TryReadFineTime).
struct FineServer {
  double offset;
  Path path;
  std::function<std::string(int64_t second, int64_t micro)> body;
  std::mt19937 rng;
  double open = 0.020;  // the first exchange also opens the connection
  int drops = 0;
  double Draw(double base) {
    if (path.jitter == 0) return base;
    return std::max(0.0, base + std::uniform_real_distribution<double>(-path.jitter, path.jitter)(rng));
  }
  measure::Exchange Send(double t1) {
    if (path.drop > 0 && std::uniform_real_distribution<double>(0, 1)(rng) < path.drop)
      return ++drops, Failed(Reason::kTimedOut, 12002, t1, t1 + 1.0);
    double t2 = t1 + Draw(path.up) + path.late + open;
    open = 0;
    double server = t2 + kPcUtcMinusMono + offset;
    int64_t second = static_cast<int64_t>(std::floor(server));
    int64_t micro = std::min<int64_t>(999999, static_cast<int64_t>((server - second) * 1e6));
    measure::Exchange x{t1, t2 + Draw(path.down), false, 0, {}};
    measure::FineTime f;
    if (!measure::TryReadFineTime(body(second, micro), "data.t", &f, &x.failure)) return x;
    x.ok = true, x.server_second = f.second, x.server_fraction = f.fraction;
    x.resolution = f.resolution, x.unix_number = f.unix_number;
    return x;
  }
};

// Run as a blocking driver would; *first_bound is what the first good exchange alone gave.
measure::SourceResult MeasureFine(FineServer& server, double* took = nullptr, double* first_bound = nullptr) {
  double start = 1000.0, now = start;
  measure::SourceMeasurer m(measure::Options{}, kPcUtcMinusMono, start);
  for (int guard = 0; !m.Finished() && guard < 100; ++guard) {
    measure::Exchange x = server.Send(std::max(now, m.NextSendTime()));
    now = x.received;
    m.Take(x);
    if (first_bound && x.ok && *first_bound == 0) *first_bound = m.Result("").bound;
  }
  EXPECT_TRUE(m.Finished());
  if (took) *took = now - start;
  return m.Result("http://sim/#data.t");
}

std::string Member(const std::string& value) { return R"({"code":0,"data":{"t":)" + value + "}}"; }
// The second's calendar text in a zone `east` seconds east of UTC, by C's own calendar.
std::string Civil(int64_t second, int64_t east, const char* form) {
  std::time_t t = static_cast<std::time_t>(second + east);
  char text[64];
  std::strftime(text, sizeof text, form, std::gmtime(&t));
  return text;
}
std::string Printed(const char* form, long long value) {
  char text[64];
  std::snprintf(text, sizeof text, form, value);
  return text;
}

const struct FineForm {
  const char* name;
  double resolution;
  std::function<std::string(int64_t, int64_t)> body;
} kFineForms[] = {
    {"Unix ms", 0.001, [](int64_t s, int64_t us) { return Member(std::to_string(s * 1000 + us / 1000)); }},
    {"Unix ms with two more digits", 0.00001,
     [](int64_t s, int64_t us) { return Member(std::to_string(s * 1000 + us / 1000) + Printed(".%02lld", us % 1000 / 10)); }},
    {"ISO 8601 UTC, ms", 0.001,
     [](int64_t s, int64_t us) { return Member(Civil(s, 0, "\"%Y-%m-%dT%H:%M:%S") + Printed(".%03lldZ\"", us / 1000)); }},
    {"ISO 8601 +08:00, us", 0.000001,
     [](int64_t s, int64_t us) { return Member(Civil(s, 8 * 3600, "\"%Y-%m-%dT%H:%M:%S") + Printed(".%06lld+08:00\"", us)); }},
    {"ISO 8601 -05:30, tenths", 0.1,
     [](int64_t s, int64_t us) { return Member(Civil(s, -5 * 3600 - 1800, "\"%Y-%m-%dT%H:%M:%S") + Printed(".%01lld-05:30\"", us / 100000)); }},
    {"Beijing time, ns", 0.000001,
     [](int64_t s, int64_t us) { return Member(Civil(s, 8 * 3600, "\"%Y-%m-%d %H:%M:%S") + Printed(".%06lld999\"", us)); }},
};

// Per path and value form, 40 offsets: the bound covers the truth (to the simulation's own
// rounding, 1 us), is at most half the fastest exchange plus the resolution, narrower than the
// first exchange (which also opened the connection) where the path does not jitter, in at most
// five good exchanges back to back.
TEST(FineSource, BoundCoversTruthAndNarrowsBackToBack) {
  for (const Path& path : kPaths) {
    for (const FineForm& form : kFineForms) {
      std::mt19937 rng(4321);
      int answered = 0;
      for (int i = 0; i < 40; ++i) {
        double offset = std::uniform_real_distribution<double>(-5000, 5000)(rng);
        FineServer server{offset, path, form.body, std::mt19937(static_cast<unsigned>(i))};
        double took, first_bound = 0;
        measure::SourceResult r = MeasureFine(server, &took, &first_bound);
        SCOPED_TRACE(std::string(path.name) + ", " + form.name + ", offset " + std::to_string(offset));
        if (r.state != SourceState::kAnswered) {
          EXPECT_GT(path.drop, 0) << measure::FailureText(r.failure);
          continue;
        }
        ++answered;
        double fastest = path.up + path.down + path.late + 4 * path.jitter;
        EXPECT_LE(std::fabs(r.offset - offset), r.bound + 1e-6);
        EXPECT_LE(2 * r.bound, fastest + form.resolution + 2e-6);
        EXPECT_LE(r.bound, first_bound);
        if (path.jitter == 0) {
          EXPECT_LT(r.bound, first_bound);  // jitter may leave the first the narrowest
        }
        EXPECT_LE(r.requests, path.drop > 0 ? 16 : 5);
        EXPECT_LE(took, 0.020 + 5 * (fastest + 0.005) + server.drops * 1.005);
      }
      EXPECT_GE(answered, path.drop > 0 ? 30 : 40);
    }
  }
}

// Each row's server answers `value` (or `body`) every time, beside a PC clock at `pc`.
TEST(FineSource, NamesWhyItsMemberGivesNoTime) {
  const int64_t pc = static_cast<int64_t>(kPcUtcMinusMono) + 1000, day = 86400;
  const auto F = SourceState::kFailed, R = SourceState::kRefused;
  const struct Case {
    const char* what;
    std::string body;
    SourceState state;
    Reason code;
    std::string text;
    int requests;  // 3: failed exchanges in a row; 1: refused at once
  } cases[] = {
      {"no such member", R"({"data":{"time":1}})", F, Reason::kFieldMissing, "no member \"data.t\" in the reply", 3},
      {"not JSON", "<html>busy</html>", F, Reason::kFieldMissing, "no member \"data.t\" in the reply", 3},
      {"a later data without t", R"({"data":{"t":1796645800123},"data":{}})", F, Reason::kFieldMissing,
       "no member \"data.t\" in the reply", 3},
      {"a word", Member(R"("soon")"), F, Reason::kFieldNotTime,
       "unreadable time \"soon\" (not Unix milliseconds or a date-time with fractions)", 3},
      {"null", Member("null"), F, Reason::kFieldNotTime,
       "unreadable time \"null\" (not Unix milliseconds or a date-time with fractions)", 3},
      {"an exponent", Member("1.796645800123e12"), F, Reason::kFieldNotTime,
       "unreadable time \"1.796645800123e12\" (not Unix milliseconds or a date-time with fractions)", 3},
      {"milliseconds as text", Member(R"("1796645800123")"), F, Reason::kFieldNotTime,
       "unreadable time \"1796645800123\" (not Unix milliseconds or a date-time with fractions)", 3},
      {"a date-time in whole seconds", Member(R"("2026-12-07T12:16:40Z")"), F, Reason::kFieldNotTime,
       "unreadable time \"2026-12-07T12:16:40Z\" (not Unix milliseconds or a date-time with fractions)", 3},
      {"a date-time without a zone", Member(R"("2026-12-07T12:16:40.123")"), F, Reason::kFieldNotTime,
       "unreadable time \"2026-12-07T12:16:40.123\" (not Unix milliseconds or a date-time with fractions)", 3},
      {"19 digits", Member("1796645800123000000"), F, Reason::kFieldNotTime,
       "unreadable time \"1796645800123000000\" (not Unix milliseconds or a date-time with fractions)", 3},
      {"negative", Member("-1796645800123"), F, Reason::kFieldNegative, "negative time \"-1796645800123\"", 3},
      {"seconds", Member(std::to_string(pc)), F, Reason::kFieldInSeconds,
       "seconds, not milliseconds (as milliseconds the time is 1970-01-21)", 1},
      {"seconds with a fraction", Member(std::to_string(pc) + ".5"), F, Reason::kFieldInSeconds,
       "seconds, not milliseconds (as milliseconds the time is 1970-01-21)", 1},
      {"366 days ahead", Member(std::to_string((pc + 366 * day) * 1000)), R, Reason::kTooFarFromPcClock,
       FarText("2027-12-01"), 1},
      {"0", Member("0"), R, Reason::kTooFarFromPcClock, FarText("1970-01-01"), 1},
      {"367 days behind, as a date-time", Member(R"("2025-11-28T12:16:40.5Z")"), R, Reason::kTooFarFromPcClock,
       FarText("2025-11-28"), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FineServer server{0, {"loopback"}, [&](int64_t, int64_t) { return c.body; }, std::mt19937(1)};
    measure::SourceResult r = MeasureFine(server);
    EXPECT_EQ(r.state, c.state);
    EXPECT_EQ(r.failure.reason, c.code);
    EXPECT_EQ(measure::FailureText(r.failure), c.text);
    EXPECT_EQ(r.requests, c.requests);
  }
}

// The member reads as a script's JSON.parse(body) and then .data.t reads it (Python's json.loads
// agrees on each row): the last of equal names wins at every step; a number keeps its text. The
// fuzz target sys_time2 checks the same reading against RapidJSON's.
TEST(FineSource, MemberPathReadsAsJsonParseDoes) {
  using Kind = measure::JsonMember::Kind;
  const struct Case {
    std::string body, path;
    bool json;  // false: no JSON object, or a path with an empty name
    Kind kind;
    std::string text;
  } cases[] = {
      {R"({"data":{"t":1796644800123}})", "data.t", true, Kind::kNumber, "1796644800123"},
      {R"( {"serverTime" : -0.5e3 } )", "serverTime", true, Kind::kNumber, "-0.5e3"},
      {R"({"data":{"t":1,"t":"2\u0030"}})", "data.t", true, Kind::kString, "20"},
      {R"({"data":{"t":1},"data":{"x":2}})", "data.t", true, Kind::kMissing, ""},
      {R"({"data":{"x":{"t":1}},"t":2})", "data.t", true, Kind::kMissing, ""},
      {R"({"data":{"t":[1, {"a":null}]}})", "data.t", true, Kind::kOther, "[1, {\"a\":null}]"},
      {R"({"a.b":1,"a":{"b":{"c":true}}})", "a.b.c", true, Kind::kOther, "true"},
      {R"({"data":{"t":1}} x)", "data.t", false, Kind::kMissing, ""},
      {R"([{"data":{"t":1}}])", "data.t", false, Kind::kMissing, ""},
      {R"({"data":{"t":1}})", "data..t", false, Kind::kMissing, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body + " " + c.path);
    measure::JsonMember m;
    m.text = "untouched";
    EXPECT_EQ(measure::TryReadJsonMember(c.body, c.path, &m), c.json);
    if (!c.json) continue;
    EXPECT_EQ(m.kind, c.kind);
    EXPECT_EQ(m.text, c.text);
  }
}

// Each value against the second of 2026-12-07 12:00:00 UTC (C's gmtime reads it back), and its
// written fraction.
TEST(FineSource, ValueFormsAndTheirResolution) {
  const int64_t at = 1796644800;
  EXPECT_EQ(Civil(at, 0, "%Y-%m-%d %H:%M:%S"), "2026-12-07 12:00:00");
  const struct Case {
    std::string value;
    int64_t second;  // from `at`
    double fraction, resolution;
    bool number;
  } cases[] = {
      {"1796644800123", 0, 0.123, 0.001, true},
      {"1796644800999.5", 0, 0.9995, 0.0001, true},
      {"1796644800000.1234567", 0, 0.000123, 0.000001, true},
      {"1796644799999", -1, 0.999, 0.001, true},
      {R"("2026-12-07T12:00:00.5Z")", 0, 0.5, 0.1, false},
      {R"("2026-12-07T20:00:00.123+08:00")", 0, 0.123, 0.001, false},
      {R"("2026-12-07T06:30:00.010-05:30")", 0, 0.010, 0.001, false},
      {R"("2026-12-08T00:00:00.000001+12:00")", 0, 0.000001, 0.000001, false},
      {R"("2026-12-07 20:00:01.123456789")", 1, 0.123456, 0.000001, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    measure::FineTime f;
    measure::Failure failure;
    ASSERT_TRUE(measure::TryReadFineTime(Member(c.value), "data.t", &f, &failure)) << measure::FailureText(failure);
    EXPECT_EQ(f.second, at + c.second);
    EXPECT_NEAR(f.fraction, c.fraction, 1e-12);
    EXPECT_DOUBLE_EQ(f.resolution, c.resolution);
    EXPECT_EQ(f.unix_number, c.number);
  }
  for (const char* bad : {R"("2026-02-29T12:00:00.1Z")", R"("2026-12-07T12:00:00.1+24:00")", R"("2026-12-07T12:00:00.1+0800")",
                          R"("2026-12-07t12:00:00.1z")", R"("2026-12-07 20:00:00.1+08:00")", R"("2026-12-07T12:00:60.1Z")",
                          R"("2026-12-07T12:00:00.1234567890Z")", R"("2026-12-07T12:00:00.Z")", "1796644800123.", "true"}) {
    measure::FineTime f;
    measure::Failure failure;
    EXPECT_FALSE(measure::TryReadFineTime(Member(bad), "data.t", &f, &failure)) << bad;
  }
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

// The fragment names the member and is never sent (the fuzz target url_split checks every form).
TEST(Url, FragmentNamesTheMemberAndStaysHere) {
  const struct Case {
    const char* text;
    bool ok;
    const char* path;
    const char* field;
  } cases[] = {
      {"https://host/api/time#data.t", true, "/api/time", "data.t"},
      {"http://host:8080#serverTime", true, "/", "serverTime"},
      {"http://host/now?x=1#a.b.c", true, "/now?x=1", "a.b.c"},
      {"http://host/#", true, "/", ""},
      {"http://host/#\xE6\x97\xB6\xE9\x97\xB4", true, "/", "\xE6\x97\xB6\xE9\x97\xB4"},
      {"http://host/#data..t", false, "", ""},
      {"http://host/#da ta", false, "", ""},
      {"http://host/#a#b", false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(measure::Printable(c.text));
    measure::Url u;
    ASSERT_EQ(measure::TryParseUrl(c.text, &u), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(u.path, c.path);
    EXPECT_EQ(u.field, c.field);
  }
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
