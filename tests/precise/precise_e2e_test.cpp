// The precise program's test build end to end under Wine and Xvfb against three local time services, seen as a user
// and Win32 do; its clock requests come from the seam's log, the truth being their moment plus the services' offset.
// As the time-keeping service's client it talks to a stand-in on the service's pipe (fake_keeper.h); Wine has no
// such service installed, so without the stand-in it is 未安装.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>

#include "precise/policy.h"
#include "runtime/core/gbk_text.h"
#include "tests/app/tool_driver.h"
#include "tests/precise/fake_keeper.h"
#include "window_templates.h"  // the program's (precise/precise_window.json)

namespace {

// Every program these tests start looks for a service program that is not there: a click on the keeper button
// must never install the real service (built beside the probe) in the test prefix.
const bool kNoServiceProgram = SetEnvironmentVariableA("TIMECAL_KEEPER_PROGRAM", "no-such-service.exe");

using namespace rtwin::PreciseWindow::control;
using testsupport::Wait;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The line of the sources box that names `url`, from its start; empty if none.
std::string LineOf(const std::string& box, const std::string& url) {
  size_t at = box.find(url), start = box.rfind('\n', at);
  return at == std::string::npos ? "" : box.substr(start == std::string::npos ? 0 : start + 1);
}

struct Program : e2e::Program {
  explicit Program(const std::string& urls, std::initializer_list<const char*> env = {})
      : e2e::Program(e2e::kPrecise, urls, env) {}
  void Click(int id) const { e2e::Program::Click(id, false); }  // a question box must not hold the test
  bool WaitStatus(const std::string& s, int ms) const { return Wait([&] { return Has(Text(kStatusLabel), s); }, ms); }
  // The offset box shows the first estimate while measuring; the sources box only the finished result.
  bool WaitMeasured() const { return Wait([&] { return !Text(kSourcesBox).empty(); }, 20000); }
  // The offset shown (seconds) once its bound is below 0.1 s: past the first estimates.
  bool WaitOffset(double* shown) const {
    return Wait([&] {
      const std::string text = Text(kOffsetBox);
      const size_t pm = text.find(GBK_PLUS_MINUS);
      *shown = std::atof(text.c_str());
      return pm != std::string::npos && std::atof(text.c_str() + pm + 2) < 0.1;
    }, 20000);
  }
  std::vector<std::string> ClockRequests() const { return Lines(e2e::kClockLog); }
};

class PreciseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 3; ++i) {
      services_.emplace_back("service" + std::to_string(i) + ".port");
      ASSERT_TRUE(services_[i].Control("fault=none&delay=0&reply_delay=0&jitter=0&offset=0&zone=beijing"))
          << "no time service " << i;
      urls_ += (i ? " " : "") + services_[i].Url();
    }
  }
  void Offset(double seconds) {
    for (auto& s : services_) ASSERT_TRUE(s.Control("offset=" + std::to_string(seconds)));
  }
  static double RandomOffset() {  // fractional, different each run, below the question's two minutes
    std::mt19937 rng(std::random_device{}());
    double s = std::uniform_int_distribution<int>(1000, 90000)(rng) / 1000.0;
    return rng() % 2 ? s : -s;
  }
  // Every clock request "YYYY-MM-DD HH:MM:SS.mmm <unix ms>" within 20 ms of the truth at its moment.
  static void ExpectTrue(const std::vector<std::string>& requests, double offset_s) {
    for (const std::string& line : requests) {
      SCOPED_TRACE(line);
      SYSTEMTIME st{};
      long long moment;
      char end;  // none may follow
      ASSERT_EQ(std::sscanf(line.c_str(), "%4hu-%2hu-%2hu %2hu:%2hu:%2hu.%3hu %lld%c", &st.wYear, &st.wMonth,
                            &st.wDay, &st.wHour, &st.wMinute, &st.wSecond, &st.wMilliseconds, &moment, &end), 8);
      const double ms = e2e::Milliseconds(st) - 11644473600000.0 - moment;  // from 1601, the moment from 1970
      EXPECT_NEAR(ms, offset_s * 1000.0, 20.0);
    }
  }
  std::vector<e2e::TimeService> services_;
  std::string urls_;
};

// A click sets the true time; when the clock refuses it (a standard user) the program starts one elevated copy with
// the offset, no more. Above two minutes it asks first and 否 sets nothing (above a year, neither: policy_test).
TEST_F(PreciseTest, ClickSetsTheTrueTimeAsksAboveTwoMinutesAndARefusalStartsOneCopy) {
  for (const bool refused : {false, true}) {
    const double offset = RandomOffset();
    SCOPED_TRACE(std::string(refused ? "refused" : "allowed") + ", service offset " + std::to_string(offset));
    Offset(offset);
    Program p(urls_, {refused ? "TIMECAL_CLOCK_REFUSE=1" : nullptr});
    // A first estimate shows before the measurement ends (no sources listed yet), its bound wider.
    std::string first;
    ASSERT_TRUE(Wait([&] { return p.Text(kSourcesBox).empty() ? !(first = p.Text(kOffsetBox)).empty() : true; },
                     20000));
    EXPECT_NE(first, "") << "the offset showed only when the measurement had ended";
    ASSERT_TRUE(p.WaitMeasured());
    const std::string shown = p.Text(kOffsetBox);
    const size_t pm = shown.find(GBK_PLUS_MINUS);
    ASSERT_NE(pm, std::string::npos) << shown;
    const double bound = std::atof(shown.c_str() + pm + 2);  // its form is checked natively
    EXPECT_NEAR(std::atof(shown.c_str()), offset, bound + 0.001) << shown;
    EXPECT_LT(bound, 0.1) << shown;
    const size_t first_pm = first.find(GBK_PLUS_MINUS);
    EXPECT_TRUE(first_pm != std::string::npos && std::atof(first.c_str() + first_pm + 2) > bound) << first;
    const std::string sources = p.Text(kSourcesBox);
    for (auto& s : services_) EXPECT_EQ(LineOf(sources, s.Url()).rfind(GBK_PRECISE_ANSWERED "  ", 0), 0u) << sources;
    for (int box : {kServiceTimeBox, kRoundTripBox}) EXPECT_NE(p.Text(box), "") << "no result in unit " << box;
    EXPECT_TRUE(p.ClockRequests().empty()) << "measuring sets nothing";

    p.Click(kCalibrateButton);
    const size_t requests = refused ? 2 : 1;  // refused: the program's own request, then the copy's, refused too
    ASSERT_TRUE(Wait([&] { return p.ClockRequests().size() >= requests; }, 15000)) << p.ClockRequests().size();
    if (refused) {
      ASSERT_TRUE(p.WaitStatus("1314", 5000)) << p.Text(kStatusLabel);
      Sleep(1500);  // time for a further copy or request
    } else {
      EXPECT_TRUE(Has(p.Text(kLastCalibrationBox), " " GBK_PRECISE_ADJUST " ")) << p.Text(kLastCalibrationBox);
    }
    const std::vector<std::string> starts = p.Lines(e2e::kStartLog);
    ASSERT_EQ(starts.size(), requests);
    EXPECT_EQ(starts[0], "-");
    if (refused) {
      EXPECT_EQ(starts[1].rfind("--apply-offset=", 0), 0u) << starts[1];
      EXPECT_NEAR(std::atof(starts[1].c_str() + 15), offset * 1000.0, 20.0);
    }
    ASSERT_EQ(p.ClockRequests().size(), requests);
    ExpectTrue(p.ClockRequests(), offset);
    if (!refused) {
      const double ahead = 200 + std::fabs(offset) / 100;
      Offset(ahead);
      p.Click(kMeasureButton);
      double shown = 0;
      ASSERT_TRUE(Wait([&] { return p.WaitOffset(&shown) && shown > 199; }, 20000)) << p.Text(kOffsetBox);
      p.Click(kCalibrateButton);
      HWND box = p.WaitQuestion(5000);
      ASSERT_NE(box, nullptr) << "no question before a correction of 200 s";
      char text[1024] = {};
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);  // the box's text
      EXPECT_TRUE(Has(text, " +200.")) << text;  // the correction
      PostMessageA(box, WM_COMMAND, IDNO, 0);
      ASSERT_TRUE(p.WaitStatus(GBK_PRECISE_CANCELLED, 5000)) << p.Text(kStatusLabel);
      EXPECT_EQ(p.ClockRequests().size(), 1u) << "answering no set the clock";
      // Asked again, 是 sets the true time, taken after the answer.
      p.Click(kCalibrateButton);
      ASSERT_NE(box = p.WaitQuestion(5000), nullptr);
      Sleep(300);
      PostMessageA(box, WM_COMMAND, IDYES, 0);
      ASSERT_TRUE(Wait([&] { return p.ClockRequests().size() == 2; }, 5000));
      ExpectTrue({p.ClockRequests().back()}, ahead);
    }
    EXPECT_EQ(p.Close(), 0u);
  }
}

// Automatic mode sets only a time most sources agree on: with the three far apart it leaves the clock alone and
// says why; with one 0.6 s ahead of two honest ones it sets the truth and the window names the liar.
TEST_F(PreciseTest, AutomaticModeSetsOnlyTheTimeTheSourcesAgreeOn) {
  const char* apart[] = {"5.2", "-3.1", "40.7"};  // each answer taking 150 ms
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(services_[i].Control(std::string("delay=0.15&offset=") + apart[i]));
  Program p(urls_, {"TIMECAL_AUTO_MS=3000,1000"});  // period, first retry
  p.Click(kAutoButton);
  EXPECT_LT(p.LongestWait(2500), 150u + 20 + 100);  // one answer, the engine's 20 ms send wait, slack
  ASSERT_TRUE(p.WaitStatus(GBK_PRECISE_DISAGREE, 25000)) << p.Text(kStatusLabel);
  EXPECT_TRUE(Has(p.Text(kSourcesBox), GBK_PRECISE_DISAGREES_WITH_OTHERS)) << p.Text(kSourcesBox);
  EXPECT_TRUE(p.ClockRequests().empty());

  const double honest = 0.3 + std::fabs(RandomOffset()) / 100, liar = honest + 0.6;
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(services_[i].Control("delay=0&offset=" + std::to_string(i == 1 ? liar : honest)));
  ASSERT_TRUE(Wait([&] { return !p.ClockRequests().empty(); }, 25000)) << p.Text(kStatusLabel);
  ExpectTrue(p.ClockRequests(), honest);
  std::string sources = p.Text(kSourcesBox);
  for (size_t i = 0; i < services_.size(); ++i) {
    const char* state = i == 1 ? GBK_PRECISE_DISAGREES_WITH_OTHERS : GBK_PRECISE_ANSWERED;
    EXPECT_EQ(LineOf(sources, services_[i].Url()).rfind(state, 0), 0u) << services_[i].Url() << "\n" << sources;
  }
  EXPECT_EQ(p.Close(), 0u);
}

constexpr auto kWithin = static_cast<uint16_t>(precise::AutoDecision::kWithinThreshold);
constexpr auto kQuestion = static_cast<uint16_t>(precise::AutoDecision::kNeedsQuestion);
keeper::Status KeeperMeasured(int32_t offset_us, uint16_t decision) {
  return e2e::Measured(offset_us, 3000, 3, 4, 1796672243000, decision);  // 2026-12-07 19:37:23 UTC
}

// While the service runs the window shows its result and only asks it (校准 and 测量 as requests, a set-aside correction
// above two minutes asked about first, busy answers shown, automatic mode the service's): no clock change, no elevated
// copy of its own. When it is gone: 未安装.
TEST_F(PreciseTest, WhileTheServiceRunsTheWindowOnlyAsksIt) {
  using C = keeper::Command;
  keeper::Status first = KeeperMeasured(12345, kWithin);
  first.windows_time_syncing = true;  // a second keeper: a warning
  auto fake = std::make_unique<e2e::FakeKeeper>(first);
  Program p(urls_);
  const char* last = "+0.012 " GBK_SECOND " " GBK_PLUS_MINUS "0.003, " GBK_PRECISE_KEEPER_AGREE " 3/4; Windows "
                     GBK_PRECISE_KEEPER_WINDOWS_TIME;
  ASSERT_TRUE(Wait([&] { return Has(p.Text(kKeeperBox), last); }, 10000)) << p.Text(kKeeperBox);
  EXPECT_EQ(p.Text(kKeeperBox).rfind(GBK_PRECISE_KEEPER_RUNNING ", ", 0), 0u) << p.Text(kKeeperBox);
  EXPECT_EQ(p.Text(kAutoButton), GBK_PRECISE_KEEPER_AUTO);
  EXPECT_EQ(p.Text(kKeeperButton), GBK_PRECISE_KEEPER_REMOVE);
  ASSERT_TRUE(p.WaitMeasured());  // its own first measurement, whose status line would cross the rows'
  using A = keeper::Answer;
  const std::string within = GBK_PRECISE_KEEPER ": " GBK_PRECISE_OFFSET_WITHIN;
  const struct {
    const char* name;
    uint16_t decision;  // kQuestion: of 200 s set aside, else of 12 ms
    A answer;
    int button;
    int question;  // 0: none asked, else the answer given
    std::vector<C> requests;
    std::string status;  // differs from the row before's
  } rows[] = {
      {"calibrate", kWithin, A::kAccepted, kCalibrateButton, 0, {C::kCalibrate}, within},
      {"busy", kWithin, A::kBusy, kMeasureButton, 0, {C::kMeasure}, GBK_PRECISE_KEEPER_BUSY},
      {"measure", kWithin, A::kAccepted, kMeasureButton, 0, {C::kMeasure}, within},
      {"automatic", kWithin, A::kAccepted, kAutoButton, 0, {}, GBK_PRECISE_KEEPER_AUTO},
      {"set aside, no", kQuestion, A::kAccepted, kCalibrateButton, IDNO, {}, GBK_PRECISE_CANCELLED},
      {"set aside, yes", kQuestion, A::kAccepted, kCalibrateButton, IDYES, {C::kCalibrateConfirmed},
       GBK_PRECISE_KEEPER ": " GBK_PRECISE_OFFSET_TOO_LARGE},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const bool large = row.decision == kQuestion;
    fake->Report(KeeperMeasured(large ? 200000000 : 12345, row.decision));
    fake->AnswerRequests(row.answer);
    const std::string offset = large ? "+200.000" : "+0.012";
    ASSERT_TRUE(Wait([&] { return Has(p.Text(kKeeperBox), offset); }, 10000)) << p.Text(kKeeperBox);
    const size_t before = fake->Requests().size();
    p.Click(row.button);
    if (row.question) {
      HWND box = p.WaitQuestion(5000);
      ASSERT_NE(box, nullptr) << "no question";
      PostMessageA(box, WM_COMMAND, row.question, 0);
    }
    ASSERT_TRUE(p.WaitStatus(row.status, 10000)) << p.Text(kStatusLabel);
    Wait([&] { return fake->Requests().size() >= before + row.requests.size(); }, 2000);
    std::vector<C> got = fake->Requests();
    EXPECT_EQ(std::vector<C>(got.begin() + before, got.end()), row.requests);
    EXPECT_EQ(p.Text(kAutoButton), GBK_PRECISE_KEEPER_AUTO);
  }
  EXPECT_TRUE(p.ClockRequests().empty());
  EXPECT_EQ(p.Lines(e2e::kStartLog).size(), 1u) << "an elevated copy started: " << p.Lines(e2e::kStartLog).back();
  fake.reset();
  ASSERT_TRUE(Wait([&] { return p.Text(kKeeperBox) == GBK_PRECISE_KEEPER_NOT_INSTALLED; }, 10000)) << p.Text(kKeeperBox);
  EXPECT_EQ(p.Text(kAutoButton), GBK_PRECISE_AUTO ": " GBK_PRECISE_OFF);
  EXPECT_EQ(p.Text(kKeeperButton), GBK_PRECISE_KEEPER_INSTALL);
  p.Click(kKeeperButton);  // the test build has no service program beside it
  EXPECT_TRUE(p.WaitStatus(GBK_PRECISE_KEEPER_CANNOT_START " timecal-service.exe", 5000)) << p.Text(kStatusLabel);
  EXPECT_EQ(p.Close(), 0u);
}

// --install and --uninstall start the service program and end with its exit code before any window; with no service
// program beside it, the program's "failed".
TEST(PreciseCommandLine, InstallAndUninstallEndBeforeAnyWindow) {
  for (const char* args : {"--install http://127.0.0.1:9/", "--uninstall"}) {
    SCOPED_TRACE(args);
    testsupport::Process child = testsupport::Spawn("\"" + testsupport::ExeDir() + e2e::kPrecise + "\" " + args);
    ASSERT_TRUE(child);
    // A window or box of its own would hold it until it is ended, with a code of the test's.
    EXPECT_EQ(child.WaitOrEnd(30000 * testsupport::TimeScale(), STILL_ACTIVE), static_cast<DWORD>(keeper::kInstallFailed));
  }
}

// timecal-query.exe --status: its exit code and lines (carriage returns dropped).
std::pair<DWORD, std::vector<std::string>> QueryStatus() {
  const std::string out = testsupport::ExeDir() + std::to_string(GetCurrentProcessId()) + "_status.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE file = CreateFileA(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof si, si.dwFlags = STARTF_USESTDHANDLES, si.hStdOutput = si.hStdError = file;
  PROCESS_INFORMATION pi{};
  std::string command = "\"" + testsupport::ExeDir() + "..\\..\\query\\timecal-query.exe\" --status";
  testsupport::Process child;
  if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
    child.handle.reset(pi.hProcess), child.thread.reset(pi.hThread);
  const DWORD code = child.handle ? child.WaitOrEnd(60000 * testsupport::TimeScale(), STILL_ACTIVE) : STILL_ACTIVE;
  CloseHandle(file);
  std::vector<std::string> lines = e2e::ReadLines(out);
  for (std::string& line : lines)
    if (!line.empty() && line.back() == '\r') line.pop_back();
  DeleteFileA(out.c_str());
  return {code, lines};
}

TEST(KeeperQuery, StatusPrintsTheStateAndTheLastResult) {
  keeper::Status set = KeeperMeasured(-2500000, kWithin);
  set.set_utc_ms = set.measured_utc_ms + 100;
  set.correction_ms = -2500;
  keeper::Status none;
  none.measuring = true;
  const struct {
    const char* name;
    std::optional<keeper::Status> service;
    DWORD code;
    std::vector<std::string> lines;
  } rows[] = {
      {"none", std::nullopt, 4, {"state not-installed windows-time no"}},
      {"nothing measured", none, 0, {"state running measurements 0 measuring yes windows-time no", "last none"}},
      {"set", set, 0,
       {"state running measurements 1 measuring no windows-time no",
        "last offset -2.500 +/- 0.003 s sources 4 agreed 3 false-tickers 0 at 2026-12-07T19:37:23.000Z",
        "set correction -2.500 s at 2026-12-07T19:37:23.100Z"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<e2e::FakeKeeper> fake;
    if (row.service) fake = std::make_unique<e2e::FakeKeeper>(*row.service);
    auto [code, lines] = QueryStatus();
    EXPECT_EQ(code, row.code);
    EXPECT_EQ(lines, row.lines);
    if (fake) {
      EXPECT_TRUE(fake->Requests().empty()) << "--status asks for more than the state";
    }
  }
}

}  // namespace
