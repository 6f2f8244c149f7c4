// quaxagg.ScriptingEngine: the engine for script hosts, every value a
// VARIANT.
#include "com/dispatch_object.h"
#include "com/engine_variants.h"
#include "com/interfaces.h"
#include "com/scripting_engine.h"
#include "com/server_classes.h"
#include "com/variant_values.h"

namespace quax::com {
namespace {

using Definition = agg::TypedEngine::Definition;

constexpr double kDefaultConversionFactor = 1.0;
constexpr std::int32_t kDefaultDecimalPositions = -1;

class ScriptingEngineObject final : public DispatchObject<ScriptingEngineObject, _ScriptingEngine> {
 public:
  static constexpr const char* kProgId = "quaxagg.ScriptingEngine";
  static const CLSID& ClassId() noexcept { return CLSID_ScriptingEngine; }

  HRESULT STDMETHODCALLTYPE get_AggregationList(VARIANT* value) override {
    return Answer(value, [&] { SetAggregationList(value, engine_.AggregationList()); });
  }
  HRESULT STDMETHODCALLTYPE get_DataValidation(VARIANT* value) override {
    return Answer(value, [&] { SetBool(value, engine_.DataValidation()); });
  }
  HRESULT STDMETHODCALLTYPE put_DataValidation(VARIANT value) override {
    return Run([&] { engine_.SetDataValidation(ToBool(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_DateAggregation(VARIANT* value) override {
    return Answer(value, [&] { SetLong(value, engine_.DateAggregation()); });
  }
  HRESULT STDMETHODCALLTYPE put_DateAggregation(VARIANT value) override {
    return Run([&] { engine_.SetDateAggregation(ToLong(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_DateKeyword(VARIANT* value) override {
    return Answer(value, [&] { SetText(value, engine_.DateKeyword()); });
  }
  HRESULT STDMETHODCALLTYPE put_DateKeyword(VARIANT value) override {
    return Run([&] { engine_.SetDateKeyword(ToText(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_DateEnd(VARIANT* value) override {
    return Answer(value, [&] { SetDate(value, engine_.DateEnd()); });
  }
  HRESULT STDMETHODCALLTYPE put_DateEnd(VARIANT value) override {
    return Run([&] { engine_.SetDateEnd(value); });
  }
  HRESULT STDMETHODCALLTYPE get_DateStart(VARIANT* value) override {
    return Answer(value, [&] { SetDate(value, engine_.DateStart()); });
  }
  HRESULT STDMETHODCALLTYPE put_DateStart(VARIANT value) override {
    return Run([&] { engine_.SetDateStart(value); });
  }
  HRESULT STDMETHODCALLTYPE get_DebugMessage(VARIANT* value) override {
    return Answer(value, [&] { SetText(value, engine_.DebugMessage()); });
  }
  HRESULT STDMETHODCALLTYPE get_EnableDebugCounters(VARIANT* value) override {
    return Answer(value, [&] { SetBool(value, engine_.EnableDebugCounters()); });
  }
  HRESULT STDMETHODCALLTYPE put_EnableDebugCounters(VARIANT value) override {
    return Run([&] { engine_.SetEnableDebugCounters(ToBool(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_MemoryMinimum(VARIANT* value) override {
    return Answer(value, [&] { SetLong(value, engine_.MemoryMinimum()); });
  }
  HRESULT STDMETHODCALLTYPE put_MemoryMinimum(VARIANT value) override {
    return Run([&] { engine_.SetMemoryMinimum(ToLong(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_MemoryMaximum(VARIANT* value) override {
    return Answer(value, [&] { SetLong(value, engine_.MemoryMaximum()); });
  }
  HRESULT STDMETHODCALLTYPE put_MemoryMaximum(VARIANT value) override {
    return Run([&] { engine_.SetMemoryMaximum(ToLong(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_WorkFilePath(VARIANT* value) override {
    return Answer(value, [&] { SetText(value, engine_.WorkFilePath()); });
  }
  HRESULT STDMETHODCALLTYPE put_WorkFilePath(VARIANT value) override {
    return Run([&] { engine_.SetWorkFilePath(ToFileName(value, kWorkFilePath)); });
  }
  HRESULT STDMETHODCALLTYPE get_LastErrorMessage(VARIANT* value) override {
    return Answer(value, [&] { SetText(value, engine_.LastErrorMessage()); });
  }
  HRESULT STDMETHODCALLTYPE get_OutputFileName(VARIANT* value) override {
    return Answer(value, [&] { SetText(value, engine_.OutputFileName()); });
  }
  HRESULT STDMETHODCALLTYPE put_OutputFileName(VARIANT value) override {
    return Run([&] { engine_.SetOutputFileName(ToFileName(value, kOutputFileName)); });
  }
  HRESULT STDMETHODCALLTYPE get_ProcessPriorityClass(VARIANT* value) override {
    return Answer(value, [&] { SetLong(value, engine_.ProcessPriorityClass()); });
  }
  HRESULT STDMETHODCALLTYPE put_ProcessPriorityClass(VARIANT value) override {
    return Run([&] { engine_.SetProcessPriorityClass(ToLong(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_ResultsMessage(VARIANT* value) override {
    return Answer(value, [&] { SetText(value, engine_.ResultsMessage()); });
  }
  HRESULT STDMETHODCALLTYPE ClearIdentifierList() override {
    return Run([&] { engine_.ClearIdentifierList(); });
  }
  HRESULT STDMETHODCALLTYPE ClearResourceList() override {
    return Run([&] { engine_.ClearResourceList(); });
  }
  HRESULT STDMETHODCALLTYPE DefineIdentifier(VARIANT name) override {
    return Run([&] {
      DefineExactly(ToExactText(name), "identifier name", [&](std::string_view text) { engine_.DefineIdentifier(text); },
                    [&](std::string message) { engine_.RefuseDefinition(Definition::Identifiers, std::move(message)); });
    });
  }
  HRESULT STDMETHODCALLTYPE DefineResource(VARIANT rateCode, VARIANT factor, VARIANT decimalPositions) override {
    return Run([&] {
      const double conversionFactor = IsMissing(factor) ? kDefaultConversionFactor : ToDouble(factor);
      const std::int32_t places = IsMissing(decimalPositions) ? kDefaultDecimalPositions : ToLong(decimalPositions);
      DefineExactly(ToExactText(rateCode), "rate code",
                    [&](std::string_view text) { engine_.DefineResource(text, conversionFactor, places); },
                    [&](std::string message) { engine_.RefuseDefinition(Definition::Resources, std::move(message)); });
    });
  }
  HRESULT STDMETHODCALLTYPE DefineResourceRecordHeader(VARIANT header) override {
    return Run([&] {
      DefineExactly(ToExactText(header), "record header",
                    [&](std::string_view text) { engine_.DefineResourceRecordHeader(text); },
                    [&](std::string message) { engine_.RefuseDefinition(Definition::Header, std::move(message)); });
    });
  }
  HRESULT STDMETHODCALLTYPE Initialize(VARIANT maxEntries, VARIANT* result) override {
    return Answer(result, [&] {
      SetBool(result, engine_.Initialize(IsMissing(maxEntries) ? ScriptingEngine::kDefaultMaxEntries
                                                                 : ToLong(maxEntries)));
    });
  }
  HRESULT STDMETHODCALLTYPE AddEntry(VARIANT* identifierValueList, VARIANT* resourceValueList,
                                     VARIANT dateStart, VARIANT dateEnd, VARIANT* result) override {
    if (identifierValueList == nullptr || resourceValueList == nullptr) return E_POINTER;
    return Answer(result, [&] {
      SetLong(result, engine_.AddEntry(*identifierValueList, *resourceValueList, dateStart, dateEnd));
    });
  }
  HRESULT STDMETHODCALLTYPE AddEntries(LONG numberOfEntries, VARIANT* identifierValueList,
                                       VARIANT* resourceValueList, VARIANT* dateStartList,
                                       VARIANT* dateEndList, VARIANT* result) override {
    if (identifierValueList == nullptr || resourceValueList == nullptr) return E_POINTER;
    return Answer(result, [&] {
      SetLong(result, engine_.AddEntries(numberOfEntries, *identifierValueList, *resourceValueList,
                                         dateStartList, dateEndList));
    });
  }
  HRESULT STDMETHODCALLTYPE WriteResourceFile(VARIANT append, VARIANT* result) override {
    return Answer(result, [&] {
      SetLong(result, engine_.WriteResourceFile(!IsMissing(append) && ToBool(append)));
    });
  }

 private:
  ScriptingEngine engine_;
};

}  // namespace

const ServerClass kScriptingEngineClass {CLSID_ScriptingEngine, ScriptingEngineObject::kProgId,
                                         "QUAX aggregation engine for scripts",
                                         &ScriptingEngineObject::Create};

}  // namespace quax::com
