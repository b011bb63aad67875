// The JsonObject against the real Script Control under Wine: lifecycle,
// Parse and every operation, with the edge cases the program relies on; and
// replies, keys and values that try to run script (the engine runs any
// script it is given, shown first, so the object must keep it away).
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "json/json_validate.h"
#include "runtime/core/memory.h"
#include "tests/json/json_test_env.h"

namespace {

using jsontest::Script;
using jsontest::Take;

// What the message loop does while the tool waits for its next tick: the
// object's idle-time work (a 10 ms thread timer) gets its turn.
void Idle() {
  for (int i = 0; i < 5; ++i) {
    Sleep(10);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  }
}

class JsonObjectTest : public jsontest::ObjectTest {
 protected:
  std::string ToJson(json::JsonObject* o = nullptr) { return Take(json::ToJson(o ? o : o_)); }
};

TEST_F(JsonObjectTest, ParseStartsAfreshWhetherTheNextEngineWasReadyOrNot) {
  // Parse gives a new engine (prelude, nothing left from before: here an
  // enumerable name added to every object) and code 0, whether the engine
  // was started in idle time or has to be started now; a copy, which shares
  // the engine, keeps the old one.
  for (bool idle : {false, true, false, true}) {
    SCOPED_TRACE(idle ? "idle time before Parse" : "no idle time");
    json::Reset(o_, json::kJsonObject);
    json::SetMember(o_, "a", "1", false);
    Script(o_, rt::CallMethod, "ExecuteStatement", "Object.prototype.left=1");
    json::JsonObject* before = json::Copy(o_);
    json::SetMemberNumber(before, "n", 5);
    EXPECT_EQ(ToJson(), "{\"a\":\"1\",\"n\":5}");
    if (idle) Idle();
    EXPECT_TRUE(json::Parse(o_, "{\"x\":1,\"y\":2}"));
    EXPECT_EQ(rt::LastObjectError(), 0);
    EXPECT_EQ(json::Count(o_, ""), 2);  // Object.prototype.left is gone: a new engine
    EXPECT_EQ(ToJson(before), "{\"a\":\"1\",\"n\":5}");
    json::DeleteJsonObject(before);
  }
}

TEST_F(JsonObjectTest, IdleTimeWorkLeavesTheLastCodeAlone) {
  // The next engine is started in idle time with calls of its own; the
  // program still reads the code its own last operation left.
  struct { const char* what; void (*op)(json::JsonObject*); int32_t code; } cases[] = {
      {"a read that throws", [](json::JsonObject* o) { prog::Free(json::GetJson(o, "no.such")); }, rt::kObjException},
      {"null read as Text", [](json::JsonObject* o) { prog::Free(json::GetText(o, "z", false)); }, rt::kObjResultConversion},
      {"a read that works", [](json::JsonObject* o) { prog::Free(json::GetJson(o, "z")); }, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(json::Parse(o_, "{\"z\":null}"));  // takes the spare: the next one is due
    c.op(o_);
    ASSERT_EQ(rt::LastObjectError(), c.code);
    const int64_t steps = rt::ComStepsTaken();
    Idle();
    EXPECT_GT(rt::ComStepsTaken(), steps);  // the next engine was started
    EXPECT_EQ(rt::LastObjectError(), c.code);
  }
}

TEST_F(JsonObjectTest, AnEmptyEngineAnswersEmptyValues) {
  // As on a machine without the Script Control: the cell stays empty.
  prog::Call(rt::ClearObject, {rt::PtrArg(rt::kComObject, o_->engine)});
  EXPECT_FALSE(json::Parse(o_, "{\"a\":1}"));
  EXPECT_EQ(ToJson(), "");
  EXPECT_EQ(rt::LastObjectError(), rt::kObjEmpty);
  EXPECT_EQ(json::GetNumber(o_, "a"), 0.0);
  EXPECT_EQ(json::TypeOf(o_, "a"), json::kJsonOther);
  json::JsonObject* child = json::GetMemberObject(o_, "a");
  EXPECT_EQ(ToJson(child), "");
  json::DeleteJsonObject(child);
}

TEST_F(JsonObjectTest, ParseKeepsTheValueAndEscapesReachTheEngineAsTheirUnits) {
  // A service reply, and what is left when a reply is not the JSON wanted.
  // A high surrogate must have a low one after it; a lone low one, like any
  // other unit, is kept. escape() shows the engine's units in ASCII, whatever
  // the code page would make of them.
  const std::string reply = "{\"sysTime2\":\"2019-10-17 21:29:38\",\"sysTime1\":\"20191017212938\"}";
  const auto s = [](const char* escapes) { return "{\"s\":\"" + std::string(escapes) + "\"}"; };
  struct { std::string text; bool parsed; const char *whole, *units; } cases[] = {  // units: of da.s
      {reply, true, reply.c_str(), nullptr}, {"null", false, "null", nullptr}, {"0", true, "0", nullptr},
      {"<html><body>502 Bad Gateway</body></html>", false, "null", nullptr},
      // \u20ac is 0x80 in code page 936.
      {s("tab\\t\\u00e9 \\\"q\\\" \\u2028\\u20ac"), true, "{\"s\":\"tab\\t\xa8\xa6 \\\"q\\\" \\u2028\x80\"}", nullptr},
      {s("\\ud7ff"), true, nullptr, "%uD7FF"}, {s("\\ud800"), false, "null", nullptr},
      {s("\\udbff"), false, "null", nullptr}, {s("\\ud800\\u0041"), false, "null", nullptr},
      {s("\\ud800\\udc00"), true, nullptr, "%uD800%uDC00"}, {s("\\udbff\\udfff"), true, nullptr, "%uDBFF%uDFFF"},
      {s("\\udc00"), true, nullptr, "%uDC00"}, {s("\\udfff"), true, nullptr, "%uDFFF"},
      {s("\\ue000"), true, nullptr, "%uE000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(json::Parse(o_, c.text.c_str()), c.parsed);
    if (c.whole) { EXPECT_EQ(ToJson(), c.whole); }
    if (c.units) { EXPECT_EQ(Take(rt::AsPtr<char>(Script(o_, rt::CallMethodText, "Eval", "escape(da.s)"))), c.units); }
  }
  ASSERT_TRUE(json::Parse(o_, reply.c_str()));
  EXPECT_EQ(Take(json::GetJson(o_, "sysTime2")), "\"2019-10-17 21:29:38\"");
}

TEST_F(JsonObjectTest, ReadingMembers) {
  ASSERT_TRUE(json::Parse(o_, "{\"s\":\"x\",\"n\":2.5,\"b\":true,\"o\":{\"k\":[10,20]},\"list\":[1,2],\"nul\":null}"));
  struct { const char* key; const char* json; const char* text; int32_t kind; } cases[] = {
      {"s", "\"x\"", "x", json::kJsonString},
      {"n", "2.5", "2.5", json::kJsonNumber},
      {"b", "true", "-1", json::kJsonBool},  // VT_BOOL as text
      {"o", "{\"k\":[10,20]}", nullptr, json::kJsonObject},
      {"o.k[1]", "20", "20", json::kJsonNumber},
      {"list", "[1,2]", "1,2", json::kJsonArray},
      {"nul", "null", "", json::kJsonMissing},
      {"missing", "", "", json::kJsonMissing},
      {"toJSONString", "", nullptr, json::kJsonOther},  // the prelude's function
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(Take(json::GetJson(o_, c.key)), c.json);
    if (c.text) { EXPECT_EQ(Take(json::GetText(o_, c.key, false)), c.text); }
    EXPECT_EQ(json::Has(o_, c.key), c.kind != json::kJsonMissing);
    EXPECT_EQ(json::TypeOf(o_, c.key), c.kind);
  }
  EXPECT_EQ(json::GetNumber(o_, "n"), 2.5);
  EXPECT_EQ(json::TypeOf(o_, ""), json::kJsonObject);
  json::JsonObject* child = json::GetMemberObject(o_, "o");  // with an engine of its own
  json::SetMemberNumber(child, "k", 2);
  EXPECT_EQ(ToJson(child), "{\"k\":2}");
  EXPECT_EQ(Take(json::GetJson(o_, "o.k")), "[10,20]");
  json::DeleteJsonObject(child);
  ASSERT_TRUE(json::Parse(o_, "[[5,6],{\"z\":1}]"));
  EXPECT_EQ(Take(json::GetText(o_, "[0]", true)), "[5,6]");  // bracket-aware join
  EXPECT_EQ(Take(json::GetItem(o_, 1, "", true)), "{\"z\":1}");
  json::JsonObject* item = json::GetItemObject(o_, 1, "");
  EXPECT_EQ(ToJson(item), "{\"z\":1}");
  json::DeleteJsonObject(item);
  EXPECT_EQ(Take(json::GetItem(o_, 1, "[0]", false)), "");  // dot join: da.[0] does not compile
}

TEST_F(JsonObjectTest, CountAndKeysLeaveThePreludeOut) {
  struct { const char* json; const char* path; int32_t count; std::vector<std::string> keys; } cases[] = {
      {"{\"a\":1,\"b\":2}", "", 2, {"a", "b"}},
      {"[[1],[2,3]]", "[1]", 2, {"0", "1"}},
      // The removal takes the name's ending with its comma and keeps case.
      {"{\"xtoJSONString\":1,\"yparseJSON\":2,\"PARSEJSON\":3}", "", 3, {"xyPARSEJSON"}},
      {"{\"a\":1}", "a b", 0, {}},  // not a member path: nothing is sent
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    ASSERT_TRUE(json::Parse(o_, c.json));  // a new engine: the last GetKeys' script global ary is gone
    EXPECT_EQ(Take(rt::AsPtr<char>(Script(o_, rt::CallMethodText, "Eval", "typeof ary"))), "undefined");
    EXPECT_EQ(json::Count(o_, c.path), c.count);
    rt::ArrayBlock* keys = nullptr;
    EXPECT_EQ(json::GetKeys(o_, &keys, c.path), static_cast<int32_t>(c.keys.size()));
    auto** items = static_cast<char**>(keys ? rt::ArrayElements(keys) : nullptr);
    EXPECT_EQ(std::vector<std::string>(items, items + rt::ArrayElementCount(keys)), c.keys);
    rt::FreeTextArray(keys);
  }
}

TEST_F(JsonObjectTest, WritingMembersItemsAndTheRoot) {
  struct { const char* value; bool is_json; const char* after; } cases[] = {
      {"x", false, "{\"a\":\"x\"}"},
      {"", true, "{\"a\":{}}"},
      {"\"1+1\"", true, "{\"a\":\"1+1\"}"},  // a JSON string stays a string
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    json::Clear(o_);
    json::SetMember(o_, "a", c.value, c.is_json);
    EXPECT_EQ(ToJson(), c.after);
  }
  ASSERT_TRUE(json::Parse(o_, "{\"list\":[1,2,3]}"));
  json::SetMemberJson(o_, "o", "[1,{\"k\":true}]");
  json::SetMemberNumber(o_, "n", 0.25);
  json::RemoveItemAt(o_, "list[1]");
  json::AppendItem(o_, "4", "list", true);
  json::AppendItem(o_, "x", "fresh", false);  // not an array yet: made one
  EXPECT_EQ(ToJson(), "{\"list\":[1,3,4],\"o\":[1,{\"k\":true}],\"n\":0.25,\"fresh\":[\"x\"]}");
  EXPECT_EQ(Take(json::GetItem(o_, 2, "list", false)), "4");
  json::Reset(o_, json::kJsonArray);
  json::AppendItem(o_, "a", "", false);
  json::AppendItem(o_, "b", "", false);
  json::SetItem(o_, 1, "[true]", true);
  json::RemoveItem(o_, 0);
  EXPECT_EQ(ToJson(), "[[true]]");
  json::SetRoot(o_, "plain", false);
  json::Reset(o_, 3);  // no such kind: nothing is sent
  EXPECT_EQ(ToJson(), "\"plain\"");
  json::Reset(o_, json::kJsonMissing);
  EXPECT_EQ(ToJson(), "{}");
}

class HostileInput : public JsonObjectTest {
 protected:
  void SetUp() override { DeleteFileA(kMarker); }
  void TearDown() override {
    JsonObjectTest::TearDown();
    DeleteFileA(kMarker);
  }
  static bool Created() { return GetFileAttributesA(kMarker) != INVALID_FILE_ATTRIBUTES; }
  static constexpr const char* kMarker = "json_hostile_marker.txt";  // in the working folder
  const std::string code_ =  // creates the marker when run
      std::string("new ActiveXObject('Scripting.FileSystemObject').CreateTextFile('") + kMarker + "').Close()";
};

TEST_F(HostileInput, TheEngineItselfRunsAnyScript) {
  // A top-level JSON string pasted into eval(...) is run: replies are never pasted.
  std::string reply = "\"" + code_ + "\"";
  ASSERT_TRUE(json::IsSafeJson(reply.c_str()));
  Script(o_, rt::CallMethod, "AddCode", "var da=eval(" + reply + ")");
  EXPECT_TRUE(Created()) << "the engine did not run the script";
}

TEST_F(HostileInput, ParseKeysAndValuesRunNothingAndReturnQuickly) {
  // One reply per way out of the paste (each shape refused: json_validate_tests).
  for (const std::string& reply : {
           code_, "{\"a\":1});" + code_ + ";({\"b\":2}",
           "[\"\x95\\\"," + code_ + ",\"]",  // byte-wise one JSON string; as GBK 0x95 0x5C hides the backslash
           "[\"" + std::string(32u << 20, 'x') + "\"]"}) {  // 32 MB
    SCOPED_TRACE(reply.substr(0, 80) + " (" + std::to_string(reply.size()) + " bytes)");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(json::Parse(o_, reply.c_str()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }
  EXPECT_TRUE(json::Parse(o_, ("\"" + code_ + "\"").c_str()));  // a JSON string holding script: kept as text
  ASSERT_TRUE(json::Parse(o_, "{\"a\":1}"));
  std::string key = "a);" + code_ + ";(1", quoted = "x';" + code_ + ";'";
  EXPECT_EQ(Take(json::GetJson(o_, key.c_str())), "");
  EXPECT_FALSE(json::Has(o_, ("a||" + code_).c_str()));
  EXPECT_EQ(json::TypeOf(o_, ("a||" + code_).c_str()), json::kJsonOther);
  EXPECT_EQ(json::Count(o_, ("a," + code_).c_str()), 0);
  json::SetMember(o_, "b", quoted.c_str(), false);
  json::SetMember(o_, "b", code_.c_str(), true);
  json::SetMemberJson(o_, "b", code_.c_str());
  json::AppendItem(o_, quoted.c_str(), "c", false);
  json::SetRoot(o_, code_.c_str(), true);
  json::RemoveItemAt(o_, ("a;" + code_ + "[0]").c_str());
  EXPECT_EQ(Take(json::ToJson(o_)), "{\"a\":1}");
  EXPECT_FALSE(Created());
}

}  // namespace
