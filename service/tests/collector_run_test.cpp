// Whole collection runs in the test's own process: RunCollector on a thread,
// settings through the registry of the private Wine prefix, real child
// processes, and the log files it writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics.h"
#include "event_loop.h"
#include "process_control.h"
#include "test_support.h"

namespace quax {
namespace {

using test::CapturedEvents;
using test::CapturedTrace;
using test::ChildProcess;
using test::ScratchDirectory;

struct Record {
  std::vector<std::string> Fields;
  char Type() const { return Fields[0][0]; }
  const std::string& ProcessId() const { return Fields[1]; }
};

std::string ChildProgram() { return "\"" + test::BinaryDirectory() + "\\quax_test_child.exe\""; }

// The collector settings key, written for one test and removed after it.
class Settings {
 public:
  Settings() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey); }
  ~Settings() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kAdminKey);
  }
  static void Set(const char* keyName, const char* name, const std::string& value) {
    unique_hkey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  }
  void operator()(const char* name, const std::string& value) { Set(kSettingsKey, name, value); }
};

class CollectorRun : public ::testing::Test {
 protected:
  void SetUp() override {
    Service().ConsoleMode = true;
    settings("LogFilePath", logs.Path());
    settings("SamplingInterval", "1");
  }

  // The settings of SetUp and nothing else.
  void ResetSettings() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
    SetUp();
  }

  void TearDown() override {
    if (runner.joinable()) Stop();
  }

  void Start() {
    finished = false;
    runThread = 0;
    runner = std::thread([this] {
      runThread = GetCurrentThreadId();
      if (beforeRun) beforeRun();
      RunCollector(0, nullptr, &exitCode);
      finished = true;
    });
  }

  void StartAndWait() {
    const std::size_t started = trace.Count("has been started.");
    Start();
    ASSERT_TRUE(trace.WaitFor("has been started.", 30000, started + 1));
  }

  // The thread may not have begun the run yet, and a stop asked for after
  // the previous run has ended goes to no run: ask until this run has ended.
  void Stop() {
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (!finished && GetTickCount64() < deadline) {
      RequestStop();
      Sleep(50);
    }
    ASSERT_TRUE(finished) << "the run did not stop";
    runner.join();
  }

  // For a run that ends by itself: false when it has not ended in time.
  bool RunToItsEnd(DWORD timeoutMilliseconds = 10000) {
    Start();
    const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
    while (!finished && GetTickCount64() < deadline) Sleep(20);
    if (!finished) return false;
    runner.join();
    return true;
  }

  // The collector's events ("QUAX") from the index on, as "TYPE text".
  std::vector<std::string> CollectorEvents(std::size_t from = 0) const {
    std::vector<std::string> texts;
    const std::vector<test::CapturedEvent> all = events.Events();
    for (std::size_t i = from; i < all.size(); ++i) {
      if (all[i].Source != "QUAX") continue;
      const char* type = all[i].Type == EVENTLOG_ERROR_TYPE         ? "ERROR "
                         : all[i].Type == EVENTLOG_INFORMATION_TYPE ? "INFORMATION "
                                                                    : "WARNING ";
      texts.push_back(type + all[i].Strings[0]);
    }
    return texts;
  }

  std::vector<Record> Records(char delimiter = '\t') const {
    std::vector<Record> records;
    for (const std::string& name : logs.FileNames()) {
      const std::vector<std::string> lines = test::ReadLines(logs.Path() + "\\" + name);
      for (std::size_t i = 1; i < lines.size(); ++i) records.push_back({test::SplitFields(lines[i], delimiter)});
    }
    return records;
  }

  std::string TypesOf(DWORD processId) const {
    std::string types;
    for (const Record& record : Records()) {
      if (record.ProcessId() == std::to_string(processId)) types += record.Type();
    }
    return types;
  }

  // Waits until the process has the record types given (in order).
  bool WaitForTypes(DWORD processId, const std::string& types, DWORD timeoutMilliseconds) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
    while (TypesOf(processId) != types) {
      if (GetTickCount64() >= deadline) return false;
      Sleep(50);
    }
    return true;
  }

  ScratchDirectory logs{"run"};
  Settings settings;
  CapturedTrace trace;
  CapturedEvents events;
  test::CapturedConsole console;
  std::thread runner;
  std::atomic<bool> finished{false};
  std::atomic<DWORD> runThread{0};
  // Runs on the run's thread just before the run.
  std::function<void()> beforeRun;
  DWORD exitCode = 99;
};

// A child that waits for its "go" event to exit with a code.
class HeldChild {
 public:
  HeldChild(int exitCode, std::vector<std::string> environment = {}, const std::string& program = ChildProgram())
      : base_("quax-run-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count_)),
        ready_(base_ + ".ready"),
        go_(base_ + ".go") {
    char systemRoot[MAX_PATH];
    GetEnvironmentVariableA("SystemRoot", systemRoot, sizeof systemRoot);
    environment.push_back(std::string("SystemRoot=") + systemRoot);
    child_ = test::StartChild(program + " hold " + std::to_string(exitCode) + " " + base_, environment);
    ready = WaitForSingleObject(ready_.Handle.get(), 30000) == WAIT_OBJECT_0;
  }
  // A program whose name is beyond the ANSI code page.
  explicit HeldChild(const std::wstring& program)
      : base_("quax-run-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count_)),
        ready_(base_ + ".ready"),
        go_(base_ + ".go") {
    child_ = test::StartChild(L"\"" + program + L"\" hold 0 " + test::Wide(base_), {});
    ready = WaitForSingleObject(ready_.Handle.get(), 30000) == WAIT_OBJECT_0;
  }
  ~HeldChild() { End(); }
  void End() {
    SetEvent(go_.Handle.get());
    WaitForSingleObject(child_.Process.get(), 30000);
  }
  DWORD Id() const { return child_.ProcessId; }
  bool ready = false;

 private:
  static inline int count_ = 0;
  std::string base_;
  test::NamedEvent ready_, go_;
  ChildProcess child_;
};

TEST_F(CollectorRun, WithoutIntervalAccountingEachEndedProcessGetsOneEndRecord) {
  settings("AccountingInterval", "0");
  StartAndWait();
  HeldChild child(5, {"QUAXU_CURRPROJ=Billing-42"});
  ASSERT_TRUE(child.ready);
  // A process that starts and ends between two samplings is never seen.
  ASSERT_TRUE(trace.WaitFor("First refresh entered for PID#" + std::to_string(child.Id()) + "...", 5000));
  child.End();
  EXPECT_TRUE(WaitForTypes(child.Id(), "E", 10000));
  Stop();

  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(TypesOf(child.Id()), "E");
  EXPECT_EQ(TypesOf(GetCurrentProcessId()), "");  // still running at the stop: no record
  for (const Record& record : Records()) {
    ASSERT_EQ(record.Fields.size(), 32u);
    EXPECT_EQ(record.Type(), 'E');
    if (record.ProcessId() != std::to_string(child.Id())) continue;
    EXPECT_EQ(record.Fields[3], "quax_test_child.exe");
    EXPECT_EQ(record.Fields[10], "5");  // exit code
    EXPECT_NE(record.Fields[9], "-");   // exit time
    EXPECT_EQ(record.Fields[31], "Billing-42");
  }
  EXPECT_TRUE(trace.WaitFor("Interval Accounting DISABLED", 0));
  EXPECT_EQ(trace.Count("Process #" + std::to_string(child.Id()) + ": quax_test_child.exe has terminated."), 1u);
}

TEST_F(CollectorRun, ADelimiterInAPathNeverAddsAField) {
  ScratchDirectory folder("dir, with comma");
  const std::string program = folder.Path() + "\\quax_test_child.exe";
  ASSERT_TRUE(CopyFileA((test::BinaryDirectory() + "\\quax_test_child.exe").c_str(), program.c_str(), FALSE));
  settings("LogFileFieldDelimiter", "44");
  settings("AccountingInterval", "0");
  StartAndWait();
  HeldChild child(4, {}, "\"" + program + "\"");
  ASSERT_TRUE(child.ready);
  ASSERT_TRUE(trace.WaitFor("First refresh entered for PID#" + std::to_string(child.Id()) + "...", 5000));
  child.End();
  const auto ended = [&] {
    for (const Record& record : Records(',')) {
      if (record.Fields.size() > 1 && record.ProcessId() == std::to_string(child.Id())) return true;
    }
    return false;
  };
  for (const ULONGLONG deadline = GetTickCount64() + 10000; !ended() && GetTickCount64() < deadline;) Sleep(50);
  Stop();

  bool found = false;
  for (const Record& record : Records(',')) {
    ASSERT_EQ(record.Fields.size(), 32u);
    if (record.ProcessId() != std::to_string(child.Id())) continue;
    found = true;
    std::string path = folder.Path();
    std::replace(path.begin(), path.end(), ',', '_');
    EXPECT_TRUE(EqualsIgnoreCase(record.Fields[4].c_str(), path.c_str())) << record.Fields[4];
    EXPECT_EQ(record.Fields[10], "4");
  }
  EXPECT_TRUE(found);
}

TEST_F(CollectorRun, AProgramNameNeverSplitsAtALookAlikeOfABackslash) {
  // A best fit would make the fullwidth backslash a backslash; every
  // single-byte code page lacks it, so it is written as "?".
  ScratchDirectory folder("wide-name");
  const std::wstring program = test::Wide(folder.Path()) + L"\\quax\uff3cchild.exe";
  ASSERT_TRUE(CopyFileW((test::Wide(test::BinaryDirectory()) + L"\\quax_test_child.exe").c_str(), program.c_str(),
                        FALSE));
  settings("AccountingInterval", "0");
  StartAndWait();
  {
    HeldChild child(program);
    ASSERT_TRUE(child.ready);
    ASSERT_TRUE(trace.WaitFor("First refresh entered for PID#" + std::to_string(child.Id()) + "...", 5000));
    child.End();
    EXPECT_TRUE(WaitForTypes(child.Id(), "E", 10000));
    Stop();
    for (const Record& record : Records()) {
      if (record.ProcessId() != std::to_string(child.Id())) continue;
      EXPECT_EQ(record.Fields[3], "quax?child.exe");
      EXPECT_TRUE(EqualsIgnoreCase(record.Fields[4].c_str(), folder.Path().c_str())) << record.Fields[4];
    }
  }
  DeleteFileW(program.c_str());
}

TEST_F(CollectorRun, ADelimiterThatOtherFieldsHoldIsReportedAndTabIsUsed) {
  settings("LogFileFieldDelimiter", "48");  // "0"
  settings("AccountingInterval", "3600");
  StartAndWait();
  Stop();
  bool warned = false;
  for (const test::CapturedEvent& event : events.Events()) {
    warned |= event.Type == EVENTLOG_WARNING_TYPE &&
              event.Strings[0] == "QUAXWINPROCESS: The log file field delimiter 48 cannot separate fields; TAB (9) "
                                  "is used instead.";
  }
  EXPECT_TRUE(warned);
  EXPECT_EQ(TypesOf(GetCurrentProcessId()), "SI");
  for (const Record& record : Records()) EXPECT_EQ(record.Fields.size(), 32u);
}

TEST_F(CollectorRun, IntervalAccountingWritesStartIntervalAndEndRecords) {
  settings("AccountingInterval", "2");
  settings("WriteIntervalEndRecords", "YES");
  StartAndWait();
  EXPECT_EQ(TypesOf(GetCurrentProcessId()), "S");  // every process at start-up

  HeldChild child(3);
  ASSERT_TRUE(child.ready);
  EXPECT_TRUE(WaitForTypes(child.Id(), "S", 5000));  // seen at the next sampling
  ASSERT_TRUE(trace.WaitFor("Event Notification: ACCOUNTING INTERVAL...", 10000));
  ASSERT_TRUE(WaitForTypes(GetCurrentProcessId(), "SI", 5000));
  child.End();
  Stop();

  const std::string childTypes = TypesOf(child.Id());
  EXPECT_TRUE(std::regex_match(childTypes, std::regex("SI*IE"))) << childTypes;
  const std::string ownTypes = TypesOf(GetCurrentProcessId());
  EXPECT_TRUE(std::regex_match(ownTypes, std::regex("SI+IE"))) << ownTypes;
  for (const Record& record : Records()) {
    const bool ownEnd = record.Type() == 'E' && record.ProcessId() == std::to_string(GetCurrentProcessId());
    if (ownEnd) {
      EXPECT_EQ(record.Fields[10], "-");  // still running at the stop
    }
    if (record.Type() == 'I') {
      EXPECT_NE(record.Fields[11], "-");
    }
  }
}

TEST_F(CollectorRun, IntervalAccountingWithoutEndRecords) {
  settings("AccountingInterval", "2");
  StartAndWait();
  HeldChild child(3);
  ASSERT_TRUE(child.ready);
  ASSERT_TRUE(WaitForTypes(child.Id(), "S", 5000));
  child.End();
  ASSERT_TRUE(WaitForTypes(child.Id(), "SI", 5000));
  Stop();
  for (const Record& record : Records()) EXPECT_NE(record.Type(), 'E');
  EXPECT_TRUE(std::regex_match(TypesOf(GetCurrentProcessId()), std::regex("SI+")));
}

TEST_F(CollectorRun, AccountingIntervalAtATimeOfDay) {
  // The next whole minute, so the test waits at most one minute.
  SYSTEMTIME now;
  GetLocalTime(&now);
  const int minuteOfDay = (now.wHour * 60 + now.wMinute + 1) % (24 * 60);
  char time[8];
  std::snprintf(time, sizeof time, "%02d:%02d", minuteOfDay / 60, minuteOfDay % 60);
  settings("AccountingInterval", "86400");
  settings("UseAccountingIntervalTime", "YES");
  settings("AccountingIntervalTime", time);
  StartAndWait();
  ASSERT_TRUE(trace.WaitFor("Event Notification: ACCOUNTING INTERVAL...", 65000));
  SYSTEMTIME fired;
  GetLocalTime(&fired);
  EXPECT_EQ(fired.wHour * 60 + fired.wMinute, minuteOfDay);
  Stop();
  EXPECT_TRUE(std::regex_match(TypesOf(GetCurrentProcessId()), std::regex("SII"))) << TypesOf(GetCurrentProcessId());
}

TEST_F(CollectorRun, InvalidLogFilePathEndsTheRunWithExitCode3) {
  const std::string missing = logs.Path() + "\\missing";
  settings("LogFilePath", missing);
  Start();
  runner.join();
  EXPECT_EQ(exitCode, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(trace.Contains("\nQUAXWinProcess: The log file path '" + missing + "' is not valid"));
  bool reported = false;
  for (const test::CapturedEvent& event : events.Events()) {
    reported |= event.Strings[0] == "QUAXWINPROCESS: The log file path '" + missing + "' is not valid.";
  }
  EXPECT_TRUE(reported);
  EXPECT_EQ(trace.Count("has been started."), 0u);
  EXPECT_EQ(console.Lines(),
            std::vector<std::string>{"ERROR: QUAXWINPROCESS: The log file path '" + missing + "' is not valid."});
}

TEST_F(CollectorRun, DefaultLogDirectoryIsCreatedOrReused) {
  settings("LogFilePath", "");
  settings("AccountingInterval", "0");
  Settings::Set(kAdminKey, "InstallLocation", logs.Path() + "\\");
  StartAndWait();  // creates it
  Stop();
  const std::string directory = logs.Path() + "\\QUAXWinProcessLogs";
  EXPECT_NE(GetFileAttributesA(directory.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(exitCode, 0u);

  StartAndWait();  // exists already: start-up goes on
  Stop();
  EXPECT_EQ(exitCode, 0u);
  RemoveDirectoryA(directory.c_str());
}

TEST_F(CollectorRun, MoreProcessesThanAWaitCanHoldAreStillNoticed) {
  settings("AccountingInterval", "0");
  std::vector<ChildProcess> sleepers;
  for (int i = 0; i < 70; ++i) sleepers.push_back(test::StartChild(ChildProgram() + " sleep 120000"));
  Sleep(1000);
  StartAndWait();
  std::vector<DWORD> ended;
  for (int i = 0; i < 3; ++i) {
    TerminateProcess(sleepers[i].Process.get(), 11);
    ended.push_back(sleepers[i].ProcessId);
  }
  for (DWORD id : ended) EXPECT_TRUE(WaitForTypes(id, "E", 10000)) << id;
  Stop();
  for (ChildProcess& sleeper : sleepers) TerminateProcess(sleeper.Process.get(), 0);
  for (const Record& record : Records()) {
    if (record.ProcessId() == std::to_string(ended[0])) {
      EXPECT_EQ(record.Fields[10], "11");
    }
  }
}

TEST_F(CollectorRun, IntervalCommandGetsDateAndTime) {
  const std::string output = logs.Path() + "\\command-output.txt";
  settings("AccountingInterval", "2");
  settings("AccountingIntervalCommand", ChildProgram() + " args \"" + output + "\" %QUAXDATE% %QUAXTIME%");
  StartAndWait();
  ASSERT_TRUE(trace.WaitFor("The interval command was executed successfully", 10000));
  const ULONGLONG deadline = GetTickCount64() + 10000;
  while (test::ReadFile(output).empty() && GetTickCount64() < deadline) Sleep(50);
  Stop();
  const std::string line = test::ReadFile(output);
  EXPECT_TRUE(std::regex_search(line, std::regex("^\\d{8} \\d{2}:\\d{2}:\\d{2}\\r?\\n"))) << line;
  EXPECT_TRUE(trace.WaitFor("Processing interval command: '" + ChildProgram() + " args", 0));
}

// How the logs reach the collecting share (docs/billing.md): after each
// interval the command copies every daily file that changed since its last
// copy into the machine's folder of the share, the finished day's file among
// them.
TEST_F(CollectorRun, IntervalCommandCopiesTheDailyLogsIntoTheMachinesFolderOfTheShare) {
  const std::string pastDay = "QUAXProcessLog-20261207.txt";
  const std::string pastDayText = "RecordType\tProcessId\r\nE\t4\r\n";
  std::ofstream(logs.Path() + "\\" + pastDay, std::ios::binary) << pastDayText;
  const ScratchDirectory share("share");
  char machine[MAX_COMPUTERNAME_LENGTH + 1] = {};
  ASSERT_GT(GetEnvironmentVariableA("COMPUTERNAME", machine, sizeof machine), 0u);
  const std::string machineFolder = share.Path() + "\\" + machine;
  settings("AccountingInterval", "2");
  settings("AccountingIntervalCommand", "cmd.exe /c xcopy /D /Y /I /Q \"" + logs.Path() +
                                            "\\QUAXProcessLog-*.txt\" \"" + share.Path() + "\\%COMPUTERNAME%\"");
  StartAndWait();
  const ULONGLONG deadline = GetTickCount64() + 30000;
  while (test::ReadFile(machineFolder + "\\" + pastDay) != pastDayText && GetTickCount64() < deadline) Sleep(100);
  Stop();
  EXPECT_EQ(test::ReadFile(machineFolder + "\\" + pastDay), pastDayText);
  // Today's file, still being written, is copied as far as it goes.
  std::size_t todayCopied = 0;
  for (const std::string& name : logs.FileNames()) {
    if (name == pastDay || name.rfind("QUAXProcessLog-", 0) != 0) continue;
    todayCopied += test::ReadFile(machineFolder + "\\" + name).empty() ? 0 : 1;
  }
  EXPECT_EQ(todayCopied, 1u);
  std::error_code ignored;
  std::filesystem::remove_all(machineFolder, ignored);
}

TEST_F(CollectorRun, MissingIntervalProgramIsTracedAndTheRunGoesOn) {
  settings("AccountingInterval", "1");
  settings("AccountingIntervalCommand", "quax-no-such-program.exe %QUAXDATE%");
  StartAndWait();
  const std::string failure = "The interval command failed: (2): ";
  ASSERT_TRUE(trace.WaitFor(failure, 10000));
  const ULONGLONG deadline = GetTickCount64() + 10000;
  while (trace.Count(failure) < 2 && GetTickCount64() < deadline) Sleep(50);
  Stop();
  EXPECT_GE(trace.Count(failure), 2u);  // tried again at the next interval
  EXPECT_EQ(exitCode, 0u);
  // In -debug mode the operator sees each failure, without the line end of
  // the system's text.
  EXPECT_EQ(console.Count(failure), trace.Count(failure));
  for (const std::string& line : console.Lines()) {
    if (line.find(failure) == std::string::npos) continue;
    EXPECT_EQ(line.rfind("QUAXWinProcess: The interval command failed: (2): ", 0), 0u) << line;
    EXPECT_NE(line.back(), '\n');
  }
}

TEST_F(CollectorRun, OverlongExpansionIsRefused) {
  SetEnvironmentVariableA("QUAXTESTLONG", std::string(5000, 'x').c_str());
  settings("AccountingInterval", "1");
  settings("AccountingIntervalCommand", ChildProgram() + " sleep 1 %QUAXTESTLONG%");
  StartAndWait();
  EXPECT_TRUE(trace.WaitFor("The interval command is too long once expanded", 10000));
  Stop();
  SetEnvironmentVariableA("QUAXTESTLONG", nullptr);
  EXPECT_EQ(trace.Count("The interval command was executed successfully"), 0u);
}

TEST_F(CollectorRun, StartAndStopAreReported) {
  settings("AccountingInterval", "0");
  StartAndWait();
  Stop();
  std::vector<std::string> texts;
  for (const test::CapturedEvent& event : events.Events()) texts.push_back(event.Strings[0]);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "QUAXWINPROCESS: QUAX Process Collector with Debug Logging has been started.");
  EXPECT_EQ(texts[1], "QUAXWINPROCESS: QUAX Process Collector with Debug Logging has been stopped.");
  EXPECT_TRUE(trace.Contains("\nQUAXWinProcess: Event Notification: STOP..."));
  EXPECT_TRUE(trace.Contains("\nQUAXWinProcess: Service stop event set"));
}

TEST_F(CollectorRun, RunningOutOfMemoryEndsTheRunWithAnErrorTheClosingRecordsAndItsOwnCode) {
  settings("AccountingInterval", "3600");
  settings("WriteIntervalEndRecords", "YES");
  StartAndWait();
  HeldChild child(0);
  ASSERT_TRUE(child.ready);
  ASSERT_TRUE(WaitForTypes(child.Id(), "S", 5000));
  {
    // The next sampling asks for the process list and cannot get memory.
    test::FailingAllocations failing(runThread);
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (!finished && GetTickCount64() < deadline) Sleep(20);
  }
  ASSERT_TRUE(finished) << "the run went on without memory";
  runner.join();

  EXPECT_EQ(exitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
  std::vector<std::string> texts;
  for (const test::CapturedEvent& event : events.Events()) {
    if (event.Type == EVENTLOG_ERROR_TYPE) texts.push_back("ERROR " + event.Strings[0]);
    if (event.Type == EVENTLOG_INFORMATION_TYPE) texts.push_back("INFORMATION " + event.Strings[0]);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "INFORMATION QUAXWINPROCESS: QUAX Process Collector with Debug Logging has been started.",
                       "ERROR QUAXWINPROCESS: Internal error: out of memory.\n\nThe collector is terminating.",
                       "INFORMATION QUAXWINPROCESS: QUAX Process Collector with Debug Logging has been stopped."}));
  // Every process the run knew is closed as at a stop.
  EXPECT_EQ(TypesOf(child.Id()), "SIE");
  EXPECT_EQ(TypesOf(GetCurrentProcessId()), "SIE");
}

// A stop request held inside its hand-over: the trace sink stands in for a
// requesting thread that is preempted there, and notes whether the run ended
// meanwhile.
std::atomic<bool> g_runFinished{false};
std::atomic<bool> g_requestHeld{false};
std::atomic<bool> g_runEndedDuringRequest{false};
std::atomic<int> g_stopTraces{0};

void HoldStopRequest(const char* line) {
  if (std::string(line).find("Service stop event set") == std::string::npos) return;
  ++g_stopTraces;
  if (g_requestHeld.exchange(false)) {
    const ULONGLONG deadline = GetTickCount64() + 1000;
    while (!g_runFinished && GetTickCount64() < deadline) Sleep(10);
    g_runEndedDuringRequest = g_runFinished.load();
  }
}

TEST_F(CollectorRun, TheRunNeverEndsWhileAStopIsBeingHandedOverAndLaterStopsFindNothing) {
  settings("AccountingInterval", "0");
  StartAndWait();
  g_runFinished = false;
  g_runEndedDuringRequest = false;
  g_stopTraces = 0;
  g_requestHeld = true;
  SetTraceSink(&HoldStopRequest);
  std::thread watcher([this] {
    runner.join();
    g_runFinished = true;
  });
  EXPECT_TRUE(RequestStop());
  watcher.join();
  EXPECT_FALSE(g_runEndedDuringRequest) << "the run closed its stop event under a request in flight";
  EXPECT_EQ(exitCode, 0u);

  // Once the run has ended, a request finds nothing to stop.
  EXPECT_FALSE(RequestStop());
  EXPECT_EQ(g_stopTraces, 1);
  SetTraceSink(nullptr);
}

TEST_F(CollectorRun, AStopAskedForAfterARunHasEndedIsNotKeptForTheNextRun) {
  settings("AccountingInterval", "1");
  StartAndWait();
  Stop();
  EXPECT_FALSE(RequestStop());
  StartAndWait();
  // A stop kept for this run would have ended it at its first wait.
  EXPECT_TRUE(trace.WaitFor("Event Notification: ACCOUNTING INTERVAL...", 10000));
  EXPECT_EQ(trace.Count("Event Notification: STOP..."), 1u);
  Stop();
}

TEST_F(CollectorRun, AStopAskedForBeforeTheStopEventExistsStopsTheRunThroughItsStopSequence) {
  settings("AccountingInterval", "3600");
  settings("WriteIntervalEndRecords", "YES");
  std::atomic<bool> taken{false};
  // From another thread, as a control handler asks, while the run is still
  // starting (the stop event comes after the timers).
  trace.AtLine("Accounting Interval is", [&] { std::thread([&] { taken = RequestStop(); }).join(); });
  ASSERT_TRUE(RunToItsEnd()) << "the stop asked for during start-up was lost";
  EXPECT_TRUE(taken);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(CollectorEvents(),
            (std::vector<std::string>{
                "INFORMATION QUAXWINPROCESS: QUAX Process Collector with Debug Logging has been started.",
                "INFORMATION QUAXWINPROCESS: QUAX Process Collector with Debug Logging has been stopped."}));
  EXPECT_EQ(trace.Count("Event Notification: STOP..."), 1u);
  EXPECT_EQ(TypesOf(GetCurrentProcessId()), "SIE");
}

// ---- Failures that end a run ---------------------------------------------

// The call a case makes fail: the chosen call (1 = the first) of the one
// replaced function fails with the chosen error (0: none); every other call
// reaches the system.
std::atomic<int> g_calls{0};
std::atomic<int> g_failingCall{0};
std::atomic<DWORD> g_injectedError{0};

bool FailsNow() {
  if (++g_calls != g_failingCall) return false;
  SetLastError(g_injectedError);
  return true;
}

BOOL WINAPI FailingOpenToken(HANDLE process, DWORD access, HANDLE* token) {
  return FailsNow() ? FALSE : OpenProcessToken(process, access, token);
}
bool FailingEnablePrivilege(HANDLE token, const char* privilege, bool enable) noexcept {
  return FailsNow() ? false : EnablePrivilege(token, privilege, enable);
}
HANDLE WINAPI FailingCreateTimer(SECURITY_ATTRIBUTES* security, BOOL manualReset, const char* name) {
  return FailsNow() ? nullptr : CreateWaitableTimerA(security, manualReset, name);
}
BOOL WINAPI FailingArmTimer(HANDLE timer, const LARGE_INTEGER* due, LONG period, PTIMERAPCROUTINE routine,
                            void* argument, BOOL resume) {
  return FailsNow() ? FALSE : SetWaitableTimer(timer, due, period, routine, argument, resume);
}
HANDLE WINAPI FailingCreateEvent(SECURITY_ATTRIBUTES* security, BOOL manualReset, BOOL initialState,
                                 const char* name) {
  return FailsNow() ? nullptr : CreateEventA(security, manualReset, initialState, name);
}
DWORD WINAPI FailingWait(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  return FailsNow() ? WAIT_FAILED : WaitForMultipleObjects(count, handles, waitAll, milliseconds);
}

// Arranges for the run to use the failing form of one call.
template <typename Call>
std::function<void()> Failing(Call RunPlatform::*call, Call fake, int callNumber, DWORD error) {
  return [=] {
    RunPlatform platform;
    platform.*call = fake;
    SetRunPlatform(platform);
    g_calls = 0;
    g_failingCall = callNumber;
    g_injectedError = error;
  };
}

// While alive, the service control manager refuses every status report (an
// unknown status handle), as for a service it no longer knows.
class RefusedStatusReports {
 public:
  RefusedStatusReports() : saved_(Service()) {}
  ~RefusedStatusReports() { Service() = saved_; }
  static void Begin() {
    Service().ConsoleMode = false;
    Service().StatusHandle = nullptr;
    Service().Status.dwCurrentState = SERVICE_START_PENDING;
  }

 private:
  ServiceState saved_;
};

TEST_F(CollectorRun, EveryStartUpFailureStopsTheServiceWithTheFailedCallsError) {
  using Setting = std::pair<const char*, const char*>;
  std::optional<test::FailingAllocations> failingAllocations;
  std::optional<RefusedStatusReports> refusedReports;
  struct Case {
    const char* Failure;
    std::vector<Setting> Settings;
    std::function<void()> Arrange;  // before the run begins
    std::string Event;              // the start of the one event: the ERROR saying why
    DWORD ExitCode;
  };
  const std::vector<Case> cases = {
      {"process token", {}, Failing(&RunPlatform::OpenToken, &FailingOpenToken, 1, ERROR_ACCESS_DENIED),
       "Unable to open process token.", ERROR_ACCESS_DENIED},
      {"debug privilege", {},
       Failing(&RunPlatform::EnableTokenPrivilege, &FailingEnablePrivilege, 1, ERROR_NOT_ALL_ASSIGNED),
       "Unable to set process privilege.", ERROR_NOT_ALL_ASSIGNED},
      {"accounting timer", {{"AccountingInterval", "3600"}},
       Failing(&RunPlatform::CreateTimer, &FailingCreateTimer, 1, ERROR_NO_SYSTEM_RESOURCES),
       "CreateWaitableTimer failed for Accounting Interval (1450)", ERROR_NO_SYSTEM_RESOURCES},
      {"accounting timer armed", {{"AccountingInterval", "3600"}},
       Failing(&RunPlatform::ArmTimer, &FailingArmTimer, 1, ERROR_INVALID_PARAMETER),
       "SetWaitableTimer failed for accounting interval (87)", ERROR_INVALID_PARAMETER},
      {"accounting timer armed at a time of day",
       {{"AccountingInterval", "86400"}, {"UseAccountingIntervalTime", "YES"}, {"AccountingIntervalTime", "00:00"}},
       Failing(&RunPlatform::ArmTimer, &FailingArmTimer, 1, ERROR_INVALID_PARAMETER),
       "SetWaitableTimer failed for accounting interval time (87)", ERROR_INVALID_PARAMETER},
      {"sampling timer", {{"AccountingInterval", "0"}},
       Failing(&RunPlatform::CreateTimer, &FailingCreateTimer, 1, ERROR_NO_SYSTEM_RESOURCES),
       "CreateWaitableTimer for Sampling Interval failed (1450)", ERROR_NO_SYSTEM_RESOURCES},
      {"sampling timer armed", {{"AccountingInterval", "0"}},
       Failing(&RunPlatform::ArmTimer, &FailingArmTimer, 1, ERROR_INVALID_PARAMETER),
       "SetWaitableTimer failed for sampling interval (87)", ERROR_INVALID_PARAMETER},
      {"stop event", {}, Failing(&RunPlatform::CreateStopEvent, &FailingCreateEvent, 1, ERROR_NO_SYSTEM_RESOURCES),
       "Unable to create stop event: ", ERROR_NO_SYSTEM_RESOURCES},
      // A failure must never read as success, even when the call says not why.
      {"process token without an error code", {}, Failing(&RunPlatform::OpenToken, &FailingOpenToken, 1, 0),
       "Unable to open process token.", ERROR_SERVICE_SPECIFIC_ERROR},
      {"start-pending status", {}, 
       [&] {
         refusedReports.emplace();
         RefusedStatusReports::Begin();
       },
       "Service Control Manager Report Status failed.", ERROR_INVALID_HANDLE},
      {"running status", {{"AccountingInterval", "3600"}},
       [&] {
         refusedReports.emplace();
         trace.AtLine("Interval accounting enabled; writing list of all started processes.",
                      &RefusedStatusReports::Begin);
       },
       "Service Control Manager Report Status failed.", ERROR_INVALID_HANDLE},
      {"memory for the settings", {},
       [&] { beforeRun = [&] { failingAllocations.emplace(GetCurrentThreadId()); }; },
       "Internal error: out of memory.\n\nThe collector is terminating.", ERROR_SERVICE_SPECIFIC_ERROR},
      {"memory for the log writer", {},
       [&] {
         trace.AtLine("Control information found and read.",
                      [&] { failingAllocations.emplace(GetCurrentThreadId()); });
       },
       "Unable to create ProcessLogger instance.", ERROR_SERVICE_SPECIFIC_ERROR},
  };
  for (const Case& failure : cases) {
    SCOPED_TRACE(failure.Failure);
    ResetSettings();
    for (const auto& [name, value] : failure.Settings) settings(name, value);
    const std::size_t firstEvent = events.Events().size();
    failure.Arrange();
    const bool ended = RunToItsEnd();
    failingAllocations.reset();
    refusedReports.reset();
    beforeRun = nullptr;
    SetRunPlatform({});
    ASSERT_TRUE(ended) << "the run went on";

    EXPECT_EQ(exitCode, failure.ExitCode);
    const std::vector<std::string> texts = CollectorEvents(firstEvent);
    ASSERT_EQ(texts.size(), 1u) << testing::PrintToString(texts);
    EXPECT_TRUE(texts[0].starts_with("ERROR QUAXWINPROCESS: " + failure.Event)) << texts[0];
  }
}

TEST_F(CollectorRun, AFailureWhileRunningStopsTheServiceWithTheFailedCallsError) {
  constexpr char kStarted[] = "INFORMATION QUAXWINPROCESS: QUAX Process Collector with Debug Logging has been started.";
  constexpr char kStopped[] = "INFORMATION QUAXWINPROCESS: QUAX Process Collector with Debug Logging has been stopped.";
  struct Case {
    const char* Failure;
    const char* AccountingInterval;
    const char* SamplingInterval;
    std::function<void()> Arrange;
    std::vector<std::string> Events;
    DWORD ExitCode;
  };
  // Timers are armed at start-up in this order: accounting, sampling.
  const std::vector<Case> cases = {
      {"sampling timer re-armed", "0", "1", Failing(&RunPlatform::ArmTimer, &FailingArmTimer, 2, ERROR_INVALID_PARAMETER),
       {kStarted, "ERROR QUAXWINPROCESS: SetWaitableTimer failed for sampling interval (87)"}, ERROR_INVALID_PARAMETER},
      {"accounting timer re-armed", "1", "3600",
       Failing(&RunPlatform::ArmTimer, &FailingArmTimer, 3, ERROR_INVALID_PARAMETER),
       {kStarted, "ERROR QUAXWINPROCESS: SetWaitableTimer failed for accounting interval (87)"},
       ERROR_INVALID_PARAMETER},
      // The stop sequence follows a failed wait.
      {"wait", "3600", "1", Failing(&RunPlatform::WaitForAny, &FailingWait, 1, ERROR_INVALID_HANDLE),
       {kStarted, "ERROR QUAXWINPROCESS: Internal error: a handle has become invalid.\n\nThe collector is terminating.",
        kStopped},
       ERROR_INVALID_HANDLE},
  };
  for (const Case& failure : cases) {
    SCOPED_TRACE(failure.Failure);
    ResetSettings();
    settings("AccountingInterval", failure.AccountingInterval);
    settings("SamplingInterval", failure.SamplingInterval);
    const std::size_t firstEvent = events.Events().size();
    failure.Arrange();
    const bool ended = RunToItsEnd();
    SetRunPlatform({});
    ASSERT_TRUE(ended) << "the run went on";
    EXPECT_EQ(exitCode, failure.ExitCode);
    EXPECT_EQ(CollectorEvents(firstEvent), failure.Events);
  }
}

}  // namespace
}  // namespace quax
