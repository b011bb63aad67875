// Shared set-up of the Windows JSON and COM tests: the program's DLL table and COM, Take for Text
// results, a call of the engine, a fixture with one object and its JSON.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "json/json_object.h"
#include "program/program_calls.h"
#include "tests/support/program_setup.h"

namespace jsontest {

inline void SetUpRuntime() { testsupport::LoadProgramDllTable(), CoInitialize(nullptr); }

inline std::string Take(char* text) {
  std::string s = text ? text : "";
  prog::Free(text);
  return s;
}

// cmd (CallMethod, CallMethodText, ...) of the object's engine: method(script).
inline rt::ArgRecord Script(json::JsonObject* o, rt::BuiltinCommand cmd, const char* method,
                            const std::string& script) {
  return prog::Call(cmd, {rt::PtrArg(rt::kComObject, o->engine), rt::TextArg(method), rt::TextArg(script.c_str())});
}

class ObjectTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { SetUpRuntime(); }
  void TearDown() override { json::DeleteJsonObject(o_); }
  std::string ToJson(json::JsonObject* o = nullptr) { return Take(json::ToJson(o ? o : o_)); }
  std::string ToJsonAndFree(json::JsonObject* o) { std::string s = ToJson(o); json::DeleteJsonObject(o); return s; }
  json::JsonObject* o_ = json::NewJsonObject();
};

}  // namespace jsontest
