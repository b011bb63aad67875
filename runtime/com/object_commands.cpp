// The object commands of com.h over InvokeByName, and object creation.
#include <cstring>

#include "runtime/com/com_invoke.h"
#include "runtime/com/com_owners.h"
#include "runtime/core/memory.h"

namespace rt {
namespace {

const char* TextOrEmpty(const ArgRecord& a) {
  const char* t = AsText(a);
  return t ? t : "";
}

// The by-name commands' arguments: object, name, then the member's arguments.
void InvokeArgs(int count, ArgRecord* args, InvokeList list, ArgRecord* result) {
  ComObjectCell* cell = count > 0 ? CellOf(args[0]) : nullptr;
  const char* name = count > 1 ? TextOrEmpty(args[1]) : "";
  InvokeByName(cell, name, args + (count > 2 ? 2 : count), count > 2 ? count - 2 : 0, list, result);
}

// The method-call family, answering a value of `type` (kNoType: nothing).
void CallInto(ArgRecord* result, uint32_t type, int count, ArgRecord* args) {
  result->type = type;
  result->value = 0;
  InvokeArgs(count, args, InvokeList::kMethod, result);
  if (type == kNoType) *result = ArgRecord{0, 0};
}

// The type-library route: an instance of the coclass named `name` in
// `file`. Empty when the library or the class cannot be had.
ComPtr<IUnknown> CreateFromTypeLibrary(const char* name, const char* file) {
  UniqueBstr wide_file = AnsiToBstr(file);
  ComPtr<ITypeLib> lib;
  ComPtr<IUnknown> object;
  if (FAILED(LoadTypeLib(wide_file.get(), lib.put()))) return object;
  UniqueBstr wide_name = AnsiToBstr(name);
  ULONG hash = LHashValOfNameSys(SYS_WIN32, GetUserDefaultLCID(), wide_name.get());
  ITypeInfo* found[1] = {nullptr};
  MEMBERID ids[1] = {0};
  USHORT wanted = 1;
  HRESULT hr = lib->FindName(wide_name.get(), hash, found, ids, &wanted);
  ComPtr<ITypeInfo> info(found[0]);
  if (SUCCEEDED(hr) && wanted == 1 && info) {
    if (FAILED(info->CreateInstance(nullptr, IID_IUnknown, object.put_void())))
      object.reset();
    else if (std::strchr(file, '\\'))
      RegisterTypeLib(lib.get(), wide_file.get(), nullptr);
  }
  return object;
}

}  // namespace

void CreateObject(ArgRecord* result, int count, ArgRecord* args) {
  *result = BoolArg(false);
  if (count < 2) return;
  ComObjectCell* cell = CellOf(args[0]);
  const char* klass = TextOrEmpty(args[1]);
  ComPtr<IUnknown> object;
  if (klass[0] != '{' && count >= 3 && args[2].type != kNoType)
    object = CreateFromTypeLibrary(klass, TextOrEmpty(args[2]));
  if (!object) {
    UniqueBstr wide = AnsiToBstr(klass);
    CLSID clsid;
    HRESULT hr = InjectedComFailure() ? E_FAIL
                 : klass[0] == '{' ? CLSIDFromString(wide.get(), &clsid)
                                   : CLSIDFromProgID(wide.get(), &clsid);
    if (FAILED(hr)) return;
    hr = CoCreateInstance(clsid, nullptr, 0x17, IID_IUnknown, object.put_void());
    if (hr == E_INVALIDARG)
      hr = CoCreateInstance(clsid, nullptr, 0x7, IID_IUnknown, object.put_void());
    if (FAILED(hr) || !object) return;
  }
  if (FAILED(OleRun(object.get())) || !cell) return;  // the new object is released
  ClearCell(cell);
  cell->iface = object.release();
  *result = BoolArg(true);
}

void SetObjectProperty(ArgRecord* result, int count, ArgRecord* args) {
  ArgRecord dropped{0, 0};
  InvokeArgs(count, args, InvokeList::kPut, &dropped);
  *result = BoolArg(LastObjectError() == kObjOk);
}

void CallMethod(ArgRecord* result, int count, ArgRecord* args) { CallInto(result, kNoType, count, args); }
void CallMethodVariant(ArgRecord* result, int count, ArgRecord* args) { CallInto(result, kVariant, count, args); }
void CallMethodText(ArgRecord* result, int count, ArgRecord* args) { CallInto(result, kText, count, args); }
void CallMethodNumber(ArgRecord* result, int count, ArgRecord* args) { CallInto(result, kDouble, count, args); }
void CallMethodBool(ArgRecord* result, int count, ArgRecord* args) { CallInto(result, kBool, count, args); }

void IsEmptyObject(ArgRecord* result, int count, ArgRecord* args) {
  ComObjectCell* cell = count > 0 ? CellOf(args[0]) : nullptr;
  *result = BoolArg(!cell || !cell->iface);
}

void ClearObject(ArgRecord*, int count, ArgRecord* args) {
  if (count > 0) ClearCell(CellOf(args[0]));
}

void CopyObject(ArgRecord*, int count, ArgRecord* args) {
  if (count < 2) return;
  ComObjectCell* target = CellOf(args[0]);
  ComObjectCell* source = CellOf(args[1]);
  if (!target) return;
  // The target is a new cell: whatever it held is overwritten, not released.
  target->iface = source ? source->iface : nullptr;
  target->record = nullptr;
  if (target->iface) static_cast<IUnknown*>(target->iface)->AddRef();
}

void ClearVariant(ArgRecord*, int count, ArgRecord* args) {
  if (count < 1) return;
  VARIANT* v = VariantBlockOf(args[0]);
  if (!v) return;
  VariantClear(v);
  std::memset(v, 0, kVariantBlockSize);
}

void SaveObjectError(ArgRecord* result, int, ArgRecord*) { *result = IntArg(LastObjectError()); }

void RestoreObjectError(ArgRecord*, int count, ArgRecord* args) {
  if (count > 0) SetLastObjectError(AsInt(args[0]));
}

}  // namespace rt
