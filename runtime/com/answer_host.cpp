// The answer host: a small automation object a script hands one value to.
// Under Wine every expression the Script Control's Eval compiles keeps about
// 1.4 KB of heap that nothing returns, while a statement run through
// ExecuteStatement keeps nothing. So a program that wants a script's answer
// can add this object to the script's namespace (AddObject) and run the
// statement <name>.put(expression); take() then hands the value back
// through InvokeByName like any member's answer, converted and coded in
// LastObjectError exactly as an Eval's answer would be.
//
// Owns: the one value put and not yet taken (take moves it out, so nothing
// of a released engine stays referenced) and the type information that
// InvokeByName binds "take" through. Counted references; UI thread only.
#include <new>

#include "runtime/com/com_invoke.h"
#include "runtime/com/com_owners.h"

namespace rt {
namespace {

LONG g_references = 0;  // over all hosts; see AnswerHostReferences

enum AnswerMember : DISPID { kPut = 1, kTake = 2 };

// The two members as the type information describes them.
PARAMDATA g_put_params[] = {{const_cast<OLECHAR*>(L"value"), VT_VARIANT}};
METHODDATA g_methods[] = {
    {const_cast<OLECHAR*>(L"put"), g_put_params, kPut, 0, CC_STDCALL, 1, DISPATCH_METHOD, VT_EMPTY},
    {const_cast<OLECHAR*>(L"take"), nullptr, kTake, 1, CC_STDCALL, 0, DISPATCH_METHOD, VT_VARIANT},
};
static_assert(sizeof g_methods / sizeof g_methods[0] == 2, "put and take");
INTERFACEDATA g_interface = {g_methods, 2};

// The dispatch interface's own type information (CreateDispTypeInfo may
// answer a class whose first implemented interface holds the members).
ComPtr<ITypeInfo> MemberTypeInfo() {
  ComPtr<ITypeInfo> info;
  if (FAILED(CreateDispTypeInfo(&g_interface, LOCALE_SYSTEM_DEFAULT, info.put())) || !info) return info;
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return ComPtr<ITypeInfo>();
  const bool is_class = attr->typekind == TKIND_COCLASS;
  info->ReleaseTypeAttr(attr);
  if (!is_class) return info;
  HREFTYPE ref = 0;
  ComPtr<ITypeInfo> member;
  if (FAILED(info->GetRefTypeOfImplType(0, &ref)) || FAILED(info->GetRefTypeInfo(ref, member.put())))
    return ComPtr<ITypeInfo>();
  return member;
}

class AnswerHost final : public IDispatch {
 public:
  explicit AnswerHost(ComPtr<ITypeInfo> info) : info_(std::move(info)) { InterlockedIncrement(&g_references); }

  HRESULT __stdcall QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG __stdcall AddRef() override {
    InterlockedIncrement(&g_references);
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
  }
  ULONG __stdcall Release() override {
    InterlockedDecrement(&g_references);
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }
  HRESULT __stdcall GetTypeInfoCount(UINT* n) override {
    if (!n) return E_POINTER;
    *n = 1;
    return S_OK;
  }
  HRESULT __stdcall GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    info_->AddRef();
    *out = info_.get();
    return S_OK;
  }
  HRESULT __stdcall GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return DispGetIDsOfNames(info_.get(), names, count, ids);
  }
  HRESULT __stdcall Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* answer, EXCEPINFO*,
                           UINT*) override {
    if (answer) VariantInit(answer);
    switch (id) {
      case kPut:
        if (!params || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        held_.reset();
        return VariantCopyInd(&held_.get(), &params->rgvarg[0]);
      case kTake:
        if (params && params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
        if (answer) *answer = held_.release();
        held_.reset();
        return S_OK;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  ~AnswerHost() = default;
  LONG refs_ = 1;
  ComPtr<ITypeInfo> info_;
  UniqueVariant held_;
};

}  // namespace

int32_t AnswerHostReferences() { return static_cast<int32_t>(g_references); }

void CreateAnswerHost(ArgRecord* result, int count, ArgRecord* args) {
  *result = BoolArg(false);
  ComObjectCell* cell = count > 0 ? CellOf(args[0]) : nullptr;
  if (!cell) return;
  ComPtr<ITypeInfo> info = MemberTypeInfo();
  if (!info) return;
  auto* host = new (std::nothrow) AnswerHost(std::move(info));
  if (!host) return;
  ClearCell(cell);
  cell->iface = static_cast<IUnknown*>(host);
  *result = BoolArg(true);
}

}  // namespace rt
