#include "usage_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace quax {
namespace {

constexpr char kHeader32[] =
    "RecordType\tProcessId\tParentProcessId\tProcessName\tProcessPath\tMachineName\tUserName\t"
    "TerminalServicesSessionID\tCreateDateTime\tExitDateTime\tExitCode\tIntervalStartDateTime\t"
    "IntervalEndDateTime\tElapsedTimeSecs\tCPUTimeSecs\tKernelCPUTimeSecs\tUserCPUTimeSecs\t"
    "ReadRequests\tKBytesRead\tWriteRequests\tKBytesWritten\tPageFaultCount\tWorkingSetSizeKB\t"
    "PeakWorkingSetSizeKB\tPagefileUsageKB\tPeakPagefileUsageKB\tPriorityClass\tBasePriority\t"
    "SystemProcessorCount\tEligibleProcessorCount\tAffinityMask\tQUAXUProjectName\r\n";

ProcessFigures SampleFigures() {
  ProcessFigures f;
  f.ProcessId = 4242;
  f.ParentProcessId = 17;
  CopyText(f.ProcessName, "app.exe");
  CopyText(f.ImageDirectory, "C:\\Tools");
  CopyText(f.MachineName, "BILLING01");
  CopyText(f.UserName, "CORP\\alice");
  CopyText(f.ProjectName, "P-7");
  f.SessionId = 1;
  f.ExitCode = 3;
  f.ElapsedSeconds = {12.015625, 2.5};
  f.CpuSeconds = {1.5, 0.25};
  f.KernelSeconds = {0.5, 0.125};
  f.UserSeconds = {1.0, 0.125};
  f.ReadOperations = {1000, 400};
  f.BytesRead = {10 * 1024 + 1023, 2 * 1024};
  f.WriteOperations = {50, 50};
  f.BytesWritten = {4096, 1024};
  f.PageFaults = {900, 100};
  f.WorkingSet = 1023;
  f.PeakWorkingSet = 8192 * 1024;
  f.PagefileUsage = 2048;
  f.PeakPagefileUsage = 4096 * 1024;
  f.PriorityClass = 0x4000;
  f.BasePriority = 6;
  f.SystemProcessorCount = 4;
  f.EligibleProcessorCount = 2;
  f.AffinityMask = 5;
  return f;
}

RecordDates SampleDates() {
  RecordDates d;
  d.Created = {12, 6, 2026, 21, 46, 19, 87};
  d.Exited = {12, 6, 2026, 22, 0, 0, 5};
  d.IntervalStart = {12, 6, 2026, 21, 50, 0, 0};
  d.IntervalEnd = {12, 6, 2026, 21, 51, 0, 0};
  return d;
}

std::string Record(RecordType type, const ProcessFigures& f, const RecordDates& d, bool running,
                   char delimiter = '\t', RecordColumns columns = RecordColumns::WithProject) {
  char line[kMaxRecordLineSize];
  const std::size_t length = FormatUsageRecord(line, sizeof line, type, f, d, running, delimiter, columns);
  return std::string(line, length);
}

TEST(UsageRecord, HeaderNamesThe32FieldsInOrder) {
  char line[512];
  const std::size_t length = FormatHeaderRecord(line, sizeof line, '\t', RecordColumns::WithProject);
  EXPECT_EQ(std::string(line, length), kHeader32);
}

TEST(UsageRecord, InProcessHeaderEndsWithAffinityMask) {
  char line[512];
  const std::size_t length = FormatHeaderRecord(line, sizeof line, ',', RecordColumns::WithoutProject);
  const std::string header(line, length);
  EXPECT_EQ(header.substr(0, 22), "RecordType,ProcessId,P");
  EXPECT_EQ(header.substr(header.size() - 15), ",AffinityMask\r\n");
}

TEST(UsageRecord, StartRecordCarriesTotalsAndDashes) {
  EXPECT_EQ(Record(RecordType::Start, SampleFigures(), SampleDates(), true),
            "S\t4242\t17\tapp.exe\tC:\\Tools\tBILLING01\tCORP\\alice\t1\t20261206 21:46:19.087\t-\t-\t-\t-\t"
            "12.015625\t1.500000\t0.500000\t1.000000\t1000\t10\t50\t4\t900\t0\t-\t2\t-\t"
            "BelowNormal\t6\t4\t2\t5\tP-7\r\n");
}

TEST(UsageRecord, IntervalRecordCarriesDeltasAndIntervalTimes) {
  EXPECT_EQ(Record(RecordType::Interval, SampleFigures(), SampleDates(), true),
            "I\t4242\t17\tapp.exe\tC:\\Tools\tBILLING01\tCORP\\alice\t1\t20261206 21:46:19.087\t-\t-\t"
            "20261206 21:50:00.000\t20261206 21:51:00.000\t"
            "9.515625\t1.250000\t0.375000\t0.875000\t600\t8\t0\t3\t800\t0\t-\t2\t-\t"
            "BelowNormal\t6\t4\t2\t5\tP-7\r\n");
}

TEST(UsageRecord, EndRecordOfEndedProcessCarriesExitAndPeaks) {
  EXPECT_EQ(Record(RecordType::End, SampleFigures(), SampleDates(), false),
            "E\t4242\t17\tapp.exe\tC:\\Tools\tBILLING01\tCORP\\alice\t1\t20261206 21:46:19.087\t"
            "20261206 22:00:00.005\t3\t-\t-\t"
            "12.015625\t1.500000\t0.500000\t1.000000\t1000\t10\t50\t4\t900\t0\t8192\t2\t4096\t"
            "BelowNormal\t6\t4\t2\t5\tP-7\r\n");
}

TEST(UsageRecord, EndRecordOfRunningProcessHasNoExitButPeaks) {
  const std::string line = Record(RecordType::End, SampleFigures(), SampleDates(), true);
  EXPECT_NE(line.find("\t20261206 21:46:19.087\t-\t-\t-\t-\t12.015625\t"), std::string::npos) << line;
  EXPECT_NE(line.find("\t0\t8192\t2\t4096\t"), std::string::npos) << line;
}

TEST(UsageRecord, ZeroCreationTimeIsWrittenAsZerosButZeroExitTimeAsDash) {
  RecordDates dates;  // all zero: nothing could be converted
  const std::string line = Record(RecordType::End, SampleFigures(), dates, false);
  EXPECT_NE(line.find("\t1\t00000000 00:00:00.000\t-\t3\t-\t-\t"), std::string::npos) << line;
}

TEST(UsageRecord, IntervalTimesOfZeroAreDashes) {
  RecordDates dates = SampleDates();
  dates.IntervalStart = {};
  const std::string line = Record(RecordType::Interval, SampleFigures(), dates, true);
  EXPECT_NE(line.find("\t-\t-\t-\t20261206 21:51:00.000\t"), std::string::npos) << line;
}

TEST(UsageRecord, KilobytesDropTheRemainder) {
  ProcessFigures f = SampleFigures();
  f.WorkingSet = 1023;
  EXPECT_NE(Record(RecordType::Start, f, SampleDates(), true).find("\t900\t0\t-\t"), std::string::npos);
  f.WorkingSet = 1024;
  EXPECT_NE(Record(RecordType::Start, f, SampleDates(), true).find("\t900\t1\t-\t"), std::string::npos);
  // Above 4 GiB the KB value is still exact.
  f.WorkingSet = std::uint64_t{6} << 30;
  EXPECT_NE(Record(RecordType::Start, f, SampleDates(), true).find("\t900\t6291456\t-\t"), std::string::npos);
}

TEST(UsageRecord, CountersUseTheirLow32Bits) {
  ProcessFigures f = SampleFigures();
  f.ReadOperations = {(std::uint64_t{1} << 32) + 7, 0};
  f.PageFaults = {5, 0xFFFFFFFEu};  // wrapped between two refreshes
  const std::string start = Record(RecordType::Start, f, SampleDates(), true);
  EXPECT_NE(start.find("\t1.000000\t7\t10\t"), std::string::npos) << start;
  const std::string interval = Record(RecordType::Interval, f, SampleDates(), true);
  EXPECT_NE(interval.find("\t0\t3\t7\t0\t-\t"), std::string::npos) << interval;
}

std::size_t Count(const std::string& line, char c) {
  std::size_t count = 0;
  for (char each : line) count += each == c;
  return count;
}

TEST(UsageRecord, TextsNeverHoldTheDelimiterOrALineEnd) {
  ProcessFigures f = SampleFigures();
  CopyText(f.ProcessName, "a,b.exe");
  CopyText(f.ImageDirectory, "C:\\dir, with comma");
  CopyText(f.MachineName, "HOST\r\n");
  CopyText(f.UserName, "CORP\\al\nice");
  CopyText(f.ProjectName, "P,7;x");
  const std::string line = Record(RecordType::Start, f, SampleDates(), true, ',');
  EXPECT_EQ(line.substr(0, 67), "S,4242,17,a_b.exe,C:\\dir_ with comma,HOST__,CORP\\al_ice,1,20261206 ");
  EXPECT_EQ(line.substr(line.size() - 8), ",P_7;x\r\n");
  EXPECT_EQ(Count(line, ','), kFieldCount - 1);
  EXPECT_EQ(Count(line, '\n'), 1u);

  // Texts keep whatever is not the delimiter: the tab of a comma file.
  CopyText(f.ProjectName, "tab\there");
  EXPECT_NE(Record(RecordType::Start, f, SampleDates(), true, ',').find(",tab\there\r\n"), std::string::npos);
}

TEST(UsageRecord, WithAnUnderscoreDelimiterTextsGetSpaces) {
  ProcessFigures f = SampleFigures();
  CopyText(f.ProcessName, "quax_hook_host.exe");
  CopyText(f.ProjectName, "a_b\r\n");
  const std::string line = Record(RecordType::End, f, SampleDates(), false, '_', RecordColumns::WithoutProject);
  EXPECT_EQ(line.substr(0, 29), "E_4242_17_quax hook host.exe_");
  EXPECT_EQ(Count(line, '_'), kFieldCount - 2);
  const std::string withProject = Record(RecordType::End, f, SampleDates(), false, '_');
  EXPECT_EQ(withProject.substr(withProject.size() - 8), "_a b  \r\n");
  EXPECT_EQ(Count(withProject, '_'), kFieldCount - 1);
}

TEST(UsageRecord, DelimitersThatOtherFieldsHoldAreRefused) {
  // Digits, letters and the characters of dates, seconds and "-" appear in
  // fields that cannot be changed; a line end or NUL cannot separate fields.
  for (char delimiter : {'0', '7', 'a', 'S', 'N', ' ', '-', '.', ':', '\r', '\n', '\0'}) {
    EXPECT_FALSE(IsUsableDelimiter(delimiter)) << int{delimiter};
    char line[kMaxRecordLineSize];
    EXPECT_EQ(FormatUsageRecord(line, sizeof line, RecordType::Start, SampleFigures(), SampleDates(), true,
                                delimiter, RecordColumns::WithProject),
              0u)
        << int{delimiter};
    EXPECT_EQ(FormatHeaderRecord(line, sizeof line, delimiter, RecordColumns::WithProject), 0u) << int{delimiter};
  }
  for (char delimiter : {'\t', ',', ';', '|', '_', '\\', '\x01', '\xa6'}) {
    EXPECT_TRUE(IsUsableDelimiter(delimiter)) << int{delimiter};
    const std::string line = Record(RecordType::Interval, SampleFigures(), SampleDates(), true, delimiter);
    EXPECT_EQ(Count(line, delimiter), kFieldCount - 1) << int{delimiter};
  }
}

TEST(UsageRecord, InProcessRecordLeavesOutTheProject) {
  const std::string line =
      Record(RecordType::Start, SampleFigures(), SampleDates(), true, '\t', RecordColumns::WithoutProject);
  const std::string tail = "\tBelowNormal\t6\t4\t2\t5\r\n";
  EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
  EXPECT_EQ(line.find("P-7"), std::string::npos);
  std::size_t tabs = 0;
  for (char c : line) tabs += c == '\t';
  EXPECT_EQ(tabs, kFieldCount - 2);
}

TEST(UsageRecord, LongestTextsStillFitTheLineBound) {
  ProcessFigures f = SampleFigures();
  const std::string longText(kTextFieldSize - 1, 'x');
  for (char* field : {f.ProcessName, f.ImageDirectory, f.MachineName, f.UserName, f.ProjectName}) {
    CopyText(field, kTextFieldSize, longText.c_str());
  }
  f.ElapsedSeconds = {SecondsFromTicks(~std::uint64_t{0}), 0.0};
  f.CpuSeconds = {0.0, SecondsFromTicks(~std::uint64_t{0})};
  char line[kMaxRecordLineSize];
  EXPECT_GT(FormatUsageRecord(line, sizeof line, RecordType::Interval, f, SampleDates(), false, '\t',
                              RecordColumns::WithProject),
            5 * longText.size());
}

TEST(UsageRecord, TooSmallBufferFailsInsteadOfCutting) {
  char line[64];
  EXPECT_EQ(FormatUsageRecord(line, sizeof line, RecordType::Start, SampleFigures(), SampleDates(), true,
                              '\t', RecordColumns::WithProject),
            0u);
  EXPECT_EQ(FormatHeaderRecord(line, sizeof line, '\t', RecordColumns::WithProject), 0u);
}

TEST(UsageRecord, PriorityClassNames) {
  EXPECT_STREQ(PriorityClassName(0x20), "Normal");
  EXPECT_STREQ(PriorityClassName(0x40), "Idle");
  EXPECT_STREQ(PriorityClassName(0x80), "HighPriority");
  EXPECT_STREQ(PriorityClassName(0x100), "Realtime");
  EXPECT_STREQ(PriorityClassName(0x4000), "BelowNormal");
  EXPECT_STREQ(PriorityClassName(0x8000), "AboveNormal");
  EXPECT_STREQ(PriorityClassName(0), "Unknown");
  EXPECT_STREQ(PriorityClassName(0x21), "Unknown");
}

TEST(LogDateTime, PadsEveryPart) {
  char text[32];
  ASSERT_EQ(FormatLogDateTime(text, sizeof text, {1, 2, 7, 3, 4, 5, 6}), 21u);
  EXPECT_STREQ(text, "00070102 03:04:05.006");
  EXPECT_EQ(FormatLogDateTime(text, 21, {1, 2, 2026, 3, 4, 5, 6}), 0u);
}

TEST(LogFileName, DirectoryPrefixDateAndExtension) {
  char name[128];
  ASSERT_TRUE(FormatLogFileName(name, sizeof name, "C:\\Logs", "QUAXProcessLog-", 2026, 12, 6, ".txt"));
  EXPECT_STREQ(name, "C:\\Logs\\QUAXProcessLog-20261206.txt");
  ASSERT_TRUE(FormatLogFileName(name, sizeof name, "", "p", 2027, 1, 1, ""));
  EXPECT_STREQ(name, "\\p20270101");
}

TEST(LogFileName, TooLongLeavesOutputUntouched) {
  char name[16] = "unchanged";
  EXPECT_FALSE(FormatLogFileName(name, sizeof name, "C:\\Logs", "QUAXProcessLog-", 2026, 12, 6, ".txt"));
  EXPECT_STREQ(name, "unchanged");
}

TEST(Seconds, WholeSecondsPlusRemainingTicks) {
  EXPECT_EQ(SecondsFromTicks(0), 0.0);
  EXPECT_DOUBLE_EQ(SecondsFromTicks(120'156'250), 12.015625);
  EXPECT_DOUBLE_EQ(SecondsFromTicks(1), 1e-7);
  EXPECT_EQ(SecondsBetween(500, 500), 0.0);
  EXPECT_DOUBLE_EQ(SecondsBetween(30'000'000 + 77, 77), 3.0);
  EXPECT_EQ(SecondsBetween(77, 30'000'000), 0.0);  // clock set back
}

}  // namespace
}  // namespace quax
