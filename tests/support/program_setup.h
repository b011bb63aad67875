// In-process set-up for Windows tests and benchmarks that call program code
// without the start-up step: the DLL command binding installed and a program
// image holding the program's own DLL command table loaded, so every
// external call binds as it does in the tool. Safe to call more than once.
#pragma once

#include <cstdint>

#include "app/dll_table.h"
#include "runtime/core/image.h"
#include "runtime/dll/dll_commands.h"

namespace testsupport {

inline void LoadProgramDllTable() {
  static rt::ProgramImage image{};
  if (image.build_kind) return;
  rt::InstallDllCommands();
  image.build_kind = 3;
  image.dll_command_count = app::kDllCommandCount;
  image.dll_library_names = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(app::kDllLibraryNames));
  image.dll_function_names = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(app::kDllFunctionNames));
  rt::LoadProgramImage(&image);
}

}  // namespace testsupport
