// Built-in conversion commands: texts, numbers and byte sets.
//
// Number texts are written here rather than left to the C library's printf,
// so that the native build and the Windows build print the same bytes: the
// Windows C runtime writes exponents three digits wide (1e+020) and
// non-finite values as 1.#INF, 1.#QNAN and -1.#IND, and so do we.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "runtime/core/command_args.h"
#include "runtime/core/commands.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/memory.h"

namespace rt {
namespace {

using args::At;
using args::IntegerOf;
using args::TextOf;
using args::ReturnInt;

// Number and date texts are written into fixed buffers first: the result
// block is the only allocation a command makes.
constexpr size_t kNumberTextSize = 64;
void ReturnText(ArgRecord* result, const char* s, size_t n) { *result = TextArg(NewText(s, n)); }
void ReturnBytes(ArgRecord* result, const void* bytes, size_t n) {
  *result = ByteSetArg(NewByteSet(bytes, n));
}
// The bytes before the first zero byte, as a text.
void ReturnTextUpToZero(ArgRecord* result, const uint8_t* bytes, size_t n) {
  const void* zero = n ? std::memchr(bytes, 0, n) : nullptr;
  const size_t take = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - bytes) : n;
  *result = TextArg(NewText(reinterpret_cast<const char*>(bytes), take));
}
size_t LengthOf(const ByteSetBlock* b) { return b && b->length > 0 ? static_cast<size_t>(b->length) : 0; }

// Whether the argument is an array of a numeric type (bit 29 set on a
// numeric TypeCode), and its element type.
bool IsNumericArray(const ArgRecord& a, uint32_t* element_type) {
  if (!(a.type & kByRefOrArrayBit)) return false;
  *element_type = a.type & ~kByRefOrArrayBit;
  return IsNumericType(*element_type);
}

// Bytes of every element of an array of a numeric type, all dimensions in
// storage order; null arrays have none.
const uint8_t* ArrayBytes(const ArgRecord& a, uint32_t element_type, size_t* n) {
  const ArrayBlock* array = AsPtr<const ArrayBlock>(a);
  *n = 0;
  if (!array) return nullptr;
  *n = static_cast<size_t>(ArrayElementCount(array)) * ValueWidth(element_type);
  return static_cast<const uint8_t*>(ArrayElements(array));
}

// Decimal digits of v into out; returns their number.
size_t Decimal(int64_t v, char (&out)[kNumberTextSize]) {
  // Built from the magnitude as unsigned, so INT64_MIN is fine.
  uint64_t m = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  char buf[24];
  char* p = buf + sizeof buf;
  do {
    *--p = static_cast<char>('0' + m % 10);
    m /= 10;
  } while (m);
  if (v < 0) *--p = '-';
  const size_t n = static_cast<size_t>(buf + sizeof buf - p);
  std::memcpy(out, p, n);
  return n;
}

// "%.<precision>g" as the Windows C runtime writes it, into out; returns
// the length.
size_t FormatG(double v, int precision, char (&out)[kNumberTextSize]) {
  const char* special = nullptr;
  if (std::isinf(v)) special = v < 0 ? "-1.#INF" : "1.#INF";
  if (std::isnan(v)) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    const bool negative = bits >> 63;
    const uint64_t mantissa = bits & 0xFFFFFFFFFFFFFull;
    const bool quiet = mantissa & 0x8000000000000ull;
    if (negative && mantissa == 0x8000000000000ull) special = "-1.#IND";  // the default NaN
    else if (negative) special = quiet ? "-1.#QNAN" : "-1.#SNAN";
    else special = quiet ? "1.#QNAN" : "1.#SNAN";
  }
  if (special) return static_cast<size_t>(std::snprintf(out, sizeof out, "%s", special));
  size_t n = static_cast<size_t>(std::snprintf(out, sizeof out, "%.*g", precision, v));
  const char* e = static_cast<const char*>(std::memchr(out, 'e', n));
  if (!e) return n;
  // Exponents at least three digits wide: pad after "e+" or "e-".
  const size_t digits = static_cast<size_t>(e - out) + 2;
  while (n - digits < 3) {
    std::memmove(out + digits + 1, out + digits, n - digits + 1);
    out[digits] = '0';
    ++n;
  }
  return n;
}

// Powers of ten as literals, so both builds use the same correctly rounded
// values (a computed pow may differ in the last bit between C libraries).
// Up to 10^22 they are exact.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                             1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19,
                             1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29,
                             1e30, 1e31, 1e32, 1e33, 1e34, 1e35, 1e36, 1e37, 1e38, 1e39,
                             1e40, 1e41, 1e42, 1e43, 1e44, 1e45, 1e46, 1e47, 1e48, 1e49,
                             1e50, 1e51, 1e52, 1e53};
constexpr int kMaxPow10 = static_cast<int>(sizeof kPow10 / sizeof kPow10[0]) - 1;
// The smallest float (about 1.4e-45) scaled to six digits needs 10^50.
static_assert(kMaxPow10 >= 51, "room to scale every float to six digits");

// v times 10^p in one rounding step, |p| <= kMaxPow10.
double TimesPow10(double v, int p) { return p >= 0 ? v * kPow10[p] : v / kPow10[-p]; }

// A float rounded half up to 6 significant decimal digits. The magnitude is
// scaled to [100000, 1000000) in one step: a float that lies exactly halfway
// between two six-digit values then gives an exact .5 (a product or quotient
// that is representable comes out exact), where scaling to [1, 10) first
// and by 100000 afterwards rounds twice and loses ties.
double RoundFloatTo6(float x) {
  if (x == 0.0f || !std::isfinite(x)) return x;
  uint32_t bits;
  std::memcpy(&bits, &x, 4);
  const int e = static_cast<int>((bits >> 23) & 0xFF) - 127;
  // Decimal exponent estimate k; the scale is 10^(5 - k).
  int p = 5 - static_cast<int>(std::trunc(e * 0.30102999566398120));
  const double mag = std::fabs(static_cast<double>(x));
  double m = TimesPow10(mag, p);
  // One step normally suffices; subnormal floats (exponent field 0) need more.
  while (m >= 1000000.0 && p > -kMaxPow10) m = TimesPow10(mag, --p);
  while (m < 100000.0 && p < kMaxPow10) m = TimesPow10(mag, ++p);
  double whole = std::floor(m);
  if (m - whole >= 0.5) whole += 1.0;
  const double r = TimesPow10(whole, -p);
  return x < 0 ? -r : r;
}

int32_t Saturate(double v) {
  if (std::isnan(v)) return 0;
  v = std::trunc(v);
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// atol on the folded text, folding as it reads: leading white space, an
// optional sign, digits. Saturates instead of overflowing, as the Windows C
// runtime's atol does.
int32_t ReadDecimal(const char* text) {
  const auto* t = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  // The next folded character, 0 at the end, and one that stays a pair
  // (never a digit, sign or blank) as 0x80.
  auto peek = [&]() -> unsigned char {
    if (!t[i]) return 0;
    const FoldedChar c = FoldAt(t, i);
    return c.length == 1 ? t[i] : c.folded ? static_cast<unsigned char>(c.folded) : 0x80;
  };
  auto take = [&] { i += FoldAt(t, i).length; };
  for (unsigned char c = peek(); c == ' ' || (c >= '\t' && c <= '\r'); c = peek()) take();
  bool negative = false;
  if (peek() == '+' || peek() == '-') negative = peek() == '-', take();
  int64_t v = 0;
  for (unsigned char c = peek(); c >= '0' && c <= '9'; c = peek()) {
    v = v * 10 + (c - '0');
    if (v > 2147483648LL) v = 2147483648LL;  // stays past the limit once there
    take();
  }
  if (negative) v = -v;
  if (v > 2147483647LL) v = 2147483647LL;
  return static_cast<int32_t>(v);
}

}  // namespace

void ToText(ArgRecord* result, int count, ArgRecord* args) {
  const ArgRecord& a = At(count, args, 0);
  uint32_t element_type;
  char number[kNumberTextSize];
  switch (a.type) {
    case kText: *result = TextArg(CopyText(AsText(a))); return;
    case kByte: case kShort: case kInt: case kLong:
      return ReturnText(result, number, Decimal(IntegerOf(a), number));
    case kFloat: return ReturnText(result, number, FormatG(RoundFloatTo6(AsFloat(a)), 6, number));
    case kDouble: return ReturnText(result, number, FormatG(AsDouble(a), 13, number));
    case kBool: *result = TextArg(CopyText(AsInt(a) ? GBK_TRUE : GBK_FALSE)); return;
    case kDateTime: {
      char date[kDateTextSize];
      return ReturnText(result, date, WriteDateTime(AsDouble(a), date));
    }
    case kByteSet: {
      const ByteSetBlock* b = AsByteSet(a);
      return ReturnTextUpToZero(result, b ? b->data : nullptr, LengthOf(b));
    }
    default:
      break;
  }
  if (IsNumericArray(a, &element_type)) {
    size_t n;
    const uint8_t* bytes = ArrayBytes(a, element_type, &n);
    return ReturnTextUpToZero(result, bytes, n);
  }
  *result = TextArg(nullptr);
}

void ToInt(ArgRecord* result, int count, ArgRecord* args) {
  const ArgRecord& a = At(count, args, 0);
  switch (a.type) {
    case kByte: case kShort: case kInt: case kBool: case kRoutineRef: case kLong:
      return ReturnInt(result, static_cast<int32_t>(static_cast<uint32_t>(
                                   a.type == kRoutineRef ? a.value : static_cast<uint64_t>(IntegerOf(a)))));
    case kFloat: return ReturnInt(result, Saturate(AsFloat(a)));
    case kDouble: return ReturnInt(result, Saturate(AsDouble(a)));
    case kText: return ReturnInt(result, ReadDecimal(TextOf(a)));
    default: return ReturnInt(result, 0);
  }
}

void ToByteSet(ArgRecord* result, int count, ArgRecord* args) {
  const ArgRecord& a = At(count, args, 0);
  uint32_t element_type;
  // Arrays first: bit 29 leaves the top bits of a basic TypeCode intact.
  if (IsNumericArray(a, &element_type)) {
    size_t n;
    const uint8_t* bytes = ArrayBytes(a, element_type, &n);
    return ReturnBytes(result, bytes, n);
  }
  if (a.type & kByRefOrArrayBit) return ReturnBytes(result, nullptr, 0);
  if (IsNumericType(a.type) || a.type == kBool || a.type == kDateTime || a.type == kRoutineRef) {
    // The value sits little-endian in the low bytes of the record.
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(a.value >> (8 * i));
    return ReturnBytes(result, bytes, ValueWidth(a.type));
  }
  if (a.type == kText) {
    const char* t = AsText(a);
    return ReturnBytes(result, t, TextLen(t));
  }
  if (a.type == kByteSet) {
    const ByteSetBlock* b = AsByteSet(a);
    return ReturnBytes(result, b ? b->data : nullptr, LengthOf(b));
  }
  *result = ByteSetArg(nullptr);
}

namespace {
const ByteSetBlock* ByteSetOf(const ArgRecord& a) { return a.type == kByteSet ? AsByteSet(a) : nullptr; }
}  // namespace

void ByteSetLengthCmd(ArgRecord* result, int count, ArgRecord* args) {
  ReturnInt(result, static_cast<int64_t>(LengthOf(ByteSetOf(At(count, args, 0)))));
}

void ByteSetLeft(ArgRecord* result, int count, ArgRecord* args) {
  const ByteSetBlock* b = ByteSetOf(At(count, args, 0));
  const int64_t length = static_cast<int64_t>(LengthOf(b));
  int64_t n = IntegerOf(At(count, args, 1));
  n = n < 0 ? 0 : (n > length ? length : n);
  ReturnBytes(result, n ? b->data : nullptr, static_cast<size_t>(n));
}

void ByteSetMid(ArgRecord* result, int count, ArgRecord* args) {
  const ByteSetBlock* b = ByteSetOf(At(count, args, 0));
  const int64_t length = static_cast<int64_t>(LengthOf(b));
  int64_t i = args::OffsetOf(At(count, args, 1));
  i = i < 0 ? 0 : (i > length ? length : i);
  int64_t n = IntegerOf(At(count, args, 2));
  if (n < 0) n = 0;
  if (n > length - i) n = length - i;
  ReturnBytes(result, n ? b->data + i : nullptr, static_cast<size_t>(n));
}

void ZeroByteSet(ArgRecord* result, int count, ArgRecord* args) {
  const int64_t n = IntegerOf(At(count, args, 0));
  *result = ByteSetArg(n < 1 ? nullptr : NewZeroByteSet(static_cast<size_t>(n)));
}

void BitOr(ArgRecord* result, int count, ArgRecord* args) {
  uint32_t v = 0;
  for (int i = 0; i < count; ++i) v |= static_cast<uint32_t>(IntegerOf(args[i]));
  ReturnInt(result, static_cast<int32_t>(v));
}

}  // namespace rt
