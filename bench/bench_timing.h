// Timing helpers shared by the Windows benchmarks: a monotonic clock in
// seconds and a median/p99 line in milliseconds.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace bench {

inline double Seconds() {
  static const double period = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return 1.0 / static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * period;
}

inline void Report(const char* name, std::vector<double> ms) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  std::printf("%-40s median %8.3f ms  p99 %8.3f ms  (n=%zu)\n", name, ms[ms.size() / 2],
              ms[std::min(ms.size() - 1, ms.size() * 99 / 100)], ms.size());
}

}  // namespace bench
