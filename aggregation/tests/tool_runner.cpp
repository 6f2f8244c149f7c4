#include "tool_runner.h"

#include <algorithm>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>

#include "test_support.h"
#include "unique_handle.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;
#endif

namespace quax::agg::testing {

namespace {

ToolRun Captured(int exitCode, const std::string& outputPath, const std::string& errorsPath) {
  ToolRun run;
  run.ExitCode = exitCode;
  run.Output = ReadText(outputPath);
  run.Errors = ReadText(errorsPath);
  std::erase(run.Output, '\r');
  std::erase(run.Errors, '\r');
  return run;
}

#ifdef _WIN32
// One argument as the C runtime splits a command line: quoted when it holds
// blanks or quotes, the backslashes before a quote doubled.
std::string QuotedArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + '"';
}

int Spawn(const std::string& tool, const std::vector<std::string>& arguments, const std::string& standardInput,
          const std::string& outputPath, const std::string& errorsPath) {
  std::string commandLine = QuotedArgument(test::BinaryDirectory() + "\\" + tool + ".exe");
  for (const std::string& argument : arguments) commandLine += ' ' + QuotedArgument(argument);
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  const auto createFile = [&inherit](const std::string& path) {
    return unique_handle(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  };
  const unique_handle input(CreateFileA(standardInput.empty() ? "NUL" : standardInput.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, &inherit, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  const unique_handle output = createFile(outputPath);
  const unique_handle errors = createFile(errorsPath);
  if (!input || !output || !errors) {
    ADD_FAILURE() << "cannot open the standard streams of " << tool << " in " << outputPath;
    return -1;
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = output.get();
  startup.hStdError = errors.get();
  PROCESS_INFORMATION started = {};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &started)) {
    ADD_FAILURE() << "CreateProcess failed (" << GetLastError() << "): " << commandLine;
    return -1;
  }
  const unique_handle process(started.hProcess), thread(started.hThread);
  DWORD exitCode = test::kNoExitCode;
  WaitForSingleObject(process.get(), INFINITE);
  GetExitCodeProcess(process.get(), &exitCode);
  return static_cast<int>(exitCode);
}
#else
// Starts the tool (or, with a path, that program) with its standard streams
// opened as `actions` says.
int Start(const std::string& tool, const std::vector<std::string>& arguments, posix_spawn_file_actions_t& actions) {
  std::string program = tool.find('/') == std::string::npos ? ToolPath(tool) : tool;
  std::vector<std::string> argumentCopies = arguments;
  std::vector<char*> argv{program.data()};
  for (std::string& argument : argumentCopies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawnError = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawnError != 0) {
    ADD_FAILURE() << "posix_spawn failed (" << spawnError << "): " << program;
    return -1;
  }
  return child;
}

int WaitFor(int child, const std::string& tool) {
  if (child < 0) return -1;
  constexpr auto kLongestRun = std::chrono::minutes(1);
  const auto deadline = std::chrono::steady_clock::now() + kLongestRun;
  int status = 0;
  for (;;) {
    const int ended = waitpid(child, &status, WNOHANG);
    if (ended == child || (ended < 0 && errno != EINTR)) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << tool << " still runs after a minute: killed";
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!WIFEXITED(status)) {
    ADD_FAILURE() << tool << " did not exit normally (wait status " << status << ")";
    return -1;
  }
  return WEXITSTATUS(status);
}

void CaptureOutputs(posix_spawn_file_actions_t& actions, const std::string& outputPath,
                    const std::string& errorsPath) {
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
}
#endif

}  // namespace

#ifndef _WIN32
std::string ToolPath(const std::string& tool) {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / tool).string();
}

std::string ShellQuoted(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

ToolRun RunShell(const std::string& script, const ScratchFolder& folder) {
  const std::string outputPath = folder.File("sh-stdout.txt");
  const std::string errorsPath = folder.File("sh-stderr.txt");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  CaptureOutputs(actions, outputPath, errorsPath);
  return Captured(WaitFor(Start("/bin/sh", {"-c", script}, actions), "sh -c " + script), outputPath, errorsPath);
}
#endif

ToolRun RunTool(const std::string& tool, const std::vector<std::string>& arguments, const ScratchFolder& folder,
                const std::string& standardInput) {
  const std::string outputPath = folder.File(tool + "-stdout.txt");
  const std::string errorsPath = folder.File(tool + "-stderr.txt");
#ifdef _WIN32
  return Captured(Spawn(tool, arguments, standardInput, outputPath, errorsPath), outputPath, errorsPath);
#else
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, standardInput.empty() ? "/dev/null" : standardInput.c_str(),
                                   O_RDONLY, 0);
  CaptureOutputs(actions, outputPath, errorsPath);
  return Captured(WaitFor(Start(tool, arguments, actions), tool), outputPath, errorsPath);
#endif
}

#ifndef _WIN32
RunningTool::RunningTool(const std::string& tool, const std::vector<std::string>& arguments,
                         const ScratchFolder& folder, const std::string& captureName)
    : outputPath_(folder.File((captureName.empty() ? tool : captureName) + "-stdout.txt")),
      errorsPath_(folder.File((captureName.empty() ? tool : captureName) + "-stderr.txt")) {
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed: " << errno;
    return;
  }
  input_ = pipeEnds[1];
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], STDIN_FILENO);
  CaptureOutputs(actions, outputPath_, errorsPath_);
  pid_ = Start(tool, arguments, actions);
  close(pipeEnds[0]);
}

RunningTool::~RunningTool() {
  CloseInput();
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void RunningTool::Write(const std::string& text) {
  ASSERT_EQ(write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

void RunningTool::Interrupt() { kill(pid_, SIGINT); }

void RunningTool::Signal(int signal) { kill(pid_, signal); }

bool RunningTool::Running() {
  siginfo_t info {};
  return pid_ > 0 && waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

void RunningTool::CloseInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

ToolRun RunningTool::Wait() {
  const int exitCode = WaitFor(pid_, "the tool");
  pid_ = -1;
  return Captured(exitCode, outputPath_, errorsPath_);
}

ToolRun RunToolOnTerminal(const std::string& tool, const std::vector<std::string>& arguments,
                          const ScratchFolder& folder) {
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
    ADD_FAILURE() << "no pseudo terminal: " << errno;
    return {};
  }
  const std::string outputPath = folder.File(tool + "-stdout.txt");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, ptsname(terminal), O_WRONLY | O_NOCTTY, 0);
  ToolRun run;
  run.ExitCode = WaitFor(Start(tool, arguments, actions), tool);
  run.Output = ReadText(outputPath);
  // What the terminal received is read after the end: the tools write far
  // less than a terminal buffers.
  fcntl(terminal, F_SETFL, O_NONBLOCK);
  char buffer[4096];
  for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) run.Errors.append(buffer, static_cast<std::size_t>(n));
  close(terminal);
  return run;
}
#endif

}  // namespace quax::agg::testing
