// The tool end to end: its test build runs against the local time service
// under Wine and Xvfb; the test sees it only as a user and Win32 do.
#include <gtest/gtest.h>

#include <cstdio>

#include "runtime/core/gbk_text.h"
#include "tests/app/tool_driver.h"
#include "window_templates.h"  // the tool's (app/main_window.json)

namespace {

using e2e::kFailed;
using e2e::Program;
using testsupport::Wait;
using namespace rtwin::MainWindow::control;

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(service_.Control("fault=none&delay=0&offset=0")) << "no time service"; }
  e2e::TimeService service_;
};

BOOL CALLBACK CountUnit(HWND, LPARAM count) { return ++*reinterpret_cast<int*>(count), TRUE; }

TEST_F(ToolTest, MainWindowHasTheDesignedLayout) {
  Program tool(e2e::kTool, service_.Url());
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
      {kLabel1, "Rt_Label", GBK_BEIJING_TIME ":", {8, 6, 72, 30}, kShown, 0},
      {kLabel2, "Rt_Label", GBK_PC_TIME ":", {8, 38, 72, 62}, kShown, 0},
      {kEdit1, "Edit", nullptr, {68, 11, 272, 31}, kTab | ES_READONLY, 0},
      {kEdit2, "Edit", nullptr, {68, 39, 272, 59}, kTab | ES_READONLY, 0},
      {kButton1, "Button", GBK_CALIBRATE, {278, 11, 358, 59}, kTab, 0},
      {kTimer1, "Rt_Timer", "", {288, 0, 314, 26}, 0, 0},
      {kGroup1, "Button", GBK_ABOUT, {2, 65, 360, 108}, kShown, 0},
      {kLabel3, "Rt_Label", GBK_ABOUT_TEXT, {5, 13, 318, 37}, kShown, kGroup1},
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

// The click asks the clock for the time the service box shows: the
// service's, an hour ahead; with the service down, 100年1月1日.
TEST_F(ToolTest, ShowsBothTimesEverySecondAndCalibratesToTheShownOne) {
  ASSERT_TRUE(service_.Control("offset=3600"));  // an hour ahead tells the boxes apart
  for (const std::string& url : {service_.Url(), std::string("http://127.0.0.1:1/getSysTime.do")}) {
    SCOPED_TRACE(url);
    const bool down = url != service_.Url();
    Program tool(e2e::kTool, url);
    ASSERT_NE(tool.window(), nullptr);
    SYSTEMTIME shown{}, pc{}, later{};
    ASSERT_TRUE(Wait([&] { return e2e::ParseDisplayed(tool.Text(kEdit1), &shown); }, 5000)) << tool.Text(kEdit1);
    ASSERT_TRUE(e2e::ParseDisplayed(tool.Text(kEdit2), &pc)) << tool.Text(kEdit2);
    if (down) EXPECT_EQ(tool.Text(kEdit1), kFailed);
    else EXPECT_NEAR(e2e::SecondsAhead(shown), 3600, 3);
    EXPECT_NEAR(e2e::SecondsAhead(pc), 0, 3);
    // The box may be rewritten between reading it and clicking; the click
    // must ask for one of the times the box showed around it.
    tool.Click(kButton1);
    e2e::ParseDisplayed(tool.Text(kEdit1), &later);
    std::vector<std::string> asked = tool.Lines(e2e::kClockLog);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0] == Logged(shown) || asked[0] == Logged(later)) << asked[0];
    EXPECT_TRUE(tool.Responsive(2000));
    const std::string before = tool.Text(kEdit2);
    EXPECT_TRUE(Wait([&] { return tool.Text(kEdit2) != before; }, 2500)) << "the PC box was not rewritten";
    EXPECT_EQ(tool.Close(), 0u);
    EXPECT_EQ(tool.Lines(e2e::kEndLog).size(), 1u);
  }
}

TEST_F(ToolTest, UnreadableRepliesShowYear100AndRunNoScript) {
  const char* pwned = "C:\\pwned.txt";
  DeleteFileA(pwned);
  Program tool(e2e::kTool, service_.Url(), {"TIMECAL_TIMER_MS=200"});
  ASSERT_NE(tool.window(), nullptr);
  for (const char* fault : {"empty", "notjson", "nomember", "number", "null", "hostile", "close"}) {
    SCOPED_TRACE(fault);
    ASSERT_TRUE(service_.Control("fault=none"));
    ASSERT_TRUE(Wait([&] { return tool.Text(kEdit1) != kFailed; }, 5000));
    ASSERT_TRUE(service_.Control(std::string("fault=") + fault));
    EXPECT_TRUE(Wait([&] { return tool.Text(kEdit1) == kFailed; }, 5000)) << tool.Text(kEdit1);
  }
  EXPECT_EQ(GetFileAttributesA(pwned), INVALID_FILE_ATTRIBUTES) << "the hostile reply ran";
  EXPECT_EQ(tool.Close(), 0u);
}

}  // namespace
