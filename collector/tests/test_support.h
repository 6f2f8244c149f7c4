// Helpers shared by the collector's Windows tests: scratch directories,
// reading log files, child processes, and capturing the trace and the
// event log through their sinks.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "diagnostics.h"
#include "unique_handle.h"

namespace quax::test {

// Directory of the running test binary (where the helper programs are).
std::string BinaryDirectory();

// A fresh directory under %TEMP%, removed with its files when destroyed.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const char* tag);
  ~ScratchDirectory();
  const std::string& Path() const { return path_; }
  std::vector<std::string> FileNames() const;

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
// Lines of a file written with CR LF; a final line without its line end is
// returned with a "<torn>" suffix so that tests see it.
std::vector<std::string> ReadLines(const std::string& path);
std::vector<std::string> SplitFields(const std::string& line, char delimiter);

struct ChildProcess {
  unique_handle Process;
  unique_handle Thread;
  DWORD ProcessId = 0;
};

// Starts a program; environment is a list of "NAME=value" entries (empty
// means inherit). Fails the test on error.
ChildProcess StartChild(const std::string& commandLine, const std::vector<std::string>& environment = {},
                        DWORD creationFlags = 0);

// The same for texts beyond the ANSI code page: a UTF-16 command line and
// environment.
ChildProcess StartChild(const std::wstring& commandLine, const std::vector<std::wstring>& environment,
                        DWORD creationFlags = 0);

// An ASCII text as UTF-16.
std::wstring Wide(const std::string& ascii);

// Waits for a child to end and returns its exit code; kNoExitCode when it
// did not end in time.
inline constexpr DWORD kNoExitCode = 0xFFFFFFFF;
DWORD WaitForExitCode(const ChildProcess& child, DWORD milliseconds);

// A named manual-reset event, for handshakes with children.
struct NamedEvent {
  explicit NamedEvent(const std::string& name);
  std::string Name;
  unique_handle Handle;
};

// Runs a program to its end and returns its exit code, with its standard
// output in *output (CR LF line ends, as the C runtime writes text, become LF).
DWORD RunAndCapture(const std::string& commandLine, std::string* output);

// Collects trace lines (from any thread) while alive; the trace is off
// again afterwards.
class CapturedTrace {
 public:
  CapturedTrace();
  ~CapturedTrace();
  std::vector<std::string> Lines() const;
  bool Contains(const std::string& line) const;
  // Lines that contain the text.
  std::size_t Count(const std::string& text) const;
  // Waits until `count` lines contain the text; false after the time-out.
  bool WaitFor(const std::string& text, DWORD timeoutMilliseconds, std::size_t count = 1) const;
};

// Collects the lines meant for the operator's console (-debug) while alive;
// standard error is used again afterwards.
class CapturedConsole {
 public:
  CapturedConsole();
  ~CapturedConsole();
  std::vector<std::string> Lines() const;
  // Lines that contain the text.
  std::size_t Count(const std::string& text) const;
};

// While alive, every allocation through operator new on one thread fails
// (std::bad_alloc; the nothrow forms give null), as when memory runs out
// there. The trace and event capture above go on working on that thread.
class FailingAllocations {
 public:
  explicit FailingAllocations(DWORD threadId);
  ~FailingAllocations();
  FailingAllocations(const FailingAllocations&) = delete;
  FailingAllocations& operator=(const FailingAllocations&) = delete;
};

struct CapturedEvent {
  std::string Source;
  WORD Type;
  WORD Category;
  DWORD EventId;
  std::vector<std::string> Strings;
};

// Collects event log reports (from any thread) while alive; the real event
// log is used again afterwards.
class CapturedEvents {
 public:
  CapturedEvents();
  ~CapturedEvents();
  std::vector<CapturedEvent> Events() const;
  // Every further report is still collected but answered with this result.
  void AnswerWith(EventWriteResult result);
};

}  // namespace quax::test
