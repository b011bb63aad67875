// Heap blocks: the one allocation entry of the Runtime and the helpers that
// build Text, ByteSet and array blocks.
//
// Owns: the Runtime heap (the process heap on Windows, the C heap natively)
// and the bounds of the program's constants block.
// Who frees what: the receiver of a block frees it with FreeBlock; blocks
// inside the constants block are never freed and are copied before resizing.
// Every size goes through BlockSize, which refuses negative and overflowing
// sizes; an exhausted or refused request goes to the fatal path
// ("分配 %d 字节内存失败!"), so no allocation here ever returns null.
// May call: fatal.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/core/value.h"

namespace rt {

// Raw block entry points (the AllocateBlock, ReallocateBlock and FreeBlock
// slots of the entry table). Blocks are not zeroed.
void* AllocateBlock(uint32_t size);
void* ReallocateBlock(void* block, uint32_t size);
void FreeBlock(void* block);
// AllocateBlock without the failure check (notification code 2024, flag 1).
void* TryAllocateBlock(uint32_t size);

// The one checked size computation: header + count * width. A negative
// count or a result beyond the 31-bit range is fatal with the allocation
// message, never an undersized block.
uint32_t BlockSize(int64_t header, int64_t count, int64_t width);
void* AllocateZeroed(uint32_t size);

// Constants block bounds [start, start + size); size 0 clears them.
void SetConstantsBlock(const void* start, uint32_t size);
bool IsConstant(const void* p);
// Bytes from p to the end of the constants block (0 when p is outside).
uint32_t BytesToConstantsEnd(const void* p);

// Test seam: fail the Nth heap request from now (1 = the next one); 0 turns
// it off. Lets tests prove that every failure point reaches the fatal path.
void FailNthAllocation(int n);
// Test figures: heap requests so far (allocations and resizes, refused ones
// included), blocks taken but not yet given back and their bytes (as the
// platform's heap counts them, rounding included).
struct HeapFigures {
  int64_t requests;
  int64_t live_blocks;
  int64_t live_bytes;
};
HeapFigures GetHeapFigures();

// ---- Text blocks (null = empty) ----
Text NewText(const char* bytes, size_t length);  // null when length is 0
Text CopyText(const char* text);                 // null for null or ""
inline size_t TextLen(const char* t) { return t ? std::char_traits<char>::length(t) : 0; }

// ---- ByteSet blocks (null = empty) ----
ByteSetBlock* NewByteSet(const void* bytes, size_t length);  // null when length is 0
ByteSetBlock* NewZeroByteSet(size_t length);
inline int32_t ByteSetLength(const ByteSetBlock* b) { return b ? b->length : 0; }

// ---- Array blocks ----
// One-dimensional array of `count` elements of `width` bytes, zeroed. Unlike
// Text and ByteSet, a zero-element array is a real block when asked for.
ArrayBlock* NewArray(int32_t count, uint32_t width);
int32_t ArrayElementCount(const ArrayBlock* a);  // product of sizes, 0 for null
void* ArrayElements(ArrayBlock* a);              // first element
const void* ArrayElements(const ArrayBlock* a);
// Frees every Text (or ByteSet) element and then the array block itself.
void FreeTextArray(ArrayBlock* a);

}  // namespace rt
