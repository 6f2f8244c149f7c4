// quaxagg.CWin32Process: priority class of a process, sleeping, yielding.
#include "com/dispatch_object.h"
#include "com/interfaces.h"
#include "com/server_classes.h"
#include "com/variant_values.h"
#include "engine/win32_process.h"

namespace quax::com {
namespace {

class Win32ProcessObject final : public DispatchObject<Win32ProcessObject, _CWin32Process> {
 public:
  static constexpr const char* kProgId = "quaxagg.CWin32Process";
  static const CLSID& ClassId() noexcept { return CLSID_CWin32Process; }

  HRESULT STDMETHODCALLTYPE Class_Initialize() override {
    return Run([&] { process_.Class_Initialize(); });
  }
  HRESULT STDMETHODCALLTYPE get_Id(LONG* value) override {
    return Answer(value, [&] { *value = process_.Id(); });
  }
  HRESULT STDMETHODCALLTYPE put_Id(LONG value) override {
    return Run([&] { process_.SetId(value); });
  }
  HRESULT STDMETHODCALLTYPE get_IsValidPriorityClass(LONG priorityClass, VARIANT_BOOL* value) override {
    return Answer(value, [&] { *value = ToVariantBool(agg::CWin32Process::IsValidPriorityClass(priorityClass)); });
  }
  HRESULT STDMETHODCALLTYPE get_PriorityClass(EPriorityClass* value) override {
    return Answer(value, [&] { *value = static_cast<EPriorityClass>(process_.PriorityClass()); });
  }
  HRESULT STDMETHODCALLTYPE put_PriorityClass(EPriorityClass value) override {
    return Run([&] { process_.SetPriorityClass(value); });
  }
  HRESULT STDMETHODCALLTYPE get_PriorityClassAsString(BSTR* value) override {
    return Answer(value, [&] { SetBstr(value, process_.PriorityClassAsString()); });
  }
  HRESULT STDMETHODCALLTYPE put_PriorityClassAsString(BSTR value) override {
    return Run([&] { process_.SetPriorityClassAsString(AnsiFromBstr(value)); });
  }
  HRESULT STDMETHODCALLTYPE Sleep(LONG milliseconds) override {
    return Run([&] { agg::CWin32Process::Sleep(milliseconds); });
  }
  HRESULT STDMETHODCALLTYPE Yield() override {
    return Run([&] { agg::CWin32Process::Yield(); });
  }

 private:
  agg::CWin32Process process_;
};

}  // namespace

const ServerClass kWin32ProcessClass {CLSID_CWin32Process, Win32ProcessObject::kProgId,
                                      "QUAX process priority", &Win32ProcessObject::Create};

}  // namespace quax::com
