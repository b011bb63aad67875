// JsonObject: the program's JSON class. Its data never lives in program
// memory: each object owns a Microsoft Script Control running JavaScript,
// keeps its value in the script variable named by rootName ("da"), and
// every operation is a short script handed to the engine through the
// Runtime's COM commands: as a statement, or, when its answer is wanted, as a
// statement that hands the value to the Runtime's answer host, which gives it
// back converted as an Eval's answer would be. The next engine a Parse needs
// is started in idle time, leaving LastObjectError as the program left it.
//
// Owns: the rootName Text and the ComObjectCell block (and through it one
// reference on the Script Control). Copies share the engine. The spare
// engine, the one Parse replaced and the answer host every engine holds
// belong to the class and are released
// when its last object is destroyed. Text results
// are new blocks owned by the caller (free with prog::Free / OwnedText);
// JsonObject results are new objects owned by the caller, who ends them
// with DeleteJsonObject.
// Failures are never reported: operations answer empty values ("", 0,
// false) and the COM code stays in the Runtime's LastObjectError.
// What reaches the engine is checked first (json_validate.h): Parse takes
// only one well-formed JSON value (or a blank text), keys must be member
// paths, quoted values must stay strings and JSON values must be JSON (or
// blank); anything else sends nothing. A top-level JSON string is pasted in
// parentheses instead of eval(), which would run its content.
// May call: the Runtime only through prog:: (program_calls.h); platform
// functions only through the DLL command table (its rows: json_dll.h).
// Windows only.
#pragma once

#include <cstdint>

#include "runtime/com/com.h"
#include "runtime/core/value.h"

namespace json {

struct JsonObject;

// The whole-number kind TypeOf answers and Reset takes.
enum JsonKind : int32_t {
  kJsonMissing = 0,  // null, undefined or missing
  kJsonBool = 1,
  kJsonNumber = 2,
  kJsonObject = 4,
  kJsonArray = 5,
  kJsonString = 6,
  kJsonOther = -1,  // a function, or an expression that fails
};

// The operations. Optional arguments: pass "" or false when left out.
void Destroy(JsonObject* self);
JsonObject* Copy(JsonObject* source);
void InitEngine(JsonObject* self);
bool Parse(JsonObject* self, const char* text);
rt::Text ToJson(JsonObject* self);
void SetMember(JsonObject* self, const char* key, const char* value, bool is_json);
void SetMemberJson(JsonObject* self, const char* key, const char* json);
void SetMemberNumber(JsonObject* self, const char* key, double number);
double GetNumber(JsonObject* self, const char* key);
rt::Text GetJson(JsonObject* self, const char* key);
rt::Text GetText(JsonObject* self, const char* key, bool as_json);
JsonObject* GetMemberObject(JsonObject* self, const char* key);
int32_t Count(JsonObject* self, const char* path);
void AppendItem(JsonObject* self, const char* value, const char* path, bool is_json);
JsonObject* GetItemObject(JsonObject* self, int32_t index, const char* path);
rt::Text GetItem(JsonObject* self, int32_t index, const char* path, bool as_json);
void SetItem(JsonObject* self, int32_t index, const char* value, bool is_json);
void RemoveItem(JsonObject* self, int32_t index);
void RemoveItemAt(JsonObject* self, const char* path);
void Reset(JsonObject* self, int32_t kind);
void SetRoot(JsonObject* self, const char* value, bool is_json);
bool Has(JsonObject* self, const char* key);
int32_t GetKeys(JsonObject* self, rt::ArrayBlock** keys, const char* path);
int32_t TypeOf(JsonObject* self, const char* key);
void Clear(JsonObject* self);

// The class's method table. Operations call one another through it, so its
// order is part of the class's contract.
struct JsonMethods {
  void (*destroy)(JsonObject*);
  JsonObject* (*copy)(JsonObject*);
  void (*init_engine)(JsonObject*);
  bool (*parse)(JsonObject*, const char*);
  rt::Text (*to_json)(JsonObject*);
  void (*set_member)(JsonObject*, const char*, const char*, bool);
  void (*set_member_json)(JsonObject*, const char*, const char*);
  void (*set_member_number)(JsonObject*, const char*, double);
  double (*get_number)(JsonObject*, const char*);
  rt::Text (*get_json)(JsonObject*, const char*);
  rt::Text (*get_text)(JsonObject*, const char*, bool);
  JsonObject* (*get_member_object)(JsonObject*, const char*);
  int32_t (*count)(JsonObject*, const char*);
  void (*append_item)(JsonObject*, const char*, const char*, bool);
  JsonObject* (*get_item_object)(JsonObject*, int32_t, const char*);
  rt::Text (*get_item)(JsonObject*, int32_t, const char*, bool);
  void (*set_item)(JsonObject*, int32_t, const char*, bool);
  void (*remove_item)(JsonObject*, int32_t);
  void (*remove_item_at)(JsonObject*, const char*);
  void (*reset)(JsonObject*, int32_t);
  void (*set_root)(JsonObject*, const char*, bool);
  bool (*has)(JsonObject*, const char*);
  int32_t (*get_keys)(JsonObject*, rt::ArrayBlock**, const char*);
  int32_t (*type_of)(JsonObject*, const char*);
  void (*clear)(JsonObject*);
};
static_assert(sizeof(JsonMethods) == 25 * sizeof(void*), "25 entries");

inline constexpr JsonMethods kJsonMethods = {
    &Destroy,      &Copy,          &InitEngine,    &Parse,       &ToJson,
    &SetMember,    &SetMemberJson, &SetMemberNumber, &GetNumber, &GetJson,
    &GetText,      &GetMemberObject,     &Count,         &AppendItem,  &GetItemObject,
    &GetItem,      &SetItem,       &RemoveItem,    &RemoveItemAt, &Reset,
    &SetRoot,      &Has,           &GetKeys,       &TypeOf,      &Clear,
};

// A heap block of three words.
struct JsonObject {
  const JsonMethods* methods;
  rt::Text root_name;          // "da" for every object
  rt::ComObjectCell* engine;   // the Script Control; empty until InitEngine
};
static_assert(sizeof(JsonObject) == 3 * sizeof(void*), "three words");

// The script prelude every engine gets: get__count, JSON.stringify,
// JSON.parse and the two Object.prototype additions.
extern const char kJsonPrelude[];
extern const uint32_t kJsonPreludeLength;

// Not table entries: run on every new object, and by Destroy.
void Construct(JsonObject* self);
void Shutdown(JsonObject* self);

// Whether a restart may use the engine started in idle time, or keep one no
// script has reached (on by default). The fault-injection build turns it off,
// so that every step of a refresh, engine start included, happens inside it.
void SetEngineReuse(bool on);

// Test figures: objects alive (constructed or copied, not destroyed) and
// whether a spare engine started in idle time is waiting.
struct EngineFigures {
  int32_t objects;
  bool spare;
};
EngineFigures GetEngineFigures();

// Creating an object (allocation, a zeroed cell, Construct: the engine is
// started and the prelude loaded) and ending one (Destroy, then the block).
JsonObject* NewJsonObject();
void DeleteJsonObject(JsonObject* self);

}  // namespace json
