// Checks on what the JSON object pastes into script text. The object's data
// lives in a script engine and every operation is script text, so anything
// that came from outside (a server's reply, a key, a value) is checked here
// before it can reach the engine, and only text that cannot act as code
// passes.
//
// Texts are in the program's code page (GBK): a byte of 0x81 to 0xFE starts
// a two-byte character. The checks read them that way and refuse a pair
// whose second byte is a backslash, so a text means the same thing to these
// checks whether the engine's conversion reads it as GBK or byte by byte.
// Portable; linear time; no recursion.
#pragma once

#include <cstddef>

namespace json {

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
// and GBK characters, not starting with a digit.
bool IsMemberPath(const char* key);

// True when the value can sit between single quotes as a script string:
// no quote, backslash or line break, and well-formed GBK.
bool IsPlainQuotable(const char* value);

}  // namespace json
