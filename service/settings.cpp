// The service's settings from its Parameters key, and Windows Time's state.
#include <windows.h>

#include "service/service.h"

namespace service {

Settings ReadSettings() {
  Settings s;
  Key key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keeper::kParametersKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
    // REG_MULTI_SZ: strings each ended by a zero, the list by another. A
    // value that is not one (or is cut short) yields what reads before it.
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.get(), keeper::kSourcesValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_MULTI_SZ && size > 0 && size < 64 * 1024) {
      std::string bytes(size + 2, '\0');
      if (RegQueryValueExA(key.get(), keeper::kSourcesValue, nullptr, &type,
                           reinterpret_cast<BYTE*>(&bytes[0]), &size) == ERROR_SUCCESS) {
        for (size_t at = 0; at < size && bytes[at];) {
          std::string one(&bytes[at]);
          at += one.size() + 1;
          for (const std::string& url : precise::UrlsIn(one)) s.urls.push_back(url);
        }
      }
    }
    AdjustSettings(key.get(), &s);
  }
  if (s.urls.empty()) s.urls = precise::UrlsIn(precise::kDefaultSources);
  return s;
}

bool WindowsTimeSynchronising() {
  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return false;
  ScHandle w32time(OpenServiceA(manager.get(), "W32Time", SERVICE_QUERY_STATUS));
  SERVICE_STATUS st{};
  bool running = w32time && QueryServiceStatus(w32time.get(), &st) && st.dwCurrentState == SERVICE_RUNNING;
  if (!running) return false;
  char type[64] = {};
  DWORD size = sizeof type - 1;
  bool read = RegGetValueA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters",
                           "Type", RRF_RT_REG_SZ, nullptr, type, &size) == ERROR_SUCCESS;
  return keeper::WindowsTimeSynchronises(true, read ? type : nullptr);
}

}  // namespace service
