#include "program/text_ops.h"

#include "program/program_support.h"
#include "runtime/core/commands.h"

namespace prog {
namespace {

using rt::ArgRecord;

// The empty ByteSet that stands in for null where a command takes a ByteSet.
const rt::ByteSetBlock* EmptyByteSet() {
  static const rt::ByteSetBlock empty{1, 0, {0}};
  return &empty;
}

ArgRecord T(const char* text) { return rt::TextArg(Or(text)); }
ArgRecord B(const rt::ByteSetBlock* bytes) { return rt::ByteSetArg(bytes ? bytes : EmptyByteSet()); }
ArgRecord I(int32_t v) { return rt::IntArg(v); }

OwnedText TextResult(rt::BuiltinCommand cmd, std::initializer_list<ArgRecord> args) {
  return prog::TakeText(prog::Call(cmd, args));
}
OwnedBytes BytesResult(rt::BuiltinCommand cmd, std::initializer_list<ArgRecord> args) {
  return OwnedBytes(rt::AsPtr<rt::ByteSetBlock>(prog::Call(cmd, args)));
}

}  // namespace

int32_t Find(const char* text, const char* sought, int32_t start, bool ignore_case) {
  ArgRecord s = start > 0 ? I(start) : rt::OmittedArg();
  ArgRecord c = ignore_case ? rt::BoolArg(true) : rt::OmittedArg();
  return rt::AsInt(prog::Call(rt::FindText, {T(text), T(sought), s, c}));
}

int32_t FindReverse(const char* text, const char* sought, int32_t start) {
  if (start == 0) return rt::AsInt(prog::Call(rt::FindTextReverse, {T(text), T(sought)}));
  return rt::AsInt(prog::Call(rt::FindTextReverse, {T(text), T(sought), I(start)}));
}

OwnedText Left(const char* text, int32_t n) { return TextResult(rt::LeftText, {T(text), I(n)}); }
OwnedText Right(const char* text, int32_t n) { return TextResult(rt::RightText, {T(text), I(n)}); }
OwnedText Mid(const char* text, int32_t start, int32_t n) {
  return TextResult(rt::MidText, {T(text), I(start), I(n)});
}
OwnedText Upper(const char* text) { return TextResult(rt::ToUpperText, {T(text)}); }
OwnedText Lower(const char* text) { return TextResult(rt::ToLowerText, {T(text)}); }
OwnedText Trim(const char* text) { return TextResult(rt::TrimBlanks, {T(text)}); }
OwnedText RemoveBlanks(const char* text) { return TextResult(rt::RemoveAllBlanks, {T(text)}); }
OwnedText Replace(const char* text, const char* sought, const char* replacement, bool case_sensitive) {
  return TextResult(rt::ReplaceSubtext, {T(text), T(sought), T(replacement), rt::OmittedArg(),
                                         rt::OmittedArg(), rt::BoolArg(case_sensitive)});
}
OwnedText Spaces(int32_t n) { return TextResult(rt::SpaceText, {I(n)}); }
OwnedText CopyOf(const char* text) { return TextResult(rt::ToText, {T(text)}); }
int32_t TextToInt(const char* text) { return rt::AsInt(prog::Call(rt::ToInt, {T(text)})); }
OwnedText BytesToText(const rt::ByteSetBlock* bytes) { return TextResult(rt::ToText, {B(bytes)}); }
OwnedBytes TextToBytes(const char* text) { return BytesResult(rt::ToByteSet, {T(text)}); }
OwnedBytes BytesMid(const rt::ByteSetBlock* bytes, int32_t start, int32_t n) {
  return BytesResult(rt::ByteSetMid, {B(bytes), I(start), I(n)});
}
OwnedBytes ZeroBytes(int32_t n) { return BytesResult(rt::ZeroByteSet, {I(n)}); }

namespace {

size_t TotalLength(std::initializer_list<const char*> parts) {
  size_t total = 0;
  for (const char* p : parts) total += static_cast<size_t>(Len(p));
  return total;
}

// Writes the parts one after another from `w` and ends them with a zero.
void WriteParts(char* w, std::initializer_list<const char*> parts) {
  for (const char* p : parts) {
    size_t n = static_cast<size_t>(Len(p));
    if (n) std::memcpy(w, p, n);
    w += n;
  }
  *w = '\0';
}

}  // namespace

OwnedText Concat(std::initializer_list<const char*> parts) {
  const size_t total = TotalLength(parts);
  if (total == 0) return OwnedText();
  auto* out = static_cast<char*>(prog::Allocate(static_cast<uint32_t>(total + 1)));
  WriteParts(out, parts);
  return OwnedText(out);
}

void Append(OwnedText& text, std::initializer_list<const char*> parts) {
  const size_t old_len = static_cast<size_t>(Len(text)), extra = TotalLength(parts);
  if (extra == 0) return;
  // Grown in place: a header block built line by line stays linear.
  auto* out = static_cast<char*>(prog::Reallocate(text.release(), static_cast<uint32_t>(old_len + extra + 1)));
  WriteParts(out + old_len, parts);
  text.reset(out);
}

TextList Split(const char* text, const char* delimiter) {
  ArgRecord r = prog::Call(rt::SplitText, {T(text), T(delimiter)});
  prog::OwnedArray array(rt::AsPtr<rt::ArrayBlock>(r));
  TextList list;
  rt::ArrayBlock* a = array.get();
  if (!a) return list;
  char** items = ElementsOf<char*>(a);
  for (int32_t i = 0, n = ElementCount(a); i < n; ++i) list.push_back(OwnedText(items[i]));
  return list;  // the array block itself is freed by `array`
}

}  // namespace prog
