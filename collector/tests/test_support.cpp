#include "test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

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

NamedEvent::NamedEvent(const std::string& name)
    : Name(name),
      Handle(CreateEventA(nullptr, TRUE, FALSE, Name.c_str())) {}

namespace {

std::vector<std::string> g_traceLines;
std::vector<CapturedEvent> g_events;
EventWriteResult g_eventAnswer;

void CollectTrace(const char* line) { g_traceLines.emplace_back(line); }

EventWriteResult CollectEvent(const EventReport& report) {
  CapturedEvent event{report.Source, report.Type, report.Category, report.EventId, {}};
  for (WORD i = 0; i < report.StringCount; ++i) event.Strings.emplace_back(report.Strings[i]);
  g_events.push_back(std::move(event));
  return g_eventAnswer;
}

}  // namespace

CapturedTrace::CapturedTrace() {
  g_traceLines.clear();
  SetTraceSink(&CollectTrace);
}

CapturedTrace::~CapturedTrace() { SetTraceSink(nullptr); }

const std::vector<std::string>& CapturedTrace::Lines() const { return g_traceLines; }

bool CapturedTrace::Contains(const std::string& line) const {
  for (const std::string& candidate : g_traceLines) {
    if (candidate == line) return true;
  }
  return false;
}

CapturedEvents::CapturedEvents() {
  g_events.clear();
  g_eventAnswer = {};
  SetEventLogSink(&CollectEvent);
}

CapturedEvents::~CapturedEvents() { SetEventLogSink(nullptr); }

const std::vector<CapturedEvent>& CapturedEvents::Events() const { return g_events; }

void CapturedEvents::AnswerWith(EventWriteResult result) { g_eventAnswer = result; }

}  // namespace quax::test
