#include "tools/tool_support.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "platform/platform_system.h"
#include "record/agg_error.h"
#include "record/resource_file.h"
#include "tools/input_expansion.h"

namespace quax::agg::tools {

namespace {

// Why a run was asked to end before its end.
enum class StopReason { None, Interrupt, Hangup, Terminate, ConsoleClosed, LogOff, Shutdown };

// Why the run was asked to end (a StopReason); the first request counts.
std::atomic<int> stopReason{static_cast<int>(StopReason::None)};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

// The tool and OUTPUT of the run, for the messages told from shared code.
std::string_view runningTool;
const std::string* runOutput = nullptr;

struct StopReasonTexts {
  StopReason Reason;
  const char* Text;  // what ended the run
  int ExitCode;
};
// A signal's exit code is 128 + its number, as a shell reports it.
constexpr StopReasonTexts kStopReasons[] = {
    {StopReason::Interrupt, "interrupted", kExitInterrupted},
    {StopReason::Hangup, "ended by SIGHUP", 128 + 1},
    {StopReason::Terminate, "ended by SIGTERM", 128 + 15},
    {StopReason::ConsoleClosed, "ended as its console was closed", kExitInterrupted},
    {StopReason::LogOff, "ended as the user logs off", kExitInterrupted},
    {StopReason::Shutdown, "ended as the system shuts down", kExitInterrupted},
};

#ifndef _WIN32
StopReason StopReasonOfSignal(int signal) noexcept {
  switch (signal) {
    case SIGINT:
      return StopReason::Interrupt;
    case SIGHUP:
      return StopReason::Hangup;
    case SIGTERM:
      return StopReason::Terminate;
    default:
      return StopReason::None;
  }
}
#else
StopReason StopReasonOfConsoleEvent(DWORD type) noexcept {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return StopReason::Interrupt;
    case CTRL_CLOSE_EVENT:
      return StopReason::ConsoleClosed;
    case CTRL_LOGOFF_EVENT:
      return StopReason::LogOff;
    case CTRL_SHUTDOWN_EVENT:
      return StopReason::Shutdown;
    default:
      return StopReason::None;
  }
}
#endif

StopReason RequestedStop() noexcept { return static_cast<StopReason>(stopReason.load(std::memory_order_relaxed)); }

// Records the request (the first one counts) and makes waiting reads and
// writes give up. True for the first request. Safe in a signal handler.
bool RequestStop(StopReason reason) noexcept {
  int none = static_cast<int>(StopReason::None);
  const bool first = stopReason.compare_exchange_strong(none, static_cast<int>(reason));
  platform::StopWaitingIo();
  return first;
}

#ifdef _WIN32
// How long the console handler keeps cancelling waits after Ctrl+C, and how
// often: a reading thread may start its wait just after the request.
constexpr int kCancelRounds = 20;
constexpr DWORD kCancelIntervalMilliseconds = 50;
#else
extern "C" void OnStopSignal(int signal) { RequestStop(StopReasonOfSignal(signal)); }
#endif

constexpr std::size_t kCopyChunkBytes = 1 << 16;
// How often a run waiting for OUTPUT's lock tries again.
constexpr std::chrono::milliseconds kLockRetryInterval{100};

std::string FileFailure(const std::string& what, const platform::FileError& error) {
  return what + ": " + error.Text();
}

std::string WithSeparator(std::string folder) {
  if (folder.empty()) return "./";
  if (folder.back() != '/' && folder.back() != '\\') folder += '/';
  return folder;
}

std::size_t LastSeparator(std::string_view path) noexcept {
#ifdef _WIN32
  return path.find_last_of("\\/");
#else
  return path.find_last_of('/');
#endif
}

// The name part of a path.
std::string_view NameOf(std::string_view path) noexcept {
  const std::size_t separator = LastSeparator(path);
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// Removes the files of `folder` that `isLeftover` picks by name.
void RemoveFilesOf(const std::string& folder, const std::function<bool(std::string_view)>& isLeftover) {
  std::error_code unlisted;  // a folder that cannot be listed holds no leftover to remove
  for (std::filesystem::directory_iterator entries(folder, unlisted), end; !unlisted && entries != end;
       entries.increment(unlisted)) {
    const std::string name = entries->path().filename().string();
    if (!isLeftover(name)) continue;
    platform::FileError ignored;  // removed by another run meanwhile
    platform::RemoveFile(WithSeparator(folder) + name, ignored);
  }
}

}  // namespace

#ifdef _WIN32
int __stdcall HandleConsoleEvent(unsigned long type) {
  const StopReason reason = StopReasonOfConsoleEvent(type);
  if (reason == StopReason::None) return FALSE;
  const bool first = RequestStop(reason);
  // A second Ctrl+C is passed on: the default handler ends the process.
  if (reason == StopReason::Interrupt && !first) return FALSE;
  // The system ends the process as soon as this returns after the console's
  // closing, log-off or shutdown: the run cleans up and ends the process
  // first (or the system's time for it runs out).
  for (int round = 0; reason != StopReason::Interrupt || round < kCancelRounds; ++round) {
    platform::CancelWaitingIo();
    Sleep(kCancelIntervalMilliseconds);
  }
  return TRUE;
}
#endif

void CatchStopRequests() {
#ifdef _WIN32
  // A process started in a new process group ignores Ctrl+C until told not to.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(&HandleConsoleEvent, TRUE);
#else
  for (const int signal : {SIGINT, SIGHUP, SIGTERM}) {
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // The same signal again ends the process at once; without SA_RESTART a
    // waiting read or write returns, and gives up.
    action.sa_flags = SA_RESETHAND;
    sigaction(signal, &action, nullptr);
  }
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

bool InterruptRequested() noexcept { return RequestedStop() != StopReason::None; }

bool StandardErrorIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

void PrintText(std::FILE* stream, std::string_view text) {
  std::string out;
  out.reserve(text.size() + 1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  std::fprintf(stream, "%s\n", out.c_str());
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) noexcept {
  const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return std::ranges::equal(a, b, {}, upper, upper);
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code unexamined;  // a name that cannot be examined names another file
  return std::filesystem::equivalent(a, b, unexamined);
}

bool CommandLine::NextOption(std::string_view& option) {
  for (; next_ < argc_; ++next_) {
    const std::string_view arg = argv_[next_];
    if (arg == "--help" || arg == "-h") {
      help_ = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      option = arg;
      ++next_;
      return true;
    } else {
      positional_.emplace_back(arg);
    }
  }
  return false;
}

bool CommandLine::Value(std::string_view& value) {
  if (next_ >= argc_) return Refuse(std::string(argv_[next_ - 1]) + " needs a value");
  value = argv_[next_++];
  return true;
}

bool CommandLine::Unknown(std::string_view option) {
  return Refuse("unknown option " + std::string(option) + " (see --help)");
}

bool CommandLine::Refuse(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", tool_.c_str(), message.c_str());
  return false;
}

bool CommandLine::TakeInputsAndOutput(std::string_view inputWord, std::vector<std::string>& inputs,
                                      std::string& output) {
  const std::string word(inputWord);
  const std::string article = word.find_first_of("aeiou") == 0 ? "an " : "a ";
  if (positional_.size() < 2) return Refuse("name at least one " + word + " and the output file (see --help)");
  output = positional_.back();
  inputs.assign(positional_.begin(), positional_.end() - 1);
  if (auto refused = PrepareCommandLinePaths(inputs, output)) return Refuse(*refused);
  std::size_t standardInputs = 0;
  for (const std::string& input : inputs) {
    standardInputs += IsStandardStream(input) ? 1 : 0;
    // Replacing or appending to a file being read would lose its records or
    // read the results back in.
    if (!IsStandardStream(input) && !IsStandardStream(output) && SameFile(input, output)) {
      return Refuse(output + " is both " + article + word + " and the output");
    }
  }
  if (standardInputs > 1) return Refuse("standard input (-) can be read only once");
  return true;
}

int Fail(std::string_view tool, std::string_view message) {
  if (InterruptRequested() && runOutput != nullptr) return ReportInterrupted(tool, *runOutput);
  std::fprintf(stderr, "%.*s: ", static_cast<int>(tool.size()), tool.data());
  PrintText(stderr, message);
  return kExitFailed;
}

int ToolMain(std::string_view tool, int argc, char** argv, const char* help,
             const std::function<bool(CommandLine&)>& parse, const std::function<int()>& run,
             const std::string& output) {
  CommandLine line(tool, argc, argv);
  if (!parse(line)) return kExitUsage;
  if (line.Help()) {
    std::fputs(help, stdout);
    return kExitOk;
  }
  runningTool = tool;
  runOutput = &output;
  CatchStopRequests();
  try {
    return run();
  } catch (const std::exception& error) {
    return InterruptRequested() ? ReportInterrupted(tool, output) : Fail(tool, error.what());
  }
}

std::optional<std::string> CheckInputs(const std::vector<std::string>& inputs) {
  for (const std::string& input : inputs) {
    if (IsStandardStream(input)) continue;
    LineInput probe;
    std::string message;
    if (!probe.Open(input, message)) return message;
  }
  return std::nullopt;
}

int ReportInterrupted(std::string_view tool, const std::string& output) {
  const StopReason reason = RequestedStop();
  const auto* known = std::ranges::find(kStopReasons, reason, &StopReasonTexts::Reason);
  const StopReasonTexts& told = known != std::ranges::end(kStopReasons) ? *known : kStopReasons[0];
  std::fprintf(stderr, "%.*s: %s; %s is as it was\n", static_cast<int>(tool.size()), tool.data(), told.Text,
               IsStandardStream(output) ? "standard output" : output.c_str());
  return told.ExitCode;
}

bool WritesThrough(const std::string& output) {
  if (IsStandardStream(output)) return true;
#ifndef _WIN32
  if (output.starts_with("/dev/") || output.starts_with("/proc/")) return true;
#endif
  return platform::KindOfPath(output) == platform::PathKind::Other;
}

std::string FolderOf(const std::string& path) {
  const std::size_t separator = LastSeparator(path);
  if (separator == std::string::npos) return ".";
  return path.substr(0, separator == 0 ? 1 : separator);
}

bool IsResourceRecordLine(std::string_view line) {
  FieldList fields;
  ResourceRecordView record;
  try {
    ParseResourceRecordLine(line, 1, "", fields, record, RecordReading::Strict);
    return true;
  } catch (const Error&) {
    return false;
  }
}

std::optional<std::string> CheckOutput(const std::string& output, bool force,
                                       const std::function<bool(std::string_view)>& isOwnKind,
                                       std::string_view kindName) {
  if (WritesThrough(output)) return std::nullopt;
  switch (platform::KindOfPath(output)) {
    case platform::PathKind::Missing: {
      const std::string folder = FolderOf(output);
      if (platform::KindOfPath(folder) == platform::PathKind::Directory) return std::nullopt;
      return "cannot write '" + output + "': its folder '" + folder + "' does not exist";
    }
    case platform::PathKind::Directory:
      return "cannot write '" + output + "': it is a folder";
    case platform::PathKind::Other:  // answered by WritesThrough
    case platform::PathKind::RegularFile:
      break;
  }
  if (platform::FileError error; !platform::CheckWritable(output, error)) {
    return FileFailure("cannot write '" + output + "'", error);
  }
  if (force) return std::nullopt;
  LineInput input;
  std::string message;
  if (!input.Open(output, message)) return message;
  std::string_view firstLine;
  bool ownKind = false;
  try {
    ownKind = !input.Next(firstLine) || isOwnKind(firstLine);
  } catch (const Error&) {  // unreadable or a line without end: not the tool's own
  }
  if (ownKind) return std::nullopt;
  return "'" + output + "' exists and is not " + std::string(kindName) +
         "; it is left as it is (--force replaces it)";
}

std::optional<std::string> CheckFolder(const std::string& folder, std::string_view what) {
  if (platform::KindOfPath(folder) == platform::PathKind::Directory) return std::nullopt;
  return std::string(what) + " '" + folder + "' is not a folder";
}

bool IsStagedName(std::string_view name, std::string_view prefix, std::string_view suffix,
                  std::uint32_t& processId) noexcept {
  if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix)) {
    return false;
  }
  const std::string_view digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  if (digits.size() > 10) return false;
  std::uint64_t id = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    id = id * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (id > 0xFFFFFFFFu) return false;
  processId = static_cast<std::uint32_t>(id);
  return true;
}

StagedOutput::StagedOutput(std::string output, const std::string& stagingFolder)
    : output_(std::move(output)),
      throughStream_(WritesThrough(output_)),
      target_(throughStream_ ? output_ : platform::FollowLinks(output_)),
      stagingFolder_(WithSeparator(stagingFolder.empty() ? platform::TempDirectory() : stagingFolder)) {
  const std::string processId = std::to_string(platform::CurrentProcessId());
  path_ = throughStream_ ? stagingFolder_ + std::string(kStreamStagedPrefix) + processId + std::string(kStagedSuffix)
                         : target_ + "." + processId + std::string(kStagedSuffix);
}

StagedOutput::~StagedOutput() {
  platform::FileError ignored;  // gone already when it was moved over OUTPUT
  platform::RemoveFile(path_, ignored);
}

std::string StagedOutput::InUserTerms(std::string message) const {
  for (std::size_t at = message.find(path_); at != std::string::npos; at = message.find(path_, at)) {
    message.replace(at, path_.size(), output_);
    at += output_.size();
  }
  return message;
}

bool StagedOutput::Lock(std::string& message) {
  const std::string lockPath = target_ + std::string(kLockSuffix);
  for (bool told = false;; std::this_thread::sleep_for(kLockRetryInterval)) {
    platform::FileError error;
    switch (lock_.TryAcquire(lockPath, error)) {
      case platform::FileLock::Result::Acquired:
        return true;
      case platform::FileLock::Result::Failed:
        message = FileFailure("Unable to lock '" + output_ + "' with '" + lockPath + "'", error);
        return false;
      case platform::FileLock::Result::Busy:
        break;
    }
    if (InterruptRequested()) return false;
    if (!told) {
      std::fprintf(stderr, "%.*s: waiting for another run writing '%s' to end\n",
                   static_cast<int>(runningTool.size()), runningTool.data(), output_.c_str());
      told = true;
    }
  }
}

// Beside OUTPUT, under its lock, every staged file of OUTPUT is a leftover:
// the run that made it was killed outright. In the staging folder, which
// runs for any output share, a staged file is one when its process is gone.
void StagedOutput::RemoveLeftovers() const {
  RemoveFilesOf(stagingFolder_, [](std::string_view name) {
    std::uint32_t processId = 0;
    return IsStagedName(name, kStreamStagedPrefix, kStagedSuffix, processId) &&
           processId != platform::CurrentProcessId() && !platform::ProcessIsRunning(processId);
  });
  if (throughStream_) return;
  const std::string ownName = std::string(NameOf(target_)) + ".";
  RemoveFilesOf(FolderOf(target_), [&ownName, this](std::string_view name) {
    std::uint32_t processId = 0;
    return IsStagedName(name, ownName, kStagedSuffix, processId) && name != NameOf(path_);
  });
}

bool StagedOutput::Create(bool append, std::string& message) {
  if (!throughStream_ && !Lock(message)) return false;
  RemoveLeftovers();
  platform::File staged;
  platform::FileError error;
  if (!staged.Open(path_, platform::OpenMode::Write, error)) {
    message = FileFailure(throughStream_ ? "Unable to create the staging file '" + path_ + "'"
                                         : "Unable to write '" + output_ + "'",
                          error);
    return false;
  }
  if (throughStream_ || platform::KindOfPath(target_) != platform::PathKind::RegularFile) return true;
  if (!platform::CopyAccessRules(target_, path_, error)) {
    message = FileFailure("Unable to keep the owner and permissions of '" + output_ + "'", error);
    return false;
  }
  if (!append) return true;
  char lastByte = '\n';
  if (!Copy(target_, staged, message, lastByte)) return false;
  // A last line without its end would be glued to the first new record.
  if (lastByte == '\n') return true;
  const std::string_view lineEnd = lastByte == '\r' ? "\n" : "\r\n";
  if (staged.Write(lineEnd.data(), lineEnd.size(), error)) return true;
  message = FileFailure("Unable to write '" + output_ + "'", error);
  return false;
}

bool StagedOutput::Copy(const std::string& fromPath, platform::File& to, std::string& message,
                        char& lastByte) const {
  platform::File from;
  platform::FileError error;
  const std::string fromName = fromPath == path_ ? "the staging file '" + path_ + "'" : "'" + output_ + "'";
  if (!from.Open(fromPath, platform::OpenMode::Read, error)) {
    message = FileFailure("Unable to read " + fromName, error);
    return false;
  }
  std::vector<char> buffer(kCopyChunkBytes);
  for (;;) {
    if (InterruptRequested()) return false;
    const std::ptrdiff_t n = from.Read(buffer.data(), buffer.size(), error);
    if (n < 0) {
      message = FileFailure("Unable to read " + fromName, error);
      return false;
    }
    if (n == 0) return true;
    if (!to.Write(buffer.data(), static_cast<std::size_t>(n), error)) {
      message = FileFailure("Unable to write '" + output_ + "'", error);
      return false;
    }
    lastByte = buffer[static_cast<std::size_t>(n) - 1];
  }
}

bool StagedOutput::Publish(std::string& message) {
  platform::FileError error;
  if (!throughStream_) {
    if (platform::MoveOver(path_, target_, error)) return true;
    message = FileFailure("Unable to replace '" + output_ + "'", error);
    return false;
  }
  platform::File to;
  const bool opened = IsStandardStream(output_)
                          ? (std::fflush(stdout), to.OpenStandardStream(platform::OpenMode::Write, error))
                          : to.Open(output_, platform::OpenMode::Append, error);
  if (!opened) {
    message = FileFailure("Unable to write '" + output_ + "'", error);
    return false;
  }
  char lastByte = '\n';
  return Copy(path_, to, message, lastByte);
}

bool LineInput::Open(const std::string& name, std::string& message) {
  name_ = name;
  lineNumber_ = 0;
  platform::FileError error;
  const bool opened = IsStandardStream(name) ? file_.OpenStandardStream(platform::OpenMode::Read, error)
                                             : file_.Open(name, platform::OpenMode::Read, error);
  if (!opened) {
    message = FileFailure("Unable to open input file '" + name + "'", error);
    return false;
  }
  reader_.Reset(&LineInput::ReadFrom, this);
  return true;
}

std::ptrdiff_t LineInput::ReadFrom(void* context, char* buffer, std::size_t size) {
  auto* self = static_cast<LineInput*>(context);
  return self->file_.Read(buffer, size, self->readError_);
}

bool LineInput::Next(std::string_view& line) {
  switch (reader_.Next(line)) {
    case LineReader::Result::Line:
      ++lineNumber_;
      return true;
    case LineReader::Result::End:
      return false;
    case LineReader::Result::TooLong:
      throw Error("Line " + std::to_string(lineNumber_ + 1) + " of '" + name_ + "' is longer than " +
                  std::to_string(LineReader::kMaxLineLength) + " bytes");
    case LineReader::Result::ReadFailed:
      break;
  }
  throw Error(FileFailure("Unable to read '" + name_ + "'", readError_));
}

void ProgressLine::Show(std::int64_t pass, std::int64_t records, bool force) {
  if (!shown_) return;
  const Clock::time_point now = Clock::now();
  if (pass != pass_) {
    pass_ = pass;
    passStart_ = now;
  }
  if (drawn_ && !force && now - lastDrawn_ < std::chrono::milliseconds(250)) return;
  const double seconds =
      std::max(std::chrono::duration<double>(now - passStart_).count(), 0.001);
  char text[128];
  const int length = std::snprintf(text, sizeof text, "pass %lld: %lld records read, %.0f records/s",
                                   static_cast<long long>(pass), static_cast<long long>(records),
                                   static_cast<double>(records) / seconds);
  if (length < 0) return;
  const std::size_t shownLength = std::min(static_cast<std::size_t>(length), sizeof text - 1);
  const std::size_t padding = width_ > shownLength ? width_ - shownLength : 0;
  std::fprintf(stderr, "\r%s%*s", text, static_cast<int>(padding), "");
  std::fflush(stderr);
  width_ = std::max(width_, shownLength);
  drawn_ = true;
  lastDrawn_ = now;
}

void ProgressLine::Clear() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace quax::agg::tools
