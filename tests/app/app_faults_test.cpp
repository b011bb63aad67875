// Each platform call or COM step of a refresh fails in turn (app/probe_faults.cpp), a good refresh after each: the
// tool runs on, leaks no WinINet handle or heap block, shows the next good reply. A refused heap request ends on the
// fatal path with the allocation message.
#include <gtest/gtest.h>

#include <cstdio>

#include "runtime/core/gbk_text.h"
#include "tests/app/tool_driver.h"
#include "app/dll_table.h"

namespace {

struct Refresh { int number, failed, calls; char shown; long long open_handles, live_blocks; };  // a fault log line

// The refreshes the probe logged with one schedule until it failed each call or step once.
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
    Refresh r;
    if (std::sscanf(line.c_str(), "%d %d %d %c %lld %lld", &r.number, &r.failed, &r.calls, &r.shown, &r.open_handles,
                    &r.live_blocks) == 6)
      refreshes.push_back(r);
  }
  return refreshes;
}

// Checks each failed refresh (`check_shown` judges its box), the good one after, each call from `first` failed once.
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
}

// A call the body depends on leaves no reply (100年1月1日); a failed close, header query or final
// read comes after the body is complete; CoInitialize runs on a thread initialised at start.
TEST(FaultInjection, EachPlatformCallOfARefreshFailsInTurn) {
  int reads_seen = 0;
  FailEachInTurn("dll", 1, [&](const Refresh& bad) {
    const int entry = bad.failed;  // the n-th failed refresh fails the n-th call; count the reads before it
    const bool later_read = entry == web::kInternetReadFile && reads_seen++ > 0;
    const bool harmless = entry == web::kInternetCloseHandle || entry == web::kHttpQueryInfoA ||
                          entry == json::kCoInitialize || later_read;
    EXPECT_EQ(bad.shown, harmless ? 'T' : 'F');
  });
}

// The flow does not restart an object with an empty engine: once engine creation failed, 100年1月1日 from then on.
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
    EXPECT_TRUE(i == 1 || refreshes[i].calls == 0) << "an empty engine is still called";
  }
}

// A later COM step may fail before or after the data is in: a time or 100年1月1日.
TEST(FaultInjection, EachLaterComStepOfARefreshFailsInTurn) {
  FailEachInTurn("com:2", 2, [](const Refresh& r) { EXPECT_TRUE(r.shown == 'T' || r.shown == 'F') << r.shown; });
}

TEST(FaultInjection, ARefusedHeapRequestOfARefreshEndsOnTheFatalPath) {
  e2e::TimeService service;
  ASSERT_TRUE(service.Control("fault=none&delay=0&offset=0")) << "no time service";
  SetEnvironmentVariableA("TIMECAL_URL", service.Url().c_str());
  SetEnvironmentVariableA("TIMECAL_TIMER_MS", "100");
  SetEnvironmentVariableA("TIMECAL_FAULT_LOG", nullptr);
  // A refresh's first request and one far past its end (the next one's); memory_test fails each in turn natively.
  for (int n : {1, 89}) {
    SCOPED_TRACE(n);
    SetEnvironmentVariableA("TIMECAL_INJECT", ("heap:" + std::to_string(n)).c_str());
    testsupport::ChildResult r = testsupport::RunChild(e2e::kTool, "", true);
    EXPECT_TRUE(r.had_box);
    EXPECT_EQ(r.caption, GBK_ERROR_CAPTION);
    EXPECT_NE(r.text.find(GBK_MSG_ALLOC_TAIL "!"), std::string::npos) << r.text;
    EXPECT_EQ(r.exit_code, 0xFFFFFFFFu);
  }
}

}  // namespace
