#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <new>
#include <sstream>

namespace quax::test {

namespace {

std::atomic<DWORD> g_failingThread{0};
// Set while the capture below allocates on the failing thread.
thread_local bool t_allocationsExempt = false;

class AllocationExemption {
 public:
  AllocationExemption() noexcept : previous_(t_allocationsExempt) { t_allocationsExempt = true; }
  ~AllocationExemption() { t_allocationsExempt = previous_; }
  AllocationExemption(const AllocationExemption&) = delete;
  AllocationExemption& operator=(const AllocationExemption&) = delete;

 private:
  bool previous_;
};

}  // namespace

FailingAllocations::FailingAllocations(DWORD threadId) { g_failingThread = threadId; }

FailingAllocations::~FailingAllocations() { g_failingThread = 0; }

// Whether this allocation must fail (used by the allocator below).
bool AllocationFails() noexcept;
bool AllocationFails() noexcept {
  const DWORD failing = g_failingThread.load(std::memory_order_relaxed);
  return failing != 0 && failing == GetCurrentThreadId() && !t_allocationsExempt;
}

}  // namespace quax::test

// The test programs' allocator: malloc, unless the thread's allocations are
// made to fail.
void* operator new(std::size_t size) {
  if (quax::test::AllocationFails()) throw std::bad_alloc();
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace quax::test {

std::string BinaryDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string directory(path, length);
  return directory.substr(0, directory.find_last_of('\\'));
}

ScratchDirectory::ScratchDirectory(const char* tag) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  static int counter = 0;
  path_ = std::string(temp) + "quax-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(++counter);
  CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchDirectory::~ScratchDirectory() {
  for (const std::string& name : FileNames()) DeleteFileA((path_ + "\\" + name).c_str());
  RemoveDirectoryA(path_.c_str());
}

std::vector<std::string> ScratchDirectory::FileNames() const {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  unique_find_handle search(FindFirstFileA((path_ + "\\*").c_str(), &found));
  if (!search) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
  } while (FindNextFileA(search.get(), &found));
  return names;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
  const std::string content = ReadFile(path);
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (begin < content.size()) {
    const std::size_t end = content.find("\r\n", begin);
    if (end == std::string::npos) {
      lines.push_back(content.substr(begin) + "<torn>");
      break;
    }
    lines.push_back(content.substr(begin, end - begin));
    begin = end + 2;
  }
  return lines;
}

std::vector<std::string> SplitFields(const std::string& line, char delimiter) {
  std::vector<std::string> fields;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = line.find(delimiter, begin);
    fields.push_back(line.substr(begin, end - begin));
    if (end == std::string::npos) return fields;
    begin = end + 1;
  }
}

ChildProcess StartChild(const std::string& commandLine, const std::vector<std::string>& environment,
                        DWORD creationFlags) {
  std::string block;
  for (const std::string& entry : environment) block += entry + '\0';
  block += '\0';
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  std::string mutableLine = commandLine;
  ChildProcess child;
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, creationFlags,
                      environment.empty() ? nullptr : block.data(), nullptr, &startup, &started)) {
    ADD_FAILURE() << "CreateProcess failed (" << GetLastError() << "): " << commandLine;
    return child;
  }
  child.Process.reset(started.hProcess);
  child.Thread.reset(started.hThread);
  child.ProcessId = started.dwProcessId;
  return child;
}

ChildProcess StartChild(const std::wstring& commandLine, const std::vector<std::wstring>& environment,
                        DWORD creationFlags) {
  std::wstring block;
  for (const std::wstring& entry : environment) block += entry + L'\0';
  block += L'\0';
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  std::wstring mutableLine = commandLine;
  ChildProcess child;
  if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, creationFlags | CREATE_UNICODE_ENVIRONMENT,
                      environment.empty() ? nullptr : block.data(), nullptr, &startup, &started)) {
    ADD_FAILURE() << "CreateProcess failed (" << GetLastError() << ")";
    return child;
  }
  child.Process.reset(started.hProcess);
  child.Thread.reset(started.hThread);
  child.ProcessId = started.dwProcessId;
  return child;
}

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

DWORD WaitForExitCode(const ChildProcess& child, DWORD milliseconds) {
  DWORD code = kNoExitCode;
  if (WaitForSingleObject(child.Process.get(), milliseconds) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(child.Process.get(), &code)) {
    return kNoExitCode;
  }
  return code;
}

NamedEvent::NamedEvent(const std::string& name)
    : Name(name),
      Handle(CreateEventA(nullptr, TRUE, FALSE, Name.c_str())) {}

DWORD RunAndCapture(const std::string& commandLine, std::string* output) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  unique_handle readEnd, writeEnd;
  if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) return ~DWORD{0};
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd.get();
  startup.hStdError = writeEnd.get();
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION started = {};
  std::string mutableLine = commandLine;
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &started)) {
    ADD_FAILURE() << "CreateProcess failed (" << GetLastError() << "): " << commandLine;
    return ~DWORD{0};
  }
  unique_handle process(started.hProcess), thread(started.hThread);
  writeEnd.reset();
  output->clear();
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(readEnd.get(), buffer, sizeof buffer, &read, nullptr) && read != 0) output->append(buffer, read);
  std::erase(*output, '\r');
  WaitForSingleObject(process.get(), 60000);
  DWORD exitCode = ~DWORD{0};
  GetExitCodeProcess(process.get(), &exitCode);
  return exitCode;
}

namespace {

std::mutex g_captureMutex;
std::vector<std::string> g_traceLines;
std::vector<CapturedEvent> g_events;
std::vector<std::string> g_consoleLines;
EventWriteResult g_eventAnswer;

void CollectTrace(const char* line) {
  AllocationExemption exempt;
  std::lock_guard lock(g_captureMutex);
  g_traceLines.emplace_back(line);
}

EventWriteResult CollectEvent(const EventReport& report) {
  AllocationExemption exempt;
  CapturedEvent event{report.Source, report.Type, report.Category, report.EventId, {}};
  for (WORD i = 0; i < report.StringCount; ++i) event.Strings.emplace_back(report.Strings[i]);
  std::lock_guard lock(g_captureMutex);
  g_events.push_back(std::move(event));
  return g_eventAnswer;
}

void CollectConsoleLine(const char* line) {
  AllocationExemption exempt;
  std::lock_guard lock(g_captureMutex);
  g_consoleLines.emplace_back(line);
}

}  // namespace

CapturedConsole::CapturedConsole() {
  {
    std::lock_guard lock(g_captureMutex);
    g_consoleLines.clear();
  }
  SetConsoleSink(&CollectConsoleLine);
}

CapturedConsole::~CapturedConsole() { SetConsoleSink(nullptr); }

std::vector<std::string> CapturedConsole::Lines() const {
  std::lock_guard lock(g_captureMutex);
  return g_consoleLines;
}

std::size_t CapturedConsole::Count(const std::string& text) const {
  std::size_t count = 0;
  for (const std::string& candidate : Lines()) count += candidate.find(text) != std::string::npos;
  return count;
}

CapturedTrace::CapturedTrace() {
  {
    std::lock_guard lock(g_captureMutex);
    g_traceLines.clear();
  }
  SetTraceSink(&CollectTrace);
}

CapturedTrace::~CapturedTrace() { SetTraceSink(nullptr); }

std::vector<std::string> CapturedTrace::Lines() const {
  std::lock_guard lock(g_captureMutex);
  return g_traceLines;
}

bool CapturedTrace::Contains(const std::string& line) const {
  for (const std::string& candidate : Lines()) {
    if (candidate == line) return true;
  }
  return false;
}

std::size_t CapturedTrace::Count(const std::string& text) const {
  std::size_t count = 0;
  for (const std::string& candidate : Lines()) count += candidate.find(text) != std::string::npos;
  return count;
}

bool CapturedTrace::WaitFor(const std::string& text, DWORD timeoutMilliseconds, std::size_t count) const {
  const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
  while (Count(text) < count) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
  return true;
}

CapturedEvents::CapturedEvents() {
  {
    std::lock_guard lock(g_captureMutex);
    g_events.clear();
    g_eventAnswer = {};
  }
  SetEventLogSink(&CollectEvent);
}

CapturedEvents::~CapturedEvents() { SetEventLogSink(nullptr); }

std::vector<CapturedEvent> CapturedEvents::Events() const {
  std::lock_guard lock(g_captureMutex);
  return g_events;
}

void CapturedEvents::AnswerWith(EventWriteResult result) {
  std::lock_guard lock(g_captureMutex);
  g_eventAnswer = result;
}

}  // namespace quax::test
