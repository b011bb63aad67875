// Binding of DLL commands: entry 8 from the system list and, in a child
// program whose error box is read, the fatal endings.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "runtime/dll/dll_commands.h"
#include "tests/support/child_process.h"
#include "tests/web/web_test_support.h"
#include "app/dll_table.h"

namespace {

TEST(DllBinding, EntriesBindByOrdinalOrFromTheSystemListAndStayBound) {
  webtest::LoadProgramDllTable();
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  void* want = reinterpret_cast<void*>(GetProcAddress(kernel, MAKEINTRESOURCEA(100)));
  ASSERT_NE(want, nullptr);
  static const char* libs[] = {"kernel32.dll", "C:\\windows\\system32\\kernel32.dll"};
  static const char* funcs[] = {"#100", "#65636"};  // a hash name binds by the ordinal of its low 16 bits
  rt::LoadDllCommandTable(2, libs, funcs);
  EXPECT_EQ(rt::RequireDllCommand(0), want);
  EXPECT_EQ(rt::RequireDllCommand(1), want);
  // The program's own table (which later tests call through): entry 8 names
  // no library and is found in kernel32 from the system list, then cached.
  rt::LoadDllCommandTable(app::kDllCommandCount, app::kDllLibraryNames, app::kDllFunctionNames);
  EXPECT_EQ(rt::InspectDllCommand(8).address, nullptr);
  void* f = rt::RequireDllCommand(web::kMultiByteToWideChar);
  EXPECT_EQ(f, reinterpret_cast<void*>(GetProcAddress(kernel, "MultiByteToWideChar")));
  EXPECT_EQ(rt::InspectDllCommand(8).module, kernel);
}

TEST(DllBindingChild, TwoEntriesOfOneLibraryHoldTwoReferences) {
  EXPECT_EQ(testsupport::RunChild("web_dll_child.exe", "twice", false).exit_code, 0u);
}

// (A stack mismatch after a call: FatalPath in entry_table_win_tests.)
TEST(DllBindingChild, UnbindableEntriesEndTheProgramNamingWhatIsMissing) {
  struct Case { const char *mode, *library, *function; };  // library: null when the entry names none
  const Case cases[] = {{"missing", "kernel32.dll", "NoSuchExport"}, {"missing_any", nullptr, "NoSuchExport"},
                        {"nolib", "no_such_library.dll", "#5"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    testsupport::ChildResult r = testsupport::RunChild("web_dll_child.exe", c.mode, true);
    EXPECT_EQ(r.exit_code, 0xFFFFFFFFu);
    EXPECT_TRUE(r.had_box);
    const size_t function = r.text.find(c.function), library = c.library ? r.text.find(c.library) : 0;
    EXPECT_NE(function, std::string::npos) << r.text;
    EXPECT_LT(library, function) << r.text;  // the library, when named, before the function
  }
}

}  // namespace
