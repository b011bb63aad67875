// COM automation for programs: the ComObject and Variant value types and the
// built-in commands that create objects, write properties and call methods
// by name.
//
// Owns: the per-thread LastObjectError code. A ComObjectCell owns one
// counted reference on its interface (and, for a record, the record data);
// ClearObject drops it. Text results of CallMethodText and the 16-byte block
// of CallMethodVariant are new blocks owned by the caller (the Variant is
// cleared with ClearVariant before its block is freed).
// COM failures never raise a runtime error: commands answer an empty value
// and leave a code in LastObjectError.
// May call: ole32/oleaut32, memory.h. Windows only.
#pragma once

#include <cstdint>

#include "runtime/core/value.h"

namespace rt {

// The block a ComObject value refers to.
struct ComObjectCell {
  void* iface;   // IUnknown* (one counted reference), or IRecordInfo* when record is set
  void* record;  // data of a user-defined record owned by the cell, else null
};
static_assert(sizeof(ComObjectCell) == 2 * sizeof(void*), "a ComObjectCell is two words");
static_assert(sizeof(void*) != 4 || sizeof(ComObjectCell) == 8, "8 bytes on the target");

// A Variant value refers to a block of this size holding an OLE VARIANT.
constexpr uint32_t kVariantBlockSize = 16;

// Outcome codes of the by-name call (0 = success).
enum ObjectError : int32_t {
  kObjOk = 0,
  kObjEmpty = -1,
  kObjNoDispatch = -2,
  kObjNoMember = -3,
  kObjNoTypeInfo = -4,
  kObjTooManyArgs = -5,
  kObjNoConversion = -7,
  kObjResultConversion = -8,
  kObjBadParamCount = -9,
  kObjBadVarType = -10,
  kObjException = -11,
  kObjMemberNotFound = -12,
  kObjNoNamedArgs = -13,
  kObjOverflow = -14,
  kObjParamNotFound = -15,
  kObjTypeMismatch = -16,
  kObjParamNotOptional = -17,
  kObjInvokeFailed = -18,
};

// The calling thread's last by-name call outcome (0 before the first call).
int32_t LastObjectError();

// Test seam: the Nth COM step from now fails as the platform would report it
// (a step: creating an object, binding a member by name, an invocation); 0
// turns it off. ComStepsTaken counts steps, injected failures included.
void FailNthComStep(int n);
int64_t ComStepsTaken();

#define RT_COM_COMMAND(name) void name(ArgRecord* result, int count, ArgRecord* args)
RT_COM_COMMAND(CreateObject);       // object, class text, [type library file] -> Bool
RT_COM_COMMAND(SetObjectProperty);  // object, name, value -> Bool
RT_COM_COMMAND(CallMethod);         // object, name, arguments... -> nothing
RT_COM_COMMAND(CallMethodVariant);  // -> Variant (new block)
RT_COM_COMMAND(CallMethodText);     // -> Text (new block or null)
RT_COM_COMMAND(CallMethodNumber);   // -> Double
RT_COM_COMMAND(CallMethodBool);     // -> Bool
RT_COM_COMMAND(IsEmptyObject);      // object -> Bool
RT_COM_COMMAND(ClearObject);        // object
RT_COM_COMMAND(CopyObject);         // target (a new, empty cell), source
RT_COM_COMMAND(ClearVariant);       // variant
// The thread's LastObjectError, and a code read so put back: work a caller
// did not ask for (done in idle time) leaves the code its last call left.
RT_COM_COMMAND(SaveObjectError);     // -> Int
RT_COM_COMMAND(RestoreObjectError);  // code: Int
// A new answer host in the cell (answer_host.cpp): members put(value) and
// take(), which answers the value put and forgets it. -> Bool
RT_COM_COMMAND(CreateAnswerHost);
#undef RT_COM_COMMAND

// References held on all answer hosts alive (test figure): every script
// engine that was handed one keeps at least one until it is destroyed, so a
// count that grows means engines that are never let go.
int32_t AnswerHostReferences();

}  // namespace rt
