// Drives the precise program's test build (timecal_precise_probe.exe) from
// outside, as a user and the system see it: starts it against local time
// services, reads its boxes, clicks its buttons, answers its question box,
// and measures how long its window keeps a message waiting.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace precise_e2e {

// Control ids of the window's units, in creation order.
enum Id : int {
  kServiceTimeBox = 110,
  kPcTimeBox = 130,
  kOffsetBox = 150,
  kRoundTripBox = 170,
  kLastCalibrationBox = 190,
  kMeasureButton = 200,
  kCalibrateButton = 210,
  kAutoButton = 220,
  kSourcesBox = 240,
  kStatusLabel = 250,
};

struct Options {
  std::string urls;        // TIMECAL_URL
  bool refuse = false;     // TIMECAL_CLOCK_REFUSE
  std::string auto_ms;     // TIMECAL_AUTO_MS
};

// Polls `pred` every 50 ms until it holds; false after `ms`.
template <typename Pred>
bool Wait(Pred pred, int ms) {
  for (int waited = 0; waited < ms && !pred(); waited += 50) Sleep(50);
  return pred();
}

class Program {
 public:
  explicit Program(const Options& options);  // waits for the window
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  HWND window() const { return window_; }
  HWND Unit(int id) const;
  std::string Text(int id) const;
  // Posts the click, so that a question box it opens does not hold the test.
  void Click(int id) const;
  // Waits until `pred(Text(id))` holds; false after `ms`.
  template <typename Pred>
  bool WaitText(int id, Pred pred, int ms) const {
    return Wait([&] { return pred(Text(id)); }, ms);
  }
  bool WaitMeasured(int ms) const;  // until the status says a measurement ended
  // The program's question box (class #32770), null when none shows in `ms`.
  HWND WaitQuestion(int ms) const;
  static std::string BoxText(HWND box);
  static void Answer(HWND box, int button);  // IDYES or IDNO
  // Sends WM_NULL round trips for `ms`; the longest wait in milliseconds.
  double LongestWait(int ms) const;
  DWORD Close();
  std::vector<std::string> ClockRequests() const;
  std::vector<std::string> Starts() const;

 private:
  testsupport::Process process_;
  HWND window_ = nullptr;
  std::string clock_log_, start_log_;
};

// A clock request line "YYYY-MM-DD HH:MM:SS.mmm <unix ms>": the requested
// time minus the moment it was asked, in milliseconds; false if malformed.
bool RequestedMinusMoment(const std::string& line, double* ms);

}  // namespace precise_e2e
