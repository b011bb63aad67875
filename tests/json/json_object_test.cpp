// The JsonObject against the real Script Control under Wine: lifecycle, Parse, every operation, script in the input.
#include <gtest/gtest.h>

#include <vector>

#include "app/process_figures.h"
#include "runtime/core/memory.h"
#include "tests/json/json_test_env.h"

namespace {

using jsontest::Script;
using jsontest::Take;
using JsonObjectTest = jsontest::ObjectTest;

void Idle() {  // 50 ms of the message loop, emptied every 10: the object's idle-time work gets its turn
  MSG m;
  for (int i = 0; i < 6; ++i, Sleep(10))
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
}

TEST_F(JsonObjectTest, ParseStartsAfreshWhetherTheNextEngineWasReadyOrNot) {
  // A new engine (nothing left: here a name added to every object) and code 0, started in idle time or now;
  // a copy, sharing the engine, keeps the old one.
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
    EXPECT_EQ(ToJsonAndFree(before), "{\"a\":\"1\",\"n\":5}");
  }
}

TEST_F(JsonObjectTest, IdleTimeWorkLeavesTheLastCodeAlone) {
  // The next engine's start in idle time keeps the code of the last operation.
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

TEST_F(JsonObjectTest, ParseKeepsTheValueAndEscapesReachTheEngineAsTheirUnits) {
  // What is left of a reply not wanted; escapes as units (shown by escape()).
  const auto s = [](const char* escapes) { return "{\"s\":\"" + std::string(escapes) + "\"}"; };
  struct { std::string text; bool parsed; const char *whole, *units; } cases[] = {  // units: of da.s
      {"null", false, "null", nullptr}, {"0", true, "0", nullptr},
      // \u20ac is 0x80 in code page 936.
      {s("tab\\t\\u00e9 \\\"q\\\" \\u2028\\u20ac"), true, "{\"s\":\"tab\\t\xa8\xa6 \\\"q\\\" \\u2028\x80\"}", nullptr},
      {s("\\ud800"), false, "null", nullptr}, {s("\\ud800\\udc00"), true, nullptr, "%uD800%uDC00"},
      {s("\\udc00"), true, nullptr, "%uDC00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(json::Parse(o_, c.text.c_str()), c.parsed);
    if (c.whole) { EXPECT_EQ(ToJson(), c.whole); }
    if (c.units) { EXPECT_EQ(Take(rt::AsPtr<char>(Script(o_, rt::CallMethodText, "Eval", "escape(da.s)"))), c.units); }
  }
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
  EXPECT_EQ(ToJsonAndFree(child), "{\"k\":2}");
  EXPECT_EQ(Take(json::GetJson(o_, "o.k")), "[10,20]");
  ASSERT_TRUE(json::Parse(o_, "[[5,6],{\"z\":1}]"));
  EXPECT_EQ(Take(json::GetText(o_, "[0]", true)), "[5,6]");  // bracket-aware join
  EXPECT_EQ(Take(json::GetItem(o_, 1, "", true)), "{\"z\":1}");
  EXPECT_EQ(ToJsonAndFree(json::GetItemObject(o_, 1, "")), "{\"z\":1}");
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

// The prelude's serialiser and parser beyond what the operations ask of them, as the JSON standard's examples
// write them: spacing, replacer lists and functions, revivers; twice in one engine (the first call compiles).
TEST_F(JsonObjectTest, PreludeSpacesReplacesAndRevivesAsTheStandardSays) {
  const struct { const char* script; const char* expected; } rows[] = {
      {"JSON.stringify({a:[1,{b:2}],c:[]},null,2)", "{\n  \"a\": [\n    1,\n    {\n      \"b\": 2\n    }\n  ],\n  \"c\": []\n}"},
      {"JSON.stringify([1,{}],null,'--')", "[\n--1,\n--{}\n]"},
      {"JSON.stringify({a:1,b:2,c:3},['c','a'])", "{\"c\":3,\"a\":1}"},
      {"JSON.stringify({a:1,b:'x',c:[5]},function(k,v){return typeof v==='number'?v*2:v})", "{\"a\":2,\"b\":\"x\",\"c\":[10]}"},
      {"JSON.stringify([undefined,function(){},null,NaN,'\\u0001'])", "[null,null,null,null,\"\\u0001\"]"},
      {"JSON.stringify(JSON.parse('{\"a\":1,\"b\":[2,3]}',function(k,v){return typeof v==='number'?v+1:v}))",
       "{\"a\":2,\"b\":[3,4]}"},
      {"JSON.stringify(JSON.parse('{\"a\":1,\"b\":{\"a\":2,\"c\":3}}',function(k,v){return k==='a'?undefined:v}))",
       "{\"b\":{\"c\":3}}"},
      {"({x:[1,2]}).toJSONString()", "{\"x\":[1,2]}"},
      {"get__count({p:1,q:2,r:3})", "3"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.script);
    ASSERT_TRUE(json::Parse(o_, "{}"));  // a new engine: nothing compiled yet
    for (int call = 0; call < 2; ++call)
      EXPECT_EQ(Take(rt::AsPtr<char>(Script(o_, rt::CallMethodText, "Eval", row.script))), row.expected) << "call " << call;
  }
}

// Every Parse starts an engine that loads the prelude; compiling it must keep nothing. (Wine's JScript keeps a
// block for good per compile of code holding a loop or a switch; a day of refreshes kept megabytes that way.)
TEST_F(JsonObjectTest, ARefreshKeepsNoHeapOnceWarm) {
  const auto busy = [] { return testsupport::WalkHeaps().busy; };
  const auto refresh = [&] {
    ASSERT_TRUE(json::Parse(o_, "{\"sysTime2\":\"2026-12-08 10:00:00\",\"sysTime1\":\"20261208100000\"}"));
    EXPECT_EQ(Take(json::GetJson(o_, "sysTime2")), "\"2026-12-08 10:00:00\"");
  };
  for (int i = 0; i < 300; ++i) refresh();  // the heaps warm up
  const long long warm = busy();
  const int kRefreshes = 300;
  for (int i = 0; i < kRefreshes; ++i) refresh();
  EXPECT_LT(busy() - warm, kRefreshes * 8) << "bytes kept per refresh: " << (busy() - warm) / kRefreshes;
}

TEST_F(JsonObjectTest, HostileRepliesKeysAndValuesRunNothing) {
  const char* marker = "json_hostile_marker.txt";  // in the working folder, made by code when run
  const std::string code = std::string("new ActiveXObject('Scripting.FileSystemObject').CreateTextFile('") +
                           marker + "').Close()";
  const auto Created = [&] { return GetFileAttributesA(marker) != INVALID_FILE_ATTRIBUTES; };
  DeleteFileA(marker);
  // Ways out of the paste (each shape refused: json_validate_tests); 0x95 0x5C hides a backslash.
  for (const std::string& reply : {code, "[\"\x95\\\"," + code + ",\"]"})
    EXPECT_FALSE(json::Parse(o_, reply.c_str())) << reply;
  EXPECT_TRUE(json::Parse(o_, ("\"" + code + "\"").c_str()));  // a JSON string holding script: kept as text
  ASSERT_TRUE(json::Parse(o_, "{\"a\":1}"));
  std::string key = "a);" + code + ";(1", quoted = "x';" + code + ";'";
  EXPECT_EQ(Take(json::GetJson(o_, key.c_str())), "");
  EXPECT_FALSE(json::Has(o_, ("a||" + code).c_str()));
  EXPECT_EQ(json::TypeOf(o_, ("a||" + code).c_str()), json::kJsonOther);
  EXPECT_EQ(json::Count(o_, ("a," + code).c_str()), 0);
  json::SetMember(o_, "b", quoted.c_str(), false);
  json::SetMember(o_, "b", code.c_str(), true);
  json::SetMemberJson(o_, "b", code.c_str());
  json::AppendItem(o_, quoted.c_str(), "c", false);
  json::SetRoot(o_, code.c_str(), true);
  json::RemoveItemAt(o_, ("a;" + code + "[0]").c_str());
  EXPECT_EQ(Take(json::ToJson(o_)), "{\"a\":1}");
  EXPECT_FALSE(Created());
  Script(o_, rt::CallMethod, "ExecuteStatement", code);
  EXPECT_TRUE(Created()) << "the probe's script did not run where it is run";
  DeleteFileA(marker);
}

}  // namespace
