// Built-in commands of the Runtime core: text, conversion and date-time.
//
// Every command has the built-in form (result, argument count, arguments):
// it reads its arguments by TypeCode (an all-zero record is an omitted
// optional argument), fills the result record the caller zeroed, never pops
// its arguments and never raises a runtime error. Text and ByteSet results
// are new blocks owned by the caller; empty results are null. Positions are
// 1-based byte positions; a search that finds nothing gives -1. Searching,
// replacing, splitting and case commands step over GBK double-byte
// characters; cutting commands cut at bytes.
// May call: memory.h, and the clock seam below for the system clock.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/core/value.h"

namespace rt {

#define RT_COMMAND(name) void name(ArgRecord* result, int count, ArgRecord* args)

// ---- Text commands ----
RT_COMMAND(FindText);         // text, sought, [start], [ignore case: only 1 ignores]
RT_COMMAND(FindTextReverse);  // text, sought, [start], [ignore case]
RT_COMMAND(TextLengthCmd);    // text -> Int
RT_COMMAND(LeftText);         // text, n
RT_COMMAND(RightText);        // text, n
RT_COMMAND(MidText);          // text, start, n
RT_COMMAND(CharText);         // code
RT_COMMAND(CharCode);         // text, [position]
RT_COMMAND(ToUpperText);
RT_COMMAND(ToLowerText);
RT_COMMAND(TrimBlanks);
RT_COMMAND(RemoveAllBlanks);
RT_COMMAND(ReplaceSubtext);   // text, sought, [replacement], [start], [count], [case-sensitive]
RT_COMMAND(SplitText);        // text, [delimiter], [maximum] -> array of Text
RT_COMMAND(SpaceText);        // n

// ---- Conversion commands ----
RT_COMMAND(ToText);           // any value -> Text
RT_COMMAND(ToInt);            // any value -> Int
RT_COMMAND(ToByteSet);        // any value -> ByteSet
RT_COMMAND(ByteSetLengthCmd);
RT_COMMAND(ByteSetLeft);      // bytes, n
RT_COMMAND(ByteSetMid);       // bytes, start, n
RT_COMMAND(ZeroByteSet);      // n
RT_COMMAND(BitOr);            // two or more Int values

// ---- Date-time commands ----
RT_COMMAND(GetCurrentDateTime);  // -> DateTime, whole seconds
RT_COMMAND(DateTimeToText);      // DateTime -> Text
RT_COMMAND(ToDateTime);          // Text or DateTime -> DateTime
RT_COMMAND(SetCurrentDateTime);  // DateTime -> Bool

#undef RT_COMMAND

// ---- Date-time model, shared with other parts ----
constexpr double kMinDateTime = -657434.0;  // 0100-01-01, also the invalid marker
constexpr double kMaxDateTime = 2958465.0;  // 9999-12-31

struct CalendarFields {
  int year, month, day, hour, minute, second;
  int day_of_week;  // 0 = Sunday
};
double ClampDateTime(double d);  // NaN and larger -> max, smaller -> min
CalendarFields BreakDateTime(double d);  // clamps first, rounds to the second
bool FieldsToDateTime(const CalendarFields& f, double* out);  // false when out of range
double ParseDateTime(const char* text);              // kMinDateTime when it does not parse

// The "%d年%d月%d日..." text of a DateTime, written into a fixed buffer (the
// longest, 9999年12月31日23时59分59秒, takes 26 bytes); returns its length.
constexpr size_t kDateTextSize = 32;
size_t WriteDateTime(double d, char (&out)[kDateTextSize]);
std::string FormatDateTime(double d);  // the same as a std::string (tests, tools)

// Full-width folding of GBK texts, one character at a time: the character
// at t[i] (before the terminator) is `length` bytes long and folds to the
// ASCII byte `folded`, or stays as it is when `folded` is 0.
struct FoldedChar {
  char folded;
  unsigned char length;
};
FoldedChar FoldAt(const unsigned char* t, size_t i);
// The folded text (the variant with drop_blanks also drops ASCII and folded
// blanks) as a std::string, for tests and tools: the commands fold as they
// read, with FoldAt, and allocate nothing for it.
std::string FoldFullWidth(const char* text, bool drop_blanks);

// Clock seam: SetCurrentDateTime hands the calendar fields here. The default
// calls the platform (SetLocalTime twice on Windows, see datetime.cpp;
// natively it refuses). Tests install their own and restore the default.
using SetClockFn = bool (*)(const CalendarFields& fields);
SetClockFn SetClockHook(SetClockFn fn);  // returns the previous hook
bool PlatformSetLocalClock(const CalendarFields& fields);

}  // namespace rt
