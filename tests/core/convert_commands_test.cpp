// Conversion commands: texts from values, integers from values, byte sets.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "runtime/core/commands.h"
#include "runtime/core/memory.h"

namespace {

using rt::ArgRecord;
using rt::IntArg;
using rt::MakeArg;
using rt::TextArg;

ArgRecord Call(rt::BuiltinCommand cmd, std::vector<ArgRecord> args) {
  ArgRecord r{};
  cmd(&r, static_cast<int>(args.size()), args.data());
  return r;
}
std::string ToText(ArgRecord a) {
  ArgRecord r = Call(rt::ToText, {a});
  EXPECT_EQ(r.type, rt::kText);
  char* t = rt::AsPtr<char>(r);
  if (!t) return "(null)";
  EXPECT_NE(t[0], '\0') << "empty result should be null";
  std::string s = t;
  rt::FreeBlock(t);
  return s;
}
int ToInt(ArgRecord a) {
  ArgRecord r = Call(rt::ToInt, {a});
  EXPECT_EQ(r.type, rt::kInt);
  return rt::AsInt(r);
}
// Byte set result as a string of its bytes; "(null)" for the null byte set.
std::string Bytes(ArgRecord r) {
  EXPECT_EQ(r.type, rt::kByteSet);
  auto* b = rt::AsPtr<rt::ByteSetBlock>(r);
  if (!b) return "(null)";
  EXPECT_EQ(b->dims, 1);
  EXPECT_GT(b->length, 0) << "empty result should be null";
  std::string s(reinterpret_cast<const char*>(b->data), static_cast<size_t>(b->length));
  rt::FreeBlock(b);
  return s;
}

// Owns a byte set or array used as an argument.
struct Block {
  void* p;
  explicit Block(void* block) : p(block) {}
  ~Block() { rt::FreeBlock(p); }
};

TEST(NumberConversion, ToTextByType) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Block bytes(rt::NewByteSet("AB\0C", 4));
  Block ints(rt::NewArray(2, 4));
  static_cast<int32_t*>(rt::ArrayElements(static_cast<rt::ArrayBlock*>(ints.p)))[0] = 0x4241;
  struct Case { ArgRecord arg; std::string want; };
  const Case cases[] = {
      {rt::BoolArg(true), "真"},
      {rt::BoolArg(false), "假"},
      {rt::DoubleArg(0.5), "0.5"},
      {rt::DoubleArg(1e20), "1e+020"},
      {rt::DoubleArg(-1.5e-7), "-1.5e-007"},
      {rt::DoubleArg(1e300), "1e+300"},
      {rt::DoubleArg(123456789012345.0), "1.234567890123e+014"},
      {rt::DoubleArg(1.0 / 3), "0.3333333333333"},
      {rt::DoubleArg(-0.0), "-0"},
      {rt::DoubleArg(std::numeric_limits<double>::infinity()), "1.#INF"},
      {rt::DoubleArg(-std::numeric_limits<double>::infinity()), "-1.#INF"},
      {rt::DoubleArg(nan), "1.#QNAN"},
      {rt::DoubleArg(-nan), "-1.#IND"},
      {rt::FloatArg(0.1f), "0.1"},
      {rt::FloatArg(1.234565f), "1.23457"},  // half up on the float's value
      {rt::FloatArg(-1234567.0f), "-1.23457e+006"},
      {rt::FloatArg(3.4028235e38f), "3.40282e+038"},
      {rt::FloatArg(1e-45f), "1.4013e-045"},  // subnormal
      {rt::FloatArg(0.0f), "0"},
      {MakeArg(rt::kByte, 200), "200"},
      {MakeArg(rt::kShort, 0xFFFB), "-5"},
      {IntArg(-7), "-7"},
      {rt::LongArg(INT64_MIN), "-9223372036854775808"},
      {rt::DateTimeArg(43755.5), "2019年10月17日12时"},
      {rt::ByteSetArg(static_cast<rt::ByteSetBlock*>(bytes.p)), "AB"},
      {rt::ByteSetArg(nullptr), "(null)"},
      {rt::PtrArg(0xA0000301, ints.p), "AB"},
      {rt::PtrArg(0xA0000004, ints.p), "(null)"},  // array of texts
      {TextArg("abc"), "abc"},
      {TextArg(""), "(null)"},
      {MakeArg(rt::kRoutineRef, 0x1234), "(null)"},
      {rt::OmittedArg(), "(null)"},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(i++);
    EXPECT_EQ(ToText(c.arg), c.want);
  }
}

TEST(NumberConversion, ToIntByType) {
  struct Case { ArgRecord arg; int want; };
  const Case cases[] = {
      {TextArg(" 12abc"), 12},
      {TextArg("\xA3\xB1\xA3\xB2"), 12},            // full-width digits
      {TextArg("\xA1\xA1\xA3\xAD\xA3\xB1\xA3\xB2"), -12},  // ideographic space, full-width minus
      {TextArg("\t\n+5"), 5},
      {TextArg("x1"), 0},
      {TextArg(""), 0},
      {TextArg("- 1"), 0},
      {TextArg("-2147483648"), INT32_MIN},
      {TextArg("99999999999999999999"), INT32_MAX},  // saturates
      {TextArg("-99999999999"), INT32_MIN},
      {rt::DoubleArg(-2.7), -2},
      {rt::DoubleArg(std::nan("")), 0},
      {rt::DoubleArg(1e20), INT32_MAX},
      {rt::DoubleArg(-1e20), INT32_MIN},
      {rt::FloatArg(-3.9f), -3},
      {rt::LongArg(0x100000005LL), 5},
      {MakeArg(rt::kShort, 0xFFFF), -1},
      {MakeArg(rt::kByte, 0xFF), 255},
      {rt::BoolArg(true), 1},
      {MakeArg(rt::kRoutineRef, 0x401000), 0x401000},
      {rt::DateTimeArg(43755.5), 0},
      {rt::ByteSetArg(nullptr), 0},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(i++);
    EXPECT_EQ(ToInt(c.arg), c.want);
  }
}

TEST(ByteSets, ToByteSetByType) {
  Block set(rt::NewByteSet("xyz", 3));
  Block shorts(rt::NewArray(2, 2));
  auto* s = static_cast<int16_t*>(rt::ArrayElements(static_cast<rt::ArrayBlock*>(shorts.p)));
  s[0] = 0x0102;
  s[1] = 0x0304;
  struct Case { ArgRecord arg; std::string want; };
  const Case cases[] = {
      {IntArg(0x01020304), std::string("\x04\x03\x02\x01", 4)},
      {MakeArg(rt::kShort, 0xFFFE), "\xFE\xFF"},
      {MakeArg(rt::kByte, 7), "\x07"},
      {rt::LongArg(0x0102030405060708LL), "\x08\x07\x06\x05\x04\x03\x02\x01"},
      {rt::DoubleArg(1.0), std::string("\0\0\0\0\0\0\xF0\x3F", 8)},
      {rt::FloatArg(1.0f), std::string("\0\0\x80\x3F", 4)},
      {rt::BoolArg(true), std::string("\x01\0\0\0", 4)},
      {rt::DateTimeArg(1.0), std::string("\0\0\0\0\0\0\xF0\x3F", 8)},
      {MakeArg(rt::kRoutineRef, 0x41424344), "DCBA"},
      {TextArg("ab"), "ab"},
      {TextArg(""), "(null)"},
      {rt::ByteSetArg(static_cast<rt::ByteSetBlock*>(set.p)), "xyz"},
      {rt::PtrArg(0xA0000201, shorts.p), "\x02\x01\x04\x03"},
      {rt::PtrArg(0xA0000004, shorts.p), "(null)"},
      {MakeArg(rt::kComObject, 0), "(null)"},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(i++);
    EXPECT_EQ(Bytes(Call(rt::ToByteSet, {c.arg})), c.want);
  }
}

TEST(ByteSets, CuttingLengthZerosAndBitOr) {
  Block set(rt::NewByteSet("abcde", 5));
  const ArgRecord b = rt::ByteSetArg(static_cast<rt::ByteSetBlock*>(set.p));
  struct Case { rt::BuiltinCommand cmd; std::vector<ArgRecord> args; std::string want; };
  const Case cases[] = {
      {rt::ByteSetLeft, {b, IntArg(2)}, "ab"},
      {rt::ByteSetLeft, {b, IntArg(99)}, "abcde"},
      {rt::ByteSetLeft, {b, IntArg(-1)}, "(null)"},
      {rt::ByteSetLeft, {rt::ByteSetArg(nullptr), IntArg(3)}, "(null)"},
      {rt::ByteSetMid, {b, IntArg(2), IntArg(2)}, "bc"},
      {rt::ByteSetMid, {b, IntArg(0), IntArg(2)}, "ab"},
      {rt::ByteSetMid, {b, IntArg(4), IntArg(99)}, "de"},
      {rt::ByteSetMid, {b, IntArg(6), IntArg(1)}, "(null)"},
      {rt::ByteSetMid, {b, IntArg(INT32_MIN), IntArg(INT32_MAX)}, "abcde"},
      {rt::ByteSetMid, {b, IntArg(2), IntArg(-5)}, "(null)"},
      {rt::ZeroByteSet, {IntArg(3)}, std::string(3, '\0')},
      {rt::ZeroByteSet, {IntArg(0)}, "(null)"},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(i++);
    EXPECT_EQ(Bytes(Call(c.cmd, c.args)), c.want);
  }
  EXPECT_EQ(rt::AsInt(Call(rt::ByteSetLengthCmd, {b})), 5);
  EXPECT_EQ(rt::AsInt(Call(rt::ByteSetLengthCmd, {rt::ByteSetArg(nullptr)})), 0);
  EXPECT_EQ(rt::AsInt(Call(rt::BitOr, {IntArg(1), IntArg(2), IntArg(4)})), 7);
  EXPECT_EQ(rt::AsInt(Call(rt::BitOr, {IntArg(-8)})), -8);
  EXPECT_EQ(rt::AsInt(Call(rt::BitOr, {rt::LongArg(0x100000001LL), IntArg(2)})), 3);
}

}  // namespace
