#include "tests/app/tool_driver.h"

#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "runtime/core/gbk_text.h"
#include "tests/support/child_process.h"

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

BOOL CALLBACK CollectChild(HWND h, LPARAM lp) {
  reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
  return TRUE;
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
  std::string tag = std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++serial);
  clock_log_ = testsupport::ExeDir() + "clock_" + tag + ".log";
  end_log_ = testsupport::ExeDir() + "end_" + tag + ".log";
  stats_log_ = testsupport::ExeDir() + "stats_" + tag + ".log";
  SetEnvironmentVariableA("TIMECAL_URL", url.c_str());
  SetEnvironmentVariableA("TIMECAL_CLOCK_LOG", clock_log_.c_str());
  SetEnvironmentVariableA("TIMECAL_END_LOG", end_log_.c_str());
  SetEnvironmentVariableA("TIMECAL_STATS_LOG", stats_log_.c_str());
  SetEnvironmentVariableA("TIMECAL_TIMER_MS",
                          period_ms > 0 ? std::to_string(period_ms).c_str() : nullptr);
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

std::vector<Unit> Tool::Units() const {
  std::vector<HWND> children;
  EnumChildWindows(window_, CollectChild, reinterpret_cast<LPARAM>(&children));
  std::vector<Unit> units;
  for (HWND h : children) {
    Unit u{};
    u.hwnd = h;
    char cls[64] = {};
    GetClassNameA(h, cls, sizeof cls);
    u.cls = cls;
    u.text = Text(h);
    u.id = GetDlgCtrlID(h);
    u.parent = GetParent(h);
    GetWindowRect(h, &u.rect);
    MapWindowPoints(nullptr, u.parent, reinterpret_cast<POINT*>(&u.rect), 2);
    u.style = GetWindowLongA(h, GWL_STYLE);
    units.push_back(u);
  }
  return units;
}

Unit Tool::UnitById(int id) const {
  for (const Unit& u : Units())
    if (u.id == id) return u;
  return Unit{};
}

// Control ids follow creation order: 100 for 标签1, 110 for 标签2, ...; the
// boxes and the button sit directly in the window.
std::string Tool::ServiceBox() const { return Text(GetDlgItem(window_, 120)); }
std::string Tool::PcBox() const { return Text(GetDlgItem(window_, 130)); }

void Tool::ClickCalibrate() const {
  DWORD_PTR r;
  SendMessageTimeoutA(GetDlgItem(window_, 140), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 10000, &r);
}

bool Tool::Responsive(int ms) const {
  // A window busy for a while counts as hung and is answered at once, so
  // ask again until the time is up.
  DWORD_PTR r;
  const DWORD end = GetTickCount() + static_cast<DWORD>(ms * testsupport::TimeScale());
  do {
    if (SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &r)) return true;
    Sleep(100);
  } while (static_cast<int32_t>(end - GetTickCount()) > 0);
  return false;
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
std::vector<std::string> Tool::Stats() const { return ReadLines(stats_log_); }

bool ParseDisplayed(const std::string& text, SYSTEMTIME* out) {
  // Year, month and day always; then hour, minute, second as far as shown.
  static const char* const kUnits[] = {GBK_YEAR, GBK_MONTH, GBK_DAY, GBK_HOUR, GBK_MINUTE, GBK_SECOND};
  int fields[6] = {0, 0, 0, 0, 0, 0};
  size_t at = 0;
  for (int i = 0; i < 6; ++i) {
    if (i >= 3 && at == text.size()) break;
    size_t digits = at;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    std::string unit = kUnits[i];
    if (digits == at || text.compare(digits, unit.size(), unit) != 0) return false;
    fields[i] = std::atoi(text.substr(at, digits - at).c_str());
    at = digits + unit.size();
  }
  if (at != text.size()) return false;
  *out = SYSTEMTIME{};
  out->wYear = static_cast<WORD>(fields[0]);
  out->wMonth = static_cast<WORD>(fields[1]);
  out->wDay = static_cast<WORD>(fields[2]);
  out->wHour = static_cast<WORD>(fields[3]);
  out->wMinute = static_cast<WORD>(fields[4]);
  out->wSecond = static_cast<WORD>(fields[5]);
  return true;
}

double SecondsBetween(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  FILETIME fa, fb;
  SystemTimeToFileTime(&a, &fa);
  SystemTimeToFileTime(&b, &fb);
  auto ticks = [](FILETIME f) {
    return static_cast<double>((static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime);
  };
  return (ticks(fb) - ticks(fa)) / 1e7;
}

}  // namespace e2e
