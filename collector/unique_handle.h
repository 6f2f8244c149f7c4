// Move-only owners of Win32 resources. Every handle, key, module and event
// source of the system is held by one of these; nothing closes by hand.
// Closing preserves GetLastError, so an owner going out of scope on an error
// path never hides the error the caller is about to report.
#pragma once

#include <windows.h>
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

using unique_handle = unique_resource<kernel_handle_traits>;
using unique_hkey = unique_resource<registry_key_traits>;
using unique_service_handle = unique_resource<service_handle_traits>;
using unique_module = unique_resource<module_traits>;
using unique_event_source = unique_resource<event_source_traits>;
using unique_event_log = unique_resource<event_log_traits>;
using unique_find_handle = unique_resource<find_handle_traits>;
using unique_local_memory = unique_resource<local_memory_traits>;

}  // namespace quax
