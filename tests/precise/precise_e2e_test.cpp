// The precise program end to end: its test build (timecal_precise_probe.exe)
// runs against three local time services under Wine and Xvfb; the test sees
// it only as a user and Win32 do (boxes, buttons, the question box, how long
// its window keeps a message waiting), and reads what it asked of the clock
// from the seam's log. The truth at a request's moment is that moment plus
// the services' offset.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "runtime/core/gbk_text.h"
#include "tests/app/tool_driver.h"
#include "tests/support/child_process.h"
#include "window_templates.h"  // the program's (precise/precise_window.json)

namespace {

// Control ids of the window's units.
using namespace rtwin::PreciseWindow::control;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using testsupport::Wait;

// The line of the sources box that names `url`, from its start; empty if none.
std::string LineOf(const std::string& box, const std::string& url) {
  size_t at = box.find(url), start = box.rfind('\n', at);
  return at == std::string::npos ? "" : box.substr(start == std::string::npos ? 0 : start + 1);
}

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

// EnumChildWindows callback: the first descendant with the control id *lp.
BOOL CALLBACK FindById(HWND h, LPARAM lp) {
  auto* found = reinterpret_cast<std::pair<int, HWND>*>(lp);
  if (GetDlgCtrlID(h) != found->first) return TRUE;
  found->second = h;
  return FALSE;
}

class Program {
 public:
  // Starts the program against `urls` (TIMECAL_URL), with the clock's
  // requests refused as for a standard user when `refuse`, and automatic
  // mode's "period,first retry" when `auto_ms`; waits for its window.
  explicit Program(const std::string& urls, bool refuse = false, const char* auto_ms = nullptr) {
    static int serial = 0;
    std::string tag = std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++serial);
    clock_log_ = testsupport::ExeDir() + "precise_clock_" + tag + ".log";
    start_log_ = testsupport::ExeDir() + "precise_start_" + tag + ".log";
    SetEnvironmentVariableA("TIMECAL_URL", urls.c_str());
    SetEnvironmentVariableA("TIMECAL_CLOCK_LOG", clock_log_.c_str());
    SetEnvironmentVariableA("TIMECAL_START_LOG", start_log_.c_str());
    SetEnvironmentVariableA("TIMECAL_CLOCK_REFUSE", refuse ? "1" : nullptr);
    SetEnvironmentVariableA("TIMECAL_AUTO_MS", auto_ms);
    process_ = testsupport::Spawn("\"" + testsupport::ExeDir() +
                                  "..\\..\\precise\\timecal_precise_probe.exe\"");
    if (process_) window_ = testsupport::WaitForVisibleWindow(process_, IsProgramWindow, 400, 50);
  }
  ~Program() {
    if (process_) {
      Close();
      if (WaitForSingleObject(process_.handle.get(), 0) == WAIT_TIMEOUT)
        TerminateProcess(process_.handle.get(), 1);
    }
    for (const std::string& f : {clock_log_, start_log_}) DeleteFileA(f.c_str());
  }

  HWND window() const { return window_; }
  HWND Unit(int id) const {
    std::pair<int, HWND> unit{id, nullptr};
    EnumChildWindows(window_, FindById, reinterpret_cast<LPARAM>(&unit));
    return unit.second;
  }
  std::string Text(int id) const {
    char buf[2048] = {};
    DWORD_PTR got = 0;
    SendMessageTimeoutA(Unit(id), WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf),
                        SMTO_ABORTIFHUNG, 5000, &got);
    return std::string(buf, got);
  }
  // Posts the click, so that a question box it opens does not hold the test.
  void Click(int id) const { PostMessageA(Unit(id), BM_CLICK, 0, 0); }
  // Waits until the status line has `part`; false after `ms`.
  bool WaitStatus(const std::string& part, int ms) const {
    return Wait([&] { return Has(Text(kStatusLabel), part); }, ms);
  }
  bool WaitMeasured(int ms) const {  // until the offset box shows a result
    return Wait([&] { return !Text(kOffsetBox).empty(); }, ms);
  }
  // The program's question box (class #32770), null when none shows in `ms`.
  HWND WaitQuestion(int ms) const {
    HWND box = nullptr;
    Wait([&] { return (box = testsupport::FindWindowOfProcess(process_.id, IsQuestionBox)) != nullptr; }, ms);
    return box;
  }
  // Sends WM_NULL round trips for `ms`; the longest wait in milliseconds.
  DWORD LongestWait(DWORD ms) const {
    DWORD longest = 0, start = GetTickCount(), now;
    do {
      DWORD_PTR r;
      DWORD sent = GetTickCount();
      SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &r);
      now = GetTickCount();
      longest = std::max(longest, now - sent);
      Sleep(1);
    } while (now - start < ms);
    return longest;
  }
  DWORD Close() {
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    WaitForSingleObject(process_.handle.get(), 20000);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.handle.get(), &code);
    return code;
  }
  std::vector<std::string> ClockRequests() const { return e2e::ReadLines(clock_log_); }
  std::vector<std::string> Starts() const { return e2e::ReadLines(start_log_); }

 private:
  testsupport::Process process_;
  HWND window_ = nullptr;
  std::string clock_log_, start_log_;
};

// A clock request line "YYYY-MM-DD HH:MM:SS.mmm <unix ms>": the requested
// time minus the moment it was asked, in milliseconds, by the platform's own
// reading of the requested time; false if malformed.
bool RequestedMinusMoment(const std::string& line, double* ms) {
  SYSTEMTIME st{};
  long long moment;
  char end;
  if (std::sscanf(line.c_str(), "%4hu-%2hu-%2hu %2hu:%2hu:%2hu.%3hu %lld%c", &st.wYear, &st.wMonth, &st.wDay,
                  &st.wHour, &st.wMinute, &st.wSecond, &st.wMilliseconds, &moment, &end) != 8)
    return false;
  FILETIME ft;
  if (!SystemTimeToFileTime(&st, &ft)) return false;
  ULARGE_INTEGER ticks{{ft.dwLowDateTime, ft.dwHighDateTime}};  // 100 ns since 1601
  *ms = static_cast<double>(static_cast<long long>(ticks.QuadPart - 116444736000000000ULL) / 10000 - moment);
  return true;
}

class PreciseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 3; ++i) {
      services_.emplace_back("service" + std::to_string(i) + ".port");
      ASSERT_TRUE(services_[i].Control("fault=none&delay=0&reply_delay=0&jitter=0&offset=0&zone=beijing")) << "no time service " << i;
    }
  }
  // Every service ahead by `seconds`.
  void Offset(double seconds) {
    for (auto& s : services_) ASSERT_TRUE(s.Control("offset=" + std::to_string(seconds)));
  }
  std::string Urls() const {
    std::string urls;
    for (auto& s : services_) urls += (urls.empty() ? "" : " ") + s.Url();
    return urls;
  }
  // A fractional offset, different each run, below the question's two minutes.
  static double RandomOffset() {
    std::mt19937 rng(std::random_device{}());
    double s = std::uniform_int_distribution<int>(1000, 90000)(rng) / 1000.0;
    return rng() % 2 ? s : -s;
  }
  // Every clock request within 20 ms of the truth at its moment.
  static void ExpectTrue(const std::vector<std::string>& requests, double offset_s) {
    for (const std::string& line : requests) {
      SCOPED_TRACE(line);
      double ms = 0;
      ASSERT_TRUE(RequestedMinusMoment(line, &ms));
      std::printf("clock request %+.1f ms from the truth\n", ms - offset_s * 1000.0);
      EXPECT_NEAR(ms, offset_s * 1000.0, 20.0);
    }
  }
  std::vector<e2e::TimeService> services_;
};

TEST_F(PreciseTest, ClickAsksForTheTrueTime) {
  const double offset = RandomOffset();
  SCOPED_TRACE("service offset " + std::to_string(offset));
  Offset(offset);
  Program p(Urls());
  ASSERT_NE(p.window(), nullptr);
  // How long the window keeps a message waiting while it measures is
  // checked with slow answers (the automatic mode's test).
  ASSERT_TRUE(p.WaitMeasured(20000));
  std::string shown = p.Text(kOffsetBox);
  size_t pm = shown.find(GBK_PLUS_MINUS);
  ASSERT_NE(pm, std::string::npos) << shown;
  double bound = std::atof(shown.c_str() + pm + 2);  // its form is checked natively
  EXPECT_NEAR(std::atof(shown.c_str()), offset, bound + 0.001) << shown;
  EXPECT_LT(bound, 0.1) << shown;
  std::string sources = p.Text(kSourcesBox);
  for (auto& s : services_) EXPECT_EQ(LineOf(sources, s.Url()).rfind(GBK_PRECISE_ANSWERED "  ", 0), 0u) << sources;
  EXPECT_TRUE(Has(p.Text(kRoundTripBox), " " GBK_SECOND));
  EXPECT_TRUE(Has(p.Text(kServiceTimeBox), GBK_SECOND)) << p.Text(kServiceTimeBox);
  EXPECT_TRUE(p.ClockRequests().empty()) << "measuring sets nothing";

  p.Click(kCalibrateButton);
  ASSERT_TRUE(Wait([&] { return !p.ClockRequests().empty(); }, 5000));
  ASSERT_EQ(p.ClockRequests().size(), 1u);
  ExpectTrue(p.ClockRequests(), offset);
  EXPECT_TRUE(Has(p.Text(kLastCalibrationBox), " " GBK_PRECISE_ADJUST " ")) << p.Text(kLastCalibrationBox);
  EXPECT_EQ(p.Close(), 0u);
}

// Above two minutes the program asks first, and 否 sets nothing; above one
// year (the services then more than a year ahead) it neither asks nor sets.
TEST_F(PreciseTest, AboveTwoMinutesAsksFirstAndAboveAYearSetsNothing) {
  const double offset = 200 + std::fabs(RandomOffset()) / 100;
  Offset(offset);
  Program p(Urls());
  ASSERT_TRUE(p.WaitMeasured(20000));
  p.Click(kCalibrateButton);
  HWND box = p.WaitQuestion(5000);
  ASSERT_NE(box, nullptr) << "no question before a correction of 200 s";
  char text[1024] = {};
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);  // the box's text
  EXPECT_TRUE(Has(text, GBK_PRECISE_PC_TIME_FROM " ") && Has(text, GBK_PRECISE_ADJUST " +200.")) << text;
  PostMessageA(box, WM_COMMAND, IDNO, 0);
  ASSERT_TRUE(p.WaitStatus(GBK_PRECISE_CANCELLED, 5000)) << p.Text(kStatusLabel);
  EXPECT_TRUE(p.ClockRequests().empty());
  // Asked again, 是 sets the true time, taken after the answer.
  p.Click(kCalibrateButton);
  box = p.WaitQuestion(5000);
  ASSERT_NE(box, nullptr);
  Sleep(300);
  PostMessageA(box, WM_COMMAND, IDYES, 0);
  ASSERT_TRUE(Wait([&] { return !p.ClockRequests().empty(); }, 5000));
  ExpectTrue(p.ClockRequests(), offset);

  Offset(400 * 86400.0 + 0.25);
  p.Click(kMeasureButton);
  ASSERT_TRUE(Wait([&] { return p.Text(kOffsetBox) == GBK_PRECISE_UNKNOWN; }, 20000)) << p.Text(kOffsetBox);
  EXPECT_TRUE(Has(p.Text(kSourcesBox), GBK_PRECISE_REFUSED ": " GBK_PRECISE_REASON_TOO_FAR_FROM_PC "  "))
      << p.Text(kSourcesBox);
  p.Click(kCalibrateButton);
  EXPECT_EQ(p.WaitQuestion(1000), nullptr);
  EXPECT_EQ(p.ClockRequests().size(), 1u);
  EXPECT_EQ(p.Close(), 0u);
}

TEST_F(PreciseTest, ARefusedSetStartsOneElevatedCopyAndNoMore) {
  const double offset = RandomOffset();
  Offset(offset);
  Program p(Urls(), true);
  ASSERT_TRUE(p.WaitMeasured(20000));
  p.Click(kCalibrateButton);
  // The program's own request, refused, then the copy's, refused too.
  ASSERT_TRUE(Wait([&] { return p.ClockRequests().size() >= 2; }, 15000)) << p.ClockRequests().size();
  ASSERT_TRUE(p.WaitStatus("1314", 5000)) << p.Text(kStatusLabel);
  Sleep(1500);
  std::vector<std::string> starts = p.Starts();
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0], "-");
  EXPECT_EQ(starts[1].rfind("--apply-offset=", 0), 0u) << starts[1];
  EXPECT_NEAR(std::atof(starts[1].c_str() + 15), offset * 1000.0, 20.0);
  ASSERT_EQ(p.ClockRequests().size(), 2u);
  ExpectTrue(p.ClockRequests(), offset);
  EXPECT_EQ(p.Close(), 0u);
}

// Automatic mode sets only a time that a majority of the sources agree on.
// First the three are far apart: it leaves the clock alone and says why.
// Then one of them answers at once (a bound of a few ms) but 0.6 s ahead of
// the other two, which tell the truth, 0.31 to 1.2 s ahead: it sets the
// truth, never the liar's time, and the window names the liar.
TEST_F(PreciseTest, AutomaticModeSetsOnlyTheTimeTheSourcesAgreeOn) {
  const double apart[] = {5.2, -3.1, 40.7};
  // Each answer takes 150 ms: the window still answers within one request
  // plus the engine's 20 ms of waiting for a send instant (and some slack).
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(services_[i].Control("delay=0.15&offset=" + std::to_string(apart[i])));
  Program p(Urls(), false, "3000,1000");
  p.Click(kAutoButton);
  DWORD longest = p.LongestWait(2500);
  std::printf("longest message wait with 150 ms answers: %lu ms\n", longest);
  EXPECT_LT(longest, 150u + 20 + 100);
  ASSERT_TRUE(p.WaitStatus(GBK_PRECISE_DISAGREE, 25000)) << p.Text(kStatusLabel);
  EXPECT_TRUE(Has(p.Text(kSourcesBox), GBK_PRECISE_DISAGREES_WITH_OTHERS)) << p.Text(kSourcesBox);
  EXPECT_TRUE(p.ClockRequests().empty());

  const double honest = 0.3 + std::fabs(RandomOffset()) / 100, liar = honest + 0.6;
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(services_[i].Control("delay=0&offset=" + std::to_string(i == 1 ? liar : honest)));
  ASSERT_TRUE(Wait([&] { return !p.ClockRequests().empty(); }, 25000)) << p.Text(kStatusLabel);
  EXPECT_EQ(p.Text(kAutoButton), GBK_PRECISE_AUTO ": " GBK_PRECISE_ON);
  ExpectTrue(p.ClockRequests(), honest);
  std::string sources = p.Text(kSourcesBox);
  for (size_t i = 0; i < services_.size(); ++i) {
    const char* state = i == 1 ? GBK_PRECISE_DISAGREES_WITH_OTHERS : GBK_PRECISE_ANSWERED;
    EXPECT_EQ(LineOf(sources, services_[i].Url()).rfind(state, 0), 0u) << services_[i].Url() << "\n" << sources;
  }
  EXPECT_EQ(p.Close(), 0u);
}

}  // namespace
