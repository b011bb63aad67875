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

// Open kernel handles, by probing the handle values in use.
inline unsigned long OpenHandles() {
  unsigned long n = 0;
  DWORD flags;
  for (uintptr_t h = 4; h < 0x10000; h += 4)
    if (GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags)) ++n;
  return n;
}

}  // namespace testsupport
