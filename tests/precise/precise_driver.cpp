#include "tests/precise/precise_driver.h"

#include <cstdio>
#include <cstdlib>
#include "runtime/core/gbk_text.h"
#include "tests/app/tool_driver.h"
#include "tests/support/child_process.h"

namespace precise_e2e {
namespace {

bool IsProgramWindow(HWND h) {
  char caption[128] = {};
  GetWindowTextA(h, caption, sizeof caption);
  return std::string(caption) == "devarude  " GBK_PRECISE_TITLE;
}

bool IsQuestionBox(HWND h) {
  char cls[32] = {};
  GetClassNameA(h, cls, sizeof cls);
  return std::string(cls) == "#32770" && IsWindowVisible(h);
}

struct Search {
  int id;
  HWND found;
};

BOOL CALLBACK FindById(HWND h, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  if (GetDlgCtrlID(h) != s->id) return TRUE;
  s->found = h;
  return FALSE;
}

BOOL CALLBACK FindStatic(HWND h, LPARAM lp) {
  char cls[32] = {};
  GetClassNameA(h, cls, sizeof cls);
  if (_stricmp(cls, "Static") != 0 || GetDlgCtrlID(h) != 0xFFFF) return TRUE;
  *reinterpret_cast<HWND*>(lp) = h;
  return FALSE;
}

double Milliseconds(LARGE_INTEGER a, LARGE_INTEGER b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(b.QuadPart - a.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

}  // namespace

Program::Program(const Options& options) {
  static int serial = 0;
  std::string tag = std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++serial);
  clock_log_ = testsupport::ExeDir() + "precise_clock_" + tag + ".log";
  start_log_ = testsupport::ExeDir() + "precise_start_" + tag + ".log";
  SetEnvironmentVariableA("TIMECAL_URL", options.urls.c_str());
  SetEnvironmentVariableA("TIMECAL_CLOCK_LOG", clock_log_.c_str());
  SetEnvironmentVariableA("TIMECAL_START_LOG", start_log_.c_str());
  SetEnvironmentVariableA("TIMECAL_CLOCK_REFUSE", options.refuse ? "1" : nullptr);
  SetEnvironmentVariableA("TIMECAL_AUTO_MS", options.auto_ms.empty() ? nullptr : options.auto_ms.c_str());
  process_ = testsupport::Spawn("\"" + testsupport::ExeDir() +
                                 "..\\..\\precise\\timecal_precise_probe.exe\"");
  if (!process_) return;
  window_ = testsupport::WaitForVisibleWindow(process_, IsProgramWindow, 400, 50);
}

Program::~Program() {
  if (process_) {
    Close();
    if (WaitForSingleObject(process_.handle.get(), 0) == WAIT_TIMEOUT)
      TerminateProcess(process_.handle.get(), 1);
  }
  for (const std::string& f : {clock_log_, start_log_}) DeleteFileA(f.c_str());
}

HWND Program::Unit(int id) const {
  Search s{id, nullptr};
  EnumChildWindows(window_, FindById, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

std::string Program::Text(int id) const {
  char buf[2048] = {};
  DWORD_PTR got = 0;
  SendMessageTimeoutA(Unit(id), WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf),
                      SMTO_ABORTIFHUNG, 5000, &got);
  return std::string(buf, got);
}

void Program::Click(int id) const { PostMessageA(Unit(id), BM_CLICK, 0, 0); }

bool Program::WaitMeasured(int ms) const {
  return WaitText(kOffsetBox, [](const std::string& t) { return !t.empty(); }, ms);
}

HWND Program::WaitQuestion(int ms) const {
  HWND box = nullptr;
  Wait([&] { return (box = testsupport::FindWindowOfProcess(process_.id, IsQuestionBox)) != nullptr; }, ms);
  return box;
}

std::string Program::BoxText(HWND box) {
  HWND text = nullptr;
  EnumChildWindows(box, FindStatic, reinterpret_cast<LPARAM>(&text));
  char buf[1024] = {};
  if (text) GetWindowTextA(text, buf, sizeof buf);
  return buf;
}

void Program::Answer(HWND box, int button) { PostMessageA(box, WM_COMMAND, button, 0); }

double Program::LongestWait(int ms) const {
  double longest = 0;
  LARGE_INTEGER start, a, b;
  QueryPerformanceCounter(&start);
  do {
    DWORD_PTR r;
    QueryPerformanceCounter(&a);
    SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &r);
    QueryPerformanceCounter(&b);
    longest = std::max(longest, Milliseconds(a, b));
    Sleep(1);
  } while (Milliseconds(start, b) < ms);
  return longest;
}

DWORD Program::Close() {
  if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
  WaitForSingleObject(process_.handle.get(), 20000);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process_.handle.get(), &code);
  return code;
}

std::vector<std::string> Program::ClockRequests() const { return e2e::ReadLines(clock_log_); }
std::vector<std::string> Program::Starts() const { return e2e::ReadLines(start_log_); }

bool RequestedMinusMoment(const std::string& line, double* ms) {
  SYSTEMTIME st{};
  int y, mo, d, h, mi, s, milli;
  long long moment;
  char end;
  if (std::sscanf(line.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d %lld%c", &y, &mo, &d, &h, &mi, &s, &milli,
                  &moment, &end) != 8)
    return false;
  st.wYear = static_cast<WORD>(y), st.wMonth = static_cast<WORD>(mo), st.wDay = static_cast<WORD>(d);
  st.wHour = static_cast<WORD>(h), st.wMinute = static_cast<WORD>(mi), st.wSecond = static_cast<WORD>(s);
  st.wMilliseconds = static_cast<WORD>(milli);
  FILETIME ft;
  if (!SystemTimeToFileTime(&st, &ft)) return false;
  // The platform's own reading of the requested time, as Unix milliseconds.
  long long ticks = static_cast<long long>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  *ms = static_cast<double>((ticks - 116444736000000000LL) / 10000 - moment);
  return true;
}

}  // namespace precise_e2e
