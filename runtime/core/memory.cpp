// Heap blocks (see memory.h for ownership rules).
#include "runtime/core/memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/core/fatal.h"
#include "runtime/core/gbk_text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <malloc.h>
#endif

namespace rt {
namespace {

const uint8_t* g_const_start = nullptr;
const uint8_t* g_const_end = nullptr;
int g_fail_countdown = 0;
HeapFigures g_figures{};

// True when the test seam says this request must fail.
bool InjectedFailure() {
  if (g_fail_countdown <= 0) return false;
  return --g_fail_countdown == 0;
}

// The bytes the platform's heap holds for a live block.
int64_t BytesOf(void* block) {
#ifdef _WIN32
  return static_cast<int64_t>(HeapSize(GetProcessHeap(), 0, block));
#else
  return static_cast<int64_t>(malloc_usable_size(block));
#endif
}

void* HeapTake(uint32_t size) {
  ++g_figures.requests;
  if (InjectedFailure()) return nullptr;
#ifdef _WIN32
  void* p = HeapAlloc(GetProcessHeap(), 0, size);
#else
  void* p = std::malloc(size ? size : 1);
#endif
  if (!p) return nullptr;
  ++g_figures.live_blocks;
  g_figures.live_bytes += BytesOf(p);
  return p;
}

void* HeapResize(void* block, uint32_t size) {
  ++g_figures.requests;
  if (InjectedFailure()) return nullptr;
  const int64_t before = BytesOf(block);
#ifdef _WIN32
  void* p = HeapReAlloc(GetProcessHeap(), 0, block, size);
#else
  void* p = std::realloc(block, size ? size : 1);
#endif
  if (p) g_figures.live_bytes += BytesOf(p) - before;
  return p;
}

void HeapGive(void* block) {
  --g_figures.live_blocks;
  g_figures.live_bytes -= BytesOf(block);
#ifdef _WIN32
  HeapFree(GetProcessHeap(), 0, block);
#else
  std::free(block);
#endif
}

[[noreturn]] void AllocationFailed(int64_t size) {
  char message[64];
  // The message carries the size as a signed decimal, as the program sees it.
  std::snprintf(message, sizeof message, GBK_MSG_ALLOC_HEAD " %d " GBK_MSG_ALLOC_TAIL "!", static_cast<int>(size));
  FatalError(message, 0);
}

}  // namespace

void SetConstantsBlock(const void* start, uint32_t size) {
  if (size == 0 || start == nullptr) {
    g_const_start = g_const_end = nullptr;
    return;
  }
  g_const_start = static_cast<const uint8_t*>(start);
  g_const_end = g_const_start + size;
}

bool IsConstant(const void* p) {
  auto* b = static_cast<const uint8_t*>(p);
  return b && g_const_start && b >= g_const_start && b < g_const_end;
}

uint32_t BytesToConstantsEnd(const void* p) {
  return IsConstant(p) ? static_cast<uint32_t>(g_const_end - static_cast<const uint8_t*>(p)) : 0;
}

void FailNthAllocation(int n) { g_fail_countdown = n > 0 ? n : 0; }
HeapFigures GetHeapFigures() { return g_figures; }

uint32_t BlockSize(int64_t header, int64_t count, int64_t width) {
  // Sizes above 2^31 - 1 are refused: they cannot be described to the
  // program, whose lengths are signed 32-bit.
  constexpr int64_t kMax = 0x7FFFFFFF;
  if (header < 0 || count < 0 || width < 0) AllocationFailed(count < 0 ? count : -1);
  if (width != 0 && count > (kMax - header) / width) AllocationFailed(-1);
  return static_cast<uint32_t>(header + count * width);
}

void* AllocateBlock(uint32_t size) {
  if (size > 0x7FFFFFFFu) AllocationFailed(static_cast<int32_t>(size));
  void* p = HeapTake(size);
  if (!p) AllocationFailed(size);
  return p;
}

void* TryAllocateBlock(uint32_t size) {
  if (size > 0x7FFFFFFFu) return nullptr;
  return HeapTake(size);
}

void* AllocateZeroed(uint32_t size) {
  void* p = AllocateBlock(size);
  std::memset(p, 0, size);
  return p;
}

void* ReallocateBlock(void* block, uint32_t size) {
  if (block == nullptr) return AllocateBlock(size);
  if (size > 0x7FFFFFFFu) AllocationFailed(static_cast<int32_t>(size));
  if (IsConstant(block)) {
    // Constant data stays untouched: copy what lies before the block's end.
    void* fresh = AllocateBlock(size);
    int32_t available = static_cast<int32_t>(BytesToConstantsEnd(block));
    int32_t wanted = static_cast<int32_t>(size);
    std::memcpy(fresh, block, static_cast<size_t>(wanted < available ? wanted : available));
    return fresh;
  }
  void* p = HeapResize(block, size);
  if (!p) AllocationFailed(size);
  return p;
}

void FreeBlock(void* block) {
  if (block == nullptr || IsConstant(block)) return;
  HeapGive(block);
}

Text NewText(const char* bytes, size_t length) {
  if (length == 0) return nullptr;
  auto* t = static_cast<char*>(AllocateBlock(BlockSize(1, static_cast<int64_t>(length), 1)));
  std::memcpy(t, bytes, length);
  t[length] = '\0';
  return t;
}

Text CopyText(const char* text) { return NewText(text, TextLen(text)); }

ByteSetBlock* NewByteSet(const void* bytes, size_t length) {
  if (length == 0) return nullptr;
  auto* b = static_cast<ByteSetBlock*>(
      AllocateBlock(BlockSize(kByteSetHeader, static_cast<int64_t>(length), 1)));
  b->dims = 1;
  b->length = static_cast<int32_t>(length);
  if (bytes) std::memcpy(b->data, bytes, length);
  return b;
}

ByteSetBlock* NewZeroByteSet(size_t length) {
  ByteSetBlock* b = NewByteSet(nullptr, length);
  if (b) std::memset(b->data, 0, length);
  return b;
}

ArrayBlock* NewArray(int32_t count, uint32_t width) {
  uint32_t size = BlockSize(8, count, width);
  auto* a = static_cast<ArrayBlock*>(AllocateZeroed(size));
  a->dims = 1;
  a->sizes[0] = count;
  return a;
}

int32_t ArrayElementCount(const ArrayBlock* a) {
  if (!a || a->dims <= 0) return 0;
  int64_t n = 1;
  for (int32_t i = 0; i < a->dims; ++i) {
    n *= a->sizes[i];
    if (n <= 0 || n > 0x7FFFFFFF) return n <= 0 ? 0 : 0x7FFFFFFF;
  }
  return static_cast<int32_t>(n);
}

void* ArrayElements(ArrayBlock* a) {
  return reinterpret_cast<uint8_t*>(a) + 4 + 4 * static_cast<size_t>(a->dims);
}
const void* ArrayElements(const ArrayBlock* a) {
  return reinterpret_cast<const uint8_t*>(a) + 4 + 4 * static_cast<size_t>(a->dims);
}

void FreeTextArray(ArrayBlock* a) {
  if (!a) return;
  int32_t n = ArrayElementCount(a);
  auto** items = static_cast<void**>(ArrayElements(a));
  for (int32_t i = 0; i < n; ++i) FreeBlock(items[i]);
  FreeBlock(a);
}

}  // namespace rt
