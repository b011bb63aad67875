// Drives ui_child: it opens its window, ticks, reacts to a click, is closed
// and exits 0 with its end routine run once; asked for a missing startup
// window it ends on the fatal path.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "runtime/core/gbk_text.h"

namespace {

std::string Dir() {
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string d(exe);
  return d.substr(0, d.rfind('\\') + 1);
}

std::vector<std::string> Log() {
  std::ifstream in(Dir() + "ui_child_log.txt");
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}
long Count(const std::string& line) {
  const std::vector<std::string> log = Log();
  return std::count(log.begin(), log.end(), line);
}

bool WaitFor(const std::function<bool()>& done, int tenths = 150) {
  for (int i = 0; i < tenths && !done(); ++i) Sleep(100);
  return done();
}

// The child's visible top-level window of class `cls`.
HWND WindowOf(DWORD pid, const char* cls) {
  HWND found = nullptr;
  WaitFor([&] {
    for (HWND h = nullptr; (h = FindWindowExA(nullptr, h, cls, nullptr)) != nullptr;) {
      DWORD owner = 0;
      GetWindowThreadProcessId(h, &owner);
      if (owner == pid && IsWindowVisible(h)) found = h;
    }
    return found != nullptr;
  }, 300);
  return found;
}

PROCESS_INFORMATION Start(const char* args) {
  DeleteFileA((Dir() + "ui_child_log.txt").c_str());
  std::string cmd = "\"" + Dir() + "ui_child.exe\" " + args;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  EXPECT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  return pi;
}

DWORD Finish(PROCESS_INFORMATION& pi) {
  if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "child did not end";
    TerminateProcess(pi.hProcess, 99);
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

TEST(ChildProgram, OpensTicksReactsClosesAndEndsOnce) {
  PROCESS_INFORMATION pi = Start("");
  HWND w = WindowOf(pi.dwProcessId, "RtWindow");
  ASSERT_NE(w, nullptr);
  HWND button = FindWindowExA(w, nullptr, "Button", GBK_CALIBRATE);
  ASSERT_NE(button, nullptr);
  EXPECT_TRUE(WaitFor([] { return Count("tick") == 3; }));
  SendMessageA(button, BM_CLICK, 0, 0);  // the routine reads what Created wrote
  EXPECT_TRUE(WaitFor([] { return Count("click " GBK_PC_TIME) == 1; }));
  PostMessageA(w, WM_CLOSE, 0, 0);
  EXPECT_EQ(Finish(pi), 0u);
  ASSERT_FALSE(Log().empty());
  EXPECT_EQ(Log().back(), "end");
  for (const char* once : {"created", "loop ended", "end"}) EXPECT_EQ(Count(once), 1) << once;
}

TEST(ChildProgram, AMissingStartupWindowEndsOnTheFatalPath) {
  PROCESS_INFORMATION pi = Start("missing");
  HWND box = WindowOf(pi.dwProcessId, "#32770");
  ASSERT_NE(box, nullptr);
  char buf[512] = {};
  WaitFor([&] { return GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf) != 0; }, 50);
  std::string text(buf);
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  EXPECT_EQ(text, GBK_RUNTIME_ERROR "!\n\n" GBK_ERROR_INFO GBK_MSG_NO_START_WINDOW "\n");
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(Finish(pi), 0xFFFFFFFFu);
  EXPECT_EQ(Count("end"), 0);
}

}  // namespace
