// Child of the DLL binding tests; argv[1] picks the case.
#include <windows.h>

#include <string>

#include "program/program_calls.h"
#include "runtime/dll/dll_commands.h"
#include "app/dll_table.h"

namespace {

// 0 when entries 4 and 5 each hold a reference to wininet.dll, both released.
int BindTwice() {
  if (GetModuleHandleA("wininet.dll")) return 10;
  rt::LoadDllCommandTable(app::kDllCommandCount, app::kDllLibraryNames, app::kDllFunctionNames);
  void* a = rt::RequireDllCommand(web::kHttpSendRequestText);
  HMODULE loaded = GetModuleHandleA("wininet.dll");
  if (!loaded || a != rt::RequireDllCommand(web::kHttpSendRequestBytes)) return 11;
  FreeLibrary(loaded);  // one reference gone, the other keeps it loaded
  if (!GetModuleHandleA("wininet.dll")) return 13;
  LoadLibraryA("wininet.dll");
  rt::ReleaseDllCommandModules();
  return GetModuleHandleA("wininet.dll") ? 14 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  rt::InstallDllCommands();
  const std::string mode = argv[1];
  if (mode == "twice") return BindTwice();
  static const char* lib[1] = {mode == "missing" ? "kernel32.dll" : mode == "nolib" ? "no_such_library.dll" : ""};
  static const char* fn[1] = {mode == "nolib" ? "#5" : "NoSuchExport"};
  rt::LoadDllCommandTable(1, lib, fn);
  prog::CallDll(0, {});
  return 3;  // not reached
}
