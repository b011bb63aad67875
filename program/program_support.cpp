// Support routines for compiled program code (see program_support.h).
#include "program/program_support.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "program/program_calls.h"
#include "runtime/core/memory.h"

namespace prog {

using rt::BlockSize;
using rt::TextLen;

int64_t TruncateToInt64(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9223372036854775807.0) return INT64_MAX;
  if (v <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(v);
}

int CompareTexts(const char* a, const char* b) {
  int c = std::strcmp(a ? a : "", b ? b : "");  // strcmp compares unsigned bytes
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int32_t TextLength(const char* t) { return static_cast<int32_t>(TextLen(t)); }

rt::Text ConcatTexts(int count, const char* const* texts) {
  // Each text is measured once; the lengths are kept for the copy.
  size_t few[16];
  std::vector<size_t> many(count > 16 ? static_cast<size_t>(count) : 0);
  size_t* lengths = count > 16 ? many.data() : few;
  int64_t total = 0;
  for (int i = 0; i < count; ++i) total += static_cast<int64_t>(lengths[i] = TextLen(texts[i]));
  if (total == 0) return nullptr;
  auto* out = static_cast<char*>(Allocate(BlockSize(1, total, 1)));
  char* w = out;
  for (int i = 0; i < count; ++i) {
    if (lengths[i]) std::memcpy(w, texts[i], lengths[i]);
    w += lengths[i];
  }
  *w = '\0';
  return out;
}

rt::ByteSetBlock* ConcatByteSets(int count, const rt::ByteSetBlock* const* sets) {
  int64_t total = 0;
  for (int i = 0; i < count; ++i) total += rt::ByteSetLength(sets[i]);
  if (total == 0) return nullptr;
  const uint32_t length = BlockSize(0, total, 1);  // an overflowing total is fatal
  auto* out = static_cast<rt::ByteSetBlock*>(Allocate(BlockSize(rt::kByteSetHeader, length, 1)));
  out->dims = 1;
  out->length = static_cast<int32_t>(length);
  uint8_t* w = out->data;
  for (int i = 0; i < count; ++i) {
    int32_t n = rt::ByteSetLength(sets[i]);
    if (n > 0) std::memcpy(w, sets[i]->data, static_cast<size_t>(n));
    w += n > 0 ? n : 0;
  }
  return out;
}

int CompareBytes(const void* a, const void* b, uint32_t n) {
  int c = n ? std::memcmp(a, b, n) : 0;
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int32_t ElementCount(const rt::ArrayBlock* a) { return rt::ArrayElementCount(a); }

void FreeTextArray(rt::ArrayBlock* a) {
  if (!a) return;
  char** items = ElementsOf<char*>(a);
  for (int32_t i = 0, n = ElementCount(a); i < n; ++i) Free(items[i]);
  Free(a);
}

void CheckSubscript(const rt::ArrayBlock* a, int32_t subscript) {
  int64_t i = static_cast<int64_t>(subscript) - 1;
  if (i < 0) RaiseRuntimeError(4);  // tested first: subscript 0 on an empty array is code 4
  if (i >= rt::ArrayElementCount(a)) RaiseRuntimeError(1);
}

}  // namespace prog
