// Test support for the Windows tests: runs a child program from the test's
// own folder, and when it dies on the fatal path reads its error box as a
// user would (caption and text), dismisses it, and collects the exit code.
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

std::string ExeDir();  // the running test's folder, with its final backslash

// The first top-level window of process `pid` that `match` accepts.
HWND FindWindowOfProcess(DWORD pid, bool (*match)(HWND));

struct ChildResult {
  DWORD exit_code = 0;
  bool had_box = false;
  std::string caption, text;  // the box's, text without carriage returns
};

// Runs "<ExeDir()><exe>" <args>. With expect_box it waits up to 30 s for the
// child's message box, reads and dismisses it (a missing box is a failure
// the caller sees as had_box false; the child is then ended).
ChildResult RunChild(const std::string& exe, const std::string& args, bool expect_box);

}  // namespace testsupport
