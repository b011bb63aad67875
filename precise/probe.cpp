// The precise program's test build. It runs the same routines and the same
// window; through its environment a test chooses the sources and what the
// clock seam answers:
//   TIMECAL_URL          blank-separated source URLs
//   TIMECAL_CLOCK_LOG    every clock request, one line each: the requested
//                        UTC time "YYYY-MM-DD HH:MM:SS.mmm", a blank, and the
//                        moment of the request as Unix milliseconds of the
//                        PC clock; nothing is ever set
//   TIMECAL_CLOCK_REFUSE when set, requests are refused as for a standard
//                        user (1314) instead of reported as done
//   TIMECAL_START_LOG    one line per program start: its arguments
//   TIMECAL_AUTO_MS      "period,first retry": automatic mode's periods (ms)
//   TIMECAL_KEEPER_PROGRAM  the service program's file name beside this one
//   TIMECAL_TIMER_MS     the display timer's period (ms) instead of 100
//   TIMECAL_AUTO_ON      when set, automatic mode is turned on at the start
//   TIMECAL_STATS_LOG    every TIMECAL_STATS_EVERY-th display tick (1,000
//                        unless set) a line: ticks, private bytes, working
//                        set, handles, the Runtime's live heap blocks and
//                        their bytes, bytes in use in all of the process's
//                        heaps and the bytes their regions hold committed;
//                        taken at the first tick from then on with no
//                        measurement running, so that lines compare like
//                        with like (a measurement's worker threads hold
//                        their stacks only while it runs)
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/process_figures.h"
#include "measure/measure.h"
#include "precise/policy.h"
#include "precise/precise.h"
#include "precise/system_time.h"
#include "program/program_calls.h"
#include "runtime/core/memory.h"
#include "runtime/ui/ui_numbers.h"
#include "window_templates.h"

extern "C" void OnAutoClicked(void);

namespace {

void Append(const char* variable, const std::string& line) {
  const char* path = std::getenv(variable);
  if (!path || !*path) return;
  std::ofstream(path, std::ios::binary | std::ios::app) << line << "\n";
}


uint32_t RecordClockRequest(int64_t utc_ms) {
  int64_t at = precise::PcClockUnixMs();
  precise::Fields f = precise::FieldsOf(utc_ms);
  char line[96];
  std::snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d.%03d %lld", f.year, f.month, f.day,
                f.hour, f.minute, f.second, f.millisecond, static_cast<long long>(at));
  Append("TIMECAL_CLOCK_LOG", line);
  const char* refuse = std::getenv("TIMECAL_CLOCK_REFUSE");
  return refuse && *refuse ? 1314 : 0;
}

const char* Sources() { return std::getenv("TIMECAL_URL"); }
const char* KeeperProgram() { return std::getenv("TIMECAL_KEEPER_PROGRAM"); }

void AdjustPeriods(precise::AutoPeriods* p) {
  const char* ms = std::getenv("TIMECAL_AUTO_MS");
  if (!ms || !*ms) return;
  char* rest = nullptr;
  p->period_ms = std::strtoll(ms, &rest, 10);
  if (rest && *rest == ',') p->first_retry_ms = std::strtoll(rest + 1, nullptr, 10);
}

void AfterCreated() {
  if (const char* ms = std::getenv("TIMECAL_TIMER_MS"))
    prog::WriteProperty(rtwin::kPreciseWindow, rtwin::PreciseWindow::kDisplayTimer, rt::ui::kTimerInterval,
                        rt::ui::kWholeProperty, static_cast<uint32_t>(std::atoi(ms)));
  if (std::getenv("TIMECAL_AUTO_ON")) OnAutoClicked();
}

void AfterDisplayTick(bool measuring) {
  static long ticks = 0, due = 0;
  static const long every = std::getenv("TIMECAL_STATS_EVERY") ? std::atol(std::getenv("TIMECAL_STATS_EVERY")) : 1000;
  if (++ticks % (every > 0 ? every : 1000) == 0) due = ticks;
  if (!due || measuring || !std::getenv("TIMECAL_STATS_LOG")) return;
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof pmc;
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
  const rt::HeapFigures heap = rt::GetHeapFigures();
  const testsupport::HeapWalkFigures heaps = testsupport::WalkHeaps();
  char line[200];
  std::snprintf(line, sizeof line, "%ld %lu %lu %lu %lld %lld %lld %lld", due, testsupport::PrivateBytes(),
                static_cast<unsigned long>(pmc.WorkingSetSize), testsupport::OpenHandles(),
                static_cast<long long>(heap.live_blocks), static_cast<long long>(heap.live_bytes), heaps.busy,
                heaps.committed);
  Append("TIMECAL_STATS_LOG", line);
  due = 0;
}

struct Install {
  Install() {
    std::vector<std::string> words = precise::SplitCommandLine(GetCommandLineA());
    std::string args;
    for (size_t i = 1; i < words.size(); ++i) args += (i > 1 ? " " : "") + words[i];
    Append("TIMECAL_START_LOG", args.empty() ? "-" : args);
    precise::g_probe = {RecordClockRequest, Sources, AdjustPeriods, KeeperProgram, AfterCreated, AfterDisplayTick};
  }
} g_install;

}  // namespace
