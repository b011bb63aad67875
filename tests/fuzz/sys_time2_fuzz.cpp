// The reply's JSON reader (TryReadSysTime2) against RapidJSON: an object's last top-level "sysTime2"
// string, no value over 64 levels below the top members; skipped where RapidJSON refuses on its own.
#include <rapidjson/reader.h>

#include "measure/measure.h"
#include "tests/fuzz/fuzz_support.h"

struct Reference : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Reference> {
  int open = 0;  // containers open
  bool top_member = false, have = false, too_deep = false;
  std::string value;
  bool Default() { return Value(nullptr, 0); }
  bool Value(const char* s, rapidjson::SizeType n) {
    too_deep = too_deep || open > 65;
    if (top_member) have = s != nullptr, value.assign(s ? s : "", n), top_member = false;
    return true;
  }
  bool String(const char* s, rapidjson::SizeType n, bool) { return Value(s, n); }
  bool Key(const char* s, rapidjson::SizeType n, bool) {
    return top_member = open == 1 && std::string(s, n) == "sysTime2", true;
  }
  bool StartObject() { return (open ? Value(nullptr, 0) : true) && ++open; }
  bool StartArray() { return open && Value(nullptr, 0) && ++open; }  // the top is an object
  bool EndObject(rapidjson::SizeType) { return --open, true; }
  bool EndArray(rapidjson::SizeType) { return --open, true; }
};

FUZZ_TARGET(1 << 16) {
  std::string got = "untouched";
  const bool ok = measure::TryReadSysTime2(in, &got);
  Reference ref;
  rapidjson::MemoryStream stream(in.data(), in.size());
  const rapidjson::ParseResult parsed = rapidjson::Reader().Parse<rapidjson::kParseIterativeFlag>(stream, ref);
  if (parsed.Code() == rapidjson::kParseErrorNumberTooBig ||
      parsed.Code() == rapidjson::kParseErrorStringUnicodeSurrogateInvalid)
    return;
  // NUL ends RapidJSON's memory stream early but is never part of JSON.
  const bool want = !parsed.IsError() && ref.have && !ref.too_deep && in.find('\0') == std::string::npos;
  fuzz::Check(ok == want, ok ? "read sysTime2 from a reply without it" : "missed sysTime2", in, ref.value);
  fuzz::Check(ok ? got == ref.value : got == "untouched", "sysTime2's value", in, got + " vs " + ref.value);
}
