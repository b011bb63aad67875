// Support routines that compiled program code calls, each a few lines.
//
// Owns: nothing. Results of the concatenations are new blocks owned by the
// caller (freed through the FreeBlock slot). May call: the entry table
// (program_calls.h) and the block layouts and size check of memory.h.
#pragma once

#include <cstdint>

#include "runtime/core/value.h"

namespace prog {

int64_t TruncateToInt64(double v);                     // toward zero, saturating
int CompareTexts(const char* a, const char* b);        // -1/0/1, null == ""
int32_t TextLength(const char* t);
rt::Text ConcatTexts(int count, const char* const* texts);  // null when all empty
rt::ByteSetBlock* ConcatByteSets(int count, const rt::ByteSetBlock* const* sets);  // null for total 0
int CompareBytes(const void* a, const void* b, uint32_t n);
int32_t ElementCount(const rt::ArrayBlock* a);
// The elements of an array block, after its dimension count and sizes.
template <typename T>
T* ElementsOf(rt::ArrayBlock* a) {
  return reinterpret_cast<T*>(&a->sizes[a->dims]);
}
// Frees an array of texts: each text, then the block (null: nothing).
void FreeTextArray(rt::ArrayBlock* a);
// Subscript check performed before an element access with one subscript:
// raises code 4 below 1, code 1 past the element count.
void CheckSubscript(const rt::ArrayBlock* a, int32_t subscript);

}  // namespace prog
