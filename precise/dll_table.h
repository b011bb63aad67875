// The precise program's DllCommandTable: every platform function the
// program and its measurement engine call, by index. The engine's functions
// come first, at their own command numbers, so the engine's hook passes a
// command straight through as a table index; the program's own follow. The
// names are program data stored in the program image; the Runtime binds
// each entry on its first call.
// Owns: constant name tables, built once and never freed.
// May call: nothing; it reads the engine's rows (measure_edge.h).
#pragma once

#include <cstdint>

#include "measure/measure_edge.h"
#include "runtime/core/table_rows.h"

namespace precise {

// A pointer as the 32-bit argument word an entry's call pushes.
inline uint32_t W(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

enum DllCommand : int {
  kGetLastError = measure::kPcGetLastError,
  kGetCommandLineA = measure::kPlatformCommandCount,
  kGetModuleFileNameA,
  kGetModuleHandleA,
  kGetProcAddress,
  kSetSystemTime,
  kFileTimeToLocalFileTime,
  kMessageBoxA,
  kShellExecuteExA,
  kWaitForSingleObject,
  kGetExitCodeProcess,
  kCloseHandle,
  kDllCommandCount,
};

// The program's own rows; the engine's are measure::kPlatformFunctions.
struct DllRow {
  int command;
  const char* library;
  const char* name;
};
constexpr DllRow kOwnCommands[] = {
    {kGetCommandLineA, "kernel32.dll", "GetCommandLineA"},
    {kGetModuleFileNameA, "kernel32.dll", "GetModuleFileNameA"},
    {kGetModuleHandleA, "kernel32.dll", "GetModuleHandleA"},
    {kGetProcAddress, "kernel32.dll", "GetProcAddress"},
    {kSetSystemTime, "kernel32.dll", "SetSystemTime"},
    {kFileTimeToLocalFileTime, "kernel32.dll", "FileTimeToLocalFileTime"},
    {kMessageBoxA, "user32.dll", "MessageBoxA"},
    {kShellExecuteExA, "shell32.dll", "ShellExecuteExA"},
    {kWaitForSingleObject, "kernel32.dll", "WaitForSingleObject"},
    {kGetExitCodeProcess, "kernel32.dll", "GetExitCodeProcess"},
    {kCloseHandle, "kernel32.dll", "CloseHandle"},
};
static_assert(rt::RowsInKeyOrder(kOwnCommands, &DllRow::command, measure::kPlatformCommandCount),
              "one row per own command, in command order");
static_assert(sizeof kOwnCommands / sizeof kOwnCommands[0] ==
                  kDllCommandCount - measure::kPlatformCommandCount,
              "every own command has its row");

// The image's two name arrays, kDllCommandCount entries each.
const char* const* DllLibraryNames();
const char* const* DllFunctionNames();

}  // namespace precise
