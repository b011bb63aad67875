// The precise program's platform edge: everything it asks of Windows, each
// through its DLL command table (dll_table.h). The engine's hook, the system
// clock (set in UTC to the millisecond), the local time zone's shift, the
// question box, the command line, and the elevated copy of the program.
//
// Owns: the elevated copy's process handle (ElevatedCopy).
// May call: prog::CallDll only (runtime/core/program_calls.h).
#pragma once

#include <cstdint>
#include <string>

#include "measure/measure_edge.h"
#include "runtime/com/unique.h"

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

struct ProcessHandleTraits {
  static uint32_t Empty() noexcept { return 0; }
  static void Free(uint32_t h) noexcept;  // CloseHandle through the table
};
using OwnedProcess = rt::Unique<uint32_t, ProcessHandleTraits>;

// A copy of this program started elevated ("runas") to apply one offset. At
// most one runs at a time; the copy itself never starts another.
class ElevatedCopy {
 public:
  ElevatedCopy() = default;
  ElevatedCopy(const ElevatedCopy&) = delete;
  ElevatedCopy& operator=(const ElevatedCopy&) = delete;
  // False when the copy could not be started (the user declined, no shell).
  bool TryStart(int64_t offset_ms);
  bool Running() const { return process_.get() != 0; }
  // Once the copy has ended: true and its exit code (0 = the clock was set);
  // the handle is closed then. False while it runs or when none was started.
  bool TryFinish(uint32_t* exit_code);

 private:
  OwnedProcess process_;
};

}  // namespace precise
