// The precise program's guards on a correction and its automatic mode
// (policy.h): when a correction is applied, asked about or refused; when
// the sources agree well enough; what automatic mode decides and when it
// measures next.
#include "precise/policy.h"

#include <cmath>

namespace precise {

Guard GuardFor(int64_t correction_ms) {
  // llabs of INT64_MIN is undefined; anything that large is refused anyway.
  if (correction_ms > kRefuseAboveMs || correction_ms < -kRefuseAboveMs) return Guard::kRefuse;
  if (correction_ms > kAskAboveMs || correction_ms < -kAskAboveMs) return Guard::kAsk;
  return Guard::kApply;
}

int Outcome::Answered() const {
  int n = 0;
  for (const SourceView& s : sources) n += s.state == measure::SourceState::kAnswered;
  return n;
}

int Outcome::FalseTickers() const {
  int n = 0;
  for (const SourceView& s : sources) n += s.state == measure::SourceState::kFalseTicker;
  return n;
}

Outcome OutcomeOf(const measure::Result& r) {
  Outcome o;
  o.has_offset = r.found;
  o.disagree = r.disagree;
  o.offset_ms = r.offset * 1000.0;
  o.bound_ms = r.bound * 1000.0;
  bool have_rtt = false;
  for (const measure::SourceResult& s : r.sources) {
    SourceView v;
    v.url = s.url;
    v.offset_ms = s.offset * 1000.0;
    v.bound_ms = s.bound * 1000.0;
    v.rtt_ms = s.rtt * 1000.0;
    // A status that gave no time because a proxy may have written it says so,
    // with the status, rather than as a plain HTTP error.
    v.reason = s.failure.reply == measure::Reason::kProxyErrorPage ? s.failure.reply : s.failure.reason;
    v.reason_number = s.failure.number;
    v.state = s.state;
    if (v.state == measure::SourceState::kAnswered && (!have_rtt || v.rtt_ms < o.rtt_ms)) {
      o.rtt_ms = v.rtt_ms;
      have_rtt = true;
    }
    o.sources.push_back(v);
  }
  return o;
}

bool Agreed(const Outcome& o, size_t configured_sources) {
  int agreeing = o.Answered();
  bool enough = agreeing >= 2 || (agreeing == 1 && configured_sources == 1);
  return o.has_offset && !o.disagree && enough && agreeing > o.FalseTickers();
}

AutoDecision DecideAuto(const Outcome& o, const AutoPeriods& p, size_t configured_sources) {
  using D = AutoDecision;
  if (o.disagree) return D::kSourcesDisagree;
  // A figure that is not a number says nothing about the clock.
  if (!o.has_offset || !std::isfinite(o.offset_ms) || !std::isfinite(o.bound_ms)) return D::kNoOffset;
  if (!Agreed(o, configured_sources)) return D::kTooFewAgree;
  double distance = std::fabs(o.offset_ms), bound = std::fabs(o.bound_ms);
  double threshold = static_cast<double>(p.threshold_ms);
  if (distance + bound <= threshold) return D::kWithinThreshold;
  if (distance - bound <= static_cast<double>(kCertainMarginMs)) return D::kUncertain;
  if (distance <= threshold) return D::kWithinThreshold;
  // Unattended, nothing that would need a question is applied.
  if (GuardFor(std::llround(o.offset_ms)) != Guard::kApply) return D::kNeedsQuestion;
  return D::kSet;
}

AutoDecision DecideUnattended(const Outcome& o, const AutoPeriods& p, size_t configured_sources,
                              bool confirmed) {
  AutoDecision d = DecideAuto(o, p, configured_sources);
  if (d != AutoDecision::kNeedsQuestion || GuardFor(std::llround(o.offset_ms)) != Guard::kAsk) return d;
  bool many = o.Answered() >= kUnattendedLargeAgree && o.FalseTickers() == 0;
  return confirmed || many ? AutoDecision::kSet : AutoDecision::kNeedsQuestion;
}

int64_t NextAutoDelayMs(const AutoPeriods& p, int failures_in_a_row) {
  if (failures_in_a_row <= 0) return p.period_ms;
  int64_t delay = p.first_retry_ms;
  for (int i = 1; i < failures_in_a_row && delay < p.period_ms; ++i) delay *= 2;
  return delay < p.period_ms ? delay : p.period_ms;
}

void AutoSchedule::TurnOn(int64_t now_ms) {
  on_ = true;
  pending_ = false;
  failures_ = 0;
  next_due_ms_ = now_ms;
}

void AutoSchedule::TurnOff() {
  on_ = false;
  pending_ = false;
}

bool AutoSchedule::TakeDue(int64_t now_ms) {
  if (!on_ || pending_ || now_ms < next_due_ms_) return false;
  pending_ = true;
  last_start_ms_ = now_ms;
  return true;
}

bool AutoSchedule::Finished(int64_t now_ms, bool agreed) {
  have_result_ = true;
  result_ms_ = now_ms;
  if (!pending_) return false;  // a pressed measurement: the schedule stays
  pending_ = false;
  // Counted from the start, so that neither the measurement's own length
  // nor the presses in between move the rhythm.
  failures_ = agreed ? 0 : failures_ + 1;
  next_due_ms_ = last_start_ms_ + NextAutoDelayMs(periods_, failures_);
  return true;
}

bool AutoSchedule::Fresh(int64_t now_ms) const { return have_result_ && now_ms - result_ms_ < kFreshMs; }

}  // namespace precise
