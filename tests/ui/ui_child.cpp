// A program made of a window template and routines reaching the Runtime
// through the entry table, started by the Runtime's WinMain. Each routine
// logs a line to ui_child_log.txt beside the executable; "missing" on the
// command line asks for a startup window the templates lack.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/core/gbk_text.h"
#include "runtime/core/image.h"
#include "runtime/core/program_calls.h"
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

void Log(const std::string& line) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::strcpy(std::strrchr(path, '\\') + 1, "ui_child_log.txt");
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

void EndRoutine() { Log("end"); }

uint64_t TextValue(const char* t) { return reinterpret_cast<uintptr_t>(t); }

}  // namespace

extern "C" void OnMainWindowCreated(void) {
  Log("created");
  prog::WriteProperty(rtwin::kMainWindow, mw::kEdit2, 8, -1, TextValue(GBK_PC_TIME));
}

extern "C" void RefreshTimes(void) {
  if (++g_ticks <= 3) Log("tick");
  char text[64];
  std::snprintf(text, sizeof text, "2019" GBK_YEAR "10" GBK_MONTH "17" GBK_DAY "12" GBK_HOUR "33" GBK_MINUTE "%d" GBK_SECOND, g_ticks % 60);
  prog::WriteProperty(rtwin::kMainWindow, mw::kEdit1, 8, -1, TextValue(text));
}

extern "C" void OnCalibrateClicked(void) {
  prog::OwnedText t(reinterpret_cast<char*>(
      static_cast<uintptr_t>(prog::ReadProperty(rtwin::kMainWindow, mw::kEdit2, 8, -1))));
  Log(std::string("click ") + prog::Str(t));
}

extern "C" int ProgramEntry(void) {
  prog::Service(rt::kServiceLoadProgramImage);
  prog::Service(rt::kServiceRegisterEndRoutine, reinterpret_cast<intptr_t>(&EndRoutine));
  if (std::strstr(GetCommandLineA(), "missing")) prog::LoadStartupWindow(0x52019999);
  prog::LoadStartupWindow(rtwin::kMainWindow);
  prog::RunMessageLoop();
  Log("loop ended");
  return 0;
}
