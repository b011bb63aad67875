// The end-to-end test build of the tool. It runs the same routines and the
// same window; through its environment a test points it at a local service
// (TIMECAL_URL) and shortens the refresh period (TIMECAL_TIMER_MS). Clock
// requests are written to TIMECAL_CLOCK_LOG instead of the system clock,
// end-routine runs to TIMECAL_END_LOG, and every 100th refresh (every
// TIMECAL_STATS_EVERY-th when set) appends a line to TIMECAL_STATS_LOG:
// refreshes, private bytes, working set, handles, USER objects, GDI objects.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>

#include "app/timecal.h"
#include "json/json_object.h"
#include "runtime/core/commands.h"
#include "program/program_calls.h"
#include "app/process_figures.h"

namespace app {
void ProbeFaultsAfterRefresh();  // probe_faults.cpp
}  // namespace app

namespace {

void Append(const char* variable, const char* line) {
  const char* path = std::getenv(variable);
  if (!path || !*path) return;
  if (FILE* f = std::fopen(path, "ab")) {
    std::fputs(line, f);
    std::fclose(f);
  }
}

bool RecordClockRequest(const rt::CalendarFields& f) {
  char line[64];
  std::snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d\n", f.year, f.month, f.day,
                f.hour, f.minute, f.second);
  Append("TIMECAL_CLOCK_LOG", line);
  return false;  // as a machine without the right answers
}

void AfterCreated() {
  if (const char* ms = std::getenv("TIMECAL_TIMER_MS"))
    prog::WriteProperty(app::kMainWindow, app::kRefreshTimer, app::kTimerInterval,
                        app::kWholeProperty, static_cast<uint32_t>(std::atoi(ms)));
}

void AfterRefresh() {
  app::ProbeFaultsAfterRefresh();
  static int refreshes = 0;
  static const int every = std::getenv("TIMECAL_STATS_EVERY") ? std::atoi(std::getenv("TIMECAL_STATS_EVERY")) : 100;
  if (++refreshes % (every > 0 ? every : 100) != 0) return;
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof pmc;
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
  char line[160];
  std::snprintf(line, sizeof line, "%d %lu %lu %lu %lu %lu\n", refreshes, testsupport::PrivateBytes(),
                static_cast<unsigned long>(pmc.WorkingSetSize), testsupport::OpenHandles(),
                static_cast<unsigned long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS)),
                static_cast<unsigned long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)));
  Append("TIMECAL_STATS_LOG", line);
}

void OnRelease() { Append("TIMECAL_END_LOG", "ReleaseGlobalJson\n"); }

struct Install {
  Install() {
    if (const char* url = std::getenv("TIMECAL_URL")) app::ProbeSetServiceUrl(url);
    if (std::getenv("TIMECAL_INJECT")) json::SetEngineReuse(false);
    rt::SetClockHook(RecordClockRequest);
    app::g_probe = {AfterCreated, AfterRefresh, OnRelease};
  }
} g_install;

}  // namespace
