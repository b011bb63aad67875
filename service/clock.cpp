// The shipped build's clock: SetSystemTime in UTC, milliseconds kept. The
// service's account holds the right; it is enabled once at start.
#include <windows.h>

#include "precise/system_time.h"
#include "service/service.h"

namespace service {

bool EnableClockPrivilege() {
  Handle token;
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return false;
  token.reset(raw);
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueA(nullptr, SE_SYSTEMTIME_NAME, &tp.Privileges[0].Luid)) return false;
  // Succeeds with ERROR_NOT_ALL_ASSIGNED when the account lacks the right.
  return AdjustTokenPrivileges(token.get(), FALSE, &tp, 0, nullptr, nullptr) &&
         GetLastError() == ERROR_SUCCESS;
}

uint32_t SetClockUtc(int64_t utc_ms, double) {
  SYSTEMTIME st = precise::SystemTimeOf(utc_ms);
  if (SetSystemTime(&st)) return 0;
  DWORD error = GetLastError();
  return error ? error : ERROR_INVALID_FUNCTION;  // never "set" when it was not
}

void AdjustSettings(HKEY, Settings*) {}
void NoteMeasurement(const keeper::Status&) {}

}  // namespace service
