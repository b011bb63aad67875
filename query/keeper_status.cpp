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
// Owns: the service manager's and the registry's handles within one call.
// May call: Win32 directly (kernel32, advapi32), the keeper's messages, the
// engine's number format.
#include "query/keeper_status.h"

#include <windows.h>

#include <array>
#include <cstdio>
#include <string>

#include "keeper/protocol.h"
#include "measure/measure.h"
#include "runtime/core/owner.h"

namespace query {
namespace {

using ServiceHandle = rt::UniqueOf<SC_HANDLE, CloseServiceHandle>;
using KeyHandle = rt::UniqueOf<HKEY, RegCloseKey>;

constexpr DWORD kPipeWaitMs = 2000;  // a console may wait for a busy pipe a little longer than a window

bool TryAsk(keeper::Status* status) {
  std::array<uint8_t, keeper::kRequestSize> request = keeper::EncodeRequest(keeper::Command::kState);
  uint8_t answer[keeper::kStatusSize + 1] = {};  // one byte more: a longer answer is no status
  DWORD got = 0;
  return CallNamedPipeA(keeper::kPipeName, request.data(), static_cast<DWORD>(request.size()), answer,
                        sizeof answer, &got, kPipeWaitMs) &&
         keeper::TryDecodeStatus(answer, got, status);
}

// The service manager's state of one service; false with the error code
// when there is no such service or no manager to ask.
bool TryServiceState(const char* name, DWORD* state, DWORD* error) {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  ServiceHandle service(manager ? OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS) : nullptr);
  SERVICE_STATUS status{};
  if (!service || !QueryServiceStatus(service.get(), &status)) {
    *error = GetLastError();
    return false;
  }
  *state = status.dwCurrentState;
  return true;
}

bool WindowsTimeSynchronises() {
  DWORD state = 0, error = 0;
  if (!TryServiceState("W32Time", &state, &error) || state != SERVICE_RUNNING) return false;
  KeyHandle key;
  char type[64] = {};
  DWORD kind = 0, size = sizeof type - 1;
  bool read = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters", 0,
                            KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS &&
              RegQueryValueExA(key.get(), "Type", nullptr, &kind, reinterpret_cast<BYTE*>(type), &size) ==
                  ERROR_SUCCESS &&
              (kind == REG_SZ || kind == REG_EXPAND_SZ);
  return keeper::WindowsTimeSynchronises(true, read ? type : nullptr);
}

std::string UtcText(int64_t unix_ms) {
  ULONGLONG ticks = static_cast<ULONGLONG>(unix_ms * 10000 + measure::kFileTimeAt1970);
  FILETIME f{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
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
  const bool answered = TryAsk(&s);
  DWORD state = 0, error = 0;
  const bool installed = answered || TryServiceState(keeper::kServiceName, &state, &error) ||
                         (error != ERROR_SERVICE_DOES_NOT_EXIST && error != 0);
  const bool windows_time = WindowsTimeSynchronises() || (answered && s.windows_time_syncing);
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
