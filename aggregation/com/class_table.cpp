#include "com/server_classes.h"

#include <unknwn.h>

#include <array>
#include <iterator>
#include <utility>

#include "com/server.h"

namespace quax::com {
namespace {

const ServerClass* const kClasses[] = {
    &kTypedEngineClass,   &kScriptingEngineClass, &kVTXAggregatorClass, &kStringBuilderClass,
    &kExceptionFileClass, &kWinEventLogClass,     &kQuaxEventLogClass,  &kWin32ProcessClass,
};

// Creates the objects of one class. One lives for the life of the DLL per
// class and is handed to every caller: it counts no references and does not
// keep the server loaded (a host that never releases a factory, as some
// script hosts do, so leaks nothing and does not pin the DLL); a client
// that keeps it across DllCanUnloadNow locks the server with LockServer.
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(const ServerClass& serverClass) noexcept : class_(serverClass) {}
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
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
};

template <std::size_t... Index>
std::array<ClassFactory, sizeof...(Index)> FactoriesOf(std::index_sequence<Index...>) {
  return {ClassFactory(*kClasses[Index])...};
}

std::array<ClassFactory, std::size(kClasses)> g_factories = FactoriesOf(std::make_index_sequence<std::size(kClasses)>());

}  // namespace

std::span<const ServerClass* const> ServerClasses() noexcept { return kClasses; }

const ServerClass* FindServerClass(REFCLSID classId) noexcept {
  for (const ServerClass* serverClass : kClasses) {
    if (IsEqualCLSID(serverClass->ClassId, classId)) return serverClass;
  }
  return nullptr;
}

HRESULT GetClassFactory(const ServerClass& serverClass, REFIID iid, void** out) noexcept {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  for (std::size_t k = 0; k < std::size(kClasses); ++k) {
    if (kClasses[k] == &serverClass) return g_factories[k].QueryInterface(iid, out);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace quax::com
