// The JsonObject against the real Script Control under Wine: lifecycle,
// Parse and every operation, with the edge cases the program relies on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/json_object.h"
#include "runtime/core/memory.h"
#include "tests/json/json_test_env.h"

namespace {

using jsontest::Take;

class JsonObjectTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { jsontest::SetUpRuntime(); }
  void SetUp() override { o_ = json::NewJsonObject(); }
  void TearDown() override { json::DeleteJsonObject(o_); }
  std::string ToJson(json::JsonObject* o = nullptr) { return Take(json::ToJson(o ? o : o_)); }
  void ParseOk(const char* text) { ASSERT_TRUE(json::Parse(o_, text)) << text; }
  std::vector<std::string> Keys(const char* path, int32_t* count) {
    rt::ArrayBlock* keys = nullptr;
    *count = json::GetKeys(o_, &keys, path);
    std::vector<std::string> out;
    int32_t n = rt::ArrayElementCount(keys);
    auto** items = static_cast<char**>(keys ? rt::ArrayElements(keys) : nullptr);
    for (int32_t i = 0; i < n; ++i) out.push_back(items[i] ? items[i] : "");
    rt::FreeTextArray(keys);
    return out;
  }
  json::JsonObject* o_ = nullptr;
};

// ---- Lifecycle ----

TEST_F(JsonObjectTest, LayoutAndMethodTableOrder) {
  EXPECT_EQ(o_->methods, &json::kJsonMethods);
  EXPECT_STREQ(o_->root_name, "da");
  EXPECT_NE(o_->engine->iface, nullptr);
  auto entries = reinterpret_cast<const void* const*>(&json::kJsonMethods);
  const void* expected[] = {
      reinterpret_cast<const void*>(&json::Destroy), reinterpret_cast<const void*>(&json::Copy),
      reinterpret_cast<const void*>(&json::InitEngine), reinterpret_cast<const void*>(&json::Parse),
      reinterpret_cast<const void*>(&json::ToJson)};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(entries[i], expected[i]) << "entry " << i + 1;
  EXPECT_EQ(entries[9], reinterpret_cast<const void*>(&json::GetJson));
  EXPECT_EQ(entries[24], reinterpret_cast<const void*>(&json::Clear));
  std::string prelude = json::kJsonPrelude;
  EXPECT_EQ(prelude.find("function get__count(c){var i=-2;for(v in c)i++;return i}"), 0u);
  EXPECT_EQ(prelude.find('\n'), std::string::npos);
  EXPECT_EQ(prelude.size(), json::kJsonPreludeLength);
  std::cout << "prelude: " << prelude.size() << " bytes\n";
}

TEST_F(JsonObjectTest, NewObjectsAreEmptyAndSeparate) {
  EXPECT_EQ(ToJson(), "{}");
  json::JsonObject* other = json::NewJsonObject();
  json::SetMember(o_, "a", "1", false);
  EXPECT_EQ(ToJson(), "{\"a\":\"1\"}");
  EXPECT_EQ(ToJson(other), "{}");  // same variable name, own engine
  json::DeleteJsonObject(other);
}

TEST_F(JsonObjectTest, CopiesShareTheEngine) {
  json::JsonObject* copy = json::Copy(o_);
  EXPECT_NE(copy->root_name, o_->root_name);
  EXPECT_STREQ(copy->root_name, "da");
  EXPECT_EQ(copy->engine->iface, o_->engine->iface);
  json::SetMemberNumber(copy, "n", 5);
  EXPECT_EQ(json::GetNumber(o_, "n"), 5.0);
  void* engine = o_->engine->iface;
  json::DeleteJsonObject(copy);
  EXPECT_EQ(o_->engine->iface, engine);
  EXPECT_STREQ(o_->root_name, "da");
  EXPECT_EQ(ToJson(), "{\"n\":5}");
}

TEST_F(JsonObjectTest, AnEmptyEngineAnswersEmptyValues) {
  // As on a machine without the Script Control: the cell stays empty.
  prog::Call(rt::ClearObject, {rt::PtrArg(rt::kComObject, o_->engine)});
  EXPECT_FALSE(json::Parse(o_, "{\"a\":1}"));
  EXPECT_EQ(ToJson(), "");
  EXPECT_EQ(rt::LastObjectError(), rt::kObjEmpty);
  EXPECT_EQ(Take(json::GetJson(o_, "a")), "");
  EXPECT_EQ(Take(json::GetText(o_, "a", false)), "");
  EXPECT_EQ(json::GetNumber(o_, "a"), 0.0);
  EXPECT_EQ(json::Count(o_, ""), 0);
  EXPECT_FALSE(json::Has(o_, "a"));
  EXPECT_EQ(json::TypeOf(o_, "a"), json::kJsonOther);
  json::JsonObject* child = json::GetMemberObject(o_, "a");
  EXPECT_EQ(ToJson(child), "null");
  json::DeleteJsonObject(child);
}

// ---- Parse and GetJson, as the calibration flow uses them ----

TEST_F(JsonObjectTest, ParseThenGetJson) {
  struct Case {
    const char* text;
    bool parsed;
    const char* sys_time2;
    const char* whole;
  } cases[] = {
      {"{\"sysTime2\":\"2019-10-17 21:29:38\",\"sysTime1\":\"20191017212938\"}", true,
       "\"2019-10-17 21:29:38\"", "{\"sysTime2\":\"2019-10-17 21:29:38\",\"sysTime1\":\"20191017212938\"}"},
      {"null", false, "", "null"},
      {"0", true, "", "0"},
      {"\"text\"", true, "", "\"text\""},
      {"[1,\"\xd6\xd0\",{\"b\":null}]", true, "", "[1,\"\xd6\xd0\",{\"b\":null}]"},
      {"{\"sysTime2\":null}", true, "null", "{\"sysTime2\":null}"},
      {"{\"other\":1}", true, "", "{\"other\":1}"},     // missing member: undefined
      {"", false, "", "null"},
      {"<html><body>502 Bad Gateway</body></html>", false, "", "null"},
      {"{\"s\":\"tab\\t\\u00e9 \\\"q\\\" \\u2028\"}", true, "", "{\"s\":\"tab\\t\xa8\xa6 \\\"q\\\" \\u2028\"}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    json::Parse(o_, "{\"old\":1}");
    EXPECT_EQ(json::Parse(o_, c.text), c.parsed);
    EXPECT_EQ(Take(json::GetJson(o_, "sysTime2")), c.sys_time2);
    EXPECT_EQ(ToJson(), c.whole);
  }
}

TEST_F(JsonObjectTest, ParseRestartsTheEngine) {
  json::SetMember(o_, "kept", "no", false);
  int32_t n = 0;
  Keys("", &n);  // leaves the script globals ary and key behind
  ParseOk("{\"a\":1}");
  EXPECT_FALSE(json::Has(o_, "kept"));
  EXPECT_EQ(Take(prog::TakeText(prog::Call(rt::CallMethodText, {rt::PtrArg(rt::kComObject, o_->engine),
                                rt::TextArg("Eval"), rt::TextArg("typeof ary")})).release()),
            "undefined");
}

// ---- Reading members ----

TEST_F(JsonObjectTest, ReadingMembers) {
  ParseOk("{\"s\":\"x\",\"n\":2.5,\"i\":-3,\"b\":true,\"o\":{\"k\":[10,20]},\"list\":[1,2,3],"
          "\"nul\":null}");
  struct Case {
    const char* key;
    const char* json;
    const char* text;
    double number;
    bool has;
    int32_t kind;
  } cases[] = {
      {"s", "\"x\"", "x", 0, true, json::kJsonString},
      {"n", "2.5", "2.5", 2.5, true, json::kJsonNumber},
      {"i", "-3", "-3", -3, true, json::kJsonNumber},
      {"b", "true", "-1", -1, true, json::kJsonBool},  // VT_BOOL as text
      {"o", "{\"k\":[10,20]}", "[object Object]", 0, true, json::kJsonObject},
      {"o.k[1]", "20", "20", 20, true, json::kJsonNumber},
      {"list", "[1,2,3]", "1,2,3", 0, true, json::kJsonArray},
      {"nul", "null", "", 0, false, json::kJsonMissing},
      {"missing", "", "", 0, false, json::kJsonMissing},
      {"toJSONString", "", "", 0, true, json::kJsonOther},  // the prelude's function
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(Take(json::GetJson(o_, c.key)), c.json);
    EXPECT_EQ(Take(json::GetText(o_, c.key, true)), c.json);
    if (c.kind != json::kJsonOther && c.kind != json::kJsonObject) {
      EXPECT_EQ(Take(json::GetText(o_, c.key, false)), c.text);
    }
    if (c.kind == json::kJsonNumber) {
      EXPECT_EQ(json::GetNumber(o_, c.key), c.number);
    }
    EXPECT_EQ(json::Has(o_, c.key), c.has);
    EXPECT_EQ(json::TypeOf(o_, c.key), c.kind);
  }
  EXPECT_EQ(json::TypeOf(o_, ""), json::kJsonObject);
  ParseOk("[[5,6],{\"z\":1}]");
  EXPECT_EQ(Take(json::GetText(o_, "[0]", true)), "[5,6]");  // bracket-aware join
  EXPECT_EQ(Take(json::GetItem(o_, 1, "", true)), "{\"z\":1}");
  EXPECT_EQ(Take(json::GetItem(o_, 1, "[0]", false)), "");  // dot join: da.[0] does not compile
}

TEST_F(JsonObjectTest, CountAndKeysLeaveThePreludeOut) {
  struct Case {
    const char* json;
    const char* path;
    int32_t count;
    std::vector<std::string> keys;
  } cases[] = {
      {"{\"a\":1,\"b\":2}", "", 2, {"a", "b"}},
      {"{}", "", 0, {}},
      {"{\"list\":[1,2,3]}", "list", 3, {"0", "1", "2"}},
      {"[[1],[2,3]]", "[1]", 2, {"0", "1"}},
      // The removal takes the name's ending together with its comma, so
      // the two names run together.
      {"{\"xtoJSONString\":1,\"yparseJSON\":2}", "", 2, {"xy"}},
      {"{\"a\":1}", "a b", 0, {}},  // not a member path: nothing is sent
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    ParseOk(c.json);
    EXPECT_EQ(json::Count(o_, c.path), c.count);
    int32_t n = -1;
    EXPECT_EQ(Keys(c.path, &n), c.keys);
    EXPECT_EQ(n, static_cast<int32_t>(c.keys.size()));
    EXPECT_EQ(rt::LastObjectError(), 0);
  }
}

// ---- Changing the value ----

TEST_F(JsonObjectTest, SettingMembers) {
  struct Case {
    const char* key;
    const char* value;
    bool is_json;
    const char* after;
  } cases[] = {
      {"a", "x", false, "{\"a\":\"x\"}"},
      {"a", "", true, "{\"a\":{}}"},
      {"a", "[1,{\"b\":2}]", true, "{\"a\":[1,{\"b\":2}]}"},
      {"a", "\"1+1\"", true, "{\"a\":\"1+1\"}"},  // a JSON string stays a string
      {"a", "it's", false, "{}"},                 // would not compile: nothing changes
      {"a", "1+1", true, "{}"},                   // not JSON: nothing is sent
      {"a;b", "x", false, "{}"},                  // not a member path
      {"a.b", "x", false, "{}"},                  // da.a is undefined: the script throws
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " = " + c.value);
    json::Clear(o_);
    json::SetMember(o_, c.key, c.value, c.is_json);
    EXPECT_EQ(ToJson(), c.after);
  }
  json::Clear(o_);
  json::SetMemberJson(o_, "o", "{\"k\":true}");
  json::SetMemberNumber(o_, "n", 0.25);
  json::SetMemberJson(o_, "bad", "alert(1)");
  EXPECT_EQ(ToJson(), "{\"o\":{\"k\":true},\"n\":0.25}");
}

TEST_F(JsonObjectTest, ArrayOperations) {
  ParseOk("{\"list\":[1,2,3]}");
  json::RemoveItemAt(o_, "list[1]");
  EXPECT_EQ(ToJson(), "{\"list\":[1,3]}");
  json::AppendItem(o_, "4", "list", true);
  json::AppendItem(o_, "five", "list", false);
  json::AppendItem(o_, "x", "fresh", false);  // not an array yet: made one
  EXPECT_EQ(ToJson(), "{\"list\":[1,3,4,\"five\"],\"fresh\":[\"x\"]}");
  EXPECT_EQ(Take(json::GetItem(o_, 3, "list", false)), "five");
  EXPECT_EQ(Take(json::GetItem(o_, 3, "list", true)), "\"five\"");

  json::Reset(o_, json::kJsonArray);
  EXPECT_EQ(ToJson(), "[]");
  json::AppendItem(o_, "{\"k\":1}", "", true);
  json::AppendItem(o_, "b", "", false);
  json::SetItem(o_, 1, "c", false);
  json::SetItem(o_, 2, "[true]", true);
  EXPECT_EQ(ToJson(), "[{\"k\":1},\"c\",[true]]");
  json::RemoveItem(o_, 0);
  EXPECT_EQ(ToJson(), "[\"c\",[true]]");
  EXPECT_EQ(json::Count(o_, ""), 2);
}

TEST_F(JsonObjectTest, ChildObjectsHaveTheirOwnEngine) {
  ParseOk("{\"o\":{\"k\":1},\"list\":[{\"a\":\"b\"}]}");
  json::JsonObject* child = json::GetMemberObject(o_, "o");
  json::JsonObject* item = json::GetItemObject(o_, 0, "list");
  EXPECT_EQ(ToJson(child), "{\"k\":1}");
  EXPECT_EQ(ToJson(item), "{\"a\":\"b\"}");
  EXPECT_NE(child->engine->iface, o_->engine->iface);
  json::SetMemberNumber(child, "k", 2);
  EXPECT_EQ(Take(json::GetJson(o_, "o.k")), "1");
  json::DeleteJsonObject(child);
  json::DeleteJsonObject(item);
}

TEST_F(JsonObjectTest, ReplacingTheRoot) {
  struct Step {
    void (*apply)(json::JsonObject*);
    const char* after;
  } steps[] = {
      {[](json::JsonObject* o) { json::SetRoot(o, "[1]", true); }, "[1]"},
      {[](json::JsonObject* o) { json::Reset(o, 3); }, "[1]"},  // kind 3: nothing is sent
      {[](json::JsonObject* o) { json::Reset(o, json::kJsonObject); }, "{}"},
      {[](json::JsonObject* o) { json::SetRoot(o, "plain", false); }, "\"plain\""},
      {[](json::JsonObject* o) { json::Reset(o, json::kJsonArray); }, "[]"},
      {[](json::JsonObject* o) { json::Clear(o); }, "{}"},
      {[](json::JsonObject* o) { json::Reset(o, json::kJsonMissing); }, "{}"},
  };
  int i = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(i++);
    s.apply(o_);
    EXPECT_EQ(ToJson(), s.after);
  }
}

}  // namespace
