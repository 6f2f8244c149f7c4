// quaxaggregate: sums resource record files by key with the aggregation
// engine and writes the aggregates to an output file. Exit codes follow the
// engine's return codes: 0 done, 8 the command line was not understood
// (nothing was done), 16 the aggregation failed; 130 after Ctrl+C. Whenever
// it does not exit 0, OUTPUT is as it was.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/typed_engine.h"
#include "tools/parallel_aggregator.h"
#include "tools/tool_support.h"

namespace {

using namespace quax::agg;
using namespace quax::agg::tools;

constexpr const char* kHelp =
    "Usage: quaxaggregate [options] INPUT... OUTPUT\n"
    "\n"
    "Sums the resource records of the INPUT files whose header, identifier\n"
    "names and values, rate codes and dates are equal, and writes one record\n"
    "per aggregate to OUTPUT (which is replaced unless --append is given).\n"
    "Records of all inputs are summed together, wherever they stand. The\n"
    "aggregates are written in the order of their first record in the inputs.\n"
    "Keys that do not fit into memory go to work files and are summed in\n"
    "further passes, each pass written after the one before. OUTPUT changes\n"
    "only when the whole run succeeds. \"-\" as INPUT reads standard input, as\n"
    "OUTPUT writes standard output.\n"
    "\n"
    "Input is read strictly: a date that is not a calendar date, a time outside\n"
    "00:00:00-23:59:59 or a value that is not a plain decimal number stops the\n"
    "run. An existing OUTPUT that is not a resource record file is left alone.\n"
    "\n"
    "Options:\n"
    "  --drop-identifier NAME  leave out the identifier NAME (any case); repeatable\n"
    "  --drop-resource CODE    leave out the resource with rate code CODE; repeatable\n"
    "  --threads N             threads that read and sum (1 to 64; default: the\n"
    "                          processors this process may use); the output is\n"
    "                          the same for any number\n"
    "  --max-entries N         keep at most N aggregates in memory per pass\n"
    "                          (0: as many as the memory limits allow; default)\n"
    "  --memory-min MB         memory the table may always use (0 turns the limit off)\n"
    "  --memory-max MB         memory beyond which new keys go to work files\n"
    "                          (default 80% of the memory available at start;\n"
    "                          0 turns the limit off)\n"
    "  --work-path DIR         folder for the work files (default: TEMP)\n"
    "  --date-aggregation HOW  which dates are part of the key: none, start,\n"
    "                          end or both (default both)\n"
    "  --append                append to OUTPUT instead of replacing it\n"
    "  --lenient               read malformed fields the forgiving way (digits\n"
    "                          taken as they come) instead of stopping\n"
    "  --force                 replace (or append to) an OUTPUT that is not a\n"
    "                          resource record file\n"
    "  --quiet                 no progress line and no results, only errors\n"
    "                          and warnings\n"
    "  --debug-counters        also print the internal statistics of the run\n"
    "  --help                  show this text\n"
    "\n"
    "A progress line (pass, records read, records per second) is shown on\n"
    "standard error when it is a terminal. The results go to standard output,\n"
    "or to standard error when OUTPUT is \"-\" or a device.\n"
    "\n"
    "Exit codes: 0 done, 8 command line not understood, 16 aggregation failed,\n"
    "130 interrupted (Ctrl+C).\n";

struct Options {
  int Threads = 0;  // 0: the processors of the process
  std::vector<std::string> Inputs;
  std::string Output;
  std::vector<std::string> DropIdentifiers;
  std::vector<std::string> DropResources;
  std::int32_t MaxEntries = 0;
  std::int32_t MemoryMinimum = -1;  // -1: engine default
  std::int32_t MemoryMaximum = -1;
  std::string WorkPath;
  std::int32_t DateAggregation = quax::agg::EDateAggregation_Both;
  bool Append = false;
  bool Lenient = false;
  bool Force = false;
  bool Quiet = false;
  bool DebugCounters = false;
};

bool ParseCount(std::string_view text, std::int32_t& out) {
  if (text.empty() || text.size() > 9) return false;
  std::int32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  out = value;
  return true;
}

bool ParseDateAggregation(std::string_view text, std::int32_t& out) {
  if (text == "none") out = quax::agg::EDateAggregation_None;
  else if (text == "start") out = quax::agg::EDateAggregation_StartDate;
  else if (text == "end") out = quax::agg::EDateAggregation_EndDate;
  else if (text == "both") out = quax::agg::EDateAggregation_Both;
  else return false;
  return true;
}

// The aggregator matches the names to drop in any case and refuses one it
// already holds; naming one again on the command line changes nothing.
void AddNameOnce(std::vector<std::string>& names, std::string_view name) {
  for (const std::string& known : names) {
    if (SameNameIgnoringCase(known, name)) return;
  }
  names.emplace_back(name);
}

bool ParseArguments(CommandLine& line, Options& options) {
  std::string_view option;
  std::string_view text;
  while (line.NextOption(option)) {
    if (option == "--append") {
      options.Append = true;
    } else if (option == "--lenient") {
      options.Lenient = true;
    } else if (option == "--force") {
      options.Force = true;
    } else if (option == "--quiet") {
      options.Quiet = true;
    } else if (option == "--debug-counters") {
      options.DebugCounters = true;
    } else if (option == "--drop-identifier") {
      if (!line.Value(text)) return false;
      AddNameOnce(options.DropIdentifiers, text);
    } else if (option == "--drop-resource") {
      if (!line.Value(text)) return false;
      AddNameOnce(options.DropResources, text);
    } else if (option == "--work-path") {
      if (!line.Value(text)) return false;
      options.WorkPath = text;
    } else if (option == "--max-entries" || option == "--memory-min" || option == "--memory-max") {
      if (!line.Value(text)) return false;
      std::int32_t& target = option == "--max-entries"  ? options.MaxEntries
                             : option == "--memory-min" ? options.MemoryMinimum
                                                        : options.MemoryMaximum;
      if (!ParseCount(text, target)) {
        return line.Refuse(std::string(option) + " wants a whole number, not '" + std::string(text) + "'");
      }
    } else if (option == "--threads") {
      if (!line.Value(text)) return false;
      std::int32_t threads = 0;
      if (!ParseCount(text, threads) || threads < 1 || threads > ParallelAggregator::kMaxThreads) {
        return line.Refuse("--threads wants a whole number from 1 to " +
                           std::to_string(ParallelAggregator::kMaxThreads) + ", not '" + std::string(text) + "'");
      }
      options.Threads = threads;
    } else if (option == "--date-aggregation") {
      if (!line.Value(text)) return false;
      if (!ParseDateAggregation(text, options.DateAggregation)) {
        return line.Refuse("--date-aggregation wants none, start, end or both");
      }
    } else {
      return line.Unknown(option);
    }
  }
  return line.Help() || line.TakeInputsAndOutput("input", options.Inputs, options.Output);
}

int Fail(const std::string& message) { return tools::Fail("quaxaggregate", message); }

// Everything that can be checked is checked before any work: the inputs can
// be opened, the folders exist, and OUTPUT may be written.
int CheckBeforeWork(const Options& options) {
  if (auto unopened = CheckInputs(options.Inputs)) return Fail(*unopened);
  if (!options.WorkPath.empty()) {
    if (auto refused = CheckFolder(options.WorkPath, "the work path")) return Fail(*refused);
  }
  if (auto refused = CheckOutput(options.Output, options.Force, IsResourceRecordLine, "a resource record file")) {
    return Fail(*refused);
  }
  return kExitOk;
}

void WarnOfUnmatched(const std::vector<std::string>& unmatched, const char* option, const char* what) {
  for (const std::string& name : unmatched) {
    std::fprintf(stderr, "quaxaggregate: warning: %s %s matched no %s of the input\n", option, name.c_str(), what);
  }
}

// On Windows the outcome also goes to the Application event log, in the
// engine's words, for those who watch it; natively the tool's own output
// says it all.
void ReportToEventLog([[maybe_unused]] bool written, [[maybe_unused]] const std::string& text) {
#ifdef _WIN32
  const std::unique_ptr<EventReporter> log = MakeDefaultEventReporter();
  if (written) {
    log->ReportInformation(kEventCategoryProcessing, ResultsEventText(text));
  } else {
    log->ReportError(kEventCategoryProcessing, WriteErrorEventText(text));
  }
#endif
}

// The options, with the engine's memory limits where none is given.
AggregationSettings SettingsOf(const Options& options, const TypedEngine& engine) {
  AggregationSettings settings;
  settings.Threads = options.Threads > 0 ? options.Threads
                                         : std::min(ProcessorsOfThisProcess(), ParallelAggregator::kMaxThreads);
  settings.MaxEntries = options.MaxEntries;
  settings.MemoryMinimum = options.MemoryMinimum >= 0 ? options.MemoryMinimum : engine.MemoryMinimum();
  settings.MemoryMaximum = options.MemoryMaximum >= 0 ? options.MemoryMaximum : engine.MemoryMaximum();
  settings.DateAggregation = options.DateAggregation;
  settings.StrictInput = !options.Lenient;
  settings.DebugCounters = options.DebugCounters;
  settings.DropIdentifiers = options.DropIdentifiers;
  settings.DropResources = options.DropResources;
  settings.WorkPath = options.WorkPath;
  return settings;
}

int Run(const Options& options) {
  if (const int refused = CheckBeforeWork(options); refused != kExitOk) return refused;

  // The engine's defaults for the memory limits, and the priority it gives
  // the process for a run (set back to normal when `engine` goes).
  TypedEngine engine;
  engine.Initialize(options.MaxEntries);
  ParallelAggregator aggregator(SettingsOf(options, engine));

  // The aggregates go to a staged file first, which becomes OUTPUT only
  // when the whole run succeeded: a run that fails leaves OUTPUT as it was.
  StagedOutput staged(options.Output, options.WorkPath);
  std::string message;
  if (!staged.Create(options.Append, message)) return Fail(message);

  ProgressLine progress(!options.Quiet && StandardErrorIsTerminal());
  aggregator.SetProgress(
      [&progress](std::int64_t pass, std::int64_t records, bool force) { progress.Show(pass, records, force); });
  aggregator.SetStopRequest([] { return InterruptRequested(); });

  std::vector<AggregationInput> inputs;
  for (const std::string& input : options.Inputs) inputs.push_back({input, IsStandardStream(input)});
  const bool done = aggregator.Run(inputs, staged.Path());
  progress.Clear();
  if (InterruptRequested()) return ReportInterrupted("quaxaggregate", options.Output);
  // A failed run wrote nothing: its counts are not shown.
  if (!done) {
    ReportToEventLog(false, aggregator.LastErrorMessage());
    return Fail(staged.InUserTerms(aggregator.LastErrorMessage()));
  }
  if (!staged.Publish(message)) {
    if (InterruptRequested()) return ReportInterrupted("quaxaggregate", options.Output);
    ReportToEventLog(false, message);
    return Fail(message);
  }
  ReportToEventLog(true, aggregator.ResultsMessage());
  if (!options.Quiet) {
    std::FILE* results = WritesThrough(options.Output) ? stderr : stdout;
    PrintText(results, options.DebugCounters ? aggregator.DebugMessage() : aggregator.ResultsMessage());
  }
  WarnOfUnmatched(aggregator.UnmatchedDropIdentifiers(), "--drop-identifier", "identifier");
  WarnOfUnmatched(aggregator.UnmatchedDropResources(), "--drop-resource", "resource");
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  return ToolMain(
      "quaxaggregate", argc, argv, kHelp, [&options](CommandLine& line) { return ParseArguments(line, options); },
      [&options] { return Run(options); }, options.Output);
}
