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
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "measure/measure.h"
#include "precise/policy.h"
#include "precise/precise.h"
#include "precise/system_time.h"

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

struct Install {
  Install() {
    std::vector<std::string> words = precise::SplitCommandLine(GetCommandLineA());
    std::string args;
    for (size_t i = 1; i < words.size(); ++i) args += (i > 1 ? " " : "") + words[i];
    Append("TIMECAL_START_LOG", args.empty() ? "-" : args);
    precise::g_probe = {RecordClockRequest, Sources, AdjustPeriods, KeeperProgram};
  }
} g_install;

}  // namespace
