// Shared set-up of the Windows JSON and COM tests: DLL commands bound
// straight from the program's table, so the JSON object's CoInitialize and
// CoUninitialize run as they do in the program, and small helpers.
#pragma once

#include <windows.h>

#include <string>

#include "runtime/core/program_calls.h"

namespace jsontest {

// Installs the resolver for DLL commands and initialises COM on the test
// thread (for tests that use the COM commands without a JsonObject).
void SetUpRuntime();

// A Text result as a std::string, freed.
std::string Take(char* text);

// Process figures for the memory checks.
struct ProcessFigures {
  size_t private_bytes;
  DWORD handles;
};
ProcessFigures Figures();

// A path in the test's temporary folder, and whether a file exists there.
std::string TempPath(const char* name);
bool FileExists(const std::string& path);

}  // namespace jsontest
