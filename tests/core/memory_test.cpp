// Blocks, the constants block, the support routines and the fatal text.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/core/commands.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/image.h"
#include "runtime/core/memory.h"
#include "runtime/core/support.h"
#include "tests/core/fatal_trap.h"

namespace {

// The code a call dies with on the fatal path (its text into *text), or -1
// when it returns.
template <class F>
int FatalCode(F call, std::string* text = nullptr) {
  FatalTrap trap;
  try {
    call();
    return -1;
  } catch (const FatalCaught& f) {
    if (text) *text = f.text;
    return f.code;
  }
}

TEST(Blocks, ConstantsBlockIsNeverFreedAndCopiedOnResize) {
  static char constants[32] = "0123456789abcdefghijklmnopqrstu";
  rt::SetConstantsBlock(constants, sizeof constants);
  rt::FreeBlock(nullptr);
  rt::FreeBlock(constants + 4);  // no effect, no failure
  // 3 bytes before the end: a 10-byte resize copies exactly those 3 bytes.
  char* tail = constants + sizeof constants - 3;
  auto* copy = static_cast<char*>(rt::ReallocateBlock(tail, 10));
  EXPECT_NE(copy, tail);
  EXPECT_EQ(0, std::memcmp(copy, tail, 3));
  EXPECT_EQ(std::string(constants), "0123456789abcdefghijklmnopqrstu");
  rt::FreeBlock(copy);
  rt::SetConstantsBlock(nullptr, 0);
}

TEST(Blocks, RefusedSizesReachTheFatalPathWithTheAllocationMessage) {
  struct Case { int64_t header, count, width; };
  for (Case c : {Case{8, -1, 1}, Case{8, 0x40000000, 4}, Case{0x7FFFFFFF, 1, 1}})
    EXPECT_NE(FatalCode([&] { rt::BlockSize(c.header, c.count, c.width); }), -1) << c.count;
  std::string text;
  rt::FailNthAllocation(1);
  EXPECT_EQ(FatalCode([] { rt::AllocateBlock(100); }, &text), 0);
  EXPECT_EQ(text, GBK_RUNTIME_ERROR "!\r\n\r\n" GBK_ERROR_INFO GBK_MSG_ALLOC_HEAD " 100 " GBK_MSG_ALLOC_TAIL "!\r\n");
}

TEST(FatalText, CodeLineOnlyForNonzeroCodes) {
  EXPECT_EQ(rt::FormatFatalText(rt::RuntimeErrorMessage(6), 6),
            GBK_RUNTIME_ERROR "!\r\n\r\n" GBK_ERROR_CODE "6\r\n\r\n" GBK_ERROR_INFO GBK_MSG_STACK_ERROR "\r\n");
  EXPECT_EQ(rt::RuntimeErrorMessage(0), nullptr);
  EXPECT_EQ(rt::RuntimeErrorMessage(12), nullptr);
}

TEST(Support, ConcatenationAndComparison) {
  const char* parts[] = {"ab", nullptr, "", "cd"};
  char* t = rt::ConcatTexts(4, parts);
  EXPECT_STREQ(t, "abcd");
  rt::FreeBlock(t);
  EXPECT_EQ(rt::ConcatTexts(2, parts + 1), nullptr);  // all empty
  const rt::ByteSetBlock* none[] = {nullptr, nullptr};
  EXPECT_EQ(rt::ConcatByteSets(2, none), nullptr);
  EXPECT_EQ(rt::CompareTexts(nullptr, ""), 0);
  EXPECT_EQ(rt::CompareTexts("\xC4", "a"), 1);  // unsigned bytes
  EXPECT_EQ(rt::TruncateToInt64(-2.7), -2);
}

TEST(Support, SubscriptCheckReportsCode4BeforeCode1) {
  rt::ArrayBlock* a = rt::NewArray(2, 4);
  struct Case { rt::ArrayBlock* array; int32_t subscript; int code; };
  for (Case c : {Case{nullptr, 0, 4}, Case{a, 0, 4}, Case{a, 3, 1}, Case{a, 2, -1}})
    EXPECT_EQ(FatalCode([&] { rt::CheckSubscript(c.array, c.subscript); }), c.code) << c.subscript;
  rt::FreeBlock(a);
}

TEST(Services, EndRoutinesAreUniqueAndArraysCopiedOnlyFromConstants) {
  static void (*const r1)() = [] {};
  rt::RegisterEndRoutine(r1);
  rt::RegisterEndRoutine(r1);
  EXPECT_EQ(rt::TakeEndRoutines().size(), 1u);

  alignas(8) static int32_t constants[6] = {1, 2, 7, 9, 0, 0};  // dims 1, size 2, elements 7 and 9
  rt::SetConstantsBlock(constants, sizeof constants);
  rt::ArrayBlock* array = reinterpret_cast<rt::ArrayBlock*>(constants);
  rt::MakeArrayWritable(4, &array);
  ASSERT_NE(static_cast<void*>(array), static_cast<void*>(constants));
  EXPECT_EQ(static_cast<int32_t*>(rt::ArrayElements(array))[1], 9);
  rt::ArrayBlock *heap = array, *null_array = nullptr;
  rt::MakeArrayWritable(4, &heap);  // outside the constants block: unchanged
  rt::MakeArrayWritable(4, &null_array);
  EXPECT_EQ(heap, array);
  EXPECT_EQ(null_array, nullptr);
  rt::FreeBlock(array);
  rt::SetConstantsBlock(nullptr, 0);
}

// A small workload of commands that allocate: every one of its heap requests
// is failed in turn, and each failure must end on the fatal path with the
// allocation message (never a null block used, never a crash). Blocks the
// workload made before the failure are lost with the program, as on the
// target, so the sanitizers' leak check is told to look away.
void CommandWorkload() {
  rt::ArgRecord args[3] = {rt::TextArg("x#y#z"), rt::TextArg("#"), rt::TextArg("--")}, split, replaced, text;
  rt::SplitText(&split, 2, args);
  rt::FreeTextArray(rt::AsPtr<rt::ArrayBlock>(split));
  rt::ReplaceSubtext(&replaced, 3, args);
  rt::ArgRecord date = rt::DateTimeArg(43755.5);
  rt::ToText(&text, 1, &date);
  const char* parts[] = {rt::AsText(replaced), rt::AsText(text)};
  rt::FreeBlock(rt::ConcatTexts(2, parts));
  rt::FreeBlock(rt::AsPtr<char>(replaced));
  rt::FreeBlock(rt::AsPtr<char>(text));
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RT_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(RT_ASAN)
#include <sanitizer/lsan_interface.h>
#define RT_LEAKS_EXPECTED __lsan::ScopedDisabler no_leak_check
#else
#define RT_LEAKS_EXPECTED
#endif

TEST(Blocks, EveryFailedRequestOfACommandWorkloadReachesTheFatalPath) {
  RT_LEAKS_EXPECTED;
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
  EXPECT_GE(failure_points, 6);
  std::printf("workload heap requests failed in turn: %d\n", failure_points);
}

}  // namespace
