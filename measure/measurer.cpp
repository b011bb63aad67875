// One source's measurer (measure.h): plans each timed request, keeps the
// honest interval of the server's offset and says why a source failed or
// was refused. The other parts of the core live beside it (see measure.h).
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "measure/measure.h"

namespace measure {

namespace {

// A round's fan: at most this many requests aimed at one tick.
constexpr int kMostFan = 9;
// A round that leaves the estimate, already within the round trip, wider
// than this share of what it was has not narrowed it (the path's noise, not
// the aim, decides it now); the second such round ends the measurement.
// Wider than the round trip, a round that fell short was only sent late.
constexpr double kShrunk = 0.7;
constexpr int kMostStalls = 2;
// The per-second limit keeps this far from the edge of its second: a
// request goes out a little after the instant it was launched for.
constexpr double kRateSlack = 0.05;

// A finer source: its good exchanges at most, back to back (the first opens
// the connection, so its interval is the widest).
constexpr size_t kFineExchanges = 5;
// A number of milliseconds this close to 1970 whose reading as seconds lies
// near the PC clock counts seconds: no honest server is there either way.
constexpr double kNearEpoch = 8 * 7 * 86400.0;

bool CountsSeconds(const Exchange& x, double pc_utc, double max_distance) {
  double as_ms = static_cast<double>(x.server_second) + x.server_fraction;
  return x.unix_number && as_ms >= 0 && as_ms < kNearEpoch &&
         std::fabs(as_ms * 1000 - pc_utc) <= max_distance;
}

}  // namespace

// Each good exchange says: the server read its clock at some instant of
// [u1, u4] (PC utc) and it showed `second` there, truncated. So the offset
// lies in [second - u4, second + 1 - u1]; the intersection of these over
// all exchanges is the honest interval. For aiming, we also assume the
// server read its clock at the middle of the exchange, which narrows each
// exchange to a one-second window [second - m, second + 1 - m); the offset
// estimate is the middle of the region most of those windows agree on.
// A round aims k requests at one tick of the server's second, each so that
// the server reads its clock when the offset would be at one of k points
// spread evenly over the estimate: every reply says which side of the tick
// it landed on, so together they cut the estimate k+1 ways. A planned
// request whose point has fallen outside the estimate by the replies in
// meanwhile is not sent. k is as large as the requests in flight at once
// allow (the round's requests are spread over the estimate's width and
// each lasts a round trip), within the request budget.
// A finer source (Exchange::resolution) narrows the same way, each exchange
// to [time - u4, time + resolution - u1], but has no tick to aim at: its
// estimate is the honest interval itself (PlanFine).

SourceMeasurer::SourceMeasurer(const Options& options, double pc_utc_minus_mono,
                               double start_mono)
    : options_(options), base_(pc_utc_minus_mono), start_(start_mono), next_send_(start_mono) {
  plan_.push_back({start_mono, 0, false});  // opens the connection
}

bool SourceMeasurer::Finished() const { return finished_; }

double SourceMeasurer::NextSendTime() const {
  if (plan_.empty()) return Deadline();
  double at = plan_.front().send;
  size_t n = launched_.size(), per_second = static_cast<size_t>(std::max(1, options_.max_per_second));
  if (n >= per_second) at = std::max(at, launched_[n - per_second] + 1 + kRateSlack);
  return at;
}

void SourceMeasurer::Launch(double at) {
  if (plan_.empty() || finished_) return;
  plan_.erase(plan_.begin());
  launched_.push_back(at);
  next_send_ = at;
  ++in_flight_;
}

double SourceMeasurer::ReferenceMono() const {
  if (samples_.empty()) return start_;
  const Sample& s = samples_.back();
  return (s.u1 + s.u4) / 2 - base_;
}

bool SourceMeasurer::Bounds(double* lo, double* hi) const {
  *lo = -std::numeric_limits<double>::infinity();
  *hi = std::numeric_limits<double>::infinity();
  for (const Sample& s : samples_) {
    *lo = std::max(*lo, static_cast<double>(s.second) - s.u4 + s.fraction);
    *hi = std::min(*hi, static_cast<double>(s.second) - s.u1 + s.fraction + s.width);
  }
  return !samples_.empty() && *lo <= *hi;
}

// The region covered by the most midpoint windows (ties: the one nearest
// the middle of the honest interval), cut to the honest interval.
void SourceMeasurer::UpdateEstimate() {
  double lo, hi;
  Bounds(&lo, &hi);
  struct Edge {
    double at;
    int step;  // +1 a window opens, -1 one closes
  };
  std::vector<Edge> edges;
  for (const Sample& s : samples_) {
    double m = (s.u1 + s.u4) / 2;
    double open = std::max(lo, static_cast<double>(s.second) - m);
    double close = std::min(hi, static_cast<double>(s.second) + 1 - m);
    if (open > close) continue;  // the window lies outside the honest interval
    edges.push_back({open, +1});
    edges.push_back({close, -1});
  }
  double best_lo = lo, best_hi = hi;
  // Ties go to the region nearest the last estimate: replies near the tick
  // disagree by chance, and flipping between equal regions would stall.
  double previous = have_estimate_ ? (est_lo_ + est_hi_) / 2 : (lo + hi) / 2;
  if (!edges.empty()) {
    // Closing before opening at equal positions: windows are half-open.
    std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) {
      return a.at < b.at || (a.at == b.at && a.step < b.step);
    });
    int depth = 0, best = -1;
    double best_distance = 0;
    for (size_t i = 0; i + 1 < edges.size(); ++i) {
      depth += edges[i].step;
      double a = edges[i].at, b = edges[i + 1].at;
      if (b <= a && !(depth > best)) continue;
      double distance = previous < a ? a - previous : previous > b ? previous - b : 0;
      if (depth > best || (depth == best && distance < best_distance)) {
        best = depth;
        best_distance = distance;
        best_lo = a;
        best_hi = b;
      }
    }
  }
  est_lo_ = best_lo;
  est_hi_ = best_hi;
}

// How many requests a round of this width may aim at one tick: spread over
// the width, each lasting a (generous) round trip, no more may be in flight
// at once than the source's connections.
int SourceMeasurer::Fan(double width, int budget) const {
  double rtt = 1.5 * min_rtt_ + 0.005;
  int most = std::min({kMostFan, budget, std::max(1, options_.max_per_second - 1)});
  if (most < 1) return 0;
  for (int k = most; k > 1; --k) {
    double spacing = width / (k + 1);
    int at_once = spacing > 0 ? static_cast<int>(std::min<double>(k, std::floor(rtt / spacing) + 1)) : k;
    if (at_once <= options_.connections) return k;
  }
  return 1;
}

// The first tick of the server's second (utc, on the PC clock plus the
// phase) that a request for `phase` sent at `earliest` (mono) or later can
// meet: the server reads its clock half a round trip after we send.
double SourceMeasurer::Tick(double phase, double earliest) const {
  return std::ceil(earliest + base_ + min_rtt_ / 2 + phase);
}

// Plans a request for each of `phases` at `tick`, or at the first later
// tick all of them can still reach: each is sent so that the server reads
// its clock at the instant u where u + phase is that whole second.
void SourceMeasurer::Aim(const std::vector<double>& phases, bool check, double earliest, double tick) {
  double most = *std::max_element(phases.begin(), phases.end());
  tick = std::max(tick, Tick(most, earliest));
  for (double phase : phases) plan_.push_back({tick - phase - min_rtt_ / 2 - base_, phase, check});
  std::sort(plan_.begin(), plan_.end(), [](const Planned& a, const Planned& b) { return a.send < b.send; });
}

void SourceMeasurer::Plan(double now) {
  if (fine_) return PlanFine(now);
  plan_.clear();
  int budget = options_.max_requests - static_cast<int>(launched_.size());
  if (budget <= 0) return Stop();
  double earliest = std::max(now + options_.send_margin, start_);
  if (samples_.empty()) {
    plan_.push_back({earliest, 0, false});
  } else {
    PlanRound(earliest);
    if (finished_) return;
  }
  // Leave room for a reply slower than the fastest one seen.
  double last = start_ + options_.max_seconds - 3 * min_rtt_ - 0.05;
  plan_.erase(std::remove_if(plan_.begin(), plan_.end(), [&](const Planned& p) { return p.send > last; }),
              plan_.end());
  if (plan_.empty()) Stop();
}

void SourceMeasurer::PlanRound(double earliest) {
  int budget = options_.max_requests - static_cast<int>(launched_.size());
  double width = est_hi_ - est_lo_;
  if (round_width_ > 0 && width > kShrunk * round_width_ && width < 2 * min_rtt_) ++stalls_;
  round_width_ = width;
  double lo, hi;
  Bounds(&lo, &hi);
  // Converged. A server whose clock stepped during the measurement can
  // leave replies that agree only on a thin interval between its two
  // clocks. So two requests are aimed just outside the honest interval, one
  // beyond each end: an honest server answers on the predicted side of its
  // tick (its interval holds the truth, so it can never empty the
  // intersection), while a clock that moved past that end answers on the
  // other side and empties it: the step is then named. They ride with the
  // round that is expected to converge, or go alone.
  double margin = min_rtt_ / 2 + options_.target_resolution;
  std::vector<double> checks = {hi + margin, lo - margin};
  bool done = width <= 2 * options_.target_resolution || stalls_ >= kMostStalls;
  if (done) {
    if (checked_ || budget < 2) return Stop();
    checked_ = true;
    return Aim(checks, true, earliest, 0);
  }
  // The round goes at the first tick where the per-second limit leaves room
  // for two of its requests at least, and aims no more than that room.
  int room = 0;
  double widest = est_lo_ + width * kMostFan / (kMostFan + 1);  // the largest phase a fan aims at
  double tick = Tick(widest, earliest);
  for (int wait = 0; wait < 2; ++wait, tick += 1) {
    double first = tick - widest - min_rtt_ / 2 - base_;
    room = options_.max_per_second -
           static_cast<int>(std::count_if(launched_.begin(), launched_.end(),
                                          [&](double at) { return at > first - 1 - kRateSlack; }));
    if (room >= 2) break;
  }
  int fan = Fan(width, std::min(room, budget - (checked_ ? 0 : 2)));
  if (fan < 1) return Stop();
  std::vector<double> phases;
  for (int j = 0; j < fan; ++j) phases.push_back(est_lo_ + width * (j + 1) / (fan + 1));
  Aim(phases, false, earliest, tick);
  if (!checked_ && width / (fan + 1) <= 2 * options_.target_resolution) {
    checked_ = true;
    Aim(checks, true, earliest, tick);
  }
}

// Drops the round's planned requests whose point the replies so far have
// already decided.
void SourceMeasurer::Prune() {
  plan_.erase(std::remove_if(plan_.begin(), plan_.end(),
                             [&](const Planned& p) {
                               return !p.check && (p.phase <= est_lo_ || p.phase >= est_hi_);
                             }),
              plan_.end());
}

// Back to back over the kept-alive connection until kFineExchanges good
// ones, or until one past the connection's opening narrowed nothing: the
// path's fastest exchanges are then already in.
void SourceMeasurer::PlanFine(double now) {
  plan_.clear();
  if (static_cast<int>(launched_.size()) >= options_.max_requests || samples_.size() >= kFineExchanges ||
      fine_stalled_)
    return Stop();
  double send = std::max(now + options_.send_margin, start_);
  if (send + 3 * min_rtt_ + 0.05 > start_ + options_.max_seconds) return Stop();
  plan_.push_back({send, 0, false});
}

void SourceMeasurer::Take(const Exchange& x) {
  if (finished_) return;
  if (in_flight_ > 0) {
    --in_flight_;
  } else {  // sent one at a time, without Launch()
    if (!plan_.empty()) plan_.erase(plan_.begin());
    launched_.push_back(std::isfinite(x.sent) ? x.sent : next_send_);
  }
  // Our own instants come from a counter that only runs forward: a reply
  // received before it was sent, or an instant that is no number, says the
  // counter broke (or wrapped), so the exchange proves nothing.
  bool instants_ok = std::isfinite(x.sent) && std::isfinite(x.received) && x.received >= x.sent;
  if (!x.ok || !instants_ok) {
    if (instants_ok) {
      last_failure_ = x.failure;
      if (last_failure_.reason == Reason::kNone) last_failure_.reason = Reason::kNoReply;
    } else {
      last_failure_ = Failure{Reason::kBadInstants};
    }
    if (++failures_ >= options_.max_failures) return Stop();  // says the last failure
    double now = std::isfinite(x.received) ? x.received : std::isfinite(x.sent) ? x.sent : next_send_;
    if (plan_.empty() && in_flight_ == 0) Plan(std::max(now, next_send_));
    return;
  }
  failures_ = 0;
  Sample s{x.sent + base_, x.received + base_, x.server_second};
  double pc = (s.u1 + s.u4) / 2;
  if (x.resolution > 0) {
    fine_ = true;
    s.fraction = x.server_fraction;
    s.width = x.resolution;
    if (CountsSeconds(x, pc, options_.max_distance))
      return Finish(SourceState::kFailed, Failure{Reason::kFieldInSeconds, DateText(s.second)});
  }
  if (static_cast<double>(s.second) < options_.build_utc)
    return Finish(SourceState::kRefused,
                  Failure{Reason::kBeforeBuildDate, DateText(s.second)});
  if (std::fabs(static_cast<double>(s.second) - pc) > options_.max_distance)
    return Finish(SourceState::kRefused,
                  Failure{Reason::kTooFarFromPcClock, DateText(s.second)});
  // A cache's copy (one that ignored the request's no-cache and sent no
  // Age) is no reading of the server's clock: never taken as the time, nor
  // named a step of that clock. The replies before it may have come from the
  // same copy within its second, so the source's answer rests on none of them.
  Failure cached = CachedReply(x);
  if (cached.reason != Reason::kNone) return Finish(SourceState::kFailed, std::move(cached));
  double rtt = s.u4 - s.u1;
  if (rtt < 0) rtt = 0;
  samples_.push_back(s);
  // The first exchange opens the connection: its round trip is not typical.
  min_rtt_ = samples_.size() <= 2 ? rtt : std::min(min_rtt_, rtt);
  double lo, hi;
  if (!Bounds(&lo, &hi))
    return Finish(SourceState::kFailed, Failure{Reason::kServerClockStepped});
  if (fine_) {
    fine_stalled_ = samples_.size() > 2 && hi - lo >= fine_width_;
    fine_width_ = hi - lo;
    est_lo_ = lo;
    est_hi_ = hi;
    have_estimate_ = true;
    if (plan_.empty() && in_flight_ == 0) Plan(x.received);
    return;
  }
  UpdateEstimate();
  have_estimate_ = true;
  Prune();
  if (plan_.empty() && in_flight_ == 0) Plan(x.received);
}

// The server read its clock after our send instant u1, and its offset is at
// least lo, so an honest reply shows at least floor(u1 + lo). A second below
// that is one the server had left before we asked: a cache kept it (or the
// server's clock was set back by a second or more, which no reply can tell
// apart). An honest reply never trips this, however slow or asymmetric its
// path.
Failure SourceMeasurer::CachedReply(const Exchange& x) const {
  double lo, hi;
  if (!Bounds(&lo, &hi)) return Failure{};
  double earliest = std::floor(x.sent + base_ + lo);
  double second = static_cast<double>(x.server_second);
  if (!(second < earliest)) return Failure{};
  // Within a year of the PC clock (checked first), so the count fits.
  const long long behind = static_cast<long long>(earliest - second);
  return Failure{Reason::kCachedReply,
                 "a Date " + std::to_string(behind) + " s older than the server's clock"};
}

void SourceMeasurer::Finish(SourceState state, Failure failure) {
  finished_ = true;
  state_ = state;
  failure_ = std::move(failure);
}

void SourceMeasurer::Stop(Reason reason) {
  if (finished_) return;
  if (!samples_.empty()) return Finish(SourceState::kAnswered, Failure{});
  if (reason != Reason::kNone) return Finish(SourceState::kFailed, Failure{reason});
  if (last_failure_.reason == Reason::kNone)
    return Finish(SourceState::kFailed, Failure{Reason::kNoReplyInTime});
  Finish(SourceState::kFailed, last_failure_);
}

SourceResult SourceMeasurer::Result(const std::string& url) const {
  SourceResult r;
  r.url = url;
  r.state = finished_ ? state_ : samples_.empty() ? SourceState::kFailed : SourceState::kAnswered;
  r.failure = failure_;
  if (r.state == SourceState::kFailed && failure_.reason == Reason::kNone)
    r.failure = Failure{Reason::kUnfinished};
  r.requests = static_cast<int>(launched_.size());
  r.rtt = min_rtt_;
  double lo, hi;
  if (r.state != SourceState::kFailed && Bounds(&lo, &hi)) {
    double est = std::min(hi, std::max(lo, (est_lo_ + est_hi_) / 2));
    r.offset = est;
    r.bound = std::max(est - lo, hi - est);
  }
  return r;
}

}  // namespace measure
