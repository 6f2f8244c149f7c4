// CDebugCounters: what one engine run did and how long it took, and the two
// texts built from it (ResultsMessage for every run, DebugMessage with the
// internal statistics).
#pragma once

#include <cstdint>
#include <string>

#include "engine/memory_budget.h"

namespace quax::agg {

// Milliseconds of a monotonic clock, wrapping at 32 bits like a tick count.
std::uint32_t TickCountMs() noexcept;

// Seconds with exactly three places and "." as separator, whatever the
// locale: 0.000, 12.345.
std::string FormatSecondsThreePlaces(double seconds);

// Counts are 64 bits wide: a long run passes 2^31 records.
class CDebugCounters {
 public:
  CDebugCounters() { Initialize(); }

  void Initialize();

  std::int64_t AggregatesCount() const noexcept { return aggregates_; }
  std::int64_t AggregationEntriesUsedMax() const noexcept { return entriesUsedMax_; }
  std::int64_t AggregationEntriesUsedMin() const noexcept { return entriesUsedMin_; }
  std::int64_t AggregationTableSizeMax() const noexcept { return tableSizeMax_; }
  std::int64_t AggregationTableSizeMin() const noexcept { return tableSizeMin_; }
  std::int64_t CallCount_AddEntry() const noexcept { return addEntryCalls_; }
  std::int64_t RejectRecordsCount() const noexcept { return rejectRecords_; }
  std::int64_t InputRecordsCount() const noexcept { return inputRecords_; }
  std::int32_t MemoryAvailableAtStartMB() const noexcept { return memoryAvailableAtStartMB_; }
  std::int32_t MaxMemoryUsedMB() const noexcept { return maxMemoryUsedMB_; }
  std::int64_t OutputRecordsCount() const noexcept { return outputRecords_; }
  double ProcessTimeSecs_AddEntry() const noexcept { return addEntryMs_ / 1000.0; }
  double ProcessTimeSecs_WriteResourceFile() const noexcept { return writeMs_ / 1000.0; }
  std::int64_t RejectPassesCount() const noexcept { return rejectPasses_; }

  void IncrementAggregateCount() noexcept { ++aggregates_; }
  void IncrementCallCount_AddEntry() noexcept { ++addEntryCalls_; }
  void IncrementInputRecords() noexcept { ++inputRecords_; }
  void IncrementOutputRecords() noexcept { ++outputRecords_; }
  void IncrementRejectPassesCount() noexcept { ++rejectPasses_; }
  void IncrementRejectRecordsCount() noexcept { ++rejectRecords_; }
  // Puts the output counts back to earlier readings: a write that failed
  // left nothing in the output.
  void RestoreOutputCounts(std::int64_t outputRecords, std::int64_t aggregates) noexcept {
    outputRecords_ = outputRecords;
    aggregates_ = aggregates;
  }

  void StartProcessTimeInterval_AddEntry() noexcept { addEntryStart_ = TickCountMs(); }
  void StopProcessTimeInterval_AddEntry() noexcept { addEntryMs_ += TickCountMs() - addEntryStart_; }
  void StartProcessTimeInterval_WriteResourceFile() noexcept { writeStart_ = TickCountMs(); }
  void StopProcessTimeInterval_WriteResourceFile() noexcept { writeMs_ += TickCountMs() - writeStart_; }

  void UpdateAggregationEntriesUsedMinMax(std::int64_t entriesUsed) noexcept {
    UpdateMinMax(entriesUsed, entriesUsedMin_, entriesUsedMax_);
  }
  void UpdateAggregationTableSizeMinMax(std::int64_t tableSize) noexcept {
    UpdateMinMax(tableSize, tableSizeMin_, tableSizeMax_);
  }
  void UpdateMaxMemoryUsed() noexcept;

 private:
  static void UpdateMinMax(std::int64_t value, std::int64_t& minimum, std::int64_t& maximum) noexcept;

  std::int64_t aggregates_ = 0;
  std::int64_t entriesUsedMax_ = -1;
  std::int64_t entriesUsedMin_ = -1;
  std::int64_t tableSizeMax_ = -1;
  std::int64_t tableSizeMin_ = -1;
  std::int64_t addEntryCalls_ = 0;
  std::int64_t rejectRecords_ = 0;
  std::int64_t inputRecords_ = 0;
  std::int32_t memoryAvailableAtStartMB_ = 0;
  std::int32_t maxMemoryUsedMB_ = 0;
  std::int64_t outputRecords_ = 0;
  std::uint32_t addEntryMs_ = 0;  // 32-bit: a wrapping tick counter is absorbed
  std::uint32_t writeMs_ = 0;
  std::uint32_t addEntryStart_ = 0;
  std::uint32_t writeStart_ = 0;
  std::int64_t rejectPasses_ = 0;
  COSMemoryInfo memory_;
};

// The engine settings that DebugMessage reports beside the counters.
struct DebugMessageSettings {
  bool CountersEnabled = false;
  std::int32_t MaxEntries = 0;
  std::int32_t MemoryMinimumMB = 0;
  std::int32_t MemoryMaximumMB = 0;
};

std::string ResultsMessage(const CDebugCounters& counters);
std::string DebugMessage(const CDebugCounters& counters, const DebugMessageSettings& settings);

}  // namespace quax::agg
