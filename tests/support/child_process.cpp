#include "tests/support/child_process.h"

#include <algorithm>
#include <cstdlib>

namespace testsupport {

int TimeScale() {
  char text[16] = "";
  const DWORD n = GetEnvironmentVariableA("RT_TEST_TIME_SCALE", text, sizeof text);
  return n > 0 && n < sizeof text ? std::clamp(atoi(text), 1, 100) : 1;
}

std::string ExeDir() {
  char path[MAX_PATH] = {};
  const std::string dir(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
  return dir.substr(0, dir.rfind('\\') + 1);
}

HWND FindWindowOfProcess(DWORD pid, bool (*match)(HWND)) {
  for (HWND h = FindWindowExA(nullptr, nullptr, nullptr, nullptr); h; h = FindWindowExA(nullptr, h, nullptr, nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(h, &owner);
    if (owner == pid && match(h)) return h;
  }
  return nullptr;
}

Process Spawn(std::string command_line) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  Process p;
  if (CreateProcessA(nullptr, &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    p.handle.reset(pi.hProcess), p.thread.reset(pi.hThread), p.id = pi.dwProcessId, p.started = true;
  return p;
}

DWORD Process::WaitOrEnd(DWORD ms, UINT code) const {
  if (WaitForSingleObject(handle.get(), ms) != WAIT_OBJECT_0) TerminateProcess(handle.get(), code);
  WaitForSingleObject(handle.get(), 5000);
  DWORD exit_code = 0;
  return GetExitCodeProcess(handle.get(), &exit_code), exit_code;
}

HWND WaitForVisibleWindow(const Process& p, bool (*match)(HWND), int tries, DWORD step_ms) {
  for (int i = 0; i < tries; ++i, Sleep(step_ms))
    if (HWND found = FindWindowOfProcess(p.id, match); found && IsWindowVisible(found)) return found;
  return nullptr;
}

ChildResult RunChild(const std::string& exe, const std::string& args, bool expect_box) {
  ChildResult r;
  Process child = Spawn("\"" + ExeDir() + exe + "\" " + args);
  if (!child) return r.exit_code = GetLastError(), r;
  const auto is_box = [](HWND h) {
    char cls[16] = {};
    return GetClassNameA(h, cls, sizeof cls) && std::string(cls) == "#32770";
  };
  HWND box = nullptr;
  if (expect_box) Wait([&] { return (box = FindWindowOfProcess(child.id, is_box)) != nullptr; }, 30000);
  if (box) {
    char buf[1024] = {};
    Wait([&] { return GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf) != 0; }, 5000);  // found while being filled in
    for (const char* c = buf; *c; ++c) if (*c != '\r') r.text += *c;
    GetWindowTextA(box, buf, sizeof buf);
    r.caption = buf, r.had_box = true;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  } else if (expect_box) {
    TerminateProcess(child.handle.get(), 1);
  }
  r.exit_code = child.WaitOrEnd(30000, 1);
  return r;
}

}  // namespace testsupport
