// The process start-up step: install the windowing Runtime, run the program's entry routine with every register
// preserved, then the program-end sequence with code 0, and leave with the
// quit message's code.
#include <windows.h>

#include "runtime/dll/dll_commands.h"
#include "runtime/ui/ui_runtime.h"

// The program's entry routine: loads the image (service 6), initialises its
// globals, loads the startup window, runs the message loop, returns 0.
extern "C" int ProgramEntry(void);

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  rt::InstallWindowingRuntime();
  rt::InstallDllCommands();
  auto entry = reinterpret_cast<void (*)(void)>(&ProgramEntry);
  // A nonzero result means the entry routine left the running to us.
  if (rt_call_preserved(entry) != 0) rt::ui::RunMessageLoop();
  rt::RunProgramEndSequence(0);
  return rt::ui::QuitCode();
}
