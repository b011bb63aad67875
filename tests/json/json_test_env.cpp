#include "tests/json/json_test_env.h"

#include <psapi.h>


#include "runtime/core/image.h"
#include "web/dll_table.h"

namespace jsontest {
namespace {

void* ResolveFromTable(uint32_t index) {
  if (index >= static_cast<uint32_t>(web::kDllCommandCount)) return nullptr;
  const char* lib = web::kDllLibraryNames[index];
  HMODULE m = LoadLibraryA(*lib ? lib : "kernel32.dll");
  return m ? reinterpret_cast<void*>(GetProcAddress(m, web::kDllFunctionNames[index])) : nullptr;
}

}  // namespace

void SetUpRuntime() {
  rt::SetDllResolver(&ResolveFromTable);
  CoInitialize(nullptr);
}

std::string Take(char* text) {
  std::string s = text ? text : "";
  prog::Free(text);
  return s;
}

ProcessFigures Figures() {
  PROCESS_MEMORY_COUNTERS_EX pmc{};
  pmc.cb = sizeof pmc;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc),
                       sizeof pmc);
  // Wine reports no PrivateUsage and no handle count: take the commit
  // charge, and count the handle values that are open.
  size_t private_bytes = pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage;
  DWORD handles = 0;
  if (!GetProcessHandleCount(GetCurrentProcess(), &handles) || handles == 0) {
    DWORD flags;
    for (uintptr_t h = 4; h < 0x10000; h += 4)
      if (GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags)) ++handles;
  }
  return {private_bytes, handles};
}

std::string TempPath(const char* name) {
  char dir[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, dir);
  return std::string(dir) + name;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace jsontest
