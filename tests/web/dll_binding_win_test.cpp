// Binding of DLL commands: the system library list, ordinals, caching, two
// entries of one library, and the fatal endings (in a child program whose
// error box is read and dismissed).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "runtime/core/program_calls.h"
#include "runtime/dll/dll_commands.h"
#include "tests/web/web_test_support.h"
#include "web/dll_table.h"

namespace {

class DllBinding : public ::testing::Test {
 protected:
  void SetUp() override { webtest::SetUpProgram(); }
  void TearDown() override {
    rt::LoadDllCommandTable(web::kDllCommandCount, web::kDllLibraryNames, web::kDllFunctionNames);
  }
};

TEST_F(DllBinding, EmptyLibraryNameTriesTheSystemListInOrder) {
  rt::LoadDllCommandTable(web::kDllCommandCount, web::kDllLibraryNames, web::kDllFunctionNames);
  EXPECT_EQ(rt::InspectDllCommand(8).address, nullptr);
  void* f = rt::ResolveDllCommand(web::kMultiByteToWideChar);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  EXPECT_EQ(f, reinterpret_cast<void*>(GetProcAddress(kernel, "MultiByteToWideChar")));
  EXPECT_EQ(rt::InspectDllCommand(8).module, kernel);
  EXPECT_EQ(rt::ResolveDllCommand(web::kMultiByteToWideChar), f) << "cached";

  // A function of the third library: the first two are tried and let go.
  static const char* libs[] = {"", ""};
  static const char* funcs[] = {"GetDC", "GetSystemMetrics"};
  rt::LoadDllCommandTable(2, libs, funcs);
  HMODULE user = LoadLibraryA("user32.dll");
  EXPECT_EQ(rt::ResolveDllCommand(0), reinterpret_cast<void*>(GetProcAddress(user, "GetDC")));
  EXPECT_EQ(rt::InspectDllCommand(0).module, user);
  EXPECT_EQ(prog::CallDll(1, {SM_CXSCREEN}), static_cast<uint32_t>(GetSystemMetrics(SM_CXSCREEN)));
  FreeLibrary(user);
}

// The ordinal under which kernel32 exports `name`, from its export table.
WORD OrdinalOf(HMODULE module, const char* name) {
  auto* base = reinterpret_cast<const uint8_t*>(module);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i)
    if (!std::strcmp(reinterpret_cast<const char*>(base + names[i]), name))
      return static_cast<WORD>(exports->Base + ordinals[i]);
  return 0;
}

TEST_F(DllBinding, HashNameBindsByOrdinal) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  WORD ordinal = OrdinalOf(kernel, "GetTickCount");
  ASSERT_NE(ordinal, 0);
  static std::string by_ordinal, wrapped;
  by_ordinal = "#" + std::to_string(ordinal);
  wrapped = "#" + std::to_string(ordinal + 65536);  // only the low 16 bits count
  static const char* libs[] = {"kernel32.dll", "C:\\windows\\system32\\kernel32.dll"};
  static const char* funcs[2];
  funcs[0] = by_ordinal.c_str();
  funcs[1] = wrapped.c_str();
  rt::LoadDllCommandTable(2, libs, funcs);
  void* want = reinterpret_cast<void*>(GetProcAddress(kernel, "GetTickCount"));
  EXPECT_EQ(rt::ResolveDllCommand(0), want);
  EXPECT_EQ(rt::ResolveDllCommand(1), want);
  EXPECT_NE(prog::CallDll(0, {}), 0u);
}

TEST_F(DllBinding, ProgramTableCallsKeepTheStackBalanced) {
  // Every entry this program declares, called with its declared words.
  wchar_t wide[8] = {};
  EXPECT_EQ(prog::CallDll(web::kMultiByteToWideChar,
                          {65001, 0, reinterpret_cast<uint32_t>("ab"), 0xFFFFFFFFu,
                           reinterpret_cast<uint32_t>(wide), 8}),
            3u);
  char narrow[8] = {};
  EXPECT_EQ(prog::CallDll(web::kWideCharToMultiByte,
                          {936, 0, reinterpret_cast<uint32_t>(wide), 0xFFFFFFFFu,
                           reinterpret_cast<uint32_t>(narrow), 8, 0, 0}),
            3u);
  EXPECT_STREQ(narrow, "ab");
  EXPECT_EQ(prog::CallDll(web::kInternetCloseHandle, {0}), 0u);
}

// ---- child program ----
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
};

ChildOutcome RunChild(const char* mode, bool expect_box) {
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string dir(exe);
  dir.resize(dir.rfind('\\') + 1);
  std::string cmd = "\"" + dir + "web_dll_child.exe\" " + mode;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ChildOutcome out;
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    ADD_FAILURE() << "cannot start " << cmd;
    return out;
  }
  if (expect_box) {
    HWND box = nullptr;
    for (int i = 0; i < 300 && !box; ++i) {
      FindBox find{pi.dwProcessId, nullptr};
      EnumWindows(FindBoxOfProcess, reinterpret_cast<LPARAM>(&find));
      box = find.hwnd;
      if (!box) Sleep(100);
    }
    if (box) {
      char buf[1024] = {};
      for (int i = 0; i < 100 && !GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf); ++i) Sleep(50);
      out.text = buf;
      GetWindowTextA(box, buf, sizeof buf);
      out.caption = buf;
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    } else {
      ADD_FAILURE() << "no error box for " << mode;
      TerminateProcess(pi.hProcess, 1);
    }
  }
  WaitForSingleObject(pi.hProcess, 30000);
  GetExitCodeProcess(pi.hProcess, &out.exit_code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return out;
}

std::string WithoutCr(const std::string& s) {
  std::string r;
  for (char c : s)
    if (c != '\r') r += c;
  return r;
}

TEST(DllBindingChild, TwoEntriesOfOneLibraryHoldTwoReferences) {
  EXPECT_EQ(RunChild("twice", false).exit_code, 0u);
}

TEST(DllBindingChild, UnbindableEntriesAndStackMismatchEndTheProgram) {
  struct Case {
    const char* mode;
    const char* text;
  };
  const Case cases[] = {
      {"missing", "运行时出错!\r\n\r\n错误信息：无法找到指定DLL库文件“kernel32.dll”中的输出命令“NoSuchExport”\r\n"},
      {"missing_any", "运行时出错!\r\n\r\n错误信息：无法找到指定DLL库文件中的输出命令“NoSuchExport”\r\n"},
      {"nolib", "运行时出错!\r\n\r\n错误信息：无法找到指定DLL库文件“no_such_library.dll”中的输出命令“#5”\r\n"},
      {"stack", "运行时出错!\r\n\r\n错误代码：6\r\n\r\n错误信息：调用DLL命令后发现堆栈错误\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ChildOutcome out = RunChild(c.mode, true);
    EXPECT_EQ(out.caption, "错误");
    EXPECT_EQ(WithoutCr(out.text), WithoutCr(c.text));
    EXPECT_EQ(out.exit_code, 0xFFFFFFFFu);
  }
}

}  // namespace
