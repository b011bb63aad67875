// The precise program end to end: its test build runs against three local
// time services under Wine and Xvfb; the test sees it only as a user and
// Win32 do, and reads what it asked of the clock from the seam's log. The
// truth at a request's moment is that moment plus the services' offset.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "runtime/core/gbk_text.h"
#include "tests/app/tool_driver.h"
#include "tests/precise/precise_driver.h"

namespace {

using precise_e2e::Options;
using precise_e2e::Program;
using precise_e2e::Wait;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

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
      ASSERT_TRUE(precise_e2e::RequestedMinusMoment(line, &ms));
      std::printf("clock request %+.1f ms from the truth\n", ms - offset_s * 1000.0);
      EXPECT_NEAR(ms, offset_s * 1000.0, 20.0);
    }
  }
  std::vector<e2e::TimeService> services_;
};

TEST_F(PreciseTest, ClickAsksForTheTrueTimeAndTheWindowAnswersWhileMeasuring) {
  const double offset = RandomOffset();
  SCOPED_TRACE("service offset " + std::to_string(offset));
  Offset(offset);
  Program p(Options{Urls()});
  ASSERT_NE(p.window(), nullptr);
  // The first measurement starts with the window; a second process (this
  // one) keeps sending it messages meanwhile.
  double longest = p.LongestWait(2500);
  std::printf("longest message wait during a measurement: %.1f ms\n", longest);
  EXPECT_LT(longest, 250.0) << "a request on loopback takes a few ms, plus at most 20 ms of waiting";
  ASSERT_TRUE(p.WaitMeasured(20000));
  std::string shown = p.Text(precise_e2e::kOffsetBox);
  double shown_offset = std::atof(shown.c_str());
  size_t pm = shown.find(GBK_PLUS_MINUS);
  ASSERT_NE(pm, std::string::npos) << shown;
  double bound = std::atof(shown.c_str() + pm + 2);
  EXPECT_TRUE(Has(shown, " " GBK_SECOND " " GBK_PLUS_MINUS)) << shown;
  EXPECT_NEAR(shown_offset, offset, bound + 0.001) << shown;
  EXPECT_LT(bound, 0.1) << shown;
  std::string sources = p.Text(precise_e2e::kSourcesBox);
  for (auto& s : services_) EXPECT_TRUE(Has(sources, GBK_PRECISE_ANSWERED "  ") && Has(sources, s.Url())) << sources;
  EXPECT_TRUE(Has(p.Text(precise_e2e::kRoundTripBox), " " GBK_SECOND));
  EXPECT_TRUE(Has(p.Text(precise_e2e::kServiceTimeBox), GBK_SECOND)) << p.Text(precise_e2e::kServiceTimeBox) << "|" << p.Text(precise_e2e::kPcTimeBox);
  EXPECT_TRUE(p.ClockRequests().empty()) << "measuring sets nothing";

  p.Click(precise_e2e::kCalibrateButton);
  ASSERT_TRUE(Wait([&] { return !p.ClockRequests().empty(); }, 5000));
  ASSERT_EQ(p.ClockRequests().size(), 1u);
  ExpectTrue(p.ClockRequests(), offset);
  EXPECT_TRUE(Has(p.Text(precise_e2e::kLastCalibrationBox), " " GBK_PRECISE_ADJUST " ")) << p.Text(precise_e2e::kLastCalibrationBox);
  EXPECT_EQ(p.Close(), 0u);
}

TEST_F(PreciseTest, AboveTwoMinutesAsksFirstAndNoSetsNothing) {
  const double offset = 200 + std::fabs(RandomOffset()) / 100;
  Offset(offset);
  Program p(Options{Urls()});
  ASSERT_TRUE(p.WaitMeasured(20000));
  p.Click(precise_e2e::kCalibrateButton);
  HWND box = p.WaitQuestion(5000);
  ASSERT_NE(box, nullptr) << "no question before a correction of 200 s";
  std::string text = Program::BoxText(box);
  EXPECT_TRUE(Has(text, GBK_PRECISE_PC_TIME_FROM " ") && Has(text, GBK_PRECISE_ADJUST " +200.")) << text;
  Program::Answer(box, IDNO);
  ASSERT_TRUE(p.WaitText(precise_e2e::kStatusLabel, [](const std::string& t) { return Has(t, GBK_PRECISE_CANCELLED); }, 5000));
  EXPECT_TRUE(p.ClockRequests().empty());
  // Asked again, 是 sets the true time, taken after the answer.
  p.Click(precise_e2e::kCalibrateButton);
  box = p.WaitQuestion(5000);
  ASSERT_NE(box, nullptr);
  Sleep(300);
  Program::Answer(box, IDYES);
  ASSERT_TRUE(Wait([&] { return !p.ClockRequests().empty(); }, 5000));
  ExpectTrue(p.ClockRequests(), offset);
  EXPECT_EQ(p.Close(), 0u);
}

TEST_F(PreciseTest, AboveOneYearNothingIsSet) {
  Offset(400 * 86400.0 + 0.25);
  Program p(Options{Urls()});
  ASSERT_TRUE(p.WaitMeasured(20000));
  p.Click(precise_e2e::kCalibrateButton);
  EXPECT_EQ(p.WaitQuestion(1000), nullptr);
  EXPECT_TRUE(p.ClockRequests().empty());
  EXPECT_EQ(p.Text(precise_e2e::kOffsetBox), GBK_PRECISE_UNKNOWN);
  EXPECT_TRUE(Has(p.Text(precise_e2e::kSourcesBox), GBK_PRECISE_REFUSED ": " GBK_PRECISE_REASON_TOO_FAR_FROM_PC "  "))
      << p.Text(precise_e2e::kSourcesBox);
  EXPECT_EQ(p.Close(), 0u);
}

TEST_F(PreciseTest, ARefusedSetStartsOneElevatedCopyAndNoMore) {
  const double offset = RandomOffset();
  Offset(offset);
  Program p(Options{Urls(), true});
  ASSERT_TRUE(p.WaitMeasured(20000));
  p.Click(precise_e2e::kCalibrateButton);
  // The program's own request, refused, then the copy's, refused too.
  ASSERT_TRUE(Wait([&] { return p.ClockRequests().size() >= 2; }, 15000)) << p.ClockRequests().size();
  ASSERT_TRUE(p.WaitText(precise_e2e::kStatusLabel, [](const std::string& t) { return Has(t, "1314"); }, 5000))
      << p.Text(precise_e2e::kStatusLabel);
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

TEST_F(PreciseTest, AutomaticModeCalibratesAboveTheThreshold) {
  const double offset = 0.3 + std::fabs(RandomOffset()) / 100;  // 0.31 to 1.2 s
  Offset(offset);
  Program p(Options{Urls(), false, "3000,1000"});
  p.Click(precise_e2e::kAutoButton);
  ASSERT_TRUE(Wait([&] { return !p.ClockRequests().empty(); }, 25000)) << p.Text(precise_e2e::kStatusLabel);
  EXPECT_EQ(p.Text(precise_e2e::kAutoButton), GBK_PRECISE_AUTO ": " GBK_PRECISE_ON);
  ExpectTrue({p.ClockRequests()[0]}, offset);
  EXPECT_EQ(p.Close(), 0u);
}

TEST_F(PreciseTest, AutomaticModeLeavesTheClockAloneWhenSourcesDisagree) {
  const double offsets[] = {5.2, -3.1, 40.7};  // each far from the others
  // Each answer takes 150 ms: the window still answers within one request
  // plus the engine's 20 ms of waiting for a send instant (and some slack).
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(services_[i].Control("delay=0.15&offset=" + std::to_string(offsets[i])));
  Program p(Options{Urls(), false, "3000,1000"});
  p.Click(precise_e2e::kAutoButton);
  double longest = p.LongestWait(2500);
  std::printf("longest message wait with 150 ms answers: %.1f ms\n", longest);
  EXPECT_LT(longest, 150.0 + 20.0 + 100.0);
  ASSERT_TRUE(p.WaitText(precise_e2e::kStatusLabel, [](const std::string& t) { return Has(t, GBK_PRECISE_DISAGREE); }, 25000))
      << p.Text(precise_e2e::kStatusLabel);
  EXPECT_TRUE(Has(p.Text(precise_e2e::kSourcesBox), GBK_PRECISE_DISAGREES_WITH_OTHERS)) << p.Text(precise_e2e::kSourcesBox);
  EXPECT_TRUE(p.ClockRequests().empty());
  EXPECT_EQ(p.Close(), 0u);
}

// One of the three sources answers at once (a bound of a few ms) but 0.6 s
// ahead of the other two, which tell the truth: automatic mode sets the
// truth or nothing, never the liar's time, and the window names the liar.
TEST_F(PreciseTest, AutomaticModeSetsNothingFromATightSourceThatIsOff) {
  const double honest = 0.3, liar = honest + 0.6;
  Offset(honest);
  ASSERT_TRUE(services_[1].Control("offset=" + std::to_string(liar)));
  Program p(Options{Urls(), false, "3000,1000"});
  p.Click(precise_e2e::kAutoButton);
  // Decided: it set the clock, or the status says why not and when next.
  ASSERT_TRUE(Wait([&] { return !p.ClockRequests().empty() ||
                                Has(p.Text(precise_e2e::kStatusLabel), GBK_PRECISE_SECONDS_UNTIL_NEXT); }, 25000))
      << p.Text(precise_e2e::kStatusLabel);
  std::printf("%zu clock requests\n", p.ClockRequests().size());
  ExpectTrue(p.ClockRequests(), honest);
  std::string sources = p.Text(precise_e2e::kSourcesBox);
  for (size_t i = 0; i < services_.size(); ++i) {
    SCOPED_TRACE(services_[i].Url());
    size_t at = sources.find(services_[i].Url());
    ASSERT_NE(at, std::string::npos) << sources;
    size_t line = sources.rfind("\n", at);
    std::string head = sources.substr(line == std::string::npos ? 0 : line + 1);
    EXPECT_EQ(head.rfind(i == 1 ? GBK_PRECISE_DISAGREES_WITH_OTHERS : GBK_PRECISE_ANSWERED, 0), 0u) << sources;
  }
  EXPECT_EQ(p.Close(), 0u);
}

}  // namespace
