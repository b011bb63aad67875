// `timecal-query.exe --status`: the time-keeping service's state and last
// result, asked over its pipe (keeper/protocol.h); when the pipe is silent
// the service manager, read-only, tells a stopped service from none. Lines:
//   state running|stopped|not-installed measurements N measuring yes|no windows-time yes|no
//   last none                                  (running, nothing measured yet)
//   last offset +S.SSS +/- S.SSS s sources N agreed N false-tickers N at YYYY-MM-DDTHH:MM:SS.mmmZ
//   last no-offset disagree|no-answer at ...   (sources disagreed, or none answered)
//   set correction +S.SSS s at ...             (the service's last set, when there was one)
// measurements, measuring and the last lines only while it runs; windows-time
// says whether the Windows Time service also sets the clock.
// Owns nothing beyond one call.
// May call: the keeper's Win32 side (keeper/keeper_win.h), the engine's
// number format.
#include "query/keeper_status.h"

#include <windows.h>

#include <array>
#include <cstdio>
#include <string>

#include "keeper/keeper_win.h"
#include "measure/measure.h"
#include "precise/system_time.h"

namespace query {
namespace {

constexpr DWORD kPipeWaitMs = 2000;  // a console may wait for a busy pipe a little longer than a window

std::string UtcText(int64_t unix_ms) {
  FILETIME f = precise::FileTimeOf(unix_ms);
  SYSTEMTIME t{};
  if (unix_ms <= 0 || !FileTimeToSystemTime(&f, &t)) return "unknown";
  char text[40];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond, t.wMilliseconds);
  return text;
}

const char* YesNo(bool b) { return b ? "yes" : "no"; }

}  // namespace

int PrintKeeperStatus() {
  keeper::Status s;
  const bool answered = keeper::TryAsk(keeper::Command::kState, &s, kPipeWaitMs);
  const bool installed = answered || keeper::StateByManager() == keeper::ServiceState::kStopped;
  const bool windows_time = keeper::WindowsTimeSynchronising() || (answered && s.windows_time_syncing);
  if (!answered) {
    std::printf("state %s windows-time %s\n", installed ? "stopped" : "not-installed", YesNo(windows_time));
    std::fflush(stdout);
    return installed ? kStatusStopped : kStatusNotInstalled;
  }
  std::printf("state running measurements %u measuring %s windows-time %s\n", s.measurements, YesNo(s.measuring),
              YesNo(windows_time));
  using measure::FormatSeconds;
  if (s.measurements == 0) {
    std::printf("last none\n");
  } else if (s.found) {
    std::printf("last offset %s +/- %s s sources %u agreed %u false-tickers %u at %s\n",
                FormatSeconds(s.offset_us / 1e6, true).c_str(), FormatSeconds(s.bound_us / 1e6, false).c_str(),
                s.sources, s.agreed, s.false_tickers, UtcText(s.measured_utc_ms).c_str());
  } else {
    std::printf("last no-offset %s at %s\n", s.disagree ? "disagree" : "no-answer", UtcText(s.measured_utc_ms).c_str());
  }
  if (s.set_utc_ms != 0)
    std::printf("set correction %s s at %s\n", FormatSeconds(s.correction_ms / 1e3, true).c_str(),
                UtcText(s.set_utc_ms).c_str());
  std::fflush(stdout);
  return kStatusRunning;
}

}  // namespace query
