#include "tools/tool_support.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <csignal>
#include <unistd.h>
#endif

#include "platform/platform_system.h"
#include "record/agg_error.h"
#include "record/resource_file.h"
#include "tools/input_expansion.h"

namespace quax::agg::tools {

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  // The first request is the run's to handle; the default handler ends the
  // process on the next.
  return interrupted.exchange(true) ? FALSE : TRUE;
}
#else
extern "C" void OnInterrupt(int) { interrupted.store(true); }
#endif

constexpr std::size_t kCopyChunkBytes = 1 << 16;

std::string FileFailure(const std::string& what, const platform::FileError& error) {
  return what + ": " + error.Text();
}

}  // namespace

void CatchInterrupts() {
#ifdef _WIN32
  // A process started in a new process group ignores Ctrl+C until told not to.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;  // the second Ctrl+C ends the process at once
  sigaction(SIGINT, &action, nullptr);
#endif
}

bool InterruptRequested() noexcept { return interrupted.load(std::memory_order_relaxed); }

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
  CatchInterrupts();
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
  std::fprintf(stderr, "%.*s: interrupted; %s is as it was\n", static_cast<int>(tool.size()), tool.data(),
               IsStandardStream(output) ? "standard output" : output.c_str());
  return kExitInterrupted;
}

bool WritesThrough(const std::string& output) {
  if (IsStandardStream(output)) return true;
#ifndef _WIN32
  if (output.starts_with("/dev/") || output.starts_with("/proc/")) return true;
#endif
  return platform::KindOfPath(output) == platform::PathKind::Other;
}

std::string FolderOf(const std::string& path) {
#ifdef _WIN32
  const std::size_t separator = path.find_last_of("\\/");
#else
  const std::size_t separator = path.find_last_of('/');
#endif
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

StagedOutput::StagedOutput(std::string output, const std::string& stagingFolder)
    : output_(std::move(output)),
      throughStream_(WritesThrough(output_)) {
  const std::string unique = std::to_string(platform::CurrentProcessId()) + ".partial";
  if (throughStream_) {
    std::string folder = stagingFolder.empty() ? platform::TempDirectory() : stagingFolder;
    if (folder.back() != '/' && folder.back() != '\\') folder += '/';
    path_ = folder + "quax-output-" + unique;
  } else {
    path_ = output_ + "." + unique;
  }
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

bool StagedOutput::Create(bool append, std::string& message) {
  platform::File staged;
  platform::FileError error;
  if (!staged.Open(path_, platform::OpenMode::Write, error)) {
    message = FileFailure(throughStream_ ? "Unable to create the staging file '" + path_ + "'"
                                         : "Unable to write '" + output_ + "'",
                          error);
    return false;
  }
  if (!append || throughStream_ || platform::KindOfPath(output_) != platform::PathKind::RegularFile) {
    return true;
  }
  return Copy(output_, staged, message);
}

bool StagedOutput::Copy(const std::string& fromPath, platform::File& to, std::string& message) const {
  platform::File from;
  platform::FileError error;
  const std::string fromName = fromPath == path_ ? "the staging file '" + path_ + "'" : "'" + fromPath + "'";
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
  }
}

bool StagedOutput::Publish(std::string& message) {
  platform::FileError error;
  if (!throughStream_) {
    if (platform::MoveOver(path_, output_, error)) return true;
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
  return Copy(path_, to, message);
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
