// quaxaggregate: sums a resource record file by key with the aggregation
// engine and appends the aggregates to an output file. Exit codes follow the
// engine's return codes: 0 done, 8 the command line was not understood
// (nothing was done), 16 the aggregation failed.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "engine/file_aggregator.h"
#include "platform/platform_files.h"
#include "platform/platform_system.h"

namespace {

using quax::agg::CFileAggregator;

constexpr int kExitOk = quax::agg::EQUAX_RETURN_CODE_OK;
constexpr int kExitUsage = quax::agg::EQUAX_RETURN_CODE_WARNING;
constexpr int kExitFailed = quax::agg::EQUAX_RETURN_CODE_ERROR;
constexpr std::int64_t kProgressInterval = 1000000;

constexpr const char* kHelp =
    "Usage: quaxaggregate [options] INPUT OUTPUT\n"
    "\n"
    "Sums the resource records of INPUT whose header, identifier values and\n"
    "dates are equal, and writes one record per aggregate to OUTPUT (which is\n"
    "replaced unless --append is given). Entries that do not fit into memory\n"
    "go to work files and are summed in further passes. OUTPUT changes only\n"
    "when the whole run succeeds.\n"
    "\n"
    "Options:\n"
    "  --drop-identifier NAME  leave out the identifier NAME (any case); repeatable\n"
    "  --drop-resource CODE    leave out the resource with rate code CODE; repeatable\n"
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
    "  --debug-counters        also print the internal statistics of the run\n"
    "  --help                  show this text\n"
    "\n"
    "Exit codes: 0 done, 8 command line not understood, 16 aggregation failed.\n";

struct Options {
  std::string Input;
  std::string Output;
  std::vector<std::string> DropIdentifiers;
  std::vector<std::string> DropResources;
  std::int32_t MaxEntries = 0;
  std::int32_t MemoryMinimum = -1;  // -1: engine default
  std::int32_t MemoryMaximum = -1;
  std::string WorkPath;
  std::int32_t DateAggregation = quax::agg::EDateAggregation_Both;
  bool Append = false;
  bool DebugCounters = false;
  bool Help = false;
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

constexpr char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The aggregator matches the names to drop in any case and refuses one it
// already holds; naming one again on the command line changes nothing.
void AddNameOnce(std::vector<std::string>& names, std::string_view name) {
  const auto sameName = [name](const std::string& known) {
    return std::ranges::equal(known, name, {}, AsciiUpper, AsciiUpper);
  };
  if (std::ranges::none_of(names, sameName)) names.emplace_back(name);
}

// False with a message on standard error when the line is not understood.
bool ParseArguments(int argc, char** argv, Options& options) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto value = [&](std::string_view& out) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "quaxaggregate: %s needs a value\n", argv[i]);
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string_view text;
    if (arg == "--help" || arg == "-h") {
      options.Help = true;
    } else if (arg == "--append") {
      options.Append = true;
    } else if (arg == "--debug-counters") {
      options.DebugCounters = true;
    } else if (arg == "--drop-identifier") {
      if (!value(text)) return false;
      AddNameOnce(options.DropIdentifiers, text);
    } else if (arg == "--drop-resource") {
      if (!value(text)) return false;
      AddNameOnce(options.DropResources, text);
    } else if (arg == "--work-path") {
      if (!value(text)) return false;
      options.WorkPath = text;
    } else if (arg == "--max-entries" || arg == "--memory-min" || arg == "--memory-max") {
      if (!value(text)) return false;
      std::int32_t& target = arg == "--max-entries"  ? options.MaxEntries
                             : arg == "--memory-min" ? options.MemoryMinimum
                                                     : options.MemoryMaximum;
      if (!ParseCount(text, target)) {
        std::fprintf(stderr, "quaxaggregate: %s wants a whole number, not '%.*s'\n", argv[i - 1],
                     static_cast<int>(text.size()), text.data());
        return false;
      }
    } else if (arg == "--date-aggregation") {
      if (!value(text)) return false;
      if (!ParseDateAggregation(text, options.DateAggregation)) {
        std::fprintf(stderr, "quaxaggregate: --date-aggregation wants none, start, end or both\n");
        return false;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "quaxaggregate: unknown option %s (see --help)\n", argv[i]);
      return false;
    } else {
      positional.emplace_back(arg);
    }
  }
  if (options.Help) return true;
  if (positional.size() != 2) {
    std::fprintf(stderr, "quaxaggregate: name one input and one output file (see --help)\n");
    return false;
  }
  options.Input = positional[0];
  options.Output = positional[1];
  return true;
}

// The engine's texts use CR LF; a terminal line ends in the platform's way.
void PrintText(std::FILE* stream, const std::string& text) {
  std::string out;
  out.reserve(text.size() + 1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  std::fprintf(stream, "%s\n", out.c_str());
}

bool StandardErrorIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

#ifndef _WIN32
// Natively the tool prints the run's results itself; the engine's report to
// standard error would only repeat them.
class SilentReporter final : public quax::agg::EventReporter {
 public:
  void ReportInformation(std::int32_t, const std::string&) override {}
  void ReportError(std::int32_t, const std::string&) override {}
};
#endif

// The file the aggregates are written to before they reach the output. It
// is removed however the run ends.
class StagedOutput {
 public:
  explicit StagedOutput(std::string output)
      : output_(std::move(output)),
        path_(output_ + "." + std::to_string(quax::agg::platform::CurrentProcessId()) + ".partial") {}
  ~StagedOutput() {
    quax::agg::platform::FileError ignored;  // gone already when it was moved
    quax::agg::platform::RemoveFile(path_, ignored);
  }
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  const std::string& Path() const noexcept { return path_; }

  // An empty file: a run without records still has an output.
  bool Create() {
    quax::agg::platform::File file;
    quax::agg::platform::FileError error;
    if (file.Open(path_, quax::agg::platform::OpenMode::Write, error)) return true;
    return Failed("Unable to open file '" + path_ + "'", error);
  }

  // Replaces the output with the staged file, or appends the staged file to it.
  bool Publish(bool append) {
    quax::agg::platform::FileError error;
    if (!append) {
      return quax::agg::platform::MoveOver(path_, output_, error) ||
             Failed("Unable to replace '" + output_ + "'", error);
    }
    quax::agg::platform::File from;
    quax::agg::platform::File to;
    if (!from.Open(path_, quax::agg::platform::OpenMode::Read, error)) {
      return Failed("Unable to open file '" + path_ + "'", error);
    }
    if (!to.Open(output_, quax::agg::platform::OpenMode::Append, error)) {
      return Failed("Unable to open file '" + output_ + "'", error);
    }
    std::vector<char> buffer(1 << 16);
    for (;;) {
      const std::ptrdiff_t n = from.Read(buffer.data(), buffer.size(), error);
      if (n < 0) return Failed("Unable to read '" + path_ + "'", error);
      if (n == 0) return true;
      if (!to.Write(buffer.data(), static_cast<std::size_t>(n), error)) {
        return Failed("Unable to append to '" + output_ + "'", error);
      }
    }
  }

 private:
  static bool Failed(const std::string& what, const quax::agg::platform::FileError& error) {
    std::fprintf(stderr, "quaxaggregate: %s: Error #%d: %s\n", what.c_str(), static_cast<int>(error.Number),
                 error.Description.c_str());
    return false;
  }

  std::string output_;
  std::string path_;
};

int Run(const Options& options) {
  CFileAggregator aggregator;
  quax::agg::TypedEngine& engine = aggregator.Engine();
#ifndef _WIN32
  engine.SetEventReporter(std::make_unique<SilentReporter>());
#endif
  if (!options.WorkPath.empty()) engine.SetWorkFilePath(options.WorkPath);
  aggregator.Initialize(options.MaxEntries);
  for (const std::string& name : options.DropIdentifiers) aggregator.AddIdentifierToRemove(name);
  for (const std::string& code : options.DropResources) aggregator.AddResourceToRemove(code);
  if (options.MemoryMinimum >= 0) engine.SetMemoryMinimum(options.MemoryMinimum);
  if (options.MemoryMaximum >= 0) engine.SetMemoryMaximum(options.MemoryMaximum);
  engine.SetDateAggregation(options.DateAggregation);
  engine.SetEnableDebugCounters(options.DebugCounters);
  engine.SetOutputFileName(options.Output);
  aggregator.SetInputFileName(options.Input);

  // The aggregates go to a file beside the output first, which replaces the
  // output (or is appended to it) only when the whole run succeeded: a run
  // that fails leaves the output as it was.
  StagedOutput staged(options.Output);
  if (!staged.Create()) return kExitFailed;
  engine.SetOutputFileName(staged.Path());
  const bool showProgress = StandardErrorIsTerminal();
  if (showProgress) {
    aggregator.SetProgress(
        [](std::int64_t records) {
          std::fprintf(stderr, "\r%lld records read", static_cast<long long>(records));
          std::fflush(stderr);
        },
        kProgressInterval);
  }
  const bool succeeded = aggregator.AggregateFile();
  if (showProgress) std::fprintf(stderr, "\r");
  if (!succeeded) {
    std::fprintf(stderr, "quaxaggregate: ");
    PrintText(stderr, aggregator.LastErrorMessage());
  }
  PrintText(stdout, options.DebugCounters ? engine.DebugMessage() : engine.ResultsMessage());
  if (!succeeded) return kExitFailed;
  return staged.Publish(options.Append) ? kExitOk : kExitFailed;
}

// Replacing or appending to the file being read would lose its records or
// read the aggregates back in. A name that cannot be examined (an output
// not yet there) names another file.
bool SameFile(const std::string& input, const std::string& output) {
  std::error_code unexamined;
  return std::filesystem::equivalent(input, output, unexamined);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, options)) return kExitUsage;
  if (options.Help) {
    std::fputs(kHelp, stdout);
    return kExitOk;
  }
  if (SameFile(options.Input, options.Output)) {
    std::fprintf(stderr, "quaxaggregate: %s is both the input and the output\n", options.Output.c_str());
    return kExitUsage;
  }
  try {
    return Run(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quaxaggregate: %s\n", error.what());
    return kExitFailed;
  }
}
