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

constexpr int kWarmUpExchanges = 2;  // opens the connection, then times a round trip

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
// Each timed request is aimed so that the server reads its clock exactly
// when the estimate's midpoint says its second ticks over: the reply says
// which side of the tick it landed on and halves the estimate's width.
// A finer source (Exchange::resolution) narrows the same way, each exchange
// to [time - u4, time + resolution - u1], but has no tick to aim at: its
// estimate is the honest interval itself (PlanFine).

SourceMeasurer::SourceMeasurer(const Options& options, double pc_utc_minus_mono,
                               double start_mono)
    : options_(options), base_(pc_utc_minus_mono), start_(start_mono), next_send_(start_mono) {}

bool SourceMeasurer::Finished() const { return finished_; }
double SourceMeasurer::NextSendTime() const { return next_send_; }

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

void SourceMeasurer::Plan(double now) {
  if (fine_) return PlanFine(now);
  if (requests_ >= options_.max_requests) return Stop();
  double earliest = now + options_.send_margin;
  if (samples_.size() < static_cast<size_t>(kWarmUpExchanges) || !have_estimate_) {
    next_send_ = std::max(earliest, start_);
  } else {
    double probe = (est_lo_ + est_hi_) / 2;
    if (est_hi_ - est_lo_ <= 2 * options_.target_resolution) {
      // Converged. A server whose clock stepped during the measurement can
      // leave replies that agree only on a thin interval between its two
      // clocks. So the last two requests are aimed just outside the honest
      // interval, one beyond each end: an honest server answers on the
      // predicted side of its tick (its interval holds the truth, so it can
      // never empty the intersection), while a clock that moved past that end
      // answers on the other side and empties it: the step is then named.
      if (edge_checks_ >= 2) return Stop();
      double lo, hi;
      Bounds(&lo, &hi);
      double margin = min_rtt_ / 2 + options_.target_resolution;
      probe = edge_checks_ == 0 ? hi + margin : lo - margin;
      ++edge_checks_;
    }
    // Aim: the server reads its clock (half a round trip after we send) at
    // the instant u where u + probe is a whole second.
    double lead = min_rtt_ / 2;
    double earliest_utc = earliest + base_;
    double k = std::ceil(earliest_utc + lead + probe);
    next_send_ = k - probe - lead - base_;
  }
  // Leave room for a reply slower than the fastest one seen.
  if (next_send_ + 3 * min_rtt_ + 0.05 > start_ + options_.max_seconds) Stop();
}

// Back to back over the kept-alive connection until kFineExchanges good
// ones, or until one past the connection's opening narrowed nothing: the
// path's fastest exchanges are then already in.
void SourceMeasurer::PlanFine(double now) {
  if (requests_ >= options_.max_requests || samples_.size() >= kFineExchanges || fine_stalled_)
    return Stop();
  next_send_ = std::max(now + options_.send_margin, start_);
  if (next_send_ + 3 * min_rtt_ + 0.05 > start_ + options_.max_seconds) Stop();
}

void SourceMeasurer::Take(const Exchange& x) {
  if (finished_) return;
  ++requests_;
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
    return Plan(std::max(now, next_send_));
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
    return Plan(x.received);
  }
  UpdateEstimate();
  have_estimate_ = true;
  Plan(x.received);
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
  r.requests = requests_;
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
