#include "tests/app/tool_driver.h"

#include <wininet.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "window_templates.h"  // the tool's (app/main_window.json)

namespace e2e {

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

namespace {

bool IsToolWindow(HWND h) {
  char caption[128] = {};
  GetWindowTextA(h, caption, sizeof caption);
  return std::string(caption).rfind("devarude", 0) == 0;
}

}  // namespace

TimeService::TimeService(const std::string& port_file) {
  std::ifstream in(testsupport::ExeDir() + port_file);
  in >> port_;
}

std::string TimeService::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string TimeService::Get(const std::string& path) const {
  std::string body;
  HINTERNET root = InternetOpenA("e2e", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (!root) return body;
  HINTERNET req = InternetOpenUrlA(root, Url(path).c_str(), nullptr, 0,
                                   INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
  if (req) {
    char buf[256];
    DWORD got = 0;
    while (InternetReadFile(req, buf, sizeof buf, &got) && got) body.append(buf, got);
    InternetCloseHandle(req);
  }
  InternetCloseHandle(root);
  return body;
}

bool TimeService::Control(const std::string& query) const { return Get("/control?" + query) == "ok"; }
int TimeService::Requests() const { return std::atoi(Get("/stats").c_str()); }

Tool::Tool(const std::string& url, int period_ms) {
  static int serial = 0;
  const std::string tag = testsupport::ExeDir() + std::to_string(GetCurrentProcessId()) + "_" +
                          std::to_string(++serial);
  clock_log_ = tag + "_clock.log", end_log_ = tag + "_end.log", stats_log_ = tag + "_stats.log";
  SetEnvironmentVariableA("TIMECAL_URL", url.c_str());
  SetEnvironmentVariableA("TIMECAL_CLOCK_LOG", clock_log_.c_str());
  SetEnvironmentVariableA("TIMECAL_END_LOG", end_log_.c_str());
  SetEnvironmentVariableA("TIMECAL_STATS_LOG", stats_log_.c_str());
  SetEnvironmentVariableA("TIMECAL_TIMER_MS", period_ms > 0 ? std::to_string(period_ms).c_str() : nullptr);
  process_ = testsupport::Spawn("\"" + testsupport::ExeDir() + "..\\..\\app\\timecal_probe.exe\"");
  if (!process_) return;
  // The first refresh (a web request) runs before the window shows.
  window_ = testsupport::WaitForVisibleWindow(process_, IsToolWindow, 400, 50);
}

Tool::~Tool() {
  if (process_ && !closed_) {
    Close();
    if (WaitForSingleObject(process_.handle.get(), 0) == WAIT_TIMEOUT) TerminateProcess(process_.handle.get(), 1);
  }
  for (const std::string& f : {clock_log_, end_log_, stats_log_}) DeleteFileA(f.c_str());
}

std::string Tool::Text(HWND h) const {
  char buf[512] = {};
  DWORD_PTR got = 0;
  SendMessageTimeoutA(h, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG,
                      5000, &got);
  return std::string(buf, got);
}

// The boxes and the button sit directly in the window.
namespace control = rtwin::MainWindow::control;
std::string Tool::ServiceBox() const { return Text(GetDlgItem(window_, control::kEdit1)); }
std::string Tool::PcBox() const { return Text(GetDlgItem(window_, control::kEdit2)); }

void Tool::ClickCalibrate() const {
  DWORD_PTR r;
  SendMessageTimeoutA(GetDlgItem(window_, control::kButton1), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 10000, &r);
}

bool Tool::Responsive(int ms) const {
  // A window busy for a while counts as hung and is answered at once, so
  // ask again until the time is up.
  DWORD_PTR r;
  auto answers = [&] { return SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &r) != 0; };
  return testsupport::Wait(answers, ms);
}

DWORD Tool::Close() {
  closed_ = true;
  if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
  WaitForSingleObject(process_.handle.get(), 20000 * testsupport::TimeScale());
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process_.handle.get(), &code);
  return code;
}

std::vector<std::string> Tool::ClockRequests() const { return ReadLines(clock_log_); }
std::vector<std::string> Tool::EndRoutineRuns() const { return ReadLines(end_log_); }
std::vector<Figures> Tool::Stats() const {
  std::vector<Figures> out;
  for (const std::string& line : ReadLines(stats_log_)) {
    Figures f{};
    std::istringstream in(line);
    if (in >> f.refreshes >> f.private_bytes >> f.working_set >> f.handles >> f.user_objects >> f.gdi_objects)
      out.push_back(f);
  }
  return out;
}

bool ParseDisplayed(const std::string& text, SYSTEMTIME* out) {
  // Digits and a unit each: year, month and day always; then hour, minute,
  // second as far as shown.
  static const char* const kUnits[] = {GBK_YEAR, GBK_MONTH, GBK_DAY, GBK_HOUR, GBK_MINUTE, GBK_SECOND};
  WORD f[6] = {};
  const char* p = text.c_str();
  for (int i = 0; i < 6 && (i < 3 || *p); ++i) {
    const char* digits = p;
    while (*p >= '0' && *p <= '9') f[i] = static_cast<WORD>(f[i] * 10 + (*p++ - '0'));
    if (p == digits || std::strncmp(p, kUnits[i], 2) != 0) return false;
    p += 2;
  }
  *out = SYSTEMTIME{f[0], f[1], 0, f[2], f[3], f[4], f[5], 0};
  return p == text.c_str() + text.size();
}

double SecondsAhead(const SYSTEMTIME& t) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  FILETIME a, b;
  SystemTimeToFileTime(&t, &a);
  SystemTimeToFileTime(&now, &b);
  auto ticks = [](FILETIME f) { return static_cast<double>((ULONGLONG{f.dwHighDateTime} << 32) | f.dwLowDateTime); };
  return (ticks(a) - ticks(b)) / 1e7;
}

}  // namespace e2e
