// Registration with the service manager, run elevated from the command
// line. What Windows has and Wine's service manager lacks (delayed start,
// failure actions, declared privileges) is best effort: reported, never a
// reason to fail the install.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "measure/measure.h"
#include "runtime/core/gbk_text.h"
#include "service/events/event_log.h"
#include "service/service.h"

namespace service {
namespace {

constexpr char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\TimecalPrecise";
constexpr char kAccount[] = "NT AUTHORITY\\LocalService";
constexpr char kEventsLibrary[] = "timecal-events.dll";  // next to the service program
constexpr DWORD kStopWaitMs = 5000;

// Restart after 1 min, again after 2 min, then every 10 min; the count
// starts afresh after a day without failure.
constexpr SC_ACTION kFailureActions[] = {
    {SC_ACTION_RESTART, 60 * 1000}, {SC_ACTION_RESTART, 2 * 60 * 1000}, {SC_ACTION_RESTART, 10 * 60 * 1000}};
constexpr DWORD kFailureResetSeconds = 24 * 60 * 60;

int Refused(const char* what) {
  DWORD error = GetLastError();
  std::printf("timecal-service: %s failed (error %lu)\n", what, static_cast<unsigned long>(error));
  return error == ERROR_ACCESS_DENIED ? keeper::kInstallNoRight : keeper::kInstallFailed;
}

void BestEffort(bool done, const char* what) {
  if (!done)
    std::printf("timecal-service: %s not taken here (error %lu), going on\n", what,
                static_cast<unsigned long>(GetLastError()));
}

// This program's own path: the service runs the very file that installed
// it (the test build installs itself).
std::string OwnPath() {
  char path[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n < MAX_PATH ? n : 0);
}

void Configure(SC_HANDLE service) {
  char description[] = GBK_SERVICE_DESCRIPTION;
  SERVICE_DESCRIPTIONA text{description};
  BestEffort(ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &text), "description");
  SERVICE_DELAYED_AUTO_START_INFO delayed{TRUE};
  BestEffort(ChangeServiceConfig2A(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed),
             "delayed automatic start");
  SC_ACTION actions[3];
  for (int i = 0; i < 3; ++i) actions[i] = kFailureActions[i];
  SERVICE_FAILURE_ACTIONSA failure{kFailureResetSeconds, nullptr, nullptr, 3, actions};
  BestEffort(ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure), "failure actions");
  // Only the right to set the clock: every other privilege of the account
  // is dropped from the service's token.
  char privileges[] = SE_SYSTEMTIME_NAME "\0";
  SERVICE_REQUIRED_PRIVILEGES_INFOA required{privileges};
  BestEffort(ChangeServiceConfig2A(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &required),
             "required privileges");
}

// One value of the service's Parameters key, its bytes as given.
bool WriteParameter(const char* name, DWORD type, const std::string& bytes) {
  Key key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keeper::kParametersKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                      nullptr) != ERROR_SUCCESS)
    return false;
  return RegSetValueExA(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

bool WriteSources(const std::vector<std::string>& urls) {
  std::string list;
  for (const std::string& url : urls) list += url + '\0';
  return WriteParameter(keeper::kSourcesValue, REG_MULTI_SZ, list + '\0');
}

bool WriteProxy(const std::string& proxy) {
  return WriteParameter(keeper::kProxyValue, REG_SZ, proxy + '\0');
}

// What the service's key and the event source leave behind.
void RemoveKeys() {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, keeper::kParametersKey);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, keeper::kParametersKey);
  events::TryRemoveSource();
}

}  // namespace

int Install(const std::vector<std::string>& words) {
  // URLs, and the way to them when one is named: "--proxy host:port" or
  // "--no-proxy" (written as the Proxy value; without either the value
  // stays as it was, the system's way when there is none).
  std::vector<std::string> given;
  std::optional<std::string> proxy;
  for (size_t i = 0; i < words.size(); ++i) {
    measure::Url parts;
    measure::Proxy way;
    if (size_t taken = measure::TakeProxyWords(words, i, &way)) {
      proxy = way.mode == measure::ProxyMode::kDirect ? keeper::kProxyDirect : way.server;
      i += taken - 1;
    } else if (measure::TryParseUrl(words[i], &parts)) {
      given.push_back(words[i]);
    } else {
      std::printf("timecal-service: not an http:// or https:// URL: %s\n", measure::Printable(words[i]).c_str());
      return keeper::kInstallBadArguments;
    }
  }
  std::vector<std::string> urls = given.empty() ? precise::UrlsIn(precise::kDefaultSources) : given;
  std::string path = OwnPath();
  std::string folder = path.substr(0, path.find_last_of("\\/") + 1);
  std::string command = "\"" + path + "\"";

  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!manager) return Refused("opening the service manager");
  ScHandle service(OpenServiceA(manager.get(), keeper::kServiceName, SERVICE_ALL_ACCESS));
  bool update = static_cast<bool>(service);
  if (update) {
    if (!ChangeServiceConfigA(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                              command.c_str(), nullptr, nullptr, nullptr, kAccount, "",
                              GBK_SERVICE_DISPLAY_NAME))
      return Refused("updating the service");
  } else {
    service.reset(CreateServiceA(manager.get(), keeper::kServiceName, GBK_SERVICE_DISPLAY_NAME,
                                 SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                 SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr, kAccount, ""));
    if (!service) return Refused("creating the service");
  }
  Configure(service.get());
  if (!WriteSources(urls)) return Refused("writing the sources");
  if (proxy && !WriteProxy(*proxy)) return Refused("writing the proxy");
  if (!events::TryRegisterSource(folder + kEventsLibrary)) return Refused("registering the event source");
  SERVICE_STATUS st{};
  bool running = QueryServiceStatus(service.get(), &st) && st.dwCurrentState != SERVICE_STOPPED;
  if (!running) BestEffort(StartServiceA(service.get(), 0, nullptr), "starting the service");
  std::printf("timecal-service: %s with %u sources\n", update ? "updated" : "installed",
              static_cast<unsigned>(urls.size()));
  return keeper::kInstallDone;
}

int Uninstall() {
  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return Refused("opening the service manager");
  ScHandle service(OpenServiceA(manager.get(), keeper::kServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) {
    if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) return Refused("opening the service");
    RemoveKeys();  // what an interrupted uninstall may have left
    std::printf("timecal-service: not installed\n");
    return keeper::kInstallNotInstalled;
  }
  SERVICE_STATUS st{};
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &st)) {
    // The service answers a stop within two seconds; wait a little longer.
    for (DWORD waited = 0; waited < kStopWaitMs && QueryServiceStatus(service.get(), &st) &&
                           st.dwCurrentState != SERVICE_STOPPED;
         waited += 100)
      Sleep(100);
  }
  if (!DeleteService(service.get())) return Refused("removing the service");
  service.reset();
  RemoveKeys();
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kServiceKey);  // Wine's manager may leave it
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kServiceKey);
  std::printf("timecal-service: removed\n");
  return keeper::kInstallDone;
}

}  // namespace service
