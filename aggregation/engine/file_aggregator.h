// CFileAggregator: aggregates one whole resource record file in one call.
// Every record goes to its own TypedEngine; the engine is re-defined
// whenever the record layout changes (the engine's aggregates so far are
// appended to the output first), chosen identifiers and resources are
// dropped from every record, and the aggregates are appended to the output
// file. The engine's other settings are reached through Engine().
#pragma once

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/typed_engine.h"

namespace quax::agg {

class CFileAggregator {
 public:
  // The scripting dictionary's error for a key it already holds.
  static constexpr const char* kDuplicateKey =
      "This key is already associated with an element of this collection";

  TypedEngine& Engine() noexcept { return engine_; }

  // The engine's settings as the aggregator offers them. Those that read or
  // set a flag or a text clear the aggregator's own message (so that
  // LastErrorMessage then shows the engine's); the memory limits and the
  // priority leave it.
  bool DataValidation() { lastErrorMessage_.clear(); return engine_.DataValidation(); }
  void SetDataValidation(bool value) { lastErrorMessage_.clear(); engine_.SetDataValidation(value); }
  std::string DebugMessage() { lastErrorMessage_.clear(); return engine_.DebugMessage(); }
  bool EnableDebugCounters() { lastErrorMessage_.clear(); return engine_.EnableDebugCounters(); }
  void SetEnableDebugCounters(bool value) { lastErrorMessage_.clear(); engine_.SetEnableDebugCounters(value); }
  std::int32_t MemoryMinimum() const noexcept { return engine_.MemoryMinimum(); }
  void SetMemoryMinimum(std::int32_t mb) noexcept { engine_.SetMemoryMinimum(mb); }
  std::int32_t MemoryMaximum() const noexcept { return engine_.MemoryMaximum(); }
  void SetMemoryMaximum(std::int32_t mb) noexcept { engine_.SetMemoryMaximum(mb); }
  std::string OutputFileName() { lastErrorMessage_.clear(); return engine_.OutputFileName(); }
  void SetOutputFileName(std::string name) { lastErrorMessage_.clear(); engine_.SetOutputFileName(std::move(name)); }
  std::int32_t ProcessPriorityClass() const noexcept { return engine_.ProcessPriorityClass(); }
  void SetProcessPriorityClass(std::int32_t value) noexcept { engine_.SetProcessPriorityClass(value); }
  std::string ResultsMessage() { lastErrorMessage_.clear(); return engine_.ResultsMessage(); }
  std::string WorkFilePath() { lastErrorMessage_.clear(); return engine_.WorkFilePath(); }
  void SetWorkFilePath(std::string_view path) { lastErrorMessage_.clear(); engine_.SetWorkFilePath(path); }

  const std::string& InputFileName() { lastErrorMessage_.clear(); return inputFileName_; }
  void SetInputFileName(std::string name) { lastErrorMessage_.clear(); inputFileName_ = std::move(name); }
  // The own message when there is one, else the engine's.
  const std::string& LastErrorMessage() const noexcept {
    return lastErrorMessage_.empty() ? engine_.LastErrorMessage() : lastErrorMessage_;
  }

  // Names are matched ignoring case; adding a name twice throws Error.
  void AddIdentifierToRemove(std::string_view identifier);
  void AddResourceToRemove(std::string_view rateCode);

  bool Initialize(std::int32_t maxEntries = -1);
  // True only when the whole file was read, every record added and the
  // final write succeeded. An unreadable line throws the reader's error.
  bool AggregateFile();

 private:
  bool SameLayout(const ResourceRecordView& record) const;
  // The identifier values (resource values) of a record that the current
  // layout keeps: the record's own when it keeps them all, else a copy in
  // `scratch` (in resourceValues_).
  std::span<const std::string_view> KeptIdentifiers(const ResourceRecordView& record,
                                                    std::vector<std::string_view>& scratch) const;
  std::span<const Decimal> KeptResources(const ResourceRecordView& record);
  bool AddRecord(const ResourceRecordView& record, std::size_t keyTicket);
  void Redefine(const ResourceRecordView& record);
  bool Flush();

  TypedEngine engine_;
  std::string inputFileName_;
  std::string lastErrorMessage_;
  std::set<std::string, std::less<>> identifiersToRemove_;
  std::set<std::string, std::less<>> resourcesToRemove_;

  // Layout of the previous record and which of its fields are kept.
  std::string previousHeader_;
  std::vector<std::string> previousIdentifierNames_;
  std::vector<std::string> previousRateCodes_;
  std::vector<std::size_t> keptIdentifiers_;  // field positions
  std::vector<std::size_t> keptResources_;
  bool dropsIdentifiers_ = false;  // the layout drops some
  bool dropsResources_ = false;
  std::vector<ResourceRecordView> batch_;
  std::vector<std::string_view> lookaheadValues_;
  std::vector<std::string_view> identifierValues_;
  std::vector<Decimal> resourceValues_;
};

}  // namespace quax::agg
