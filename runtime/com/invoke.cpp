// InvokeByName: a member bound by name through the object's type
// information (ITypeComp::Bind), arguments converted to VARIANTs in COM
// order, IDispatch::Invoke, output parameters and the result converted
// back. There is deliberately no GetIDsOfNames fall-back: an object that
// gives no type information cannot be called.
#include <utility>
#include <vector>

#include "runtime/com/com_invoke.h"
#include "runtime/com/com_owners.h"

namespace rt {
namespace {

thread_local int32_t t_last_object_error = 0;
int g_com_fail_countdown = 0;
int64_t g_com_steps = 0;

// A parameter's type as a VARTYPE, aliases and enumerations resolved.
VARTYPE ResolveType(ITypeInfo* info, const TYPEDESC& td) {
  switch (td.vt) {
    case VT_INT: return VT_I4;
    case VT_UINT: return VT_UI4;
    case VT_PTR: return ResolveType(info, *td.lptdesc) | VT_BYREF;
    case VT_SAFEARRAY: return ResolveType(info, *td.lptdesc) | VT_ARRAY;
    case VT_CARRAY: return ResolveType(info, td.lpadesc->tdescElem) | VT_ARRAY;
    case VT_USERDEFINED: {
      ComPtr<ITypeInfo> ref;
      TYPEATTR* attr = nullptr;
      if (!info || FAILED(info->GetRefTypeInfo(td.hreftype, ref.put())) ||
          FAILED(ref->GetTypeAttr(&attr)))
        return VT_UNKNOWN;
      VARTYPE vt = VT_UNKNOWN;
      if (attr->typekind == TKIND_ENUM) vt = VT_I4;
      else if (attr->typekind == TKIND_DISPATCH) vt = VT_DISPATCH;
      else if (attr->typekind == TKIND_ALIAS) vt = ResolveType(ref.get(), attr->tdescAlias);
      ref->ReleaseTypeAttr(attr);
      return vt;
    }
    default: return td.vt;
  }
}

int32_t CodeOfInvokeFailure(HRESULT hr) {
  switch (hr) {
    case DISP_E_BADPARAMCOUNT: return kObjBadParamCount;
    case DISP_E_BADVARTYPE: return kObjBadVarType;
    case DISP_E_EXCEPTION: return kObjException;
    case DISP_E_MEMBERNOTFOUND: return kObjMemberNotFound;
    case DISP_E_NONAMEDARGS: return kObjNoNamedArgs;
    case DISP_E_OVERFLOW: return kObjOverflow;
    case DISP_E_PARAMNOTFOUND: return kObjParamNotFound;
    case DISP_E_TYPEMISMATCH: return kObjTypeMismatch;
    case DISP_E_PARAMNOTOPTIONAL: return kObjParamNotOptional;
    default: return kObjInvokeFailed;
  }
}

void SetMissing(VARIANT* v) {
  VariantClear(v);
  v->vt = VT_ERROR;
  v->scode = DISP_E_PARAMNOTFOUND;
}
bool IsMissing(const VARIANT& v) { return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND; }

// Types a by-reference argument may point at inside its holder VARIANT.
bool ByRefPointable(VARTYPE vt) {
  switch (vt) {
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR:
    case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_I1: case VT_UI1:
    case VT_UI2: case VT_UI4: case VT_INT: case VT_UINT: case VT_HRESULT:
      return true;
    default:
      return false;
  }
}

// Moves a VARIANT's content without copying, leaving the source empty.
void MoveVariant(VARIANT* to, VARIANT* from) {
  *to = *from;
  VariantInit(from);
}

// The member a name bound to, and everything to release afterwards.
struct Binding {
  ComPtr<ITypeInfo> info;
  FUNCDESC* func = nullptr;
  VARDESC* var = nullptr;
  ~Binding() {
    if (func) info->ReleaseFuncDesc(func);
    if (var) info->ReleaseVarDesc(var);
  }
};

// The argument and holder VARIANTs of one call, all VT_EMPTY at first and
// cleared however the call ends (a failed conversion half-way included).
// Arguments pointing into a holder are VT_BYREF, which clearing leaves alone.
struct ArgumentSlots {
  explicit ArgumentSlots(int n) : argv(static_cast<size_t>(n)), holders(static_cast<size_t>(n)) {
    for (int i = 0; i < n; ++i) {
      VariantInit(&argv[i]);
      VariantInit(&holders[i]);
    }
  }
  ArgumentSlots(const ArgumentSlots&) = delete;
  ArgumentSlots& operator=(const ArgumentSlots&) = delete;
  ~ArgumentSlots() {
    for (size_t i = 0; i < argv.size(); ++i) {
      VariantClear(&argv[i]);
      VariantClear(&holders[i]);
    }
  }
  std::vector<VARIANT> argv, holders;
};

// The member a name binds to: how to invoke it and its parameters.
struct Member {
  MEMBERID id = 0;
  WORD invoke_kind = 0;
  std::vector<ELEMDESC> params;
  bool variable_length = false;
};

// Binds `name` through the object's type information, trying the invoke
// kinds of `list` in their order; kObjOk, kObjNoTypeInfo or kObjNoMember.
int32_t BindMember(IDispatch* disp, LCID lcid, BSTR name, InvokeList list, Binding* b,
                   Member* m) {
  ComPtr<ITypeComp> comp;
  {
    ComPtr<ITypeInfo> info;
    if (FAILED(disp->GetTypeInfo(0, lcid, info.put())) || !info ||
        FAILED(info->GetTypeComp(comp.put())) || !comp)
      return kObjNoTypeInfo;
  }
  static const WORD kPutKinds[] = {INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF, INVOKE_FUNC, 0};
  static const WORD kMethodKinds[] = {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT,
                                      INVOKE_PROPERTYPUTREF, 0};
  static const WORD kGetKinds[] = {INVOKE_PROPERTYGET, INVOKE_FUNC, 0};
  const WORD* kinds = list == InvokeList::kPut ? kPutKinds
                      : list == InvokeList::kMethod ? kMethodKinds
                                                    : kGetKinds;
  const ULONG hash = LHashValOfNameSys(SYS_WIN32, lcid, name);
  if (InjectedComFailure()) return kObjNoMember;  // as when no kind binds the name
  DESCKIND kind = DESCKIND_NONE;
  BINDPTR bound{};
  for (; *kinds; ++kinds) {
    ComPtr<ITypeInfo> info;
    kind = DESCKIND_NONE;
    bound = BINDPTR{};
    HRESULT hr = comp->Bind(name, hash, *kinds, info.put(), &kind, &bound);
    if (SUCCEEDED(hr) && kind != DESCKIND_NONE) {
      b->info = std::move(info);
      break;
    }
  }
  comp.reset();
  if (!*kinds) return kObjNoMember;

  if (kind == DESCKIND_FUNCDESC) {
    b->func = bound.lpfuncdesc;
    m->id = b->func->memid;
    m->invoke_kind = static_cast<WORD>(b->func->invkind);
    m->params.assign(b->func->lprgelemdescParam, b->func->lprgelemdescParam + b->func->cParams);
    m->variable_length = b->func->cParams > 0 && b->func->cParamsOpt == -1;
    return kObjOk;
  }
  if (kind == DESCKIND_VARDESC || kind == DESCKIND_IMPLICITAPPOBJ) {
    b->var = bound.lpvardesc;
    m->id = b->var->memid;
    if (list == InvokeList::kPut) {
      m->params.push_back(b->var->elemdescVar);
      VARTYPE vt = ResolveType(b->info.get(), b->var->elemdescVar.tdesc) & ~VT_BYREF;
      bool object_like = (vt & VT_ARRAY) || vt == VT_UNKNOWN || vt == VT_DISPATCH;
      m->invoke_kind = object_like ? INVOKE_PROPERTYPUTREF : INVOKE_PROPERTYPUT;
    } else {
      m->invoke_kind = INVOKE_PROPERTYGET;
    }
    return kObjOk;
  }
  // A type, not a member: released unused.
  ComPtr<ITypeComp> unused(kind == DESCKIND_TYPECOMP ? bound.lptcomp : nullptr);
  return kObjNoMember;
}

// Converts the n arguments into COM order (the last at position 0). A
// by-reference parameter gets its value in a holder and the argument points
// at it; kObjOk or kObjNoConversion.
int32_t FillArguments(ArgRecord* args, int n, const std::vector<VARTYPE>& types,
                      ArgumentSlots* slots) {
  std::vector<VARIANT>& argv = slots->argv;
  std::vector<VARIANT>& holders = slots->holders;
  for (int j = n - 1; j >= 0; --j) {
    const int slot = n - 1 - j;
    const bool by_ref = (types[j] & VT_BYREF) != 0;
    const VARTYPE base = types[j] & ~VT_BYREF;
    VARIANT* dst = by_ref ? &holders[slot] : &argv[slot];
    if (args[j].type == kNoType) {
      SetMissing(dst);
    } else {
      if (!ValueToVariant(args[j], base, dst)) return kObjNoConversion;
      if (dst->vt == VT_EMPTY) SetMissing(dst);
    }
    if (!by_ref) continue;
    VARIANT& h = holders[slot];
    VARIANT& a = argv[slot];
    if (IsMissing(h)) {
      MoveVariant(&a, &h);
    } else if ((base & VT_ARRAY) && (h.vt & VT_ARRAY)) {
      a.vt = h.vt | VT_BYREF;
      a.pparray = &h.parray;
    } else if (base == VT_VARIANT) {
      a.vt = VT_VARIANT | VT_BYREF;
      a.pvarVal = &h;
    } else if (base == VT_RECORD) {
      MoveVariant(&a, &h);
    } else if (SUCCEEDED(VariantChangeType(&h, &h, 0, base)) && ByRefPointable(base)) {
      a.vt = base | VT_BYREF;
      a.byref = &h.bVal;  // every pointable member starts the value union
    } else {
      MoveVariant(&a, &h);
    }
  }
  return kObjOk;
}

// IDispatch::Invoke, then the output parameters and the result back into
// the caller's values; the outcome code.
int32_t CallMember(IDispatch* disp, LCID lcid, const Member& m, ArgRecord* args, int n,
                   ArgumentSlots* slots, ArgRecord* result) {
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS dp{slots->argv.data(), nullptr, static_cast<UINT>(n), 0};
  if (m.invoke_kind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) {
    dp.rgdispidNamedArgs = &put_id;
    dp.cNamedArgs = 1;
  }
  UniqueVariant answer;
  UINT arg_error = 0;
  HRESULT hr = InjectedComFailure() ? E_FAIL
                                    : disp->Invoke(m.id, IID_NULL, lcid, m.invoke_kind, &dp,
                                                   &answer.get(), nullptr, &arg_error);
  if (FAILED(hr)) return CodeOfInvokeFailure(hr);
  for (int j = 0; j < n; ++j) {
    const VARIANT& a = slots->argv[n - 1 - j];
    if ((a.vt & VT_BYREF) && (m.params[j].paramdesc.wParamFlags & PARAMFLAG_FOUT) &&
        (args[j].type & kByRefOrArrayBit))
      VariantToValue(a, args[j].type & ~kByRefOrArrayBit, nullptr, AsPtr<void>(args[j]));
  }
  if (result->type != kNoType && !VariantToValue(answer.get(), result->type, result, nullptr))
    return kObjResultConversion;
  return kObjOk;
}

// A call once the object's IDispatch is known: bind, convert, invoke;
// returns the outcome code.
int32_t InvokeBound(IDispatch* disp, BSTR name, ArgRecord* args, int count, InvokeList list,
                    ArgRecord* result) {
  const LCID lcid = GetUserDefaultLCID();
  Binding b;
  Member m;
  if (int32_t code = BindMember(disp, lcid, name, list, &b, &m); code != kObjOk) return code;
  // Trailing omitted arguments are not passed at all.
  int n = count;
  while (n > 0 && args[n - 1].type == kNoType) --n;
  if (n > static_cast<int>(m.params.size())) {
    if (!m.variable_length) return kObjTooManyArgs;
    ELEMDESC last = m.params.back();
    m.params.resize(static_cast<size_t>(n), last);
  }
  std::vector<VARTYPE> types(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) types[i] = ResolveType(b.info.get(), m.params[i].tdesc);
  ArgumentSlots slots(n);
  if (int32_t code = FillArguments(args, n, types, &slots); code != kObjOk) return code;
  return CallMember(disp, lcid, m, args, n, &slots, result);
}

}  // namespace

int32_t LastObjectError() { return t_last_object_error; }
void SetLastObjectError(int32_t code) { t_last_object_error = code; }

void FailNthComStep(int n) { g_com_fail_countdown = n > 0 ? n : 0; }
int64_t ComStepsTaken() { return g_com_steps; }
bool InjectedComFailure() {
  ++g_com_steps;
  return g_com_fail_countdown > 0 && --g_com_fail_countdown == 0;
}

int32_t InvokeByName(ComObjectCell* cell, const char* name, ArgRecord* args, int count,
                     InvokeList list, ArgRecord* result) {
  UniqueBstr wide = AnsiToBstr(name);
  int32_t code;
  if (!cell || !cell->iface) {
    code = kObjEmpty;
  } else {
    ComPtr<IDispatch> disp;
    if (FAILED(static_cast<IUnknown*>(cell->iface)->QueryInterface(IID_IDispatch, disp.put_void())) ||
        !disp)
      code = kObjNoDispatch;
    else
      code = InvokeBound(disp.get(), wide.get(), args, count < 0 ? 0 : count, list, result);
  }
  if (code != kObjOk && result->type != kNoType) {
    // The caller always receives a value of the type it asked for.
    if (result->type == kComObject)
      result->value = reinterpret_cast<uintptr_t>(NewCell());
    else if (result->type == kVariant)
      result->value = reinterpret_cast<uintptr_t>(NewVariantBlock());
    else
      result->value = 0;
  }
  t_last_object_error = code;
  return code;
}

}  // namespace rt
