// JSON validation with RapidJSON's iterative reader (no recursion however
// deep the input) and a handler that only counts depth.
#include "json/json_validate.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <rapidjson/encodings.h>
#include <rapidjson/reader.h>
#include <rapidjson/stream.h>

namespace json {
namespace {

// Two-byte characters of code page 936 that are letters to the engine, as
// ranges of (lead << 8 | second byte); pairs inside a range whose second
// byte is no second byte (0x7F, 0xFF...) are ruled out by GbkCharLength.
// The symbol rows 0xA1..0xA9 hold only scattered letters; the user-defined
// rows (private use) and the full-width digits and signs are left out.
struct CodeRange {
  uint16_t first, last;
};
constexpr CodeRange kNameCharacters[] = {
    {0x8140, 0xA0FE},  // ideographs (extension rows before the symbols)
    {0xA1A5, 0xA1A6}, {0xA1A9, 0xA1A9},  // modifier letters, the iteration mark
    {0xA3C1, 0xA3DA}, {0xA3E1, 0xA3FA},  // full-width Latin letters
    {0xA4A1, 0xA4F3}, {0xA5A1, 0xA5F6},  // hiragana, katakana
    {0xA6A1, 0xA6B8}, {0xA6C1, 0xA6D8},  // Greek
    {0xA7A1, 0xA7C1}, {0xA7D1, 0xA7F1},  // Cyrillic
    {0xA840, 0xA841}, {0xA8A1, 0xA8BB}, {0xA8BD, 0xA8BE}, {0xA8C0, 0xA8C0},  // pinyin letters
    {0xA8C5, 0xA8E9},                    // bopomofo
    {0xA960, 0xA960}, {0xA963, 0xA967},  // kana marks
    {0xAA40, 0xAAA0}, {0xAB40, 0xABA0}, {0xAC40, 0xACA0}, {0xAD40, 0xADA0},
    {0xAE40, 0xAEA0}, {0xAF40, 0xAFA0},  // ideographs beside the user-defined rows
    {0xB040, 0xD7F9},                    // ideographs, the common ones from 0xB0A1
    {0xD840, 0xF8A0},
    {0xF940, 0xF9A0}, {0xFA40, 0xFAA0}, {0xFB40, 0xFBA0}, {0xFC40, 0xFCA0},
    {0xFD40, 0xFDA0}, {0xFE40, 0xFE4F},
};
constexpr bool Ordered(const CodeRange* r, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (r[i].first > r[i].last || (i > 0 && r[i - 1].last >= r[i].first)) return false;
  return true;
}
static_assert(Ordered(kNameCharacters, sizeof kNameCharacters / sizeof kNameCharacters[0]),
              "name character ranges ascend without overlap");

// The program's code page as RapidJSON sees it: string contents are taken
// a character (one byte, or a GBK pair) at a time; nothing is decoded.
struct GbkText {
  typedef char Ch;
  enum { supportUnicode = 0 };
  template <typename OutputStream>
  static void Encode(OutputStream& os, unsigned) {
    os.Put('?');  // \u escapes: the validator keeps no string content
  }
  template <typename OutputStream>
  static void EncodeUnsafe(OutputStream& os, unsigned) {
    rapidjson::PutUnsafe(os, '?');
  }
  template <typename InputStream, typename OutputStream>
  static bool Validate(InputStream& is, OutputStream& os) {
    const unsigned char pair[2] = {static_cast<unsigned char>(is.Take()), static_cast<unsigned char>(is.Peek())};
    os.Put(static_cast<Ch>(pair[0]));
    const size_t n = GbkCharLength(pair);
    if (n == 2) os.Put(is.Take());
    return n != 0;
  }
};

// A number as the reader hands it over (its text): it must fit a double, and
// its exponent may have at most kMaxExponentDigits significant digits. The
// engine reads an exponent digit by digit, so one like 5e-3323333333333
// (zero to a double) keeps it busy for good.
constexpr size_t kMaxExponentDigits = 4;
bool IsSafeNumber(const char* text, size_t length) {
  const std::string n(text, length);
  size_t e = n.find_first_of("eE");
  if (e != std::string::npos) {
    e = n.find_first_not_of("+-0", e + 1);
    if (e != std::string::npos && n.size() - e > kMaxExponentDigits) return false;
  }
  return std::isfinite(std::strtod(n.c_str(), nullptr));
}

struct DepthLimit : rapidjson::BaseReaderHandler<GbkText, DepthLimit> {
  // The reader's copy of a number went through GbkText (which keeps no
  // characters); the number is the `length` bytes before the stream's cursor.
  const char* const* cursor = nullptr;
  bool RawNumber(const char*, rapidjson::SizeType length, bool) { return IsSafeNumber(*cursor - length, length); }
  int depth = 0;
  bool StartObject() { return ++depth <= kMaxJsonDepth; }
  bool EndObject(rapidjson::SizeType) {
    --depth;
    return true;
  }
  bool StartArray() { return ++depth <= kMaxJsonDepth; }
  bool EndArray(rapidjson::SizeType) {
    --depth;
    return true;
  }
};

// A memory stream over [begin, end) that reads 0 past the end, so a NUL
// inside the text is just another byte the reader refuses.
struct BoundedStream {
  typedef char Ch;
  const char* begin;
  const char* cur;
  const char* end;
  Ch Peek() const { return cur < end ? *cur : '\0'; }
  Ch Take() { return cur < end ? *cur++ : '\0'; }
  size_t Tell() const { return static_cast<size_t>(cur - begin); }
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  size_t PutEnd(Ch*) { return 0; }
};

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$';
}
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// Steps over one name at p; returns the position after it, or null.
const unsigned char* SkipName(const unsigned char* p) {
  bool first = true;
  for (;;) {
    if (IsNameStart(*p) || (!first && IsDigit(*p))) {
      ++p;
    } else if (GbkCharLength(p) == 2 && IsGbkNameCharacter(p)) {
      p += 2;
    } else {
      return first ? nullptr : p;
    }
    first = false;
  }
}

// Steps over one subscript "[...]" at p; returns the position after it, or null.
const unsigned char* SkipSubscript(const unsigned char* p) {
  if (*p++ != '[') return nullptr;
  if (IsDigit(*p)) {
    while (IsDigit(*p)) ++p;
  } else if (*p == '"' || *p == '\'') {
    const unsigned char quote = *p++;
    while (*p != quote) {
      if (*p >= 0x20 && *p < 0x7F && *p != '\\') {
        ++p;
      } else if (*p >= 0x80 && GbkCharLength(p) != 0) {
        p += GbkCharLength(p);
      } else {
        return nullptr;  // the end of the text, a control byte, a backslash
      }
    }
    ++p;
  } else {
    return nullptr;
  }
  return *p == ']' ? p + 1 : nullptr;
}

}  // namespace

size_t GbkCharLength(const unsigned char* p) {
  if (p[0] <= 0x80) return 1;
  if (p[0] == 0xFF) return 0;
  const unsigned char t = p[1];
  return (t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFE) ? 2 : 0;
}

bool IsGbkNameCharacter(const unsigned char* p) {
  const unsigned code = static_cast<unsigned>(p[0]) << 8 | p[1];
  for (const CodeRange& r : kNameCharacters)
    if (code >= r.first && code <= r.last) return true;
  return false;
}

bool IsSafeJson(const char* text) {
  if (!text) return false;
  // Bounded look for the terminator: an oversized text is refused without
  // walking all of it.
  const void* nul = std::memchr(text, 0, kMaxJsonBytes + 1);
  if (!nul) return false;
  return IsSafeJson(text, static_cast<size_t>(static_cast<const char*>(nul) - text));
}

bool IsSafeJson(const char* text, size_t length) {
  if (!text || length == 0 || length > kMaxJsonBytes) return false;
  BoundedStream in{text, text, text + length};
  DepthLimit handler;
  handler.cursor = &in.cur;
  rapidjson::GenericReader<GbkText, GbkText> reader;
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag |
                              rapidjson::kParseNumbersAsStringsFlag;
  rapidjson::ParseResult ok = reader.Parse<kFlags>(in, handler);
  return !ok.IsError() && in.cur == in.end;
}

bool IsMemberPath(const char* key) {
  if (!key) return false;
  auto p = reinterpret_cast<const unsigned char*>(key);
  p = *p == '[' ? SkipSubscript(p) : SkipName(p);
  while (p && *p) {
    if (*p == '.') p = SkipName(p + 1);
    else p = SkipSubscript(p);
  }
  return p != nullptr;
}

bool IsPlainQuotable(const char* value) {
  if (!value) return true;
  for (auto p = reinterpret_cast<const unsigned char*>(value); *p;) {
    if (*p == '\'' || *p == '\\' || *p == '\n' || *p == '\r') return false;
    const size_t n = GbkCharLength(p);
    if (n == 0) return false;
    p += n;
  }
  return true;
}

}  // namespace json
