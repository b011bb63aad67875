// Runtime values <-> VARIANTs, for arguments, results and output parameters.
#include <cstring>

#include "runtime/com/com_invoke.h"
#include "runtime/com/com_owners.h"
#include "runtime/core/memory.h"

namespace rt {

// The Runtime's one conversion to UTF-16; it calls the platform directly.
// Program-side code has its own (web::MultiByteToUtf16), which may reach the
// platform only through the DLL command table, so the two cannot be one.
UniqueBstr AnsiToBstr(const char* text) {
  if (!text || !*text) return UniqueBstr(SysAllocString(L""));
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (n <= 0) return UniqueBstr(SysAllocString(L""));
  UniqueBstr b(SysAllocStringLen(nullptr, static_cast<UINT>(n - 1)));
  if (b.get()) MultiByteToWideChar(CP_ACP, 0, text, -1, b.get(), n);
  return b;
}

namespace {

// A BSTR as a new Text of the ANSI code page (null for the empty string).
Text BstrToText(BSTR s) {
  UINT len = SysStringLen(s);
  if (len == 0) return nullptr;
  int n = WideCharToMultiByte(CP_ACP, 0, s, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return nullptr;
  Text t = static_cast<Text>(AllocateBlock(static_cast<uint32_t>(n) + 1));
  WideCharToMultiByte(CP_ACP, 0, s, static_cast<int>(len), t, n, nullptr, nullptr);
  t[n] = '\0';
  return t;
}

// Bytes a variable of the type occupies (references are pointer-sized).
size_t VariableWidth(uint32_t type) {
  switch (type) {
    case kByte: return 1;
    case kShort: return 2;
    case kInt: case kFloat: case kBool: return 4;
    case kLong: case kDouble: case kDateTime: return 8;
    default: return sizeof(void*);
  }
}

// The value bits an argument carries, read through the caller's variable
// when the record is a reference.
uint64_t ArgBits(const ArgRecord& a) {
  if (!(a.type & kByRefOrArrayBit)) return a.value;
  const void* var = AsPtr<const void>(a);
  uint64_t bits = 0;
  if (var) std::memcpy(&bits, var, VariableWidth(a.type & ~kByRefOrArrayBit));
  return bits;
}

template <typename T>
T BitsAs(uint64_t bits) {
  T v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

}  // namespace

ComObjectCell* NewCell() { return static_cast<ComObjectCell*>(AllocateZeroed(sizeof(ComObjectCell))); }

VARIANT* NewVariantBlock() { return static_cast<VARIANT*>(AllocateZeroed(kVariantBlockSize)); }

ComObjectCell* CellOf(const ArgRecord& a) {
  return reinterpret_cast<ComObjectCell*>(static_cast<uintptr_t>(ArgBits(a)));
}

VARIANT* VariantBlockOf(const ArgRecord& a) {
  return reinterpret_cast<VARIANT*>(static_cast<uintptr_t>(ArgBits(a)));
}

void ClearCell(ComObjectCell* cell) {
  if (!cell) return;
  if (cell->iface) {
    if (cell->record) {
      static_cast<IRecordInfo*>(cell->iface)->RecordDestroy(cell->record);
      cell->record = nullptr;
    }
    static_cast<IUnknown*>(cell->iface)->Release();
    cell->iface = nullptr;
  } else if (cell->record) {
    FreeBlock(cell->record);
    cell->record = nullptr;
  }
}

bool ValueToVariant(const ArgRecord& arg, VARTYPE param_vt, VARIANT* out) {
  const uint32_t type = arg.type & ~kByRefOrArrayBit;
  const uint64_t bits = ArgBits(arg);
  switch (type) {
    case kBool:
      out->vt = VT_BOOL;
      out->boolVal = static_cast<uint32_t>(bits) ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    case kDateTime:
      out->vt = VT_DATE;
      out->date = BitsAs<double>(bits);
      return true;
    case kText:
      out->vt = VT_BSTR;
      out->bstrVal = AnsiToBstr(reinterpret_cast<const char*>(static_cast<uintptr_t>(bits))).release();
      return true;
    case kByte:
      out->vt = VT_UI1;
      out->bVal = static_cast<BYTE>(bits);
      return true;
    case kShort:
      out->vt = VT_I2;
      out->iVal = static_cast<SHORT>(bits);
      return true;
    case kInt:
    case kLong:  // a 64-bit integer travels as its low 32 bits
      out->vt = VT_I4;
      out->lVal = static_cast<LONG>(static_cast<uint32_t>(bits));
      return true;
    case kFloat:
      out->vt = VT_R4;
      out->fltVal = BitsAs<float>(bits);
      return true;
    case kDouble:
      out->vt = VT_R8;
      out->dblVal = BitsAs<double>(bits);
      return true;
    case kVariant: {
      auto* src = reinterpret_cast<VARIANT*>(static_cast<uintptr_t>(bits));
      if (src) VariantCopyInd(out, src);
      return true;
    }
    case kComObject: {
      auto* cell = reinterpret_cast<ComObjectCell*>(static_cast<uintptr_t>(bits));
      out->vt = VT_UNKNOWN;
      out->punkVal = nullptr;
      if (!cell || (!cell->iface && !cell->record)) return true;
      if (cell->record) {
        out->vt = VT_RECORD;
        out->pRecInfo = static_cast<IRecordInfo*>(cell->iface);
        if (out->pRecInfo) out->pRecInfo->AddRef();
        out->pvRecord = cell->record;
        return true;
      }
      auto* unk = static_cast<IUnknown*>(cell->iface);
      if (param_vt == VT_UNKNOWN) {
        unk->AddRef();
        out->punkVal = unk;
      } else if (param_vt == VT_DISPATCH) {
        IDispatch* disp = nullptr;
        if (SUCCEEDED(unk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)))) {
          out->vt = VT_DISPATCH;
          out->pdispVal = disp;
        }
      }
      return true;
    }
    default:
      return false;
  }
}

bool VariantToValue(const VARIANT& source, uint32_t type, ArgRecord* result, void* variable) {
  if ((source.vt & VT_TYPEMASK) == VT_RECORD) return false;
  if (type == kVariant) {
    // The caller's block is reused (cleared first); otherwise a new one.
    auto** slot = static_cast<VARIANT**>(variable);
    VARIANT* block = slot && *slot ? *slot : NewVariantBlock();
    VariantClear(block);
    VariantCopyInd(block, const_cast<VARIANT*>(&source));
    if (slot) *slot = block;
    else result->value = reinterpret_cast<uintptr_t>(block);
    return true;
  }
  VARTYPE want;
  switch (type) {
    case kBool: want = VT_BOOL; break;
    case kComObject: want = VT_UNKNOWN; break;
    case kDateTime: want = VT_DATE; break;
    case kText: want = VT_BSTR; break;
    case kByte: want = VT_UI1; break;
    case kShort: want = VT_I2; break;
    case kInt: case kLong: want = VT_I4; break;
    case kFloat: want = VT_R4; break;
    case kDouble: want = VT_R8; break;
    default: return false;
  }
  UniqueVariant tmp;
  if (FAILED(VariantCopyInd(&tmp.get(), const_cast<VARIANT*>(&source)))) return false;
  if (FAILED(VariantChangeType(&tmp.get(), &tmp.get(), 0, want))) return false;
  const VARIANT& v = tmp.get();
  uint64_t bits = 0;
  switch (type) {
    case kBool: bits = v.boolVal != 0 ? 1 : 0; break;
    case kDateTime: std::memcpy(&bits, &v.date, 8); break;
    case kByte: bits = v.bVal; break;
    case kShort: bits = static_cast<uint16_t>(v.iVal); break;
    case kInt: bits = static_cast<uint32_t>(v.lVal); break;
    case kLong: bits = static_cast<uint64_t>(static_cast<int64_t>(v.lVal)); break;
    case kFloat: std::memcpy(&bits, &v.fltVal, 4); break;
    case kDouble: std::memcpy(&bits, &v.dblVal, 8); break;
    case kText: {
      if (variable) FreeBlock(*static_cast<Text*>(variable));  // replaced below
      bits = reinterpret_cast<uintptr_t>(BstrToText(v.bstrVal));
      break;
    }
    case kComObject: {
      // As for a Variant: the caller's cell is reused, otherwise a new one.
      auto** slot = static_cast<ComObjectCell**>(variable);
      ComObjectCell* cell = slot && *slot ? *slot : NewCell();
      IUnknown* unk = v.punkVal;
      if (unk) unk->AddRef();
      ClearCell(cell);
      cell->iface = unk;
      bits = reinterpret_cast<uintptr_t>(cell);  // stored in the variable below
      break;
    }
  }
  if (variable) {
    std::memcpy(variable, &bits, VariableWidth(type));
  } else {
    result->value = bits;
  }
  return true;
}

}  // namespace rt
