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
// A tool started with its standard input on a pipe the test writes to.
class RunningTool {
 public:
  RunningTool(const std::string& tool, const std::vector<std::string>& arguments, const ScratchFolder& folder);
  ~RunningTool();
  RunningTool(const RunningTool&) = delete;
  RunningTool& operator=(const RunningTool&) = delete;

  void Write(const std::string& text);
  void Interrupt();        // Ctrl+C: SIGINT
  void CloseInput();       // the writer ends, as a pipeline's does on Ctrl+C
  ToolRun Wait();

 private:
  int pid_ = -1;
  int input_ = -1;
  std::string outputPath_;
  std::string errorsPath_;
};

// Runs `tool` to its end with standard error on a terminal (a pseudo
// terminal); Errors holds what the terminal received.
ToolRun RunToolOnTerminal(const std::string& tool, const std::vector<std::string>& arguments,
                          const ScratchFolder& folder);
#endif

}  // namespace quax::agg::testing
