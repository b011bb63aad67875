// Built-in text commands: searching, cutting, case, blanks, replacing and
// splitting of GBK texts.
//
// Walks step over a byte of 0x80 or above together with the byte after it, so
// a match never starts on the second byte of a character; a lead byte right
// before the terminator is treated as a one-byte character and ends the walk,
// so no walk ever reads past the terminator. Cutting commands cut at bytes.
// Every size goes through BlockSize (via NewText/NewArray or directly).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/core/command_args.h"
#include "runtime/core/commands.h"
#include "runtime/core/memory.h"

namespace rt {
namespace {

using args::At;
using args::CharLen;
using args::IntegerOf;
using args::OffsetOf;
using args::ReturnInt;
using args::TextOf;
void ReturnText(ArgRecord* result, Text t) { *result = TextArg(t); }

inline unsigned char FoldCase(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// Compares n nonzero sought bytes; stops at the first difference, so the
// text's terminator ends the comparison and nothing past it is read.
bool SameIgnoringCase(const unsigned char* a, const unsigned char* b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

constexpr size_t kNone = static_cast<size_t>(-1);
constexpr size_t kToEnd = static_cast<size_t>(-1);  // a range up to the terminator

// Matcher for one sought text: exact or ASCII-case-insensitive.
struct Matcher {
  const unsigned char* sought;
  size_t len;
  bool ignore_case;
  unsigned char first, first_other;  // first byte in both cases

  Matcher(const char* s, size_t n, bool ignore)
      : sought(reinterpret_cast<const unsigned char*>(s)), len(n), ignore_case(ignore) {
    first = sought[0];
    first_other = first;
    if (ignore && first >= 'a' && first <= 'z') first_other = static_cast<unsigned char>(first - 32);
    if (ignore && first >= 'A' && first <= 'Z') first_other = static_cast<unsigned char>(first + 32);
  }
  // Whether the sought text starts at p; p lies before the terminator and a
  // shorter rest of the text simply does not match.
  bool StartsAt(const unsigned char* p) const {
    if (*p != first && *p != first_other) return false;
    if (ignore_case) return SameIgnoringCase(p, sought, len);
    // Short texts are compared inline; past the first bytes strncmp, which
    // also stops at the terminator.
    size_t k = 1;
    for (; k < len && k < 16; ++k)
      if (p[k] != sought[k]) return false;
    return k == len || std::strncmp(reinterpret_cast<const char*>(p + k),
                                    reinterpret_cast<const char*>(sought + k), len - k) == 0;
  }
  // First match at a character start i >= from with i + len <= end, where
  // `from` is a character start; end is either at most the text's length or
  // kToEnd, which searches up to the terminator without knowing the length.
  size_t Next(const unsigned char* t, size_t from, size_t end) const;
};

size_t Matcher::Next(const unsigned char* t, size_t from, size_t end) const {
  size_t i = from;
  if (first != first_other) {  // a letter sought in either case
    for (; (end == kToEnd || i + len <= end) && t[i]; i += CharLen(t, i))
      if (StartsAt(t + i)) return i;
    return kNone;
  }
  // Exact search jumps to candidates for the first byte (memchr in a known
  // range, strchr up to the terminator: one pass either way). A byte below
  // 0x80 always ends a character (alone or as a second byte), so the
  // character starts before a candidate are rebuilt from the last such byte,
  // never from the text's start; each byte is still looked at a bounded
  // number of times.
  for (;;) {
    const void* hit;
    if (end == kToEnd) {
      hit = std::strchr(reinterpret_cast<const char*>(t + i), first);
    } else {
      if (i + len > end) return kNone;
      hit = std::memchr(t + i, first, end - len + 1 - i);
    }
    if (!hit) return kNone;
    const size_t j = static_cast<size_t>(static_cast<const unsigned char*>(hit) - t);
    size_t k = j;
    while (k > i && t[k - 1] >= 0x80) --k;
    while (k < j) k += CharLen(t, k);
    if (k == j) {
      if (StartsAt(t + j)) return j;
      k = j + CharLen(t, j);
    }
    i = k;  // the character start after the candidate
  }
}

inline const unsigned char* Bytes(const char* t) { return reinterpret_cast<const unsigned char*>(t); }

// The blank at i, as its length in bytes (0 when there is none): ASCII space
// or the ideographic space 0xA1A1. A lone 0xA1 is an ordinary character.
inline size_t BlankAt(const unsigned char* t, size_t i, size_t len) {
  if (t[i] == ' ') return 1;
  if (t[i] == 0xA1 && i + 1 < len && t[i + 1] == 0xA1) return 2;
  return 0;
}

// 0-based start from a 1-based position argument: absent or below 1 gives 0.
int64_t StartOffset(const ArgRecord& a) {
  if (IsOmitted(a)) return 0;
  const int64_t s = OffsetOf(a);
  return s < 0 ? 0 : s;
}

// min(text length, max), reading no further than either.
size_t LengthUpTo(const char* text, int64_t max) {
  if (max <= 0) return 0;
  constexpr uint64_t kCap = PTRDIFF_MAX;
  const uint64_t cap = static_cast<uint64_t>(max) < kCap ? static_cast<uint64_t>(max) : kCap;
  return strnlen(text, static_cast<size_t>(cap));
}

}  // namespace

// The searches never measure the whole text: they run up to the terminator
// (or the end of the range), so a hit near the start costs little and a miss
// costs one pass.
void FindText(ArgRecord* result, int count, ArgRecord* args) {
  const char* text = TextOf(At(count, args, 0));
  const char* sought = TextOf(At(count, args, 1));
  const int64_t s = StartOffset(At(count, args, 2));
  const bool ignore = IntegerOf(At(count, args, 3)) == 1;
  if (static_cast<int64_t>(LengthUpTo(text, s + 1)) <= s) return ReturnInt(result, -1);  // s >= L
  const size_t F = std::strlen(sought);
  if (F == 0) return ReturnInt(result, 1);
  Matcher m(sought, F, ignore);
  const size_t i = m.Next(Bytes(text), static_cast<size_t>(s), kToEnd);
  ReturnInt(result, i == kNone ? -1 : static_cast<int64_t>(i) + 1);
}

void FindTextReverse(ArgRecord* result, int count, ArgRecord* args) {
  const char* text = TextOf(At(count, args, 0));
  const char* sought = TextOf(At(count, args, 1));
  const ArgRecord& start = At(count, args, 2);
  // The searched range: the first min(start - 1, L) bytes, or all of them.
  const size_t range = IsOmitted(start) ? kToEnd : LengthUpTo(text, OffsetOf(start));
  const bool ignore = IntegerOf(At(count, args, 3)) == 1;
  const size_t F = std::strlen(sought);
  if (F == 0) return ReturnInt(result, (range == kToEnd ? text[0] != '\0' : range > 0) ? 1 : -1);
  // Character starts are only known walking forwards; remember the last hit.
  const unsigned char* t = Bytes(text);
  Matcher m(sought, F, ignore);
  int64_t found = -1;
  for (size_t i = m.Next(t, 0, range); i != kNone; i = m.Next(t, i + CharLen(t, i), range))
    found = static_cast<int64_t>(i) + 1;
  ReturnInt(result, found);
}

void TextLengthCmd(ArgRecord* result, int count, ArgRecord* args) {
  ReturnInt(result, static_cast<int64_t>(std::strlen(TextOf(At(count, args, 0)))));
}

void LeftText(ArgRecord* result, int count, ArgRecord* args) {
  const char* text = TextOf(At(count, args, 0));
  const int64_t n = IntegerOf(At(count, args, 1));
  ReturnText(result, NewText(text, LengthUpTo(text, n)));  // reads no further than n bytes
}

void RightText(ArgRecord* result, int count, ArgRecord* args) {
  const char* text = TextOf(At(count, args, 0));
  const int64_t n = IntegerOf(At(count, args, 1));
  if (n < 1) return ReturnText(result, nullptr);
  const size_t L = std::strlen(text);
  const size_t take = static_cast<uint64_t>(n) < L ? static_cast<size_t>(n) : L;
  ReturnText(result, NewText(text + (L - take), take));
}

void MidText(ArgRecord* result, int count, ArgRecord* args) {
  const char* text = TextOf(At(count, args, 0));
  const int64_t i = OffsetOf(At(count, args, 1));
  const int64_t n = IntegerOf(At(count, args, 2));
  const int64_t L = static_cast<int64_t>(std::strlen(text));
  if (i < 0 || i >= L || n < 1) return ReturnText(result, nullptr);
  const int64_t take = n < L - i ? n : L - i;
  ReturnText(result, NewText(text + i, static_cast<size_t>(take)));
}

void CharText(ArgRecord* result, int count, ArgRecord* args) {
  // Only the low byte counts; a code whose low byte is 0 (256, say) would
  // otherwise give a block holding just the terminator, so it is empty too.
  const char c = static_cast<char>(IntegerOf(At(count, args, 0)) & 0xFF);
  ReturnText(result, c ? NewText(&c, 1) : nullptr);
}

void CharCode(ArgRecord* result, int count, ArgRecord* args) {
  const char* text = TextOf(At(count, args, 0));
  const ArgRecord& pos = At(count, args, 1);
  const int64_t p = IsOmitted(pos) ? 1 : IntegerOf(pos);
  const int64_t L = static_cast<int64_t>(std::strlen(text));
  if (p < 1 || p > L) return ReturnInt(result, 0);
  // Sign-extended, as the byte's char value: 0xC4 gives -60.
  ReturnInt(result, static_cast<signed char>(text[p - 1]));
}

namespace {

// Copy with ASCII letters of one case changed; pairs stay as they are.
Text ChangeCase(const char* text, bool upper) {
  const size_t L = std::strlen(text);
  Text out = NewText(text, L);
  if (!out) return nullptr;
  auto* t = reinterpret_cast<unsigned char*>(out);
  for (size_t i = 0; i < L;) {
    const size_t n = CharLen(t, i);
    if (n == 1) {
      if (upper && t[i] >= 'a' && t[i] <= 'z') t[i] = static_cast<unsigned char>(t[i] - 32);
      if (!upper && t[i] >= 'A' && t[i] <= 'Z') t[i] = static_cast<unsigned char>(t[i] + 32);
    }
    i += n;
  }
  return out;
}

}  // namespace

void ToUpperText(ArgRecord* result, int count, ArgRecord* args) {
  ReturnText(result, ChangeCase(TextOf(At(count, args, 0)), true));
}

void ToLowerText(ArgRecord* result, int count, ArgRecord* args) {
  ReturnText(result, ChangeCase(TextOf(At(count, args, 0)), false));
}

void TrimBlanks(ArgRecord* result, int count, ArgRecord* args) {
  const char* text = TextOf(At(count, args, 0));
  const unsigned char* t = Bytes(text);
  const size_t L = std::strlen(text);
  size_t begin = 0;
  while (begin < L) {
    const size_t b = BlankAt(t, begin, L);
    if (!b) break;
    begin += b;
  }
  // The trailing run is found walking forwards, so that the second byte of a
  // character is never mistaken for a blank.
  size_t end = begin;
  for (size_t i = begin; i < L;) {
    const size_t b = BlankAt(t, i, L);
    const size_t n = b ? b : CharLen(t, i);
    i += n;
    if (!b) end = i;
  }
  ReturnText(result, NewText(text + begin, end - begin));
}

void RemoveAllBlanks(ArgRecord* result, int count, ArgRecord* args) {
  const char* text = TextOf(At(count, args, 0));
  const unsigned char* t = Bytes(text);
  const size_t L = std::strlen(text);
  // One walk to measure, one to copy: the result is the only block made.
  auto walk = [&](auto&& keep) {
    for (size_t i = 0; i < L;) {
      const size_t b = BlankAt(t, i, L);
      const size_t n = b ? b : CharLen(t, i);
      if (!b) keep(i, n);
      i += n;
    }
  };
  size_t kept = 0;
  walk([&](size_t, size_t n) { kept += n; });
  if (kept == 0) return ReturnText(result, nullptr);
  if (kept == L) return ReturnText(result, NewText(text, L));
  auto* out = static_cast<char*>(AllocateBlock(BlockSize(1, static_cast<int64_t>(kept), 1)));
  char* w = out;
  walk([&](size_t i, size_t n) { std::memcpy(w, text + i, n), w += n; });
  *w = '\0';
  ReturnText(result, out);
}

void ReplaceSubtext(ArgRecord* result, int count, ArgRecord* args) {
  const char* text = TextOf(At(count, args, 0));
  const char* sought = TextOf(At(count, args, 1));
  const char* replacement = TextOf(At(count, args, 2));
  const int64_t s = StartOffset(At(count, args, 3));
  const ArgRecord& count_arg = At(count, args, 4);
  // Any negative count means every occurrence: only -1 is documented, and
  // counting another negative value down would never reach 0 in practice.
  int64_t remaining = IsOmitted(count_arg) ? -1 : IntegerOf(count_arg);
  if (remaining < 0) remaining = -1;
  const bool keep_case = IntegerOf(At(count, args, 5)) != 0;
  const size_t L = std::strlen(text), F = std::strlen(sought), R = std::strlen(replacement);
  if (L == 0 || F == 0 || s >= static_cast<int64_t>(L) || remaining == 0)
    return ReturnText(result, CopyText(text));

  const unsigned char* t = Bytes(text);
  Matcher m(sought, F, !keep_case);
  // Calls on_match(offset) for each occurrence replaced, in order.
  auto walk = [&](auto&& on_match) {
    int64_t left = remaining;
    for (size_t i = m.Next(t, static_cast<size_t>(s), L); i != kNone && left != 0; i = m.Next(t, i + F, L)) {
      on_match(i);
      if (left > 0) --left;
    }
  };
  // Writes the result into out, which has room for it; returns its length.
  auto write = [&](char* out) {
    char* w = out;
    size_t from = 0;
    walk([&](size_t hit) {
      std::memcpy(w, text + from, hit - from);
      w += hit - from;
      std::memcpy(w, replacement, R);
      w += R;
      from = hit + F;
    });
    std::memcpy(w, text + from, L - from);
    w[L - from] = '\0';
    return static_cast<size_t>(w - out) + (L - from);
  };
  char* out;
  if (R <= F) {
    // The result is no longer than the text: one walk into a block of the
    // text's size. A text never depends on its block's size, so the block is
    // given back to the heap only when over a quarter of it stayed unused:
    // shrinking a large block can cost the heap as much as the walk.
    out = static_cast<char*>(AllocateBlock(BlockSize(1, static_cast<int64_t>(L), 1)));
    const size_t n = write(out);
    if (n == 0) {
      FreeBlock(out);
      return ReturnText(result, nullptr);
    }
    if (n < L - L / 4)
      out = static_cast<char*>(ReallocateBlock(out, BlockSize(1, static_cast<int64_t>(n), 1)));
  } else {
    // A longer result: the matches are counted first, so it is sized once.
    int64_t hits = 0;
    walk([&](size_t) { ++hits; });
    if (hits == 0) return ReturnText(result, CopyText(text));
    const int64_t extra = static_cast<int64_t>(R - F);
    out = static_cast<char*>(AllocateBlock(BlockSize(1 + static_cast<int64_t>(L), hits, extra)));
    write(out);
  }
  ReturnText(result, out);
}

void SplitText(ArgRecord* result, int count, ArgRecord* args) {
  const char* text = TextOf(At(count, args, 0));
  const ArgRecord& delim_arg = At(count, args, 1);
  const char* delim = IsOmitted(delim_arg) ? "," : TextOf(delim_arg);
  const ArgRecord& max_arg = At(count, args, 2);
  int64_t maximum = IsOmitted(max_arg) ? -1 : IntegerOf(max_arg);  // -1: unlimited
  if (!IsOmitted(max_arg) && maximum < 0) maximum = 0;
  const size_t D = std::strlen(delim);
  const unsigned char* t = Bytes(text);

  // One walk over the text makes the pieces into an array block that
  // doubles as it fills and is cut to its count at the end: the text is
  // scanned once, and only the piece pointers are ever copied; nothing else
  // is allocated. A text of L bytes has at most L + 1 pieces; BlockSize
  // refuses a block beyond the limit all the same.
  constexpr int64_t kHeader = 8;  // dims and the one size
  int32_t capacity = 16, n = 0;
  ArrayBlock* array = NewArray(capacity, sizeof(Text));
  auto piece = [&](size_t from, size_t length) {
    if (n == capacity) {
      capacity = capacity <= INT32_MAX / 2 ? capacity * 2 : INT32_MAX;
      array = static_cast<ArrayBlock*>(ReallocateBlock(array, BlockSize(kHeader, capacity, sizeof(Text))));
    }
    static_cast<Text*>(ArrayElements(array))[n++] = NewText(text + from, length);
  };
  if (text[0] != '\0' && maximum != 0) {
    if (D == 0) {
      piece(0, std::strlen(text));
    } else {
      const Matcher m(delim, D, false);
      size_t from = 0;
      bool cut = false;
      for (size_t i = m.Next(t, 0, kToEnd); i != kNone; i = m.Next(t, from, kToEnd)) {
        piece(from, i - from);
        from = i + D;
        if (n == maximum) {  // the rest is dropped
          cut = true;
          break;
        }
      }
      if (!cut && text[from] != '\0') piece(from, std::strlen(text + from));
    }
  }
  array->sizes[0] = n;
  if (n < capacity) array = static_cast<ArrayBlock*>(ReallocateBlock(array, BlockSize(kHeader, n, sizeof(Text))));
  *result = PtrArg(kText | kByRefOrArrayBit, array);
}

void SpaceText(ArgRecord* result, int count, ArgRecord* args) {
  const int64_t n = IntegerOf(At(count, args, 0));
  if (n < 1) return ReturnText(result, nullptr);
  auto* out = static_cast<char*>(AllocateBlock(BlockSize(1, n, 1)));
  std::memset(out, ' ', static_cast<size_t>(n));
  out[n] = '\0';
  ReturnText(result, out);
}

}  // namespace rt
