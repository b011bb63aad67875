#include "precise/platform.h"

#include <windows.h>
#include <shellapi.h>

#include "precise/dll_table.h"
#include "precise/policy.h"
#include "precise/precise.h"
#include "program/program_calls.h"

namespace precise {
namespace {

uint32_t CallThroughTable(void*, int command, const uint32_t* words, int count) {
  return prog::CallDll(command, words, count);
}

// Asked before the first call of an optional function: calling a missing
// one would end the program on the Runtime's fatal path.
bool TableHas(void*, int command) {
  const prog::DllRow& f = measure::kPlatformFunctions[command];
  uint32_t module = prog::CallDll(kGetModuleHandleA, {W(f.library)});
  return module != 0 && prog::CallDll(kGetProcAddress, {module, W(f.name)}) != 0;
}

FILETIME FileTimeOf(int64_t unix_ms) {
  uint64_t ticks = static_cast<uint64_t>(unix_ms * 10000 + measure::kFileTimeAt1970);
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

int64_t UnixMsOf(const FILETIME& f) {
  int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime);
  return (ticks - measure::kFileTimeAt1970) / 10000;
}

}  // namespace

void CloseProcessHandle(uint32_t h) noexcept { prog::CallDll(kCloseHandle, {h}); }

measure::PlatformCalls EngineCalls() {
  measure::PlatformCalls calls;
  calls.call = CallThroughTable;
  calls.available = TableHas;
  return calls;
}

uint32_t SetClockUtc(int64_t utc_ms) {
  if (g_probe.set_clock) return g_probe.set_clock(utc_ms);
  Fields f = FieldsOf(utc_ms);
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(f.year);
  st.wMonth = static_cast<WORD>(f.month);
  st.wDayOfWeek = static_cast<WORD>(f.day_of_week);
  st.wDay = static_cast<WORD>(f.day);
  st.wHour = static_cast<WORD>(f.hour);
  st.wMinute = static_cast<WORD>(f.minute);
  st.wSecond = static_cast<WORD>(f.second);
  st.wMilliseconds = static_cast<WORD>(f.millisecond);
  if (prog::CallDll(kSetSystemTime, {W(&st)})) return 0;
  uint32_t error = prog::CallDll(kGetLastError, {});
  return error ? error : ERROR_INVALID_FUNCTION;  // never "set" when it was not
}

int64_t LocalShiftMs(int64_t utc_ms) {
  FILETIME utc = FileTimeOf(utc_ms), local{};
  if (!prog::CallDll(kFileTimeToLocalFileTime, {W(&utc), W(&local)})) return 0;
  return UnixMsOf(local) - utc_ms;
}

bool AskYesNo(const std::string& text, const char* caption) {
  return prog::CallDll(kMessageBoxA, {0, W(text.c_str()), W(caption),
                                      MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_TASKMODAL}) ==
         IDYES;
}

std::string CommandLineText() {
  const char* line = reinterpret_cast<const char*>(prog::CallDll(kGetCommandLineA, {}));
  return line ? line : "";
}

bool ElevatedCopy::TryStart(int64_t offset_ms) {
  if (Running()) return false;
  char path[MAX_PATH + 1] = {};
  uint32_t n = prog::CallDll(kGetModuleFileNameA, {0, W(path), MAX_PATH});
  if (n == 0 || n >= MAX_PATH) return false;
  std::string parameters = ApplyOffsetArgument(offset_ms);
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.lpVerb = "runas";
  info.lpFile = path;
  info.lpParameters = parameters.c_str();
  info.nShow = SW_HIDE;
  if (!prog::CallDll(kShellExecuteExA, {W(&info)})) return false;
  process_.reset(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info.hProcess)));
  return true;
}

bool ElevatedCopy::TryFinish(uint32_t* exit_code) {
  if (!Running() || prog::CallDll(kWaitForSingleObject, {process_.get(), 0}) != WAIT_OBJECT_0)
    return false;
  DWORD code = 0;
  if (!prog::CallDll(kGetExitCodeProcess, {process_.get(), W(&code)})) code = ERROR_INVALID_FUNCTION;
  *exit_code = code;
  process_.reset();
  return true;
}

}  // namespace precise
