// Memory and handle figures of the running process, measured by the process
// itself: under Wine the process counters (private usage, handle count)
// answer 0, so both are counted directly.
#pragma once

#include <windows.h>

#include <cstdint>

namespace testsupport {

// Committed private memory, summed over the address space.
inline unsigned long PrivateBytes() {
  unsigned long total = 0;
  MEMORY_BASIC_INFORMATION mbi;
  for (const char* p = nullptr; VirtualQuery(p, &mbi, sizeof mbi) == sizeof mbi;
       p = static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize) {
    if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) total += mbi.RegionSize;
    if (static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize < p) break;
  }
  return total;
}

// Over every heap of the process (the program's blocks and the platform's
// own: the script engine's, WinINet's, COM's alike): the bytes in use, and
// the bytes its regions hold committed, used or free. A walk: slow.
struct HeapWalkFigures {
  long long busy = -1, committed = -1;
};
inline HeapWalkFigures WalkHeaps() {
  HANDLE heaps[64];
  const DWORD n = GetProcessHeaps(64, heaps);
  HeapWalkFigures f{0, 0};
  for (DWORD i = 0; i < n && i < 64; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY e{};
    while (HeapWalk(heaps[i], &e)) {
      if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) f.busy += e.cbData;
      if (e.wFlags & PROCESS_HEAP_REGION) f.committed += e.Region.dwCommittedSize;
    }
    HeapUnlock(heaps[i]);
  }
  return f;
}

// Open kernel handles, by probing the handle values in use.
inline unsigned long OpenHandles() {
  unsigned long n = 0;
  DWORD flags;
  for (uintptr_t h = 4; h < 0x10000; h += 4)
    if (GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags)) ++n;
  return n;
}

}  // namespace testsupport
