// What the command-line tools (quaxaggregate, quaxlog2rr, quaxbill) share:
// exit codes, "-" for the standard streams, the handling of every request to
// end a run (Ctrl+C, signals, console events), the checks of an output
// before any work, the staged output that reaches OUTPUT only when a run
// succeeded, line input from a file or standard input, and the progress
// line.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform_files.h"
#include "record/line_reader.h"

namespace quax::agg::tools {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 8;         // the command line was not understood
inline constexpr int kExitFailed = 16;       // the run failed; OUTPUT is as it was
inline constexpr int kExitInterrupted = 130;  // Ctrl+C; OUTPUT is as it was
// A run ended by a signal exits with 128 + the signal's number (129 SIGHUP,
// 130 SIGINT, 143 SIGTERM); by a console event on Windows, with 130.

// "-" names standard input as an input and standard output as OUTPUT.
inline constexpr std::string_view kStandardStream = "-";
inline bool IsStandardStream(std::string_view name) noexcept { return name == kStandardStream; }

// From now on a request to end the run (Ctrl+C, Ctrl+Break, SIGHUP, SIGTERM,
// the console's closing, log-off, shutdown) is recorded for the run to poll,
// and file reads and writes fail from then on (one waiting on a pipe or a
// terminal gives up), so that the run ends through its own clean-up. A
// second Ctrl+C (or the same signal again) ends the process at once. A closed output pipe (SIGPIPE) and a file-size limit
// (SIGXFSZ) become write errors that fail the run. Signals the process was
// started immune to (nohup, a background job) stay ignored.
void CatchStopRequests();
bool InterruptRequested() noexcept;

#ifdef _WIN32
// The console control handler: Ctrl+C and Ctrl+Break are answered at once;
// on the console's closing, log-off and shutdown it holds the process (which
// the system ends once it answers) until the run has cleaned up and ended
// the process itself. Open to tests, since Windows lets no program send
// those events.
int __stdcall HandleConsoleEvent(unsigned long type);
#endif

bool StandardErrorIsTerminal();

// Prints a text whose lines end in CR LF (the engine's texts) with one line
// end after it, every line ending in the platform's way.
void PrintText(std::FILE* stream, std::string_view text);

// ASCII case-insensitive equality (names of identifiers and rate codes).
bool SameNameIgnoringCase(std::string_view a, std::string_view b) noexcept;

// Whether `a` and `b` name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

// Walks a tool's command line: its options, "--help" (or "-h"), and the
// positional arguments INPUT... OUTPUT. What is not understood is told on
// standard error after the tool's name.
class CommandLine {
 public:
  CommandLine(std::string_view tool, int argc, char** argv) : tool_(tool), argc_(argc), argv_(argv) {}

  // The next option; false at the end. Positional arguments are collected
  // on the way, "--help" is noted.
  bool NextOption(std::string_view& option);
  // The value of the option just read; false (told) when there is none.
  bool Value(std::string_view& value);
  // Tells that the option is not known; false.
  bool Unknown(std::string_view option);
  // Tells the message; false.
  bool Refuse(const std::string& message);
  bool Help() const noexcept { return help_; }
  // At least one input, standard input at most once, no input that is
  // OUTPUT; `inputWord` names an input in the messages ("input", "log").
  bool TakeInputsAndOutput(std::string_view inputWord, std::vector<std::string>& inputs, std::string& output);

 private:
  std::string tool_;
  int argc_;
  char** argv_;
  int next_ = 1;
  bool help_ = false;
  std::vector<std::string> positional_;
};

// The main function of a tool: `parse` reads the command line (exit 8 when
// it is not understood), --help prints `help`; otherwise requests to end the
// run are caught and `run` runs. An error that escapes it ends the run with
// its message and exit 16, or as ReportInterrupted says after a request to
// end it. `output` is the OUTPUT `parse` found.
int ToolMain(std::string_view tool, int argc, char** argv, const char* help,
             const std::function<bool(CommandLine&)>& parse, const std::function<int()>& run,
             const std::string& output);

// Tells a failure on standard error after the tool's name; exit 16. A
// failure after a request to end the run is its consequence: ReportInterrupted
// tells the request instead.
int Fail(std::string_view tool, std::string_view message);

// Opens every input file (not standard input) once, before any work:
// the message of the first that cannot be opened.
std::optional<std::string> CheckInputs(const std::vector<std::string>& inputs);

// Tells what ended the run ("interrupted" for Ctrl+C, "ended by SIGTERM"...)
// and that OUTPUT is as it was; the exit code of that request.
int ReportInterrupted(std::string_view tool, const std::string& output);

// True when OUTPUT is written through rather than replaced: standard
// output, a device or a pipe, or (POSIX) a path under /dev or /proc, which
// may name standard output even when that is a regular file.
bool WritesThrough(const std::string& output);

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string& path);

// Checks, before any work, that a run may write `output`: its folder exists;
// it is not a folder; an existing regular file may be written by this user
// (its folder's write right is not enough) and, when it is not empty, holds
// the kind of data the tool writes (`isOwnKind` is asked about its first
// line) unless `force` is set. What is written through is not examined.
// Answers the message that refuses, or nothing.
std::optional<std::string> CheckOutput(const std::string& output, bool force,
                                       const std::function<bool(std::string_view)>& isOwnKind,
                                       std::string_view kindName);

// Checks that a folder given on the command line is one.
std::optional<std::string> CheckFolder(const std::string& folder, std::string_view what);

// True when the line is a resource record that strict reading accepts.
bool IsResourceRecordLine(std::string_view line);

// Names of the staged files: OUTPUT + "." + process id + ".partial" beside
// OUTPUT, "quax-output-" + process id + ".partial" in the staging folder.
inline constexpr std::string_view kStagedSuffix = ".partial";
inline constexpr std::string_view kStreamStagedPrefix = "quax-output-";
// The lock file beside OUTPUT: OUTPUT + ".quaxlock".
inline constexpr std::string_view kLockSuffix = ".quaxlock";

// Whether `name` is `prefix`, a process id and `suffix`; the id in `processId`.
bool IsStagedName(std::string_view name, std::string_view prefix, std::string_view suffix,
                  std::uint32_t& processId) noexcept;

// The file a run writes into before its output: beside OUTPUT (the file a
// symbolic link OUTPUT points to), so that it replaces OUTPUT in one step
// with OUTPUT's owner and permissions, or, for standard output and devices,
// in `stagingFolder`, to be copied out at the end. It is removed however the
// run ends. While it lives, the run holds OUTPUT's lock file: runs that write
// one OUTPUT take turns, and the staged files left beside OUTPUT by a run
// that was killed outright are removed.
class StagedOutput {
 public:
  StagedOutput(std::string output, const std::string& stagingFolder);
  ~StagedOutput();
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  const std::string& Path() const noexcept { return path_; }
  const std::string& Output() const noexcept { return output_; }

  // Takes OUTPUT's lock (waiting, with a notice, while another run holds
  // it), removes the leftovers of killed runs, and creates the staged file:
  // empty, or with OUTPUT's lines and a line end after the last when
  // appending to an existing file. False with an empty message when the run
  // was asked to end while waiting; otherwise the message names OUTPUT.
  bool Create(bool append, std::string& message);
  // Moves the staged file over OUTPUT, or copies it into standard output or
  // the device; a copy stops when the run is asked to end.
  bool Publish(std::string& message);
  // A message with the staged file's name replaced by OUTPUT's.
  std::string InUserTerms(std::string message) const;

 private:
  bool Lock(std::string& message);
  void RemoveLeftovers() const;
  // Copies a file (OUTPUT or the staged file) to the end of `to`; stops
  // when the run is asked to end. `lastByte` is the last byte copied
  // ('\n' when none was).
  bool Copy(const std::string& fromPath, platform::File& to, std::string& message, char& lastByte) const;

  std::string output_;
  bool throughStream_;  // OUTPUT is standard output or a device
  std::string target_;  // the file OUTPUT names, links followed
  std::string stagingFolder_;
  std::string path_;
  platform::FileLock lock_;
};

// Lines of one input, a file or ("-") standard input, without their line ends.
class LineInput {
 public:
  bool Open(const std::string& name, std::string& message);
  // The next line; false at the end. A read failure or a line longer than
  // the reader takes throws Error naming the input and the line.
  bool Next(std::string_view& line);
  // Whether the line Next gave last ended with its line end.
  bool LastLineEnded() const noexcept { return reader_.LastLineEnded(); }
  const std::string& Name() const noexcept { return name_; }
  std::int64_t LineNumber() const noexcept { return lineNumber_; }

 private:
  static std::ptrdiff_t ReadFrom(void* context, char* buffer, std::size_t size);

  std::string name_;
  platform::File file_;
  platform::FileError readError_;
  LineReader reader_;
  std::int64_t lineNumber_ = 0;
};

// The progress line on standard error: "pass P: N records read, R records/s",
// redrawn at most a few times a second, cleared at the end.
class ProgressLine {
 public:
  explicit ProgressLine(bool shown) : shown_(shown) {}
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // `force` draws even when the last drawing was a moment ago.
  void Show(std::int64_t pass, std::int64_t records, bool force = false);
  void Clear();

 private:
  using Clock = std::chrono::steady_clock;
  bool shown_;
  bool drawn_ = false;
  std::int64_t pass_ = 0;
  Clock::time_point passStart_;
  Clock::time_point lastDrawn_;
  std::size_t width_ = 0;
};

}  // namespace quax::agg::tools
