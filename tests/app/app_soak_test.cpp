// A bounded soak: 1,000 refreshes at a 50 ms period while the service cycles
// through every fault, with one 3 s reply and one 32 MB reply per hundred.
// The tool must stay responsive, never crash, and keep its handles flat.
// Memory figures are printed, not asserted (Wine's script engine keeps a
// little per evaluation).
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/app/tool_driver.h"

namespace {

TEST(Soak, ThousandRefreshesThroughEveryFault) {
  e2e::TimeService service;
  ASSERT_TRUE(service.Control("fault=soak&delay=0&offset=0")) << "no time service";
  const int start = service.Requests(), kRefreshes = 1000;
  e2e::Program tool(e2e::kTool, service.Url(), {"TIMECAL_TIMER_MS=50"});
  ASSERT_NE(tool.window(), nullptr);
  const DWORD began = GetTickCount();
  int unresponsive = 0;
  while (service.Requests() - start < kRefreshes && GetTickCount() - began < 480000) {
    // Between refreshes the window answers; a 3 s reply may hold it once.
    if (!tool.Responsive(10000)) ++unresponsive;
    Sleep(200);
  }
  const int done = service.Requests() - start;
  EXPECT_GE(done, kRefreshes) << "only " << done << " refreshes in the time allowed";
  EXPECT_EQ(unresponsive, 0);
  ASSERT_TRUE(service.Control("fault=none"));
  const std::vector<e2e::Figures> stats = tool.Stats();
  EXPECT_EQ(tool.Close(), 0u);
  ASSERT_GE(stats.size(), 2u);
  const e2e::Figures &first = stats.front(), &last = stats.back();
  std::printf("soak: %d refreshes in %.1f s; private bytes %.1f -> %.1f MB, working set %.1f -> %.1f MB\n", done,
              (GetTickCount() - began) / 1000.0, first.private_bytes / 1048576.0, last.private_bytes / 1048576.0,
              first.working_set / 1048576.0, last.working_set / 1048576.0);
  std::printf("soak: handles %lu -> %lu, USER objects %lu -> %lu\n", first.handles, last.handles,
              first.user_objects, last.user_objects);
  EXPECT_LE(last.handles, first.handles + 8) << "handles grew";
  EXPECT_LE(last.user_objects, first.user_objects + 8) << "USER objects grew";
}

}  // namespace
