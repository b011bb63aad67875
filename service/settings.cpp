// The service's settings from its Parameters key: the sources, and the way
// to them (Proxy).
#include <windows.h>

#include <algorithm>
#include <string>

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
    // REG_SZ "host:port", or "direct"; anything else (an empty value, a
    // name that is no proxy) leaves WinHTTP's own setting in force.
    char proxy[272] = {0};
    DWORD proxy_size = sizeof proxy - 1;
    if (RegQueryValueExA(key.get(), keeper::kProxyValue, nullptr, &type, reinterpret_cast<BYTE*>(proxy),
                         &proxy_size) == ERROR_SUCCESS &&
        type == REG_SZ) {
      proxy[std::min<DWORD>(proxy_size, sizeof proxy - 1)] = '\0';
      if (std::string(proxy) == keeper::kProxyDirect)
        s.proxy.mode = measure::ProxyMode::kDirect;
      else
        measure::TryParseProxy(proxy, &s.proxy);
    }
    AdjustSettings(key.get(), &s);
  }
  if (s.urls.empty()) s.urls = precise::UrlsIn(precise::kDefaultSources);
  return s;
}

}  // namespace service
