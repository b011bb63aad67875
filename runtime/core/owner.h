// Scoped owners for the COM resources the Runtime's object commands juggle:
// interface pointers, BSTRs and VARIANTs. One small template carries the
// ownership rule (free once, move only); each resource adds a traits type
// that says what "empty" is and how to free it.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace rt {

template <typename T, typename Traits>
class Unique {
 public:
  Unique() noexcept : v_(Traits::Empty()) {}
  explicit Unique(T v) noexcept : v_(v) {}
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  Unique(Unique&& o) noexcept : v_(o.release()) {}
  Unique& operator=(Unique&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  ~Unique() { Traits::Free(v_); }

  T& get() noexcept { return v_; }
  const T& get() const noexcept { return v_; }
  // For out-parameters: frees what is held and lends the slot.
  T* put() noexcept {
    reset();
    return &v_;
  }
  T release() noexcept { return std::exchange(v_, Traits::Empty()); }
  void reset(T v = Traits::Empty()) noexcept {
    T old = std::exchange(v_, v);
    Traits::Free(old);
  }

 private:
  T v_;
};

template <typename I>
struct InterfaceTraits {
  static I* Empty() noexcept { return nullptr; }
  static void Free(I*& p) noexcept {
    if (p) p->Release();
  }
};
template <typename I>
class ComPtr : public Unique<I*, InterfaceTraits<I>> {
 public:
  using Unique<I*, InterfaceTraits<I>>::Unique;
  I* operator->() const noexcept { return this->get(); }
  explicit operator bool() const noexcept { return this->get() != nullptr; }
  void** put_void() noexcept { return reinterpret_cast<void**>(this->put()); }
};

struct BstrTraits {
  static BSTR Empty() noexcept { return nullptr; }
  static void Free(BSTR& b) noexcept { SysFreeString(b); }
};
using UniqueBstr = Unique<BSTR, BstrTraits>;

struct VariantTraits {
  static VARIANT Empty() noexcept {
    VARIANT v;
    VariantInit(&v);
    return v;
  }
  static void Free(VARIANT& v) noexcept { VariantClear(&v); }
};
using UniqueVariant = Unique<VARIANT, VariantTraits>;

// A text of the ANSI code page as a new BSTR (an empty text gives "").
UniqueBstr AnsiToBstr(const char* text);

}  // namespace rt
