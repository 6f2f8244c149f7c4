// The library in real host processes. Wine ignores AppInit_DLLs, so each
// test starts quax_hook_host, which loads the library with LoadLibrary as
// user32 does, and ends it by FreeLibrary or by ending the process. The
// settings come from the collector settings key of the test's Wine prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "process_control.h"
#include "test_support.h"
#include "unique_handle.h"

namespace quax {
namespace {

using test::ReadLines;
using test::ScratchDirectory;
using test::SplitFields;

constexpr std::size_t kHookFieldCount = 31;
constexpr std::size_t kServiceFieldCount = 32;
enum Field { kType = 0, kPid = 1, kName = 3, kPath = 4, kExitTime = 9, kExitCode = 10, kIntervalStart = 11,
             kIntervalEnd = 12 };

// Sets values of the collector settings key for the length of a test and
// puts back whatever the key held before.
class SettingsKey {
 public:
  SettingsKey() {
    unique_hkey key;
    existed_ = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS;
    for (DWORD index = 0; existed_; ++index) {
      char name[256];
      BYTE data[1024];
      DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
      if (RegEnumValueA(key.get(), index, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
      saved_.push_back({name, type, std::string(reinterpret_cast<char*>(data), dataSize)});
    }
    key.reset();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
  }
  ~SettingsKey() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
    if (!existed_) return;
    unique_hkey key = Create();
    for (const Saved& value : saved_) {
      RegSetValueExA(key.get(), value.Name.c_str(), 0, value.Type, reinterpret_cast<const BYTE*>(value.Data.data()),
                     static_cast<DWORD>(value.Data.size()));
    }
  }
  void Set(const char* name, const std::string& text) {
    unique_hkey key = Create();
    ASSERT_EQ(RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>(text.size() + 1)),
              ERROR_SUCCESS);
  }

 private:
  struct Saved {
    std::string Name;
    DWORD Type;
    std::string Data;
  };
  static unique_hkey Create() {
    unique_hkey key;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr);
    return key;
  }
  bool existed_ = false;
  std::vector<Saved> saved_;
};

std::string Library(const char* name) { return test::BinaryDirectory() + "\\" + name + ".dll"; }

enum class HostEnd { Unload, ProcessExit };

// A host process with the library loaded, driven through named events.
class Host {
 public:
  // `program`: a copy of the host program under another name.
  Host(const std::string& library, HostEnd end, const std::wstring& program = {})
      : end_(end), base_(UniqueBase()), loaded_(base_ + ".loaded"), ending_(base_ + ".end"),
        freed_(base_ + ".freed"), quit_(base_ + ".quit") {
    const std::string arguments = " \"" + library + "\" " + base_ + (end == HostEnd::Unload ? " free" : " exit");
    if (program.empty()) {
      child_ = test::StartChild("\"" + test::BinaryDirectory() + "\\quax_hook_host.exe\"" + arguments);
    } else {
      child_ = test::StartChild(L"\"" + program + L"\"" + test::Wide(arguments), {});
    }
    loaded = WaitForSingleObject(loaded_.Handle.get(), 30000) == WAIT_OBJECT_0;
  }
  ~Host() {
    SetEvent(ending_.Handle.get());
    SetEvent(quit_.Handle.get());
    WaitForSingleObject(child_.Process.get(), 30000);
  }
  // Asks the host to unload the library or to exit with it loaded.
  void End() { SetEvent(ending_.Handle.get()); }
  // After End: whether the host's own FreeLibrary has returned.
  bool WaitUntilFreed() { return WaitForSingleObject(freed_.Handle.get(), 30000) == WAIT_OBJECT_0; }
  // After End: an unloading host goes on running until told to quit.
  void ExpectItEndedAsAsked() {
    if (end_ == HostEnd::Unload) {
      EXPECT_EQ(WaitForSingleObject(freed_.Handle.get(), 30000), WAIT_OBJECT_0);
      EXPECT_EQ(WaitForSingleObject(child_.Process.get(), 0), WAIT_TIMEOUT);
      SetEvent(quit_.Handle.get());
    }
    EXPECT_EQ(test::WaitForExitCode(child_, 30000), end_ == HostEnd::Unload ? 0u : 3u);
  }
  std::string Id() const { return std::to_string(child_.ProcessId); }

  bool loaded = false;

 private:
  static std::string UniqueBase() {
    static int count = 0;
    return "quax-hook-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
  }
  HostEnd end_;
  std::string base_;
  test::NamedEvent loaded_, ending_, freed_, quit_;
  test::ChildProcess child_;
};

// The name of the one log file (.txt) in a directory, or empty.
std::string LogFileName(const ScratchDirectory& directory) {
  for (const std::string& name : directory.FileNames()) {
    if (name.starts_with("QUAXProcessLog-")) return name;
  }
  return {};
}

// The lines of the one log file in a directory.
std::vector<std::string> LogLines(const ScratchDirectory& directory) {
  const std::vector<std::string> files = directory.FileNames();
  EXPECT_EQ(files.size(), 1u);
  if (files.empty()) return {};
  return ReadLines(directory.Path() + "\\" + files[0]);
}

using Record = std::vector<std::string>;

std::vector<Record> RecordsOf(const std::vector<std::string>& lines, const std::string& processId) {
  std::vector<Record> records;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    Record fields = SplitFields(lines[i], '\t');
    if (fields.size() > kPid && fields[kPid] == processId) records.push_back(std::move(fields));
  }
  return records;
}

std::string Types(const std::vector<Record>& records) {
  std::string types;
  for (const Record& record : records) types += record[kType];
  return types;
}

// Milliseconds of a log date-time "YYYYMMDD HH:MM:SS.mmm".
std::int64_t Milliseconds(const std::string& text) {
  SYSTEMTIME parts = {};
  parts.wYear = static_cast<WORD>(std::stoi(text.substr(0, 4)));
  parts.wMonth = static_cast<WORD>(std::stoi(text.substr(4, 2)));
  parts.wDay = static_cast<WORD>(std::stoi(text.substr(6, 2)));
  parts.wHour = static_cast<WORD>(std::stoi(text.substr(9, 2)));
  parts.wMinute = static_cast<WORD>(std::stoi(text.substr(12, 2)));
  parts.wSecond = static_cast<WORD>(std::stoi(text.substr(15, 2)));
  parts.wMilliseconds = static_cast<WORD>(std::stoi(text.substr(18, 3)));
  FILETIME time;
  SystemTimeToFileTime(&parts, &time);
  return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime) / 10000);
}

std::int64_t IntervalMilliseconds(const Record& record) {
  return Milliseconds(record[kIntervalEnd]) - Milliseconds(record[kIntervalStart]);
}

// The clock the records carry ticks in steps of up to one scheduler tick.
constexpr std::int64_t kClockStep = 16;

void ExpectHookRecordOfTheHost(const Record& record) {
  EXPECT_EQ(record.size(), kHookFieldCount);
  EXPECT_EQ(record[kName], "quax_hook_host.exe");
  EXPECT_TRUE(EqualsIgnoreCase(record[kPath].c_str(), test::BinaryDirectory().c_str())) << record[kPath];
}

TEST(HookCollector, WithoutIntervalAccountingOnlyTheEndRecordIsWrittenAtDetach) {
  ScratchDirectory directory("hook-zero");
  SettingsKey settings;
  settings.Set("LogFilePath", directory.Path());
  settings.Set("AccountingInterval", "0");
  Host unloaded(Library("quaxcolhook"), HostEnd::Unload);
  Host ended(Library("quaxcolhook"), HostEnd::ProcessExit);
  ASSERT_TRUE(unloaded.loaded && ended.loaded);
  Sleep(300);
  unloaded.End();
  ended.End();
  unloaded.ExpectItEndedAsAsked();
  ended.ExpectItEndedAsAsked();

  const std::vector<std::string> lines = LogLines(directory);
  ASSERT_FALSE(lines.empty());
  const Record header = SplitFields(lines[0], '\t');
  ASSERT_EQ(header.size(), kHookFieldCount);
  EXPECT_EQ(header.back(), "AffinityMask");

  const std::vector<Record> afterUnload = RecordsOf(lines, unloaded.Id());
  ASSERT_EQ(Types(afterUnload), "E");
  ExpectHookRecordOfTheHost(afterUnload[0]);
  // Written as for an ended process, although the host still ran.
  EXPECT_NE(afterUnload[0][kExitTime], "-");
  EXPECT_EQ(afterUnload[0][kExitCode], "259");

  const std::vector<Record> atExit = RecordsOf(lines, ended.Id());
  ASSERT_EQ(Types(atExit), "E");
  ExpectHookRecordOfTheHost(atExit[0]);
  EXPECT_NE(atExit[0][kExitTime], "-");
  EXPECT_NE(atExit[0][kExitCode], "-");
  EXPECT_EQ(lines.size(), 3u);
}

TEST(HookCollector, AnUnderscoreDelimiterTurnsTheUnderscoresOfTextsIntoSpaces) {
  ScratchDirectory directory("hook-underscore");
  SettingsKey settings;
  settings.Set("LogFilePath", directory.Path());
  settings.Set("AccountingInterval", "0");
  settings.Set("LogFileFieldDelimiter", "95");
  Host host(Library("quaxcolhook"), HostEnd::Unload);
  ASSERT_TRUE(host.loaded);
  host.End();
  host.ExpectItEndedAsAsked();

  const std::vector<std::string> lines = LogLines(directory);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(SplitFields(lines[0], '_').size(), kHookFieldCount);
  const Record record = SplitFields(lines[1], '_');
  ASSERT_EQ(record.size(), kHookFieldCount) << lines[1];
  EXPECT_EQ(record[kType], "E");
  EXPECT_EQ(record[kPid], host.Id());
  EXPECT_EQ(record[kName], "quax hook host.exe");
}

TEST(HookCollector, AHostNameNeverSplitsAtALookAlikeOfABackslash) {
  // The system's ANSI texts of the module list would give a best fit, a
  // backslash, for the fullwidth one in the program's name.
  ScratchDirectory directory("hook-wide");
  ScratchDirectory folder("hook-wide-host");
  const std::wstring program = test::Wide(folder.Path()) + L"\\quax\uff3chost.exe";
  ASSERT_TRUE(CopyFileW((test::Wide(test::BinaryDirectory()) + L"\\quax_hook_host.exe").c_str(), program.c_str(),
                        FALSE));
  SettingsKey settings;
  settings.Set("LogFilePath", directory.Path());
  settings.Set("AccountingInterval", "0");
  {
    Host host(Library("quaxcolhook"), HostEnd::Unload, program);
    ASSERT_TRUE(host.loaded);
    host.End();
    host.ExpectItEndedAsAsked();
    const std::vector<Record> records = RecordsOf(LogLines(directory), host.Id());
    ASSERT_EQ(Types(records), "E");
    ASSERT_EQ(records[0].size(), kHookFieldCount);
    EXPECT_EQ(records[0][kName], "quax?host.exe");
    EXPECT_TRUE(EqualsIgnoreCase(records[0][kPath].c_str(), folder.Path().c_str())) << records[0][kPath];
  }
  DeleteFileW(program.c_str());
}

TEST(HookCollector, ShortIntervalWritesStartAndSpacedIntervalRecordsAndTheClosingOnes) {
  ScratchDirectory withoutEnd("hook-interval");
  ScratchDirectory withEnd("hook-interval-end");
  SettingsKey settings;
  settings.Set("AccountingInterval", "2");
  // Each host reads the settings when the library is loaded.
  settings.Set("LogFilePath", withoutEnd.Path());
  settings.Set("WriteIntervalEndRecords", "no");
  Host unloaded(Library("quaxcolhook"), HostEnd::Unload);
  settings.Set("LogFilePath", withEnd.Path());
  settings.Set("WriteIntervalEndRecords", "Yes");
  Host ended(Library("quaxcolhook"), HostEnd::ProcessExit);
  ASSERT_TRUE(unloaded.loaded && ended.loaded);
  Sleep(5000);  // after the second timer record (4 s)
  unloaded.End();
  ended.End();
  unloaded.ExpectItEndedAsAsked();
  ended.ExpectItEndedAsAsked();

  for (const ScratchDirectory* directory : {&withoutEnd, &withEnd}) {
    const bool endRecords = directory == &withEnd;
    const std::vector<Record> records = RecordsOf(LogLines(*directory), endRecords ? ended.Id() : unloaded.Id());
    // The timer's records (at 2 s, 4 s and, when a loaded machine ends the
    // host late, more), then the closing records.
    const std::string types = Types(records);
    const std::size_t closing = types.size() - (endRecords ? 2 : 1);
    ASSERT_GE(closing, 3u) << types << " " << directory->Path();
    ASSERT_EQ(types, "S" + std::string(closing, 'I') + (endRecords ? "E" : "")) << directory->Path();
    for (const Record& record : records) ExpectHookRecordOfTheHost(record);
    EXPECT_EQ(records[0][kIntervalStart], "-");
    // The first interval begins at the start record's refresh; the timer's
    // k-th record comes k whole intervals after it, never earlier.
    const std::int64_t started = Milliseconds(records[1][kIntervalStart]);
    for (std::size_t k = 1; k < closing; ++k) {
      const std::int64_t elapsed = Milliseconds(records[k][kIntervalEnd]) - started;
      EXPECT_GE(elapsed, 2000 * static_cast<std::int64_t>(k) - kClockStep) << records[k][kIntervalEnd];
      EXPECT_LE(elapsed, 2000 * static_cast<std::int64_t>(k) + 1000) << records[k][kIntervalEnd];
      if (k > 1) {
        EXPECT_EQ(records[k][kIntervalStart], records[k - 1][kIntervalEnd]);
      }
    }
    // The closing interval record covers the time since the last one.
    EXPECT_EQ(records[closing][kIntervalStart], records[closing - 1][kIntervalEnd]);
    EXPECT_LT(IntervalMilliseconds(records[closing]), 2000);
    if (endRecords) {
      EXPECT_NE(records[closing + 1][kExitTime], "-");
      EXPECT_EQ(records[closing + 1][kIntervalStart], "-");
    }
  }
}

TEST(HookCollector, ManyHostsAndTheServiceWriterShareOneFileWithoutLosingLines) {
  constexpr int kHosts = 6;
  constexpr int kServiceWriters = 2;
  constexpr int kServiceRecords = 150;
  ScratchDirectory directory("hook-shared");
  SettingsKey settings;
  settings.Set("LogFilePath", directory.Path());
  settings.Set("AccountingInterval", "1");
  settings.Set("WriteIntervalEndRecords", "YES");

  // The service's writer: every column, 32 fields.
  test::NamedEvent start("quax-hook-append-" + std::to_string(GetCurrentProcessId()));
  std::string child = QUAX_TEST_CHILD;
  std::replace(child.begin(), child.end(), '/', '\\');
  std::vector<test::ChildProcess> writers;
  for (int i = 0; i < kServiceWriters; ++i) {
    writers.push_back(test::StartChild("\"Z:" + child + "\" append \"" + directory.Path() + "\" " +
                                       std::to_string(kServiceRecords) + " " + start.Name));
  }
  std::vector<std::unique_ptr<Host>> hosts;
  for (int i = 0; i < kHosts; ++i) {
    hosts.push_back(
        std::make_unique<Host>(Library("quaxcolhook"), i % 2 == 0 ? HostEnd::Unload : HostEnd::ProcessExit));
    ASSERT_TRUE(hosts.back()->loaded);
  }
  SetEvent(start.Handle.get());
  Sleep(2500);
  for (auto& host : hosts) host->End();
  for (auto& host : hosts) host->ExpectItEndedAsAsked();
  std::map<std::string, int> serviceRecords;
  for (test::ChildProcess& writer : writers) {
    EXPECT_EQ(test::WaitForExitCode(writer, 60000), 0u);  // failed writes
    serviceRecords[std::to_string(writer.ProcessId)] = 0;
  }

  const std::vector<std::string> lines = LogLines(directory);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("RecordType\t", 0), 0u);
  std::size_t hookLines = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const Record fields = SplitFields(lines[i], '\t');
    ASSERT_GT(fields.size(), kPid) << "line " << i + 1 << ": " << lines[i];
    if (serviceRecords.count(fields[kPid]) != 0) {
      EXPECT_EQ(fields.size(), kServiceFieldCount) << "line " << i + 1 << ": " << lines[i];
      ++serviceRecords[fields[kPid]];
    } else {
      EXPECT_EQ(fields.size(), kHookFieldCount) << "line " << i + 1 << ": " << lines[i];
      ++hookLines;
    }
  }
  for (const auto& [processId, records] : serviceRecords) EXPECT_EQ(records, kServiceRecords) << processId;
  std::size_t hostRecords = 0;
  for (auto& host : hosts) {
    const std::string types = Types(RecordsOf(lines, host->Id()));
    // Start, at least one timer record, the closing interval and end records.
    EXPECT_EQ(types.front(), 'S') << types;
    EXPECT_GE(types.size(), 4u) << types;
    EXPECT_EQ(types.substr(types.size() - 2), "IE") << types;
    EXPECT_EQ(types.find_first_not_of("I", 1), types.size() - 1) << types;
    hostRecords += types.size();
  }
  EXPECT_EQ(hookLines, hostRecords);
}

TEST(HookCollector, MissingLogDirectoryReportsOneErrorPerRecordAndTheHostRunsOn) {
  ScratchDirectory directory("hook-missing");
  const std::string absent = directory.Path() + "\\absent";
  const std::string eventFile = directory.Path() + "\\events.txt";
  SettingsKey settings;
  settings.Set("LogFilePath", absent);
  settings.Set("WriteIntervalEndRecords", "YES");
  // No AccountingInterval: the library's own default of 60 s applies, so
  // the test sees the start record and, at detach, the closing ones.
  ASSERT_TRUE(SetEnvironmentVariableA("QUAX_HOOK_EVENT_FILE", eventFile.c_str()));
  Host host(Library("quaxcolhook_seamed"), HostEnd::Unload);
  SetEnvironmentVariableA("QUAX_HOOK_EVENT_FILE", nullptr);
  ASSERT_TRUE(host.loaded);
  for (int wait = 0; wait < 100 && ReadLines(eventFile).empty(); ++wait) Sleep(50);
  ASSERT_EQ(ReadLines(eventFile).size(), 1u);  // the start record's
  host.End();
  host.ExpectItEndedAsAsked();

  SYSTEMTIME today;
  GetLocalTime(&today);
  char date[16];
  FormatText(date, sizeof date, "%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
  const std::string expected = "QUAX|1|4|3758096387|QUAXWINPROCESS: Unable to open log file '" + absent +
                               "\\QUAXProcessLog-" + date + ".txt' for pid#" + host.Id() + " (quax_hook_host.exe)";
  // Start, interval and end record: one ERROR event each.
  EXPECT_EQ(ReadLines(eventFile), std::vector<std::string>(3, expected));
  EXPECT_EQ(GetFileAttributesA(absent.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(HookCollector, ProcessExitDuringABlockedRecordIsNotHeldUpByTheWritersRetries) {
  ScratchDirectory directory("hook-busy");
  SettingsKey settings;
  settings.Set("LogFilePath", directory.Path());
  settings.Set("AccountingInterval", "1");
  settings.Set("WriteIntervalEndRecords", "YES");
  Host host(Library("quaxcolhook"), HostEnd::ProcessExit);
  ASSERT_TRUE(host.loaded);
  for (int wait = 0; wait < 100 && directory.FileNames().empty(); ++wait) Sleep(20);
  const std::vector<std::string> files = directory.FileNames();
  ASSERT_EQ(files.size(), 1u);  // the start record's file
  // Another writer holds the file, so the first timer record sits in the
  // writer's retries (up to 15 s) when the process ends.
  unique_handle busy(CreateFileA((directory.Path() + "\\" + files[0]).c_str(), GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(busy);
  Sleep(1500);
  const DWORD ending = GetTickCount();
  host.End();
  host.ExpectItEndedAsAsked();
  // The worker died inside its record and its handle keeps the file until
  // the process is gone: the closing records try without pausing.
  EXPECT_LT(GetTickCount() - ending, 3000u);
}

TEST(HookCollector, AnUnloadThatTheStartReferenceLetsHappenWaitsForTheWorkersLastStep) {
  // The host frees the library while the worker writes its start record, so
  // the worker's own release of the start reference unloads it. The test
  // build holds the worker just after that release has begun: the unload
  // must not end the worker inside it.
  ScratchDirectory directory("hook-handover");
  const std::string steps = directory.Path() + "\\steps.txt";
  test::NamedEvent handover("quax-hook-handover-" + std::to_string(GetCurrentProcessId()));
  SettingsKey settings;
  settings.Set("LogFilePath", directory.Path());
  settings.Set("AccountingInterval", "60");
  settings.Set("WriteIntervalEndRecords", "YES");
  ASSERT_TRUE(SetEnvironmentVariableA("QUAX_HOOK_HANDOVER", (handover.Name + "|" + steps).c_str()));
  Host host(Library("quaxcolhook_seamed"), HostEnd::Unload);
  SetEnvironmentVariableA("QUAX_HOOK_HANDOVER", nullptr);
  ASSERT_TRUE(host.loaded);
  host.End();
  ASSERT_TRUE(host.WaitUntilFreed());
  SetEvent(handover.Handle.get());

  std::vector<Record> records;
  const ULONGLONG deadline = GetTickCount64() + 20000;
  while (Types(records) != "SIE" && GetTickCount64() < deadline) {
    Sleep(50);
    const std::string log = LogFileName(directory);
    if (!log.empty()) records = RecordsOf(ReadLines(directory.Path() + "\\" + log), host.Id());
  }
  EXPECT_EQ(Types(records), "SIE");
  EXPECT_EQ(ReadLines(steps), std::vector<std::string>{"handed over"});
  host.ExpectItEndedAsAsked();
}

TEST(HookCollector, LoadingAndUnloadingAtAnyMomentNeverHangsAndClosesEveryAttach) {
  constexpr int kCycles = 9;  // one round of the host's hold times, 4.4 s in all
  ScratchDirectory directory("hook-cycle");
  SettingsKey settings;
  settings.Set("LogFilePath", directory.Path());
  settings.Set("AccountingInterval", "1");
  settings.Set("WriteIntervalEndRecords", "YES");
  const DWORD began = GetTickCount();
  test::ChildProcess host = test::StartChild("\"" + test::BinaryDirectory() + "\\quax_hook_host.exe\" \"" +
                                             Library("quaxcolhook") + "\" - cycle " + std::to_string(kCycles));
  EXPECT_EQ(test::WaitForExitCode(host, 60000), 0u);
  // No unload waited for a worker that needed the loader lock.
  EXPECT_LT(GetTickCount() - began, 12000u);

  // An unload asked for during the start record takes effect right after
  // it, so a reload in between finds the library still loaded; but every
  // attach writes its start record and is closed by interval and end record.
  const std::vector<Record> records = RecordsOf(LogLines(directory), std::to_string(host.ProcessId));
  const std::string types = Types(records);
  EXPECT_TRUE(std::regex_match(types, std::regex("(SI+E)+"))) << types;
  EXPECT_GE(std::count(types.begin(), types.end(), 'E'), 2) << types;
  for (const Record& record : records) ExpectHookRecordOfTheHost(record);
}

}  // namespace
}  // namespace quax
