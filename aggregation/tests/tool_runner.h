// Runs the command-line tools (quaxaggregate, quaxlog2rr, quaxbill) from
// beside the test binary, as a user would: arguments, standard input from a
// file, standard output and error captured.
#pragma once

#include <string>
#include <vector>

#include "engine_test_support.h"

namespace quax::agg::testing {

struct ToolRun {
  int ExitCode = -1;
  std::string Output;  // standard output, LF line ends
  std::string Errors;  // standard error, LF line ends
};

// Runs `tool` to its end. Standard input comes from the file `standardInput`
// (none when empty); standard output and error go to files in `folder`
// (files, not pipes: nothing can block on a full pipe, and a file is no
// terminal, so the tools show no progress). The C runtime of Windows writes
// text with CR LF: the captured texts have LF.
ToolRun RunTool(const std::string& tool, const std::vector<std::string>& arguments, const ScratchFolder& folder,
                const std::string& standardInput = "");

#ifndef _WIN32
// A tool started with its standard input on a pipe the test writes to. Its
// standard output and error go to `captureName` (the tool's name when empty)
// + "-stdout.txt" and "-stderr.txt" in `folder`.
class RunningTool {
 public:
  RunningTool(const std::string& tool, const std::vector<std::string>& arguments, const ScratchFolder& folder,
              const std::string& captureName = "");
  ~RunningTool();
  RunningTool(const RunningTool&) = delete;
  RunningTool& operator=(const RunningTool&) = delete;

  void Write(const std::string& text);
  void Interrupt();        // Ctrl+C: SIGINT
  void Signal(int signal);
  void CloseInput();       // the writer ends, as a pipeline's does on Ctrl+C
  bool Running();
  ToolRun Wait();          // at most a minute; a tool still running then is killed and fails the test
  int Pid() const noexcept { return pid_; }

 private:
  int pid_ = -1;
  int input_ = -1;
  std::string outputPath_;
  std::string errorsPath_;
};

// The path of a tool beside the test binary.
std::string ToolPath(const std::string& tool);

// Runs a shell script (sh -c) to its end, its standard output and error
// captured as RunTool does: for pipelines, limits and other users.
ToolRun RunShell(const std::string& script, const ScratchFolder& folder);

// A word quoted for the shell.
std::string ShellQuoted(const std::string& word);

// Runs `tool` to its end with standard error on a terminal (a pseudo
// terminal); Errors holds what the terminal received.
ToolRun RunToolOnTerminal(const std::string& tool, const std::vector<std::string>& arguments,
                          const ScratchFolder& folder);
#endif

}  // namespace quax::agg::testing
