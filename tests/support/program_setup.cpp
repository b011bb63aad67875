#include "tests/support/program_setup.h"

#include <cstdint>

#include "runtime/core/image.h"
#include "runtime/dll/dll_commands.h"
#include "app/dll_table.h"

namespace testsupport {

void LoadProgramDllTable() {
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
