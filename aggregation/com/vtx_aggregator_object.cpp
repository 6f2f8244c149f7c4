// quaxagg.VTXAggregator: aggregates one whole resource record file.
#include "com/dispatch_object.h"
#include "com/engine_variants.h"
#include "com/interfaces.h"
#include "com/server_classes.h"
#include "com/variant_values.h"
#include "engine/file_aggregator.h"

namespace quax::com {
namespace {

// A name a removal set already holds: the error a script dictionary raises
// for a key it has (run-time error 457).
constexpr HRESULT kKeyAlreadyExists = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 457);
constexpr std::int32_t kDefaultMaxEntries = -1;

class VTXAggregatorObject final : public DispatchObject<VTXAggregatorObject, _VTXAggregator> {
 public:
  static constexpr const char* kProgId = "quaxagg.VTXAggregator";
  static const CLSID& ClassId() noexcept { return CLSID_VTXAggregator; }

  HRESULT STDMETHODCALLTYPE get_DataValidation(VARIANT_BOOL* value) override {
    return Answer(value, [&] { *value = ToVariantBool(aggregator_.DataValidation()); });
  }
  HRESULT STDMETHODCALLTYPE put_DataValidation(VARIANT_BOOL value) override {
    return Run([&] { aggregator_.SetDataValidation(value != VARIANT_FALSE); });
  }
  HRESULT STDMETHODCALLTYPE get_DebugMessage(BSTR* value) override {
    return Answer(value, [&] { SetBstr(value, aggregator_.DebugMessage()); });
  }
  HRESULT STDMETHODCALLTYPE get_EnableDebugCounters(VARIANT_BOOL* value) override {
    return Answer(value, [&] { *value = ToVariantBool(aggregator_.EnableDebugCounters()); });
  }
  HRESULT STDMETHODCALLTYPE put_EnableDebugCounters(VARIANT_BOOL value) override {
    return Run([&] { aggregator_.SetEnableDebugCounters(value != VARIANT_FALSE); });
  }
  HRESULT STDMETHODCALLTYPE get_InputFileName(VARIANT* value) override {
    return Answer(value, [&] { SetText(value, aggregator_.InputFileName()); });
  }
  HRESULT STDMETHODCALLTYPE put_InputFileName(VARIANT value) override {
    return Run([&] { aggregator_.SetInputFileName(ToFileName(value, kInputFileName)); });
  }
  HRESULT STDMETHODCALLTYPE get_LastErrorMessage(VARIANT* value) override {
    return Answer(value, [&] { SetText(value, aggregator_.LastErrorMessage()); });
  }
  HRESULT STDMETHODCALLTYPE get_MemoryMinimum(LONG* value) override {
    return Answer(value, [&] { *value = aggregator_.MemoryMinimum(); });
  }
  HRESULT STDMETHODCALLTYPE put_MemoryMinimum(LONG value) override {
    return Run([&] { aggregator_.SetMemoryMinimum(value); });
  }
  HRESULT STDMETHODCALLTYPE get_MemoryMaximum(VARIANT* value) override {
    return Answer(value, [&] { SetLong(value, aggregator_.MemoryMaximum()); });
  }
  HRESULT STDMETHODCALLTYPE put_MemoryMaximum(VARIANT value) override {
    return Run([&] { aggregator_.SetMemoryMaximum(ToLong(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_OutputFileName(BSTR* value) override {
    return Answer(value, [&] { SetBstr(value, aggregator_.OutputFileName()); });
  }
  HRESULT STDMETHODCALLTYPE put_OutputFileName(BSTR value) override {
    return Run([&] { aggregator_.SetOutputFileName(FileNameFromBstr(value, kOutputFileName)); });
  }
  HRESULT STDMETHODCALLTYPE get_ProcessPriorityClass(LONG* value) override {
    return Answer(value, [&] { *value = aggregator_.ProcessPriorityClass(); });
  }
  HRESULT STDMETHODCALLTYPE put_ProcessPriorityClass(LONG value) override {
    return Run([&] { aggregator_.SetProcessPriorityClass(value); });
  }
  HRESULT STDMETHODCALLTYPE get_ResultsMessage(VARIANT* value) override {
    return Answer(value, [&] { SetText(value, aggregator_.ResultsMessage()); });
  }
  HRESULT STDMETHODCALLTYPE get_WorkFilePath(BSTR* value) override {
    return Answer(value, [&] { SetBstr(value, aggregator_.WorkFilePath()); });
  }
  HRESULT STDMETHODCALLTYPE put_WorkFilePath(BSTR value) override {
    return Run([&] { aggregator_.SetWorkFilePath(FileNameFromBstr(value, kWorkFilePath)); });
  }
  HRESULT STDMETHODCALLTYPE AddIdentifierToRemove(BSTR identifier) override {
    return Run([&] { AddToRemove(identifier, &agg::CFileAggregator::AddIdentifierToRemove); });
  }
  HRESULT STDMETHODCALLTYPE AddResourceToRemove(BSTR rateCode) override {
    return Run([&] { AddToRemove(rateCode, &agg::CFileAggregator::AddResourceToRemove); });
  }
  HRESULT STDMETHODCALLTYPE AggregateFile(VARIANT_BOOL* result) override {
    return Answer(result, [&] { *result = ToVariantBool(aggregator_.AggregateFile()); });
  }
  HRESULT STDMETHODCALLTYPE Initialize(VARIANT maxEntries, VARIANT* result) override {
    return Answer(result, [&] {
      SetBool(result, aggregator_.Initialize(IsMissing(maxEntries) ? kDefaultMaxEntries : ToLong(maxEntries)));
    });
  }

 private:
  void AddToRemove(BSTR name, void (agg::CFileAggregator::*add)(std::string_view)) {
    try {
      (aggregator_.*add)(AnsiFromBstr(name));
    } catch (const agg::Error& error) {
      throw ComError(kKeyAlreadyExists, error.what());
    }
  }

  agg::CFileAggregator aggregator_;
};

}  // namespace

const ServerClass kVTXAggregatorClass {CLSID_VTXAggregator, VTXAggregatorObject::kProgId,
                                       "QUAX resource record file aggregator",
                                       &VTXAggregatorObject::Create};

}  // namespace quax::com
