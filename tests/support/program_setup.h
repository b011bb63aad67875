// For Windows tests that call program code without the start-up step: the DLL binding installed and an
// image with the program's DLL table loaded, so every external call binds as in the tool. Idempotent.
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
  image.build_kind = 3, image.dll_command_count = app::kDllCommandCount;
  image.dll_library_names = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(app::kDllLibraryNames));
  image.dll_function_names = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(app::kDllFunctionNames));
  rt::LoadProgramImage(&image);
}

}  // namespace testsupport
