// Fault injection at every platform call of a refresh (app/probe_faults.cpp):
// each DllCommandTable call and each COM step of a refresh fails in turn, one
// per refresh with a good refresh after each, and the tool must run on,
// showing what its flow makes of it, with no WinINet handle or heap block
// left behind and the next good reply shown again; a refused heap request of
// a refresh ends on the fatal path with the allocation message, never a crash.
#include <gtest/gtest.h>

#include <sstream>

#include "runtime/core/gbk_text.h"
#include "tests/app/tool_driver.h"
#include "tests/support/child_process.h"
#include "app/dll_table.h"

namespace {

struct Refresh {
  int number = 0, failed = -1, calls = 0;
  char shown = '?';
  long open_handles = 0;
  long long live_blocks = 0, heap_requests = 0;
};

// Runs the probe with one injection schedule until it has failed every
// call or step once; the refreshes it logged.
std::vector<Refresh> RunSchedule(const char* mode) {
  e2e::TimeService service;
  EXPECT_TRUE(service.Control("fault=none&delay=0&offset=0")) << "no time service";
  const std::string log = testsupport::ExeDir() + "faults_" + mode + ".log";
  const std::string inject = std::string("TIMECAL_INJECT=") + mode, log_to = "TIMECAL_FAULT_LOG=" + log;
  DeleteFileA(log.c_str());
  e2e::Program tool(e2e::kTool, service.Url(), {"TIMECAL_TIMER_MS=100", inject.c_str(), log_to.c_str()});
  EXPECT_NE(tool.window(), nullptr);
  std::vector<std::string> lines;
  auto done = [&] { return !(lines = e2e::ReadLines(log)).empty() && lines.back() == "done"; };
  EXPECT_TRUE(testsupport::Wait(done, 90000)) << lines.size() << " refreshes logged";
  EXPECT_TRUE(tool.Responsive(5000));
  EXPECT_EQ(tool.Close(), 0u);
  DeleteFileA(log.c_str());
  std::vector<Refresh> refreshes;
  for (const std::string& line : lines) {
    std::istringstream f(line);
    Refresh r;
    if (f >> r.number >> r.failed >> r.calls >> r.shown >> r.open_handles >> r.live_blocks >> r.heap_requests)
      refreshes.push_back(r);
  }
  return refreshes;
}

// Runs a schedule that fails one call or step per refresh, from the
// `first`, with a good refresh after each, and checks every pair: no WinINet
// handle or heap block left behind, the next good reply shown, every call or
// step failed once. `check_shown(bad)` judges what a failed refresh showed.
template <typename CheckShown>
void FailEachInTurn(const char* mode, int first, CheckShown check_shown) {
  const std::vector<Refresh> refreshes = RunSchedule(mode);
  ASSERT_GE(refreshes.size(), 3u);
  const Refresh& baseline = refreshes.front();
  ASSERT_EQ(baseline.shown, 'T');
  int failed = 0;
  for (size_t i = 1; i + 1 < refreshes.size(); i += 2, ++failed) {
    const Refresh &bad = refreshes[i], &good = refreshes[i + 1];
    SCOPED_TRACE("refresh " + std::to_string(bad.number) + " failed " + std::to_string(bad.failed));
    ASSERT_NE(bad.failed, -1);
    check_shown(bad);
    EXPECT_EQ(good.failed, -1);
    EXPECT_EQ(good.shown, 'T') << "the next good reply is not shown";
    for (const Refresh& r : {bad, good}) {
      EXPECT_EQ(r.open_handles, 0) << "WinINet handles left open";
      EXPECT_EQ(r.live_blocks, baseline.live_blocks) << "heap blocks left behind";
    }
  }
  EXPECT_EQ(failed, baseline.calls - (first - 1)) << "every call or step of a refresh failed once";
  std::printf("faults %s: %d calls or steps per refresh; %lld heap requests\n", mode, baseline.calls,
              baseline.heap_requests);
}

// What the flow shows when a call fails. Everything the body depends on
// (opening, connecting, sending, the first read, the conversion from UTF-8)
// leaves no reply, so 100年1月1日; a failed close, reply-header query or the
// read that reports the end comes after the body is complete.
// CoInitialize runs on a thread the Runtime initialised at start, so its
// failure changes nothing.
TEST(FaultInjection, EachPlatformCallOfARefreshFailsInTurn) {
  int reads_seen = 0;
  FailEachInTurn("dll", 1, [&](const Refresh& bad) {
    // The n-th failed refresh fails the n-th call; count the reads before it.
    const int entry = bad.failed;
    const bool later_read = entry == web::kInternetReadFile && reads_seen++ > 0;
    const bool harmless = entry == web::kInternetCloseHandle || entry == web::kHttpQueryInfoA ||
                          entry == json::kCoInitialize || later_read;
    EXPECT_EQ(bad.shown, harmless ? 'T' : 'F');
  });
}

// Which COM step fails decides whether the reply still reaches the box (a
// failed check after the data is in, say) or not; either way the tool runs
// on, shows a time or 100年1月1日 and nothing else, and recovers. The first
// step, creating the engine, is the exception the flow names: an object whose
// engine is empty is not restarted, so the tool shows 100年1月1日 from then on.
TEST(FaultInjection, AFailedEngineCreationIsNotRetried) {
  const std::vector<Refresh> refreshes = RunSchedule("com:1");
  ASSERT_GE(refreshes.size(), 3u);
  EXPECT_EQ(refreshes[0].shown, 'T');
  EXPECT_EQ(refreshes[1].failed, 1);
  for (size_t i = 1; i < refreshes.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(refreshes[i].shown, 'F');
    EXPECT_EQ(refreshes[i].open_handles, 0);
    EXPECT_EQ(refreshes[i].live_blocks, refreshes[0].live_blocks);
    if (i > 1) {
      EXPECT_EQ(refreshes[i].calls, 0) << "an empty engine is still called";
    }
  }
}

TEST(FaultInjection, EachLaterComStepOfARefreshFailsInTurn) {
  std::string outcomes;
  FailEachInTurn("com:2", 2, [&](const Refresh& bad) {
    outcomes += bad.shown;
    EXPECT_TRUE(bad.shown == 'T' || bad.shown == 'F') << bad.shown;
  });
  std::printf("faults: shown when COM steps 2.. fail: %s\n", outcomes.c_str());
}

TEST(FaultInjection, ARefusedHeapRequestOfARefreshEndsOnTheFatalPath) {
  e2e::TimeService service;
  ASSERT_TRUE(service.Control("fault=none&delay=0&offset=0")) << "no time service";
  SetEnvironmentVariableA("TIMECAL_URL", service.Url().c_str());
  SetEnvironmentVariableA("TIMECAL_TIMER_MS", "100");
  SetEnvironmentVariableA("TIMECAL_FAULT_LOG", nullptr);
  // Requests of one refresh cycle: the first, a spread, and far past its end
  // (which reaches the next cycle's).
  for (int n : {1, 2, 3, 5, 8, 13, 21, 34, 55, 89}) {
    SCOPED_TRACE(n);
    SetEnvironmentVariableA("TIMECAL_INJECT", ("heap:" + std::to_string(n)).c_str());
    testsupport::ChildResult r = testsupport::RunChild("..\\..\\app\\timecal_probe.exe", "", true);
    EXPECT_TRUE(r.had_box);
    EXPECT_EQ(r.caption, GBK_ERROR_CAPTION);
    EXPECT_NE(r.text.find(GBK_MSG_ALLOC_TAIL "!"), std::string::npos) << r.text;
    EXPECT_EQ(r.exit_code, 0xFFFFFFFFu);
  }
  SetEnvironmentVariableA("TIMECAL_INJECT", nullptr);
}

}  // namespace
