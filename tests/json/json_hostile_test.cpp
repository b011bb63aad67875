// Replies, keys and values that try to run script. The engine runs any
// script it is given (shown first), so the object must keep it away.
#include <gtest/gtest.h>

#include <chrono>

#include "json/json_object.h"
#include "json/json_validate.h"
#include "tests/json/json_test_env.h"

namespace {

class HostileInput : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { jsontest::SetUpRuntime(); }
  void SetUp() override { DeleteFileA(kMarker); }
  void TearDown() override {
    json::DeleteJsonObject(o_);
    DeleteFileA(kMarker);
  }
  static bool Created() { return GetFileAttributesA(kMarker) != INVALID_FILE_ATTRIBUTES; }
  static constexpr const char* kMarker = "json_hostile_marker.txt";  // in the working folder
  json::JsonObject* o_ = json::NewJsonObject();
  const std::string code_ =  // creates the marker when run
      std::string("new ActiveXObject('Scripting.FileSystemObject').CreateTextFile('") + kMarker + "').Close()";
};

TEST_F(HostileInput, TheEngineItselfRunsAnyScript) {
  // A top-level JSON string pasted into eval(...) is run: replies are never pasted.
  std::string reply = "\"" + code_ + "\"";
  ASSERT_TRUE(json::IsSafeJson(reply.c_str()));
  prog::Call(rt::CallMethod, {rt::PtrArg(rt::kComObject, o_->engine), rt::TextArg("AddCode"),
                              rt::TextArg(("var da=eval(" + reply + ")").c_str())});
  EXPECT_TRUE(Created()) << "the engine did not run the script";
}

TEST_F(HostileInput, ParseKeysAndValuesRunNothing) {
  for (const std::string& reply : {
           code_, "{\"a\":" + code_ + "}", "{\"a\":1});" + code_ + ";({\"b\":2}",
           "{\"a\":1}/*" + code_ + "*/",
           "[\"\x95\\\"," + code_ + ",\"]"}) {  // byte-wise one JSON string; as GBK 0x95 0x5C hides the backslash
    EXPECT_FALSE(json::Parse(o_, reply.c_str())) << reply;
  }
  EXPECT_TRUE(json::Parse(o_, ("\"" + code_ + "\"").c_str()));  // a JSON string holding script: kept as text
  ASSERT_TRUE(json::Parse(o_, "{\"a\":1}"));
  std::string key = "a);" + code_ + ";(1", quoted = "x';" + code_ + ";'";
  EXPECT_EQ(jsontest::Take(json::GetJson(o_, key.c_str())), "");
  EXPECT_FALSE(json::Has(o_, ("a||" + code_).c_str()));
  EXPECT_EQ(json::Count(o_, ("a," + code_).c_str()), 0);
  json::SetMember(o_, "b", quoted.c_str(), false);
  json::SetMember(o_, "b", code_.c_str(), true);
  json::SetMemberJson(o_, "b", code_.c_str());
  json::AppendItem(o_, quoted.c_str(), "c", false);
  json::SetRoot(o_, code_.c_str(), true);
  json::RemoveItemAt(o_, ("a;" + code_ + "[0]").c_str());
  EXPECT_EQ(jsontest::Take(json::ToJson(o_)), "{\"a\":1}");
  EXPECT_FALSE(Created());
}

TEST_F(HostileInput, HugeDeepAndEndlessRepliesReturnQuickly) {
  for (const std::string& reply : {std::string("(function(){for(;;){}})()"),             // endless loop
                                    std::string(100000, '[') + std::string(100000, ']'),  // 100,000 deep
                                    "[\"" + std::string(32u << 20, 'x') + "\"]"}) {        // 32 MB
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(json::Parse(o_, reply.c_str())) << reply.size() << " bytes";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }
}

}  // namespace
