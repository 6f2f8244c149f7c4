#include "platform/event_reporter.h"
#include "win32/win_event_log.h"

namespace quax::agg {
namespace {

// One event per report through the library's event-log class.
class QuaxEventLogReporter final : public EventReporter {
 public:
  void ReportInformation(std::int32_t category, const std::string& text) override {
    log_.AddString(text);
    log_.WriteInformationEvent(category);
    log_.Clear();
  }
  void ReportError(std::int32_t category, const std::string& text) override {
    log_.AddString(text);
    log_.WriteErrorEvent(category);
    log_.Clear();
  }

 private:
  quax::CQuaxEventLog log_;
};

}  // namespace

std::unique_ptr<EventReporter> MakeDefaultEventReporter() {
  return std::make_unique<QuaxEventLogReporter>();
}

}  // namespace quax::agg
