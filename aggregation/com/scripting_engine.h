// ScriptingEngine: the aggregation engine for callers that can pass only
// VARIANT values (script hosts). It owns one TypedEngine and offers its
// members, adding dates given as text in the fixed layout of date_text.h, an
// optional numeric check of resource values (its own DataValidation copy)
// and AddEntries, which feeds many entries from two-dimensional arrays in one
// call without copying them.
//
// Members that the script interface lets clear the facade's message clear it
// here; LastErrorMessage is the facade's own message when there is one, else
// the engine's. Conversions that fail throw (they reach the caller as COM
// errors).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "com/value_list.h"
#include "com/engine_variants.h"
#include "engine/typed_engine.h"

namespace quax::com {

// The DATE of a fixed-layout date text through VarDateFromUdate; nullopt when
// it is too short, when the platform refuses the date or gives one that no
// resource record can hold (beyond 31 December 9999), or, with `validate`,
// when a piece is not a number. Without `validate` such a piece throws a
// type mismatch.
std::optional<double> DateFromText(std::string_view text, bool validate);

class ScriptingEngine {
 public:
  static constexpr std::int32_t kDefaultMaxEntries = -1;

  agg::TypedEngine& Engine() noexcept { return engine_; }
  const std::string& LastErrorMessage() const noexcept {
    return lastErrorMessage_.empty() ? engine_.LastErrorMessage() : lastErrorMessage_;
  }

  agg::AggregationListView AggregationList() const { return engine_.AggregationList(); }
  bool DataValidation() noexcept {
    lastErrorMessage_.clear();
    return dataValidation_;
  }
  void SetDataValidation(bool value);
  std::int32_t DateAggregation() { return Cleared().DateAggregation(); }
  void SetDateAggregation(std::int32_t value) { Cleared().SetDateAggregation(value); }
  std::string DateKeyword() { return Cleared().DateKeyword(); }
  void SetDateKeyword(std::string_view value) { Cleared().SetDateKeyword(value); }
  double DateEnd() { return Cleared().DateEnd(); }
  void SetDateEnd(const VARIANT& value) { SetDate(value, false); }
  double DateStart() { return Cleared().DateStart(); }
  void SetDateStart(const VARIANT& value) { SetDate(value, true); }
  std::string DebugMessage() { return Cleared().DebugMessage(); }
  bool EnableDebugCounters() { return Cleared().EnableDebugCounters(); }
  void SetEnableDebugCounters(bool value) { Cleared().SetEnableDebugCounters(value); }
  std::int32_t MemoryMinimum() const noexcept { return engine_.MemoryMinimum(); }
  void SetMemoryMinimum(std::int32_t mb) noexcept { engine_.SetMemoryMinimum(mb); }
  std::int32_t MemoryMaximum() const noexcept { return engine_.MemoryMaximum(); }
  void SetMemoryMaximum(std::int32_t mb) noexcept { engine_.SetMemoryMaximum(mb); }
  std::string WorkFilePath() { return Cleared().WorkFilePath(); }
  void SetWorkFilePath(std::string_view path) { Cleared().SetWorkFilePath(path); }
  std::string OutputFileName() { return Cleared().OutputFileName(); }
  void SetOutputFileName(std::string name) { Cleared().SetOutputFileName(std::move(name)); }
  std::int32_t ProcessPriorityClass() const noexcept { return engine_.ProcessPriorityClass(); }
  void SetProcessPriorityClass(std::int32_t value) noexcept { engine_.SetProcessPriorityClass(value); }
  std::string ResultsMessage() { return Cleared().ResultsMessage(); }

  void ClearIdentifierList() { Cleared().ClearIdentifierList(); }
  void ClearResourceList() { Cleared().ClearResourceList(); }
  void DefineIdentifier(std::string_view name) { Cleared().DefineIdentifier(name); }
  void DefineResource(std::string_view rateCode, double conversionFactor, std::int32_t decimalPositions) {
    Cleared().DefineResource(rateCode, conversionFactor, decimalPositions);
  }
  void DefineResourceRecordHeader(std::string_view header) { Cleared().DefineResourceRecordHeader(header); }
  void RefuseDefinition(agg::TypedEngine::Definition part, std::string message) {
    Cleared().RefuseDefinition(part, std::move(message));
  }
  bool Initialize(std::int32_t maxEntries = kDefaultMaxEntries);

  // Returns 0 or 16 (the engine's code, or the facade's refusal with its
  // message). Dates are text, DATE, or missing (the missing date). The
  // facade's message is cleared on entry, so that LastErrorMessage tells
  // about this call.
  std::int32_t AddEntry(const VARIANT& identifierValueList, const VARIANT& resourceValueList,
                        const VARIANT& dateStart, const VARIANT& dateEnd);
  // Entry k (0 to numberOfEntries - 1) is column k of both two-dimensional
  // lists and element k of the date lists (null or missing: no list). Stops
  // at the first entry that is not added: 16. Lists that cannot serve the
  // entries are refused with 16 and a message before any entry is added.
  std::int32_t AddEntries(std::int32_t numberOfEntries, const VARIANT& identifierValueList,
                          const VARIANT& resourceValueList, const VARIANT* dateStartList,
                          const VARIANT* dateEndList);
  std::int32_t WriteResourceFile(bool appendToResourceFile = false) {
    return Cleared().WriteResourceFile(appendToResourceFile);
  }

 private:
  agg::TypedEngine& Cleared() noexcept {
    lastErrorMessage_.clear();
    return engine_;
  }
  void SetDate(const VARIANT& value, bool start);
  // The date of an entry, or false with the facade's message set.
  bool EntryDate(const VARIANT& value, bool start, double& out);
  bool EntryDates(const VARIANT& dateStart, const VARIANT& dateEnd, double& start, double& end);
  // What AddEntry does once the dates are known: the numeric check, then
  // the engine.
  std::int32_t AddEntryFrom(const ValueList& identifierValues, const ValueList& resourceValues,
                            double start, double end);
  std::int32_t Refuse(std::string message);

  bool dataValidation_ = false;
  std::string lastErrorMessage_;
  agg::TypedEngine engine_;
  VariantEntryFeeder feeder_;
};

}  // namespace quax::com
