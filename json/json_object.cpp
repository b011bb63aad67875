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
#include "json/json_dll.h"

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

// What the engine is sent. Under Wine every expression the control's Eval
// (or the script's eval()) compiles keeps about 1.4 KB that nothing gives
// back, while statements (ExecuteStatement, AddCode) keep nothing. A Run
// that could hand a value back needs arguments, and with them it pins the
// whole engine once the control is released. So a script whose answer is
// not wanted runs as a statement (same engine, same failure codes), and a
// read runs as the statement kAnswerName.put(expression): the Runtime's
// answer host, added to every engine, holds the value, and its take() hands
// it back converted as Eval's answer would be, with the same codes (a
// script that fails stops before put, leaving Eval's code). Only a read
// that is a list of statements (GetKeys) still needs Eval.
const char kExecuteStatement[] = "ExecuteStatement";
const char kAddObject[] = "AddObject";
const char kAnswerName[] = "__answer";
const char kTake[] = "take";

// ---- The next engine ----
// Parse starts its object afresh (a new control, the prelude, an empty
// root), which costs more than the rest of a refresh. So the next control is
// started in idle time (a thread timer: its message comes only when the
// queue is otherwise empty) and InitEngine takes it when one is ready. The
// object cannot tell: nothing has been sent to that control, InitEngine still
// counts its CoInitialize and sends the root statement that sets
// LastObjectError. The spare lives while any object does. UI thread only.
struct EngineStore {
  rt::ComObjectCell spare;    // started, prelude loaded; or empty
  rt::ComObjectCell host;     // the answer host every engine holds; or empty
  uint32_t timer;             // the pending idle timer, 0 when none
  int32_t live;               // objects constructed or copied and not destroyed
  const void* pristine;       // the engine no script has reached since InitEngine
  bool off;                   // SetEngineReuse(false): neither spare nor pristine engine
};
EngineStore g_store{};

ArgRecord Cell(rt::ComObjectCell* cell) { return rt::PtrArg(rt::kComObject, cell); }
bool Empty(rt::ComObjectCell* cell) { return rt::AsInt(prog::Call(rt::IsEmptyObject, {Cell(cell)})) != 0; }

// SetObjectProperty binds methods too and answers whether the call left
// LastObjectError at 0: a method call whose success we need to know.
bool Succeeds(rt::ComObjectCell* cell, const char* method, const char* argument) {
  return rt::AsInt(prog::Call(rt::SetObjectProperty, {Cell(cell), TextArg(method), TextArg(argument)})) != 0;
}

// InitEngine's steps 2 to 4, each run whatever the one before did, with
// the answer host added before the prelude; true when all succeeded.
bool StartEngine(rt::ComObjectCell* cell) {
  bool ok = rt::AsInt(prog::Call(rt::CreateObject, {Cell(cell), TextArg(kScriptControl), rt::OmittedArg()})) != 0;
  ok &= rt::AsInt(prog::Call(rt::SetObjectProperty, {Cell(cell), TextArg(kLanguage), TextArg(kJavaScript)})) != 0;
  if (Empty(&g_store.host)) prog::Call(rt::CreateAnswerHost, {Cell(&g_store.host)});
  if (!Empty(&g_store.host))
    prog::Call(rt::CallMethod, {Cell(cell), TextArg(kAddObject), TextArg(kAnswerName), Cell(&g_store.host),
                                rt::BoolArg(false)});
  ok &= Succeeds(cell, kAddCode, kJsonPrelude);
  return ok;
}

void __stdcall PrepareSpare(void*, uint32_t, uintptr_t, uint32_t);

void ScheduleSpare() {
  if (g_store.off || g_store.timer || !Empty(&g_store.spare) || g_store.live <= 0) return;
  g_store.timer = prog::CallDll(kSetTimer, {0, 0, 0, prog::W(reinterpret_cast<void*>(&PrepareSpare))});
}

void __stdcall PrepareSpare(void*, uint32_t, uintptr_t, uint32_t) {
  prog::CallDll(kKillTimer, {0, g_store.timer});
  g_store.timer = 0;
  if (g_store.live <= 0 || !Empty(&g_store.spare)) return;
  // As if the engine were started when a Parse takes it: the code the
  // program's last call left stays what it reads.
  const int32_t code = rt::AsInt(prog::Call(rt::SaveObjectError, {}));
  if (!StartEngine(&g_store.spare)) prog::Call(rt::ClearObject, {Cell(&g_store.spare)});
  prog::Call(rt::RestoreObjectError, {rt::IntArg(code)});
}

// The last object gone: nothing more to prepare.
void DropStore() {
  if (g_store.timer) prog::CallDll(kKillTimer, {0, g_store.timer});
  g_store.timer = 0;
  prog::Call(rt::ClearObject, {Cell(&g_store.spare)});
  prog::Call(rt::ClearObject, {Cell(&g_store.host)});
  g_store.pristine = nullptr;
}

const void* EngineInterface(const JsonObject* self) { return self->engine ? self->engine->iface : nullptr; }
bool Pristine(const JsonObject* self) {
  return !g_store.off && EngineInterface(self) && EngineInterface(self) == g_store.pristine;
}
// Any script sent, a copy made or an object ended: the engine is no longer
// known to be fresh.
void Touch(const JsonObject* self) {
  if (Pristine(self)) g_store.pristine = nullptr;
}

// A statement; its answer is not wanted.
void Execute(const JsonObject* self, const OwnedText& script) {
  Touch(self);
  prog::Call(rt::CallMethod, {Engine(self), TextArg(kExecuteStatement), TextArg(S(script))});
}

// A read: the script's answer, converted by `command`. A failed statement
// answers the empty value (ArgRecord zero) with the statement's code.
ArgRecord Read(rt::BuiltinCommand command, const JsonObject* self, const OwnedText& script) {
  Touch(self);
  if (Empty(&g_store.host)) return prog::Call(command, {Engine(self), TextArg(kEval), TextArg(S(script))});
  if (!Succeeds(self->engine, kExecuteStatement, S(Join({kAnswerName, ".put(", S(script), ")"}))))
    return ArgRecord{0, 0};
  return prog::Call(command, {Cell(&g_store.host), TextArg(kTake)});
}
// A read whose script is a list of statements: Eval answers the last one's value.
OwnedText EvalStatementsText(const JsonObject* self, const OwnedText& script) {
  Touch(self);
  return prog::TakeText(prog::Call(rt::CallMethodText, {Engine(self), TextArg(kEval), TextArg(S(script))}));
}
double EvalNumber(const JsonObject* self, const OwnedText& script) {
  return rt::AsDouble(Read(rt::CallMethodNumber, self, script));
}
bool EvalBool(const JsonObject* self, const OwnedText& script) {
  return rt::AsInt(Read(rt::CallMethodBool, self, script)) != 0;
}
OwnedText EvalText(const JsonObject* self, const OwnedText& script) {
  return prog::TakeText(Read(rt::CallMethodText, self, script));
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
// The literal null between JSON white space: the one JSON text whose value
// compares equal to null.
bool IsNullLiteral(const char* text) {
  const char* p = S(text) + std::strspn(S(text), " \t\r\n");
  return std::strncmp(p, "null", 4) == 0 && p[4 + std::strspn(p + 4, " \t\r\n")] == '\0';
}
// Text pasted bare or into eval(): one JSON value, or blank.
bool JsonAllowed(const char* json) { return IsBlank(json) || IsSafeJson(S(json)); }

// The right-hand side for a JSON text, the value eval(json) gives: the text
// in parentheses (eval() of a value that is not a string is that value, and
// of a JSON string would run the string's content as script), or void 0 for
// a blank text (eval() of nothing). Never eval() itself: each call of it
// keeps memory under Wine.
OwnedText EvalOf(const char* json) {
  return IsBlank(json) ? Join({"void 0"}) : Join({"(", json, ")"});
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

void SetEngineReuse(bool on) {
  g_store.off = !on;
  if (g_store.off && g_store.spare.iface) prog::Call(rt::ClearObject, {Cell(&g_store.spare)});
}

EngineFigures GetEngineFigures() { return {g_store.live, !Empty(&g_store.spare)}; }

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
  ++g_store.live;
  self->methods->init_engine(self);
}

void InitEngine(JsonObject* self) {
  prog::CallDll(kCoInitialize, {0});
  if (!Empty(&g_store.spare)) {
    prog::Call(rt::ClearObject, {Engine(self)});
    prog::Call(rt::CopyObject, {Engine(self), Cell(&g_store.spare)});
    prog::Call(rt::ClearObject, {Cell(&g_store.spare)});
  } else {
    StartEngine(self->engine);
  }
  Execute(self, DeclareRoot(self, "{}"));
  g_store.pristine = EngineInterface(self);
  ScheduleSpare();
}

void Shutdown(JsonObject* self) {
  Touch(self);
  prog::Call(rt::ClearObject, {Engine(self)});
  if (g_store.live > 0 && --g_store.live == 0) DropStore();
  prog::CallDll(kCoUninitialize, {});
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
  Touch(source);
  prog::Call(rt::CopyObject, {Engine(copy), Engine(source)});
  ++g_store.live;
  return copy;
}

// ---- Operations ----

bool Parse(JsonObject* self, const char* text) {
  // Decided before anything reaches the engine: only one well-formed JSON
  // value (or a blank reply, which leaves the root undefined) is ever
  // evaluated, so a reply cannot run script.
  const bool is_json = JsonAllowed(text);
  if (Pristine(self)) {
    // Nothing has reached this engine since InitEngine: it already is the
    // engine a restart would give. Only the restart's CoInitialize is due.
    prog::CallDll(kCoInitialize, {0});
  } else if (!EngineEmpty(self)) {
    prog::Call(rt::ClearObject, {Engine(self)});
    self->methods->init_engine(self);
  }
  if (EngineEmpty(self)) return false;
  Execute(self, DeclareRoot(self, "null"));
  if (!is_json) return false;  // nothing sent: the root stays null
  // The root is now the text's value, so whether it differs from null is
  // known without asking the engine: every JSON value but null and the
  // blank text's undefined does, once the statement has run.
  Touch(self);
  if (Succeeds(self->engine, kAddCode, S(DeclareRoot(self, S(EvalOf(text))))))
    return !IsBlank(text) && !IsNullLiteral(text);
  Execute(self, Join({R(self)}));  // the answer Eval would give leaves code 0
  return false;
}

rt::Text ToJson(JsonObject* self) {
  return EvalText(self, Stringify(Join({R(self)}))).release();
}

void SetMember(JsonObject* self, const char* key, const char* value, bool is_json) {
  // A JSON value is SetMemberJson's job (an empty one stands for {}).
  if (is_json) return self->methods->set_member_json(self, key, *S(value) ? value : "{}");
  if (!IsMemberPath(key) || !IsPlainQuotable(value)) return;
  Execute(self, Join({S(Member(self, key)), "='", value, "'"}));
}

void SetMemberJson(JsonObject* self, const char* key, const char* json) {
  if (!IsMemberPath(key) || !JsonAllowed(json)) return;
  Execute(self, Join({S(Member(self, key)), "= ", S(EvalOf(json))}));
}

void SetMemberNumber(JsonObject* self, const char* key, double number) {
  if (!IsMemberPath(key)) return;
  Execute(self, Join({S(Member(self, key)), "=", S(NumberText(rt::DoubleArg(number)))}));
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
  Execute(self, Join({"if (Object.prototype.toString.call(", S(p), ") != '[object Array]') { ",
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
  Execute(self, Join({S(Item(self, "", index)), "=", q, value, q}));
}

void RemoveItem(JsonObject* self, int32_t index) {
  Execute(self, Join({R(self), ".splice(", S(NumberText(rt::IntArg(index))), ",1)"}));
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
  if (kind == kJsonMissing || kind == kJsonObject) Execute(self, DeclareRoot(self, "{}"));
  else if (kind == kJsonArray) Execute(self, DeclareRoot(self, "new Array()"));
}

void SetRoot(JsonObject* self, const char* value, bool is_json) {
  if (!ValueAllowed(value, is_json)) return;
  const char* q = QuoteFor(is_json);
  // Evaluated, not run as a statement: converting its answer to a bool
  // decides LastObjectError.
  EvalBool(self, Join({R(self), "=", q, value, q}));
}

bool Has(JsonObject* self, const char* key) {
  if (!IsMemberPath(key)) return false;
  return EvalBool(self, Join({S(Member(self, key)), " !=null"}));
}

int32_t GetKeys(JsonObject* self, rt::ArrayBlock** keys, const char* path) {
  OwnedText names;
  if (PathAllowed(path)) {
    names = EvalStatementsText(self, Join({"var ary=''; for (var key in ", S(OptionalPath(self, path, true)),
                                 ") {ary=ary+ key+','; }"}));
    // The prelude's two enumerable additions to Object.prototype, removed
    // byte-exactly (case-sensitive) wherever they occur.
    for (const char* added : {"toJSONString,", "parseJSON,"})
      names = prog::TakeText(prog::Call(rt::ReplaceSubtext, {TextArg(S(names)), TextArg(added), TextArg(""),
                                                             rt::OmittedArg(), rt::OmittedArg(), rt::BoolArg(true)}));
    Execute(self, Join({"ary=null"}));
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

void Clear(JsonObject* self) { Execute(self, Join({R(self), "={}"})); }

}  // namespace json
