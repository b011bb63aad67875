// The precise calibration program (timecal-precise.exe): its entry routine,
// its event routines and the program image they run in. It measures the PC
// clock's offset against several time sources with the measurement engine
// (measure/), shows it with an honest bound, and sets the clock in UTC to
// the millisecond on request or in automatic mode.
//
// Owns: the program's state (the running measurement, the last outcome,
// automatic mode, the elevated copy's process, the last look at the
// time-keeping service and the service program's process) in precise.cpp, made by
// ProgramEntry and freed with everything it holds by the end routine
// ReleasePrecise; the DLL command table (dll_table.h); the platform edge
// (platform.cpp).
// May call: the Runtime only through the entry table (runtime/core/
// program_calls.h); platform functions only through its DLL command table;
// the engine (measure/), which reaches the platform through the same table.
#pragma once

#include <cstdint>

namespace precise {

struct AutoPeriods;

// Seams for the test build (precise/probe.cpp); all null in the program.
struct ProbeSeams {
  // Replaces SetSystemTime: gets the requested UTC time, answers 0 when
  // set or the platform's error code.
  uint32_t (*set_clock)(int64_t utc_ms);
  // Replaces the command line's sources (null or empty: use the command line).
  const char* (*sources)();
  // Shortens automatic mode's periods.
  void (*adjust_periods)(AutoPeriods* periods);
  // Replaces the service program's file name beside this one (null or empty:
  // timecal-service.exe), so that a test never installs the real service.
  const char* (*keeper_program)();
  // Called once the window is up, and after each tick of its display timer
  // (told whether a measurement is running).
  void (*after_created)();
  void (*after_display_tick)(bool measuring);
};
extern ProbeSeams g_probe;

// The program's constants (never freed, never changed).
const char* DefaultSources();  // blank-separated URLs

}  // namespace precise

extern "C" {
int ProgramEntry(void);
void OnPreciseWindowCreated(void);
void OnDisplayTick(void);
void OnWorkTick(void);
void OnMeasureClicked(void);
void OnCalibrateClicked(void);
void OnAutoClicked(void);
void OnKeeperClicked(void);
void ReleasePrecise(void);
}
