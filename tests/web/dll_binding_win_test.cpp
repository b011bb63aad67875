// Binding of DLL commands: entry 8 from the system list, caching and, in a
// child program whose error box is read, the fatal endings.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "runtime/dll/dll_commands.h"
#include "tests/support/child_process.h"
#include "tests/web/web_test_support.h"
#include "program/dll_table.h"

namespace {

TEST(DllBinding, EmptyLibraryNameFindsEntry8InKernel32AndCachesIt) {
  webtest::LoadProgramDllTable();
  rt::LoadDllCommandTable(prog::kDllCommandCount, prog::kDllLibraryNames, prog::kDllFunctionNames);
  EXPECT_EQ(rt::InspectDllCommand(8).address, nullptr);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  void* f = rt::RequireDllCommand(prog::kMultiByteToWideChar);
  EXPECT_EQ(f, reinterpret_cast<void*>(GetProcAddress(kernel, "MultiByteToWideChar")));
  EXPECT_EQ(rt::InspectDllCommand(8).module, kernel);
  EXPECT_EQ(rt::RequireDllCommand(prog::kMultiByteToWideChar), f) << "cached";
}

TEST(DllBinding, HashNameBindsByOrdinalOfItsLow16Bits) {
  webtest::LoadProgramDllTable();
  void* want = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), MAKEINTRESOURCEA(100)));
  ASSERT_NE(want, nullptr);
  static const char* libs[] = {"kernel32.dll", "C:\\windows\\system32\\kernel32.dll"};
  static const char* funcs[] = {"#100", "#65636"};
  rt::LoadDllCommandTable(2, libs, funcs);
  EXPECT_EQ(rt::RequireDllCommand(0), want);
  EXPECT_EQ(rt::RequireDllCommand(1), want);
  // Later tests call through the program's own table.
  rt::LoadDllCommandTable(prog::kDllCommandCount, prog::kDllLibraryNames, prog::kDllFunctionNames);
}

TEST(DllBindingChild, TwoEntriesOfOneLibraryHoldTwoReferences) {
  EXPECT_EQ(testsupport::RunChild("web_dll_child.exe", "twice", false).exit_code, 0u);
}

TEST(DllBindingChild, UnbindableEntriesAndStackMismatchEndTheProgram) {
  const std::pair<const char*, const char*> cases[] = {
      {"missing", "错误信息：无法找到指定DLL库文件“kernel32.dll”中的输出命令“NoSuchExport”\n"},
      {"missing_any", "错误信息：无法找到指定DLL库文件中的输出命令“NoSuchExport”\n"},
      {"nolib", "错误信息：无法找到指定DLL库文件“no_such_library.dll”中的输出命令“#5”\n"},
      {"stack", "错误代码：6\n\n错误信息：调用DLL命令后发现堆栈错误\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    testsupport::ChildResult r = testsupport::RunChild("web_dll_child.exe", c.first, true);
    EXPECT_EQ(r.exit_code, 0xFFFFFFFFu);
    EXPECT_EQ(r.caption + "|" + r.text, std::string("错误|运行时出错!\n\n") + c.second);
  }
}

}  // namespace
