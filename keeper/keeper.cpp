// The time keeper's decisions (keeper.h).
#include "keeper/keeper.h"

#include <algorithm>
#include <cmath>
#include <cstdio>


namespace keeper {
namespace {

Purpose PurposeOf(Command command) {
  switch (command) {
    case Command::kCalibrate: return Purpose::kCalibrate;
    case Command::kCalibrateConfirmed: return Purpose::kCalibrateConfirmed;
    default: return Purpose::kMeasure;
  }
}

// Microseconds of a millisecond figure, held to the field's range: a figure
// past ±35 minutes shows as the range's end rather than wrapping.
int32_t ClampUs(double ms) {
  double us = std::isfinite(ms) ? std::round(ms * 1000.0) : 0.0;
  return static_cast<int32_t>(std::max(-2147483647.0, std::min(2147483647.0, us)));
}

}  // namespace

std::string SignedSecondsText(double ms) {
  char text[48];
  std::snprintf(text, sizeof text, "%+.3f", std::isfinite(ms) ? ms / 1000.0 : 0.0);
  return text;
}

std::string SecondsText(double ms) {
  char text[48];
  std::snprintf(text, sizeof text, "%.3f", std::isfinite(ms) ? std::fabs(ms) / 1000.0 : 0.0);
  return text;
}

std::string UtcText(int64_t utc_ms) {
  precise::Fields f = precise::FieldsOf(utc_ms);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", f.year, f.month, f.day, f.hour,
                f.minute, f.second);
  return text;
}

Keeper::Keeper(const precise::AutoPeriods& periods) : schedule_(periods) {}

std::vector<Notice> Keeper::Start(int64_t now_ms, size_t configured_sources) {
  schedule_.TurnOn(now_ms);
  status_.sources = static_cast<uint16_t>(std::min<size_t>(configured_sources, 65535));
  return {Notice{NoticeKind::kStarted, {std::to_string(configured_sources)}}};
}

void Keeper::Resumed(int64_t now_ms) { resume_due_ms_ = now_ms + kResumeDelayMs; }

Answer Keeper::Ask(Command command, int64_t now_ms) {
  if (command == Command::kState) return Answer::kState;
  if (!rate_.TryTake(now_ms)) return Answer::kBusy;
  Purpose wanted = PurposeOf(command);
  if (running_) {
    purpose_ = std::max(purpose_, wanted);  // the running measurement serves it
  } else {
    asked_purpose_ = asked_ ? std::max(asked_purpose_, wanted) : wanted;
    asked_ = true;
  }
  return Answer::kAccepted;
}

bool Keeper::TakeDue(int64_t now_ms, Purpose* purpose) {
  if (running_) return false;
  bool scheduled = schedule_.TakeDue(now_ms);
  if (resume_due_ms_ >= 0 && now_ms >= resume_due_ms_) {
    resume_due_ms_ = -1;
    scheduled = true;
  }
  if (!scheduled && !asked_) return false;
  Purpose p = scheduled ? Purpose::kScheduled : Purpose::kMeasure;
  if (asked_) p = std::max(p, asked_purpose_);
  asked_ = false;
  running_ = true;
  purpose_ = *purpose = p;
  status_.measuring = true;
  return true;
}

int64_t Keeper::WaitMs(int64_t now_ms) const {
  if (asked_) return 0;
  int64_t due = schedule_.on() && !schedule_.pending() ? schedule_.next_due_ms() : INT64_MAX;
  if (resume_due_ms_ >= 0) due = std::min(due, resume_due_ms_);
  return due == INT64_MAX ? INT64_MAX : std::max<int64_t>(0, due - now_ms);
}

SetOrder Keeper::Finished(const precise::Outcome& o, int64_t now_ms, int64_t utc_ms,
                          size_t configured_sources, const std::string& first_reason,
                          std::vector<Notice>* notices) {
  running_ = false;
  bool agreed = precise::Agreed(o, configured_sources);
  schedule_.Finished(now_ms, agreed);

  Status& s = status_;
  s.measuring = false;
  s.measurements += 1;
  s.found = o.has_offset;
  s.disagree = o.disagree;
  s.measured_utc_ms = utc_ms;
  s.sources = static_cast<uint16_t>(std::min<size_t>(configured_sources, 65535));  // an install may change them
  s.offset_us = ClampUs(o.offset_ms);
  s.bound_us = static_cast<uint32_t>(std::abs(static_cast<int64_t>(ClampUs(o.bound_ms))));
  s.agreed = static_cast<uint16_t>(o.Answered());
  s.false_tickers = static_cast<uint16_t>(o.FalseTickers());

  // The sources' health: told when it changes, not at every measurement.
  Health health = o.disagree ? Health::kDisagreeing
                  : !o.has_offset ? Health::kFailing
                  : agreed ? Health::kAgreeing
                           : health_;
  if (health != health_) {
    if (health == Health::kDisagreeing)
      notices->push_back({NoticeKind::kSourcesDisagree, {std::to_string(o.Answered() + o.FalseTickers())}});
    else if (health == Health::kFailing)
      notices->push_back({NoticeKind::kAllFailing, {UtcText(utc_ms), first_reason}});
    else if (health_ != Health::kUnknown)
      notices->push_back({NoticeKind::kSourcesBack, {std::to_string(o.Answered())}});
    health_ = health;
  }

  // A person's request sets any offset the sources agree on and that lies
  // certainly off zero; the schedule keeps the threshold.
  precise::AutoPeriods periods = schedule_.periods();
  if (purpose_ >= Purpose::kCalibrate) periods.threshold_ms = 0;
  precise::AutoDecision d = precise::DecideUnattended(o, periods, configured_sources,
                                                      purpose_ == Purpose::kCalibrateConfirmed);
  s.decision = static_cast<uint16_t>(d);
  if (purpose_ == Purpose::kMeasure) return {};
  if (d == precise::AutoDecision::kSet) {
    refused_kind_ = -1;
    return {true, o.offset_ms};
  }
  if (d == precise::AutoDecision::kNeedsQuestion) {
    int64_t correction = std::llround(o.offset_ms);
    bool over_year = precise::GuardFor(correction) == precise::Guard::kRefuse;
    NoticeKind kind = over_year ? NoticeKind::kRefusedOverYear : NoticeKind::kRefusedNeedsThree;
    if (refused_kind_ != static_cast<int>(kind)) {
      if (over_year)
        notices->push_back({kind, {SignedSecondsText(o.offset_ms)}});
      else
        notices->push_back({kind, {SignedSecondsText(o.offset_ms), std::to_string(o.Answered()),
                                   std::to_string(o.FalseTickers())}});
      refused_kind_ = static_cast<int>(kind);
    }
  }
  return {};
}

void Keeper::SetDone(double correction_ms, int64_t utc_ms, uint32_t error, std::vector<Notice>* notices) {
  if (error != 0) {
    if (!set_failing_) notices->push_back({NoticeKind::kSetFailed, {std::to_string(error)}});
    set_failing_ = true;
    return;
  }
  set_failing_ = false;
  status_.set_utc_ms = utc_ms;
  status_.correction_ms = std::llround(correction_ms);
  std::vector<std::string> inserts = {SignedSecondsText(correction_ms),
                                      SecondsText(status_.bound_us / 1000.0),
                                      std::to_string(status_.agreed), std::to_string(status_.sources)};
  if (!have_set_)
    notices->push_back({NoticeKind::kFirstSet, inserts});
  else if (std::fabs(correction_ms) > 1000)
    notices->push_back({NoticeKind::kLargeSet, inserts});
  have_set_ = true;
}

void Keeper::WindowsTime(bool synchronising, std::vector<Notice>* notices) {
  status_.windows_time_syncing = synchronising;
  if (synchronising && !windows_time_told_) notices->push_back({NoticeKind::kWindowsTime, {}});
  windows_time_told_ = windows_time_told_ || synchronising;
}

}  // namespace keeper
