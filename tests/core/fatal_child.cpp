// A small Windows program that ends on the fatal path, driven by
// entry_table_win_test. argv[1] picks the failure; argv[2] is a file that an
// end routine would create (it must never appear).
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "runtime/core/image.h"
#include "program/program_calls.h"

namespace {
const char* g_marker = "";
void EndRoutine() {
  if (FILE* f = std::fopen(g_marker, "w")) std::fclose(f);
}
void* __stdcall OneArgument(void* p) { return p; }
void* ResolveToOneArgument(uint32_t) { return reinterpret_cast<void*>(&OneArgument); }
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  g_marker = argv[2];
  prog::Service(rt::kServiceRegisterEndRoutine, reinterpret_cast<intptr_t>(&EndRoutine));
  if (!std::strcmp(argv[1], "raise6")) prog::RaiseRuntimeError(6);
  if (!std::strcmp(argv[1], "stack")) {
    // A prototype that passes two words to a one-argument stdcall routine.
    rt::Hooks().resolve_dll = ResolveToOneArgument;
    prog::CallDll(0, {1, 2});
  }
  return 3;  // not reached when the fatal path works
}
