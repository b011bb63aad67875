// The one owner template of the tree: a value that must be freed exactly
// once (a platform handle, an interface pointer, a heap block), held by one
// owner that can be moved but not copied and frees it when it goes.
//
// A resource adds a traits type that says what "empty" is and how to free
// it; FreedBy<T, fn> is that type for nearly everything, so each owner is
// one line at the edge that knows the resource, for example
//   using ModuleOwner = rt::Unique<HMODULE, rt::FreedBy<HMODULE, FreeLibrary>>;
// Header-only and portable: it includes no platform header, so program-side
// code may use it too.
#pragma once

#include <type_traits>
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
  // Pointers only: the pointee, and whether one is held.
  T operator->() const noexcept { return v_; }
  explicit operator bool() const noexcept { return v_ != Traits::Empty(); }
  // For out-parameters: frees what is held and lends the slot.
  T* put() noexcept {
    reset();
    return &v_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  // For in-out parameters: lends the slot as it is; whatever it holds on
  // return is owned.
  T* slot() noexcept { return &v_; }
  T release() noexcept { return std::exchange(v_, Traits::Empty()); }
  void reset(T v = Traits::Empty()) noexcept {
    T old = std::exchange(v_, v);
    Traits::Free(old);
  }

 private:
  T v_;
};

// Traits of a resource that is a value-initialised T when empty and is
// freed by one call of `free_fn`. A scalar (handle, pointer, number) is
// freed only when it is not empty; anything else (a VARIANT) always.
template <typename T, auto free_fn>
struct FreedBy {
  static constexpr T Empty() noexcept { return T{}; }
  static void Free(T& v) noexcept {
    if constexpr (std::is_scalar_v<T>) {
      if (v != T{}) free_fn(v);
    } else {
      free_fn(v);
    }
  }
};

template <typename T, auto free_fn>
using UniqueOf = Unique<T, FreedBy<T, free_fn>>;

}  // namespace rt
