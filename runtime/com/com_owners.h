// Owners of the COM resources the Runtime's object commands juggle:
// interface pointers, BSTRs and VARIANTs, each one line over rt::Unique.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "runtime/core/owner.h"

namespace rt {

template <typename I>
void ReleaseInterface(I* p) noexcept { p->Release(); }
inline void FreeVariant(VARIANT& v) noexcept { VariantClear(&v); }

template <typename I>
using ComPtr = UniqueOf<I*, ReleaseInterface<I>>;
using UniqueBstr = UniqueOf<BSTR, SysFreeString>;
using UniqueVariant = UniqueOf<VARIANT, FreeVariant>;

// A text of the ANSI code page as a new BSTR (an empty text gives "").
UniqueBstr AnsiToBstr(const char* text);

}  // namespace rt
