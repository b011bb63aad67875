// Program-side calling sequences: how compiled program code (app/, web/,
// json/) reaches the Runtime. Every call goes through a slot of the entry
// table; slots 1, 3 and 12 carry their extra value (DLL command index,
// command routine, service number) beside the call, so the stack holds only
// the callee's own arguments. On i686 Windows these are assembly sequences
// (program_calls_i686.S); natively the same functions call the Runtime's C++
// entry points directly, so program-side code is testable under sanitizers.
//
// Ownership: results of Call() that are Text, ByteSet or arrays are new
// blocks owned by the caller; OwnedText/OwnedBytes free them through the
// FreeBlock slot.
// May call: the entry table only.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "runtime/core/owner.h"
#include "runtime/core/value.h"

namespace prog {

using rt::ArgRecord;

// Slot 3: run a built-in command with the ArgRecords in source order.
ArgRecord Call(rt::BuiltinCommand cmd, const ArgRecord* args, int count);
inline ArgRecord Call(rt::BuiltinCommand cmd, std::initializer_list<ArgRecord> args) {
  return Call(cmd, args.begin(), static_cast<int>(args.size()));
}
// Slot 1: call DLL command `index` with its argument words (stdcall) and
// check the stack afterwards; a mismatch raises runtime error 6.
uint32_t CallDll(int index, std::initializer_list<uint32_t> words);
uint32_t CallDll(int index, const uint32_t* words, int count);
// Slot 12: a Runtime service with up to four arguments.
intptr_t Service(int number, intptr_t a1 = 0, intptr_t a2 = 0, intptr_t a3 = 0, intptr_t a4 = 0);
// Slots 0, 4 to 11.
[[noreturn]] void RaiseRuntimeError(int code);
uint64_t ReadProperty(uint32_t window_id, uint32_t unit_id, int32_t number, int32_t element);
void WriteProperty(uint32_t window_id, uint32_t unit_id, int32_t number, int32_t element,
                   uint64_t value);
void* Allocate(uint32_t size);
void* Reallocate(void* block, uint32_t size);
void Free(void* block);
[[noreturn]] void EndProgram(int32_t code);
void RunMessageLoop();
void* LoadStartupWindow(uint32_t window_id);

// Owner of a Text (or ByteSet, array) block returned to program code,
// freed through the FreeBlock slot.
template <typename T>
void FreeBlockOf(T* block) noexcept { Free(block); }
template <typename T>
using Owned = rt::UniqueOf<T*, FreeBlockOf<T>>;
using OwnedText = Owned<char>;
using OwnedBytes = Owned<rt::ByteSetBlock>;
using OwnedArray = Owned<rt::ArrayBlock>;

// Text result of a command, owned. A "" constant stands in for null where a
// command takes a Text argument.
inline OwnedText TakeText(const ArgRecord& r) { return OwnedText(rt::AsPtr<char>(r)); }
inline const char* Str(const OwnedText& t) { return t.get() ? t.get() : ""; }

}  // namespace prog
