#include "process_logger.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "process_info.h"
#include "test_support.h"

namespace quax {
namespace {

using test::CapturedEvents;
using test::CapturedTrace;
using test::ReadLines;
using test::ScratchDirectory;
using test::SplitFields;

// The clock and the retry pause of the writer, under test control.
SYSTEMTIME g_now;
int g_pauses;
void (*g_onPause)(int pause);

void WINAPI FakeLocalTime(SYSTEMTIME* now) { *now = g_now; }
void WINAPI FakePause(DWORD milliseconds) {
  EXPECT_EQ(milliseconds, 500u);
  ++g_pauses;
  if (g_onPause != nullptr) g_onPause(g_pauses);
}

class LogWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = {2026, 12, 0, 6, 21, 46, 19, 87};
    g_pauses = 0;
    g_onPause = nullptr;
    self.SetProcessId(GetCurrentProcessId());
    ASSERT_TRUE(self.Refresh());
    writer.SetPlatform({&FakeLocalTime, &FakePause});
    writer.SetLogFilePath(directory.Path().c_str());
    writer.SetWriteIntervalEndRecords(true);
  }

  std::string FileOf(const char* date, const char* prefix = "QUAXProcessLog-", const char* extension = ".txt") {
    return directory.Path() + "\\" + prefix + date + extension;
  }

  ScratchDirectory directory{"logwriter"};
  CProcessInfo self;
  CProcessLoggerCSV writer;
};

TEST_F(LogWriter, NewFileGetsTheHeaderOnceThenRecords) {
  ASSERT_TRUE(writer.WriteProcessEntry('S', &self));
  ASSERT_TRUE(self.Refresh());
  ASSERT_TRUE(writer.WriteProcessEntry('I', &self));
  ASSERT_TRUE(writer.WriteProcessEntry('E', &self));

  const std::vector<std::string> lines = ReadLines(FileOf("20261206"));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].substr(0, 33), "RecordType\tProcessId\tParentProces");
  const char types[] = {'S', 'I', 'E'};
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> fields = SplitFields(lines[i], '\t');
    ASSERT_EQ(fields.size(), kFieldCount) << lines[i];
    EXPECT_EQ(fields[0], std::string(1, types[i - 1]));
    EXPECT_EQ(fields[1], std::to_string(GetCurrentProcessId()));
    EXPECT_EQ(fields[3], "collector_tests.exe");
  }
  // The running process's end record has no exit, the interval record has
  // its interval.
  EXPECT_EQ(SplitFields(lines[3], '\t')[9], "-");
  EXPECT_NE(SplitFields(lines[2], '\t')[11], "-");
}

TEST_F(LogWriter, EndRecordsAreDroppedWhileSwitchedOff) {
  writer.SetWriteIntervalEndRecords(false);
  EXPECT_TRUE(writer.WriteProcessEntry('E', &self));
  EXPECT_TRUE(directory.FileNames().empty());
  EXPECT_TRUE(writer.WriteProcessEntry('I', &self));
  EXPECT_EQ(ReadLines(FileOf("20261206")).size(), 2u);
}

TEST_F(LogWriter, SnapshotWithoutNameWritesNothing) {
  CProcessInfo unnamed;
  EXPECT_TRUE(writer.WriteProcessEntry('S', &unnamed));
  EXPECT_TRUE(directory.FileNames().empty());
  EXPECT_FALSE(writer.WriteProcessEntry('X', &self));
  EXPECT_FALSE(writer.WriteProcessEntry('S', nullptr));
}

TEST_F(LogWriter, DayBoundarySplitsFiles) {
  g_now = {2026, 12, 0, 6, 23, 59, 59, 999};
  ASSERT_TRUE(writer.WriteProcessEntry('S', &self));
  g_now = {2026, 12, 0, 7, 0, 0, 0, 0};
  ASSERT_TRUE(writer.WriteProcessEntry('S', &self));
  EXPECT_EQ(ReadLines(FileOf("20261206")).size(), 2u);
  EXPECT_EQ(ReadLines(FileOf("20261207")).size(), 2u);
}

TEST_F(LogWriter, TrailingBackslashOfTheDirectoryIsDropped) {
  writer.SetLogFilePath((directory.Path() + "\\").c_str());
  ASSERT_TRUE(writer.WriteProcessEntry('S', &self));
  EXPECT_EQ(ReadLines(FileOf("20261206")).size(), 2u);
}

TEST_F(LogWriter, PrefixExtensionAndDelimiter) {
  EXPECT_EQ(writer.SetLogFilePrefix("acct-"), 6u);
  EXPECT_EQ(writer.SetLogFileExtension(".log"), 5u);
  writer.SetLogFileFieldDelimiter(',');
  ASSERT_TRUE(writer.WriteProcessEntry('S', &self));
  const std::vector<std::string> lines = ReadLines(FileOf("20261206", "acct-", ".log"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 21), "RecordType,ProcessId,");
  EXPECT_EQ(SplitFields(lines[1], ',').size(), kFieldCount);

  // Null and empty prefixes mean the default; an empty extension gives none.
  writer.SetLogFilePrefix("");
  writer.SetLogFileExtension("");
  ASSERT_TRUE(writer.WriteProcessEntry('S', &self));
  EXPECT_EQ(ReadLines(FileOf("20261206", "QUAXProcessLog-", "")).size(), 2u);
  writer.SetLogFilePrefix(nullptr);
  writer.SetLogFileExtension(nullptr);
  ASSERT_TRUE(writer.WriteProcessEntry('S', &self));
  EXPECT_EQ(ReadLines(FileOf("20261206")).size(), 2u);
}

TEST_F(LogWriter, ADelimiterThatOtherFieldsHoldIsNotTaken) {
  writer.SetLogFileFieldDelimiter(';');
  writer.SetLogFileFieldDelimiter('5');  // would split every number and date
  ASSERT_TRUE(writer.WriteProcessEntry('S', &self));
  const std::vector<std::string> lines = ReadLines(FileOf("20261206"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(SplitFields(lines[0], ';').size(), kFieldCount);
  EXPECT_EQ(SplitFields(lines[1], ';').size(), kFieldCount);
}

TEST_F(LogWriter, OverlongSettingsAreCutNotOverrun) {
  const std::string longPrefix(400, 'p');
  EXPECT_EQ(writer.SetLogFilePrefix(longPrefix.c_str()), kTextFieldSize);
  EXPECT_EQ(writer.SetLogFileExtension(longPrefix.c_str()), kTextFieldSize);
  writer.SetLogFilePath(longPrefix.c_str());
  EXPECT_FALSE(writer.IsLogFilePathValid());
}

TEST_F(LogWriter, UnopenableFileIsRetriedThenReported) {
  CapturedTrace trace;
  CapturedEvents events;
  CServiceEventLog log;
  log.SetLabel("QUAXWINPROCESS");
  writer.SetEventLog(&log);
  const std::string missing = directory.Path() + "\\missing";
  writer.SetLogFilePath(missing.c_str());

  EXPECT_FALSE(writer.WriteProcessEntry('S', &self));
  EXPECT_EQ(g_pauses, 29);  // 30 attempts
  const std::string fileName = missing + "\\QUAXProcessLog-20261206.txt";
  EXPECT_TRUE(trace.Contains("\nQUAXWINPROCESS: CProcessLoggerCSV::WriteProcessEntry: Unable to open file '" +
                             fileName + "'"));
  ASSERT_EQ(events.Events().size(), 1u);
  EXPECT_EQ(events.Events()[0].Strings[0], "QUAXWINPROCESS: Unable to open log file '" + fileName + "' for pid#" +
                                               std::to_string(GetCurrentProcessId()) + " (collector_tests.exe)");

  // Without an event log only the trace tells.
  writer.SetEventLog(nullptr);
  EXPECT_FALSE(writer.WriteProcessEntry('S', &self));
  EXPECT_EQ(events.Events().size(), 1u);
}

unique_handle g_busy;

TEST_F(LogWriter, BusyFileIsWaitedForAndNeverDestroyed) {
  const std::string file = FileOf("20261206");
  ASSERT_TRUE(writer.WriteProcessEntry('S', &self));
  // Another writer holds the file exclusively for three retry pauses.
  g_busy.reset(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(g_busy);
  g_onPause = [](int pause) {
    if (pause == 3) g_busy.reset();
  };
  ASSERT_TRUE(writer.WriteProcessEntry('E', &self));
  EXPECT_EQ(g_pauses, 3);
  const std::vector<std::string> lines = ReadLines(file);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(0, 10), "RecordType");
  EXPECT_EQ(lines[1][0], 'S');
  EXPECT_EQ(lines[2][0], 'E');
}

TEST_F(LogWriter, EmptyExistingFileGetsTheHeader) {
  const std::string file = FileOf("20261206");
  unique_handle(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  ASSERT_TRUE(writer.WriteProcessEntry('S', &self));
  const std::vector<std::string> lines = ReadLines(file);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 10), "RecordType");
}

TEST_F(LogWriter, TracesEachWrite) {
  CapturedTrace trace;
  ASSERT_TRUE(writer.WriteProcessEntry('S', &self));
  ASSERT_TRUE(writer.WriteProcessEntry('I', &self));
  const std::string scope = "\nQUAXWINPROCESS: CProcessLoggerCSV::WriteProcessEntry: ";
  const std::string pid = std::to_string(GetCurrentProcessId());
  const std::vector<std::string> expected = {
      scope + "Pid=" + pid + ", RecType='S', FileName='" + FileOf("20261206") + "'",
      scope + "Writing header record",
      scope + "Write completed.",
      scope + "Pid=" + pid + ", RecType='I', FileName='" + FileOf("20261206") + "'",
      scope + "Write completed.",
  };
  EXPECT_EQ(trace.Lines(), expected);
}

TEST(LogWriterLifetime, ConstructionAndDestructionAreTraced) {
  CapturedTrace trace;
  { CProcessLoggerCSV writer; }
  const std::vector<std::string> expected = {
      "\nQUAXWINPROCESS: CProcessLoggerCSV ctor: Entered",
      "\nQUAXWINPROCESS: CProcessLoggerCSV ctor: Exited",
      "\nQUAXWINPROCESS: CProcessLoggerCSV dtor: Entered",
      "\nQUAXWINPROCESS: CProcessLoggerCSV dtor: Exited",
  };
  EXPECT_EQ(trace.Lines(), expected);
}

TEST(LogDirectory, OnlyAnExistingDirectoryIsValid) {
  ScratchDirectory directory("logdir");
  CProcessLoggerCSV writer;
  EXPECT_FALSE(writer.IsLogFilePathValid());  // empty
  writer.SetLogFilePath(directory.Path().c_str());
  EXPECT_TRUE(writer.IsLogFilePathValid());
  writer.SetLogFilePath((directory.Path() + "\\").c_str());
  EXPECT_TRUE(writer.IsLogFilePathValid());
  writer.SetLogFilePath((directory.Path() + "\\absent").c_str());
  EXPECT_FALSE(writer.IsLogFilePathValid());
  const std::string plainFile = directory.Path() + "\\plain.txt";
  unique_handle(CreateFileA(plainFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  writer.SetLogFilePath(plainFile.c_str());
  EXPECT_FALSE(writer.IsLogFilePathValid());
  writer.SetLogFilePath(nullptr);
  EXPECT_FALSE(writer.IsLogFilePathValid());
}

TEST(LogWriterConcurrency, ManyProcessesAppendToOneFileWithoutLosingLines) {
  constexpr int kWriters = 8;
  constexpr int kRecords = 250;
  ScratchDirectory directory("concurrent");
  test::NamedEvent start("quax-append-start-" + std::to_string(GetCurrentProcessId()));
  std::vector<test::ChildProcess> children;
  for (int i = 0; i < kWriters; ++i) {
    children.push_back(test::StartChild("\"" + test::BinaryDirectory() + "\\quax_test_child.exe\" append \"" +
                                        directory.Path() + "\" " + std::to_string(kRecords) + " " + start.Name));
  }
  Sleep(500);  // let every child reach the start line
  const auto began = std::chrono::steady_clock::now();
  SetEvent(start.Handle.get());
  std::map<std::string, int> recordsPerProcess;
  for (test::ChildProcess& child : children) {
    ASSERT_EQ(WaitForSingleObject(child.Process.get(), 120000), WAIT_OBJECT_0);
    DWORD failures = 1;
    GetExitCodeProcess(child.Process.get(), &failures);
    EXPECT_EQ(failures, 0u);
    recordsPerProcess[std::to_string(child.ProcessId)] = 0;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

  const std::vector<std::string> files = directory.FileNames();
  ASSERT_GE(files.size(), 1u);
  std::size_t lineCount = 0;
  for (const std::string& name : files) {
    const std::vector<std::string> lines = ReadLines(directory.Path() + "\\" + name);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].substr(0, 10), "RecordType");
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const std::vector<std::string> fields = SplitFields(lines[i], '\t');
      ASSERT_EQ(fields.size(), kFieldCount) << name << " line " << i + 1 << ": " << lines[i];
      ++recordsPerProcess[fields[1]];
    }
    lineCount += lines.size() - 1;
  }
  for (const auto& [processId, records] : recordsPerProcess) {
    EXPECT_EQ(records, kRecords) << "process " << processId;
  }
  EXPECT_EQ(lineCount, std::size_t{kWriters} * kRecords);
  std::printf("[ figure   ] %d writers x %d records: %zu lines in %zu file(s), %.2f s\n", kWriters, kRecords,
              lineCount, files.size(), seconds);
}

}  // namespace
}  // namespace quax
