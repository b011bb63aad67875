// The time keeper's decisions, apart from any platform: when the service
// measures, what it does with a finished measurement, which client requests
// it takes, and which changes of state deserve an event in the log. The
// service (service/) does the waiting, the measuring and the setting and
// asks this class at each turn; the native tests drive it in virtual time.
//
// Decides by the precise window's own code (precise::DecideUnattended over
// precise::AutoSchedule's rhythm), so the window's automatic mode and the
// service cannot drift apart.
// Owns: plain values only; nothing grows with the number of measurements.
// May call: precise/policy.h, keeper/protocol.h, the C++ standard library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "keeper/protocol.h"
#include "precise/policy.h"

namespace keeper {

// What the log is told: one notice per change of state, never one per
// measurement. The service maps each kind to its message.
enum class NoticeKind : int {
  kStarted,            // sources
  kStopped,
  kFirstSet,           // correction, bound, agreeing, configured
  kLargeSet,           // a set above one second: same inserts
  kSourcesDisagree,    // sources that answered
  kAllFailing,         // since (UTC text), the first source's reason
  kSourcesBack,        // agreeing
  kRefusedNeedsThree,  // correction, agreeing, false tickers
  kRefusedOverYear,    // correction
  kWindowsTime,
  kSetFailed,          // the platform's error number
  kCount
};
struct Notice {
  NoticeKind kind;
  std::vector<std::string> inserts;
};

// Why a measurement runs and what may follow it, weakest first: when
// several requests meet in one measurement, the strongest decides.
enum class Purpose { kMeasure, kScheduled, kCalibrate, kCalibrateConfirmed };

// A correction to apply: the service sets the clock to its own UTC now plus
// offset_ms at the moment it sets.
struct SetOrder {
  bool set = false;
  double offset_ms = 0;
};

class Keeper {
 public:
  // Measurements are due a period apart; after resume this soon.
  static constexpr int64_t kResumeDelayMs = 5000;

  explicit Keeper(const precise::AutoPeriods& periods = precise::AutoPeriods());
  // The service started at now_ms (monotonic): the first measurement is due
  // at once.
  std::vector<Notice> Start(int64_t now_ms, size_t configured_sources);
  // The PC woke from sleep: measure soon (the network needs a moment).
  void Resumed(int64_t now_ms);
  // A client's request over the pipe. kState for a state request, kAccepted
  // when a measurement will run (or one already runs and now serves it),
  // kBusy when a measurement was taken less than 10 s ago.
  Answer Ask(Command command, int64_t now_ms);
  // Whether a measurement should start now, and why. The caller runs it and
  // calls Finished. False while one runs.
  bool TakeDue(int64_t now_ms, Purpose* purpose);
  // Milliseconds until the next measurement is due (0: now); meaningful
  // while none runs.
  int64_t WaitMs(int64_t now_ms) const;
  // A measurement finished: what to set (if anything) and what to log.
  SetOrder Finished(const precise::Outcome& outcome, int64_t now_ms, int64_t utc_ms,
                    size_t configured_sources, const std::string& first_reason,
                    std::vector<Notice>* notices);
  // The set ordered by Finished was made (error 0) or failed.
  void SetDone(double correction_ms, int64_t utc_ms, uint32_t error, std::vector<Notice>* notices);
  // The Windows Time service's state as last seen: logs the fight once.
  void WindowsTime(bool synchronising, std::vector<Notice>* notices);
  Status status() const { return status_; }

 private:
  precise::AutoSchedule schedule_;
  RateLimit rate_;
  bool running_ = false;
  bool asked_ = false;          // a client's measurement waits to start
  Purpose asked_purpose_ = Purpose::kMeasure;
  Purpose purpose_ = Purpose::kScheduled;
  int64_t resume_due_ms_ = -1;
  bool have_set_ = false;
  // The last state the log was told about, so that it hears only changes.
  enum class Health { kUnknown, kAgreeing, kDisagreeing, kFailing } health_ = Health::kUnknown;
  int refused_kind_ = -1;       // the last refusal's notice kind, -1 none since
  bool set_failing_ = false;    // the last set failed (told once)
  bool windows_time_told_ = false;
  Status status_;
};

// " +0.153" style texts for the inserts: seconds with three decimals.
std::string SignedSecondsText(double ms);
std::string SecondsText(double ms);
// "2026-12-07 04:33:29 UTC"
std::string UtcText(int64_t utc_ms);

}  // namespace keeper
