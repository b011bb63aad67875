// The keeper's decisions in virtual time: what it sets, what it refuses,
// which requests it takes, and that the log hears each change once.
#include "keeper/keeper.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using keeper::Command;
using keeper::NoticeKind;
using keeper::Purpose;
using measure::SourceState;

constexpr int64_t kMinute = 60 * 1000;

// An outcome: `agree` sources answered at offset ± bound, `tickers` false
// tickers, `failed` failed; found unless nobody answered or they disagree.
precise::Outcome Outcome(int agree, double offset_ms, int tickers = 0, int failed = 0, double bound_ms = 2) {
  precise::Outcome o;
  o.has_offset = agree > 0;
  o.disagree = agree > 0 && tickers >= agree;
  o.has_offset = o.has_offset && !o.disagree;
  o.offset_ms = offset_ms;
  o.bound_ms = bound_ms;
  for (int i = 0; i < agree; ++i) o.sources.push_back({"a", SourceState::kAnswered, offset_ms, bound_ms, 5});
  for (int i = 0; i < tickers; ++i) o.sources.push_back({"t", SourceState::kFalseTicker, offset_ms + 9e4, 2, 5});
  for (int i = 0; i < failed; ++i) o.sources.push_back({"f", SourceState::kFailed});
  return o;
}

struct Day {
  keeper::Keeper k;
  int64_t now = 0;
  std::map<NoticeKind, int> told;
  int sets = 0;
  double last_set = 0;
  Day() {
    for (auto& n : k.Start(0, 3)) ++told[n.kind];
  }
  // Runs what is due at `now` with outcome o; false when nothing was due.
  bool Measure(const precise::Outcome& o, Purpose* why = nullptr) {
    Purpose p;
    if (!k.TakeDue(now, &p)) return false;
    if (why) *why = p;
    std::vector<keeper::Notice> notices;
    keeper::SetOrder order = k.Finished(o, now + 10, 1800000000000 + now, 3, "send: cannot connect (12029)", &notices);
    if (order.set) {
      ++sets;
      last_set = order.offset_ms;
      k.SetDone(order.offset_ms, 1800000000000 + now, 0, &notices);
    }
    for (auto& n : notices) ++told[n.kind];
    return true;
  }
};

TEST(KeeperDecisions, SetsOnlyWhatTheRulesAllow) {
  struct Row {
    const char* name;
    precise::Outcome outcome;
    Command asked;  // kState: the schedule's own measurement
    bool set;
    NoticeKind told;  // kCount: nothing beyond a first set
  };
  const Row rows[] = {
      {"agreed and off", Outcome(3, 850), Command::kState, true, NoticeKind::kFirstSet},
      {"within its bound", Outcome(3, 9, 0, 0, 4), Command::kState, false, NoticeKind::kCount},
      {"within the threshold", Outcome(3, 60), Command::kState, false, NoticeKind::kCount},
      {"a person asks: any certain offset", Outcome(3, 60), Command::kCalibrate, true, NoticeKind::kFirstSet},
      {"one of three answered", Outcome(1, 850, 0, 2), Command::kState, false, NoticeKind::kCount},
      {"200 s with two agreeing", Outcome(2, 200000, 0, 1), Command::kState, false, NoticeKind::kRefusedNeedsThree},
      {"200 s, three agree, a false ticker", Outcome(3, 200000, 1), Command::kState, false,
       NoticeKind::kRefusedNeedsThree},
      {"200 s with three agreeing", Outcome(3, 200000), Command::kState, true, NoticeKind::kFirstSet},
      {"200 s, two agree, a person said yes", Outcome(2, 200000, 0, 1), Command::kCalibrateConfirmed, true,
       NoticeKind::kFirstSet},
      {"over a year, even confirmed", Outcome(3, 400.0 * 86400000), Command::kCalibrateConfirmed, false,
       NoticeKind::kRefusedOverYear},
      {"measure only", Outcome(3, 5000), Command::kMeasure, false, NoticeKind::kCount},
      {"disagree", Outcome(1, 5000, 1, 1), Command::kState, false, NoticeKind::kSourcesDisagree},
      {"nobody answers", Outcome(0, 0, 0, 3), Command::kState, false, NoticeKind::kAllFailing},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Day run;
    if (row.asked != Command::kState) {
      ASSERT_TRUE(run.Measure(Outcome(3, 0)));  // the start's own measurement
      run.told.clear();
      run.now = 1000;
      ASSERT_EQ(run.k.Ask(row.asked, run.now), keeper::Answer::kAccepted);
    }
    ASSERT_TRUE(run.Measure(row.outcome));
    EXPECT_EQ(run.sets, row.set ? 1 : 0);
    if (row.set) {
      EXPECT_EQ(run.last_set, row.outcome.offset_ms);
    }
    int told = 0;
    for (auto& [kind, n] : run.told) told += kind != NoticeKind::kStarted ? n : 0;
    EXPECT_EQ(told, row.told == NoticeKind::kCount ? 0 : 1);
    if (row.told != NoticeKind::kCount) {
      EXPECT_EQ(run.told[row.told], 1);
    }
  }
}

TEST(KeeperDecisions, ADayOfMeasurementsTellsEachChangeOnce) {
  Day run;
  int measurements = 0;
  // A day in minutes: good, then an hour of dead sources, then good again,
  // then an hour of disagreement, then 200 s off by two sources for an hour.
  for (run.now = 0; run.now <= 24 * 60 * kMinute; run.now += kMinute) {
    int64_t hour = run.now / (60 * kMinute);
    precise::Outcome o = hour == 5    ? Outcome(0, 0, 0, 3)
                         : hour == 9  ? Outcome(1, 300, 1, 1)
                         : hour == 14 ? Outcome(2, 200000, 0, 1)
                                      : Outcome(3, run.now == 0 ? 700 : 40);
    measurements += run.Measure(o);
  }
  // Every 15 minutes, the start included; failures retry sooner.
  EXPECT_GE(measurements, 24 * 4 + 1);
  EXPECT_LE(measurements, 24 * 4 + 1 + 8);
  EXPECT_EQ(run.sets, 1);  // the start's 700 ms; 40 ms is within the threshold
  std::map<NoticeKind, int> want = {{NoticeKind::kStarted, 1},         {NoticeKind::kFirstSet, 1},
                                    {NoticeKind::kAllFailing, 1},      {NoticeKind::kSourcesBack, 2},
                                    {NoticeKind::kSourcesDisagree, 1}, {NoticeKind::kRefusedNeedsThree, 1}};
  EXPECT_EQ(run.told, want);
  EXPECT_EQ(run.k.status().measurements, static_cast<uint32_t>(measurements));
}

TEST(KeeperRequests, AMeasurementAtMostEveryTenSeconds) {
  Day run;
  ASSERT_TRUE(run.Measure(Outcome(3, 0)));
  int accepted = 0, measured = 0;
  for (int i = 0; i < 1000; ++i, run.now += 25) {  // 25 s of requests
    keeper::Answer a = run.k.Ask(Command::kCalibrate, run.now);
    ASSERT_TRUE(a == keeper::Answer::kAccepted || a == keeper::Answer::kBusy);
    accepted += a == keeper::Answer::kAccepted;
    measured += run.Measure(Outcome(3, 0));
  }
  EXPECT_EQ(accepted, 3);  // at 0, 10 and 20 s
  EXPECT_EQ(measured, 3);
  EXPECT_EQ(run.k.Ask(Command::kState, run.now), keeper::Answer::kState);
}

TEST(KeeperRequests, RequestsRideOnARunningMeasurementAndTheStrongestDecides) {
  Day run;
  Purpose p;
  ASSERT_TRUE(run.k.TakeDue(0, &p));
  EXPECT_EQ(p, Purpose::kScheduled);
  EXPECT_EQ(run.k.Ask(Command::kCalibrateConfirmed, 5), keeper::Answer::kAccepted);
  EXPECT_FALSE(run.k.TakeDue(6, &p));  // it rides on the running one
  std::vector<keeper::Notice> notices;
  EXPECT_TRUE(run.k.Finished(Outcome(2, 200000, 0, 1), 7, 0, 4, "", &notices).set);
  EXPECT_EQ(run.k.status().sources, 4u);  // an install changed them since the start
  EXPECT_FALSE(run.k.TakeDue(8, &p));
}

TEST(KeeperSchedule, MeasuresSoonAfterResume) {
  Day run;
  ASSERT_TRUE(run.Measure(Outcome(3, 0)));
  run.now = 3 * kMinute;
  run.k.Resumed(run.now);
  EXPECT_EQ(run.k.WaitMs(run.now), keeper::Keeper::kResumeDelayMs);
  EXPECT_FALSE(run.Measure(Outcome(3, 0)));
  run.now += keeper::Keeper::kResumeDelayMs;
  Purpose p;
  EXPECT_TRUE(run.Measure(Outcome(3, 0), &p));
  EXPECT_EQ(p, Purpose::kScheduled);
}

TEST(KeeperPipe, MessagesReadBackAndRefuseWhatIsMalformed) {
  keeper::Status s;
  s.answer = keeper::Answer::kBusy;
  s.measuring = s.found = true;
  s.measurements = 70000;
  s.offset_us = -2147483647;
  s.bound_us = 4000000000u;
  s.measured_utc_ms = -5;
  s.correction_ms = INT64_MIN;
  auto bytes = keeper::EncodeStatus(s);
  keeper::Status back;
  ASSERT_TRUE(keeper::TryDecodeStatus(bytes.data(), bytes.size(), &back));
  EXPECT_EQ(keeper::EncodeStatus(back), bytes);
  EXPECT_FALSE(keeper::TryDecodeStatus(bytes.data(), bytes.size() - 1, &back));
  bytes[6] = static_cast<uint8_t>(keeper::Answer::kCount);
  EXPECT_FALSE(keeper::TryDecodeStatus(bytes.data(), bytes.size(), &back));

  auto request = keeper::EncodeRequest(Command::kCalibrate);
  struct Row {
    size_t at;
    uint8_t value;
    size_t size;
    keeper::Answer want;
  };
  const Row rows[] = {{0, request[0], 8, keeper::Answer::kState},   {0, request[0], 7, keeper::Answer::kBadSize},
                      {0, request[0], 9, keeper::Answer::kBadSize}, {3, 0, 8, keeper::Answer::kBadMagic},
                      {4, 2, 8, keeper::Answer::kBadVersion},       {6, 0, 8, keeper::Answer::kUnknownCommand},
                      {6, 5, 8, keeper::Answer::kUnknownCommand},   {7, 1, 8, keeper::Answer::kUnknownCommand}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.at * 1000 + row.value * 10 + row.size);
    uint8_t bytes9[9] = {};
    std::copy(request.begin(), request.end(), bytes9);
    bytes9[row.at] = row.value;
    keeper::Request r;
    EXPECT_EQ(keeper::DecodeRequest(bytes9, row.size, &r), row.want);
    if (row.want == keeper::Answer::kState) {
      EXPECT_EQ(r.command, Command::kCalibrate);
    }
  }
}

TEST(KeeperWindowsTime, TwoKeepersAreToldOnce) {
  const struct {
    bool running;
    const char* type;
    bool want;
  } rows[] = {{false, "NTP", false}, {true, "NTP", true},      {true, "NoSync", false},
              {true, "nosync", false}, {true, "NoSyncX", true}, {true, "NoSyn", true},
              {true, nullptr, true},   {true, "AllSync", true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.type ? row.type : "(unread)");
    EXPECT_EQ(keeper::WindowsTimeSynchronises(row.running, row.type), row.want);
  }
  keeper::Keeper k;
  std::vector<keeper::Notice> notices;
  for (bool syncing : {false, true, true, false, true}) k.WindowsTime(syncing, &notices);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].kind, NoticeKind::kWindowsTime);
  EXPECT_TRUE(k.status().windows_time_syncing);
}

}  // namespace
