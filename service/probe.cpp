// The service's test build: the same service with its clock as a seam. It
// never sets the clock; it reads its test settings from the Parameters key
// (the service manager gives a service no environment of the test's):
//   ClockLog    each set it would make, one line: the target UTC time as
//               Unix ms, the correction in ms, the PC clock then (Unix ms)
//   MeasureLog  each finished measurement, one line: count, found, agreed,
//               false tickers, offset us, bound us, decision, the lowest
//               free handle value and the process's committed bytes
//   PeriodMs, RetryMs (DWORD)  the measuring rhythm, shortened
//   ResolutionMs (DWORD)       where a source stops halving, widened for
//                              tests that need many short measurements
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "precise/system_time.h"
#include "service/service.h"

namespace service {
namespace {

std::string g_clock_log, g_measure_log;  // the keeper thread's alone

std::string ReadText(HKEY key, const char* name) {
  char text[MAX_PATH] = {};
  DWORD size = sizeof text - 1;
  if (RegGetValueA(key, nullptr, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) return "";
  return text;
}

bool ReadNumber(HKEY key, const char* name, int64_t* value) {
  DWORD number = 0, size = sizeof number;
  if (RegGetValueA(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &number, &size) != ERROR_SUCCESS) return false;
  *value = number;
  return true;
}

void Append(const std::string& path, const std::string& line) {
  if (!path.empty()) std::ofstream(path, std::ios::binary | std::ios::app) << line << "\n";
}


}  // namespace

bool EnableClockPrivilege() { return true; }

uint32_t SetClockUtc(int64_t utc_ms, double correction_ms) {
  char line[128];
  std::snprintf(line, sizeof line, "%lld %.3f %lld", static_cast<long long>(utc_ms), correction_ms,
                static_cast<long long>(precise::PcClockUnixMs()));
  Append(g_clock_log, line);
  return 0;
}

void AdjustSettings(HKEY parameters, Settings* s) {
  g_clock_log = ReadText(parameters, "ClockLog");
  g_measure_log = ReadText(parameters, "MeasureLog");
  ReadNumber(parameters, "PeriodMs", &s->periods.period_ms);
  ReadNumber(parameters, "RetryMs", &s->periods.first_retry_ms);
  int64_t resolution_ms = 0;
  if (ReadNumber(parameters, "ResolutionMs", &resolution_ms)) s->target_resolution = resolution_ms / 1000.0;
}

namespace {

// The lowest free handle value: a leak of handles pushes it up, and Wine
// answers no handle count of its own.
unsigned long HandleMark() {
  Handle probe(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(probe.get()));
}

}  // namespace

void NoteMeasurement(const keeper::Status& st) {
  unsigned long handles = HandleMark();
  PROCESS_MEMORY_COUNTERS_EX pm{};
  pm.cb = sizeof pm;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pm), sizeof pm);
  char line[200];
  std::snprintf(line, sizeof line, "%u %d %u %u %ld %lu %u %lu %lu", st.measurements, st.found ? 1 : 0,
                st.agreed, st.false_tickers, static_cast<long>(st.offset_us),
                static_cast<unsigned long>(st.bound_us), st.decision, handles,
                static_cast<unsigned long>(pm.PagefileUsage));
  Append(g_measure_log, line);
}

}  // namespace service
