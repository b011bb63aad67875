// The time calibration application: the program's entry routine, its event
// routines and its end routine, and the program image they run in.
//
// Owns: the one global JsonObject (created by ProgramEntry, destroyed by the
// end routine ReleaseGlobalJson) and the program's constants.
// May call: the Runtime only through the entry table (runtime/core/
// program_calls.h), the web routines (web/), the JSON object (json/).
#pragma once

#include <cstdint>

namespace app {

constexpr uint32_t kMainWindow = 0x52010001;
constexpr uint32_t kServiceTimeBox = 0x16010004;  // 编辑框1: the service time
constexpr uint32_t kPcTimeBox = 0x16010005;       // 编辑框2: the PC time
constexpr uint32_t kCalibrateButton = 0x16010006; // 按钮1 "校准"
constexpr uint32_t kRefreshTimer = 0x16010009;    // 时钟1
constexpr int32_t kContent = 8;                   // an edit box's text
constexpr int32_t kTimerInterval = 8;
constexpr int32_t kWholeProperty = -1;

// The constants the routines reference in place (never freed, never changed).
const char* TimeServiceUrl();
const char* MemberKey();  // "sysTime2"
const char* EmptyText();  // stands in for a null Text argument

// Seams for the end-to-end test build (app/probe.cpp); all null in the tool.
struct ProbeSeams {
  void (*after_created)();  // after the first refresh, before the window shows
  void (*after_refresh)();
  void (*on_release)();     // when the end routine runs
};
extern ProbeSeams g_probe;
void ProbeSetServiceUrl(const char* url);  // test build only

}  // namespace app

extern "C" {
int ProgramEntry(void);
void OnMainWindowCreated(void);
void RefreshTimes(void);
void OnCalibrateClicked(void);
void ReleaseGlobalJson(void);
}
