// The precise calibration program (timecal-precise.exe): its entry routine,
// its event routines and the program image they run in. It measures the PC
// clock's offset against several time sources with the measurement engine
// (measure/), shows it with an honest bound, and sets the clock in UTC to
// the millisecond on request or in automatic mode.
//
// Owns: the program's state (the running measurement, the last outcome,
// automatic mode, the elevated copy's process) in precise.cpp; the DLL
// command table (dll_table.cpp); the platform edge (platform.cpp).
// May call: the Runtime only through the entry table (runtime/core/
// program_calls.h); platform functions only through its DLL command table;
// the engine (measure/), which reaches the platform through the same table.
#pragma once

#include <cstdint>

namespace precise {

constexpr uint32_t kWindow = 0x52010002;
constexpr uint32_t kServiceTimeBox = 0x16010003;     // 编辑框1
constexpr uint32_t kPcTimeBox = 0x16010005;          // 编辑框2
constexpr uint32_t kOffsetBox = 0x16010007;          // 编辑框3
constexpr uint32_t kRoundTripBox = 0x16010009;       // 编辑框4
constexpr uint32_t kLastCalibrationBox = 0x1601000B; // 编辑框5
constexpr uint32_t kMeasureButton = 0x1601000C;      // 按钮1 "测量"
constexpr uint32_t kCalibrateButton = 0x1601000D;    // 按钮2 "校准"
constexpr uint32_t kAutoButton = 0x1601000E;         // 按钮3 "自动校准: 关"
constexpr uint32_t kSourcesBox = 0x16010010;         // 编辑框6
constexpr uint32_t kStatusLabel = 0x16010011;        // 标签6
constexpr uint32_t kDisplayTimer = 0x16010012;       // 时钟1
constexpr uint32_t kWorkTimer = 0x16010013;          // 时钟2
constexpr int32_t kDisabled = 6;        // common property: the unit is disabled
constexpr int32_t kContent = 8;         // an edit box's text, a label's or button's caption
constexpr int32_t kButtonCaption = 10;  // a button's caption
constexpr int32_t kTimerInterval = 8;
constexpr int32_t kWholeProperty = -1;

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
};
extern ProbeSeams g_probe;

// The program's constants (never freed, never changed).
const char* DefaultSources();  // blank-separated URLs
const char* EmptyText();

}  // namespace precise

extern "C" {
int ProgramEntry(void);
void OnPreciseWindowCreated(void);
void OnDisplayTick(void);
void OnWorkTick(void);
void OnMeasureClicked(void);
void OnCalibrateClicked(void);
void OnAutoClicked(void);
void ReleasePrecise(void);
}
