// The precise program's DllCommandTable: every platform function the
// program and its measurement engine call, by index. The engine's functions
// come first, at their own command numbers, so the engine's hook passes a
// command straight through as a table index; the program's own follow. The
// names are program data stored in the program image; the Runtime binds
// each entry on its first call.
// Owns: constant data only.
// May call: nothing; header-only (the engine's rows in measure_edge.h).
#pragma once

#include <cstdint>

#include "measure/measure_edge.h"
#include "program/dll_table.h"

namespace precise {

using prog::W;

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
  kCallNamedPipeA,
  kOpenSCManagerA,
  kOpenServiceA,
  kQueryServiceStatus,
  kCloseServiceHandle,
  kRegOpenKeyExA,
  kRegQueryValueExA,
  kRegCloseKey,
  kDllCommandCount,
};

// The program's own rows; the engine's are measure::kPlatformFunctions.
constexpr prog::DllRow kOwnCommands[] = {
    {kGetCommandLineA, "kernel32.dll", "GetCommandLineA", 0},
    {kGetModuleFileNameA, "kernel32.dll", "GetModuleFileNameA", 3},
    {kGetModuleHandleA, "kernel32.dll", "GetModuleHandleA", 1},
    {kGetProcAddress, "kernel32.dll", "GetProcAddress", 2},
    {kSetSystemTime, "kernel32.dll", "SetSystemTime", 1},
    {kFileTimeToLocalFileTime, "kernel32.dll", "FileTimeToLocalFileTime", 2},
    {kMessageBoxA, "user32.dll", "MessageBoxA", 4},
    {kShellExecuteExA, "shell32.dll", "ShellExecuteExA", 1},
    {kWaitForSingleObject, "kernel32.dll", "WaitForSingleObject", 2},
    {kGetExitCodeProcess, "kernel32.dll", "GetExitCodeProcess", 2},
    {kCloseHandle, "kernel32.dll", "CloseHandle", 1},
    {kCallNamedPipeA, "kernel32.dll", "CallNamedPipeA", 7},
    {kOpenSCManagerA, "advapi32.dll", "OpenSCManagerA", 3},
    {kOpenServiceA, "advapi32.dll", "OpenServiceA", 3},
    {kQueryServiceStatus, "advapi32.dll", "QueryServiceStatus", 2},
    {kCloseServiceHandle, "advapi32.dll", "CloseServiceHandle", 1},
    {kRegOpenKeyExA, "advapi32.dll", "RegOpenKeyExA", 5},
    {kRegQueryValueExA, "advapi32.dll", "RegQueryValueExA", 6},
    {kRegCloseKey, "advapi32.dll", "RegCloseKey", 1},
};
static_assert(prog::RowsDense(kOwnCommands, measure::kPlatformCommandCount),
              "one row per own command, in command order");
static_assert(sizeof kOwnCommands / sizeof kOwnCommands[0] ==
                  kDllCommandCount - measure::kPlatformCommandCount,
              "every own command has its row");

// The whole table, the engine's rows then the program's own; the program
// image carries its two name arrays.
inline constexpr auto kDllTable = prog::JoinDllRows(measure::kPlatformFunctions, kOwnCommands);
static_assert(kDllTable.Dense() && kDllTable.kCount == kDllCommandCount, "every command at its own number");

}  // namespace precise
