// The JSON checks against RapidJSON's reader with the checker's size and depth limits, numbers by
// strtod (must fit a double). ASCII: the two agree; a GBK text the checker accepts, in UTF-8 by iconv,
// the reader accepts too. A value the quoting check accepts holds no quote, backslash or line break.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

#include <iconv.h>
#include <rapidjson/reader.h>

#include "json/json_validate.h"
#include "tests/fuzz/fuzz_support.h"

struct Depth : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Depth> {
  int depth = 0, deepest = 0;
  bool StartObject() { return (deepest = std::max(deepest, ++depth)) < 2000; }  // no runaway recursion
  bool StartArray() { return StartObject(); }
  bool EndObject(rapidjson::SizeType) { return --depth, true; }
  bool EndArray(rapidjson::SizeType) { return --depth, true; }
  bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
    return std::isfinite(std::strtod(std::string(text, length).c_str(), nullptr));
  }
};
// An exponent of over four significant digits, in a string or not (refused by the checker only).
static bool HasLongExponent(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if ((s[i] != 'e' && s[i] != 'E') || i == 0 || !(std::isdigit(static_cast<unsigned char>(s[i - 1])) || s[i - 1] == '.'))
      continue;
    size_t k = i + 1;
    while (k < s.size() && (s[k] == '+' || s[k] == '-' || s[k] == '0')) ++k;
    size_t digits = 0;
    while (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) ++k, ++digits;
    if (digits > 4) return true;
  }
  return false;
}

static bool Reference(const std::string& s) {
  if (s.empty() || s.size() > json::kMaxJsonBytes || s.find('\0') != std::string::npos) return false;
  rapidjson::StringStream in(s.c_str());
  Depth h;
  return !rapidjson::Reader().Parse<rapidjson::kParseNumbersAsStringsFlag>(in, h).IsError() && h.deepest <= json::kMaxJsonDepth;
}

// The text converted from code page 936 to UTF-8; false when it does not convert.
static bool FromGbk(const std::string& s, std::string* out) {
  static iconv_t cd = iconv_open("UTF-8", "CP936");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out->assign(s.size() * 4 + 4, '\0');
  char *in = const_cast<char*>(s.data()), *to = &(*out)[0];
  size_t in_left = s.size(), out_left = out->size();
  if (iconv(cd, &in, &in_left, &to, &out_left) == static_cast<size_t>(-1)) return false;
  return out->resize(out->size() - out_left), true;
}

// True when a quote, backslash, CR or LF stands as a character of its own (not as a GBK trail byte).
static bool HasBareBreaker(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = s[i];
    if (c >= 0x81 && c <= 0xFE && i + 1 < s.size()) ++i;
    else if (c == '\'' || c == '\\' || c == '\r' || c == '\n') return true;
  }
  return false;
}

FUZZ_TARGET(1 << 17) {
  const bool ok = json::IsSafeJson(in.data(), in.size()), reference = Reference(in);
  const bool ascii = std::none_of(in.begin(), in.end(), [](unsigned char c) { return c >= 0x80; });
  if (ascii && !(reference && HasLongExponent(in)))
    fuzz::Check(ok == reference, ok ? "checker accepts what the reader refuses" : "checker refuses good JSON", in);
  std::string utf8;
  if (!ascii && ok && FromGbk(in, &utf8) && !HasLongExponent(in))
    fuzz::Check(Reference(utf8), "checker accepts GBK text the reader refuses", in, utf8);
  const std::string text = fuzz::TextOf(in);
  fuzz::HeapText key(text);
  json::IsMemberPath(key.c_str());
  if (json::IsPlainQuotable(key.c_str())) fuzz::Check(!HasBareBreaker(text), "quotable value holds a breaker", text);
}
