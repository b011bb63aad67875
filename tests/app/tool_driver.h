// Drives the programs' test builds (the tool's timecal_probe.exe, the precise
// window's timecal_precise_probe.exe) from outside, as a user and the system
// see them: starts one against the local time services, finds its units by
// their generated control ids (rtwin::<Window>::control::k<Name>), reads
// texts, clicks, closes, and reads what the test build logged.
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

// A local time service a ctest fixture started; `port_file` is what it wrote
// (the precise program's fixture starts three, service0.port to service2.port).
class TimeService {
 public:
  explicit TimeService(const std::string& port_file = "service.port");
  std::string Url(const std::string& path = "/getSysTime.do") const;
  // GET /control?<query>, e.g. "fault=null" or "fault=none&offset=3600".
  bool Control(const std::string& query) const;
  int Requests() const;  // GET /stats

 private:
  std::string Get(const std::string& path) const;
  int port_ = 0;
};

// One line of the tool's stats log (see app/probe.cpp).
struct Figures {
  unsigned long refreshes, private_bytes, working_set, handles, user_objects, gdi_objects;
};

// The test builds, from a test's folder.
constexpr char kTool[] = "..\\..\\app\\timecal_probe.exe";
constexpr char kPrecise[] = "..\\..\\precise\\timecal_precise_probe.exe";
// The logs a test build writes (TIMECAL_<NAME>_LOG): what it asked of the
// clock, the end routine's runs, process figures, how it was started.
enum Log { kClockLog, kEndLog, kStatsLog, kStartLog };

class Program {
 public:
  // Starts `exe` against `urls` (TIMECAL_URL) with a fresh file for each log
  // and the options in `env` ("TIMECAL_TIMER_MS=200"; a null one is left
  // out); every other option of the test builds is unset. Waits for its window.
  Program(const char* exe, const std::string& urls, std::initializer_list<const char*> env = {});
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  HWND window() const { return window_; }
  HWND Unit(int id) const;  // the window's descendant with that control id
  static std::string Text(HWND h);
  std::string Text(int id) const { return Text(Unit(id)); }
  // Waits for the button's handler, or when not `wait` posts the click, so
  // that a question box it opens does not hold the test.
  void Click(int id, bool wait = true) const;
  bool Responsive(int ms) const;  // answers a message within ms
  DWORD LongestWait(DWORD ms) const;  // of WM_NULL round trips for `ms`
  HWND WaitQuestion(int ms) const;  // its question box (#32770), or null
  DWORD Close();  // the exit code (STILL_ACTIVE if it hung)
  std::vector<std::string> Lines(Log log) const;  // the log's non-empty lines
  std::vector<Figures> Stats() const;

 private:
  testsupport::Process process_;
  HWND window_ = nullptr;
  std::vector<std::string> logs_;
  bool closed_ = false;
};

std::vector<std::string> ReadLines(const std::string& path);  // the non-empty ones

// Reads a display text "2019年10月17日8时5分9秒" (or only its date) into a
// SYSTEMTIME; false when it is not in that form.
bool ParseDisplayed(const std::string& text, SYSTEMTIME* out);
// Milliseconds from 1601 to `t`, by the platform's reading (-1 if invalid).
double Milliseconds(const SYSTEMTIME& t);
// Seconds the local time `t` lies ahead of the PC's local time now.
double SecondsAhead(const SYSTEMTIME& t);

}  // namespace e2e
