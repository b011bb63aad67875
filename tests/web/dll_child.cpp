// Child of the DLL binding tests; argv[1] picks the case.
#include <windows.h>

#include <string>

#include "runtime/core/program_calls.h"
#include "runtime/dll/dll_commands.h"
#include "web/dll_table.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  rt::InstallDllCommands();
  const std::string mode = argv[1];
  static const char* lib[1] = {mode == "missing" ? "kernel32.dll" : mode == "nolib" ? "no_such_library.dll" : ""};
  static const char* fn[1] = {mode == "nolib" ? "#5" : "NoSuchExport"};
  if (mode == "stack") {
    // InternetCloseHandle takes one word; two leave one behind on the stack.
    rt::LoadDllCommandTable(web::kDllCommandCount, web::kDllLibraryNames, web::kDllFunctionNames);
    prog::CallDll(web::kInternetCloseHandle, {0, 0});
  } else {
    rt::LoadDllCommandTable(1, lib, fn);
    prog::CallDll(0, {});
  }
  return 3;  // not reached
}
