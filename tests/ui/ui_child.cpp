// A program made of a window template and routines reaching the Runtime
// through the entry table, started by the Runtime's WinMain: the window
// ui_screenshot captures. (The same start opening its window, ticking,
// reacting and ending once is the tool's own run in app_e2e_tests.)
#include <cstdio>

#include "runtime/core/gbk_text.h"
#include "runtime/core/image.h"
#include "program/program_calls.h"
#include "runtime/ui/ui_runtime.h"
#include "window_templates.h"

namespace {

namespace mw = rtwin::MainWindow;

const rt::LibraryRecord* const kLibraries[] = {&RtComponentLibrary};
rt::ProgramImage g_image;
int g_ticks = 0;

uint32_t Addr(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// The image a compiled program carries, registered before its entry runs.
struct RegisterImage {
  RegisterImage() {
    g_image = rt::ProgramImage{3, 0, 0x180E6, static_cast<uint32_t>(RtWindowRoutineBase()), 0, 0,
                               Addr(RtWindowTemplateData()), RtWindowTemplateSize(), 1,
                               Addr(kLibraries), 0, 0, 0};
    rt::RegisterProgramImage(&g_image);
  }
} g_register;

uint64_t TextValue(const char* t) { return reinterpret_cast<uintptr_t>(t); }

}  // namespace

extern "C" void OnMainWindowCreated(void) {
  prog::WriteProperty(rtwin::kMainWindow, mw::kEdit2, 8, -1, TextValue(GBK_PC_TIME));
}

extern "C" void RefreshTimes(void) {
  char text[64];
  std::snprintf(text, sizeof text, "2019" GBK_YEAR "10" GBK_MONTH "17" GBK_DAY "12" GBK_HOUR "33" GBK_MINUTE "%d" GBK_SECOND, ++g_ticks % 60);
  prog::WriteProperty(rtwin::kMainWindow, mw::kEdit1, 8, -1, TextValue(text));
}

extern "C" void OnCalibrateClicked(void) {}

extern "C" int ProgramEntry(void) {
  prog::Service(rt::kServiceLoadProgramImage);
  prog::LoadStartupWindow(rtwin::kMainWindow);
  prog::RunMessageLoop();
  return 0;
}
