// quaxagg.TypedEngine: the engine with typed members.
#include "com/dispatch_object.h"
#include "com/engine_variants.h"
#include "com/interfaces.h"
#include "com/server_classes.h"
#include "com/variant_values.h"
#include "engine/typed_engine.h"

namespace quax::com {
namespace {

using Definition = agg::TypedEngine::Definition;

class TypedEngineObject final : public DispatchObject<TypedEngineObject, _TypedEngine> {
 public:
  static constexpr const char* kProgId = "quaxagg.TypedEngine";
  static const CLSID& ClassId() noexcept { return CLSID_TypedEngine; }

  HRESULT STDMETHODCALLTYPE DefineResourceRecordHeader(BSTR header) override {
    return Run([&] {
      DefineExactly(ExactTextOf(header), "record header",
                    [&](std::string_view text) { engine_.DefineResourceRecordHeader(text); },
                    [&](std::string message) { engine_.RefuseDefinition(Definition::Header, std::move(message)); });
    });
  }
  HRESULT STDMETHODCALLTYPE ClearIdentifierList() override {
    return Run([&] { engine_.ClearIdentifierList(); });
  }
  HRESULT STDMETHODCALLTYPE DefineIdentifier(BSTR name) override {
    return Run([&] {
      DefineExactly(ExactTextOf(name), "identifier name", [&](std::string_view text) { engine_.DefineIdentifier(text); },
                    [&](std::string message) { engine_.RefuseDefinition(Definition::Identifiers, std::move(message)); });
    });
  }
  HRESULT STDMETHODCALLTYPE ClearResourceList() override {
    return Run([&] { engine_.ClearResourceList(); });
  }
  HRESULT STDMETHODCALLTYPE DefineResource(BSTR rateCode, double factor, LONG decimalPositions) override {
    return Run([&] {
      DefineExactly(ExactTextOf(rateCode), "rate code",
                    [&](std::string_view text) { engine_.DefineResource(text, factor, decimalPositions); },
                    [&](std::string message) { engine_.RefuseDefinition(Definition::Resources, std::move(message)); });
    });
  }
  HRESULT STDMETHODCALLTYPE get_DataValidation(VARIANT_BOOL* value) override {
    return Answer(value, [&] { *value = ToVariantBool(engine_.DataValidation()); });
  }
  HRESULT STDMETHODCALLTYPE put_DataValidation(VARIANT_BOOL value) override {
    return Run([&] { engine_.SetDataValidation(value != VARIANT_FALSE); });
  }
  HRESULT STDMETHODCALLTYPE get_EnableDebugCounters(VARIANT_BOOL* value) override {
    return Answer(value, [&] { *value = ToVariantBool(engine_.EnableDebugCounters()); });
  }
  HRESULT STDMETHODCALLTYPE put_EnableDebugCounters(VARIANT_BOOL value) override {
    return Run([&] { engine_.SetEnableDebugCounters(value != VARIANT_FALSE); });
  }
  HRESULT STDMETHODCALLTYPE get_DateAggregation(EDateAggregation* value) override {
    return Answer(value, [&] { *value = static_cast<EDateAggregation>(engine_.DateAggregation()); });
  }
  HRESULT STDMETHODCALLTYPE put_DateAggregation(EDateAggregation value) override {
    return Run([&] { engine_.SetDateAggregation(value); });
  }
  HRESULT STDMETHODCALLTYPE get_DateStart(DATE* value) override {
    return Answer(value, [&] { *value = engine_.DateStart(); });
  }
  HRESULT STDMETHODCALLTYPE put_DateStart(DATE value) override {
    return Run([&] { engine_.SetDateStart(value); });
  }
  HRESULT STDMETHODCALLTYPE get_DateEnd(DATE* value) override {
    return Answer(value, [&] { *value = engine_.DateEnd(); });
  }
  HRESULT STDMETHODCALLTYPE put_DateEnd(DATE value) override {
    return Run([&] { engine_.SetDateEnd(value); });
  }
  HRESULT STDMETHODCALLTYPE get_DateKeyword(BSTR* value) override {
    return Answer(value, [&] { SetBstr(value, engine_.DateKeyword()); });
  }
  HRESULT STDMETHODCALLTYPE put_DateKeyword(BSTR value) override {
    return Run([&] { engine_.SetDateKeyword(AnsiFromBstr(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_MemoryMinimum(LONG* value) override {
    return Answer(value, [&] { *value = engine_.MemoryMinimum(); });
  }
  HRESULT STDMETHODCALLTYPE put_MemoryMinimum(LONG value) override {
    return Run([&] { engine_.SetMemoryMinimum(value); });
  }
  HRESULT STDMETHODCALLTYPE get_MemoryMaximum(LONG* value) override {
    return Answer(value, [&] { *value = engine_.MemoryMaximum(); });
  }
  HRESULT STDMETHODCALLTYPE put_MemoryMaximum(LONG value) override {
    return Run([&] { engine_.SetMemoryMaximum(value); });
  }
  HRESULT STDMETHODCALLTYPE get_ProcessPriorityClass(LONG* value) override {
    return Answer(value, [&] { *value = engine_.ProcessPriorityClass(); });
  }
  HRESULT STDMETHODCALLTYPE put_ProcessPriorityClass(LONG value) override {
    return Run([&] { engine_.SetProcessPriorityClass(value); });
  }
  HRESULT STDMETHODCALLTYPE get_OutputFileName(BSTR* value) override {
    return Answer(value, [&] { SetBstr(value, engine_.OutputFileName()); });
  }
  HRESULT STDMETHODCALLTYPE put_OutputFileName(BSTR value) override {
    return Run([&] { engine_.SetOutputFileName(FileNameFromBstr(value, kOutputFileName)); });
  }
  HRESULT STDMETHODCALLTYPE get_WorkFilePath(BSTR* value) override {
    return Answer(value, [&] { SetBstr(value, engine_.WorkFilePath()); });
  }
  HRESULT STDMETHODCALLTYPE put_WorkFilePath(BSTR value) override {
    return Run([&] { engine_.SetWorkFilePath(FileNameFromBstr(value, kWorkFilePath)); });
  }
  HRESULT STDMETHODCALLTYPE get_LastErrorMessage(BSTR* value) override {
    return Answer(value, [&] { SetBstr(value, engine_.LastErrorMessage()); });
  }
  HRESULT STDMETHODCALLTYPE Initialize(LONG maxEntries, VARIANT_BOOL* result) override {
    return Answer(result, [&] { *result = ToVariantBool(engine_.Initialize(maxEntries)); });
  }
  HRESULT STDMETHODCALLTYPE AddEntry(VARIANT* identifierValueList, VARIANT* resourceValueList,
                                     VARIANT dateStart, VARIANT dateEnd, LONG* result) override {
    if (identifierValueList == nullptr || resourceValueList == nullptr) return E_POINTER;
    return Answer(result, [&] {
      const std::optional<double> start = OptionalDate(dateStart);
      const std::optional<double> end = OptionalDate(dateEnd);
      const ValueList resources = ValueList::Of(*resourceValueList, "resource value list");
      const ValueList identifiers = ValueList::Of(*identifierValueList, "identifier value list");
      *result = feeder_.Add(engine_, identifiers, resources, start, end);
    });
  }
  HRESULT STDMETHODCALLTYPE WriteResourceFile(VARIANT_BOOL append, LONG* result) override {
    return Answer(result, [&] { *result = engine_.WriteResourceFile(append != VARIANT_FALSE); });
  }
  HRESULT STDMETHODCALLTYPE get_AggregationList(VARIANT* value) override {
    return Answer(value, [&] { SetAggregationList(value, engine_.AggregationList()); });
  }
  HRESULT STDMETHODCALLTYPE m_RoundAsymetric(VARIANT number, LONG decimalPositions, VARIANT* result) override {
    return Answer(result, [&] {
      SetDecimal(result, agg::TypedEngine::m_RoundAsymetric(ToDecimal(number), decimalPositions));
    });
  }
  HRESULT STDMETHODCALLTYPE get_ResultsMessage(BSTR* value) override {
    return Answer(value, [&] { SetBstr(value, engine_.ResultsMessage()); });
  }
  HRESULT STDMETHODCALLTYPE get_DebugMessage(BSTR* value) override {
    return Answer(value, [&] { SetBstr(value, engine_.DebugMessage()); });
  }

 private:
  agg::TypedEngine engine_;
  VariantEntryFeeder feeder_;
};

}  // namespace

const ServerClass kTypedEngineClass {CLSID_TypedEngine, TypedEngineObject::kProgId,
                                     "QUAX aggregation engine", &TypedEngineObject::Create};

}  // namespace quax::com
