// The reply's JSON reader against RapidJSON, for two members: TryReadSysTime2 (an object's last
// top-level "sysTime2" string) and TryReadJsonMember for "data.t" (the last "data" object's last "t",
// of any kind: a string decoded, a number as written); no value over 64 levels below the top
// members. Skipped where RapidJSON refuses on its own.
#include <rapidjson/reader.h>

#include <vector>

#include "measure/measure.h"
#include "tests/fuzz/fuzz_support.h"

using Kind = measure::JsonMember::Kind;

// Which member a path leads to, as the last of equal names at each step.
struct Reference : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Reference> {
  explicit Reference(std::vector<std::string> p) : path(std::move(p)) {}
  std::vector<std::string> path;
  std::vector<size_t> levels;  // per open container: how far along the path it lies (kOff: off it)
  static constexpr size_t kOff = ~size_t{0};
  size_t pending = kOff;       // the next value is path[pending]'s
  bool too_deep = false;
  Kind kind = Kind::kMissing;
  std::string text;
  bool Value(Kind k, const char* s, rapidjson::SizeType n) {
    if (levels.empty()) return false;  // the top is an object
    too_deep = too_deep || levels.size() > 65;
    if (pending != kOff) {
      // The member itself, or one on its way: a later one replaces all that an earlier one held.
      const bool leaf = pending + 1 == path.size();
      kind = leaf ? k : Kind::kMissing;
      text.assign(leaf && s ? s : "", leaf && s ? n : 0);
    }
    pending = kOff;
    return true;
  }
  bool Default() { return Value(Kind::kOther, nullptr, 0); }
  bool String(const char* s, rapidjson::SizeType n, bool) { return Value(Kind::kString, s, n); }
  bool RawNumber(const char* s, rapidjson::SizeType n, bool) { return Value(Kind::kNumber, s, n); }
  bool Key(const char* s, rapidjson::SizeType n, bool) {
    const size_t at = levels.back();
    pending = at != kOff && at < path.size() && std::string(s, n) == path[at] ? at : kOff;
    return true;
  }
  bool StartObject() {
    size_t next = levels.empty() ? 0 : pending != kOff && pending + 1 < path.size() ? pending + 1 : kOff;
    if (!levels.empty()) Value(Kind::kOther, nullptr, 0);
    levels.push_back(next);
    return true;
  }
  bool StartArray() {  // the top is an object
    if (!Value(Kind::kOther, nullptr, 0)) return false;
    levels.push_back(kOff);
    return true;
  }
  bool EndObject(rapidjson::SizeType) { return levels.pop_back(), true; }
  bool EndArray(rapidjson::SizeType) { return levels.pop_back(), true; }
};

// RapidJSON's reading of `in` along `path`; false where it refuses what JSON allows.
static bool Read(const std::string& in, std::vector<std::string> path, bool* json, Reference* out) {
  Reference ref(std::move(path));
  rapidjson::MemoryStream stream(in.data(), in.size());
  const rapidjson::ParseResult parsed =
      rapidjson::Reader().Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag>(stream, ref);
  if (parsed.Code() == rapidjson::kParseErrorNumberTooBig ||
      parsed.Code() == rapidjson::kParseErrorStringUnicodeSurrogateInvalid)
    return false;
  // NUL ends RapidJSON's memory stream early but is never part of JSON.
  *json = !parsed.IsError() && !ref.too_deep && in.find('\0') == std::string::npos;
  *out = ref;
  return true;
}

FUZZ_TARGET(1 << 16) {
  bool json;
  Reference ref({});
  if (!Read(in, {"sysTime2"}, &json, &ref)) return;
  std::string got = "untouched";
  const bool ok = measure::TryReadSysTime2(in, &got);
  const bool want = json && ref.kind == Kind::kString;
  fuzz::Check(ok == want, ok ? "read sysTime2 from a reply without it" : "missed sysTime2", in, ref.text);
  fuzz::Check(ok ? got == ref.text : got == "untouched", "sysTime2's value", in, got + " vs " + ref.text);

  if (!Read(in, {"data", "t"}, &json, &ref)) return;
  measure::JsonMember member;
  member.text = "untouched";
  const bool read = measure::TryReadJsonMember(in, "data.t", &member);
  fuzz::Check(read == json, read ? "read a reply that is no JSON object" : "refused a JSON object", in);
  if (!read) return;
  fuzz::Check(member.kind == ref.kind, "data.t's kind", in, member.text + " vs " + ref.text);
  if (member.kind == Kind::kString || member.kind == Kind::kNumber)
    fuzz::Check(member.text == ref.text, "data.t's text", in, member.text + " vs " + ref.text);
}
