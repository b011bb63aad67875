// Drives ui_child, a program made of a template and entry-table routines:
// it opens its window, ticks, reacts to a click, is closed and exits 0 with
// its end routine run once; asked for a missing startup window it ends on
// the fatal path.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Dir() {
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string d(exe);
  return d.substr(0, d.rfind('\\') + 1);
}

std::vector<std::string> LogLines() {
  std::ifstream in(Dir() + "ui_child_log.txt");
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

size_t CountOf(const std::vector<std::string>& lines, const std::string& what) {
  size_t n = 0;
  for (const auto& l : lines) n += l == what;
  return n;
}

struct Find {
  DWORD pid;
  const char* cls;
  HWND found;
};
BOOL CALLBACK FindTop(HWND h, LPARAM lp) {
  auto* f = reinterpret_cast<Find*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  char cls[32] = {};
  GetClassNameA(h, cls, sizeof cls);
  if (pid == f->pid && std::string(cls) == f->cls && IsWindowVisible(h)) {
    f->found = h;
    return FALSE;
  }
  return TRUE;
}
HWND WaitForWindow(DWORD pid, const char* cls) {
  for (int i = 0; i < 300; ++i) {
    Find f{pid, cls, nullptr};
    EnumWindows(FindTop, reinterpret_cast<LPARAM>(&f));
    if (f.found) return f.found;
    Sleep(100);
  }
  return nullptr;
}

struct Children {
  std::vector<std::pair<std::string, std::string>> all;  // class, text
  HWND button = nullptr;
};
BOOL CALLBACK Collect(HWND h, LPARAM lp) {
  auto* c = reinterpret_cast<Children*>(lp);
  char cls[32] = {}, text[256] = {};
  GetClassNameA(h, cls, sizeof cls);
  GetWindowTextA(h, text, sizeof text);
  c->all.emplace_back(cls, text);
  if (std::string(text) == "校准") c->button = h;
  return TRUE;
}

bool WaitFor(const std::function<bool()>& done, int tenths = 150) {
  for (int i = 0; i < tenths; ++i) {
    if (done()) return true;
    Sleep(100);
  }
  return done();
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
  HWND w = WaitForWindow(pi.dwProcessId, "RtWindow");
  ASSERT_NE(w, nullptr);
  char caption[128] = {};
  GetWindowTextA(w, caption, sizeof caption);
  EXPECT_EQ(std::string(caption), "devarude  http://www.example.com");
  RECT r;
  GetWindowRect(w, &r);
  EXPECT_EQ(r.right - r.left, 372);
  EXPECT_EQ(r.bottom - r.top, 140);
  EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - 372) / 2);
  Children kids;
  EnumChildWindows(w, Collect, reinterpret_cast<LPARAM>(&kids));
  const std::pair<std::string, std::string> expected[] = {
      {"Rt_Label", "北京时间:"}, {"Rt_Label", "电脑时间:"}, {"Button", "说明"},
      {"Rt_Label", "本程序是从苏宁网站上面获取的时间,时间误差5秒内都属正常"}};
  for (const auto& e : expected) {
    SCOPED_TRACE(e.second);
    bool found = false;
    for (const auto& k : kids.all) found |= _stricmp(k.first.c_str(), e.first.c_str()) == 0 && k.second == e.second;
    EXPECT_TRUE(found);
  }
  ASSERT_NE(kids.button, nullptr);
  EXPECT_TRUE(WaitFor([] { return CountOf(LogLines(), "tick") == 3; }));
  SendMessageA(kids.button, BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitFor([] { return CountOf(LogLines(), "click 电脑时间") == 1; }));
  PostMessageA(w, WM_CLOSE, 0, 0);
  EXPECT_EQ(Finish(pi), 0u);
  std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines.front(), "created");
  EXPECT_EQ(CountOf(lines, "created"), 1u);
  EXPECT_EQ(CountOf(lines, "loop ended"), 1u);
  EXPECT_EQ(CountOf(lines, "end"), 1u);
  EXPECT_EQ(lines.back(), "end");
}

TEST(ChildProgram, AMissingStartupWindowEndsOnTheFatalPath) {
  PROCESS_INFORMATION pi = Start("missing");
  HWND box = WaitForWindow(pi.dwProcessId, "#32770");
  ASSERT_NE(box, nullptr);
  char text[512] = {};
  for (int i = 0; i < 100 && !GetDlgItemTextA(box, 0xFFFF, text, sizeof text); ++i) Sleep(50);
  std::string t;
  for (char ch : std::string(text))
    if (ch != '\r') t += ch;
  EXPECT_EQ(t, "运行时出错!\n\n错误信息：载入启动窗口失败\n");
  char caption[32] = {};
  GetWindowTextA(box, caption, sizeof caption);
  EXPECT_STREQ(caption, "错误");
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(Finish(pi), 0xFFFFFFFFu);
  EXPECT_EQ(CountOf(LogLines(), "end"), 0u);
}

}  // namespace
