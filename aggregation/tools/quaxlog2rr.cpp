// quaxlog2rr: turns the collectors' process log files into resource records,
// one per usage record that must be billed (log_conversion.h says which),
// for quaxaggregate. Exit codes: 0 done, 8 the command line was not
// understood, 16 failed, 130 interrupted; OUTPUT changes only on 0.
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "tools/log_conversion.h"
#include "tools/tool_support.h"

namespace {

using namespace quax::agg;
using namespace quax::agg::tools;

constexpr const char* kHelp =
    "Usage: quaxlog2rr [options] LOG... OUTPUT\n"
    "\n"
    "Reads process log files of the QUAX collectors (any delimiter, with or\n"
    "without the project column) and writes one resource record per usage\n"
    "record that must be billed, never counting usage twice: the start and\n"
    "interval records of a process, or its end record when it has no other.\n"
    "Give all logs of a period in one run, each machine's in date order.\n"
    "\"-\" as LOG reads standard input, as OUTPUT writes standard output.\n"
    "\n"
    "Each record has the identifiers Machine, User, Project ((none) when the\n"
    "process had none) and Process, and the rate codes CPUSEC, KERNSEC,\n"
    "USERSEC, ELAPSSEC (seconds), KBREAD and KBWRITE (kilobytes).\n"
    "\n"
    "The report tells how many records were read, written and skipped (and\n"
    "why), and checks for every process with an end record that its start and\n"
    "interval records add up to the end record's totals.\n"
    "\n"
    "Options:\n"
    "  --force   replace an OUTPUT that is not a resource record file\n"
    "  --help    show this text\n"
    "\n"
    "Exit codes: 0 done, 8 command line not understood, 16 failed,\n"
    "130 interrupted (Ctrl+C).\n";

struct Options {
  std::vector<std::string> Logs;
  std::string Output;
  bool Force = false;
};

bool ParseArguments(CommandLine& line, Options& options) {
  std::string_view option;
  while (line.NextOption(option)) {
    if (option != "--force") return line.Unknown(option);
    options.Force = true;
  }
  return line.Help() || line.TakeInputsAndOutput("log", options.Logs, options.Output);
}

int Fail(const std::string& message) { return tools::Fail("quaxlog2rr", message); }

void PrintReport(std::FILE* out, const ConversionReport& report) {
  std::fprintf(out, "Records read: %lld\nRecords written: %lld\nRecords skipped: %lld\n",
               static_cast<long long>(report.RecordsRead), static_cast<long long>(report.RecordsWritten),
               static_cast<long long>(report.RecordsSkipped));
  for (const auto& [reason, count] : report.SkippedFor) {
    std::fprintf(out, "  %lld %s\n", static_cast<long long>(count), reason.c_str());
  }
  if (!report.UnreadableLines.empty()) {
    std::fprintf(out, "Lines that are not usage records (the first %zu):\n", ConversionReport::kMaxListed);
    for (const std::string& line : report.UnreadableLines) std::fprintf(out, "  %s\n", line.c_str());
  }
  if (report.RestartStarts > 0) {
    std::fprintf(out, "Start records after a collector restart, billed beyond the usage billed before: %lld\n",
                 static_cast<long long>(report.RestartStarts));
  }
  std::fprintf(out, "Conservation: %lld processes checked, %lld mismatches\n",
               static_cast<long long>(report.ProcessesChecked), static_cast<long long>(report.Mismatches));
  for (const std::string& mismatch : report.MismatchList) std::fprintf(out, "  %s\n", mismatch.c_str());
  if (report.Mismatches > static_cast<std::int64_t>(report.MismatchList.size())) {
    std::fprintf(out, "  ... and %lld more\n",
                 static_cast<long long>(report.Mismatches - static_cast<std::int64_t>(report.MismatchList.size())));
  }
}

int Run(const Options& options) {
  if (auto unopened = CheckInputs(options.Logs)) return Fail(*unopened);
  if (auto refused = CheckOutput(options.Output, options.Force, IsResourceRecordLine, "a resource record file")) {
    return Fail(*refused);
  }
  StagedOutput staged(options.Output, "");
  std::string message;
  if (!staged.Create(false, message)) return Fail(message);
  ConversionReport report;
  try {
    if (!ConvertLogsToResourceFile(options.Logs, staged.Path(), [] { return !InterruptRequested(); }, report,
                                   message)) {
      return Fail(staged.InUserTerms(message));
    }
  } catch (const std::exception& error) {
    return Fail(staged.InUserTerms(error.what()));
  }
  if (InterruptRequested() || !staged.Publish(message)) {
    return InterruptRequested() ? ReportInterrupted("quaxlog2rr", options.Output) : Fail(message);
  }
  PrintReport(WritesThrough(options.Output) ? stderr : stdout, report);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  return ToolMain(
      "quaxlog2rr", argc, argv, kHelp, [&options](CommandLine& line) { return ParseArguments(line, options); },
      [&options] { return Run(options); }, options.Output);
}
