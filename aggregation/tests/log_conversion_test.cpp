// From process logs to the records billed: reading the log's columns, and
// which usage is billed, on logs with known usage written by the
// collectors' own record formatter.
#include "tools/log_conversion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process_log_builder.h"

namespace quax::agg::tools {
namespace {

using testing::LogFiles;
using testing::LogTime;
using testing::SimulatedProcess;

double Date(int minutes) {
  const DateTimeParts parts = LogTime(minutes);
  double day = 0;
  MakeDay(parts.Year, parts.Month, parts.Day, day);
  return CombineDateTime(day, MakeTimeOfDay(parts.Hour, parts.Minute, parts.Second));
}

Decimal Seconds(const char* text) { return Decimal::Parse(text); }

// One line of a log text, e.g. the third: Line(text, 3).
std::string Line(const std::string& text, std::size_t number) {
  std::size_t start = 0;
  for (std::size_t n = 1; n < number; ++n) start = text.find('\n', start) + 1;
  return text.substr(start, text.find("\r\n", start) - start);
}

std::string WithoutLine(const std::string& text, std::size_t number) {
  std::size_t start = 0;
  for (std::size_t n = 1; n < number; ++n) start = text.find('\n', start) + 1;
  return text.substr(0, start) + text.substr(text.find('\n', start) + 1);
}

struct Billed {
  std::string Machine;
  std::string User;
  std::string Project;
  std::string Process;
  double Start = 0;
  double End = 0;
  Usage Figures;
};

// The converter as quaxlog2rr drives it, collecting what it bills.
class Conversion {
 public:
  bool Add(const std::string& name, const std::string& text) {
    std::size_t at = 0;
    const auto nextLine = [&](std::string_view& line) {
      if (at >= text.size()) return false;
      const std::size_t end = text.find('\n', at);
      line = std::string_view(text).substr(at, (end == std::string::npos ? text.size() : end) - at);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      at = end == std::string::npos ? text.size() : end + 1;
      return true;
    };
    return converter_.AddLog(name, nextLine, message_);
  }
  void AddAll(const LogFiles& logs) {
    for (const auto& [file, text] : logs.Files()) ASSERT_TRUE(Add(file.first + "-" + file.second, text)) << message_;
  }
  const std::vector<Billed>& Finish() {
    converter_.Finish();
    return billed_;
  }
  const ConversionReport& Report() const { return converter_.Report(); }
  const std::string& Message() const { return message_; }

  // The CPU seconds billed for records whose process is `process`.
  Decimal CpuOf(const std::string& machine, const std::string& process) const {
    Decimal sum;
    for (const Billed& b : billed_) {
      if (b.Machine == machine && b.Process == process) sum += b.Figures.CpuSeconds;
    }
    return sum;
  }

 private:
  std::vector<Billed> billed_;
  std::string message_;
  LogConverter converter_{[this](const BilledRecord& r) {
    billed_.push_back({std::string(r.Machine), std::string(r.User), std::string(r.Project), std::string(r.Process),
                       r.Start, r.End, *r.Figures});
  }};
};

TEST(ProcessLogLayout, TheHeaderNamesTheColumnsAndTheDelimiter) {
  ProcessLogLayout layout;
  std::string reason;
  char line[kMaxRecordLineSize];
  for (const char delimiter : {'\t', ',', ';', '_'}) {
    const std::size_t length = FormatHeaderRecord(line, sizeof line, delimiter, RecordColumns::WithProject);
    ASSERT_TRUE(layout.Read(std::string_view(line, length - 2), reason)) << reason;
    EXPECT_EQ(layout.Delimiter(), delimiter);
    EXPECT_EQ(layout.FieldCount(), 32u);
    EXPECT_TRUE(layout.HasProject());
    EXPECT_EQ(layout.Position(UsageColumn::CPUTimeSecs), 14u);
  }
  const std::size_t length = FormatHeaderRecord(line, sizeof line, ',', RecordColumns::WithoutProject);
  ASSERT_TRUE(layout.Read(std::string_view(line, length - 2), reason)) << reason;
  EXPECT_EQ(layout.FieldCount(), 31u);
  EXPECT_FALSE(layout.HasProject());

  EXPECT_FALSE(layout.Read("RecordType,ProcessId,ProcessName", reason));
  EXPECT_EQ(reason, "the header has no column MachineName");
  EXPECT_FALSE(layout.Read("HDR,20240131,20240131,00:00:00,23:59:59,,1,\"U\",\"u\",1,CPU,1", reason));
  EXPECT_FALSE(ProcessLogLayout::IsHeaderLine("RecordTypes\tProcessId"));
  EXPECT_FALSE(ProcessLogLayout::IsHeaderLine("E\t4242\t4"));
}

TEST(ProcessLogLayout, LogDateTimesAreReadToTheSecond) {
  LogDateTime time;
  ASSERT_TRUE(ParseLogDateTime("20261208 23:59:59.999", time));
  EXPECT_TRUE(time.Present);
  EXPECT_DOUBLE_EQ(time.Date, Date(1439) + 59.0 / 86400);
  for (const char* none : {"-", "00000000 00:00:00.000"}) {
    ASSERT_TRUE(ParseLogDateTime(none, time)) << none;
    EXPECT_FALSE(time.Present) << none;
  }
  for (const char* bad : {"20261308 10:00:00.000", "20261208 24:00:00.000", "20261208 10:00:00", "",
                          "20261208T10:00:00.000", "20261208 10:00:00.0x0"}) {
    EXPECT_FALSE(ParseLogDateTime(bad, time)) << bad;
  }
}

TEST(ProcessLogLayout, LinesOfTheOtherCollectorsFormAreReadAndOthersAreSkipped) {
  SimulatedProcess process("HOST1", 4242, "CORP\\alice", "Apollo", "app.exe", 60);
  process.Refresh(61);
  process.Use(1.5, 0.5, 10, 2);
  process.Refresh(120);
  char line[kMaxRecordLineSize];
  const auto record = [&](RecordColumns columns) {
    const std::size_t length = FormatUsageRecord(line, sizeof line, RecordType::Interval, process.Figures(),
                                                 process.Dates(), true, '\t', columns);
    return std::string(line, length - 2);
  };
  const auto header = [&](RecordColumns columns) {
    ProcessLogLayout layout;
    std::string reason;
    const std::size_t length = FormatHeaderRecord(line, sizeof line, '\t', columns);
    layout.Read(std::string_view(line, length - 2), reason);
    return layout;
  };
  const ProcessLogLayout service = header(RecordColumns::WithProject);
  const ProcessLogLayout inProcess = header(RecordColumns::WithoutProject);
  std::vector<std::string_view> fields;
  UsageLine usage;
  std::string reason;

  const std::string full = record(RecordColumns::WithProject);
  const std::string shorter = record(RecordColumns::WithoutProject);
  ASSERT_TRUE(ParseUsageLine(full, service, fields, usage, reason)) << reason;
  EXPECT_EQ(usage.Type, 'I');
  EXPECT_EQ(usage.ProjectName, "Apollo");
  EXPECT_EQ(usage.UserName, "CORP\\alice");
  EXPECT_EQ(usage.Figures.CpuSeconds, Seconds("2"));
  EXPECT_EQ(usage.Figures.KBytesRead, Decimal(10));
  EXPECT_EQ(usage.IntervalEnd.Date, Date(120));
  ASSERT_TRUE(ParseUsageLine(shorter, service, fields, usage, reason)) << reason;
  EXPECT_EQ(usage.ProjectName, "");
  ASSERT_TRUE(ParseUsageLine(full, inProcess, fields, usage, reason)) << reason;
  EXPECT_EQ(usage.ProjectName, "Apollo");

  const std::string withDelimiterInAField = "I\t4242\t4\tapp.exe\tC:\\a\tb" + full.substr(full.find("\tC:\\") + 1);
  EXPECT_FALSE(ParseUsageLine(withDelimiterInAField, service, fields, usage, reason));
  EXPECT_EQ(reason, "lines whose field count differs from the header's");
  EXPECT_FALSE(ParseUsageLine("X" + full.substr(1), service, fields, usage, reason));
  EXPECT_EQ(reason, "lines of an unknown record type");
  std::string badSeconds = full;
  badSeconds.replace(badSeconds.find("2.000000"), 8, "2,000000");
  EXPECT_FALSE(ParseUsageLine(badSeconds, service, fields, usage, reason));
  EXPECT_EQ(reason, "lines with an unreadable usage figure");
}

// Interval accounting with daily intervals ending at midnight: a process
// that runs across midnight on one machine, one that starts and ends in the
// afternoon on another machine with the same process id, and one that ran
// before the collector started.
class IntervalLogs : public ::testing::Test {
 protected:
  IntervalLogs() {
    // Day 1: the collector starts at 08:00 and sees the long-running one.
    early.Use(100, 20);  // before the collector started
    early.Refresh(480);
    logs.Write(RecordType::Start, early);
    nightly.Use(0.5, 0.25);
    nightly.Refresh(1200 + 1);  // seen a minute after its start at 20:00
    logs.Write(RecordType::Start, nightly);
    other.Use(1, 1);
    other.Refresh(840 + 1);
    logs.Write(RecordType::Start, other);
    other.Use(2.25, 0.75, 512, 64);
    other.Exit(900);
    logs.Write(RecordType::Interval, other);
    logs.Write(RecordType::End, other);
    // Midnight: the daily interval ends.
    for (SimulatedProcess* p : {&early, &nightly}) p->Use(3, 1.5, 100, 7);
    for (SimulatedProcess* p : {&early, &nightly}) {
      p->Refresh(1440);
      logs.Write(RecordType::Interval, *p);
    }
    // Day 2: the night job ends at 02:00.
    nightly.Use(10, 5, 1000);
    nightly.Exit(1440 + 120);
    logs.Write(RecordType::Interval, nightly);
    logs.Write(RecordType::End, nightly);
  }

  SimulatedProcess early{"HOST1", 100, "NT AUTHORITY\\SYSTEM", "", "svchost.exe", 0};
  SimulatedProcess nightly{"HOST1", 4242, "CORP\\alice", "Apollo", "nightly.exe", 1200};
  SimulatedProcess other{"HOST2", 4242, "CORP\\bob", "Zeus", "report.exe", 840};
  LogFiles logs;
};

TEST_F(IntervalLogs, StartAndIntervalRecordsAreBilledAndEndRecordsOnlyChecked) {
  ASSERT_EQ(logs.Files().size(), 3u);  // HOST1 on two days, HOST2 on one
  Conversion conversion;
  conversion.AddAll(logs);
  const std::vector<Billed>& billed = conversion.Finish();
  const ConversionReport& report = conversion.Report();

  EXPECT_EQ(conversion.CpuOf("HOST1", "nightly.exe"), Seconds("20.25"));
  EXPECT_EQ(conversion.CpuOf("HOST2", "report.exe"), Seconds("5"));
  EXPECT_EQ(conversion.CpuOf("HOST1", "svchost.exe"), Seconds("124.5"));
  EXPECT_EQ(report.RecordsRead, 9);
  EXPECT_EQ(report.RecordsWritten, 7);
  EXPECT_EQ(report.RecordsSkipped, 2);
  EXPECT_EQ(report.SkippedFor.at(LogConverter::kEndOfBilledProcess), 2);
  EXPECT_EQ(report.ProcessesChecked, 2);
  EXPECT_EQ(report.Mismatches, 0) << (report.MismatchList.empty() ? "" : report.MismatchList[0]);

  // Every record keeps its process's names; a process without a project
  // is billed to "(none)".
  for (const Billed& b : billed) {
    if (b.Process == "report.exe") {
      EXPECT_EQ(b.User + "/" + b.Project, "CORP\\bob/Zeus");
    } else if (b.Process == "svchost.exe") {
      EXPECT_EQ(b.Project, "(none)");
    }
  }
  // The night job's usage: its start record from its creation to its first
  // interval, the interval up to midnight, the last one after it.
  std::vector<std::pair<double, double>> periods;
  for (const Billed& b : billed) {
    if (b.Process == "nightly.exe") periods.emplace_back(b.Start, b.End);
  }
  const double created = Date(1200);
  EXPECT_EQ(periods, (std::vector<std::pair<double, double>>{
                         {created, Date(1201)}, {Date(1201), Date(1440)}, {Date(1440), Date(1560)}}));
}

TEST_F(IntervalLogs, TheConservationCheckCatchesARemovedRecord) {
  Conversion conversion;
  // The night job's interval record of midnight (written just after it,
  // into the second day's file) is lost.
  const std::string day2 = logs.File("HOST1", "20261209");
  ASSERT_EQ(Line(day2, 3).substr(0, 7), "I\t4242\t");
  ASSERT_TRUE(conversion.Add("day1", logs.File("HOST1", "20261208")));
  ASSERT_TRUE(conversion.Add("day2", WithoutLine(day2, 3)));
  conversion.Finish();
  const ConversionReport& report = conversion.Report();
  EXPECT_EQ(report.ProcessesChecked, 1);
  EXPECT_EQ(report.Mismatches, 1);
  ASSERT_EQ(report.MismatchList.size(), 1u);
  EXPECT_EQ(report.MismatchList[0],
            "HOST1 process 4242 (nightly.exe, created 20261208 20:00:00.125): CPU seconds 15.75 in start and "
            "interval records, 20.25 in the end record; kernel seconds 10.5 in start and interval records, "
            "13.5 in the end record; user seconds 5.25 in start and interval records, 6.75 in the end record; "
            "KB read 1000 in start and interval records, 1100 in the end record; KB written 0 in start and "
            "interval records, 7 in the end record");
}

TEST_F(IntervalLogs, AStartRecordAfterACollectorRestartBillsOnlyWhatWasNotBilled) {
  // The collector stops at 03:00 on day 2 (interval and end records without
  // exit) and starts again at 04:00: the start record repeats everything.
  early.Use(1, 1);
  early.Refresh(1440 + 180);
  logs.Write(RecordType::Interval, early);
  logs.Write(RecordType::End, early);
  early.Use(0.5, 0);
  early.Refresh(1440 + 240);
  logs.Write(RecordType::Start, early);
  early.Use(0.25, 0.25);
  early.Exit(1440 + 300);
  logs.Write(RecordType::Interval, early);
  logs.Write(RecordType::End, early);

  Conversion conversion;
  conversion.AddAll(logs);
  conversion.Finish();
  EXPECT_EQ(conversion.CpuOf("HOST1", "svchost.exe"), Seconds("127.5"));
  EXPECT_DOUBLE_EQ(early.CpuSeconds(), 127.5);
  EXPECT_EQ(conversion.Report().RestartStarts, 1);
  EXPECT_EQ(conversion.Report().ProcessesChecked, 4);  // two of them the stopping collector's
  EXPECT_EQ(conversion.Report().Mismatches, 0);
}

TEST_F(IntervalLogs, AStartRecordWithoutFollowerEndsAtTheLatestTimeOfTheLogs) {
  Conversion conversion;
  ASSERT_TRUE(conversion.Add("host2", logs.File("HOST2", "20261208").substr(
                                          0, logs.File("HOST2", "20261208").find("\nI\t") + 1)));
  const std::vector<Billed>& billed = conversion.Finish();
  ASSERT_EQ(billed.size(), 1u);
  // A start record carries no time of its refresh: the latest time of these
  // logs is its process's creation.
  EXPECT_EQ(billed[0].Start, Date(840));
  EXPECT_EQ(billed[0].End, Date(840));
  EXPECT_EQ(billed[0].Figures.CpuSeconds, Seconds("2"));
}

// Without interval accounting each process has one end record with its
// totals: those are billed, from creation to exit.
TEST(EndOnlyLogs, EndRecordsAreBilledFromCreationToExit) {
  LogFiles logs(',');
  SimulatedProcess late("HOST1", 7, "CORP\\carol", "Hermes", "build.exe", 1380);
  late.Use(30, 10, 4096, 1024);
  late.Exit(1440 + 60);  // ends at 01:00 on day 2
  logs.Write(RecordType::End, late);
  SimulatedProcess idle("HOST1", 8, "CORP\\carol", "Hermes", "idle.exe", 600);
  idle.Exit(600);  // no usage at all
  logs.Write(RecordType::End, idle);
  SimulatedProcess shortOne("HOST3", 9, "CORP\\dave", "", "cmd.exe", 700);
  shortOne.Use(0.015625, 0);
  shortOne.Exit(705);
  logs.Write(RecordType::End, shortOne);

  Conversion conversion;
  conversion.AddAll(logs);
  const std::vector<Billed>& billed = conversion.Finish();
  ASSERT_EQ(billed.size(), 2u);
  EXPECT_EQ(conversion.CpuOf("HOST1", "build.exe"), Seconds("40"));
  EXPECT_EQ(conversion.CpuOf("HOST3", "cmd.exe"), Seconds("0.015625"));
  for (const Billed& b : billed) {
    if (b.Process != "build.exe") continue;
    EXPECT_EQ(b.Start, Date(1380));
    EXPECT_EQ(b.End, Date(1500));
    EXPECT_EQ(b.Figures.KBytesRead, Decimal(4096));
    EXPECT_EQ(b.Figures.ElapsedSeconds, Seconds("7200"));
  }
  EXPECT_EQ(conversion.Report().SkippedFor.at(LogConverter::kNoUsage), 1);
  EXPECT_EQ(conversion.Report().ProcessesChecked, 0);
}

// The in-process collector appends its 31-column records to the file the
// service began, and the other way round.
TEST(MixedLogs, BothCollectorsFormsInOneFileAreRead) {
  LogFiles logs('\t', RecordColumns::WithProject);
  SimulatedProcess hosted("HOST1", 11, "CORP\\erin", "", "notepad.exe", 60);
  hosted.Use(1, 1);
  hosted.Refresh(61);
  logs.Write(RecordType::Start, hosted, RecordColumns::WithoutProject);
  hosted.Use(0.5, 0.5);
  hosted.Exit(90);
  logs.Write(RecordType::Interval, hosted, RecordColumns::WithoutProject);
  logs.Write(RecordType::End, hosted, RecordColumns::WithoutProject);
  SimulatedProcess watched("HOST1", 12, "CORP\\erin", "Apollo", "calc.exe", 60);
  watched.Use(4, 0);
  watched.Exit(70);
  logs.Write(RecordType::End, watched);

  Conversion conversion;
  conversion.AddAll(logs);
  const std::vector<Billed>& billed = conversion.Finish();
  EXPECT_EQ(conversion.CpuOf("HOST1", "notepad.exe"), Seconds("3"));
  EXPECT_EQ(conversion.CpuOf("HOST1", "calc.exe"), Seconds("4"));
  EXPECT_EQ(billed.back().Project, "Apollo");
  EXPECT_EQ(conversion.Report().RecordsSkipped, 1);
  EXPECT_EQ(conversion.Report().Mismatches, 0);
}

TEST(UnreadableLogs, ALogWithoutHeaderIsRefusedAndBadLinesAreListed) {
  Conversion conversion;
  EXPECT_FALSE(conversion.Add("bill.csv", "Period,User,Project\r\n2026-12,alice,Apollo\r\n"));
  EXPECT_EQ(conversion.Message(),
            "'bill.csv' is not a process log: line 1: the line is not a header record (it does not begin with "
            "RecordType)");

  LogFiles logs;
  SimulatedProcess process("HOST1", 5, "u", "p", "a.exe", 0);
  process.Use(1, 0);
  process.Exit(1);
  logs.Write(RecordType::End, process);
  const std::string text = logs.File("HOST1", "20261208") + "\r\nE\t5\ttorn\r\n";
  ASSERT_TRUE(conversion.Add("log.txt", text));
  conversion.Finish();
  const ConversionReport& report = conversion.Report();
  EXPECT_EQ(report.RecordsRead, 3);
  EXPECT_EQ(report.RecordsWritten, 1);
  EXPECT_EQ(report.UnreadableLines,
            (std::vector<std::string>{"log.txt:3: empty lines",
                                      "log.txt:4: lines whose field count differs from the header's"}));
}

}  // namespace
}  // namespace quax::agg::tools
