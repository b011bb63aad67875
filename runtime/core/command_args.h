// Argument reading shared by the built-in commands (internal to
// runtime/core). Arguments past the count read as omitted, so a short call
// never reads beyond the caller's array; an argument of another type reads
// as empty or 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/core/value.h"

namespace rt {
namespace args {

inline const ArgRecord& At(int count, const ArgRecord* args, int i) {
  static const ArgRecord kAbsent{0, 0};
  return (args && i < count) ? args[i] : kAbsent;
}

inline const char* TextOf(const ArgRecord& a) {
  const char* t = a.type == kText ? AsText(a) : nullptr;
  return t ? t : "";
}

// Whole-number arguments (Byte, Short, Int, Bool, Long); others read 0.
inline int64_t IntegerOf(const ArgRecord& a) {
  switch (a.type) {
    case kByte: return static_cast<uint8_t>(a.value);
    case kShort: return static_cast<int16_t>(static_cast<uint16_t>(a.value));
    case kInt: case kBool: return AsInt(a);
    case kLong: return static_cast<int64_t>(a.value);
    default: return 0;
  }
}

// 0-based offset of a 1-based position argument. Every position below 1
// gives -1, so the subtraction never overflows (a Long of -2^63 included).
inline int64_t OffsetOf(const ArgRecord& a) {
  const int64_t p = IntegerOf(a);
  return p < 1 ? -1 : p - 1;
}

// Length of the GBK character starting at t[i], which lies before the
// terminator: 2 for a byte of 0x80 or above with a byte after it, else 1 (a
// lead byte right before the terminator is a character of its own).
inline size_t CharLen(const unsigned char* t, size_t i) {
  return (t[i] >= 0x80 && t[i + 1] != 0) ? 2 : 1;
}

inline void ReturnInt(ArgRecord* result, int64_t v) { *result = IntArg(static_cast<int32_t>(v)); }

}  // namespace args
}  // namespace rt
