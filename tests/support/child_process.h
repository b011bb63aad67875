// The Windows tests' one way to start a child (Spawn), wait (Wait), and read and dismiss its error box (RunChild).
#pragma once

#include <windows.h>

#include <string>

#include "runtime/core/owner.h"

namespace testsupport {

using HandleOwner = rt::UniqueOf<HANDLE, CloseHandle>;

// A started process; its handles close with it (Wine starts a Unix program without one).
struct Process {
  HandleOwner handle, thread;
  DWORD id = 0;
  bool started = false;
  explicit operator bool() const { return started; }
  DWORD WaitOrEnd(DWORD ms, UINT code) const;  // waits up to `ms`, then ends it with `code`; its exit code
};
// The first visible window of p that `match` accepts, tried `tries` times `step_ms` apart.
HWND WaitForVisibleWindow(const Process& p, bool (*match)(HWND), int tries, DWORD step_ms);
Process Spawn(std::string command_line);  // as given; an empty Process when it cannot (see GetLastError())

std::string ExeDir();  // the running test's folder, with its final backslash
int TimeScale();  // how much longer every wait for a child is here (RT_TEST_TIME_SCALE, at least 1)
// Polls `pred` every 50 ms until it holds; false after `ms` (times TimeScale()).
template <typename Pred>
bool Wait(Pred pred, int ms) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(ms * TimeScale());
  for (; !pred(); Sleep(50))
    if (static_cast<LONG>(end - GetTickCount()) <= 0) return false;
  return true;
}

HWND FindWindowOfProcess(DWORD pid, bool (*match)(HWND));

struct ChildResult {
  DWORD exit_code = 0;
  bool had_box = false;
  std::string caption, text;  // the box's, text without carriage returns
};

// Runs "<ExeDir()><exe>" <args>; with expect_box reads and dismisses its box within 30 s.
ChildResult RunChild(const std::string& exe, const std::string& args, bool expect_box);

}  // namespace testsupport
