#include "com/server_classes.h"

#include <unknwn.h>

#include <atomic>
#include <new>

#include "com/server.h"

namespace quax::com {
namespace {

const ServerClass* const kClasses[] = {
    &kTypedEngineClass,   &kScriptingEngineClass, &kVTXAggregatorClass, &kStringBuilderClass,
    &kExceptionFileClass, &kWinEventLogClass,     &kQuaxEventLogClass,  &kWin32ProcessClass,
};

// Creates the objects of one class; counts as a live object itself.
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(const ServerClass& serverClass) noexcept : class_(serverClass) { AddServerReference(); }
  ~ClassFactory() { ReleaseServerReference(); }
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return class_.Create(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      AddServerReference();
    } else {
      ReleaseServerReference();
    }
    return S_OK;
  }

 private:
  const ServerClass& class_;
  std::atomic<long> references_ {0};
};

}  // namespace

std::span<const ServerClass* const> ServerClasses() noexcept { return kClasses; }

const ServerClass* FindServerClass(REFCLSID classId) noexcept {
  for (const ServerClass* serverClass : kClasses) {
    if (IsEqualCLSID(serverClass->ClassId, classId)) return serverClass;
  }
  return nullptr;
}

HRESULT CreateClassFactory(const ServerClass& serverClass, REFIID iid, void** out) noexcept {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  auto* factory = new (std::nothrow) ClassFactory(serverClass);
  if (factory == nullptr) return E_OUTOFMEMORY;
  factory->AddRef();
  const HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

}  // namespace quax::com
