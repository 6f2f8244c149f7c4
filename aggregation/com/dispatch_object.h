// The base of every COM class of the server: reference counting (each object
// keeps the server loaded), IDispatch answered through the type library's
// cached ITypeInfo (names and calls exactly as the library declares them),
// ISupportErrorInfo and IProvideClassInfo. Extra interfaces (connection
// points) are listed after the dual interface.
//
// A derived class names its ProgID and CLSID:
//   static constexpr const char* kProgId = "quaxagg.Name";
//   static const CLSID& ClassId();
// and runs every method body through Run or Answer, so that no exception
// leaves a COM method.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <oleauto.h>

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

#include "com/com_error.h"
#include "com/server.h"

namespace quax::com {

template <class Derived, class Interface, class... Extra>
class DispatchObject : public Interface, public ISupportErrorInfo, public IProvideClassInfo, public Extra... {
 public:
  DispatchObject() noexcept { AddServerReference(); }
  virtual ~DispatchObject() { ReleaseServerReference(); }
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  // A new object with one reference, answering `iid`.
  static HRESULT Create(REFIID iid, void** out) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    Derived* object = nullptr;
    try {
      object = new Derived();
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    object->AddRef();
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, __uuidof(Interface))) {
      *out = static_cast<Interface*>(this);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else if (IsEqualIID(iid, IID_IProvideClassInfo)) {
      *out = static_cast<IProvideClassInfo*>(this);
    } else if (!(QueryExtra<Extra>(iid, out) || ...)) {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return Share(ServerTypeInfo(__uuidof(Interface)), out);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    ITypeInfo* info = ServerTypeInfo(__uuidof(Interface));
    if (info == nullptr) return E_UNEXPECTED;
    return DispGetIDsOfNames(info, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO* exception, UINT* badArgument) override {
    ITypeInfo* info = ServerTypeInfo(__uuidof(Interface));
    if (info == nullptr) return E_UNEXPECTED;
    return DispInvoke(static_cast<Interface*>(this), info, member, flags, parameters, result, exception,
                      badArgument);
  }

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return IsEqualIID(iid, __uuidof(Interface)) ? S_OK : S_FALSE;
  }

  // IProvideClassInfo
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    return Share(ServerTypeInfo(Derived::ClassId()), out);
  }

 protected:
  // Runs a method body; an exception becomes the method's failure.
  template <class Body>
  HRESULT Run(Body&& body) noexcept {
    return Guarded(Derived::kProgId, __uuidof(Interface), std::forward<Body>(body));
  }
  // The same for a body that fills an out-parameter: refused when null,
  // emptied first (an out-parameter arrives uninitialized and stays empty
  // on failure).
  template <class Out, class Body>
  HRESULT Answer(Out* out, Body&& body) noexcept {
    if (out == nullptr) return E_POINTER;
    if constexpr (std::is_same_v<Out, VARIANT>) {
      VariantInit(out);
    } else {
      *out = Out {};
    }
    return Run(std::forward<Body>(body));
  }

 private:
  template <class Other>
  bool QueryExtra(REFIID iid, void** out) noexcept {
    if (!IsEqualIID(iid, __uuidof(Other))) return false;
    *out = static_cast<Other*>(this);
    return true;
  }
  static HRESULT Share(ITypeInfo* info, ITypeInfo** out) noexcept {
    if (info == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    info->AddRef();
    *out = info;
    return S_OK;
  }

  std::atomic<long> references_ {0};
};

}  // namespace quax::com
