// The tool end to end: its test build runs against the local time service
// under Wine and Xvfb; the test sees it only as a user and Win32 do.
#include <gtest/gtest.h>

#include <cstdio>

#include "runtime/core/gbk_text.h"
#include "tests/app/tool_driver.h"

namespace {

using e2e::kFailed;
using e2e::Tool;
using testsupport::Wait;

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.Control("fault=none&delay=0&offset=0")) << "no time service";
  }
  e2e::TimeService service_;
};

BOOL CALLBACK CountUnit(HWND, LPARAM count) { return ++*reinterpret_cast<int*>(count), TRUE; }

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
  const LONG frame = GetWindowLongA(tool.window(), GWL_STYLE);
  EXPECT_EQ(frame & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME | WS_SYSMENU), WS_MINIMIZEBOX | WS_SYSMENU);
  EXPECT_EQ(tool.Text(tool.window()), "devarude  https://devarude.example/timecal");

  // text null: not compared (the edit boxes change); style: the unit's WS_VISIBLE,
  // WS_TABSTOP and (for an edit box) ES_READONLY; parent 0: the window.
  struct Expected { int id; const char *cls, *text; RECT rect; LONG style; int parent; };
  const LONG kShown = WS_VISIBLE, kTab = WS_VISIBLE | WS_TABSTOP;
  const Expected expected[] = {
      {100, "Rt_Label", GBK_BEIJING_TIME ":", {8, 6, 72, 30}, kShown, 0},
      {110, "Rt_Label", GBK_PC_TIME ":", {8, 38, 72, 62}, kShown, 0},
      {120, "Edit", nullptr, {68, 11, 272, 31}, kTab | ES_READONLY, 0},
      {130, "Edit", nullptr, {68, 39, 272, 59}, kTab | ES_READONLY, 0},
      {140, "Button", GBK_CALIBRATE, {278, 11, 358, 59}, kTab, 0},
      {150, "Rt_Timer", "", {288, 0, 314, 26}, 0, 0},
      {160, "Button", GBK_ABOUT, {2, 65, 360, 108}, kShown, 0},
      {170, "Rt_Label", GBK_ABOUT_TEXT, {5, 13, 318, 37}, kShown, 160},
  };
  int units = 0;
  EnumChildWindows(tool.window(), CountUnit, reinterpret_cast<LPARAM>(&units));
  EXPECT_EQ(units, 8);
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.id);
    // GetDlgItem finds direct children only: the parent is checked too.
    HWND parent = e.parent ? GetDlgItem(tool.window(), e.parent) : tool.window(), unit = GetDlgItem(parent, e.id);
    ASSERT_NE(unit, nullptr);
    char cls[64] = {};
    GetClassNameA(unit, cls, sizeof cls);
    EXPECT_STRCASEEQ(cls, e.cls);
    if (e.text) { EXPECT_EQ(tool.Text(unit), e.text); }
    GetWindowRect(unit, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_TRUE(EqualRect(&r, &e.rect)) << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    const LONG mask = WS_VISIBLE | WS_TABSTOP | (e.style & ES_READONLY);
    EXPECT_EQ(GetWindowLongA(unit, GWL_STYLE) & mask, e.style);
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
  ASSERT_TRUE(Wait([&] { return e2e::ParseDisplayed(tool.ServiceBox(), &shown); }, 5000)) << tool.ServiceBox();
  ASSERT_TRUE(e2e::ParseDisplayed(tool.PcBox(), &pc)) << tool.PcBox();
  EXPECT_NEAR(e2e::SecondsAhead(shown), 3600, 3);
  EXPECT_NEAR(e2e::SecondsAhead(pc), 0, 3);
  // The box may be rewritten between reading it and clicking; the click
  // must ask for one of the times the box showed around it.
  tool.ClickCalibrate();
  e2e::ParseDisplayed(tool.ServiceBox(), &later);
  std::vector<std::string> asked = tool.ClockRequests();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_TRUE(asked[0] == Logged(shown) || asked[0] == Logged(later)) << asked[0];
  const std::string before = tool.PcBox();
  EXPECT_TRUE(Wait([&] { return tool.PcBox() != before; }, 2500)) << "the PC box was not rewritten";
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
    ASSERT_TRUE(Wait([&] { return tool.ServiceBox() != kFailed; }, 5000));
    ASSERT_TRUE(service_.Control(std::string("fault=") + fault));
    EXPECT_TRUE(Wait([&] { return tool.ServiceBox() == kFailed; }, 5000)) << tool.ServiceBox();
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
