// The Runtime's COM commands under Wine: Script Control (the JSON object's) and Scripting.Dictionary (argument types).
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "runtime/com/com.h"
#include "runtime/core/memory.h"
#include "tests/json/json_test_env.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"  // rows given by their script alone

namespace {

using jsontest::Script;
using rt::ArgRecord;
using rt::TextArg;

ArgRecord Obj(rt::ComObjectCell* c) { return rt::PtrArg(rt::kComObject, c); }

class ComCommands : public jsontest::ObjectTest {  // on the object's engine, started by the same commands
 protected:
  static bool Create(rt::ComObjectCell* c, const char* klass, ArgRecord lib = rt::OmittedArg()) {
    return rt::AsInt(prog::Call(rt::CreateObject, {Obj(c), TextArg(klass), lib})) != 0;
  }
  ArgRecord Eval(rt::BuiltinCommand cmd, const char* script) { return Script(o_, cmd, "Eval", script); }
};

// (A copy holding its own reference: JsonObjectTest.ParseStartsAfresh.)
TEST_F(ComCommands, CellsChangeOnlyForAnExistingClass) {
  void* before = o_->engine->iface;
  for (const char* klass : {"No.Such.ProgId", "{00000000-0000-0000-0000-00000000ABCD}"}) {
    EXPECT_FALSE(Create(o_->engine, klass)) << klass;
    EXPECT_EQ(o_->engine->iface, before) << klass;  // the cell is untouched
  }
  rt::ComObjectCell cell{};
  EXPECT_TRUE(Create(&cell, "MSScriptControl.ScriptControl", TextArg("C:\\no\\such.tlb")));  // ProgID fall-back
  prog::Call(rt::ClearObject, {Obj(&cell)});
  rt::ComObjectCell* variable = &cell;  // by reference: the record names the caller's variable
  EXPECT_EQ(rt::AsInt(prog::Call(rt::IsEmptyObject, {rt::PtrArg(rt::kComObject | rt::kByRefOrArrayBit, &variable)})), 1);
}

TEST_F(ComCommands, ErrorCodesAndArgumentCounts) {
  rt::ComObjectCell empty{};  // a call on an empty cell
  prog::Free(rt::AsPtr<char>(prog::Call(rt::CallMethodText, {Obj(&empty), TextArg("Eval"), TextArg("1")})));
  EXPECT_EQ(rt::LastObjectError(), rt::kObjEmpty);
  EXPECT_EQ(rt::AsInt(prog::Call(rt::SetObjectProperty, {Obj(o_->engine), TextArg("NoSuch"), TextArg("x")})), 0);
  EXPECT_EQ(rt::LastObjectError(), rt::kObjNoMember);
  ArgRecord v = Eval(rt::CallMethodVariant, "throw 2");  // a failed call still hands back a block
  ASSERT_NE(rt::AsPtr<VARIANT>(v), nullptr);
  EXPECT_EQ(rt::AsPtr<VARIANT>(v)->vt, VT_EMPTY);
  prog::Free(rt::AsPtr<void>(v));
  int32_t seen = 1;  // the code is per thread
  std::thread([&] { seen = rt::LastObjectError(); }).join();
  EXPECT_EQ(seen, 0);
  auto call = [&](std::initializer_list<ArgRecord> args) {  // argument counts and omitted arguments
    std::vector<ArgRecord> all{Obj(o_->engine), TextArg("Eval")};
    all.insert(all.end(), args);
    return jsontest::Take(rt::AsPtr<char>(prog::Call(rt::CallMethodText, all.data(), static_cast<int>(all.size()))));
  };
  EXPECT_EQ(call({TextArg("6*7"), rt::OmittedArg(), rt::OmittedArg()}), "42");  // trailing omitted: not passed
  EXPECT_EQ(rt::LastObjectError(), 0);
  EXPECT_EQ(call({TextArg("1"), TextArg("2")}), "");
  EXPECT_EQ(rt::LastObjectError(), rt::kObjTooManyArgs);
  EXPECT_EQ(call({rt::MakeArg(rt::kByteSet, 0)}), "");
  EXPECT_EQ(rt::LastObjectError(), rt::kObjNoConversion);
}

TEST_F(ComCommands, ArgumentsBecomeTheirVariantTypes) {
  rt::ComObjectCell dict{};
  ASSERT_TRUE(Create(&dict, "Scripting.Dictionary"));
  VARIANT held{};
  held.vt = VT_I4, held.lVal = 99;
  struct { const char* key; ArgRecord value; VARTYPE vt; double number; } cases[] = {
      {"long", rt::LongArg((int64_t{1} << 32) + 1), VT_I4, 1},  // the low 32 bits
      {"short", rt::MakeArg(rt::kShort, 0xFFFE), VT_I2, -2},
      {"bool", rt::BoolArg(true), VT_BOOL, -1},
      {"date", rt::DateTimeArg(43755.5), VT_DATE, 43755.5},
      {"text", TextArg("12"), VT_BSTR, 12},
      {"variant", rt::PtrArg(rt::kVariant, &held), VT_I4, 99},  // copied in
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    prog::Call(rt::CallMethod, {Obj(&dict), TextArg("Add"), TextArg(c.key), c.value});
    ArgRecord v = prog::Call(rt::CallMethodVariant, {Obj(&dict), TextArg("Item"), TextArg(c.key)});
    ASSERT_EQ(rt::LastObjectError(), 0);
    EXPECT_EQ(rt::AsPtr<VARIANT>(v)->vt, c.vt);
    EXPECT_EQ(rt::AsDouble(prog::Call(rt::CallMethodNumber, {Obj(&dict), TextArg("Item"), TextArg(c.key)})), c.number);
    prog::Call(rt::ClearVariant, {v});  // the caller clears and frees a Variant result
    EXPECT_EQ(rt::AsPtr<VARIANT>(v)->vt, VT_EMPTY);
    prog::Free(rt::AsPtr<void>(v));
  }
  prog::Call(rt::ClearObject, {Obj(&dict)});
}

// The answer host gives back what Eval on the same engine answers, code included; Eval's answer is pinned where given.
TEST_F(ComCommands, EvalAnswersAndTheAnswerHostGivesBackTheSame) {
  rt::ComObjectCell host{};
  ASSERT_TRUE(rt::AsInt(prog::Call(rt::CreateAnswerHost, {Obj(&host)})));
  prog::Call(rt::CallMethod, {Obj(o_->engine), TextArg("AddObject"), TextArg("h"), Obj(&host), rt::BoolArg(false)});
  ASSERT_EQ(rt::LastObjectError(), 0);
  Script(o_, rt::CallMethod, "ExecuteStatement", "var da={s:'x',n:2.5,b:true,z:null,o:{k:[10,20]},f:function(){}}");
  struct { const char* script; const char* text; double number; int32_t code; } cases[] = {
      {"1+2", "3", 3, 0},
      {"'\xd6\xd0\xce\xc4'", "\xd6\xd0\xce\xc4", 0, 0},  // GBK both ways
      {"undefined", "", 0, 0},                            // VT_EMPTY: empty, no error
      {"null", "", 0, rt::kObjResultConversion},          // VT_NULL is no Text or number
      {"throw 1", "", 0, rt::kObjException},
      {"da.s"}, {"da.n"}, {"da.b"}, {"da.z"}, {"da.missing"}, {"da.o"}, {"da.o.k"}, {"da.o.k[1]"}, {"da.f"},
      {"da.nope.x"}, {"typeof (da.o)"}, {"da.z==null"}, {"da.s !=null"}, {"1/0"}, {"(da.n=3)"},
  };
  const rt::BuiltinCommand commands[] = {rt::CallMethodText, rt::CallMethodNumber, rt::CallMethodBool};
  for (const auto& c : cases) {
    for (rt::BuiltinCommand cmd : commands) {
      SCOPED_TRACE(std::string(c.script) + (cmd == rt::CallMethodText ? " as Text" : cmd == rt::CallMethodNumber ? " as number" : " as bool"));
      ArgRecord want = Eval(cmd, c.script);
      const int32_t want_code = rt::LastObjectError();
      if (c.text && cmd == rt::CallMethodNumber) { EXPECT_EQ(rt::AsDouble(want), c.number); }
      if (c.text && cmd == rt::CallMethodText) { EXPECT_EQ(want_code, c.code); }
      Script(o_, rt::CallMethod, "ExecuteStatement", "h.put(" + std::string(c.script) + ")");
      ArgRecord got{0, 0};
      if (rt::LastObjectError() == 0) got = prog::Call(cmd, {Obj(&host), TextArg("take")});
      EXPECT_EQ(rt::LastObjectError(), want_code);
      if (cmd == rt::CallMethodText) {
        const std::string want_text = jsontest::Take(rt::AsPtr<char>(want));
        if (c.text) { EXPECT_EQ(want_text, c.text); }
        EXPECT_EQ(jsontest::Take(rt::AsPtr<char>(got)), want_text);
      } else {
        EXPECT_EQ(got.value, want.value);
      }
    }
  }
  EXPECT_EQ(Eval(rt::CallMethodBool, "1==1").value, 1u);
  // Taken once: the host keeps nothing (a second take answers undefined).
  EXPECT_EQ(jsontest::Take(rt::AsPtr<char>(prog::Call(rt::CallMethodText, {Obj(&host), TextArg("take")}))), "");
  EXPECT_EQ(rt::LastObjectError(), 0);
  prog::Call(rt::ClearObject, {Obj(&host)});
}

}  // namespace
