// The JSON checks against the engine they guard, over their fuzzing corpus and generated GBK texts: an accepted reply
// parses to RapidJSON's value, a key changes nothing, a value comes back byte for byte; and every byte and byte pair
// reads as the platform's code page 936 reads it.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "json/json_validate.h"
#include "tests/json/json_test_env.h"

namespace {

std::wstring Wide(const std::string& s) {  // read as code page 936 reads it
  std::wstring w(s.size() + 1, L'\0');
  w.resize(static_cast<size_t>(MultiByteToWideChar(936, 0, s.data(), static_cast<int>(s.size()), &w[0],
                                                   static_cast<int>(w.size()))));
  return w;
}

// Sorted keys, the last duplicate winning; numbers to the engine's 15 digits (-0 as 0); strings as their UTF-8 bytes.
std::string Canonical(const rapidjson::Value& v) {
  if (v.IsNumber()) {
    char b[40];
    std::snprintf(b, sizeof b, "%.15g", v.GetDouble() == 0 ? 0.0 : v.GetDouble());
    return b;
  }
  if (v.IsString()) return "\"" + std::string(v.GetString(), v.GetStringLength()) + "\"";
  std::string s;
  if (v.IsArray()) {
    for (const auto& e : v.GetArray()) s += Canonical(e) + ",";
    return "[" + s + "]";
  }
  if (!v.IsObject()) return v.IsNull() ? "null" : v.IsTrue() ? "true" : "false";
  std::map<std::string, std::string> members;
  for (auto m = v.MemberBegin(); m != v.MemberEnd(); ++m)  // (GetObject is a Win32 macro)
    members[std::string(m->name.GetString(), m->name.GetStringLength())] = Canonical(m->value);
  for (const auto& [k, e] : members) s += "\"" + k + "\":" + e + ",";
  return "{" + s + "}";
}
bool CanonicalOfGbk(const std::string& gbk, std::string* out) {  // read as Unicode, then by RapidJSON
  const std::wstring w = Wide(gbk);
  std::string utf8(w.size() * 3 + 1, '\0');
  utf8.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &utf8[0],
                                                      static_cast<int>(utf8.size()), nullptr, nullptr)));
  rapidjson::Document d;
  if (d.Parse(utf8.c_str(), utf8.size()).HasParseError()) return false;
  *out = Canonical(d);
  return true;
}

bool HasWideEscape(const std::string& s) {  // a \u escape outside ASCII: the answer's code page may not hold it
  for (size_t i = s.find("\\u"); i != std::string::npos; i = s.find("\\u", i + 2))
    if (i + 6 <= s.size() && s.compare(i + 2, 2, "00") != 0) return true;
  return false;
}

bool HasZeroExponent(const std::string& s) {  // Wine's engine does not read 0e-3 or 0E3 (its fault): counted, left out
  for (size_t i = 0; i + 1 < s.size(); ++i)
    if (s[i] == '0' && (s[i + 1] == 'e' || s[i + 1] == 'E') &&
        (i == 0 || !(std::isdigit(static_cast<unsigned char>(s[i - 1])) || s[i - 1] == '.')))
      return true;
  return false;
}

std::string ScriptLiteral(const std::string& gbk) {  // every UTF-16 unit as \uXXXX
  std::string s = "\"";
  char b[8];
  for (wchar_t c : Wide(gbk)) std::snprintf(b, sizeof b, "\\u%04x", static_cast<unsigned>(c)), s += b;
  return s + "\"";
}

std::vector<std::string> Corpus() {
  std::vector<std::string> texts;
  for (const auto& file : std::filesystem::directory_iterator(RT_JSON_CORPUS)) {
    std::ifstream in(file.path(), std::ios::binary);
    const std::string t((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    texts.push_back(t.substr(0, t.find('\0')));
  }
  // Every two-byte character (with the euro sign) in values, quoted subscripts and replies; every name character
  // the checks accept first in a name and after a letter and a digit.
  std::string values, names;
  for (int a = 0x81; a < 0xFF; ++a) {
    for (int b = 0x40; b < 0xFF; ++b) {
      const std::string pair = {static_cast<char>(a), static_cast<char>(b)};
      if (b != 0x7F) values += pair;
      if (json::IsMemberPath(pair.c_str())) names += (names.empty() ? "" : ".") + pair + "a1" + pair;
      if (names.size() > 200 || (a == 0xFE && b == 0xFE)) texts.push_back(names), names.clear();
      if (values.size() < 200 && !(a == 0xFE && b == 0xFE)) continue;
      values += "\x80";
      for (const std::string& t : {values, "a[\"" + values + "\"]", "{\"" + values + "\":[\"" + values + "\",1]}"})
        texts.push_back(t);
      values.clear();
    }
  }
  return texts;
}

std::string Quoted(const std::string& s) { return testing::PrintToString(s); }  // bytes beyond ASCII as \x

using Differential = jsontest::ObjectTest;

TEST_F(Differential, EngineAgreesWithEveryTextTheChecksAccept) {
  const std::vector<std::string> texts = Corpus();
  ASSERT_GT(texts.size(), 1000u);
  int replies = 0, keys = 0, values = 0, engine_quirks = 0;
  std::vector<std::string> faults;
  // Keys and values share one engine holding this root.
  const char kRoot[] = "{\"a\":{\"b\":[1,2]},\"v\":\"\"}";
  bool fresh_root = false;
  for (const std::string& t : texts) {
    if (json::IsSafeJson(t.c_str()) && HasZeroExponent(t)) ++engine_quirks;
    if (json::IsSafeJson(t.c_str()) && !HasWideEscape(t) && !HasZeroExponent(t)) {
      ++replies;
      fresh_root = false;
      std::string want, got;
      const bool read = CanonicalOfGbk(t, &want);
      const bool parsed = json::Parse(o_, t.c_str());
      const std::string engine = ToJson();
      if (!read || !parsed || !CanonicalOfGbk(engine, &got) || got != want)
        faults.push_back("reply " + Quoted(t) + " -> engine " + engine);
    }
    if (!fresh_root) fresh_root = json::Parse(o_, kRoot);
    if (json::IsMemberPath(t.c_str())) {
      ++keys;
      const double ok = rt::AsDouble(jsontest::Script(
          o_, rt::CallMethodNumber, "Eval",
          "(function(){var before=JSON.stringify(da);try{eval(" + ScriptLiteral((t[0] == '[' ? "da" : "da.") + t) +
              ")}catch(e){if(e instanceof SyntaxError)return 0}return before==JSON.stringify(da)?1:2})()"));
      if (ok != 1) faults.push_back("key " + Quoted(t) + (ok == 0 ? " is no expression" : " changed the data"));
      if (ok == 2) fresh_root = json::Parse(o_, kRoot);
    }
    if (json::IsPlainQuotable(t.c_str())) {
      ++values;
      json::SetMember(o_, "v", t.c_str(), false);
      const std::string back = jsontest::Take(json::GetText(o_, "v", false));
      if (back != t) faults.push_back("value " + Quoted(t) + " came back as " + Quoted(back));
    }
  }
  std::printf("differential: %zu texts; %d replies, %d keys, %d values accepted; %d replies with 0e left out\n",
              texts.size(), replies, keys, values, engine_quirks);
  for (size_t i = 0; i < faults.size() && i < 40; ++i) ADD_FAILURE() << faults[i];
  EXPECT_TRUE(faults.empty());
}

// Characters in the first n bytes as the checker reads them (a zero byte after them), or 0 when it refuses one.
int CheckerCharacters(const unsigned char* text, int n) {
  int characters = 0;
  for (int i = 0; i < n; ++characters) {
    const int length = static_cast<int>(json::GbkCharLength(text + i));
    if (length == 0 || i + length > n) return 0;
    i += length;
  }
  return characters;
}

TEST(GbkReading, EveryByteAndPairReadsAsTheCodePageConversionReadsIt) {
  int mismatches = 0;
  for (int a = 0; a < 256; ++a) {
    for (int b = -1; b < 256; ++b) {  // b = -1: the byte alone
      const unsigned char bytes[3] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b < 0 ? 0 : b)};
      const int n = b < 0 ? 1 : 2;
      wchar_t units[4];  // the platform's conversion; 0 characters: it refuses the bytes
      const int platform =
          MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes), n, units, 4);
      const int checker = CheckerCharacters(bytes, n);
      if (checker != platform && ++mismatches <= 10)
        ADD_FAILURE() << std::hex << a << " " << b << ": checker " << checker << ", platform " << platform;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
