#include "tests/app/tool_driver.h"

#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace e2e {

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

TimeService::TimeService(const std::string& port_file) { std::ifstream(testsupport::ExeDir() + port_file) >> port_; }
std::string TimeService::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string TimeService::Get(const std::string& path) const {
  std::string body;
  HINTERNET root = InternetOpenA("e2e", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
  if (HINTERNET req = InternetOpenUrlA(root, Url(path).c_str(), nullptr, 0, flags, 0)) {
    char buf[256];
    for (DWORD got = 0; InternetReadFile(req, buf, sizeof buf, &got) && got;) body.append(buf, got);
    InternetCloseHandle(req);
  }
  InternetCloseHandle(root);
  return body;
}

bool TimeService::Control(const std::string& query) const { return Get("/control?" + query) == "ok"; }
int TimeService::Requests() const { return std::atoi(Get("/stats").c_str()); }

Program::Program(const char* exe, const std::string& urls, std::initializer_list<const char*> env) {
  static int serial = 0;
  const std::string tag = testsupport::ExeDir() + std::to_string(GetCurrentProcessId()) + "_" +
                          std::to_string(++serial);
  SetEnvironmentVariableA("TIMECAL_URL", urls.c_str());
  for (const std::string name : {"CLOCK", "END", "STATS", "START"}) {
    logs_.push_back(tag + "_" + name + ".log");
    SetEnvironmentVariableA(("TIMECAL_" + name + "_LOG").c_str(), logs_.back().c_str());
  }
  for (const std::string option : {"TIMER_MS", "STATS_EVERY", "INJECT", "FAULT_LOG", "CLOCK_REFUSE", "AUTO_MS"})
    SetEnvironmentVariableA(("TIMECAL_" + option).c_str(), nullptr);
  for (const char* setting : env) {
    const char* value = setting ? std::strchr(setting, '=') : nullptr;
    if (value) SetEnvironmentVariableA(std::string(setting, value).c_str(), value + 1);
  }
  process_ = testsupport::Spawn("\"" + testsupport::ExeDir() + exe + "\"");
  auto is_window = [](HWND h) {  // both programs' captions start so
    char caption[9] = {};
    return GetWindowTextA(h, caption, sizeof caption) && std::string(caption) == "devarude";
  };
  if (process_) window_ = testsupport::WaitForVisibleWindow(process_, is_window, 400, 50);
}

Program::~Program() {
  if (process_ && !closed_) Close();
  for (const std::string& f : logs_) DeleteFileA(f.c_str());
}

static BOOL CALLBACK FindById(HWND h, LPARAM lp) {  // stops at the first descendant with the id
  auto* found = reinterpret_cast<std::pair<int, HWND>*>(lp);
  if (GetDlgCtrlID(h) == found->first) found->second = h;
  return !found->second;
}

HWND Program::Unit(int id) const {
  std::pair<int, HWND> unit{id, nullptr};
  EnumChildWindows(window_, FindById, reinterpret_cast<LPARAM>(&unit));
  return unit.second;
}

std::string Program::Text(HWND h) {
  char buf[2048] = {};
  DWORD_PTR got = 0;
  SendMessageTimeoutA(h, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000, &got);
  return std::string(buf, got);
}

void Program::Click(int id, bool wait) const {
  DWORD_PTR r;
  if (!wait) PostMessageA(Unit(id), BM_CLICK, 0, 0);
  else SendMessageTimeoutA(Unit(id), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 10000, &r);
}

bool Program::Responsive(int ms) const {
  DWORD_PTR r;
  return SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_NORMAL, ms * testsupport::TimeScale(), &r) != 0;
}

DWORD Program::LongestWait(DWORD ms) const {
  DWORD longest = 0, start = GetTickCount(), now;
  do {
    DWORD_PTR r;
    const DWORD sent = GetTickCount();
    SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &r);
    longest = std::max(longest, (now = GetTickCount()) - sent);
    Sleep(1);
  } while (now - start < ms);
  return longest;
}

HWND Program::WaitQuestion(int ms) const {
  auto is_question = [](HWND h) {  // a dialog box's class
    char cls[8] = {};
    return GetClassNameA(h, cls, sizeof cls) && std::string(cls) == "#32770" && IsWindowVisible(h);
  };
  HWND box = nullptr;
  testsupport::Wait([&] { return (box = testsupport::FindWindowOfProcess(process_.id, is_question)) != nullptr; }, ms);
  return box;
}

DWORD Program::Close() {
  closed_ = true;
  if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
  return process_.WaitOrEnd(20000 * testsupport::TimeScale(), STILL_ACTIVE);  // ends a hung one
}

std::vector<std::string> Program::Lines(Log log) const { return ReadLines(logs_[log]); }

std::vector<Figures> Program::Stats() const {
  std::vector<Figures> out;
  for (const std::string& line : Lines(kStatsLog)) {
    Figures f;
    if (std::sscanf(line.c_str(), "%lu %lu %lu %lu %lu %lu", &f.refreshes, &f.private_bytes, &f.working_set,
                    &f.handles, &f.user_objects, &f.gdi_objects) == 6)
      out.push_back(f);
  }
  return out;
}

bool ParseDisplayed(const std::string& text, SYSTEMTIME* out) {
  WORD f[6] = {};
  int end[4] = {-1, -1, -1, -1};  // after the day, hour, minute, second: as far as shown
  const int n = std::sscanf(text.c_str(), "%hu" GBK_YEAR "%hu" GBK_MONTH "%hu" GBK_DAY "%n%hu" GBK_HOUR "%n%hu"
                            GBK_MINUTE "%n%hu" GBK_SECOND "%n", &f[0], &f[1], &f[2], &end[0], &f[3], &end[1], &f[4],
                            &end[2], &f[5], &end[3]);
  *out = SYSTEMTIME{f[0], f[1], 0, f[2], f[3], f[4], f[5], 0};
  return n >= 3 && end[n - 3] == static_cast<int>(text.size());
}

double Milliseconds(const SYSTEMTIME& t) {
  FILETIME f;
  if (!SystemTimeToFileTime(&t, &f)) return -1;
  return static_cast<double>((ULONGLONG{f.dwHighDateTime} << 32) | f.dwLowDateTime) / 1e4;  // 100 ns ticks
}

double SecondsAhead(const SYSTEMTIME& t) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return (Milliseconds(t) - Milliseconds(now)) / 1000;
}

}  // namespace e2e
