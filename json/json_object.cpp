// JsonObject operations. Each builds a short script around the root
// variable and the caller's arguments and hands it to the engine through
// the Runtime's COM commands (reached as built-in commands via prog::Call).
#include "json/json_object.h"

#include <cstring>
#include <initializer_list>
#include <utility>

#include "json/json_validate.h"
#include "runtime/core/commands.h"
#include "program/program_calls.h"
#include "program/program_support.h"
#include "program/dll_table.h"

namespace json {
namespace {

using prog::OwnedText;
using rt::ArgRecord;
using rt::TextArg;

// Program constants.
const char kEmpty[] = "";
const char kRootName[] = "da";
const char kScriptControl[] = "MSScriptControl.ScriptControl";
const char kLanguage[] = "Language";
const char kJavaScript[] = "JavaScript";
const char kAddCode[] = "AddCode";
const char kEval[] = "Eval";

const char* S(const char* t) { return t ? t : kEmpty; }
const char* S(const OwnedText& t) { return prog::Str(t); }
const char* R(const JsonObject* self) { return S(self->root_name); }

// A new Text holding the pieces one after another.
OwnedText Join(std::initializer_list<const char*> parts) {
  size_t total = 0;
  for (const char* p : parts) total += std::strlen(S(p));
  char* t = static_cast<char*>(prog::Allocate(static_cast<uint32_t>(total + 1)));
  char* out = t;
  for (const char* p : parts) {
    size_t n = std::strlen(S(p));
    std::memcpy(out, S(p), n);
    out += n;
  }
  *out = '\0';
  return OwnedText(t);
}

// An empty ComObjectCell for a new object's engine.
rt::ComObjectCell* NewEngineCell() {
  auto* cell = static_cast<rt::ComObjectCell*>(prog::Allocate(sizeof(rt::ComObjectCell)));
  std::memset(cell, 0, sizeof *cell);
  return cell;
}
ArgRecord Engine(const JsonObject* self) { return rt::PtrArg(rt::kComObject, self->engine); }

bool EngineEmpty(const JsonObject* self) {
  return rt::AsInt(prog::Call(rt::IsEmptyObject, {Engine(self)})) != 0;
}

// Eval (or AddCode) of a script through one of the method-call commands.
ArgRecord Run(rt::BuiltinCommand command, const JsonObject* self, const OwnedText& script,
              const char* method = kEval) {
  return prog::Call(command, {Engine(self), TextArg(method), TextArg(S(script))});
}
void EvalNothing(const JsonObject* self, const OwnedText& script) { Run(rt::CallMethod, self, script); }
double EvalNumber(const JsonObject* self, const OwnedText& script) {
  return rt::AsDouble(Run(rt::CallMethodNumber, self, script));
}
bool EvalBool(const JsonObject* self, const OwnedText& script) {
  return rt::AsInt(Run(rt::CallMethodBool, self, script)) != 0;
}
OwnedText EvalText(const JsonObject* self, const OwnedText& script) {
  return prog::TakeText(Run(rt::CallMethodText, self, script));
}

// A number as the Runtime writes it.
OwnedText NumberText(ArgRecord number) { return prog::TakeText(prog::Call(rt::ToText, {number})); }

bool StartsWithBracket(const char* key) {
  OwnedText first = prog::TakeText(prog::Call(rt::LeftText, {TextArg(S(key)), rt::IntArg(1)}));
  return std::strcmp(S(first), "[") == 0;
}

// "var " + R + "=" + value: the root declared afresh.
OwnedText DeclareRoot(const JsonObject* self, const char* value) { return Join({"var ", R(self), "=", value}); }
// R + "." + key.
OwnedText Member(const JsonObject* self, const char* key) { return Join({R(self), ".", key}); }
// R + key for a subscript, R + "." + key for a name.
OwnedText BracketJoin(const JsonObject* self, const char* key) {
  return StartsWithBracket(key) ? Join({R(self), key}) : Member(self, key);
}
// R alone for an empty path; otherwise the dot or the bracket-aware join.
OwnedText OptionalPath(const JsonObject* self, const char* path, bool bracket_aware) {
  if (!*S(path)) return Join({R(self)});
  return bracket_aware ? BracketJoin(self, path) : Member(self, path);
}

OwnedText Stringify(const OwnedText& expression) { return Join({"JSON.stringify(", S(expression), ")"}); }
// The index-th item of the array at the (dot-joined) path: R.path[index].
OwnedText Item(const JsonObject* self, const char* path, int32_t index) {
  return Join({S(OptionalPath(self, path, false)), "[", S(NumberText(rt::IntArg(index))), "]"});
}

bool PathAllowed(const char* path) { return !*S(path) || IsMemberPath(path); }

// Nothing but JSON white space (or nothing at all): eval() of it is undefined.
bool IsBlank(const char* text) {
  return std::strspn(S(text), " \t\r\n") == std::strlen(S(text));
}
// Text pasted bare or into eval(): one JSON value, or blank.
bool JsonAllowed(const char* json) { return IsBlank(json) || IsSafeJson(S(json)); }

// The right-hand side for a JSON text: eval(json). A top-level JSON string
// is only parenthesised, because eval() would run the string's content as
// script; every other JSON value is the same value either way.
OwnedText EvalOf(const char* json) {
  const char* first = S(json) + std::strspn(S(json), " \t\r\n");
  return *first == '"' ? Join({"(", json, ")"}) : Join({"eval(", json, ")"});
}

// Values pasted as script: strings must stay strings, and JSON must be JSON.
bool ValueAllowed(const char* value, bool is_json) {
  return is_json ? JsonAllowed(value) : IsPlainQuotable(S(value));
}
const char* QuoteFor(bool is_json) { return is_json ? "" : "'"; }

// GetMemberObject and GetItemObject: a temporary object is made first, then
// its fresh engine parses the JSON that `script` (null: nothing is sent)
// answers on this object, and the caller gets a copy sharing that engine.
JsonObject* ObjectFromScript(const JsonObject* self, const OwnedText& script) {
  JsonObject* temp = NewJsonObject();
  OwnedText json;
  if (script.get()) json = EvalText(self, script);
  temp->methods->parse(temp, S(json));
  JsonObject* copy = temp->methods->copy(temp);
  DeleteJsonObject(temp);
  return copy;
}

}  // namespace

// ---- Lifecycle ----

JsonObject* NewJsonObject() {
  auto* self = static_cast<JsonObject*>(prog::Allocate(sizeof(JsonObject)));
  std::memset(self, 0, sizeof *self);
  self->methods = &kJsonMethods;
  self->engine = NewEngineCell();
  Construct(self);
  return self;
}

void DeleteJsonObject(JsonObject* self) {
  if (!self) return;
  self->methods->destroy(self);
  prog::Free(self);
}

void Construct(JsonObject* self) {
  prog::Free(self->root_name);
  self->root_name = Join({kRootName}).release();
  self->methods->init_engine(self);
}

void InitEngine(JsonObject* self) {
  prog::CallDll(prog::kCoInitialize, {0});
  prog::Call(rt::CreateObject, {Engine(self), TextArg(kScriptControl), rt::OmittedArg()});
  prog::Call(rt::SetObjectProperty, {Engine(self), TextArg(kLanguage), TextArg(kJavaScript)});
  prog::Call(rt::CallMethodNumber, {Engine(self), TextArg(kAddCode), TextArg(kJsonPrelude)});
  EvalNumber(self, DeclareRoot(self, "{}"));
}

void Shutdown(JsonObject* self) {
  prog::Call(rt::ClearObject, {Engine(self)});
  prog::CallDll(prog::kCoUninitialize, {});
}

void Destroy(JsonObject* self) {
  Shutdown(self);
  prog::Free(self->root_name);
  self->root_name = nullptr;
  prog::Call(rt::ClearObject, {Engine(self)});
  prog::Free(self->engine);
  self->engine = nullptr;
}

JsonObject* Copy(JsonObject* source) {
  auto* copy = static_cast<JsonObject*>(prog::Allocate(sizeof(JsonObject)));
  copy->methods = source->methods;
  copy->root_name = Join({R(source)}).release();
  copy->engine = NewEngineCell();
  prog::Call(rt::CopyObject, {Engine(copy), Engine(source)});
  return copy;
}

// ---- Operations ----

bool Parse(JsonObject* self, const char* text) {
  // Decided before anything reaches the engine: only one well-formed JSON
  // value (or a blank reply, which leaves the root undefined) is ever
  // evaluated, so a reply cannot run script.
  const bool is_json = JsonAllowed(text);
  if (!EngineEmpty(self)) {
    prog::Call(rt::ClearObject, {Engine(self)});
    self->methods->init_engine(self);
  }
  if (EngineEmpty(self)) return false;
  EvalNumber(self, DeclareRoot(self, "null"));
  if (is_json) Run(rt::CallMethodNumber, self, DeclareRoot(self, S(EvalOf(text))), kAddCode);
  return EvalBool(self, Join({"null !=", R(self)}));
}

rt::Text ToJson(JsonObject* self) {
  return EvalText(self, Stringify(Join({R(self)}))).release();
}

void SetMember(JsonObject* self, const char* key, const char* value, bool is_json) {
  // A JSON value is SetMemberJson's job (an empty one stands for {}).
  if (is_json) return self->methods->set_member_json(self, key, *S(value) ? value : "{}");
  if (!IsMemberPath(key) || !IsPlainQuotable(value)) return;
  EvalNothing(self, Join({S(Member(self, key)), "='", value, "'"}));
}

void SetMemberJson(JsonObject* self, const char* key, const char* json) {
  if (!IsMemberPath(key) || !JsonAllowed(json)) return;
  EvalNothing(self, Join({S(Member(self, key)), "= ", S(EvalOf(json))}));
}

void SetMemberNumber(JsonObject* self, const char* key, double number) {
  if (!IsMemberPath(key)) return;
  EvalNothing(self, Join({S(Member(self, key)), "=", S(NumberText(rt::DoubleArg(number)))}));
}

double GetNumber(JsonObject* self, const char* key) {
  if (!IsMemberPath(key)) return 0.0;
  return EvalNumber(self, Member(self, key));
}

rt::Text GetJson(JsonObject* self, const char* key) {
  if (!IsMemberPath(key)) return nullptr;
  return EvalText(self, Stringify(Member(self, key))).release();
}

rt::Text GetText(JsonObject* self, const char* key, bool as_json) {
  if (!IsMemberPath(key)) return nullptr;
  OwnedText p = BracketJoin(self, key);
  if (as_json) return EvalText(self, Stringify(p)).release();
  if (EngineEmpty(self)) return nullptr;
  if (self->methods->type_of(self, key) == kJsonNumber)
    return NumberText(rt::DoubleArg(self->methods->get_number(self, key))).release();
  return EvalText(self, p).release();
}

JsonObject* GetMemberObject(JsonObject* self, const char* key) {
  OwnedText script;
  if (IsMemberPath(key)) script = Stringify(BracketJoin(self, key));
  return ObjectFromScript(self, script);
}

int32_t Count(JsonObject* self, const char* path) {
  if (!PathAllowed(path)) return 0;
  double n = EvalNumber(self, Join({"get__count(", S(OptionalPath(self, path, true)), ")"}));
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(prog::TruncateToInt64(n))));
}

void AppendItem(JsonObject* self, const char* value, const char* path, bool is_json) {
  if (!PathAllowed(path) || !ValueAllowed(value, is_json)) return;
  OwnedText p = OptionalPath(self, path, false);
  const char* q = QuoteFor(is_json);
  EvalNothing(self, Join({"if (Object.prototype.toString.call(", S(p), ") != '[object Array]') { ",
                          S(p), "=new Array();} ", S(p), ".push(", q, value, q, ")"}));
}

JsonObject* GetItemObject(JsonObject* self, int32_t index, const char* path) {
  OwnedText script;
  if (PathAllowed(path)) script = Stringify(Item(self, path, index));
  return ObjectFromScript(self, script);
}

rt::Text GetItem(JsonObject* self, int32_t index, const char* path, bool as_json) {
  if (!PathAllowed(path)) return nullptr;
  OwnedText item = Item(self, path, index);
  return EvalText(self, as_json ? Stringify(item) : std::move(item)).release();
}

void SetItem(JsonObject* self, int32_t index, const char* value, bool is_json) {
  if (!ValueAllowed(value, is_json)) return;
  const char* q = QuoteFor(is_json);
  EvalNothing(self, Join({S(Item(self, "", index)), "=", q, value, q}));
}

void RemoveItem(JsonObject* self, int32_t index) {
  EvalNothing(self, Join({R(self), ".splice(", S(NumberText(rt::IntArg(index))), ",1)"}));
}

void RemoveItemAt(JsonObject* self, const char* path) {
  const char* p = S(path);
  int32_t open = rt::AsInt(prog::Call(rt::FindText, {TextArg(p), TextArg("[")}));
  OwnedText a, b;
  if (open > 0) {
    a = prog::TakeText(prog::Call(rt::LeftText, {TextArg(p), rt::IntArg(open - 1)}));
    int32_t close = rt::AsInt(prog::Call(rt::FindText, {TextArg(p), TextArg("]"), rt::IntArg(open + 1)}));
    if (close > 0)
      b = prog::TakeText(prog::Call(rt::MidText, {TextArg(p), rt::IntArg(open + 1), rt::IntArg(close - open - 1)}));
  }
  // The array's own path is pasted into script: it must be a member path.
  if (!IsMemberPath(S(a))) return;
  JsonObject* temp = NewJsonObject();
  OwnedText json(self->methods->get_text(self, S(a), true));
  temp->methods->parse(temp, S(json));
  temp->methods->remove_item(temp, rt::AsInt(prog::Call(rt::ToInt, {TextArg(S(b))})));
  OwnedText rest(temp->methods->to_json(temp));
  self->methods->set_member_json(self, S(a), S(rest));
  DeleteJsonObject(temp);
}

void Reset(JsonObject* self, int32_t kind) {
  if (kind == kJsonMissing || kind == kJsonObject) EvalNumber(self, DeclareRoot(self, "{}"));
  else if (kind == kJsonArray) EvalNumber(self, DeclareRoot(self, "new Array()"));
}

void SetRoot(JsonObject* self, const char* value, bool is_json) {
  if (!ValueAllowed(value, is_json)) return;
  const char* q = QuoteFor(is_json);
  EvalBool(self, Join({R(self), "=", q, value, q}));
}

bool Has(JsonObject* self, const char* key) {
  if (!IsMemberPath(key)) return false;
  return EvalBool(self, Join({S(Member(self, key)), " !=null"}));
}

int32_t GetKeys(JsonObject* self, rt::ArrayBlock** keys, const char* path) {
  OwnedText names;
  if (PathAllowed(path)) {
    names = EvalText(self, Join({"var ary=''; for (var key in ", S(OptionalPath(self, path, true)),
                                 ") {ary=ary+ key+','; }"}));
    // The prelude's two enumerable additions to Object.prototype, removed
    // byte-exactly (case-sensitive) wherever they occur.
    for (const char* added : {"toJSONString,", "parseJSON,"})
      names = prog::TakeText(prog::Call(rt::ReplaceSubtext, {TextArg(S(names)), TextArg(added), TextArg(""),
                                                             rt::OmittedArg(), rt::OmittedArg(), rt::BoolArg(true)}));
    ArgRecord v = Run(rt::CallMethodVariant, self, Join({"ary=null"}));
    prog::Call(rt::ClearVariant, {v});
    prog::Free(rt::AsPtr<void>(v));
  }
  ArgRecord split = prog::Call(rt::SplitText, {TextArg(S(names)), TextArg(",")});
  auto* array = rt::AsPtr<rt::ArrayBlock>(split);
  prog::FreeTextArray(*keys);
  *keys = array;
  return prog::ElementCount(array);
}

int32_t TypeOf(JsonObject* self, const char* key) {
  if (*S(key) && !IsMemberPath(key)) return kJsonOther;
  OwnedText p = OptionalPath(self, key, false);
  if (EvalBool(self, Join({S(p), "==null"}))) return kJsonMissing;
  OwnedText type = EvalText(self, Join({"typeof (", S(p), ")"}));
  const char* t = S(type);
  if (std::strcmp(t, "string") == 0) return kJsonString;
  if (std::strcmp(t, "object") == 0) {
    OwnedText json(self->methods->get_text(self, key, true));
    return S(json)[0] == '[' ? kJsonArray : kJsonObject;
  }
  if (std::strcmp(t, "number") == 0) return kJsonNumber;
  if (std::strcmp(t, "boolean") == 0) return kJsonBool;
  return kJsonOther;
}

void Clear(JsonObject* self) { EvalNothing(self, Join({R(self), "={}"})); }

}  // namespace json
