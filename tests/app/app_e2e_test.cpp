// The tool end to end: its test build runs against the local time service
// under Wine and Xvfb; the test sees it only as a user and Win32 do.
#include <gtest/gtest.h>

#include <cstdio>

#include "runtime/core/gbk_text.h"
#include "tests/app/tool_driver.h"

namespace {

using e2e::Tool;
using e2e::Unit;

const char kFailed[] = "100" GBK_YEAR "1" GBK_MONTH "1" GBK_DAY;

SYSTEMTIME Now() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return now;
}

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.Control("fault=none&delay=0&offset=0")) << "no time service";
  }
  e2e::TimeService service_;
};

TEST_F(ToolTest, MainWindowHasTheDesignedLayout) {
  Tool tool(service_.Url());
  ASSERT_NE(tool.window(), nullptr);
  RECT r;
  GetWindowRect(tool.window(), &r);
  EXPECT_EQ(r.right - r.left, 372);
  EXPECT_EQ(r.bottom - r.top, 140);
  // Centred on the screen, whatever the stored position says.
  EXPECT_NEAR(r.left, (GetSystemMetrics(SM_CXSCREEN) - 372) / 2, 1);
  EXPECT_NEAR(r.top, (GetSystemMetrics(SM_CYSCREEN) - 140) / 2, 1);
  LONG style = GetWindowLongA(tool.window(), GWL_STYLE);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_TRUE(style & WS_SYSMENU);
  char caption[128] = {};
  GetWindowTextA(tool.window(), caption, sizeof caption);
  EXPECT_STREQ(caption, "devarude  https://devarude.example/timecal");

  struct Expected {
    int id;
    const char* cls;
    const char* text;  // null: not compared (the edit boxes change)
    RECT rect;
    bool visible, tab_stop, in_group;
  };
  const Expected expected[] = {
      {100, "Rt_Label", GBK_BEIJING_TIME ":", {8, 6, 72, 30}, true, false, false},
      {110, "Rt_Label", GBK_PC_TIME ":", {8, 38, 72, 62}, true, false, false},
      {120, "Edit", nullptr, {68, 11, 272, 31}, true, true, false},
      {130, "Edit", nullptr, {68, 39, 272, 59}, true, true, false},
      {140, "Button", GBK_CALIBRATE, {278, 11, 358, 59}, true, true, false},
      {150, "Rt_Timer", "", {288, 0, 314, 26}, false, false, false},
      {160, "Button", GBK_ABOUT, {2, 65, 360, 108}, true, false, false},
      {170, "Rt_Label", GBK_ABOUT_TEXT, {5, 13, 318, 37}, true, false, true},
  };
  std::vector<Unit> units = tool.Units();
  ASSERT_EQ(units.size(), 8u);
  HWND group = tool.UnitById(160).hwnd;
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.id);
    Unit u = tool.UnitById(e.id);
    ASSERT_NE(u.hwnd, nullptr);
    EXPECT_EQ(_stricmp(u.cls.c_str(), e.cls), 0) << u.cls;
    if (e.text) {
      EXPECT_EQ(u.text, e.text);
    }
    EXPECT_TRUE(EqualRect(&u.rect, &e.rect))
        << u.rect.left << "," << u.rect.top << "," << u.rect.right << "," << u.rect.bottom;
    EXPECT_EQ((u.style & WS_VISIBLE) != 0, e.visible);
    EXPECT_EQ((u.style & WS_TABSTOP) != 0, e.tab_stop);
    EXPECT_EQ(u.parent, e.in_group ? group : tool.window());
    if (u.cls == "Edit") {
      EXPECT_TRUE(u.style & ES_READONLY);
    }
  }
  EXPECT_EQ(tool.Close(), 0u);
}

// The form the clock requests are logged in.
std::string Logged(const SYSTEMTIME& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond);
  return text;
}

TEST_F(ToolTest, ShowsBothTimesEverySecondAndCalibratesToTheShownOne) {
  ASSERT_TRUE(service_.Control("offset=3600"));  // an hour ahead tells the boxes apart
  Tool tool(service_.Url());
  ASSERT_NE(tool.window(), nullptr);
  SYSTEMTIME shown{}, pc{}, later{};
  ASSERT_TRUE(tool.WaitServiceBox([&](const std::string& t) { return e2e::ParseDisplayed(t, &shown); },
                                  5000))
      << tool.ServiceBox();
  ASSERT_TRUE(e2e::ParseDisplayed(tool.PcBox(), &pc)) << tool.PcBox();
  EXPECT_NEAR(e2e::SecondsBetween(Now(), shown), 3600, 3);
  EXPECT_NEAR(e2e::SecondsBetween(Now(), pc), 0, 3);
  // The box may be rewritten between reading it and clicking; the click
  // must ask for one of the times the box showed around it.
  tool.ClickCalibrate();
  e2e::ParseDisplayed(tool.ServiceBox(), &later);
  std::vector<std::string> asked = tool.ClockRequests();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_TRUE(asked[0] == Logged(shown) || asked[0] == Logged(later)) << asked[0];
  std::string before = tool.PcBox();
  bool changed = false;
  for (int i = 0; i < 50 && !changed; ++i) {
    Sleep(50);
    changed = tool.PcBox() != before;
  }
  EXPECT_TRUE(changed) << "the PC box was not rewritten";
  EXPECT_EQ(tool.Close(), 0u);
  EXPECT_EQ(tool.EndRoutineRuns().size(), 1u);
}

TEST_F(ToolTest, UnreadableRepliesShowYear100AndRunNoScript) {
  const char* pwned = "C:\\pwned.txt";
  DeleteFileA(pwned);
  Tool tool(service_.Url(), 200);
  ASSERT_NE(tool.window(), nullptr);
  for (const char* fault : {"empty", "notjson", "nomember", "number", "null", "hostile", "close"}) {
    SCOPED_TRACE(fault);
    ASSERT_TRUE(service_.Control("fault=none"));
    ASSERT_TRUE(tool.WaitServiceBox([](const std::string& t) { return t != kFailed; }, 5000));
    ASSERT_TRUE(service_.Control(std::string("fault=") + fault));
    EXPECT_TRUE(tool.WaitServiceBox([](const std::string& t) { return t == kFailed; }, 5000))
        << tool.ServiceBox();
  }
  EXPECT_EQ(GetFileAttributesA(pwned), INVALID_FILE_ATTRIBUTES) << "the hostile reply ran";
  EXPECT_EQ(tool.Close(), 0u);
}

TEST_F(ToolTest, WithTheServiceDownShowsYear100AndAsksForIt) {
  Tool tool("http://127.0.0.1:1/getSysTime.do");
  ASSERT_NE(tool.window(), nullptr);
  EXPECT_EQ(tool.ServiceBox(), kFailed);
  tool.ClickCalibrate();
  ASSERT_EQ(tool.ClockRequests().size(), 1u);
  EXPECT_EQ(tool.ClockRequests()[0], "0100-01-01 00:00:00");
  EXPECT_TRUE(tool.Responsive(2000));
  EXPECT_EQ(tool.Close(), 0u);
}

}  // namespace
