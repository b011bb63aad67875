// timecal-service.exe: the service itself, or its installer.
//   timecal-service.exe --install [URL...]   register (or update the sources)
//   timecal-service.exe --uninstall          stop and remove everything
// Started by the service manager it runs the service: the control handler
// on the dispatcher's thread, the keeper thread that waits, measures and
// sets, and the pipe's threads. Between measurements every thread waits on
// events and time-outs; nothing polls.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "keeper/keeper.h"
#include "measure/measure_edge.h"
#include "precise/system_time.h"
#include "service/events/event_log.h"
#include "service/service.h"

namespace service {
namespace {

// A stop answers within this, even in the middle of an exchange: the
// keeper thread is given this long to finish, then the process ends.
constexpr DWORD kStopWaitMs = 1500;

class Lock {
 public:
  Lock() { InitializeCriticalSection(&section_); }
  ~Lock() { DeleteCriticalSection(&section_); }
  void Enter() { EnterCriticalSection(&section_); }
  void Leave() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};
class Held {
 public:
  explicit Held(Lock& lock) : lock_(lock) { lock_.Enter(); }
  ~Held() { lock_.Leave(); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;

 private:
  Lock& lock_;
};

// Shared by the threads: the keeper behind its lock, and the two events.
struct Shared {
  Lock lock;
  std::unique_ptr<keeper::Keeper> keeper;
  Handle stop{CreateEventA(nullptr, TRUE, FALSE, nullptr)};  // manual: every thread sees it
  Handle wake{CreateEventA(nullptr, FALSE, FALSE, nullptr)};  // a request or a resume
};
Shared* g_shared = nullptr;  // lives for the whole service run (ServiceMain's frame)
SERVICE_STATUS_HANDLE g_status_handle = nullptr;

int64_t MonoMs() { return static_cast<int64_t>(GetTickCount64()); }


// Each notice is the event of the same number.
static_assert(static_cast<int>(keeper::NoticeKind::kCount) == static_cast<int>(events::Event::kCount) &&
                  static_cast<int>(keeper::NoticeKind::kSetFailed) == static_cast<int>(events::Event::kSetFailed) &&
                  static_cast<int>(keeper::NoticeKind::kWindowsTime) == static_cast<int>(events::Event::kWindowsTime) &&
                  static_cast<int>(keeper::NoticeKind::kFirstSet) == static_cast<int>(events::Event::kFirstSet),
              "one event per notice, in the same order");
void Log(const std::vector<keeper::Notice>& notices) {
  for (const keeper::Notice& n : notices) events::Report(static_cast<events::Event>(n.kind), n.inserts);
}

void ReportState(DWORD state, DWORD wait_hint = 0) {
  SERVICE_STATUS st{};
  st.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  st.dwCurrentState = state;
  st.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_POWEREVENT : 0;
  st.dwWaitHint = wait_hint;
  SetServiceStatus(g_status_handle, &st);
}

DWORD WINAPI OnControl(DWORD control, DWORD event, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      ReportState(SERVICE_STOP_PENDING, kStopWaitMs + 500);
      SetEvent(g_shared->stop.get());
      return NO_ERROR;
    case SERVICE_CONTROL_POWEREVENT:
      if (event == PBT_APMRESUMEAUTOMATIC || event == PBT_APMRESUMESUSPEND) {
        Held held(g_shared->lock);
        g_shared->keeper->Resumed(MonoMs());
        SetEvent(g_shared->wake.get());
      }
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

keeper::Status OnAsk(keeper::Command command) {
  Held held(g_shared->lock);
  keeper::Answer answer = g_shared->keeper->Ask(command, MonoMs());
  if (answer == keeper::Answer::kAccepted) SetEvent(g_shared->wake.get());
  keeper::Status st = g_shared->keeper->status();
  st.answer = answer;
  return st;
}

// Waits up to ms for a stop (true) or a wake (false).
bool WaitStop(int64_t ms) {
  HANDLE both[] = {g_shared->stop.get(), g_shared->wake.get()};
  DWORD wait = ms < 0 ? 0 : ms > 60000 ? 60000 : static_cast<DWORD>(ms);
  return WaitForMultipleObjects(2, both, FALSE, wait) == WAIT_OBJECT_0;
}
bool Stopping() { return WaitForSingleObject(g_shared->stop.get(), 0) == WAIT_OBJECT_0; }

// One measurement over WinHTTP; null when a stop came first.
std::unique_ptr<precise::Outcome> Measure(const measure::PlatformCalls& calls, const Settings& settings,
                                          std::string* first_reason) {
  measure::Options options;
  options.build_utc = measure::BuildDateUtc(__DATE__);
  options.target_resolution = settings.target_resolution;
  options.proxy = settings.proxy;
  measure::Measurement m(calls, settings.urls, options, measure::HttpApi::kWinHttp);
  while (m.Step()) {
    double left_ms = (m.NextWakeTime() - m.clock().Now()) * 1000.0 - 10.0;
    if (left_ms > 1 ? WaitForSingleObject(g_shared->stop.get(), static_cast<DWORD>(left_ms)) == WAIT_OBJECT_0
                    : Stopping()) {
      m.Cancel();
      return nullptr;
    }
  }
  const measure::Result& r = m.result();
  first_reason->clear();
  for (const measure::SourceResult& s : r.sources)
    if (s.failure.reason != measure::Reason::kNone) {
      *first_reason = measure::Printable(measure::FailureText(s.failure));
      break;
    }
  return std::make_unique<precise::Outcome>(precise::OutcomeOf(r));
}

DWORD WINAPI KeeperThread(void*) {
  measure::PlatformCalls calls = measure::BindPlatformCalls();
  for (;;) {
    int64_t wait;
    {
      Held held(g_shared->lock);
      wait = g_shared->keeper->WaitMs(MonoMs());
    }
    if (wait > 0 && WaitStop(wait)) return 0;
    if (Stopping()) return 0;
    keeper::Purpose purpose;
    {
      Held held(g_shared->lock);
      if (!g_shared->keeper->TakeDue(MonoMs(), &purpose)) continue;
    }
    Settings settings = ReadSettings();
    std::vector<keeper::Notice> notices;
    bool windows_time = keeper::WindowsTimeSynchronising();
    {
      Held held(g_shared->lock);
      g_shared->keeper->WindowsTime(windows_time, &notices);
    }
    std::string reason;
    std::unique_ptr<precise::Outcome> outcome = Measure(calls, settings, &reason);
    if (!outcome) return 0;
    keeper::SetOrder order;
    keeper::Status status;
    {
      Held held(g_shared->lock);
      order = g_shared->keeper->Finished(*outcome, MonoMs(), precise::PcClockUnixMs(), settings.urls.size(), reason, &notices);
      status = g_shared->keeper->status();
    }
    NoteMeasurement(status);
    if (order.set) {
      // The target taken at this very moment: the offset holds for the PC
      // clock as it runs, whatever time the decision took.
      measure::Clock clock(calls);
      int64_t target = static_cast<int64_t>(clock.Utc() * 1000.0 + order.offset_ms + 0.5);
      uint32_t error = SetClockUtc(target, order.offset_ms);
      Held held(g_shared->lock);
      g_shared->keeper->SetDone(order.offset_ms, target, error, &notices);
    }
    Log(notices);
  }
}

DWORD WINAPI PipeThread(void*) {
  ServePipe(g_shared->stop.get(), OnAsk);
  return 0;
}

void WINAPI ServiceMain(DWORD, char**) {
  Shared shared;
  g_shared = &shared;
  g_status_handle = RegisterServiceCtrlHandlerExA(keeper::kServiceName, OnControl, nullptr);
  if (!g_status_handle) return;
  ReportState(SERVICE_START_PENDING, 3000);
  Settings settings = ReadSettings();
  shared.keeper = std::make_unique<keeper::Keeper>(settings.periods);
  if (!EnableClockPrivilege()) Log({{keeper::NoticeKind::kSetFailed, {std::to_string(ERROR_PRIVILEGE_NOT_HELD)}}});
  {
    Held held(shared.lock);
    Log(shared.keeper->Start(MonoMs(), settings.urls.size()));
  }
  Handle keeper_thread(CreateThread(nullptr, 0, KeeperThread, nullptr, 0, nullptr));
  Handle pipe_thread(CreateThread(nullptr, 0, PipeThread, nullptr, 0, nullptr));
  ReportState(SERVICE_RUNNING);
  WaitForSingleObject(shared.stop.get(), INFINITE);
  HANDLE threads[] = {keeper_thread.get(), pipe_thread.get()};
  WaitForMultipleObjects(2, threads, TRUE, kStopWaitMs);
  Log({{keeper::NoticeKind::kStopped, {}}});
  ReportState(SERVICE_STOPPED);
  // A thread still inside an exchange must not outlive the state it uses.
  ExitProcess(0);
}

}  // namespace
}  // namespace service

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "--install") return service::Install({args.begin() + 1, args.end()});
  if (args.size() == 1 && args[0] == "--uninstall") return service::Uninstall();
  char name[sizeof keeper::kServiceName];
  std::memcpy(name, keeper::kServiceName, sizeof name);
  SERVICE_TABLE_ENTRYA table[] = {{name, service::ServiceMain}, {nullptr, nullptr}};
  if (StartServiceCtrlDispatcherA(table)) return 0;
  std::fprintf(stderr,
               "timecal-service: run by the service manager, or:\n"
               "  timecal-service.exe --install [URL...]\n"
               "  timecal-service.exe --uninstall\n");
  return keeper::kInstallBadArguments;
}
