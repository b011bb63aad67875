// Program-side calls (see program_calls.h). On i686 Windows the slot calls
// are the assembly sequences of program_calls_i686.S; natively they call the
// Runtime's C++ entry points directly, with the same contracts.
#include "program/program_calls.h"

#include "runtime/core/fatal.h"
#include "runtime/core/image.h"
#include "runtime/core/memory.h"

#include <cstdlib>
#include <vector>

#ifdef _WIN32
extern "C" {
void rt_prog_call_builtin(rt::ArgRecord* result, rt::BuiltinCommand cmd, const rt::ArgRecord* args,
                          int count);
uint32_t rt_prog_call_dll(int index, const uint32_t* words, int count);
intptr_t rt_prog_service(int number, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4);
}
#endif

namespace prog {
namespace {
template <typename Fn>
Fn SlotAs(int slot) {
#ifdef _WIN32
  return reinterpret_cast<Fn>(const_cast<void*>(rt::EntryTable().slot[slot]));
#else
  (void)slot;
  return nullptr;
#endif
}
}  // namespace

ArgRecord Call(rt::BuiltinCommand cmd, const ArgRecord* args, int count) {
  ArgRecord result{0, 0};
#ifdef _WIN32
  rt_prog_call_builtin(&result, cmd, args, count);
#else
  // Commands never change their arguments' records' meaning, but they get a
  // mutable array, as on the target.
  ArgRecord copy[16];
  ArgRecord* a = copy;
  std::vector<ArgRecord> big;
  if (count > 16) {
    big.assign(args, args + count);
    a = big.data();
  } else {
    for (int i = 0; i < count; ++i) copy[i] = args[i];
  }
  cmd(&result, count, a);
#endif
  return result;
}

uint32_t CallDll(int index, std::initializer_list<uint32_t> words) {
  return CallDll(index, words.begin(), static_cast<int>(words.size()));
}

uint32_t CallDll(int index, const uint32_t* words, int count) {
#ifdef _WIN32
  return rt_prog_call_dll(index, words, count);
#else
  (void)index;
  (void)words;
  (void)count;
  rt::FatalError("DLL commands need the Windows runtime", 0);
#endif
}

intptr_t Service(int number, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4) {
#ifdef _WIN32
  return rt_prog_service(number, a1, a2, a3, a4);
#else
  return rt::RuntimeService(number, a1, a2, a3, a4, 0, 0);
#endif
}

void RaiseRuntimeError(int code) {
#ifdef _WIN32
  SlotAs<void (*)(int32_t)>(rt::kSlotRaiseRuntimeError)(code);
#endif
  rt::RaiseRuntimeError(code);
}

uint64_t ReadProperty(uint32_t w, uint32_t u, int32_t n, int32_t e) {
#ifdef _WIN32
  return SlotAs<uint64_t (*)(uint32_t, uint32_t, int32_t, int32_t)>(rt::kSlotReadProperty)(w, u, n, e);
#else
  return rt::Hooks().ui.read_property(w, u, n, e);
#endif
}

void WriteProperty(uint32_t w, uint32_t u, int32_t n, int32_t e, uint64_t value) {
  auto lo = static_cast<uint32_t>(value), hi = static_cast<uint32_t>(value >> 32);
#ifdef _WIN32
  SlotAs<void (*)(uint32_t, uint32_t, int32_t, int32_t, uint32_t, uint32_t)>(rt::kSlotWriteProperty)(
      w, u, n, e, lo, hi);
#else
  rt::Hooks().ui.write_property(w, u, n, e, lo, hi);
#endif
}

void* Allocate(uint32_t size) {
#ifdef _WIN32
  return SlotAs<void* (*)(uint32_t)>(rt::kSlotAllocateBlock)(size);
#else
  return rt::AllocateBlock(size);
#endif
}

void* Reallocate(void* block, uint32_t size) {
#ifdef _WIN32
  return SlotAs<void* (*)(void*, uint32_t)>(rt::kSlotReallocateBlock)(block, size);
#else
  return rt::ReallocateBlock(block, size);
#endif
}

void Free(void* block) {
#ifdef _WIN32
  SlotAs<void (*)(void*)>(rt::kSlotFreeBlock)(block);
#else
  rt::FreeBlock(block);
#endif
}

void EndProgram(int32_t code) {
#ifdef _WIN32
  SlotAs<void (*)(int32_t)>(rt::kSlotEndProgram)(code);
#endif
  rt::RunProgramEndSequence(code);
  std::_Exit(code);
}

void RunMessageLoop() {
#ifdef _WIN32
  SlotAs<void (*)()>(rt::kSlotRunMessageLoop)();
#else
  rt::Hooks().ui.run_message_loop();
#endif
}

void* LoadStartupWindow(uint32_t id) {
#ifdef _WIN32
  return SlotAs<void* (*)(uint32_t)>(rt::kSlotLoadStartupWindow)(id);
#else
  return rt::Hooks().ui.load_startup_window(id);
#endif
}

}  // namespace prog
