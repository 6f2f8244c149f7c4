#include "engine/debug_counters.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace quax::agg {
namespace {
constexpr const char* kCrLf = "\r\n";
constexpr const char* kLine = "\r\n\t";
}  // namespace

std::uint32_t TickCountMs() noexcept {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::string FormatSecondsThreePlaces(double seconds) {
  // Thousandths as an integer, so no locale-dependent formatting is involved.
  const long long thousandths = std::llround(std::fabs(seconds) * 1000.0);
  char text[48];
  std::snprintf(text, sizeof text, "%s%lld.%03lld",
                seconds < 0 && thousandths != 0 ? "-" : "", thousandths / 1000, thousandths % 1000);
  return text;
}

void CDebugCounters::Initialize() {
  aggregates_ = 0;
  addEntryCalls_ = 0;
  rejectRecords_ = 0;
  inputRecords_ = 0;
  outputRecords_ = 0;
  rejectPasses_ = 0;
  addEntryMs_ = writeMs_ = addEntryStart_ = writeStart_ = 0;
  entriesUsedMax_ = entriesUsedMin_ = tableSizeMax_ = tableSizeMin_ = -1;
  memory_.Refresh();
  memoryAvailableAtStartMB_ = memory_.PhysicalMemoryAvailableMB();
  maxMemoryUsedMB_ = memory_.MemoryCurrentlyUsedMB();
}

void CDebugCounters::UpdateMaxMemoryUsed() noexcept {
  memory_.Refresh();
  const std::int32_t used = memory_.MemoryCurrentlyUsedMB();
  if (used > maxMemoryUsedMB_) maxMemoryUsedMB_ = used;
}

void CDebugCounters::UpdateMinMax(std::int64_t value, std::int64_t& minimum,
                                  std::int64_t& maximum) noexcept {
  if (minimum == -1 || value < minimum) minimum = value;
  if (value > maximum) maximum = value;
}

std::string ResultsMessage(const CDebugCounters& counters) {
  std::string text;
  text.reserve(160);
  text += "Input Records: " + std::to_string(counters.InputRecordsCount()) + kCrLf;
  text += "Output Records: " + std::to_string(counters.OutputRecordsCount()) + kCrLf;
  text += "Number of Aggregates: " + std::to_string(counters.AggregatesCount()) + kCrLf;
  text += "External Passes Count: " + std::to_string(counters.RejectPassesCount()) + kCrLf;
  text += "External Passes Record Count: " + std::to_string(counters.RejectRecordsCount());
  return text;
}

std::string DebugMessage(const CDebugCounters& counters, const DebugMessageSettings& settings) {
  std::string text = ResultsMessage(counters);
  if (!settings.CountersEnabled) {
    text += kCrLf;
    text += "Debug counters not enabled.";
    return text;
  }
  const double addEntry = counters.ProcessTimeSecs_AddEntry();
  const double write = counters.ProcessTimeSecs_WriteResourceFile();
  const auto line = [&text](const std::string& body) {
    text += kLine;
    text += body;
  };
  text += kCrLf;
  text += kCrLf;
  text += "Internal Statistics:";
  line("Processing Time -- Total: " + FormatSecondsThreePlaces(addEntry + write) + " seconds");
  line("Processing Time -- AddEntry: " + FormatSecondsThreePlaces(addEntry) + " secs");
  line("Processing Time -- WriteResourceFile: " + FormatSecondsThreePlaces(write) + " secs");
  line("AddEntry Call Count: " + std::to_string(counters.CallCount_AddEntry()));
  line("Min Aggregation Entries Used: " + std::to_string(counters.AggregationEntriesUsedMin()));
  line("Max Aggregation Entries Used: " + std::to_string(counters.AggregationEntriesUsedMax()));
  line("Max Aggregation Entries Allowed: " +
       (settings.MaxEntries > 0 ? std::to_string(settings.MaxEntries)
                                : std::string("Limited by physical memory only")));
  line("Min Aggregation Table Size: " + std::to_string(counters.AggregationTableSizeMin()));
  line("Max Aggregation Table Size: " + std::to_string(counters.AggregationTableSizeMax()));
  line("Minimum Memory setting: " + std::to_string(settings.MemoryMinimumMB) + " MB");
  line("Maximum Memory setting: " + std::to_string(settings.MemoryMaximumMB) + " MB");
  line("Initial Memory Available: " + std::to_string(counters.MemoryAvailableAtStartMB()) + " MB");
  line("Max Memory Used: " + std::to_string(counters.MaxMemoryUsedMB()) + " MB");
  return text;
}

}  // namespace quax::agg
