// Shared set-up of the Windows JSON and COM tests: DLL commands bound from
// the program's table (so CoInitialize runs as in the program), COM on the
// test thread, and Take for Text results.
#pragma once

#include <windows.h>

#include <string>

#include "program/program_calls.h"
#include "tests/support/program_setup.h"

namespace jsontest {

inline void SetUpRuntime() {
  testsupport::LoadProgramDllTable();
  CoInitialize(nullptr);
}

inline std::string Take(char* text) {
  std::string s = text ? text : "";
  prog::Free(text);
  return s;
}

}  // namespace jsontest
