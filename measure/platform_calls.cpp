// PlatformCalls bound with LoadLibraryA/GetProcAddress, for programs without
// a DLL command table of their own (the console query, tests). Each entry
// is resolved on first use and kept for the life of the process.
#include <windows.h>

#include <utility>

#include "measure/measure_edge.h"

namespace measure {

namespace {

FARPROC g_functions[kPlatformCommandCount];
bool g_resolved[kPlatformCommandCount];

FARPROC Resolve(int command) {
  if (command < 0 || command >= kPlatformCommandCount) return nullptr;
  if (!g_resolved[command]) {
    const prog::DllRow& f = kPlatformFunctions[command];
    HMODULE module = LoadLibraryA(f.library);
    g_functions[command] = module ? GetProcAddress(module, f.name) : nullptr;
    g_resolved[command] = true;
  }
  return g_functions[command];
}

// Calls a stdcall function of N word arguments.
template <size_t... I>
uint32_t Invoke(FARPROC f, const uint32_t* w, std::index_sequence<I...>) {
  using Function = uint32_t(WINAPI*)(decltype((void)I, uint32_t())...);
  return reinterpret_cast<Function>(reinterpret_cast<void*>(f))(w[I]...);
}

using Invoker = uint32_t (*)(FARPROC, const uint32_t*);
template <size_t N>
uint32_t InvokeN(FARPROC f, const uint32_t* w) {
  return Invoke(f, w, std::make_index_sequence<N>());
}
constexpr Invoker kInvokers[] = {InvokeN<0>, InvokeN<1>, InvokeN<2>, InvokeN<3>, InvokeN<4>,
                                 InvokeN<5>, InvokeN<6>, InvokeN<7>, InvokeN<8>};
constexpr int kMostWords = sizeof(kInvokers) / sizeof(kInvokers[0]) - 1;

uint32_t CallBound(void*, int command, const uint32_t* words, int count) {
  FARPROC f = Resolve(command);
  // A missing required function or a wrong word count is a programming
  // fault of this process: end it rather than call through garbage.
  if (!f || count != kPlatformFunctions[command].words || count > kMostWords) FatalExit(3);
  return kInvokers[count](f, words);
}

bool AvailableBound(void*, int command) { return Resolve(command) != nullptr; }

}  // namespace

PlatformCalls BindPlatformCalls() {
  PlatformCalls calls;
  calls.call = CallBound;
  calls.available = AvailableBound;
  return calls;
}

}  // namespace measure
