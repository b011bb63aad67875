// The fatal path through the entry table as a user sees it: this program started again as a child
// that dies on it (--fatal-child MODE MARKER), its error box read and dismissed.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/core/gbk_text.h"
#include "runtime/core/image.h"
#include "program/program_calls.h"
#include "tests/support/child_process.h"

TEST(FatalPath, ChildShowsTheBoxAndExitsWithoutEndRoutines) {
  const char* const stack_error = GBK_RUNTIME_ERROR "!\n\n" GBK_ERROR_CODE "6\n\n" GBK_ERROR_INFO GBK_MSG_STACK_ERROR "\n";
  // (A refused heap request's box: the tool's own in app_faults_tests.)
  const std::string marker = testsupport::ExeDir() + "end_routine_ran.txt", quoted = " \"" + marker + "\"";
  for (const char* mode : {"raise6", "stack"}) {
    SCOPED_TRACE(mode);
    DeleteFileA(marker.c_str());
    const auto out = testsupport::RunChild("core_win_tests.exe", std::string("--fatal-child ") + mode + quoted, true);
    EXPECT_EQ(out.caption, GBK_ERROR_CAPTION);
    EXPECT_EQ(out.text, stack_error);
    EXPECT_EQ(out.exit_code, 0xFFFFFFFFu);
    EXPECT_EQ(GetFileAttributesA(marker.c_str()), INVALID_FILE_ATTRIBUTES) << "an end routine ran";
  }
}

// The child: an end routine that would create the marker, then fails as `mode` says.
static const char* g_marker = "";
static void* __stdcall OneArgument(void* p) { return p; }
static int FatalChild(const char* mode, const char* marker) {
  g_marker = marker;
  void (*end_routine)() = [] { if (FILE* f = std::fopen(g_marker, "w")) std::fclose(f); };
  prog::Service(rt::kServiceRegisterEndRoutine, reinterpret_cast<intptr_t>(end_routine));
  if (!std::strcmp(mode, "raise6")) prog::RaiseRuntimeError(6);
  // A prototype that passes two words to a one-argument stdcall routine.
  rt::Hooks().resolve_dll = [](uint32_t) { return reinterpret_cast<void*>(&OneArgument); };
  prog::CallDll(0, {1, 2});
  return 3;
}

int main(int argc, char** argv) {
  if (argc == 4 && !std::strcmp(argv[1], "--fatal-child")) return FatalChild(argv[2], argv[3]);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
