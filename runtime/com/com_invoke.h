// The machinery behind the object commands: conversions between Runtime
// values and VARIANTs, and the by-name call through the object's type
// information. Internal to the Runtime (the commands in com.h are the
// program's interface).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "runtime/com/com.h"

namespace rt {

// Which invoke kinds a by-name call tries, in order.
enum class InvokeList {
  kPut,     // PROPERTYPUT, PROPERTYPUTREF, FUNC
  kMethod,  // FUNC, PROPERTYGET, PROPERTYPUT, PROPERTYPUTREF
  kGet,     // PROPERTYGET, FUNC
};

// Calls member `name` of the cell's object with `count` argument records.
// result->type says what the answer is converted to (0: dropped). Returns
// the outcome code, which is also stored in LastObjectError.
int32_t InvokeByName(ComObjectCell* cell, const char* name, ArgRecord* args, int count,
                     InvokeList list, ArgRecord* result);

// Runtime argument to VARIANT for a parameter whose type (by-reference flag
// removed) is `param_vt`. `out` must be empty. False: the TypeCode has no
// conversion.
bool ValueToVariant(const ArgRecord& arg, VARTYPE param_vt, VARIANT* out);

// VARIANT to a value of TypeCode `type`: into result->value when `variable`
// is null, otherwise into the caller's variable it points at (whose old
// Text, Variant or ComObject content is released first). False when the
// VARIANT cannot become that type.
bool VariantToValue(const VARIANT& source, uint32_t type, ArgRecord* result, void* variable);

// New zeroed blocks: an empty cell, and a VARIANT block holding VT_EMPTY.
ComObjectCell* NewCell();
VARIANT* NewVariantBlock();

// Releases what a cell holds and empties it.
void ClearCell(ComObjectCell* cell);
// The cell or VARIANT block an argument names (through the caller's
// variable when bit 29 is set).
ComObjectCell* CellOf(const ArgRecord& arg);
VARIANT* VariantBlockOf(const ArgRecord& arg);

// Puts back a code LastObjectError held before.
void SetLastObjectError(int32_t code);

// True when the FailNthComStep seam says this step must fail; every step
// asks once.
bool InjectedComFailure();

}  // namespace rt
