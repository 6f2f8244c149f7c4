// quaxlog2rr: turns the collectors' process log files into resource records,
// one per usage record that must be billed (log_conversion.h says which),
// for quaxaggregate. Exit codes: 0 done, 4 written but incomplete, 8 the
// command line was not understood, 16 failed, 130 interrupted; OUTPUT
// changes only on 0 and 4.
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform_files.h"
#include "tools/input_expansion.h"
#include "tools/log_conversion.h"
#include "tools/log_files.h"
#include "tools/tool_support.h"

namespace {

using namespace quax::agg;
using namespace quax::agg::tools;

constexpr const char* kHelp =
    "Usage: quaxlog2rr [options] LOG... OUTPUT\n"
    "\n"
    "Reads process log files of the QUAX collectors (any delimiter, also\n"
    "changing within a file, with or without the project column) and writes\n"
    "one resource record per usage that must be billed, billing every usage\n"
    "exactly once: the start and interval records of a process, or its end\n"
    "record when it has no other. A record read twice (a log given twice,\n"
    "copies in two folders) is billed once; a process both collectors\n"
    "recorded is billed by one of them. The order of the logs does not matter.\n"
    "A LOG may be a folder: its daily files <prefix>YYYYMMDD.txt and those of\n"
    "its subfolders (one per machine) are read. \"-\" as LOG reads standard\n"
    "input, as OUTPUT writes standard output.\n"
    "\n"
    "Each record has the header PROCESS, the identifiers Machine, User,\n"
    "Project ((none) when the process had none) and Process, and the rate\n"
    "codes CPUSEC, KERNSEC, USERSEC, ELAPSSEC (seconds), KBREAD and KBWRITE\n"
    "(kilobytes). Usage of excluded users is written the same way with the\n"
    "header EXCLUDED, which bills count but do not bill.\n"
    "\n"
    "The report counts the records read, written, excluded and skipped (and\n"
    "why), checks for every process with an end record that its start and\n"
    "interval records add up to the end record's totals, and lists every\n"
    "usage line that was not billed, with file, line and field: unreadable,\n"
    "incomplete (a last line without its line end), negative, beyond any\n"
    "process, with control characters, or conflicting with another record.\n"
    "\n"
    "Options:\n"
    "  --exclude-user PATTERN  write the usage of users matching PATTERN (*\n"
    "                          any text, ignoring case) as EXCLUDED; repeatable\n"
    "  --include-all           do not exclude the default users: NT AUTHORITY\\*,\n"
    "                          Window Manager\\DWM-*, Font Driver Host\\UMFD-*\n"
    "  --from YYYY-MM-DD       bill usage whose period ends after that day's\n"
    "  --to YYYY-MM-DD         start and not after the end of this day; folders\n"
    "                          give their files of these days and the day after\n"
    "  --prefix TEXT           the daily file prefix in folders (default\n"
    "                          QUAXProcessLog-)\n"
    "  --strict                refuse an incomplete bill: write nothing, exit 16\n"
    "  --force                 replace an OUTPUT that is not a resource record file\n"
    "  --help                  show this text\n"
    "\n"
    "Exit codes: 0 done, 4 OUTPUT written but the bill is incomplete (lines\n"
    "not billed, a conservation mismatch, an input without any usage record;\n"
    "the report says which), 8 command line not understood, 16 failed (OUTPUT\n"
    "as it was), 130 interrupted (Ctrl+C).\n";

constexpr std::int64_t kMillisecondsPerDay = 86'400'000;

struct Options {
  std::vector<std::string> Logs;
  std::string Output;
  std::vector<std::string> ExcludedUsers;
  bool IncludeAll = false;
  DayRange Days;
  std::string Prefix{kDefaultLogPrefix};
  bool Strict = false;
  bool Force = false;
};

bool ParseArguments(CommandLine& line, Options& options) {
  std::string_view option;
  std::string_view value;
  while (line.NextOption(option)) {
    if (option == "--force") {
      options.Force = true;
    } else if (option == "--strict") {
      options.Strict = true;
    } else if (option == "--include-all") {
      options.IncludeAll = true;
    } else if (option == "--exclude-user" || option == "--prefix") {
      if (!line.Value(value)) return false;
      if (value.empty()) return line.Refuse(std::string(option) + " wants a text");
      if (option == "--prefix") {
        options.Prefix = value;
      } else {
        options.ExcludedUsers.emplace_back(value);
      }
    } else if (option == "--from" || option == "--to") {
      if (!line.Value(value)) return false;
      std::int64_t day = 0;
      if (!ParseDay(value, day)) return line.Refuse(std::string(option) + " wants a date YYYY-MM-DD");
      (option == "--from" ? options.Days.From : options.Days.To) = day;
    } else {
      return line.Unknown(option);
    }
  }
  if (options.Days.From && options.Days.To && *options.Days.From > *options.Days.To) {
    return line.Refuse("--from is after --to");
  }
  return line.Help() || line.TakeInputsAndOutput("log", options.Logs, options.Output);
}

int Fail(const std::string& message) { return tools::Fail("quaxlog2rr", message); }

void PrintCounts(std::FILE* out, const std::map<std::string, std::int64_t>& counts) {
  for (const auto& [reason, count] : counts) {
    std::fprintf(out, "  %lld %s\n", static_cast<long long>(count), reason.c_str());
  }
}

void PrintReport(std::FILE* out, const ConversionReport& report, bool written) {
  std::fprintf(out, "Records read: %lld\n", static_cast<long long>(report.RecordsRead));
  if (written) {
    std::fprintf(out, "Records written: %lld\n", static_cast<long long>(report.RecordsWritten));
  } else {
    std::fprintf(out, "Records written: none (--strict refuses an incomplete bill)\n");
  }
  if (report.RecordsExcluded > 0) {
    std::fprintf(out, "Records of excluded users (written as EXCLUDED): %lld\n",
                 static_cast<long long>(report.RecordsExcluded));
  }
  std::fprintf(out, "Records skipped: %lld\n", static_cast<long long>(report.RecordsSkipped));
  PrintCounts(out, report.SkippedFor);
  if (report.RestartStarts > 0) {
    std::fprintf(out, "Start records after a collector restart, billed beyond the usage known before: %lld\n",
                 static_cast<long long>(report.RestartStarts));
  }
  std::fprintf(out, "Conservation: %lld processes checked, %lld mismatches\n",
               static_cast<long long>(report.ProcessesChecked), static_cast<long long>(report.Mismatches));
  for (const std::string& mismatch : report.MismatchList) std::fprintf(out, "  %s\n", mismatch.c_str());
  if (report.LinesNotBilled > 0) {
    std::fprintf(out, "Lines not billed: %lld\n", static_cast<long long>(report.LinesNotBilled));
    PrintCounts(out, report.NotBilledFor);
    for (const std::string& line : report.NotBilled) std::fprintf(out, "  %s\n", line.c_str());
  }
  if (!report.InputsWithoutUsage.empty()) {
    std::fprintf(out, "Inputs without any usage record: %zu\n", report.InputsWithoutUsage.size());
    for (const std::string& input : report.InputsWithoutUsage) std::fprintf(out, "  %s\n", input.c_str());
  }
}

// "2 lines not billed, 1 conservation mismatch"
std::string WhatIsMissing(const ConversionReport& report) {
  std::string text;
  const auto add = [&text](std::int64_t count, const char* one, const char* many) {
    if (count == 0) return;
    text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + (count == 1 ? one : many);
  };
  add(report.LinesNotBilled, "line not billed", "lines not billed");
  add(report.Mismatches, "conservation mismatch", "conservation mismatches");
  add(static_cast<std::int64_t>(report.InputsWithoutUsage.size()), "input without any usage record",
      "inputs without any usage record");
  return text;
}

// The logs the inputs name: files as they are, folders by their daily files.
int FindLogs(const Options& options, ConversionJob& job) {
  DayRange fileDays = options.Days;
  if (fileDays.To) ++*fileDays.To;  // intervals that end at midnight are in the next day's file
  FoundLogs found;
  for (const std::string& input : options.Logs) {
    if (IsStandardStream(input) || platform::KindOfPath(input) != platform::PathKind::Directory) {
      found.Files.push_back(input);
      continue;
    }
    std::string message;
    if (!FindDailyLogs(input, options.Prefix, fileDays, found, message)) return Fail(message);
  }
  for (const std::string& log : found.Files) {
    if (IsStandardStream(log)) continue;
    if (auto tooLong = CheckPathLength(log)) return Fail(*tooLong);
    if (IsStandardStream(options.Output) || !SameFile(log, options.Output)) continue;
    std::fprintf(stderr, "quaxlog2rr: %s is both a log and the output\n", options.Output.c_str());
    return kExitUsage;
  }
  job.Logs = std::move(found.Files);
  job.InputsWithoutUsage = std::move(found.WithoutLogs);
  job.Options.ExcludedUsers = options.ExcludedUsers;
  if (!options.IncludeAll) {
    job.Options.ExcludedUsers.insert(job.Options.ExcludedUsers.end(), kDefaultExcludedUsers.begin(),
                                     kDefaultExcludedUsers.end());
  }
  if (options.Days.From) job.Options.Since = *options.Days.From * kMillisecondsPerDay;
  if (options.Days.To) job.Options.Until = (*options.Days.To + 1) * kMillisecondsPerDay;
  return kExitOk;
}

int Run(const Options& options) {
  ConversionJob job;
  if (const int found = FindLogs(options, job); found != kExitOk) return found;
  if (auto unopened = CheckInputs(job.Logs)) return Fail(*unopened);
  if (auto refused = CheckOutput(options.Output, options.Force, IsResourceRecordLine, "a resource record file")) {
    return Fail(*refused);
  }
  StagedOutput staged(options.Output, "");
  std::string message;
  if (!staged.Create(false, message)) return Fail(message);
  ConversionReport report;
  try {
    if (!ConvertLogsToResourceFile(job, staged.Path(), [] { return !InterruptRequested(); }, report, message)) {
      return Fail(staged.InUserTerms(message));
    }
  } catch (const std::exception& error) {
    return Fail(staged.InUserTerms(error.what()));
  }
  if (InterruptRequested()) return ReportInterrupted("quaxlog2rr", options.Output);
  std::FILE* reportStream = WritesThrough(options.Output) ? stderr : stdout;
  const std::string outputName = IsStandardStream(options.Output) ? "standard output" : "'" + options.Output + "'";
  if (!report.Complete() && options.Strict) {
    PrintReport(reportStream, report, false);
    return Fail("the bill is incomplete (" + WhatIsMissing(report) + "); --strict: nothing written, " + outputName +
                " is as it was");
  }
  if (!staged.Publish(message)) {
    return InterruptRequested() ? ReportInterrupted("quaxlog2rr", options.Output) : Fail(message);
  }
  PrintReport(reportStream, report, true);
  if (report.Complete()) return kExitOk;
  std::fflush(reportStream);
  std::fprintf(stderr, "quaxlog2rr: %s written, but the bill is incomplete: %s (see the report)\n",
               outputName.c_str(), WhatIsMissing(report).c_str());
  return kExitIncomplete;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  return ToolMain(
      "quaxlog2rr", argc, argv, kHelp, [&options](CommandLine& line) { return ParseArguments(line, options); },
      [&options] { return Run(options); }, options.Output);
}
