// The end-to-end test build of the tool. It runs the same routines and the
// same window; through its environment a test points it at a local service
// (TIMECAL_URL) and shortens the refresh period (TIMECAL_TIMER_MS). Clock
// requests are written to TIMECAL_CLOCK_LOG instead of the system clock,
// end-routine runs to TIMECAL_END_LOG, and every 100th refresh (every
// TIMECAL_STATS_EVERY-th when set) appends a line to TIMECAL_STATS_LOG:
// refreshes, private bytes, working set, handles, USER objects, GDI objects;
// then where the bytes are: the Runtime's live heap blocks and their bytes,
// JsonObjects alive, 1 when a spare script engine waits, references on the
// answer host (one or more per script engine not yet destroyed), WinINet
// handles open, and with TIMECAL_STATS_HEAPS set the bytes in use in all
// of the process's heaps and the bytes their regions hold committed (a
// walk, too slow for every refresh; else -1 and -1).
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>

#include "app/timecal.h"
#include "json/json_object.h"
#include "runtime/com/com.h"
#include "runtime/core/memory.h"
#include "runtime/core/commands.h"
#include "program/program_calls.h"
#include "app/process_figures.h"

namespace app {
void ProbeFaultsAfterRefresh();  // probe_faults.cpp
void ProbeCountPlatformCalls();
long ProbeOpenInternetHandles();
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
  static const bool walk = std::getenv("TIMECAL_STATS_HEAPS") != nullptr;
  if (!std::getenv("TIMECAL_INJECT")) app::ProbeCountPlatformCalls();  // fault runs install their own
  if (++refreshes % (every > 0 ? every : 100) != 0) return;
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof pmc;
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
  const rt::HeapFigures heap = rt::GetHeapFigures();
  const json::EngineFigures engines = json::GetEngineFigures();
  const testsupport::HeapWalkFigures heaps = walk ? testsupport::WalkHeaps() : testsupport::HeapWalkFigures{};
  char line[256];
  std::snprintf(line, sizeof line, "%d %lu %lu %lu %lu %lu %lld %lld %d %d %d %ld %lld %lld\n", refreshes,
                testsupport::PrivateBytes(), static_cast<unsigned long>(pmc.WorkingSetSize),
                testsupport::OpenHandles(),
                static_cast<unsigned long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS)),
                static_cast<unsigned long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)),
                static_cast<long long>(heap.live_blocks), static_cast<long long>(heap.live_bytes),
                engines.objects, engines.spare ? 1 : 0, rt::AnswerHostReferences(), app::ProbeOpenInternetHandles(),
                heaps.busy, heaps.committed);
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
