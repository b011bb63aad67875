// Program-side text helpers of the web client: thin calls of the Runtime's
// built-in text and conversion commands through the entry table, plus the
// few things compiled code does inline (length, comparison, concatenation).
//
// Ownership: every OwnedText/OwnedBytes/TextList returned here is a new
// block (or null for empty) owned by the caller and freed through the
// FreeBlock slot. Arguments are only lent. A null text is passed to a
// command as an empty constant text, never as null.
// May call: the entry table (prog::) and the layouts of value.h.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "program/program_calls.h"
#include "runtime/core/value.h"

namespace prog {


inline const char* Or(const char* t) { return t ? t : ""; }
inline const char* Or(const OwnedText& t) { return prog::Str(t); }
inline int32_t Len(const char* t) { return t ? static_cast<int32_t>(std::strlen(t)) : 0; }
inline int32_t Len(const OwnedText& t) { return Len(t.get()); }
inline bool Empty(const char* t) { return !t || !t[0]; }
inline bool Empty(const OwnedText& t) { return Empty(t.get()); }
// Exact byte comparison; null equals the empty text.
inline bool Same(const char* a, const char* b) { return std::strcmp(Or(a), Or(b)) == 0; }
inline int32_t BytesLen(const rt::ByteSetBlock* b) { return b ? b->length : 0; }

// ---- built-in commands ----
int32_t Find(const char* text, const char* sought, int32_t start = 0, bool ignore_case = false);
int32_t FindReverse(const char* text, const char* sought, int32_t start = 0);  // 0: whole text
OwnedText Left(const char* text, int32_t n);
OwnedText Right(const char* text, int32_t n);
OwnedText Mid(const char* text, int32_t start, int32_t n);
OwnedText Upper(const char* text);
OwnedText Lower(const char* text);
OwnedText Trim(const char* text);
OwnedText RemoveBlanks(const char* text);
// Replaces every occurrence; case_sensitive false ignores ASCII case.
OwnedText Replace(const char* text, const char* sought, const char* replacement, bool case_sensitive);
OwnedText Spaces(int32_t n);
OwnedText CopyOf(const char* text);
int32_t TextToInt(const char* text);
OwnedText BytesToText(const rt::ByteSetBlock* bytes);  // stops at the first zero byte
OwnedBytes TextToBytes(const char* text);              // without the terminator
OwnedBytes BytesMid(const rt::ByteSetBlock* bytes, int32_t start, int32_t n);
OwnedBytes ZeroBytes(int32_t n);

// ---- inline work of compiled code ----
OwnedText Concat(std::initializer_list<const char*> parts);
// Appends to a text variable (the old block is freed).
void Append(OwnedText& text, std::initializer_list<const char*> parts);

// The pieces of SplitText, owned; null pieces stay null.
class TextList {
 public:
  TextList() = default;
  TextList(TextList&&) = default;
  TextList& operator=(TextList&&) = default;
  int32_t size() const { return static_cast<int32_t>(items_.size()); }
  const char* operator[](int32_t i) const { return items_[static_cast<size_t>(i)].get(); }
  void push_back(OwnedText t) { items_.push_back(std::move(t)); }

 private:
  std::vector<OwnedText> items_;
};
TextList Split(const char* text, const char* delimiter);

}  // namespace prog
