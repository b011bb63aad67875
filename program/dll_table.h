// The program's DllCommandTable: the external library functions that the
// web routine, the code-page conversion and the JSON object call, by index.
// The names are program data stored in the program image; the Runtime binds
// each entry on its first call (runtime/dll).
#pragma once

#include <cstdint>

namespace prog {

// A pointer as the 32-bit argument word an entry's call pushes.
inline uint32_t W(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

enum DllCommand : int {
  kInternetOpenA = 0,
  kInternetCloseHandle = 1,
  kInternetConnectA = 2,
  kHttpOpenRequestA = 3,
  kHttpSendRequestText = 4,   // HttpSendRequestA, body as a text pointer
  kHttpSendRequestBytes = 5,  // HttpSendRequestA, body as ByteSet data
  kInternetReadFile = 6,
  kHttpQueryInfoA = 7,
  kMultiByteToWideChar = 8,
  kWideCharToMultiByte = 9,
  kCoInitialize = 10,
  kCoUninitialize = 11,
  kSetTimer = 12,   // the JSON object's idle-time work (a thread timer)
  kKillTimer = 13,
  kDllCommandCount = 14,
};

extern const char* const kDllLibraryNames[kDllCommandCount];
extern const char* const kDllFunctionNames[kDllCommandCount];

}  // namespace prog
