// The tool against a faulty or hostile time service (tools/timeservice.py, tools/hostile_replies.py): it stays
// responsive, shows the time or 100年1月1日 as its flow makes of each reply, runs no script a reply holds, keeps
// memory and handles bounded, and shows the next good reply again.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/app/tool_driver.h"
#include "window_templates.h"  // the tool's (app/main_window.json)

namespace {

using e2e::kFailed;
using testsupport::Wait;
using rtwin::MainWindow::control::kEdit1;  // the service box

bool IsTime(const std::string& t) {
  SYSTEMTIME st;
  return e2e::ParseDisplayed(t, &st) && t != kFailed;
}

// One or two replies of each kind, in one tool (JSON, web and code-page tests check every variant; slow ones: Soak).
TEST(HostileService, ToolSurvivesEachReplyAndShowsTheNextGoodOne) {
  const char* pwned = "C:\\pwned.txt";  // what the script reply would create
  DeleteFileA(pwned);
  e2e::TimeService service;
  ASSERT_TRUE(service.Control("fault=none&delay=0&offset=0")) << "no time service";
  e2e::Program tool(e2e::kTool, service.Url(), {"TIMECAL_TIMER_MS=200", "TIMECAL_STATS_EVERY=1"});
  const struct { const char* mode; bool time; } cases[] = {
      {"null", false},    {"close", false},  {"hostile", false},      {"bigheaders", true},
      {"endless", false}, {"random", false}, {"badutf8", true},       {"redirectloop", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_TRUE(service.Control("fault=none"));
    ASSERT_TRUE(Wait([&] { return IsTime(tool.Text(kEdit1)) && !tool.Stats().empty(); }, 20000)) << tool.Text(kEdit1);
    const size_t before = tool.Stats().size();
    const unsigned long handles = tool.Stats().back().handles;
    const int start = service.Requests();
    ASSERT_TRUE(service.Control(std::string("fault=") + c.mode));
    // When the second faulty request arrives the first reply has been shown.
    EXPECT_TRUE(Wait([&] { return service.Requests() - start >= 2; }, 40000)) << "the tool stopped asking";
    if (!c.time) {
      EXPECT_TRUE(Wait([&] { return tool.Text(kEdit1) == kFailed; }, 20000)) << tool.Text(kEdit1);
    } else if (testsupport::TimeScale() == 1) {
      // Under an emulator a 1 MB header outlasts the hung-window limit of WM_GETTEXT.
      EXPECT_TRUE(IsTime(tool.Text(kEdit1))) << tool.Text(kEdit1);
    }
    ASSERT_TRUE(service.Control("fault=none"));
    EXPECT_TRUE(tool.Responsive(20000));
    EXPECT_TRUE(Wait([&] { return IsTime(tool.Text(kEdit1)) && tool.Stats().size() > before; }, 20000));
    const std::vector<e2e::Figures> stats = tool.Stats();
    unsigned long peak = 0;
    for (size_t i = before; i < stats.size(); ++i) peak = std::max(peak, stats[i].private_bytes);
    EXPECT_LT(peak, 256ul << 20) << "memory not bounded";
    EXPECT_LE(stats.back().handles, handles + 8) << "handles grew";
  }
  EXPECT_EQ(GetFileAttributesA(pwned), INVALID_FILE_ATTRIBUTES) << "the script reply ran";
  EXPECT_EQ(tool.Close(), 0u);
}

// 1,000 refreshes at 50 ms through every fault, one 3 s and one 32 MB reply per hundred (memory figures: bench_app).
TEST(Soak, ThousandRefreshesThroughEveryFault) {
  e2e::TimeService service;
  ASSERT_TRUE(service.Control("fault=soak&delay=0&offset=0")) << "no time service";
  const int start = service.Requests(), kRefreshes = 1000;
  e2e::Program tool(e2e::kTool, service.Url(), {"TIMECAL_TIMER_MS=50"});
  ASSERT_NE(tool.window(), nullptr);
  const DWORD began = GetTickCount();
  int unresponsive = 0;
  while (service.Requests() - start < kRefreshes && GetTickCount() - began < 480000) {
    if (!tool.Responsive(10000)) ++unresponsive;  // between refreshes it answers; a 3 s reply may hold it once
    Sleep(200);
  }
  EXPECT_GE(service.Requests() - start, kRefreshes) << "too few refreshes in the time allowed";
  EXPECT_EQ(unresponsive, 0);
  ASSERT_TRUE(service.Control("fault=none"));
  const std::vector<e2e::Figures> stats = tool.Stats();
  EXPECT_EQ(tool.Close(), 0u);
  ASSERT_GE(stats.size(), 2u);
  EXPECT_LE(stats.back().handles, stats.front().handles + 8) << "handles grew";
  EXPECT_LE(stats.back().user_objects, stats.front().user_objects + 8) << "USER objects grew";
}

}  // namespace
