// JSON validation with RapidJSON's iterative reader (no recursion however
// deep the input) and a handler that only counts depth.
#include "json/json_validate.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include <rapidjson/encodings.h>
#include <rapidjson/reader.h>
#include <rapidjson/stream.h>

namespace json {
namespace {

bool IsGbkLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
// A second byte of 0x5C would be a backslash to a byte-wise reader.
bool IsSafeGbkTrail(unsigned char c) { return c >= 0x40 && c <= 0xFE && c != 0x7F && c != 0x5C; }
// A two-byte character at p whose second byte is safe.
bool IsSafeGbkPair(const unsigned char* p) { return IsGbkLead(p[0]) && IsSafeGbkTrail(p[1]); }

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
    auto c = static_cast<unsigned char>(is.Take());
    os.Put(static_cast<Ch>(c));
    if (c < 0x80) return true;
    if (!IsGbkLead(c)) return false;
    auto t = static_cast<unsigned char>(is.Peek());
    if (!IsSafeGbkTrail(t)) return false;
    os.Put(is.Take());
    return true;
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
    } else if (IsSafeGbkPair(p)) {
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
      } else if (IsSafeGbkPair(p)) {
        p += 2;
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
    if (*p < 0x80) {
      ++p;
    } else if (IsSafeGbkPair(p)) {
      p += 2;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace json
