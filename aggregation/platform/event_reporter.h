// Where the engine reports the outcome of WriteResourceFile: the Windows
// application event log (source "QUAX") on Windows, standard error
// elsewhere. Tests and tools put their own reporter in its place.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quax::agg {

class EventReporter {
 public:
  virtual ~EventReporter() = default;
  virtual void ReportInformation(std::int32_t category, const std::string& text) = 0;
  virtual void ReportError(std::int32_t category, const std::string& text) = 0;
};

// The event category "Processing" of the event source.
inline constexpr std::int32_t kEventCategoryProcessing = 2;

std::unique_ptr<EventReporter> MakeDefaultEventReporter();

}  // namespace quax::agg
