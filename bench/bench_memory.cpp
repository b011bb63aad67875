// AllocateBlock/FreeBlock against the raw process heap, and ConcatTexts of N
// texts against std::string appends, interleaved in one run so both sides
// see the same machine load.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_timing.h"
#include "runtime/core/memory.h"
#include "program/program_support.h"

namespace {

volatile uintptr_t g_sink;  // keeps the work from being optimised away

double BlocksOnce(bool runtime, int count, uint32_t size) {
  std::vector<void*> blocks(count);
  HANDLE heap = GetProcessHeap();
  double t0 = bench::Seconds();
  for (int i = 0; i < count; ++i)
    blocks[i] = runtime ? rt::AllocateBlock(size) : HeapAlloc(heap, 0, size);
  for (int i = 0; i < count; ++i) {
    g_sink = g_sink + reinterpret_cast<uintptr_t>(blocks[i]);
    if (runtime) rt::FreeBlock(blocks[i]);
    else HeapFree(heap, 0, blocks[i]);
  }
  return bench::Seconds() - t0;
}

double ConcatOnce(bool runtime, const std::vector<const char*>& parts, int rounds) {
  double t0 = bench::Seconds();
  for (int r = 0; r < rounds; ++r) {
    if (runtime) {
      char* t = prog::ConcatTexts(static_cast<int>(parts.size()), parts.data());
      g_sink = g_sink + static_cast<unsigned char>(t[0]);
      rt::FreeBlock(t);
    } else {
      std::string s;
      for (const char* p : parts) s += p;
      g_sink = g_sink + static_cast<unsigned char>(s[0]);
    }
  }
  return bench::Seconds() - t0;
}

}  // namespace

int main() {
  for (uint32_t size : {16u, 256u, 4096u}) {
    double ours = 0, raw = 0;
    for (int rep = 0; rep < 20; ++rep) {
      ours += BlocksOnce(true, 10000, size);
      raw += BlocksOnce(false, 10000, size);
    }
    std::printf("AllocateBlock/FreeBlock %5u bytes: %6.1f ns per pair, HeapAlloc/HeapFree %6.1f ns (%.2fx)\n",
                size, ours / 200000 * 1e9, raw / 200000 * 1e9, ours / raw);
  }
  static const std::string piece(24, 'x');
  for (int n : {2, 8, 64}) {
    std::vector<const char*> parts(n, piece.c_str());
    double ours = 0, raw = 0;
    for (int rep = 0; rep < 20; ++rep) {
      ours += ConcatOnce(true, parts, 5000);
      raw += ConcatOnce(false, parts, 5000);
    }
    std::printf("ConcatTexts of %2d texts: %7.1f ns, std::string appends %7.1f ns (%.2fx)\n", n,
                ours / 100000 * 1e9, raw / 100000 * 1e9, ours / raw);
  }
  return 0;
}
