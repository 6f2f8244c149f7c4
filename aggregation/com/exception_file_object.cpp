// quaxagg.ExceptionFile: sets aside records a script cannot process.
#include "com/dispatch_object.h"
#include "com/interfaces.h"
#include "com/server_classes.h"
#include "com/variant_values.h"
#include "win32/exception_file.h"

namespace quax::com {
namespace {

class ExceptionFileObject final : public DispatchObject<ExceptionFileObject, _ExceptionFile> {
 public:
  static constexpr const char* kProgId = "quaxagg.ExceptionFile";
  static const CLSID& ClassId() noexcept { return CLSID_ExceptionFile; }

  HRESULT STDMETHODCALLTYPE get_FileName(BSTR* value) override {
    return Answer(value, [&] { SetBstr(value, file_.FileName()); });
  }
  HRESULT STDMETHODCALLTYPE put_FileName(BSTR value) override {
    return Run([&] { file_.SetFileName(FileNameFromBstr(value, "file name")); });
  }
  HRESULT STDMETHODCALLTYPE get_IsFileOpen(VARIANT_BOOL* value) override {
    return Answer(value, [&] { *value = ToVariantBool(file_.IsFileOpen()); });
  }
  HRESULT STDMETHODCALLTYPE get_LastErrorMessage(BSTR* value) override {
    return Answer(value, [&] { SetBstr(value, file_.LastErrorMessage()); });
  }
  HRESULT STDMETHODCALLTYPE get_MaxExceptions(LONG* value) override {
    return Answer(value, [&] { *value = file_.MaxExceptions(); });
  }
  HRESULT STDMETHODCALLTYPE put_MaxExceptions(LONG value) override {
    return Run([&] { file_.SetMaxExceptions(value); });
  }
  HRESULT STDMETHODCALLTYPE get_MaxExceptionsReached(VARIANT_BOOL* value) override {
    return Answer(value, [&] { *value = ToVariantBool(file_.MaxExceptionsReached()); });
  }
  HRESULT STDMETHODCALLTYPE get_ExceptionCount(LONG* value) override {
    return Answer(value, [&] { *value = file_.ExceptionCount(); });
  }
  HRESULT STDMETHODCALLTYPE AddException(BSTR sourceRecord, VARIANT_BOOL* result) override {
    return Answer(result, [&] { *result = ToVariantBool(file_.AddException(AnsiFromBstr(sourceRecord))); });
  }
  HRESULT STDMETHODCALLTYPE FileClose() override {
    return Run([&] { file_.FileClose(); });
  }
  HRESULT STDMETHODCALLTYPE FileOpen(VARIANT_BOOL* result) override {
    return Answer(result, [&] { *result = ToVariantBool(file_.FileOpen()); });
  }
  HRESULT STDMETHODCALLTYPE Initialize() override {
    return Run([&] { file_.Initialize(); });
  }

 private:
  ExceptionFile file_;
};

}  // namespace

const ServerClass kExceptionFileClass {CLSID_ExceptionFile, ExceptionFileObject::kProgId,
                                       "QUAX exception file", &ExceptionFileObject::Create};

}  // namespace quax::com
