// Code-page conversion of the web client: UTF-8 replies to GBK texts by way
// of UTF-16, with MultiByteToWideChar and WideCharToMultiByte reached
// through the DLL command table (web_dll.h).
//
// A UTF-16 text travels as a ByteSet of little-endian 16-bit units ended by
// a zero unit (possibly followed by more zero units).
// Ownership: results are new blocks (null when empty) owned by the caller;
// the arguments are only read.
// Failure: none reported. Empty input gives an empty result; characters GBK
// cannot hold become the code page's default character; input that does
// not convert gives an empty result rather than a partial one.
// May call: the entry table (prog::), web/web_dll.h (its DLL command rows).
#pragma once

#include <cstdint>
#include <optional>

#include "program/text_ops.h"

namespace web {

// The program side's text helpers, by their plain names.
using namespace prog;

constexpr int32_t kCodePageAnsi = 0;     // CP_ACP
constexpr int32_t kCodePageUtf8 = 65001;  // CP_UTF8
constexpr int32_t kCodePageGbk = 936;

// A UTF-8 text as a GBK text.
OwnedText Utf8ToAnsi(const char* text);
inline OwnedText Utf8ToAnsi(const OwnedText& text) { return Utf8ToAnsi(text.get()); }

// A multibyte text (default UTF-8) as UTF-16 units; always ends with a zero
// unit when not empty. The program side's one conversion to UTF-16: the
// Runtime's (rt::AnsiToBstr) calls the platform directly, which program code
// never does.
OwnedBytes MultiByteToUtf16(const char* text, std::optional<int32_t> code_page = std::nullopt);
// UTF-16 units (up to the first zero unit, or all of them when the ByteSet
// holds none) as a multibyte text (default the system ANSI code page).
OwnedText Utf16ToMultiByte(const rt::ByteSetBlock* units,
                           std::optional<int32_t> code_page = std::nullopt);

}  // namespace web
