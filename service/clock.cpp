// The shipped build's clock: SetSystemTime in UTC, milliseconds kept. The
// service's account holds the right; it is enabled once at start.
#include <windows.h>

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
  precise::Fields f = precise::FieldsOf(utc_ms);
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(f.year);
  st.wMonth = static_cast<WORD>(f.month);
  st.wDayOfWeek = static_cast<WORD>(f.day_of_week);
  st.wDay = static_cast<WORD>(f.day);
  st.wHour = static_cast<WORD>(f.hour);
  st.wMinute = static_cast<WORD>(f.minute);
  st.wSecond = static_cast<WORD>(f.second);
  st.wMilliseconds = static_cast<WORD>(f.millisecond);
  if (SetSystemTime(&st)) return 0;
  DWORD error = GetLastError();
  return error ? error : ERROR_INVALID_FUNCTION;  // never "set" when it was not
}

void AdjustSettings(HKEY, Settings*) {}
void NoteMeasurement(const keeper::Status&) {}

}  // namespace service
