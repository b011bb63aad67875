// The entry table's calling sequences on the real target, and the fatal path
// as a user sees it: this program started again as a child that dies on it
// (--fatal-child MODE MARKER), its error box read and dismissed.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/core/gbk_text.h"
#include "runtime/core/image.h"
#include "program/program_calls.h"
#include "tests/support/child_process.h"

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
void* ResolveThree(uint32_t index) { return index == 5 ? reinterpret_cast<void*>(&ThreeWords) : nullptr; }

TEST(EntryTable, DllCallsPassWordsInPrototypeOrder) {
  rt::Hooks().resolve_dll = ResolveThree;
  EXPECT_EQ(prog::CallDll(5, {1, 2, 3}), 123u);
  rt::Hooks().resolve_dll = nullptr;
}

TEST(FatalPath, ChildShowsTheBoxAndExitsWithoutEndRoutines) {
  // The box text as the child reads it back: the fatal text without "\r".
  const char* const stack_error = GBK_RUNTIME_ERROR "!\n\n" GBK_ERROR_CODE "6\n\n" GBK_ERROR_INFO GBK_MSG_STACK_ERROR "\n";
  // (A refused heap request's box: the tool's own in app_faults_tests.)
  for (const char* mode : {"raise6", "stack"}) {
    SCOPED_TRACE(mode);
    std::string marker = testsupport::ExeDir() + "end_routine_ran.txt";
    DeleteFileA(marker.c_str());
    testsupport::ChildResult out =
        testsupport::RunChild("core_win_tests.exe", std::string("--fatal-child ") + mode + " \"" + marker + "\"", true);
    EXPECT_EQ(out.caption, GBK_ERROR_CAPTION);
    EXPECT_EQ(out.text, stack_error);
    EXPECT_EQ(out.exit_code, 0xFFFFFFFFu);
    EXPECT_EQ(GetFileAttributesA(marker.c_str()), INVALID_FILE_ATTRIBUTES) << "an end routine ran";
  }
}

// The child: registers an end routine that would create the marker file,
// then fails as `mode` says; it never returns when the fatal path works.
const char* g_marker = "";
void* __stdcall OneArgument(void* p) { return p; }
int FatalChild(const char* mode, const char* marker) {
  g_marker = marker;
  void (*end_routine)() = [] {
    if (FILE* f = std::fopen(g_marker, "w")) std::fclose(f);
  };
  prog::Service(rt::kServiceRegisterEndRoutine, reinterpret_cast<intptr_t>(end_routine));
  if (!std::strcmp(mode, "raise6")) prog::RaiseRuntimeError(6);
  // A prototype that passes two words to a one-argument stdcall routine.
  rt::Hooks().resolve_dll = [](uint32_t) { return reinterpret_cast<void*>(&OneArgument); };
  prog::CallDll(0, {1, 2});
  return 3;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && !std::strcmp(argv[1], "--fatal-child")) return FatalChild(argv[2], argv[3]);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
