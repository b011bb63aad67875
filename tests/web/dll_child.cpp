// A child program for the DLL binding tests: argv[1] picks what to do.
// Fatal modes end with the error box; "twice" reports by exit code.
#include <windows.h>

#include <cstring>

#include "runtime/core/image.h"
#include "runtime/core/program_calls.h"
#include "runtime/dll/dll_commands.h"
#include "web/dll_table.h"

namespace {

void LoadTable(const char* library, const char* function) {
  static const char* libs[1];
  static const char* funcs[1];
  libs[0] = library;
  funcs[0] = function;
  rt::LoadDllCommandTable(1, libs, funcs);
}

// 0 when entries 4 and 5 each hold one reference to wininet.dll and the
// release drops both.
int BindTwice() {
  if (GetModuleHandleA("wininet.dll")) return 10;
  rt::LoadDllCommandTable(web::kDllCommandCount, web::kDllLibraryNames, web::kDllFunctionNames);
  void* a = rt::ResolveDllCommand(web::kHttpSendRequestText);
  HMODULE loaded = GetModuleHandleA("wininet.dll");
  if (!loaded) return 11;
  void* b = rt::ResolveDllCommand(web::kHttpSendRequestBytes);
  if (a != b || rt::InspectDllCommand(4).module != loaded || rt::InspectDllCommand(5).module != loaded)
    return 12;
  // Take one reference away: the other keeps the library loaded.
  FreeLibrary(loaded);
  if (!GetModuleHandleA("wininet.dll")) return 13;
  LoadLibraryA("wininet.dll");  // give it back
  rt::ReleaseDllCommandModules();
  if (GetModuleHandleA("wininet.dll")) return 14;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  rt::InstallDllCommands();
  const char* mode = argv[1];
  if (!std::strcmp(mode, "twice")) return BindTwice();
  if (!std::strcmp(mode, "missing")) {
    LoadTable("kernel32.dll", "NoSuchExport");
    prog::CallDll(0, {});
  }
  if (!std::strcmp(mode, "missing_any")) {
    LoadTable("", "NoSuchExport");
    prog::CallDll(0, {});
  }
  if (!std::strcmp(mode, "nolib")) {
    LoadTable("no_such_library.dll", "#5");
    prog::CallDll(0, {});
  }
  if (!std::strcmp(mode, "stack")) {
    // InternetCloseHandle takes one word; a prototype declaring two leaves
    // one behind, which the stack check must catch.
    rt::LoadDllCommandTable(web::kDllCommandCount, web::kDllLibraryNames, web::kDllFunctionNames);
    prog::CallDll(web::kInternetCloseHandle, {0, 0});
  }
  return 3;  // not reached when the fatal path works
}
