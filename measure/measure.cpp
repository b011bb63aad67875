#include "measure/measure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

namespace measure {

namespace {

constexpr int kWarmUpExchanges = 2;  // opens the connection, then times a round trip
constexpr int64_t kBeijingMinusUtc = 8 * 3600;
constexpr double kSecondsPerDay = 86400.0;

// Any int64 second, as a reply may carry one: the day is a floor division
// (no negation, which overflows at the minimum), and the civil arithmetic
// below stays far inside int64 for |days| up to 2^63 / 86400.
std::string DateText(int64_t utc) {
  int64_t days = utc / 86400 - (utc % 86400 < 0);
  // Civil from days (Howard Hinnant's algorithm).
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t d = doy - (153 * mp + 2) / 5 + 1;
  int64_t m = mp < 10 ? mp + 3 : mp - 9;
  int64_t y = yoe + era * 400 + (m <= 2);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld", static_cast<long long>(y),
                static_cast<long long>(m), static_cast<long long>(d));
  return buf;
}

}  // namespace

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// ---------------------------------------------------------------------------
// One source.
//
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
    *lo = std::max(*lo, static_cast<double>(s.second) - s.u4);
    *hi = std::min(*hi, static_cast<double>(s.second) + 1 - s.u1);
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
  if (requests_ >= options_.max_requests) return Stop("");
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
      if (edge_checks_ >= 2) return Stop("");
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
  if (next_send_ + 3 * min_rtt_ + 0.05 > start_ + options_.max_seconds) Stop("");
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
      last_failure_ = x.failure.empty() ? "no reply" : x.failure;
      last_failure_code_ = x.reason == Reason::kNone ? Reason::kNoReply : x.reason;
      last_failure_number_ = x.reason_number;
    } else {
      last_failure_ = "the PC's receive instant is before its send instant";
      last_failure_code_ = Reason::kBadInstants;
      last_failure_number_ = 0;
    }
    if (++failures_ >= options_.max_failures) return Stop("");  // says the last failure
    double now = std::isfinite(x.received) ? x.received : std::isfinite(x.sent) ? x.sent : next_send_;
    return Plan(std::max(now, next_send_));
  }
  failures_ = 0;
  Sample s{x.sent + base_, x.received + base_, x.server_second};
  double pc = (s.u1 + s.u4) / 2;
  if (static_cast<double>(s.second) < options_.build_utc)
    return Finish(SourceState::kRefused, Reason::kBeforeBuildDate,
                  "refused: server time " + DateText(s.second) + " is before this program was built");
  if (std::fabs(static_cast<double>(s.second) - pc) > options_.max_distance)
    return Finish(SourceState::kRefused, Reason::kTooFarFromPcClock,
                  "refused: server time " + DateText(s.second) +
                      " is more than a year from the PC clock");
  double rtt = s.u4 - s.u1;
  if (rtt < 0) rtt = 0;
  samples_.push_back(s);
  // The first exchange opens the connection: its round trip is not typical.
  min_rtt_ = samples_.size() <= 2 ? rtt : std::min(min_rtt_, rtt);
  double lo, hi;
  if (!Bounds(&lo, &hi))
    return Finish(SourceState::kFailed, Reason::kServerClockStepped,
                  "inconsistent replies (the server clock stepped)");
  UpdateEstimate();
  have_estimate_ = true;
  Plan(x.received);
}

void SourceMeasurer::Finish(SourceState state, Reason code, std::string reason) {
  finished_ = true;
  state_ = state;
  reason_code_ = code;
  reason_number_ = 0;
  reason_ = std::move(reason);
}

void SourceMeasurer::Stop(const std::string& reason, Reason code) {
  if (finished_) return;
  if (!samples_.empty()) return Finish(SourceState::kAnswered, Reason::kNone, "");
  if (!reason.empty())
    return Finish(SourceState::kFailed, code == Reason::kNone ? Reason::kNoReply : code, reason);
  if (last_failure_.empty())
    return Finish(SourceState::kFailed, Reason::kTimedOut, "no reply in time");
  Finish(SourceState::kFailed, last_failure_code_, last_failure_);
  reason_number_ = last_failure_number_;
}

SourceResult SourceMeasurer::Result(const std::string& url) const {
  SourceResult r;
  r.url = url;
  r.state = finished_ ? state_ : samples_.empty() ? SourceState::kFailed : SourceState::kAnswered;
  r.reason = reason_;
  r.reason_code = reason_code_;
  r.reason_number = reason_number_;
  if (r.state == SourceState::kFailed && r.reason.empty()) {
    r.reason = "unfinished";
    r.reason_code = Reason::kUnfinished;
  }
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

// ---------------------------------------------------------------------------
// Several sources.

// Each answered source says the offset lies in its interval (when its
// server is honest). The largest group of intervals with a common point is
// the group that can all be honest at once; any other source is wrong by
// more than its own bound, however close it is. Found by sweeping the
// sorted endpoints: the depth (intervals open) is highest over the common
// points of the largest group. Within one region of that depth the open set
// cannot change (a close and an open at one point would first raise the
// depth beyond the highest), so each such region is one distinct group, and
// two regions mean two groups of equal size: no way to tell which is right.
void Combine(Result& result) {
  result.found = result.disagree = false;
  result.truechimers = 0;
  result.offset = result.bound = 0;
  struct End {
    double at;
    int step;  // +1 opens, -1 closes
    size_t source;
  };
  std::vector<End> ends;
  for (size_t i = 0; i < result.sources.size(); ++i) {
    const SourceResult& s = result.sources[i];
    if (s.state != SourceState::kAnswered) continue;
    ends.push_back({s.offset - s.bound, +1, i});
    ends.push_back({s.offset + s.bound, -1, i});
  }
  size_t answered = ends.size() / 2;
  if (answered == 0) return;
  // Opens before closes at one point: intervals are closed, touching ones
  // share that point.
  std::sort(ends.begin(), ends.end(), [](const End& a, const End& b) {
    return a.at < b.at || (a.at == b.at && a.step > b.step);
  });
  int depth = 0, best = 0, regions = 0;
  double best_lo = 0, best_hi = 0;
  for (size_t i = 0; i < ends.size(); ++i) {
    depth += ends[i].step;
    if (ends[i].step < 0 || depth < best) continue;
    if (depth > best) regions = 0;
    if (depth > best || regions == 0) {
      best_lo = ends[i].at;
      best_hi = ends[i + 1].at;  // the next end closes (depth can rise no higher)
    }
    best = depth;
    ++regions;
  }
  bool majority = regions == 1 && 2 * static_cast<size_t>(best) > answered;
  for (SourceResult& s : result.sources) {
    if (s.state != SourceState::kAnswered) continue;
    bool chimes = majority && s.offset - s.bound <= best_lo && s.offset + s.bound >= best_hi;
    if (!chimes) s.state = SourceState::kFalseTicker;
  }
  if (!majority) {
    result.disagree = true;
    return;
  }
  result.found = true;
  result.truechimers = best;
  result.offset = (best_lo + best_hi) / 2;
  result.bound = (best_hi - best_lo) / 2;
}

// ---------------------------------------------------------------------------
// Reading a reply's time.

namespace {

bool Digits(const std::string& t, size_t at, size_t n, int* value) {
  if (at + n > t.size()) return false;
  int v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    v = v * 10 + (t[i] - '0');
  }
  *value = v;
  return true;
}

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool CivilToUtc(int y, int mo, int d, int h, int mi, int s, int64_t* utc) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1601 || mo < 1 || mo > 12 || d < 1) return false;
  if (d > kDays[mo - 1] + (mo == 2 && LeapYear(y))) return false;
  if (h > 23 || mi > 59 || s > 59) return false;
  *utc = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 +
         h * 3600 + mi * 60 + s;
  return true;
}

int MonthIndex(const std::string& t, size_t at) {
  static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (at + 3 > t.size()) return 0;
  for (int i = 0; i < 12; ++i)
    if (t.compare(at, 3, kMonths[i]) == 0) return i + 1;
  return 0;
}

bool Clock(const std::string& t, size_t at, int* h, int* mi, int* s) {
  return at + 8 <= t.size() && Digits(t, at, 2, h) && t[at + 2] == ':' &&
         Digits(t, at + 3, 2, mi) && t[at + 5] == ':' && Digits(t, at + 6, 2, s);
}

}  // namespace

bool TryParseBeijingTime(const std::string& t, int64_t* utc) {
  int y, mo, d, h, mi, s;
  if (t.size() != 19 || t[4] != '-' || t[7] != '-' || t[10] != ' ') return false;
  if (!Digits(t, 0, 4, &y) || !Digits(t, 5, 2, &mo) || !Digits(t, 8, 2, &d) ||
      !Clock(t, 11, &h, &mi, &s))
    return false;
  int64_t local;
  if (!CivilToUtc(y, mo, d, h, mi, s, &local)) return false;
  *utc = local - kBeijingMinusUtc;
  return true;
}

bool TryParseHttpDate(const std::string& text, int64_t* utc) {
  std::string t = text;
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\r')) t.pop_back();
  size_t start = t.find_first_not_of(" \t");
  if (start == std::string::npos) return false;
  t = t.substr(start);
  int y, mo, d, h, mi, s;
  size_t comma = t.find(',');
  if (comma == 3) {
    // IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT"
    if (t.size() != 29 || t[4] != ' ' || t[7] != ' ' || t[11] != ' ' || t[16] != ' ' ||
        t.compare(25, 4, " GMT") != 0)
      return false;
    if (!Digits(t, 5, 2, &d) || !(mo = MonthIndex(t, 8)) || !Digits(t, 12, 4, &y) ||
        !Clock(t, 17, &h, &mi, &s))
      return false;
  } else if (comma != std::string::npos) {
    // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT"
    size_t p = comma + 2;
    if (p + 22 != t.size() || t[comma + 1] != ' ' || t[p + 2] != '-' || t[p + 6] != '-' ||
        t[p + 9] != ' ' || t.compare(p + 18, 4, " GMT") != 0)
      return false;
    if (!Digits(t, p, 2, &d) || !(mo = MonthIndex(t, p + 3)) || !Digits(t, p + 7, 2, &y) ||
        !Clock(t, p + 10, &h, &mi, &s))
      return false;
    y += y < 70 ? 2000 : 1900;
  } else {
    // asctime: "Sun Nov  6 08:49:37 1994"
    if (t.size() != 24 || t[3] != ' ' || t[7] != ' ' || t[10] != ' ' || t[19] != ' ') return false;
    if (!(mo = MonthIndex(t, 4)) || !Clock(t, 11, &h, &mi, &s) || !Digits(t, 20, 4, &y))
      return false;
    std::string day = t.substr(8, 2);
    if (day[0] == ' ') day[0] = '0';
    if (!Digits(day, 0, 2, &d)) return false;
  }
  return CivilToUtc(y, mo, d, h, mi, s, utc);
}

namespace {

// A strict JSON reader over the whole reply; remembers the top-level
// member "sysTime2" when it is a string.
class JsonReader {
 public:
  explicit JsonReader(const std::string& t) : t_(t) {}
  bool ReadTop(std::string* value) {
    Space();
    if (!Object(0, value)) return false;
    Space();
    return p_ == t_.size();
  }

 private:
  static constexpr int kMaxDepth = 64;
  void Space() {
    while (p_ < t_.size() && (t_[p_] == ' ' || t_[p_] == '\t' || t_[p_] == '\n' || t_[p_] == '\r'))
      ++p_;
  }
  bool Eat(char c) {
    Space();
    if (p_ < t_.size() && t_[p_] == c) {
      ++p_;
      return true;
    }
    return false;
  }
  static void PutUtf8(uint32_t c, std::string* out) {
    if (c < 0x80) {
      *out += static_cast<char>(c);
    } else if (c < 0x800) {
      *out += static_cast<char>(0xC0 | (c >> 6));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *out += static_cast<char>(0xE0 | (c >> 12));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (c >> 18));
      *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  bool Hex4(uint32_t* v) {
    if (p_ + 4 > t_.size()) return false;
    *v = 0;
    for (int i = 0; i < 4; ++i) {
      char c = t_[p_++];
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return false;
      *v = *v * 16 + static_cast<uint32_t>(d);
    }
    return true;
  }
  bool String(std::string* out) {
    Space();
    if (p_ >= t_.size() || t_[p_] != '"') return false;
    ++p_;
    while (p_ < t_.size()) {
      unsigned char c = static_cast<unsigned char>(t_[p_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') {
        *out += static_cast<char>(c);
        continue;
      }
      if (p_ >= t_.size()) return false;
      char e = t_[p_++];
      static const char kFrom[] = "\"\\/bfnrt", kTo[] = "\"\\/\b\f\n\r\t";
      if (const char* f = e ? std::strchr(kFrom, e) : nullptr) {
        *out += kTo[f - kFrom];
      } else if (e == 'u') {
        uint32_t v;
        if (!Hex4(&v)) return false;
        if (v >= 0xD800 && v < 0xDC00 && p_ + 1 < t_.size() && t_[p_] == '\\' &&
            t_[p_ + 1] == 'u') {
          p_ += 2;
          uint32_t low;
          if (!Hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
          v = 0x10000 + ((v - 0xD800) << 10) + (low - 0xDC00);
        }
        PutUtf8(v, out);
      } else {
        return false;
      }
    }
    return false;
  }
  bool Number() {
    size_t s = p_;
    if (p_ < t_.size() && t_[p_] == '-') ++p_;
    auto digits = [&] {
      size_t b = p_;
      while (p_ < t_.size() && t_[p_] >= '0' && t_[p_] <= '9') ++p_;
      return p_ - b;
    };
    size_t first = p_;
    size_t n = digits();
    if (n == 0 || (n > 1 && t_[first] == '0')) return false;
    if (p_ < t_.size() && t_[p_] == '.') {
      ++p_;
      if (digits() == 0) return false;
    }
    if (p_ < t_.size() && (t_[p_] == 'e' || t_[p_] == 'E')) {
      ++p_;
      if (p_ < t_.size() && (t_[p_] == '+' || t_[p_] == '-')) ++p_;
      if (digits() == 0) return false;
    }
    return p_ > s;
  }
  bool Word(const char* w) {
    size_t n = std::strlen(w);
    if (t_.compare(p_, n, w) != 0) return false;
    p_ += n;
    return true;
  }
  bool Value(int depth) {
    Space();
    if (p_ >= t_.size() || depth > kMaxDepth) return false;
    char c = t_[p_];
    if (c == '{') return Object(depth + 1, nullptr);
    if (c == '[') {
      ++p_;
      if (Eat(']')) return true;
      do {
        if (!Value(depth + 1)) return false;
      } while (Eat(','));
      return Eat(']');
    }
    if (c == '"') {
      std::string ignored;
      return String(&ignored);
    }
    if (c == 't') return Word("true");
    if (c == 'f') return Word("false");
    if (c == 'n') return Word("null");
    return Number();
  }
  // `found` is set for the top-level object only.
  bool Object(int depth, std::string* found) {
    if (!Eat('{')) return false;
    if (Eat('}')) return true;
    do {
      std::string name;
      if (!String(&name) || !Eat(':')) return false;
      Space();
      if (found && name == "sysTime2" && p_ < t_.size() && t_[p_] == '"') {
        std::string v;
        if (!String(&v)) return false;
        *found = v;
        have_ = true;
      } else {
        if (found && name == "sysTime2") have_ = false;  // a later non-string wins
        if (!Value(depth)) return false;
      }
    } while (Eat(','));
    return Eat('}');
  }

 public:
  bool have_ = false;

 private:
  const std::string& t_;
  size_t p_ = 0;
};

}  // namespace

bool TryReadSysTime2(const std::string& body, std::string* value) {
  JsonReader reader(body);
  std::string v;
  if (!reader.ReadTop(&v) || !reader.have_) return false;
  *value = v;
  return true;
}

bool TryReadServerSecond(const std::string& body, const std::string& date_header, int64_t* utc,
                         std::string* failure) {
  std::string text;
  if (TryReadSysTime2(body, &text)) {
    if (TryParseBeijingTime(text, utc)) return true;
    *failure = "unreadable sysTime2 \"" + text.substr(0, 40) + "\"";
    return false;
  }
  if (date_header.empty()) {
    *failure = "no sysTime2 and no Date header";
    return false;
  }
  if (TryParseHttpDate(date_header, utc)) return true;
  *failure = "unreadable Date header \"" + date_header.substr(0, 40) + "\"";
  return false;
}

double BuildDateUtc(const char* date_macro) {
  if (!date_macro) return 0;
  std::string t = date_macro;
  int d, y, mo;
  if (t.size() != 11 || !(mo = MonthIndex(t, 0))) return 0;
  std::string day = t.substr(4, 2);
  if (day[0] == ' ') day[0] = '0';
  if (!Digits(day, 0, 2, &d) || !Digits(t, 7, 4, &y)) return 0;
  int64_t utc;
  if (!CivilToUtc(y, mo, d, 0, 0, 0, &utc)) return 0;
  // The build machine's zone is unknown: a day's margin keeps an honest
  // server from being refused on the day of the build.
  return static_cast<double>(utc) - kSecondsPerDay;
}

bool TryParseUrl(const std::string& text, Url* url) {
  Url u;
  size_t rest;
  if (text.compare(0, 7, "http://") == 0) {
    rest = 7;
  } else if (text.compare(0, 8, "https://") == 0) {
    rest = 8;
    u.secure = true;
  } else {
    return false;
  }
  size_t slash = text.find_first_of("/?#", rest);
  std::string authority = text.substr(rest, slash == std::string::npos ? std::string::npos : slash - rest);
  if (authority.empty() || authority.find('@') != std::string::npos) return false;
  for (char c : authority)
    if (static_cast<unsigned char>(c) <= ' ' || c == '\\') return false;
  u.port = u.secure ? 443 : 80;
  size_t colon = authority.rfind(':');
  if (colon != std::string::npos && authority.find(']', colon) == std::string::npos) {
    std::string port = authority.substr(colon + 1);
    authority.resize(colon);
    if (port.empty() || port.size() > 5) return false;
    int v;
    if (!Digits(port, 0, port.size(), &v) || v < 1 || v > 65535) return false;
    u.port = v;
  }
  if (authority.empty()) return false;
  u.host = authority;
  u.path = slash == std::string::npos ? "/" : text.substr(slash);
  size_t hash = u.path.find('#');
  if (hash != std::string::npos) u.path.resize(hash);
  if (u.path.empty() || u.path[0] != '/') u.path.insert(0, "/");
  for (char c : u.path)
    if (static_cast<unsigned char>(c) <= ' ') return false;
  *url = u;
  return true;
}

std::string Printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b != 0x7F && b != '\\') {
      out += c;
      continue;
    }
    char esc[5];
    std::snprintf(esc, sizeof esc, "\\x%02X", b);
    out += esc;
  }
  return out;
}

std::string FormatSeconds(double s, bool sign) {
  char buf[48];
  std::snprintf(buf, sizeof buf, sign ? "%+.3f" : "%.3f", s);
  std::string r = buf;
  if (r == "-0.000") r = "+0.000";
  return r;
}

}  // namespace measure
