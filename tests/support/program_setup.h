// In-process set-up for Windows tests and benchmarks that call program code
// without the start-up step: the DLL command binding installed and a program
// image holding the program's own DLL command table loaded, so every
// external call binds as it does in the tool. Safe to call more than once.
#pragma once

namespace testsupport {

void LoadProgramDllTable();

}  // namespace testsupport
