// Drives the tool's and precise window's test builds from outside as a user does: starts one against the local time
// services, finds units by generated control ids (rtwin::<Window>::control), reads texts and logs, clicks, closes.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "runtime/core/gbk_text.h"
#include "tests/support/child_process.h"

namespace e2e {

// What the tool's service box shows when a refresh has no time.
constexpr char kFailed[] = "100" GBK_YEAR "1" GBK_MONTH "1" GBK_DAY;

struct TimeService {  // a local time service a ctest fixture started, from the port file it wrote
  explicit TimeService(const std::string& port_file = "service.port");
  std::string Url(const std::string& path = "/getSysTime.do") const;
  std::string Get(const std::string& path) const;  // the body of a GET
  bool Control(const std::string& query) const;  // GET /control?<query>, e.g. "fault=null&offset=3600"
  int Requests() const;  // GET /stats
  int port_ = 0;
};

struct Figures {  // a line of the tool's stats log (app/probe.cpp)
  unsigned long refreshes, private_bytes, working_set, handles, user_objects, gdi_objects;
};

constexpr char kTool[] = "..\\..\\app\\timecal_probe.exe";
constexpr char kPrecise[] = "..\\..\\precise\\timecal_precise_probe.exe";
// The logs a test build writes (TIMECAL_<NAME>_LOG): clock requests, end routine runs, figures, start.
enum Log { kClockLog, kEndLog, kStatsLog, kStartLog };

class Program {
 public:
  // Starts `exe` against `urls` with fresh logs, the options in `env` ("TIMECAL_TIMER_MS=200"; null
  // ones left out) and no others; waits for its window.
  Program(const char* exe, const std::string& urls, std::initializer_list<const char*> env = {});
  ~Program();

  HWND window() const { return window_; }
  HWND Unit(int id) const;  // the window's descendant with that control id
  static std::string Text(HWND h);
  std::string Text(int id) const { return Text(Unit(id)); }
  void Click(int id, bool wait = true) const;  // waits for the handler, or posts
  bool Responsive(int ms) const;  // answers a message within ms
  DWORD LongestWait(DWORD ms) const;  // of WM_NULL round trips for `ms`
  HWND WaitQuestion(int ms) const;  // its question box (#32770), or null
  DWORD Close();  // the exit code (STILL_ACTIVE if it hung and was ended)
  std::vector<std::string> Lines(Log log) const;  // the log's non-empty lines
  std::vector<Figures> Stats() const;

 private:
  testsupport::Process process_;
  HWND window_ = nullptr;
  std::vector<std::string> logs_;
  bool closed_ = false;
};

std::vector<std::string> ReadLines(const std::string& path);  // the non-empty ones

// Reads "2019年10月17日8时5分9秒" or its start from the date on; false if not so.
bool ParseDisplayed(const std::string& text, SYSTEMTIME* out);
double Milliseconds(const SYSTEMTIME& t);  // from 1601, by the platform (-1 if invalid)
double SecondsAhead(const SYSTEMTIME& t);  // of the local time `t` over the PC's now

}  // namespace e2e
