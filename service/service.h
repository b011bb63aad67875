// The time-keeping service (timecal-service.exe, service name
// TimecalPrecise): keeps the PC clock right with no one at the PC. It runs
// as NT AUTHORITY\LocalService, which holds the right to set the clock, so
// no prompt ever appears. It measures over WinHTTP with the engine
// (measure/), decides by the precise window's own rules (keeper/ over
// precise/policy.h) and answers the window and the query over a named pipe
// that takes requests, never times.
//   main.cpp         the program: --install / --uninstall, or the service
//                    itself (its control handler and the keeper thread)
//   pipe_server.cpp  the pipe: a few instances, fixed messages, time-outs
//   install.cpp      registration with the service manager, the Parameters
//                    key, the event source; removal of all of it
//   settings.cpp     what the Parameters key says
//   clock.cpp        the shipped clock: SetSystemTime with the privilege
//   probe.cpp        the test build's clock seam instead: it writes each set
//                    it would make to a file named in the Parameters key
//
// Owns: every handle it opens, each with an owner (keeper/keeper_win.h); the
// keeper state lives in main.cpp behind one lock.
// May call: Win32 directly (it is no runtime program), measure/ (WinHTTP
// edge), keeper/ (keeper_win.h too), precise/policy.h, service/events/.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "keeper/keeper_win.h"
#include "keeper/protocol.h"
#include "measure/measure.h"
#include "precise/policy.h"

namespace service {

using keeper::Handle;
using keeper::Key;
using keeper::ScHandle;

// What the Parameters key says, read before each measurement, so that an
// install that updates the sources needs no restart.
struct Settings {
  std::vector<std::string> urls;       // Sources; the default sources when empty
  precise::AutoPeriods periods;        // the test build may shorten them
  double target_resolution = measure::Options().target_resolution;  // seconds; the test build may widen it
  measure::Proxy proxy;                // Proxy; WinHTTP's own setting when empty or unreadable
};
Settings ReadSettings();

// The clock: the shipped build sets it (enabling the privilege first); the
// test build records instead. 0 when set, else the platform's error.
bool EnableClockPrivilege();
uint32_t SetClockUtc(int64_t utc_ms, double correction_ms);
// The test build's hooks; nothing in the shipped build.
void AdjustSettings(HKEY parameters, Settings* settings);
void NoteMeasurement(const keeper::Status& status);

// The pipe's server: answers until `stop` is signalled. `ask` is called
// under no lock of the server's own; it must be quick.
using AskFunction = keeper::Status (*)(keeper::Command command);
void ServePipe(HANDLE stop, AskFunction ask);

// Registration, run elevated from the command line; keeper::InstallExit.
int Install(const std::vector<std::string>& words);
int Uninstall();

}  // namespace service
