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
#include <string>

#include "runtime/core/command_args.h"
#include "runtime/core/commands.h"
#include "runtime/core/gbk_text.h"
#include "runtime/core/memory.h"

namespace rt {
namespace {

using args::At;
using args::IntegerOf;
using args::ReturnInt;

void ReturnText(ArgRecord* result, const std::string& s) {
  *result = TextArg(NewText(s.data(), s.size()));
}
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

std::string Decimal(int64_t v) {
  // Built from the magnitude as unsigned, so INT64_MIN is fine.
  uint64_t m = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  char buf[24];
  char* p = buf + sizeof buf;
  do {
    *--p = static_cast<char>('0' + m % 10);
    m /= 10;
  } while (m);
  if (v < 0) *--p = '-';
  return std::string(p, buf + sizeof buf);
}

// "%.<precision>g" as the Windows C runtime writes it.
std::string FormatG(double v, int precision) {
  if (std::isinf(v)) return v < 0 ? "-1.#INF" : "1.#INF";
  if (std::isnan(v)) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    const bool negative = bits >> 63;
    const uint64_t mantissa = bits & 0xFFFFFFFFFFFFFull;
    if (negative && mantissa == 0x8000000000000ull) return "-1.#IND";  // the default NaN
    const bool quiet = mantissa & 0x8000000000000ull;
    return std::string(negative ? "-" : "") + (quiet ? "1.#QNAN" : "1.#SNAN");
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", precision, v);
  std::string s = buf;
  const size_t e = s.find('e');
  if (e == std::string::npos) return s;
  const size_t digits = e + 2;  // after "e+" or "e-"
  while (s.size() - digits < 3) s.insert(digits, 1, '0');
  return s;
}

// Powers of ten as literals, so both builds use the same correctly rounded
// values (a computed pow may differ in the last bit between C libraries).
const double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                         1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19,
                         1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29,
                         1e30, 1e31, 1e32, 1e33, 1e34, 1e35, 1e36, 1e37, 1e38, 1e39,
                         1e40, 1e41, 1e42, 1e43, 1e44, 1e45, 1e46};

// A float rounded half up to 6 significant decimal digits.
double RoundFloatTo6(float x) {
  if (x == 0.0f || !std::isfinite(x)) return x;
  uint32_t bits;
  std::memcpy(&bits, &x, 4);
  const int e = static_cast<int>((bits >> 23) & 0xFF) - 127;
  int k = static_cast<int>(std::trunc(e * 0.30102999566398120));
  const double mag = std::fabs(static_cast<double>(x));
  auto scale = [&](int k) { return k > 0 ? mag / kPow10[k] : mag * kPow10[-k]; };
  double m = scale(k);
  // One step normally suffices; subnormal floats (exponent field 0) may need
  // more, and without them m would round to nothing.
  while (m >= 10.0 && k < 46) m = scale(++k);
  while (m < 1.0 && k > -46) m = scale(--k);
  const double scaled = m * 100000.0;
  double whole = std::floor(scaled);
  if (scaled - whole >= 0.5) whole += 1.0;
  const double unscaled = whole / 100000.0;
  const double r = k > 0 ? unscaled * kPow10[k] : unscaled / kPow10[-k];
  return x < 0 ? -r : r;
}

int32_t Saturate(double v) {
  if (std::isnan(v)) return 0;
  v = std::trunc(v);
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// atol on a folded text: leading white space, an optional sign, digits.
// Saturates instead of overflowing, as the Windows C runtime's atol does.
int32_t ReadDecimal(const std::string& s) {
  const char* p = s.c_str();
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + (*p - '0');
    if (v > 2147483648LL) v = 2147483648LL;  // stays past the limit once there
  }
  if (negative) v = -v;
  if (v > 2147483647LL) v = 2147483647LL;
  return static_cast<int32_t>(v);
}

}  // namespace

void ToText(ArgRecord* result, int count, ArgRecord* args) {
  const ArgRecord& a = At(count, args, 0);
  uint32_t element_type;
  switch (a.type) {
    case kText: *result = TextArg(CopyText(AsText(a))); return;
    case kByte: case kShort: case kInt: case kLong:
      return ReturnText(result, Decimal(IntegerOf(a)));
    case kFloat: return ReturnText(result, FormatG(RoundFloatTo6(AsFloat(a)), 6));
    case kDouble: return ReturnText(result, FormatG(AsDouble(a), 13));
    case kBool: return ReturnText(result, AsInt(a) ? GBK_TRUE : GBK_FALSE);
    case kDateTime: return ReturnText(result, FormatDateTime(AsDouble(a)));
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
    case kText: return ReturnInt(result, ReadDecimal(FoldFullWidth(AsText(a), false)));
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
  int64_t i = IntegerOf(At(count, args, 1)) - 1;
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
