// The JsonObject against the real Script Control under Wine: lifecycle,
// Parse and every operation, with the edge cases the program relies on.
#include <gtest/gtest.h>

#include <vector>

#include "json/json_object.h"
#include "runtime/core/memory.h"
#include "runtime/core/image.h"
#include "runtime/dll/dll_commands.h"
#include "program/dll_table.h"
#include "tests/json/json_test_env.h"

namespace {

using jsontest::Take;

// CoInitialize through the program's table, counted.
int g_co_initialize_calls = 0;
uint32_t __stdcall CountedCoInitialize(uint32_t reserved) {
  ++g_co_initialize_calls;
  return static_cast<uint32_t>(CoInitialize(reinterpret_cast<void*>(reserved)));
}
void* CountingResolver(uint32_t index) {
  return index == prog::kCoInitialize ? reinterpret_cast<void*>(&CountedCoInitialize) : rt::RequireDllCommand(index);
}

// What the message loop does while the tool waits for its next tick: the
// object's idle-time work (a 10 ms thread timer) gets its turn.
void Idle() {
  for (int i = 0; i < 5; ++i) {
    Sleep(10);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  }
}

class JsonObjectTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { jsontest::SetUpRuntime(); }
  void TearDown() override { json::DeleteJsonObject(o_); }
  std::string ToJson(json::JsonObject* o = nullptr) { return Take(json::ToJson(o ? o : o_)); }
  json::JsonObject* o_ = json::NewJsonObject();
};

TEST_F(JsonObjectTest, CopiesShareTheEngineChildrenGetTheirOwn) {
  json::SetMember(o_, "a", "1", false);
  json::JsonObject* copy = json::Copy(o_);
  EXPECT_EQ(copy->engine->iface, o_->engine->iface);
  json::SetMemberNumber(copy, "n", 5);
  json::DeleteJsonObject(copy);
  EXPECT_EQ(ToJson(), "{\"a\":\"1\",\"n\":5}");  // the engine outlives the copy
  ASSERT_TRUE(json::Parse(o_, "{\"o\":{\"k\":1},\"list\":[{\"a\":\"b\"}]}"));
  json::JsonObject* child = json::GetMemberObject(o_, "o");
  json::JsonObject* item = json::GetItemObject(o_, 0, "list");
  EXPECT_EQ(ToJson(item), "{\"a\":\"b\"}");
  json::SetMemberNumber(child, "k", 2);
  EXPECT_EQ(Take(json::GetJson(o_, "o.k")), "1");
  json::DeleteJsonObject(child), json::DeleteJsonObject(item);
}

TEST_F(JsonObjectTest, ParseStartsAfreshWhetherTheNextEngineWasReadyOrNot) {
  // Parse gives a new engine (prelude, nothing left from before: here an
  // enumerable name added to every object), one CoInitialize and code 0,
  // whether the engine was started in idle time or has to be started now;
  // a copy made before keeps the old engine. Once untouched, Parse may keep
  // the engine it has, which is just as fresh.
  testsupport::LoadProgramDllTable();
  rt::Hooks().resolve_dll = &CountingResolver;
  for (bool idle : {false, true, false, true}) {
    SCOPED_TRACE(idle ? "idle time before Parse" : "no idle time");
    json::Reset(o_, json::kJsonObject);
    json::SetMember(o_, "a", "1", false);
    prog::Call(rt::CallMethod, {rt::PtrArg(rt::kComObject, o_->engine), rt::TextArg("ExecuteStatement"),
                                rt::TextArg("Object.prototype.left=1")});
    json::JsonObject* before = json::Copy(o_);
    if (idle) Idle();
    g_co_initialize_calls = 0;
    EXPECT_TRUE(json::Parse(o_, "{\"x\":1,\"y\":2}"));
    EXPECT_EQ(g_co_initialize_calls, 1);
    EXPECT_EQ(rt::LastObjectError(), 0);
    EXPECT_NE(o_->engine->iface, before->engine->iface);
    EXPECT_EQ(json::Count(o_, ""), 2);
    EXPECT_EQ(ToJson(before), "{\"a\":\"1\"}");
    json::DeleteJsonObject(before);
    g_co_initialize_calls = 0;
    EXPECT_FALSE(json::Parse(o_, "null"));  // this engine saw the last Parse's script
    EXPECT_EQ(g_co_initialize_calls, 1);
  }
  rt::Hooks().resolve_dll = &rt::RequireDllCommand;
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

TEST_F(JsonObjectTest, ParseThenGetJson) {
  const char* reply = "{\"sysTime2\":\"2019-10-17 21:29:38\",\"sysTime1\":\"20191017212938\"}";
  struct { const char* text; bool parsed; const char* sys_time2; const char* whole; } cases[] = {
      {reply, true, "\"2019-10-17 21:29:38\"", reply},
      {"null", false, "", "null"},
      {"0", true, "", "0"},
      {"{\"sysTime2\":null}", true, "null", "{\"sysTime2\":null}"},
      {"<html><body>502 Bad Gateway</body></html>", false, "", "null"},
      {"{\"s\":\"tab\\t\\u00e9 \\\"q\\\" \\u2028\"}", true, "", "{\"s\":\"tab\\t\xa8\xa6 \\\"q\\\" \\u2028\"}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(json::Parse(o_, c.text), c.parsed);
    EXPECT_EQ(Take(json::GetJson(o_, "sysTime2")), c.sys_time2);
    EXPECT_EQ(ToJson(), c.whole);
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
  ASSERT_TRUE(json::Parse(o_, "[[5,6],{\"z\":1}]"));
  EXPECT_EQ(Take(json::GetText(o_, "[0]", true)), "[5,6]");  // bracket-aware join
  EXPECT_EQ(Take(json::GetItem(o_, 1, "", true)), "{\"z\":1}");
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
    EXPECT_EQ(Take(rt::AsPtr<char>(prog::Call(rt::CallMethodText, {rt::PtrArg(rt::kComObject, o_->engine),
                                   rt::TextArg("Eval"), rt::TextArg("typeof ary")}))), "undefined");
    EXPECT_EQ(json::Count(o_, c.path), c.count);
    rt::ArrayBlock* keys = nullptr;
    EXPECT_EQ(json::GetKeys(o_, &keys, c.path), static_cast<int32_t>(c.keys.size()));
    auto** items = static_cast<char**>(keys ? rt::ArrayElements(keys) : nullptr);
    EXPECT_EQ(std::vector<std::string>(items, items + rt::ArrayElementCount(keys)), c.keys);
    rt::FreeTextArray(keys);
  }
}

TEST_F(JsonObjectTest, SettingMembers) {
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
  json::Clear(o_);
  json::SetMemberJson(o_, "o", "[1,{\"k\":true}]");
  json::SetMemberNumber(o_, "n", 0.25);
  EXPECT_EQ(ToJson(), "{\"o\":[1,{\"k\":true}],\"n\":0.25}");
}

TEST_F(JsonObjectTest, ArraysAndTheRoot) {
  ASSERT_TRUE(json::Parse(o_, "{\"list\":[1,2,3]}"));
  json::RemoveItemAt(o_, "list[1]");
  json::AppendItem(o_, "4", "list", true);
  json::AppendItem(o_, "x", "fresh", false);  // not an array yet: made one
  EXPECT_EQ(ToJson(), "{\"list\":[1,3,4],\"fresh\":[\"x\"]}");
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

}  // namespace
