// Move-only owners of Win32 resources. Every handle, key, module and event
// source of the system is held by one of these, and every lock hold; nothing
// closes or releases by hand.
// Closing preserves GetLastError, so an owner going out of scope on an error
// path never hides the error the caller is about to report.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <winsvc.h>

#include <utility>

namespace quax {

template <class Traits>
class unique_resource {
 public:
  using pointer = typename Traits::pointer;

  unique_resource() noexcept = default;
  explicit unique_resource(pointer value) noexcept : value_(value) {}
  unique_resource(unique_resource&& other) noexcept : value_(other.release()) {}
  unique_resource& operator=(unique_resource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  unique_resource(const unique_resource&) = delete;
  unique_resource& operator=(const unique_resource&) = delete;
  ~unique_resource() { reset(); }

  pointer get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return Traits::is_valid(value_); }

  pointer release() noexcept { return std::exchange(value_, Traits::none()); }

  void reset(pointer value = Traits::none()) noexcept {
    pointer old = std::exchange(value_, value);
    if (Traits::is_valid(old)) {
      const DWORD error = GetLastError();
      Traits::close(old);
      SetLastError(error);
    }
  }

  // For APIs that return the resource through an out-parameter.
  pointer* put() noexcept {
    reset();
    return &value_;
  }

  // For APIs that update the held resource in place (a VARIANT passed by
  // reference): the owner keeps whatever the call leaves there.
  pointer* address() noexcept { return &value_; }

 private:
  pointer value_ = Traits::none();
};

// Kernel objects: both null and INVALID_HANDLE_VALUE mean "none", because
// Win32 uses either depending on the function.
struct kernel_handle_traits {
  using pointer = HANDLE;
  static pointer none() noexcept { return nullptr; }
  static bool is_valid(pointer h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(pointer h) noexcept { CloseHandle(h); }
};

struct registry_key_traits {
  using pointer = HKEY;
  static pointer none() noexcept { return nullptr; }
  static bool is_valid(pointer h) noexcept { return h != nullptr; }
  static void close(pointer h) noexcept { RegCloseKey(h); }
};

struct service_handle_traits {
  using pointer = SC_HANDLE;
  static pointer none() noexcept { return nullptr; }
  static bool is_valid(pointer h) noexcept { return h != nullptr; }
  static void close(pointer h) noexcept { CloseServiceHandle(h); }
};

struct module_traits {
  using pointer = HMODULE;
  static pointer none() noexcept { return nullptr; }
  static bool is_valid(pointer h) noexcept { return h != nullptr; }
  static void close(pointer h) noexcept { FreeLibrary(h); }
};

struct event_source_traits {
  using pointer = HANDLE;
  static pointer none() noexcept { return nullptr; }
  static bool is_valid(pointer h) noexcept { return h != nullptr; }
  static void close(pointer h) noexcept { DeregisterEventSource(h); }
};

struct event_log_traits {
  using pointer = HANDLE;
  static pointer none() noexcept { return nullptr; }
  static bool is_valid(pointer h) noexcept { return h != nullptr; }
  static void close(pointer h) noexcept { CloseEventLog(h); }
};

struct find_handle_traits {
  using pointer = HANDLE;
  static pointer none() noexcept { return INVALID_HANDLE_VALUE; }
  static bool is_valid(pointer h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void close(pointer h) noexcept { FindClose(h); }
};

struct local_memory_traits {
  using pointer = HLOCAL;
  static pointer none() noexcept { return nullptr; }
  static bool is_valid(pointer h) noexcept { return h != nullptr; }
  static void close(pointer h) noexcept { LocalFree(h); }
};

// A lock of the service control manager's database.
struct service_lock_traits {
  using pointer = SC_LOCK;
  static pointer none() noexcept { return nullptr; }
  static bool is_valid(pointer h) noexcept { return h != nullptr; }
  static void close(pointer h) noexcept { UnlockServiceDatabase(h); }
};

// GDI objects (brushes, bitmaps, fonts) that the program created.
struct gdi_object_traits {
  using pointer = HGDIOBJ;
  static pointer none() noexcept { return nullptr; }
  static bool is_valid(pointer h) noexcept { return h != nullptr; }
  static void close(pointer h) noexcept { DeleteObject(h); }
};

// Memory the shell or COM hands over (item lists, strings).
struct co_task_memory_traits {
  using pointer = void*;
  static pointer none() noexcept { return nullptr; }
  static bool is_valid(pointer p) noexcept { return p != nullptr; }
  static void close(pointer p) noexcept { CoTaskMemFree(p); }
};

// A slim reader/writer lock held for the length of a scope, exclusively or
// shared.
template <void(WINAPI* Acquire)(PSRWLOCK), void(WINAPI* Release)(PSRWLOCK)>
class srw_lock_hold {
 public:
  explicit srw_lock_hold(SRWLOCK& lock) noexcept : lock_(lock) { Acquire(&lock_); }
  ~srw_lock_hold() { Release(&lock_); }
  srw_lock_hold(const srw_lock_hold&) = delete;
  srw_lock_hold& operator=(const srw_lock_hold&) = delete;

 private:
  SRWLOCK& lock_;
};

using exclusive_lock_hold = srw_lock_hold<&AcquireSRWLockExclusive, &ReleaseSRWLockExclusive>;
using shared_lock_hold = srw_lock_hold<&AcquireSRWLockShared, &ReleaseSRWLockShared>;

using unique_handle = unique_resource<kernel_handle_traits>;
using unique_hkey = unique_resource<registry_key_traits>;
using unique_service_handle = unique_resource<service_handle_traits>;
using unique_module = unique_resource<module_traits>;
using unique_event_source = unique_resource<event_source_traits>;
using unique_event_log = unique_resource<event_log_traits>;
using unique_find_handle = unique_resource<find_handle_traits>;
using unique_local_memory = unique_resource<local_memory_traits>;
using unique_service_lock = unique_resource<service_lock_traits>;
using unique_gdi_object = unique_resource<gdi_object_traits>;
using unique_co_task_memory = unique_resource<co_task_memory_traits>;

}  // namespace quax
