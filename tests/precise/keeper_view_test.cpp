// The precise window as the time-keeping service's client, natively: its line for the service, when a calibration
// through the service asks first, the service program's command line and the texts of its answers and exit codes.
#include <gtest/gtest.h>

#include "precise/keeper_view.h"
#include "runtime/core/gbk_text.h"

namespace {

using keeper::ServiceState;
using precise::KeeperAction;

keeper::Status Measured(int32_t offset_us, uint32_t bound_us, uint16_t agreed, uint16_t sources) {
  keeper::Status s;
  s.measurements = 2;
  s.found = true;
  s.offset_us = offset_us;
  s.bound_us = bound_us;
  s.agreed = agreed;
  s.sources = sources;
  return s;
}

TEST(KeeperView, LineShowsTheStateTheLastResultAndASecondKeeper) {
  const int64_t at = 1796672243000;  // 2026-12-07 19:37:23 (local time as the window passes it)
  keeper::Status none, measuring, disagree = Measured(0, 0, 0, 3), syncing = Measured(-1500, 2000, 2, 2);
  measuring.measuring = true;
  disagree.found = false;
  disagree.disagree = true;
  syncing.windows_time_syncing = true;
  const char* running = GBK_PRECISE_KEEPER_RUNNING ", ";
  const char* when = "19" GBK_HOUR "37" GBK_MINUTE "23" GBK_SECOND " ";
  const char* second_keeper = "; Windows " GBK_PRECISE_KEEPER_WINDOWS_TIME;
  const struct {
    ServiceState state;
    keeper::Status status;
    bool windows_time;
    std::string text;
  } cases[] = {
      {ServiceState::kNotInstalled, {}, false, GBK_PRECISE_KEEPER_NOT_INSTALLED},
      {ServiceState::kStopped, {}, false, GBK_PRECISE_KEEPER_STOPPED},
      {ServiceState::kStopped, {}, true, GBK_PRECISE_KEEPER_STOPPED + std::string(second_keeper)},
      {ServiceState::kRunning, none, false, running + std::string(GBK_PRECISE_KEEPER_NOT_MEASURED)},
      {ServiceState::kRunning, measuring, false, running + std::string(GBK_PRECISE_MEASURING)},
      {ServiceState::kRunning, Measured(12345, 3000, 3, 4), false,
       running + std::string(when) + "+0.012 " GBK_SECOND " " GBK_PLUS_MINUS "0.003, " GBK_PRECISE_KEEPER_AGREE " 3/4"},
      {ServiceState::kRunning, disagree, false, running + std::string(when) + GBK_PRECISE_NO_MAJORITY},
      {ServiceState::kRunning, syncing, false,
       running + std::string(when) + "-0.002 " GBK_SECOND " " GBK_PLUS_MINUS "0.002, " GBK_PRECISE_KEEPER_AGREE " 2/2" +
           second_keeper},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    precise::KeeperView view{c.state, c.status, c.windows_time};
    EXPECT_EQ(precise::KeeperText(view, at), c.text);
  }
}

// Only a correction the service set aside for the question, and above two minutes, is asked about.
TEST(KeeperView, AsksOnlyAboutALargeCorrectionTheServiceSetAside) {
  const auto question = static_cast<uint16_t>(precise::AutoDecision::kNeedsQuestion);
  const auto threshold = static_cast<uint16_t>(precise::AutoDecision::kWithinThreshold);
  const struct {
    int32_t offset_us;
    uint16_t decision;
    bool found;
    bool asks;
  } cases[] = {
      {200000000, question, true, true},   {-200000000, question, true, true}, {120001000, question, true, true},
      {120000000, question, true, false},  {200000000, threshold, true, false}, {200000000, question, false, false},
      {50000, question, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.offset_us) + " us, decision " + std::to_string(c.decision));
    keeper::Status s = Measured(c.offset_us, 1000, 2, 2);
    s.decision = c.decision;
    s.found = c.found;
    EXPECT_EQ(precise::KeeperNeedsQuestion(s), c.asks);
  }
  keeper::Status never_measured;
  never_measured.decision = question;
  never_measured.offset_us = 200000000;
  never_measured.found = true;
  EXPECT_FALSE(precise::KeeperNeedsQuestion(never_measured));
}

TEST(KeeperView, CommandLineNamesTheActionAndPassesTheSources) {
  const struct {
    const char* line;
    KeeperAction action;
    const char* parameters;
  } cases[] = {
      {"p.exe", KeeperAction::kNone, "--uninstall"},
      {"p.exe http://a/", KeeperAction::kNone, "--uninstall"},
      {"p.exe --install", KeeperAction::kInstall, "--install"},
      {"p.exe --install http://a/ https://b/x", KeeperAction::kInstall, "--install http://a/ https://b/x"},
      {"p.exe http://a/ --install \"http://c d/\"", KeeperAction::kInstall, "--install http://a/ \"http://c d/\""},
      {"p.exe --uninstall http://a/", KeeperAction::kUninstall, "--uninstall"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    precise::CommandLine cl = precise::ReadCommandLine(c.line);
    EXPECT_EQ(precise::KeeperActionOf(cl), c.action);
    EXPECT_FALSE(cl.apply_offset_ms);
    if (c.action != KeeperAction::kNone) {
      EXPECT_EQ(precise::KeeperParameters(c.action, cl.urls), c.parameters);
    }
  }
}

TEST(KeeperView, AnswersAndExitCodesHaveTheirTexts) {
  using A = keeper::Answer;
  const std::pair<A, std::string> answers[] = {
      {A::kAccepted, GBK_PRECISE_KEEPER_MEASURING "..."},
      {A::kBusy, GBK_PRECISE_KEEPER_BUSY},
      {A::kBadVersion, GBK_PRECISE_KEEPER_REFUSED " (5)"},
      {A::kCount, GBK_PRECISE_KEEPER_REFUSED " (7)"},
  };
  for (const auto& [answer, text] : answers) {
    SCOPED_TRACE(text);
    EXPECT_EQ(precise::KeeperAnswerText(answer), text);
  }
  const struct {
    KeeperAction action;
    uint32_t code;
    std::string text;
  } outcomes[] = {
      {KeeperAction::kInstall, keeper::kInstallDone, GBK_PRECISE_KEEPER_INSTALLED},
      {KeeperAction::kUninstall, keeper::kInstallDone, GBK_PRECISE_KEEPER_REMOVED},
      {KeeperAction::kInstall, keeper::kInstallBadArguments, GBK_PRECISE_KEEPER_BAD_URL},
      {KeeperAction::kUninstall, keeper::kInstallNotInstalled, GBK_PRECISE_KEEPER GBK_PRECISE_KEEPER_NOT_INSTALLED},
      {KeeperAction::kInstall, keeper::kInstallNoRight, GBK_PRECISE_KEEPER_NO_ADMIN},
      {KeeperAction::kUninstall, 1223,
       GBK_PRECISE_KEEPER_REMOVE GBK_PRECISE_FAILED " (" GBK_ERROR_CAPTION " 1223)"},
  };
  for (const auto& o : outcomes) {
    SCOPED_TRACE(o.code);
    EXPECT_EQ(precise::KeeperOutcomeText(o.action, o.code), o.text);
  }
}

}  // namespace
