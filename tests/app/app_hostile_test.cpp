// The tool against a hostile time service (tools/hostile_replies.py), each
// reply in a fresh tool: huge headers, thousands of cookies, an endless or
// dripping body, random bytes, foreign encodings, NUL bytes, redirect loops
// and a redirect to another scheme. The tool must stay responsive, show what
// its flow makes of the reply (the time, or 100年1月1日), keep its memory and
// handles bounded, and show the next good reply again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "tests/app/tool_driver.h"
#include "window_templates.h"  // the tool's (app/main_window.json)

namespace {

using e2e::kFailed;
using testsupport::Wait;
using rtwin::MainWindow::control::kEdit1;  // the service box

enum class Shows { kTime, kFailed, kEither };
struct Case {
  const char* mode;
  Shows shows;
  bool recovers = true;
};
// What the flow makes of each: a good body behind odd headers or a slow
// start is the service's time; a body that is not its JSON once converted
// from UTF-8 (random, UTF-16, a BOM that becomes "?", a NUL that ends the
// text, a body cut off at the client's limit) and a redirect that leads
// nowhere (a loop ends in a 508 or the system's limit) are not. The system
// keeps the cookies a reply sets and sends them back: after 10,000 no server
// takes a request, so the tool shows 100年1月1日 or waits until it restarts.
// A reply that drips may be read whole or end early, as the reads decide.
const Case kCases[] = {
    {"bigheaders", Shows::kTime},     {"cookies", Shows::kTime, false}, {"endless", Shows::kFailed},
    {"random", Shows::kFailed},       {"badutf8", Shows::kTime},        {"utf16", Shows::kFailed},
    {"bom", Shows::kFailed},          {"nul", Shows::kFailed},          {"redirectloop", Shows::kFailed},
    {"otherscheme", Shows::kFailed},  {"drip", Shows::kEither},
};

bool IsTime(const std::string& t) {
  SYSTEMTIME st;
  return e2e::ParseDisplayed(t, &st) && t != kFailed;
}

class HostileService : public ::testing::TestWithParam<Case> {};

TEST_P(HostileService, ToolSurvivesTheReplyAndShowsTheNextGoodOne) {
  const Case& c = GetParam();
  e2e::TimeService service;
  ASSERT_TRUE(service.Control("fault=none&delay=0&offset=0")) << "no time service";
  e2e::Program tool(e2e::kTool, service.Url(), {"TIMECAL_TIMER_MS=200", "TIMECAL_STATS_EVERY=1"});
  ASSERT_TRUE(Wait([&] { return IsTime(tool.Text(kEdit1)) && !tool.Stats().empty(); }, 10000)) << tool.Text(kEdit1);
  const size_t before = tool.Stats().size();
  const unsigned long handles = tool.Stats().back().handles;
  const int start = service.Requests();
  ASSERT_TRUE(service.Control(std::string("fault=") + c.mode));
  // When the second hostile request arrives the first reply has been shown
  // (after the cookie flood no further request gets through).
  const bool asked = Wait([&] { return service.Requests() - start >= (c.recovers ? 2 : 1); }, 40000);
  EXPECT_TRUE(asked || !c.recovers) << "the tool stopped asking";
  if (c.shows == Shows::kFailed) {
    EXPECT_TRUE(Wait([&] { return tool.Text(kEdit1) == kFailed; }, 20000)) << tool.Text(kEdit1);
  } else if (c.shows == Shows::kTime && c.recovers && testsupport::TimeScale() == 1) {
    // Shown by now. (Under an emulator a 1 MB header takes WinINet longer
    // than the window's hung-window limit, so its text cannot be read while
    // the mode lasts; the recovery below is still checked there.)
    EXPECT_TRUE(IsTime(tool.Text(kEdit1))) << tool.Text(kEdit1);
  }
  ASSERT_TRUE(service.Control("fault=none"));
  if (!c.recovers) {
    std::printf("hostile %-12s: the tool no longer reaches the service (until it restarts)\n", c.mode);
    return;  // the tool's destructor ends it
  }
  EXPECT_TRUE(tool.Responsive(20000));
  EXPECT_TRUE(Wait([&] { return IsTime(tool.Text(kEdit1)); }, 20000)) << "no good reply after " << c.mode;
  EXPECT_EQ(tool.Close(), 0u);
  const std::vector<e2e::Figures> stats = tool.Stats();
  ASSERT_GT(stats.size(), before);
  unsigned long peak = 0;
  for (size_t i = before; i < stats.size(); ++i) peak = std::max(peak, stats[i].private_bytes);
  std::printf("hostile %-12s: private bytes peak %.1f MB, handles %lu -> %lu\n", c.mode, peak / 1048576.0,
              handles, stats.back().handles);
  EXPECT_LT(peak, 256ul << 20) << "memory not bounded";
  EXPECT_LE(stats.back().handles, handles + 8) << "handles grew";
}

INSTANTIATE_TEST_SUITE_P(Replies, HostileService, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.mode); });

}  // namespace
