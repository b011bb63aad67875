// The JsonObject against the real Script Control under Wine: lifecycle,
// Parse and every operation, with the edge cases the program relies on.
#include <gtest/gtest.h>

#include <vector>

#include "json/json_object.h"
#include "runtime/core/memory.h"
#include "tests/json/json_test_env.h"

namespace {

using jsontest::Take;

class JsonObjectTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { jsontest::SetUpRuntime(); }
  void TearDown() override { json::DeleteJsonObject(o_); }
  std::string ToJson(json::JsonObject* o = nullptr) { return Take(json::ToJson(o ? o : o_)); }
  json::JsonObject* o_ = json::NewJsonObject();
};

TEST_F(JsonObjectTest, LayoutMethodOrderAndPrelude) {
  EXPECT_STREQ(o_->root_name, "da");
  auto entries = reinterpret_cast<const void* const*>(o_->methods);
  EXPECT_EQ(entries[3], reinterpret_cast<const void*>(&json::Parse));
  EXPECT_EQ(entries[9], reinterpret_cast<const void*>(&json::GetJson));
  EXPECT_EQ(entries[24], reinterpret_cast<const void*>(&json::Clear));
  std::string prelude = json::kJsonPrelude;  // one line; Count relies on the -2
  EXPECT_EQ(prelude.find("function get__count(c){var i=-2;for(v in c)i++;return i}"), 0u);
  EXPECT_EQ(prelude.find('\n'), std::string::npos);
}

TEST_F(JsonObjectTest, ObjectsAndChildrenOwnAnEngineCopiesShareIt) {
  json::JsonObject* other = json::NewJsonObject();
  json::SetMember(o_, "a", "1", false);
  EXPECT_EQ(ToJson(other), "{}");  // same variable name, own engine
  json::DeleteJsonObject(other);
  json::JsonObject* copy = json::Copy(o_);
  EXPECT_NE(copy->root_name, o_->root_name);
  EXPECT_EQ(copy->engine->iface, o_->engine->iface);
  json::SetMemberNumber(copy, "n", 5);
  json::DeleteJsonObject(copy);
  EXPECT_EQ(ToJson(), "{\"a\":\"1\",\"n\":5}");  // the engine outlives the copy

  ASSERT_TRUE(json::Parse(o_, "{\"o\":{\"k\":1},\"list\":[{\"a\":\"b\"}]}"));
  json::JsonObject* child = json::GetMemberObject(o_, "o");
  json::JsonObject* item = json::GetItemObject(o_, 0, "list");
  EXPECT_EQ(ToJson(item), "{\"a\":\"b\"}");
  EXPECT_NE(child->engine->iface, o_->engine->iface);
  json::SetMemberNumber(child, "k", 2);
  EXPECT_EQ(Take(json::GetJson(o_, "o.k")), "1");
  json::DeleteJsonObject(child);
  json::DeleteJsonObject(item);
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
  EXPECT_EQ(ToJson(child), "");  // parsed a blank text: its root is undefined
  json::DeleteJsonObject(child);
}

TEST_F(JsonObjectTest, ParseThenGetJson) {
  const char* reply = "{\"sysTime2\":\"2019-10-17 21:29:38\",\"sysTime1\":\"20191017212938\"}";
  struct { const char* text; bool parsed; const char* sys_time2; const char* whole; } cases[] = {
      {reply, true, "\"2019-10-17 21:29:38\"", reply},
      {"null", false, "", "null"},
      {"0", true, "", "0"},
      {"[1,\"\xd6\xd0\",{\"b\":null}]", true, "", "[1,\"\xd6\xd0\",{\"b\":null}]"},
      {"{\"sysTime2\":null}", true, "null", "{\"sysTime2\":null}"},
      {"{\"other\":1}", true, "", "{\"other\":1}"},  // missing member: undefined
      {"<html><body>502 Bad Gateway</body></html>", false, "", "null"},
      {"{\"s\":\"tab\\t\\u00e9 \\\"q\\\" \\u2028\"}", true, "", "{\"s\":\"tab\\t\xa8\xa6 \\\"q\\\" \\u2028\"}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    json::Parse(o_, "{\"old\":1}");
    EXPECT_EQ(json::Parse(o_, c.text), c.parsed);
    EXPECT_EQ(Take(json::GetJson(o_, "sysTime2")), c.sys_time2);
    EXPECT_EQ(ToJson(), c.whole);
  }
}

TEST_F(JsonObjectTest, ParseRestartsTheEngine) {
  json::SetMember(o_, "kept", "no", false);
  rt::ArrayBlock* keys = nullptr;
  json::GetKeys(o_, &keys, "");  // leaves the script globals ary and key behind
  rt::FreeTextArray(keys);
  ASSERT_TRUE(json::Parse(o_, "{\"a\":1}"));
  EXPECT_FALSE(json::Has(o_, "kept"));
  EXPECT_EQ(Take(prog::TakeText(prog::Call(rt::CallMethodText, {rt::PtrArg(rt::kComObject, o_->engine),
                                rt::TextArg("Eval"), rt::TextArg("typeof ary")})).release()), "undefined");
}

TEST_F(JsonObjectTest, ReadingMembers) {
  ASSERT_TRUE(json::Parse(o_, "{\"s\":\"x\",\"n\":2.5,\"b\":true,\"o\":{\"k\":[10,20]},\"list\":[1,2,3],\"nul\":null}"));
  struct { const char* key; const char* json; const char* text; bool has; int32_t kind; } cases[] = {
      {"s", "\"x\"", "x", true, json::kJsonString},
      {"n", "2.5", "2.5", true, json::kJsonNumber},
      {"b", "true", "-1", true, json::kJsonBool},  // VT_BOOL as text
      {"o", "{\"k\":[10,20]}", nullptr, true, json::kJsonObject},
      {"o.k[1]", "20", "20", true, json::kJsonNumber},
      {"list", "[1,2,3]", "1,2,3", true, json::kJsonArray},
      {"nul", "null", "", false, json::kJsonMissing},
      {"missing", "", "", false, json::kJsonMissing},
      {"toJSONString", "", nullptr, true, json::kJsonOther},  // the prelude's function
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(Take(json::GetJson(o_, c.key)), c.json);
    EXPECT_EQ(Take(json::GetText(o_, c.key, true)), c.json);
    if (c.text) { EXPECT_EQ(Take(json::GetText(o_, c.key, false)), c.text); }
    if (c.kind == json::kJsonNumber) { EXPECT_EQ(json::GetNumber(o_, c.key), std::stod(c.json)); }
    EXPECT_EQ(json::Has(o_, c.key), c.has);
    EXPECT_EQ(json::TypeOf(o_, c.key), c.kind);
  }
  EXPECT_EQ(json::TypeOf(o_, ""), json::kJsonObject);
  ASSERT_TRUE(json::Parse(o_, "[[5,6],{\"z\":1}]"));
  EXPECT_EQ(Take(json::GetText(o_, "[0]", true)), "[5,6]");  // bracket-aware join
  EXPECT_EQ(Take(json::GetItem(o_, 1, "", true)), "{\"z\":1}");
  EXPECT_EQ(Take(json::GetItem(o_, 1, "[0]", false)), "");  // dot join: da.[0] does not compile
}

TEST_F(JsonObjectTest, CountAndKeysLeaveThePreludeOut) {
  struct { const char* json; const char* path; int32_t count; std::vector<std::string> keys; } cases[] = {
      {"{\"a\":1,\"b\":2}", "", 2, {"a", "b"}},
      {"{}", "", 0, {}},
      {"[[1],[2,3]]", "[1]", 2, {"0", "1"}},
      // The removal takes the name's ending with its comma (the names run
      // together) and keeps case.
      {"{\"xtoJSONString\":1,\"yparseJSON\":2,\"PARSEJSON\":3}", "", 3, {"xyPARSEJSON"}},
      {"{\"a\":1}", "a b", 0, {}},  // not a member path: nothing is sent
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    ASSERT_TRUE(json::Parse(o_, c.json));
    EXPECT_EQ(json::Count(o_, c.path), c.count);
    rt::ArrayBlock* keys = nullptr;
    EXPECT_EQ(json::GetKeys(o_, &keys, c.path), static_cast<int32_t>(c.keys.size()));
    auto** items = static_cast<char**>(keys ? rt::ArrayElements(keys) : nullptr);
    EXPECT_EQ(std::vector<std::string>(items, items + rt::ArrayElementCount(keys)), c.keys);
    rt::FreeTextArray(keys);
  }
}

TEST_F(JsonObjectTest, SettingMembers) {
  struct { const char* key; const char* value; bool is_json; const char* after; } cases[] = {
      {"a", "x", false, "{\"a\":\"x\"}"},
      {"a", "", true, "{\"a\":{}}"},
      {"a", "[1,{\"b\":2}]", true, "{\"a\":[1,{\"b\":2}]}"},
      {"a", "\"1+1\"", true, "{\"a\":\"1+1\"}"},  // a JSON string stays a string
      {"a", "it's", false, "{}"},                 // would not compile: nothing changes
      {"a", "1+1", true, "{}"},                   // not JSON: nothing is sent
      {"a.b", "x", false, "{}"},                  // da.a is undefined: the script throws
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " = " + c.value);
    json::Clear(o_);
    json::SetMember(o_, c.key, c.value, c.is_json);
    EXPECT_EQ(ToJson(), c.after);
  }
  json::SetMemberJson(o_, "o", "{\"k\":true}");
  json::SetMemberNumber(o_, "n", 0.25);
  json::SetMemberJson(o_, "bad", "alert(1)");
  EXPECT_EQ(ToJson(), "{\"o\":{\"k\":true},\"n\":0.25}");
}

TEST_F(JsonObjectTest, ArraysAndTheRoot) {
  ASSERT_TRUE(json::Parse(o_, "{\"list\":[1,2,3]}"));
  json::RemoveItemAt(o_, "list[1]");
  json::RemoveItemAt(o_, "nolist[0]");  // sets nolist to eval(): undefined, not written
  json::AppendItem(o_, "4", "list", true);
  json::AppendItem(o_, "five", "list", false);
  json::AppendItem(o_, "x", "fresh", false);  // not an array yet: made one
  EXPECT_EQ(ToJson(), "{\"list\":[1,3,4,\"five\"],\"fresh\":[\"x\"]}");
  EXPECT_EQ(json::Count(o_, "list"), 4);
  EXPECT_EQ(Take(json::GetItem(o_, 3, "list", false)), "five");
  json::Reset(o_, json::kJsonArray);
  json::AppendItem(o_, "{\"k\":1}", "", true);
  json::AppendItem(o_, "b", "", false);
  json::SetItem(o_, 1, "c", false);
  json::SetItem(o_, 2, "[true]", true);
  json::RemoveItem(o_, 0);
  EXPECT_EQ(ToJson(), "[\"c\",[true]]");
  json::SetRoot(o_, "[1]", true);
  json::Reset(o_, 3);  // no such kind: nothing is sent
  EXPECT_EQ(ToJson(), "[1]");
  for (int32_t kind : {json::kJsonObject, json::kJsonMissing}) {
    json::SetRoot(o_, "plain", false);
    EXPECT_EQ(ToJson(), "\"plain\"");
    json::Reset(o_, kind);
    EXPECT_EQ(ToJson(), "{}");
  }
}

}  // namespace
