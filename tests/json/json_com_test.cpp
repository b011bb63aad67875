// The Runtime's COM commands against real automation objects under Wine:
// the Script Control (what the JSON object uses) and Scripting.Dictionary
// (VARIANT parameters, to see exactly what an argument becomes).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "runtime/com/com.h"
#include "runtime/core/memory.h"
#include "runtime/core/program_calls.h"
#include "tests/json/json_test_env.h"

namespace {

using rt::ArgRecord;
using rt::TextArg;

class ComCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    jsontest::SetUpRuntime();
    ASSERT_TRUE(Create(&engine_, "MSScriptControl.ScriptControl"));
    ASSERT_TRUE(rt::AsInt(prog::Call(rt::SetObjectProperty,
                                     {Obj(&engine_), TextArg("Language"), TextArg("JavaScript")})));
  }
  void TearDown() override {
    prog::Call(rt::ClearObject, {Obj(&engine_)});
    prog::Call(rt::ClearObject, {Obj(&other_)});
  }
  static ArgRecord Obj(rt::ComObjectCell* c) { return rt::PtrArg(rt::kComObject, c); }
  static bool Create(rt::ComObjectCell* c, const char* klass) {
    return rt::AsInt(prog::Call(rt::CreateObject, {Obj(c), TextArg(klass), rt::OmittedArg()})) != 0;
  }
  std::string EvalText(const char* script) {
    return jsontest::Take(rt::AsPtr<char>(
        prog::Call(rt::CallMethodText, {Obj(&engine_), TextArg("Eval"), TextArg(script)})));
  }
  rt::ComObjectCell engine_{};
  rt::ComObjectCell other_{};
};

TEST_F(ComCommands, CreateObjectFillsTheCellOnlyWhenTheClassExists) {
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(L"MSScriptControl.ScriptControl", &clsid), S_OK);
  wchar_t wide[64];
  StringFromGUID2(clsid, wide, 64);
  char braces[64];
  WideCharToMultiByte(CP_ACP, 0, wide, -1, braces, sizeof braces, nullptr, nullptr);
  struct Case {
    const char* klass;
    const char* library;
    bool made;
  } cases[] = {
      {"MSScriptControl.ScriptControl", nullptr, true},
      {braces, nullptr, true},
      {"MSScriptControl.ScriptControl", "C:\\no\\such.tlb", true},  // falls back to the ProgID
      {"No.Such.ProgId", nullptr, false},
      {"{00000000-0000-0000-0000-00000000ABCD}", nullptr, false},
      {"{not a clsid", nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.klass);
    rt::ComObjectCell cell{};
    ArgRecord lib = c.library ? TextArg(c.library) : rt::OmittedArg();
    ArgRecord made = prog::Call(rt::CreateObject, {Obj(&cell), TextArg(c.klass), lib});
    EXPECT_EQ(made.type, rt::kBool);
    EXPECT_EQ(rt::AsInt(made) != 0, c.made);
    EXPECT_EQ(cell.iface != nullptr, c.made);
    EXPECT_EQ(rt::AsInt(prog::Call(rt::IsEmptyObject, {Obj(&cell)})) != 0, !c.made);
    prog::Call(rt::ClearObject, {Obj(&cell)});
    EXPECT_EQ(cell.iface, nullptr);
  }
}

TEST_F(ComCommands, EvalAnswersAndErrorCodes) {
  struct Case {
    const char* script;
    const char* text;
    int32_t code;
  } cases[] = {
      {"1+2", "3", 0},
      {"'abc'", "abc", 0},
      {"var x=1;x+1", "2", 0},
      {"'\xd6\xd0\xce\xc4'", "\xd6\xd0\xce\xc4", 0},  // GBK both ways
      {"undefined", "", 0},                            // VT_EMPTY: empty, no error
      {"null", "", rt::kObjResultConversion},          // VT_NULL does not become a Text
      {"throw 1", "", rt::kObjException},
      {"this is not script", "", rt::kObjException},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    EXPECT_EQ(EvalText(c.script), c.text);
    EXPECT_EQ(rt::LastObjectError(), c.code);
  }
}

TEST_F(ComCommands, ResultTypesAndTheirEmptyValues) {
  ArgRecord n = prog::Call(rt::CallMethodNumber, {Obj(&engine_), TextArg("Eval"), TextArg("2.5*2")});
  EXPECT_EQ(n.type, rt::kDouble);
  EXPECT_EQ(rt::AsDouble(n), 5.0);
  ArgRecord b = prog::Call(rt::CallMethodBool, {Obj(&engine_), TextArg("Eval"), TextArg("1==1")});
  EXPECT_EQ(b.type, rt::kBool);
  EXPECT_EQ(b.value, 1u);
  ArgRecord bad = prog::Call(rt::CallMethodNumber, {Obj(&engine_), TextArg("Eval"), TextArg("'abc'")});
  EXPECT_EQ(rt::AsDouble(bad), 0.0);
  EXPECT_EQ(rt::LastObjectError(), rt::kObjResultConversion);

  ArgRecord v = prog::Call(rt::CallMethodVariant, {Obj(&engine_), TextArg("Eval"), TextArg("'xy'")});
  ASSERT_EQ(v.type, rt::kVariant);
  auto* var = rt::AsPtr<VARIANT>(v);
  ASSERT_NE(var, nullptr);
  EXPECT_EQ(var->vt, VT_BSTR);
  EXPECT_STREQ(var->bstrVal, L"xy");
  prog::Call(rt::ClearVariant, {v});
  const char zeros[rt::kVariantBlockSize] = {};
  EXPECT_EQ(std::memcmp(var, zeros, sizeof zeros), 0);
  prog::Free(var);

  // A failed call still hands back a (zeroed) Variant block.
  ArgRecord failed = prog::Call(rt::CallMethodVariant, {Obj(&engine_), TextArg("Eval"), TextArg("throw 2")});
  ASSERT_NE(rt::AsPtr<VARIANT>(failed), nullptr);
  EXPECT_EQ(rt::AsPtr<VARIANT>(failed)->vt, VT_EMPTY);
  prog::Free(rt::AsPtr<void>(failed));

  ArgRecord none = prog::Call(rt::CallMethod, {Obj(&engine_), TextArg("Eval"), TextArg("1")});
  EXPECT_EQ(none.type, 0u);
  EXPECT_EQ(none.value, 0u);
}

TEST_F(ComCommands, EmptyObjectsAndUnknownMembersFailQuietly) {
  rt::ComObjectCell empty{};
  struct Case {
    const char* what;
    rt::ComObjectCell* cell;
    const char* member;
    int32_t code;
  } cases[] = {
      {"empty cell", &empty, "Eval", rt::kObjEmpty},
      {"unknown member", &engine_, "NoSuchMember", rt::kObjNoMember},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ArgRecord t = prog::Call(rt::CallMethodText, {Obj(c.cell), TextArg(c.member), TextArg("1")});
    EXPECT_EQ(t.type, rt::kText);
    EXPECT_EQ(t.value, 0u);
    EXPECT_EQ(rt::LastObjectError(), c.code);
    ArgRecord set = prog::Call(rt::SetObjectProperty, {Obj(c.cell), TextArg(c.member), TextArg("x")});
    EXPECT_EQ(rt::AsInt(set), 0);
    EXPECT_EQ(rt::LastObjectError(), c.code);
  }
}

TEST_F(ComCommands, ArgumentCountsAndOmittedArguments) {
  struct Case {
    const char* what;
    ArgRecord args[3];
    int count;
    const char* text;
    int32_t code;
  } cases[] = {
      {"trailing omitted are not passed", {TextArg("6*7"), rt::OmittedArg(), rt::OmittedArg()}, 3, "42", 0},
      {"too many for the member", {TextArg("1"), TextArg("2")}, 2, "", rt::kObjTooManyArgs},
      {"no type conversion", {rt::MakeArg(rt::kByteSet, 0)}, 1, "", rt::kObjNoConversion},
      {"all omitted: nothing passed", {rt::OmittedArg()}, 1, "", rt::kObjBadParamCount},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ArgRecord all[5] = {Obj(&engine_), TextArg("Eval")};
    for (int i = 0; i < c.count; ++i) all[2 + i] = c.args[i];
    EXPECT_EQ(jsontest::Take(rt::AsPtr<char>(prog::Call(rt::CallMethodText, all, 2 + c.count))), c.text);
    EXPECT_EQ(rt::LastObjectError(), c.code);
  }
}

// Each argument type as Scripting.Dictionary receives it in a VARIANT.
TEST_F(ComCommands, ArgumentsBecomeTheirVariantTypes) {
  ASSERT_TRUE(Create(&other_, "Scripting.Dictionary"));
  struct Case {
    const char* key;
    ArgRecord value;
    VARTYPE vt;
    double number;
  } cases[] = {
      {"long", rt::LongArg((int64_t{1} << 32) + 1), VT_I4, 1},  // the low 32 bits
      {"int", rt::IntArg(-7), VT_I4, -7},
      {"short", rt::MakeArg(rt::kShort, 0xFFFE), VT_I2, -2},
      {"byte", rt::MakeArg(rt::kByte, 200), VT_UI1, 200},
      {"float", rt::FloatArg(1.5f), VT_R4, 1.5},
      {"double", rt::DoubleArg(2.25), VT_R8, 2.25},
      {"bool", rt::BoolArg(true), VT_BOOL, -1},
      {"date", rt::DateTimeArg(43755.5), VT_DATE, 43755.5},
      {"text", TextArg("12"), VT_BSTR, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    prog::Call(rt::CallMethod, {Obj(&other_), TextArg("Add"), TextArg(c.key), c.value});
    ASSERT_EQ(rt::LastObjectError(), 0);
    ArgRecord v = prog::Call(rt::CallMethodVariant, {Obj(&other_), TextArg("Item"), TextArg(c.key)});
    ASSERT_EQ(rt::LastObjectError(), 0);
    auto* var = rt::AsPtr<VARIANT>(v);
    EXPECT_EQ(var->vt, c.vt);
    ArgRecord n = prog::Call(rt::CallMethodNumber, {Obj(&other_), TextArg("Item"), TextArg(c.key)});
    EXPECT_EQ(rt::AsDouble(n), c.number);
    prog::Call(rt::ClearVariant, {v});
    prog::Free(var);
  }
  // A Variant argument is copied in; a by-reference Text result is written
  // through the caller's variable.
  VARIANT* held = static_cast<VARIANT*>(rt::AllocateZeroed(rt::kVariantBlockSize));
  held->vt = VT_I4;
  held->lVal = 99;
  prog::Call(rt::CallMethod, {Obj(&other_), TextArg("Add"), TextArg("variant"), rt::PtrArg(rt::kVariant, held)});
  ArgRecord n = prog::Call(rt::CallMethodNumber, {Obj(&other_), TextArg("Item"), TextArg("variant")});
  EXPECT_EQ(rt::AsDouble(n), 99.0);
  prog::Call(rt::ClearVariant, {rt::PtrArg(rt::kVariant, held)});
  prog::Free(held);
  ArgRecord count = prog::Call(rt::CallMethodNumber, {Obj(&other_), TextArg("Count")});
  EXPECT_EQ(rt::AsDouble(count), 10.0);
}

TEST_F(ComCommands, CopiesCountReferences) {
  rt::ComObjectCell copy{};
  prog::Call(rt::CopyObject, {Obj(&copy), Obj(&engine_)});
  EXPECT_EQ(copy.iface, engine_.iface);
  prog::Call(rt::ClearObject, {Obj(&engine_)});
  EXPECT_EQ(engine_.iface, nullptr);
  // The copy's reference keeps the control alive.
  ArgRecord t = prog::Call(rt::CallMethodText, {Obj(&copy), TextArg("Eval"), TextArg("'alive'")});
  EXPECT_EQ(jsontest::Take(rt::AsPtr<char>(t)), "alive");
  prog::Call(rt::ClearObject, {Obj(&copy)});
  // By-reference object argument: the record names the caller's variable.
  rt::ComObjectCell* variable = &copy;
  ArgRecord ref = rt::PtrArg(rt::kComObject | rt::kByRefOrArrayBit, &variable);
  EXPECT_EQ(rt::AsInt(prog::Call(rt::IsEmptyObject, {ref})), 1);
}

TEST_F(ComCommands, LastObjectErrorIsPerThread) {
  rt::ComObjectCell empty{};
  prog::Call(rt::CallMethod, {Obj(&empty), TextArg("Eval"), TextArg("1")});
  ASSERT_EQ(rt::LastObjectError(), rt::kObjEmpty);
  int32_t seen = 1;
  std::thread([&] { seen = rt::LastObjectError(); }).join();
  EXPECT_EQ(seen, 0);
  EXPECT_EQ(rt::LastObjectError(), rt::kObjEmpty);
}

}  // namespace
