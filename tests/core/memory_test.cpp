// Blocks, the constants block, the support routines and the fatal text.
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <string>

#include "runtime/core/commands.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/image.h"
#include "program/program_support.h"
#include "tests/core/command_table.h"
#include "tests/core/fatal_trap.h"

#ifdef __SANITIZE_ADDRESS__  // g++ only builds this test: natively and for Windows
#include <sanitizer/lsan_interface.h>
#endif

// While g_watch is set, a C++ allocation off the fatal path is a command allocating beyond its result.
static bool g_watch = false;
static int g_stray_allocations = 0;

// Out of line, so the compiler does not pair an inlined malloc and free.
[[gnu::noinline]] void* operator new(size_t size) {
  if (g_watch && rt::FailureCount() == 0) ++g_stray_allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept { std::free(p); }

TEST(Blocks, ConstantsBlockIsNeverFreedAndCopiedOnResizeOrWrite) {
  static char constants[32] = "0123456789abcdefghijklmnopqrstu";
  rt::SetConstantsBlock(constants, sizeof constants);
  rt::FreeBlock(nullptr), rt::FreeBlock(constants + 4);  // no effect, no failure
  // 3 bytes before the end: a 10-byte resize copies exactly those 3 bytes.
  char* tail = constants + sizeof constants - 3;
  auto* copy = static_cast<char*>(rt::ReallocateBlock(tail, 10));
  EXPECT_TRUE(copy != tail && std::memcmp(copy, tail, 3) == 0);
  EXPECT_EQ(std::string(constants), "0123456789abcdefghijklmnopqrstu");
  rt::FreeBlock(copy);

  // An array is copied when made writable only from the constants block.
  alignas(8) static int32_t array_block[6] = {1, 2, 7, 9, 0, 0};  // dims 1, size 2, elements 7 and 9
  rt::SetConstantsBlock(array_block, sizeof array_block);
  rt::ArrayBlock* array = reinterpret_cast<rt::ArrayBlock*>(array_block);
  rt::MakeArrayWritable(4, &array);
  ASSERT_NE(static_cast<void*>(array), static_cast<void*>(array_block));
  EXPECT_EQ(static_cast<int32_t*>(rt::ArrayElements(array))[1], 9);
  rt::ArrayBlock *heap = array, *null_array = nullptr;
  rt::MakeArrayWritable(4, &heap), rt::MakeArrayWritable(4, &null_array);
  EXPECT_TRUE(heap == array && null_array == nullptr);
  rt::FreeBlock(array);
  rt::SetConstantsBlock(nullptr, 0);
}

TEST(FatalText, RefusedSizesShowTheAllocationMessageOtherCodesTheirLine) {
  struct Case { int64_t header, count, width; };
  for (Case c : {Case{8, -1, 1}, Case{8, 0x40000000, 4}, Case{0x7FFFFFFF, 1, 1}})
    EXPECT_NE(FatalCode([&] { rt::BlockSize(c.header, c.count, c.width); }), -1) << c.count;
  std::string text;
  EXPECT_EQ(FatalCode([] { rt::FailNthAllocation(1), rt::AllocateBlock(100); }, &text), 0);
  // No code line for code 0 (code 6's box: FatalPath in entry_table_win_test).
  EXPECT_EQ(text, GBK_RUNTIME_ERROR "!\r\n\r\n" GBK_ERROR_INFO GBK_MSG_ALLOC_HEAD " 100 " GBK_MSG_ALLOC_TAIL "!\r\n");
  EXPECT_TRUE(rt::RuntimeErrorMessage(0) == nullptr && rt::RuntimeErrorMessage(12) == nullptr);
}

TEST(Support, ConcatenationAndComparison) {
  const char* parts[] = {"ab", nullptr, "", "cd"};
  EXPECT_EQ(cmdtest::Shown(rt::TextArg(prog::ConcatTexts(4, parts))), "abcd");
  EXPECT_EQ(prog::ConcatTexts(2, parts + 1), nullptr);  // all empty
  const rt::ByteSetBlock* none[] = {nullptr, nullptr};
  EXPECT_EQ(prog::ConcatByteSets(2, none), nullptr);
  EXPECT_EQ(prog::CompareTexts(nullptr, ""), 0);
  EXPECT_EQ(prog::CompareTexts("\xC4", "a"), 1);  // unsigned bytes
  EXPECT_EQ(prog::TruncateToInt64(-2.7), -2);
}

TEST(Support, SubscriptCheckReportsCode4BeforeCode1) {
  rt::ArrayBlock* a = rt::NewArray(2, 4);
  struct Case { rt::ArrayBlock* array; int32_t subscript; int code; };
  for (Case c : {Case{nullptr, 0, 4}, Case{a, 0, 4}, Case{a, 3, 1}, Case{a, 2, -1}})
    EXPECT_EQ(FatalCode([&] { prog::CheckSubscript(c.array, c.subscript); }), c.code) << c.subscript;
  rt::FreeBlock(a);
}

TEST(Services, EndRoutinesAreUnique) {
  static void (*const r1)() = [] {};
  rt::RegisterEndRoutine(r1), rt::RegisterEndRoutine(r1);
  EXPECT_EQ(rt::TakeEndRoutines().size(), 1u);
}

// Every command that allocates; each heap request, failed in turn, ends on the fatal path (no null
// block used, no crash, no C++ allocation). Blocks made before are lost with the program: no leak check.
static void CommandWorkload() {
  using rt::ArgRecord;
  // Full-width "１２" and "２０１９－１０－１７　１２：３３" keep the folding busy.
  ArgRecord split_args[3] = {rt::TextArg("x#y##z"), rt::TextArg("#"), rt::TextArg("--")};
  ArgRecord blanks = rt::TextArg(" a\xA1\xA1" "b c "), number = rt::TextArg(" \xA3\xAD\xA3\xB1\xA3\xB2");
  ArgRecord date_text = rt::TextArg("\xA3\xB2\xA3\xB0\xA3\xB1\xA3\xB9\xA3\xAD\xA3\xB1\xA3\xB0\xA3\xAD"
                                    "\xA3\xB1\xA3\xB7\xA1\xA1\xA3\xB1\xA3\xB2\xA3\xBA\xA3\xB3\xA3\xB3");
  ArgRecord date = rt::DateTimeArg(43755.523252314815), dbl = rt::DoubleArg(-1.5e-300),
            flt = rt::FloatArg(1234565.0f), lng = rt::LongArg(INT64_MIN);
  const struct { rt::BuiltinCommand cmd; int count; ArgRecord* args; } calls[] = {
      {rt::SplitText, 2, split_args}, {rt::ReplaceSubtext, 3, split_args}, {rt::RemoveAllBlanks, 1, &blanks},
      {rt::ToText, 1, &date},         {rt::ToText, 1, &dbl},               {rt::ToText, 1, &flt},
      {rt::ToText, 1, &lng},          {rt::DateTimeToText, 1, &date},      {rt::ToInt, 1, &number},
      {rt::ToDateTime, 1, &date_text}};
  ArgRecord r[std::size(calls)] = {};
  {
    struct Watch { Watch() { g_watch = true; } ~Watch() { g_watch = false; } } watch;  // also on the fatal path
    for (size_t i = 0; i < std::size(calls); ++i) calls[i].cmd(&r[i], calls[i].count, calls[i].args);
  }
  rt::FreeTextArray(rt::AsPtr<rt::ArrayBlock>(r[0]));
  const char* parts[] = {rt::AsText(r[1]), rt::AsText(r[3])};
  rt::FreeBlock(prog::ConcatTexts(2, parts));
  for (int i = 1; i <= 7; ++i) rt::FreeBlock(rt::AsPtr<char>(r[i]));
}

TEST(Blocks, EveryFailedRequestOfACommandWorkloadReachesTheFatalPath) {
#ifdef __SANITIZE_ADDRESS__
  __lsan::ScopedDisabler no_leak_check;
#endif
  int failure_points = 0;
  for (int n = 1; n < 100; ++n) {
    SCOPED_TRACE(n);
    std::string text;
    const int code = FatalCode([n] { rt::FailNthAllocation(n), CommandWorkload(); }, &text);
    rt::FailNthAllocation(0);
    if (code == -1) break;  // the workload got through: every request was tried
    ++failure_points;
    EXPECT_EQ(code, 0);
    EXPECT_NE(text.find(GBK_MSG_ALLOC_TAIL "!"), std::string::npos) << text;
  }
  EXPECT_GE(failure_points, 11);
  EXPECT_EQ(g_stray_allocations, 0) << "a command allocated on the C++ heap";
}
