// The keeper's Win32 side for the service and the query (keeper_win.h).
#include "keeper/keeper_win.h"

namespace keeper {

bool TryAsk(Command command, Status* status, DWORD wait_ms) {
  std::array<uint8_t, kRequestSize> request = EncodeRequest(command);
  uint8_t answer[kStatusSize + 1] = {};  // one byte more: a longer answer is no status
  DWORD got = 0;
  return CallNamedPipeA(kPipeName, request.data(), static_cast<DWORD>(request.size()), answer, sizeof answer, &got,
                        wait_ms) &&
         TryDecodeStatus(answer, got, status);
}

bool TryServiceState(const char* name, DWORD* state, DWORD* error) {
  *error = 0;
  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  ScHandle service(manager ? OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS) : nullptr);
  SERVICE_STATUS st{};
  if (!service || !QueryServiceStatus(service.get(), &st)) {
    *error = GetLastError();
    return false;
  }
  *state = st.dwCurrentState;
  return true;
}

ServiceState StateByManager() {
  DWORD state = 0, error = 0;
  if (TryServiceState(kServiceName, &state, &error)) return ServiceState::kStopped;
  return error == ERROR_SERVICE_DOES_NOT_EXIST || error == 0 ? ServiceState::kNotInstalled : ServiceState::kStopped;
}

bool WindowsTimeSynchronising() {
  DWORD state = 0, error = 0;
  if (!TryServiceState("W32Time", &state, &error) || state != SERVICE_RUNNING) return false;
  char type[64] = {};
  DWORD size = sizeof type - 1;
  bool read = RegGetValueA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters", "Type",
                           RRF_RT_REG_SZ, nullptr, type, &size) == ERROR_SUCCESS;
  return WindowsTimeSynchronises(true, read ? type : nullptr);
}

}  // namespace keeper
