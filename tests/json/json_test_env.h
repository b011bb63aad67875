// Shared set-up of the Windows JSON and COM tests: DLL commands bound from
// the program's table (so CoInitialize runs as in the program), COM on the
// test thread, and Take for Text results.
#pragma once

#include <windows.h>

#include <string>

#include "runtime/core/image.h"
#include "runtime/core/program_calls.h"
#include "web/dll_table.h"

namespace jsontest {

inline void SetUpRuntime() {
  rt::SetDllResolver([](uint32_t i) -> void* {
    if (i >= static_cast<uint32_t>(web::kDllCommandCount)) return nullptr;
    HMODULE m = LoadLibraryA(*web::kDllLibraryNames[i] ? web::kDllLibraryNames[i] : "kernel32.dll");
    return m ? reinterpret_cast<void*>(GetProcAddress(m, web::kDllFunctionNames[i])) : nullptr;
  });
  CoInitialize(nullptr);
}

inline std::string Take(char* text) {
  std::string s = text ? text : "";
  prog::Free(text);
  return s;
}

}  // namespace jsontest
