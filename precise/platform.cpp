#include "precise/platform.h"

#include <windows.h>
#include <shellapi.h>

#include <array>

#include "precise/dll_table.h"
#include "precise/policy.h"
#include "precise/precise.h"
#include "precise/system_time.h"
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
  SYSTEMTIME st = SystemTimeOf(utc_ms);
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

std::string OwnPath() {
  char path[MAX_PATH + 1] = {};
  uint32_t n = prog::CallDll(kGetModuleFileNameA, {0, W(path), MAX_PATH});
  return n == 0 || n >= MAX_PATH ? std::string() : std::string(path, n);
}

std::string KeeperProgramPath() {
  std::string path = OwnPath();
  size_t slash = path.find_last_of("\\/");
  const char* probe = g_probe.keeper_program ? g_probe.keeper_program() : nullptr;
  const char* name = probe && *probe ? probe : keeper::kServiceProgram;
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1) + name;
}

bool ElevatedProcess::TryStart(const std::string& file, const std::string& parameters, bool quiet) {
  declined_ = false;
  if (Running() || file.empty()) return false;
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | (quiet ? SEE_MASK_FLAG_NO_UI : 0);
  info.lpVerb = "runas";
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_HIDE;
  if (!prog::CallDll(kShellExecuteExA, {W(&info)})) {
    declined_ = prog::CallDll(kGetLastError, {}) == ERROR_CANCELLED;
    return false;
  }
  process_.reset(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info.hProcess)));
  return Running();
}

bool ElevatedProcess::TryFinish(uint32_t* exit_code) {
  if (!Running() || prog::CallDll(kWaitForSingleObject, {process_.get(), 0}) != WAIT_OBJECT_0)
    return false;
  DWORD code = 0;
  if (!prog::CallDll(kGetExitCodeProcess, {process_.get(), W(&code)})) code = ERROR_INVALID_FUNCTION;
  *exit_code = code;
  process_.reset();
  return true;
}

uint32_t ElevatedProcess::WaitForEnd() {
  if (Running()) prog::CallDll(kWaitForSingleObject, {process_.get(), INFINITE});
  uint32_t code = ERROR_INVALID_FUNCTION;
  TryFinish(&code);
  return code;
}

bool ElevatedCopy::TryStart(int64_t offset_ms) {
  return ElevatedProcess::TryStart(OwnPath(), ApplyOffsetArgument(offset_ms));
}

namespace {

void CloseServiceHandleOf(uint32_t h) noexcept { prog::CallDll(kCloseServiceHandle, {h}); }
using OwnedServiceHandle = rt::UniqueOf<uint32_t, CloseServiceHandleOf>;
void CloseKeyOf(uint32_t h) noexcept { prog::CallDll(kRegCloseKey, {h}); }
using OwnedKey = rt::UniqueOf<uint32_t, CloseKeyOf>;

// Records the platform's error code for the caller; always false. Read
// before any owner closes its handle, which could replace the code.
bool Failed(uint32_t* error) {
  *error = prog::CallDll(kGetLastError, {});
  return false;
}

// The service manager's state of one service (SERVICE_RUNNING, ...); false
// when there is no such service or the manager does not let us look.
bool TryServiceState(const char* name, uint32_t* state, uint32_t* error) {
  *error = 0;
  OwnedServiceHandle manager(prog::CallDll(kOpenSCManagerA, {0, 0, SC_MANAGER_CONNECT}));
  if (!manager) return Failed(error);
  OwnedServiceHandle service(prog::CallDll(kOpenServiceA, {manager.get(), W(name), SERVICE_QUERY_STATUS}));
  if (!service) return Failed(error);
  SERVICE_STATUS status{};
  if (!prog::CallDll(kQueryServiceStatus, {service.get(), W(&status)})) return Failed(error);
  *state = status.dwCurrentState;
  return true;
}

keeper::ServiceState KeeperStateByManager() {
  uint32_t state = 0, error = 0;
  if (TryServiceState(keeper::kServiceName, &state, &error)) return keeper::ServiceState::kStopped;
  // A service we may not look at is still there; only the manager's "no
  // such service" (or no manager at all) means it is not installed.
  return error == ERROR_SERVICE_DOES_NOT_EXIST || error == 0 ? keeper::ServiceState::kNotInstalled
                                                             : keeper::ServiceState::kStopped;
}

bool WindowsTimeSynchronisesHere() {
  uint32_t state = 0, error = 0;
  if (!TryServiceState("W32Time", &state, &error) || state != SERVICE_RUNNING) return false;
  OwnedKey key;
  const char* parameters = "SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters";
  uint32_t hklm = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(HKEY_LOCAL_MACHINE));
  if (prog::CallDll(kRegOpenKeyExA, {hklm, W(parameters), 0, KEY_QUERY_VALUE, W(key.put())}) != ERROR_SUCCESS)
    return keeper::WindowsTimeSynchronises(true, nullptr);
  char type[64] = {};
  DWORD kind = 0, size = sizeof type - 1;
  if (prog::CallDll(kRegQueryValueExA, {key.get(), W("Type"), 0, W(&kind), W(type), W(&size)}) != ERROR_SUCCESS ||
      (kind != REG_SZ && kind != REG_EXPAND_SZ))
    return keeper::WindowsTimeSynchronises(true, nullptr);
  return keeper::WindowsTimeSynchronises(true, type);
}

}  // namespace

bool TryAskKeeper(keeper::Command command, keeper::Status* status) {
  std::array<uint8_t, keeper::kRequestSize> request = keeper::EncodeRequest(command);
  uint8_t answer[keeper::kStatusSize + 1] = {};  // one byte more: a longer answer is no status
  DWORD got = 0;
  if (!prog::CallDll(kCallNamedPipeA, {W(keeper::kPipeName), W(request.data()), static_cast<uint32_t>(request.size()),
                                       W(answer), sizeof answer, W(&got), kPipeWaitMs}))
    return false;
  return keeper::TryDecodeStatus(answer, got, status);
}

KeeperView LookAtKeeper() {
  KeeperView view;
  view.state = TryAskKeeper(keeper::Command::kState, &view.status) ? keeper::ServiceState::kRunning
                                                                   : KeeperStateByManager();
  // A running service looks at Windows Time itself (status.windows_time_syncing).
  view.windows_time = view.state != keeper::ServiceState::kRunning && WindowsTimeSynchronisesHere();
  return view;
}

}  // namespace precise
