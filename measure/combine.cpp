// The combiner of several sources (measure.h): which answered sources can
// all be honest at once, and the offset and bound they share.
#include <algorithm>

#include "measure/measure.h"

namespace measure {


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

}  // namespace measure
