// The time calibration application: the program's entry routine, its event
// routines and its end routine, and the program image they run in.
//
// Owns: the one global JsonObject (created by ProgramEntry, destroyed by the
// end routine ReleaseGlobalJson) and the program's constants.
// May call: the Runtime only through the entry table (runtime/core/
// program_calls.h), the web routines (web/), the JSON object (json/).
// Included only by the program's own sources, which have the generated
// window_templates.h.
#pragma once

#include <cstdint>

#include "runtime/ui/ui_numbers.h"
#include "window_templates.h"

namespace app {

// Unit ids from the window description (main_window.json), property numbers
// from the window layer's table.
constexpr uint32_t kMainWindow = rtwin::kMainWindow;
constexpr uint32_t kServiceTimeBox = rtwin::MainWindow::kEdit1;  // 编辑框1: the service time
constexpr uint32_t kPcTimeBox = rtwin::MainWindow::kEdit2;       // 编辑框2: the PC time
constexpr uint32_t kRefreshTimer = rtwin::MainWindow::kTimer1;   // 时钟1
using rt::ui::kEditBoxContent;
using rt::ui::kTimerInterval;
using rt::ui::kWholeProperty;

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
