// The time keeper as the Win32-calling programs see it (the service itself
// and the console query; the precise window has its own twins in
// precise/platform.cpp, as it reaches Windows only through its DLL command
// table): the owners of the handles they share, the service's pipe asked
// once, the service manager's word on a service, and Windows Time's state.
// Owns: every handle within one call. Windows only.
// May call: Win32 (kernel32, advapi32), keeper/protocol.h.
#pragma once

#include <windows.h>

#include "keeper/protocol.h"
#include "runtime/core/owner.h"

namespace keeper {

inline void CloseOwnedHandle(HANDLE h) noexcept { CloseHandle(h); }
using Handle = rt::UniqueOf<HANDLE, CloseOwnedHandle>;
inline void CloseKey(HKEY k) noexcept { RegCloseKey(k); }
using Key = rt::UniqueOf<HKEY, CloseKey>;
inline void CloseScHandle(SC_HANDLE h) noexcept { CloseServiceHandle(h); }
using ScHandle = rt::UniqueOf<SC_HANDLE, CloseScHandle>;

// One request to the service's pipe and its status; false when no instance
// is free within wait_ms, or the answer is no status.
bool TryAsk(Command command, Status* status, DWORD wait_ms);
// The service manager's state of one service (SERVICE_RUNNING, ...); false
// with the platform's error when there is no such service or no manager.
bool TryServiceState(const char* name, DWORD* state, DWORD* error);
// When the pipe is silent: stopped, or not installed. A service we may not
// look at is still there; only "no such service" (or no manager at all)
// means it is not installed.
ServiceState StateByManager();
// The Windows Time service runs and synchronises the clock.
bool WindowsTimeSynchronising();

}  // namespace keeper
