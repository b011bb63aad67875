// Replies, keys and values that try to run script in the engine. The
// engine runs whatever script it is given (shown first, directly), so the
// object must keep such text away from it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "json/json_object.h"
#include "json/json_validate.h"
#include "tests/json/json_test_env.h"

namespace {

using jsontest::Take;

// A script expression that creates the file at `path` when run.
std::string CreatesFile(const std::string& path) {
  std::string slashes = path;
  for (char& c : slashes)
    if (c == '\\') c = '/';
  return "new ActiveXObject('Scripting.FileSystemObject').CreateTextFile('" + slashes + "').Close()";
}

class HostileInput : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { jsontest::SetUpRuntime(); }
  void SetUp() override {
    o_ = json::NewJsonObject();
    target_ = jsontest::TempPath("json_hostile_marker.txt");
    DeleteFileA(target_.c_str());
  }
  void TearDown() override {
    json::DeleteJsonObject(o_);
    DeleteFileA(target_.c_str());
  }
  void Direct(const std::string& script) {
    prog::Call(rt::CallMethod, {rt::PtrArg(rt::kComObject, o_->engine), rt::TextArg("AddCode"),
                                rt::TextArg(script.c_str())});
  }
  json::JsonObject* o_ = nullptr;
  std::string target_;
};

TEST_F(HostileInput, TheEngineItselfRunsAnyScript) {
  // A top-level JSON string pasted into eval(...) is run as script: this is
  // why replies are never pasted into eval.
  std::string reply = "\"" + CreatesFile(target_) + "\"";
  ASSERT_TRUE(json::IsSafeJson(reply.c_str()));
  Direct("var da=eval(" + reply + ")");
  EXPECT_TRUE(jsontest::FileExists(target_)) << "the engine did not run the script";
}

TEST_F(HostileInput, ParseEvaluatesNothingButJson) {
  const std::string code = CreatesFile(target_);
  struct Case {
    const char* what;
    std::string text;
    bool parsed;
  } cases[] = {
      {"bare script", code, false},
      {"script inside a member", "{\"a\":" + code + "}", false},
      {"breaking out of the parentheses", "{\"a\":1});" + code + ";({\"b\":2}", false},
      {"a function called in an array", "[(function(){" + code + "})()]", false},
      {"a comment hiding the rest", "{\"a\":1}/*" + code + "*/", false},
      // Read byte by byte this is one JSON string; read as GBK, the 0x95 0x5C
      // pair hides the backslash and the code stands outside any string.
      {"a GBK pair hiding a backslash", "[\"\x95\\\"," + code + ",\"]", false},
      {"a JSON string holding script", "\"" + code + "\"", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(json::Parse(o_, c.text.c_str()), c.parsed);
    EXPECT_FALSE(jsontest::FileExists(target_));
  }
  EXPECT_EQ(Take(json::ToJson(o_)), "\"" + code + "\"");  // kept as text
}

TEST_F(HostileInput, KeysAndValuesCannotCarryScript) {
  const std::string code = CreatesFile(target_);
  ASSERT_TRUE(json::Parse(o_, "{\"a\":1}"));
  std::string key = "a);" + code + ";(1";
  EXPECT_EQ(Take(json::GetJson(o_, key.c_str())), "");
  EXPECT_EQ(json::GetNumber(o_, key.c_str()), 0.0);
  EXPECT_FALSE(json::Has(o_, ("a||" + code).c_str()));
  EXPECT_EQ(json::Count(o_, ("a," + code).c_str()), 0);
  std::string quoted = "x';" + code + ";'";
  json::SetMember(o_, "b", quoted.c_str(), false);
  json::SetMember(o_, "b", code.c_str(), true);
  json::SetMemberJson(o_, "b", code.c_str());
  json::AppendItem(o_, quoted.c_str(), "c", false);
  json::SetRoot(o_, code.c_str(), true);
  json::RemoveItemAt(o_, ("a;" + code + "[0]").c_str());
  EXPECT_FALSE(jsontest::FileExists(target_));
  EXPECT_EQ(Take(json::ToJson(o_)), "{\"a\":1}");
}

TEST_F(HostileInput, HugeDeepAndEndlessRepliesReturnQuickly) {
  auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  struct Case {
    const char* what;
    std::string text;
    bool parsed;
  } cases[] = {
      {"an endless loop", "(function(){for(;;){}})()", false},
      {"100,000 levels deep", nested(100000), false},
      {"as deep as allowed", nested(json::kMaxJsonDepth), true},
      {"32 MB", "[\"" + std::string(32u << 20, 'x') + "\"]", false},
      {"1 MB", "[\"" + std::string(1u << 20, 'x') + "\"]", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(json::Parse(o_, c.text.c_str()), c.parsed);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::cout << c.what << ": " << ms << " ms\n";
    EXPECT_LT(ms, 10000.0);
  }
}

// Parse restarts the Script Control every time: print what 10,000 cycles
// leave behind (figures only; the allocator keeps some memory).
TEST_F(HostileInput, RepeatedParseCyclesLeaveLittleBehind) {
  const char* reply = "{\"sysTime2\":\"2019-10-17 21:29:38\",\"sysTime1\":\"20191017212938\"}";
  const int kCycles = 10000;
  for (int i = 0; i < 50; ++i) json::Parse(o_, reply);  // warm up
  jsontest::ProcessFigures before = jsontest::Figures();
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kCycles; ++i) {
    ASSERT_TRUE(json::Parse(o_, reply));
    char* t = json::GetJson(o_, "sysTime2");
    ASSERT_STREQ(t, "\"2019-10-17 21:29:38\"");
    prog::Free(t);
  }
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  jsontest::ProcessFigures after = jsontest::Figures();
  std::cout << kCycles << " Parse+GetJson cycles in " << s << " s; private bytes "
            << before.private_bytes << " -> " << after.private_bytes << ", handles "
            << before.handles << " -> " << after.handles << "\n";
  EXPECT_LT(after.handles, before.handles + 100);
}

}  // namespace
