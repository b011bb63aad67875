// Checks on what the JSON object pastes into script text. The object's data
// lives in a script engine and every operation is script text, so anything
// that came from outside (a server's reply, a key, a value) is checked here
// before it can reach the engine, and only text that cannot act as code
// passes.
//
// Texts are in the program's code page (936, GBK) and reach the engine
// through the platform's conversion of that code page. The checks read a
// text exactly as that conversion does (GbkCharLength), so what they see as
// one character is one character to the engine: a pair whose second byte is
// 0x5C is a character, never a backslash, and 0x80 is the euro sign. Bytes
// the conversion refuses are refused.
// Portable; linear time; no recursion.
#pragma once

#include <cstddef>

namespace json {

// Bytes of the character at p as code page 936 reads it: 1 for a byte up
// to 0x80, 2 for a lead byte 0x81..0xFE followed by 0x40..0x7E or
// 0x80..0xFE, and 0 for anything else (a lead byte without such a second
// byte, 0xFF), which the conversion cannot read.
size_t GbkCharLength(const unsigned char* p);

// Whether the two-byte character at p (GbkCharLength 2) is a letter the
// engine reads as part of a name: the ideographs, the kana, and the Latin,
// Greek and Cyrillic letters of the code page. Never a blank, a digit or
// punctuation.
bool IsGbkNameCharacter(const unsigned char* p);

constexpr size_t kMaxJsonBytes = 16u * 1024u * 1024u;
// The script engine compiles nested literals recursively: keep deep replies
// away from it.
constexpr int kMaxJsonDepth = 512;

// True when the text is exactly one well-formed JSON value (RFC 8259;
// numbers must fit a double), at most kMaxJsonBytes long and nested at most
// kMaxJsonDepth deep. Null is not JSON.
bool IsSafeJson(const char* text);
bool IsSafeJson(const char* text, size_t length);

// True when the key is a member path: a name, or a subscript of digits or a
// quoted name, followed by more ".name" or subscripts, such as sysTime2,
// a.b, list[2], [0] or a["x y"]. Names are ASCII letters, digits, "_", "$"
// and GBK letters (IsGbkNameCharacter), not starting with a digit.
bool IsMemberPath(const char* key);

// True when the value can sit between single quotes as a script string:
// no quote, backslash or line break, and every byte readable as code page
// 936.
bool IsPlainQuotable(const char* value);

}  // namespace json
