// The tool's test build end to end under Wine and Xvfb against the local time service, seen as a user and Win32 do.
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

BOOL CALLBACK CountUnit(HWND, LPARAM count) { return ++*reinterpret_cast<int*>(count), TRUE; }

TEST(Tool, MainWindowHasTheDesignedLayout) {
  e2e::TimeService service;
  ASSERT_TRUE(service.Control("fault=none&delay=0&offset=0")) << "no time service";
  Program tool(e2e::kTool, service.Url());
  ASSERT_TRUE(tool.window() && tool.Responsive(10000));  // a busy window's texts read empty
  RECT r;
  GetWindowRect(tool.window(), &r);
  EXPECT_EQ(r.right - r.left, 372);
  EXPECT_EQ(r.bottom - r.top, 140);
  EXPECT_NEAR(r.left, (GetSystemMetrics(SM_CXSCREEN) - 372) / 2, 1);  // centred, whatever the stored position says
  EXPECT_NEAR(r.top, (GetSystemMetrics(SM_CYSCREEN) - 140) / 2, 1);
  const LONG frame = GetWindowLongA(tool.window(), GWL_STYLE);
  EXPECT_EQ(frame & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME | WS_SYSMENU), WS_MINIMIZEBOX | WS_SYSMENU);
  EXPECT_EQ(tool.Text(tool.window()), "devarude  https://devarude.example/timecal");

  // A unit of each kind (ui_win_test checks templates become units); style: WS_VISIBLE, WS_TABSTOP, ES_READONLY.
  struct Expected { int id; const char *cls, *text; RECT rect; LONG style; int parent; };
  const Expected expected[] = {
      {kEdit1, "Edit", nullptr, {68, 11, 272, 31}, WS_VISIBLE | WS_TABSTOP | ES_READONLY, 0},
      {kButton1, "Button", GBK_CALIBRATE, {278, 11, 358, 59}, WS_VISIBLE | WS_TABSTOP, 0},
      {kTimer1, "Rt_Timer", "", {288, 0, 314, 26}, 0, 0},
      {kLabel3, "Rt_Label", GBK_ABOUT_TEXT, {5, 13, 318, 37}, WS_VISIBLE, kGroup1},
  };
  int units = 0;
  EnumChildWindows(tool.window(), CountUnit, reinterpret_cast<LPARAM>(&units));
  EXPECT_EQ(units, 8);
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.id);
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

std::string Logged(const SYSTEMTIME& t) {  // as the clock log has it
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond);
  return text;
}

// The click asks the clock for the time the service box shows: the service's, an hour ahead; if down, 100年1月1日.
TEST(Tool, ShowsBothTimesEverySecondAndCalibratesToTheShownOne) {
  e2e::TimeService service;  // an hour ahead tells the boxes apart
  ASSERT_TRUE(service.Control("fault=none&delay=0&offset=3600")) << "no time service";
  for (const std::string& url : {service.Url(), std::string("http://127.0.0.1:1/getSysTime.do")}) {
    SCOPED_TRACE(url);
    const bool down = url != service.Url();
    Program tool(e2e::kTool, url);
    ASSERT_NE(tool.window(), nullptr);
    SYSTEMTIME shown{}, pc{}, later{};
    ASSERT_TRUE(Wait([&] { return e2e::ParseDisplayed(tool.Text(kEdit1), &shown); }, 5000)) << tool.Text(kEdit1);
    ASSERT_TRUE(e2e::ParseDisplayed(tool.Text(kEdit2), &pc)) << tool.Text(kEdit2);
    if (down) EXPECT_EQ(tool.Text(kEdit1), kFailed);
    else EXPECT_NEAR(e2e::SecondsAhead(shown), 3600, 3);
    EXPECT_NEAR(e2e::SecondsAhead(pc), 0, 3);
    // The box may change between reading it and clicking: the click asks for one of the times shown around it.
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

}  // namespace
