// Value model of the Runtime: TypeCodes, the 12-byte ArgRecord and the block
// layouts of Text, ByteSet and arrays.
//
// Owns: nothing at run time; this header only fixes layouts that compiled
// program code and every built-in command read and write directly.
// Ownership rule: every Text, ByteSet and array a command returns is a new
// heap block owned by the receiver, who frees it with FreeBlock (memory.h).
// Empty results are null, never empty blocks. Texts in the constants block
// are never freed (FreeBlock ignores them).
// May call: nothing. Portable: builds natively and for i686 Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rt {

// 32-bit type codes. Top bits 10: basic types; 01: program-defined types;
// otherwise library number (high 16 bits) and type number (low 16 bits).
enum TypeCode : uint32_t {
  kNoType = 0,
  kByte = 0x80000101,
  kShort = 0x80000201,
  kInt = 0x80000301,
  kLong = 0x80000401,
  kFloat = 0x80000501,
  kDouble = 0x80000601,
  kBool = 0x80000002,
  kDateTime = 0x80000003,
  kText = 0x80000004,
  kByteSet = 0x80000005,
  kRoutineRef = 0x80000006,
  kUnsettled8 = 0x80000008,  // carried as 8 bytes; meaning not settled
  kComObject = 0x00010030,
  kVariant = 0x00010031,
};

// Bit 29 marks an argument that is not a plain value of the remaining type:
// an array of that type (conversion commands) or a reference to the caller's
// variable (COM commands).
constexpr uint32_t kByRefOrArrayBit = 0x20000000;

constexpr bool IsBasicType(uint32_t t) { return (t & 0xC0000000u) == 0x80000000u; }
constexpr bool IsNumericType(uint32_t t) {
  return IsBasicType(t) && (t & 0xFFu) == 0x01u && ((t >> 8) & 0xFFu) >= 1 &&
         ((t >> 8) & 0xFFu) <= 6;
}

#pragma pack(push, 4)
// The unit in which built-in commands receive arguments and return a result.
// A 4-byte value sits in the low half of `value` and the high half is 0.
// An all-zero record is an omitted optional argument.
struct ArgRecord {
  uint64_t value;
  uint32_t type;
};
#pragma pack(pop)
static_assert(sizeof(ArgRecord) == 12, "ArgRecord is 12 bytes");
static_assert(offsetof(ArgRecord, type) == 8, "TypeCode follows the 8-byte value");

// Texts are zero-terminated GBK strings in a heap block, or null (= empty).
using Text = char*;

// ByteSet block: dimension count (always 1), length, then the bytes.
struct ByteSetBlock {
  int32_t dims;
  int32_t length;
  uint8_t data[1];  // `length` bytes follow
};
static_assert(offsetof(ByteSetBlock, length) == 4, "ByteSet length at +4");
static_assert(offsetof(ByteSetBlock, data) == 8, "ByteSet data at +8");
constexpr uint32_t kByteSetHeader = 8;

// Array block: dimension count d, d dimension sizes, then the elements in
// their type's value width (Text, ByteSet and objects as 4-byte references on
// the target; pointer-sized natively).
struct ArrayBlock {
  int32_t dims;
  int32_t sizes[1];  // `dims` entries, then the elements
};
static_assert(offsetof(ArrayBlock, sizes) == 4, "array sizes at +4");

// Basic types and their value widths (the generic size rule).
constexpr uint32_t ValueWidth(uint32_t type) {
  switch (type) {
    case kByte: return 1;
    case kShort: return 2;
    case kInt: case kFloat: case kBool: case kRoutineRef: return 4;
    case kLong: case kDouble: case kDateTime: case kUnsettled8: return 8;
    case kText: case kByteSet: return sizeof(void*);
    default: return sizeof(void*);
  }
}

// ---- ArgRecord construction and access (plain, no allocation) ----
inline ArgRecord MakeArg(uint32_t type, uint64_t bits) { return ArgRecord{bits, type}; }
inline ArgRecord IntArg(int32_t v) { return MakeArg(kInt, static_cast<uint32_t>(v)); }
inline ArgRecord BoolArg(bool v) { return MakeArg(kBool, v ? 1u : 0u); }
inline ArgRecord PtrArg(uint32_t type, const void* p) {
  return MakeArg(type, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)));
}
inline ArgRecord TextArg(const char* t) { return PtrArg(kText, t); }
inline ArgRecord ByteSetArg(const ByteSetBlock* b) { return PtrArg(kByteSet, b); }
inline ArgRecord DoubleArg(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  return MakeArg(kDouble, bits);
}
inline ArgRecord DateTimeArg(double d) {
  ArgRecord a = DoubleArg(d);
  a.type = kDateTime;
  return a;
}
inline ArgRecord FloatArg(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return MakeArg(kFloat, bits);
}
inline ArgRecord LongArg(int64_t v) { return MakeArg(kLong, static_cast<uint64_t>(v)); }
inline ArgRecord OmittedArg() { return ArgRecord{0, 0}; }

inline bool IsOmitted(const ArgRecord& a) { return a.type == kNoType; }
inline int32_t AsInt(const ArgRecord& a) { return static_cast<int32_t>(static_cast<uint32_t>(a.value)); }
inline double AsDouble(const ArgRecord& a) {
  double d;
  std::memcpy(&d, &a.value, 8);
  return d;
}
inline float AsFloat(const ArgRecord& a) {
  uint32_t lo = static_cast<uint32_t>(a.value);
  float f;
  std::memcpy(&f, &lo, 4);
  return f;
}
template <typename T>
inline T* AsPtr(const ArgRecord& a) {
  return reinterpret_cast<T*>(static_cast<uintptr_t>(a.value));
}
inline const char* AsText(const ArgRecord& a) { return AsPtr<const char>(a); }
inline const ByteSetBlock* AsByteSet(const ArgRecord& a) { return AsPtr<const ByteSetBlock>(a); }

// Built-in commands: (result, argument count, first argument). C calling
// convention; the caller zeroes the result and removes the arguments.
using BuiltinCommand = void (*)(ArgRecord* result, int count, ArgRecord* args);

}  // namespace rt
