// The precise program's platform edge: everything it asks of Windows, each
// through its DLL command table (dll_table.h). The engine's hook, the system
// clock (set in UTC to the millisecond), the local time zone's shift, the
// question box, the command line, the elevated copy of the program, and the
// time-keeping service as its clients see it (its pipe, the service
// manager's read-only view, the service program started elevated to install
// or remove it).
//
// Owns: the process handle of an elevated program it started (ElevatedProcess);
// the service manager's and the registry's handles, only within one call.
// May call: prog::CallDll only (program/program_calls.h).
#pragma once

#include <cstdint>
#include <string>

#include "keeper/protocol.h"
#include "measure/measure_edge.h"
#include "precise/keeper_view.h"
#include "runtime/core/owner.h"

namespace precise {

// Routes the engine's platform functions through the DLL command table.
measure::PlatformCalls EngineCalls();

// Sets the system clock to utc_ms (SetSystemTime, UTC, milliseconds kept);
// 0 when set, otherwise the platform's error code (1314: the right to set
// the clock is not held). The test build's seam answers instead.
uint32_t SetClockUtc(int64_t utc_ms);
constexpr uint32_t kPrivilegeNotHeld = 1314;

// Local time minus UTC at the instant utc_ms, by the PC's time zone.
int64_t LocalShiftMs(int64_t utc_ms);

// A question with 是/否 buttons, modal for the program; true on 是.
bool AskYesNo(const std::string& text, const char* caption);

std::string CommandLineText();

void CloseProcessHandle(uint32_t h) noexcept;  // CloseHandle through the table
using OwnedProcess = rt::UniqueOf<uint32_t, CloseProcessHandle>;

// A program started elevated ("runas", after the system's consent prompt)
// and watched without waiting for it. At most one runs per owner.
class ElevatedProcess {
 public:
  ElevatedProcess() = default;
  ElevatedProcess(const ElevatedProcess&) = delete;
  ElevatedProcess& operator=(const ElevatedProcess&) = delete;
  // False when it could not be started (the user declined, no shell, no
  // such program). `quiet`: the shell shows no error box of its own (the
  // caller says what went wrong).
  bool TryStart(const std::string& file, const std::string& parameters, bool quiet = false);
  // Whether the last TryStart failed because the user declined the prompt.
  bool declined() const { return declined_; }
  bool Running() const { return process_.get() != 0; }
  // Once it has ended: true and its exit code; the handle is closed then.
  // False while it runs or when none was started.
  bool TryFinish(uint32_t* exit_code);
  // Waits for its end and gives its exit code (only before any window).
  uint32_t WaitForEnd();

 private:
  OwnedProcess process_;
  bool declined_ = false;
};

// A copy of this program started elevated to apply one offset. The copy
// itself never starts another.
class ElevatedCopy : public ElevatedProcess {
 public:
  bool TryStart(int64_t offset_ms);
};

// This program's file, and the service program's next to it ("" when the
// path is unknown or too long).
std::string OwnPath();
std::string KeeperProgramPath();

// Sends one request to the time-keeping service's pipe and reads its
// status; false when it does not answer (no pipe, no free instance within
// kPipeWaitMs, an answer that is no status).
bool TryAskKeeper(keeper::Command command, keeper::Status* status);
// One look at the service: its pipe, else the service manager (read-only),
// and whether the Windows Time service also sets the clock.
KeeperView LookAtKeeper();

}  // namespace precise
