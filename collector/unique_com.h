// The COM members of the owner family of unique_handle.h: interface
// pointers, BSTR, VARIANT, SAFEARRAY and a SAFEARRAY's data lock. Same
// template, same rules: move-only, nothing released by hand, GetLastError
// preserved on release.
#pragma once

#include <oleauto.h>
#include <unknwn.h>

#include "unique_handle.h"

namespace quax {

template <class Interface>
struct com_pointer_traits {
  using pointer = Interface*;
  static pointer none() noexcept { return nullptr; }
  static bool is_valid(pointer p) noexcept { return p != nullptr; }
  static void close(pointer p) noexcept { p->Release(); }
};

struct bstr_traits {
  using pointer = BSTR;
  static pointer none() noexcept { return nullptr; }
  static bool is_valid(pointer p) noexcept { return p != nullptr; }
  static void close(pointer p) noexcept { SysFreeString(p); }
};

// A VARIANT is held by value; VT_EMPTY is "none". put() hands out the
// address of an empty VARIANT for an out-parameter; release() gives the
// value away (to a caller's out-parameter, for example).
struct variant_traits {
  using pointer = VARIANT;
  static pointer none() noexcept {
    VARIANT empty;
    VariantInit(&empty);
    return empty;
  }
  static bool is_valid(const pointer& v) noexcept { return V_VT(&v) != VT_EMPTY; }
  static void close(pointer v) noexcept { VariantClear(&v); }
};

struct safearray_traits {
  using pointer = SAFEARRAY*;
  static pointer none() noexcept { return nullptr; }
  static bool is_valid(pointer p) noexcept { return p != nullptr; }
  static void close(pointer p) noexcept { SafeArrayDestroy(p); }
};

// A lock on a SAFEARRAY's data (SafeArrayAccessData or SafeArrayLock): while
// held, the array can be neither freed nor resized.
struct safearray_lock_traits {
  using pointer = SAFEARRAY*;
  static pointer none() noexcept { return nullptr; }
  static bool is_valid(pointer p) noexcept { return p != nullptr; }
  static void close(pointer p) noexcept { SafeArrayUnlock(p); }
};

template <class Interface>
using unique_com = unique_resource<com_pointer_traits<Interface>>;
using unique_bstr = unique_resource<bstr_traits>;
using unique_variant = unique_resource<variant_traits>;
using unique_safearray = unique_resource<safearray_traits>;
using safearray_lock = unique_resource<safearray_lock_traits>;

// Locks the array's data; an empty owner when the lock is refused.
inline safearray_lock LockSafeArray(SAFEARRAY* array) noexcept {
  return safearray_lock(array != nullptr && SUCCEEDED(SafeArrayLock(array)) ? array : nullptr);
}

}  // namespace quax
