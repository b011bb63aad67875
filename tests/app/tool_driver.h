// Drives the tool's test build (timecal_probe.exe) from outside, as a user
// and the system see it: starts it against the local time service, finds its
// window and units through Win32, reads the boxes, clicks, closes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "runtime/core/gbk_text.h"
#include "tests/support/child_process.h"

namespace e2e {

// What the service box shows when a refresh has no time.
constexpr char kFailed[] = "100" GBK_YEAR "1" GBK_MONTH "1" GBK_DAY;

// The local time service started by the ctest fixture.
class TimeService {
 public:
  // Reads the port the fixture wrote (the precise program's fixture starts
  // three, in service0.port to service2.port).
  explicit TimeService(const std::string& port_file = "service.port");
  std::string Url(const std::string& path = "/getSysTime.do") const;
  // GET /control?<query>, e.g. "fault=null" or "fault=none&offset=3600".
  bool Control(const std::string& query) const;
  int Requests() const;  // GET /stats

 private:
  std::string Get(const std::string& path) const;
  int port_ = 0;
};

// One line of the probe's stats log (see app/probe.cpp).
struct Figures {
  unsigned long refreshes, private_bytes, working_set, handles, user_objects, gdi_objects;
};

class Tool {
 public:
  // Starts the probe with the service URL and, when period_ms > 0, a
  // shortened refresh period; waits for its window.
  Tool(const std::string& url, int period_ms = 0);
  ~Tool();
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;

  HWND window() const { return window_; }
  std::string Text(HWND h) const;
  std::string ServiceBox() const;  // 编辑框1
  std::string PcBox() const;       // 编辑框2
  void ClickCalibrate() const;
  bool Responsive(int ms) const;  // answers a message within ms
  // Closes the window; returns the exit code (STILL_ACTIVE if it hung).
  DWORD Close();
  std::vector<std::string> ClockRequests() const;
  std::vector<std::string> EndRoutineRuns() const;
  std::vector<Figures> Stats() const;

 private:
  testsupport::Process process_;
  HWND window_ = nullptr;
  std::string clock_log_, end_log_, stats_log_;
  bool closed_ = false;
};

// The non-empty lines of a log file the test build wrote.
std::vector<std::string> ReadLines(const std::string& path);

// Reads a display text "2019年10月17日8时5分9秒" into a SYSTEMTIME; false
// when it is not in that form.
bool ParseDisplayed(const std::string& text, SYSTEMTIME* out);
// Seconds the local time `t` lies ahead of the PC's local time now.
double SecondsAhead(const SYSTEMTIME& t);

}  // namespace e2e
