// Conversion commands: texts from values, integers from values, byte sets.
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "runtime/core/commands.h"
#include "runtime/core/gbk_text.h"
#include "tests/core/command_table.h"

using namespace cmdtest;  // Check, Shown, T, I
static rt::ArgRecord D(double d) { return rt::DoubleArg(d); }
using Block = std::unique_ptr<void, void (*)(void*)>;
static Block Own(void* p) { return Block(p, rt::FreeBlock); }
static rt::ArgRecord SetArg(const Block& b) { return rt::ByteSetArg(static_cast<rt::ByteSetBlock*>(b.get())); }

TEST(NumberConversion, ToTextAndToIntByType) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Block bytes = Own(rt::NewByteSet("AB\0C", 4)), ints = Own(rt::NewArray(2, 4));
  static_cast<int32_t*>(rt::ArrayElements(static_cast<rt::ArrayBlock*>(ints.get())))[0] = 0x4241;
  const auto X = rt::ToText;
  Check({{X, {rt::BoolArg(true)}, GBK_TRUE},          {X, {rt::BoolArg(false)}, GBK_FALSE},
         {X, {D(1e20)}, "1e+020"},                    {X, {D(123456789012345.0)}, "1.234567890123e+014"},
         {X, {D(nan)}, "1.#QNAN"},                    {X, {D(-nan)}, "-1.#IND"},
         {X, {rt::FloatArg(1.234565f)}, "1.23457"},   // half up on the float's value
         {X, {rt::FloatArg(1e-45f)}, "1.4013e-045"},  // subnormal
         {X, {rt::LongArg(INT64_MIN)}, "-9223372036854775808"},
         {X, {rt::DateTimeArg(43755.5)}, "2019" GBK_YEAR "10" GBK_MONTH "17" GBK_DAY "12" GBK_HOUR},
         {X, {SetArg(bytes)}, "AB"},  // up to a zero
         {X, {rt::OmittedArg()}, "(null)"},          {X, {rt::PtrArg(0xA0000301, ints.get())}, "AB"},
         {X, {rt::PtrArg(0xA0000004, ints.get())}, "(null)"},  // array of texts
         // (ToInt on texts: the number_text fuzz driver's corpus against its reference.)
         {rt::ToInt, {D(-2.7)}, "-2"},                {rt::ToInt, {D(std::nan(""))}, "0"},
         {rt::ToInt, {D(1e20)}, "2147483647"},        {rt::ToInt, {rt::MakeArg(rt::kShort, 0xFFFF)}, "-1"},
         {rt::ToInt, {rt::DateTimeArg(43755.5)}, "0"}});
}

// A float tie (`digits`: it times 10^scale, ending in 5) rounded half up, by the C library, exponent 3 wide.
static std::string TieText(int64_t digits, int scale) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", static_cast<double>((digits + 5) / 10) / std::pow(10.0, scale - 1));
  std::string t = text;
  if (const size_t e = t.find("e+"); e != std::string::npos) t.insert(e + 2, "0");
  return t;
}

TEST(NumberConversion, FloatTiesRoundHalfUpExactly) {
  Check({{rt::ToText, {rt::FloatArg(100005.5f)}, "100006"},  {rt::ToText, {rt::FloatArg(-100005.5f)}, "-100006"},
         {rt::ToText, {rt::FloatArg(10002.25f)}, "10002.3"}});
  // Ties of 7 digits: integers 1000005..9999995, a seventh of the six-digit
  // n + 0.5 and of the five-digit n + 0.25 and n + 0.75; some negated.
  struct Range { int64_t from, to, step; int scale; };
  int mismatches = 0, checked = 0;
  for (Range r : {Range{1000005, 9999995, 10, 0}, Range{1000005, 9999995, 70, 1}, Range{1000025, 9999975, 350, 2}}) {
    for (int64_t digits = r.from; digits <= r.to; digits += r.step) {
      if (r.scale == 2 && digits % 100 != 25 && digits % 100 != 75) continue;
      const double value = static_cast<double>(digits) / std::pow(10.0, r.scale);
      const float f = static_cast<float>(value);
      ASSERT_EQ(static_cast<double>(f), value) << digits;  // the tie is exact as a float
      const bool negate = digits % 7 == 0;
      const std::string want = (negate ? "-" : "") + TieText(digits, r.scale);
      const std::string got = Shown(testsupport::CallCommand(rt::ToText, {rt::FloatArg(negate ? -f : f)}));
      if (++checked, want != got && ++mismatches <= 5) ADD_FAILURE() << value << ": " << got << ", want " << want;
    }
  }
  EXPECT_EQ(mismatches, 0) << "of " << checked;
}

TEST(ByteSets, ToByteSetCuttingClampsZerosLengthAndBitOr) {
  Block set = Own(rt::NewByteSet("abcde", 5)), shorts = Own(rt::NewArray(2, 2)), x = Own(rt::NewByteSet("x", 1));
  auto* s = static_cast<int16_t*>(rt::ArrayElements(static_cast<rt::ArrayBlock*>(shorts.get())));
  s[0] = 0x0102, s[1] = 0x0304;
  const rt::ArgRecord b = SetArg(set), one = SetArg(x), lo = rt::LongArg(INT64_MIN), hi = rt::LongArg(INT64_MAX);
  static rt::ByteSetBlock empty_block{1, 0, {0}};  // empty sets: none at all and a block of length 0
  const auto B = rt::ToByteSet, L = rt::ByteSetLeft, M = rt::ByteSetMid;
  Check({{B, {I(0x01020304)}, "\x04\x03\x02\x01"},         {B, {D(1.0)}, std::string(6, '\0') + "\xF0\x3F"},
         {B, {T("")}, "(null)"},                          {B, {b}, "abcde"},
         {B, {rt::PtrArg(0xA0000201, shorts.get())}, "\x02\x01\x04\x03"},
         {B, {rt::PtrArg(0xA0000004, shorts.get())}, "(null)"},
         {L, {b, I(2)}, "ab"},                            {M, {b, I(4), I(99)}, "de"},
         {M, {b, I(INT32_MIN), I(INT32_MAX)}, "abcde"},   {M, {b, I(2), I(-5)}, "(null)"},
         {M, {b, lo, I(2)}, "ab"},                        {M, {b, hi, I(2)}, "(null)"},
         {M, {b, I(1), lo}, "(null)"},                    {M, {b, I(2), hi}, "bcde"},
         {L, {b, lo}, "(null)"},                          {L, {b, hi}, "abcde"},
         {rt::ZeroByteSet, {lo}, "(null)"},               {L, {one, I(1)}, "x"},
         {rt::ZeroByteSet, {I(1)}, std::string(1, '\0')},  {rt::ZeroByteSet, {I(3)}, std::string(3, '\0')},
         {rt::ByteSetLengthCmd, {b}, "5"},                 {rt::ByteSetLengthCmd, {one}, "1"},
         {rt::BitOr, {I(1), I(2), I(4)}, "7"},            {rt::BitOr, {rt::LongArg(0x100000001LL), I(2)}, "3"}});
  for (const rt::ArgRecord& e : {rt::ByteSetArg(nullptr), rt::ByteSetArg(&empty_block)}) {
    SCOPED_TRACE(e.value == 0 ? "no block" : "a block of length 0");
    Check({{rt::ByteSetLengthCmd, {e}, "0"}, {L, {e, I(3)}, "(null)"}, {M, {e, I(1), I(3)}, "(null)"},
           {M, {e, lo, hi}, "(null)"}, {B, {e}, "(null)"}, {rt::ToText, {e}, "(null)"}});
  }
}
