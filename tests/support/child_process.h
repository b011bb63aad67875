// The Windows tests' one way to start a child process (Spawn), to wait
// (Wait), and to run a child program whose error box is read as a user would,
// dismissed, and its exit code collected (RunChild).
#pragma once

#include <windows.h>

#include <string>

#include "runtime/core/owner.h"

namespace testsupport {

using HandleOwner = rt::UniqueOf<HANDLE, CloseHandle>;

// A started process; its handles close with it, the process goes on. Wine
// starts a Unix program (the Python servers) without a process handle.
struct Process {
  HandleOwner handle, thread;
  DWORD id = 0;
  bool started = false;
  explicit operator bool() const { return started; }
  // Waits up to `ms` for the end, then ends it with `code`; its exit code.
  DWORD WaitOrEnd(DWORD ms, UINT code) const;
};
// The first visible top-level window of the process that `match` accepts,
// looked for every `step_ms` for up to `tries` times; null when none shows.
HWND WaitForVisibleWindow(const Process& p, bool (*match)(HWND), int tries, DWORD step_ms);
// Starts a command line as given (the caller quotes the program); an empty
// Process when it cannot start (GetLastError() says why).
Process Spawn(std::string command_line);

std::string ExeDir();  // the running test's folder, with its final backslash
// How much slower than a native x86 host this one runs Windows programs
// (RT_TEST_TIME_SCALE, at least 1): every wait for a child is this much longer.
int TimeScale();
// Polls `pred` every 50 ms until it holds; false after `ms` (times TimeScale()).
template <typename Pred>
bool Wait(Pred pred, int ms) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(ms * TimeScale());
  for (; !pred(); Sleep(50))
    if (static_cast<LONG>(end - GetTickCount()) <= 0) return false;
  return true;
}

// The first top-level window of process `pid` that `match` accepts.
HWND FindWindowOfProcess(DWORD pid, bool (*match)(HWND));

struct ChildResult {
  DWORD exit_code = 0;
  bool had_box = false;
  std::string caption, text;  // the box's, text without carriage returns
};

// Runs "<ExeDir()><exe>" <args>. With expect_box it waits up to 30 s for the
// child's message box, reads and dismisses it (or ends the child: had_box false).
ChildResult RunChild(const std::string& exe, const std::string& args, bool expect_box);

}  // namespace testsupport
