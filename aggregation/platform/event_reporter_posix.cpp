#include <cstdio>

#include "platform/event_reporter.h"

namespace quax::agg {
namespace {

class StandardErrorReporter final : public EventReporter {
 public:
  void ReportInformation(std::int32_t, const std::string& text) override { Write("information", text); }
  void ReportError(std::int32_t, const std::string& text) override { Write("error", text); }

 private:
  static void Write(const char* severity, const std::string& text) {
    std::fprintf(stderr, "QUAX %s: %s\n", severity, text.c_str());
  }
};

}  // namespace

std::unique_ptr<EventReporter> MakeDefaultEventReporter() {
  return std::make_unique<StandardErrorReporter>();
}

}  // namespace quax::agg
