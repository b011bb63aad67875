// The Runtime's COM commands under Wine: the Script Control (what the JSON
// object uses) and Scripting.Dictionary (to see what an argument becomes).
#include <gtest/gtest.h>

#include <thread>

#include "runtime/com/com.h"
#include "runtime/core/memory.h"
#include "tests/json/json_test_env.h"

namespace {

using rt::ArgRecord;
using rt::TextArg;

ArgRecord Obj(rt::ComObjectCell* c) { return rt::PtrArg(rt::kComObject, c); }

class ComCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    jsontest::SetUpRuntime();
    ASSERT_TRUE(Create(&engine_, "MSScriptControl.ScriptControl"));
    ASSERT_TRUE(rt::AsInt(prog::Call(rt::SetObjectProperty,
                                     {Obj(&engine_), TextArg("Language"), TextArg("JavaScript")})));
  }
  void TearDown() override { prog::Call(rt::ClearObject, {Obj(&engine_)}); }
  static bool Create(rt::ComObjectCell* c, const char* klass, ArgRecord lib = rt::OmittedArg()) {
    return rt::AsInt(prog::Call(rt::CreateObject, {Obj(c), TextArg(klass), lib})) != 0;
  }
  ArgRecord Eval(rt::BuiltinCommand cmd, const char* script, rt::ComObjectCell* c = nullptr) {
    return prog::Call(cmd, {Obj(c ? c : &engine_), TextArg("Eval"), TextArg(script)});
  }
  rt::ComObjectCell engine_{};
};

TEST_F(ComCommands, CreateObjectFillsTheCellOnlyWhenTheClassExists) {
  CLSID clsid;
  wchar_t wide[64];
  char braces[64];
  ASSERT_EQ(CLSIDFromProgID(L"MSScriptControl.ScriptControl", &clsid), S_OK);
  WideCharToMultiByte(CP_ACP, 0, wide, StringFromGUID2(clsid, wide, 64), braces, 64, nullptr, nullptr);
  struct { const char* klass; const char* library; bool made; } cases[] = {
      {"MSScriptControl.ScriptControl", nullptr, true},
      {braces, nullptr, true},
      {"MSScriptControl.ScriptControl", "C:\\no\\such.tlb", true},  // falls back to the ProgID
      {"No.Such.ProgId", nullptr, false},
      {"{00000000-0000-0000-0000-00000000ABCD}", nullptr, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.klass);
    rt::ComObjectCell cell{};
    EXPECT_EQ(Create(&cell, c.klass, c.library ? TextArg(c.library) : rt::OmittedArg()), c.made);
    EXPECT_EQ(rt::AsInt(prog::Call(rt::IsEmptyObject, {Obj(&cell)})) != 0, !c.made);
    prog::Call(rt::ClearObject, {Obj(&cell)});
    EXPECT_EQ(cell.iface, nullptr);
  }
}

TEST_F(ComCommands, ResultsAndErrorCodes) {
  rt::ComObjectCell empty{};
  struct { const char* script; const char* text; double number; int32_t code; } cases[] = {
      {"1+2", "3", 3, 0},
      {"'\xd6\xd0\xce\xc4'", "\xd6\xd0\xce\xc4", 0, 0},  // GBK both ways
      {"undefined", "", 0, 0},                            // VT_EMPTY: empty, no error
      {"null", "", 0, rt::kObjResultConversion},          // VT_NULL is no Text or number
      {"throw 1", "", 0, rt::kObjException},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    EXPECT_EQ(jsontest::Take(rt::AsPtr<char>(Eval(rt::CallMethodText, c.script))), c.text);
    EXPECT_EQ(rt::LastObjectError(), c.code);
    EXPECT_EQ(rt::AsDouble(Eval(rt::CallMethodNumber, c.script)), c.number);
  }
  EXPECT_EQ(rt::AsDouble(Eval(rt::CallMethodNumber, "'abc'")), 0.0);
  EXPECT_EQ(rt::LastObjectError(), rt::kObjResultConversion);
  EXPECT_EQ(Eval(rt::CallMethodBool, "1==1").value, 1u);
  EXPECT_EQ(Eval(rt::CallMethod, "1").value, 0u);  // no result
  EXPECT_EQ(Eval(rt::CallMethodText, "1", &empty).value, 0u);
  EXPECT_EQ(rt::LastObjectError(), rt::kObjEmpty);
  EXPECT_EQ(rt::AsInt(prog::Call(rt::SetObjectProperty, {Obj(&engine_), TextArg("NoSuch"), TextArg("x")})), 0);
  EXPECT_EQ(rt::LastObjectError(), rt::kObjNoMember);
  int32_t seen = 1;  // the code is per thread
  std::thread([&] { seen = rt::LastObjectError(); }).join();
  EXPECT_EQ(seen, 0);
}

TEST_F(ComCommands, VariantResultsAreClearedAndFreedByTheCaller) {
  for (const char* script : {"'xy'", "throw 2"}) {  // a failed call still hands back a block
    ArgRecord v = Eval(rt::CallMethodVariant, script);
    ASSERT_NE(rt::AsPtr<VARIANT>(v), nullptr) << script;
    EXPECT_EQ(rt::AsPtr<VARIANT>(v)->vt, *script == '\'' ? VT_BSTR : VT_EMPTY) << script;
    prog::Call(rt::ClearVariant, {v});
    EXPECT_EQ(rt::AsPtr<VARIANT>(v)->vt, VT_EMPTY);
    prog::Free(rt::AsPtr<void>(v));
  }
}

TEST_F(ComCommands, ArgumentCountsAndOmittedArguments) {
  struct { const char* what; ArgRecord args[3]; int count; const char* text; int32_t code; } cases[] = {
      {"trailing omitted are not passed", {TextArg("6*7"), rt::OmittedArg(), rt::OmittedArg()}, 3, "42", 0},
      {"too many for the member", {TextArg("1"), TextArg("2")}, 2, "", rt::kObjTooManyArgs},
      {"no type conversion", {rt::MakeArg(rt::kByteSet, 0)}, 1, "", rt::kObjNoConversion},
      {"all omitted: nothing passed", {rt::OmittedArg()}, 1, "", rt::kObjBadParamCount},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ArgRecord all[5] = {Obj(&engine_), TextArg("Eval"), c.args[0], c.args[1], c.args[2]};
    EXPECT_EQ(jsontest::Take(rt::AsPtr<char>(prog::Call(rt::CallMethodText, all, 2 + c.count))), c.text);
    EXPECT_EQ(rt::LastObjectError(), c.code);
  }
}

// Each argument type as Scripting.Dictionary receives it in a VARIANT.
TEST_F(ComCommands, ArgumentsBecomeTheirVariantTypes) {
  rt::ComObjectCell dict{};
  ASSERT_TRUE(Create(&dict, "Scripting.Dictionary"));
  auto* held = static_cast<VARIANT*>(rt::AllocateZeroed(rt::kVariantBlockSize));
  held->vt = VT_I4, held->lVal = 99;
  struct { const char* key; ArgRecord value; VARTYPE vt; double number; } cases[] = {
      {"long", rt::LongArg((int64_t{1} << 32) + 1), VT_I4, 1},  // the low 32 bits
      {"short", rt::MakeArg(rt::kShort, 0xFFFE), VT_I2, -2},
      {"byte", rt::MakeArg(rt::kByte, 200), VT_UI1, 200},
      {"float", rt::FloatArg(1.5f), VT_R4, 1.5},
      {"double", rt::DoubleArg(2.25), VT_R8, 2.25},
      {"bool", rt::BoolArg(true), VT_BOOL, -1},
      {"date", rt::DateTimeArg(43755.5), VT_DATE, 43755.5},
      {"text", TextArg("12"), VT_BSTR, 12},
      {"variant", rt::PtrArg(rt::kVariant, held), VT_I4, 99},  // copied in
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    prog::Call(rt::CallMethod, {Obj(&dict), TextArg("Add"), TextArg(c.key), c.value});
    ArgRecord v = prog::Call(rt::CallMethodVariant, {Obj(&dict), TextArg("Item"), TextArg(c.key)});
    ASSERT_EQ(rt::LastObjectError(), 0);
    EXPECT_EQ(rt::AsPtr<VARIANT>(v)->vt, c.vt);
    EXPECT_EQ(rt::AsDouble(prog::Call(rt::CallMethodNumber, {Obj(&dict), TextArg("Item"), TextArg(c.key)})), c.number);
    prog::Call(rt::ClearVariant, {v});
    prog::Free(rt::AsPtr<void>(v));
  }
  prog::Call(rt::ClearVariant, {rt::PtrArg(rt::kVariant, held)});
  prog::Free(held);
  prog::Call(rt::ClearObject, {Obj(&dict)});
}

TEST_F(ComCommands, CopiesCountReferences) {
  rt::ComObjectCell copy{};
  prog::Call(rt::CopyObject, {Obj(&copy), Obj(&engine_)});
  prog::Call(rt::ClearObject, {Obj(&engine_)});
  EXPECT_EQ(jsontest::Take(rt::AsPtr<char>(Eval(rt::CallMethodText, "'alive'", &copy))), "alive");
  prog::Call(rt::ClearObject, {Obj(&copy)});
  rt::ComObjectCell* variable = &copy;  // by reference: the record names the caller's variable
  EXPECT_EQ(rt::AsInt(prog::Call(rt::IsEmptyObject, {rt::PtrArg(rt::kComObject | rt::kByRefOrArrayBit, &variable)})), 1);
}

}  // namespace
