// The entry table's calling sequences on the real target, and the fatal path
// as a user sees it: a child program's error box, read and dismissed.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "runtime/core/image.h"
#include "runtime/core/memory.h"
#include "runtime/core/program_calls.h"

namespace {

TEST(Platform, AnsiCodePageIs936) { EXPECT_EQ(GetACP(), 936u); }

void SumCommand(rt::ArgRecord* result, int count, rt::ArgRecord* args) {
  int32_t sum = 0;
  for (int i = 0; i < count; ++i) sum += rt::AsInt(args[i]) * (i + 1);
  *result = rt::IntArg(sum);
  result->value |= static_cast<uint64_t>(count) << 32;  // high half proves EDX travels
}

TEST(EntryTable, BuiltinCallsSeeTheirArgumentsInSourceOrder) {
  for (int n = 0; n < 1000; ++n) {
    rt::ArgRecord args[3] = {rt::IntArg(n), rt::IntArg(2), rt::IntArg(-1)};
    rt::ArgRecord r = prog::Call(SumCommand, args, 3);
    ASSERT_EQ(r.type, rt::kInt);
    ASSERT_EQ(static_cast<int32_t>(r.value), n + 4 - 3);
    ASSERT_EQ(static_cast<uint32_t>(r.value >> 32), 3u);
  }
  rt::ArgRecord none = prog::Call(SumCommand, nullptr, 0);
  EXPECT_EQ(static_cast<uint32_t>(none.value >> 32), 0u);
}

uint32_t __stdcall ThreeWords(uint32_t a, uint32_t b, uint32_t c) { return a * 100 + b * 10 + c; }
void* ResolveThree(uint32_t index) {
  return index == 5 ? reinterpret_cast<void*>(&ThreeWords) : nullptr;
}

TEST(EntryTable, DllCallsPassWordsInPrototypeOrder) {
  rt::SetDllResolver(ResolveThree);
  EXPECT_EQ(prog::CallDll(5, {1, 2, 3}), 123u);
  rt::SetDllResolver(nullptr);
}

TEST(EntryTable, ServicesKeepOneEntryPerEndRoutine) {
  static void (*const routine)() = [] {};
  prog::Service(rt::kServiceRegisterEndRoutine, reinterpret_cast<intptr_t>(routine));
  prog::Service(rt::kServiceRegisterEndRoutine, reinterpret_cast<intptr_t>(routine));
  EXPECT_EQ(rt::TakeEndRoutines().size(), 1u);
}

// Runs fatal_child with `mode`, reads the error box's caption and text,
// dismisses it, and returns the child's exit code.
struct FindBox {
  DWORD pid;
  HWND hwnd;
};
BOOL CALLBACK FindBoxOfProcess(HWND h, LPARAM lp) {
  auto* f = reinterpret_cast<FindBox*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  char cls[16] = {};
  GetClassNameA(h, cls, sizeof cls);
  if (pid == f->pid && std::string(cls) == "#32770") {
    f->hwnd = h;
    return FALSE;
  }
  return TRUE;
}

struct ChildOutcome {
  std::string caption, text;
  DWORD exit_code = 0;
  bool end_routine_ran = false;
};

ChildOutcome RunFatalChild(const char* mode) {
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string dir(exe);
  dir.resize(dir.rfind('\\') + 1);
  std::string marker = dir + "end_routine_ran.txt";
  DeleteFileA(marker.c_str());
  std::string cmd = "\"" + dir + "fatal_child.exe\" " + mode + " \"" + marker + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ChildOutcome out;
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    ADD_FAILURE() << "cannot start " << cmd;
    return out;
  }
  // Poll for the box for at most 30 s.
  HWND box = nullptr;
  for (int i = 0; i < 300 && !box; ++i) {
    FindBox find{pi.dwProcessId, nullptr};
    EnumWindows(FindBoxOfProcess, reinterpret_cast<LPARAM>(&find));
    box = find.hwnd;
    if (!box) Sleep(100);
  }
  if (box) {
    char buf[1024] = {};
    // The box may be found while it is still being filled in.
    for (int i = 0; i < 100 && !GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf); ++i) Sleep(50);
    out.text = buf;
    GetWindowTextA(box, buf, sizeof buf);
    out.caption = buf;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  } else {
    ADD_FAILURE() << "no error box for " << mode;
    TerminateProcess(pi.hProcess, 1);
  }
  WaitForSingleObject(pi.hProcess, 30000);
  GetExitCodeProcess(pi.hProcess, &out.exit_code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  out.end_routine_ran = GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES;
  return out;
}

TEST(FatalPath, ChildShowsTheBoxAndExitsWithoutEndRoutines) {
  struct Case {
    const char* mode;
    const char* text;
  };
  const Case cases[] = {
      {"raise6", "运行时出错!\r\n\r\n错误代码：6\r\n\r\n错误信息：调用DLL命令后发现堆栈错误\r\n"},
      {"alloc100", "运行时出错!\r\n\r\n错误信息：分配 100 字节内存失败!\r\n"},
      {"stack", "运行时出错!\r\n\r\n错误代码：6\r\n\r\n错误信息：调用DLL命令后发现堆栈错误\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ChildOutcome out = RunFatalChild(c.mode);
    EXPECT_EQ(out.caption, "错误");
    // The box may fold line breaks; compare without CR.
    auto strip = [](std::string s) {
      std::string r;
      for (char ch : s)
        if (ch != '\r') r += ch;
      return r;
    };
    EXPECT_EQ(strip(out.text), strip(c.text));
    EXPECT_EQ(out.exit_code, 0xFFFFFFFFu);
    EXPECT_FALSE(out.end_routine_ran);
  }
}

}  // namespace
