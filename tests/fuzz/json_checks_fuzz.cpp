// The JSON checks on arbitrary bytes (linear time, no recursion, no read
// past the end). Reference: RapidJSON's plain recursive reader with the
// checker's size and depth limits counted on the side. On ASCII texts the two
// must agree exactly; on GBK texts the checker may refuse more (it reads
// two-byte characters and refuses a trail byte of "\") but must never accept
// what the reader refuses. A value the quoting check accepts holds no quote,
// backslash or line break of its own.
#include <algorithm>
#include <cctype>
#include <string>

#include <rapidjson/reader.h>

#include "json/json_validate.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Depth : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Depth> {
  int depth = 0, deepest = 0;
  bool StartObject() { return (deepest = std::max(deepest, ++depth)) < 2000; }  // no runaway recursion
  bool StartArray() { return StartObject(); }
  bool EndObject(rapidjson::SizeType) { return --depth, true; }
  bool EndArray(rapidjson::SizeType) { return --depth, true; }
};
// An exponent of more than four significant digits, outside or inside a
// string (the checker refuses such numbers; the plain reader does not).
bool HasLongExponent(const std::string& s) {
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

bool Reference(const std::string& s) {
  if (s.empty() || s.size() > json::kMaxJsonBytes || s.find('\0') != std::string::npos) return false;
  rapidjson::StringStream in(s.c_str());
  Depth h;
  return !rapidjson::Reader().Parse(in, h).IsError() && h.deepest <= json::kMaxJsonDepth;
}

// True when a quote, backslash, CR or LF stands as a character of its own
// (not as the second byte of a two-byte GBK character).
bool HasBareBreaker(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = s[i];
    if (c >= 0x81 && c <= 0xFE && i + 1 < s.size()) ++i;
    else if (c == '\'' || c == '\\' || c == '\r' || c == '\n') return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 17) return 0;
  const std::string s(reinterpret_cast<const char*>(data), size);
  const bool ok = json::IsSafeJson(s.data(), s.size());
  const bool ascii = std::none_of(s.begin(), s.end(), [](unsigned char c) { return c >= 0x80; });
  const bool reference = Reference(s);
  if (ascii && !(reference && HasLongExponent(s)))
    fuzz::Check(ok == reference, ok ? "checker accepts what the reader refuses" : "checker refuses good JSON", s);
  else
    fuzz::Check(!ok || reference, "checker accepts text the reader refuses", s);
  const std::string text = fuzz::TextOf(data, size);
  fuzz::HeapText key(text);
  json::IsMemberPath(key.c_str());
  if (json::IsPlainQuotable(key.c_str())) fuzz::Check(!HasBareBreaker(text), "quotable value holds a breaker", text);
  return 0;
}
