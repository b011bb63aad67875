// Conversion commands: texts from values, integers from values, byte sets.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "runtime/core/commands.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/memory.h"

namespace {

using rt::ArgRecord;
using rt::MakeArg;
ArgRecord T(const char* t) { return rt::TextArg(t); }
ArgRecord I(int32_t v) { return rt::IntArg(v); }
ArgRecord D(double d) { return rt::DoubleArg(d); }

// Calls a command; shows an Int in decimal, a Text or ByteSet as its bytes
// and a null one as "(null)". An empty result must be null.
std::string Call(rt::BuiltinCommand cmd, std::vector<ArgRecord> args) {
  ArgRecord r{};
  cmd(&r, static_cast<int>(args.size()), args.data());
  if (r.type == rt::kInt) return std::to_string(rt::AsInt(r));
  if (r.type != rt::kText && r.type != rt::kByteSet) return "(type " + std::to_string(r.type) + ")";
  auto* b = rt::AsPtr<rt::ByteSetBlock>(r);
  EXPECT_TRUE(!b || r.type == rt::kText || b->dims == 1);
  std::string s = !b ? "(null)" : r.type == rt::kText ? rt::AsText(r)
                                 : std::string(reinterpret_cast<const char*>(b->data), static_cast<size_t>(b->length));
  rt::FreeBlock(b);
  EXPECT_NE(s, "") << "empty result should be null";
  return s;
}
// The arguments, the result shown, and the command if not the table's.
struct Row { std::vector<ArgRecord> args; std::string want; rt::BuiltinCommand cmd = nullptr; };
void Check(rt::BuiltinCommand cmd, const std::vector<Row>& rows) {
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    EXPECT_EQ(Call(rows[i].cmd ? rows[i].cmd : cmd, rows[i].args), rows[i].want);
  }
}
using Block = std::unique_ptr<void, void (*)(void*)>;
Block Own(void* p) { return Block(p, rt::FreeBlock); }

TEST(NumberConversion, ToTextByType) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Block bytes = Own(rt::NewByteSet("AB\0C", 4)), ints = Own(rt::NewArray(2, 4));
  static_cast<int32_t*>(rt::ArrayElements(static_cast<rt::ArrayBlock*>(ints.get())))[0] = 0x4241;
  Check(rt::ToText, {{{rt::BoolArg(true)}, GBK_TRUE},
                     {{rt::BoolArg(false)}, GBK_FALSE},
                     {{D(1e20)}, "1e+020"},
                     {{D(123456789012345.0)}, "1.234567890123e+014"},
                     {{D(nan)}, "1.#QNAN"},
                     {{D(-nan)}, "-1.#IND"},
                     {{rt::FloatArg(1.234565f)}, "1.23457"},  // half up on the float's value
                     {{rt::FloatArg(1e-45f)}, "1.4013e-045"},  // subnormal
                     {{rt::LongArg(INT64_MIN)}, "-9223372036854775808"},
                     {{rt::DateTimeArg(43755.5)}, "2019" GBK_YEAR "10" GBK_MONTH "17" GBK_DAY "12" GBK_HOUR},
                     {{rt::ByteSetArg(static_cast<rt::ByteSetBlock*>(bytes.get()))}, "AB"},  // up to a zero
                     {{rt::PtrArg(0xA0000301, ints.get())}, "AB"},
                     {{rt::PtrArg(0xA0000004, ints.get())}, "(null)"},  // array of texts
                     {{rt::OmittedArg()}, "(null)"}});
}

TEST(NumberConversion, ToIntByType) {
  Check(rt::ToInt, {{{T(" 12abc")}, "12"},
                    {{T("\xA3\xB1\xA3\xB2")}, "12"},                    // full-width digits
                    {{T("\xA1\xA1\xA3\xAD\xA3\xB1\xA3\xB2")}, "-12"},  // ideographic space, full-width minus
                    {{T("- 1")}, "0"},
                    {{T("99999999999999999999")}, "2147483647"},  // saturates
                    {{T("-99999999999")}, "-2147483648"},
                    {{D(-2.7)}, "-2"},
                    {{D(std::nan(""))}, "0"},
                    {{D(1e20)}, "2147483647"},
                    {{MakeArg(rt::kShort, 0xFFFF)}, "-1"},
                    {{rt::DateTimeArg(43755.5)}, "0"}});
}

TEST(ByteSets, ToByteSetTakesTheValueBytes) {
  Block set = Own(rt::NewByteSet("xyz", 3)), shorts = Own(rt::NewArray(2, 2));
  auto* s = static_cast<int16_t*>(rt::ArrayElements(static_cast<rt::ArrayBlock*>(shorts.get())));
  s[0] = 0x0102, s[1] = 0x0304;
  Check(rt::ToByteSet, {{{I(0x01020304)}, "\x04\x03\x02\x01"},
                        {{D(1.0)}, std::string(6, '\0') + "\xF0\x3F"},
                        {{T("")}, "(null)"},
                        {{rt::ByteSetArg(static_cast<rt::ByteSetBlock*>(set.get()))}, "xyz"},
                        {{rt::PtrArg(0xA0000201, shorts.get())}, "\x02\x01\x04\x03"},
                        {{rt::PtrArg(0xA0000004, shorts.get())}, "(null)"}});
}

TEST(ByteSets, CuttingClampsLengthsAndZerosAndBitOr) {
  Block set = Own(rt::NewByteSet("abcde", 5));
  const ArgRecord b = rt::ByteSetArg(static_cast<rt::ByteSetBlock*>(set.get()));
  Check(nullptr, {{{b, I(2)}, "ab", rt::ByteSetLeft},
                  {{b, I(4), I(99)}, "de", rt::ByteSetMid},
                  {{b, I(INT32_MIN), I(INT32_MAX)}, "abcde", rt::ByteSetMid},
                  {{b, I(2), I(-5)}, "(null)", rt::ByteSetMid},
                  {{I(3)}, std::string(3, '\0'), rt::ZeroByteSet},
                  {{b}, "5", rt::ByteSetLengthCmd},
                  {{I(1), I(2), I(4)}, "7", rt::BitOr},
                  {{rt::LongArg(0x100000001LL), I(2)}, "3", rt::BitOr}});
}

}  // namespace
