// The service's settings from its Parameters key.
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

}  // namespace service
