// From process logs to the records billed: reading the log's columns, and
// which usage is billed, on logs with known usage written by the
// collectors' own record formatter; the same bill whatever the order of
// logs and lines, repeated, torn or with mixed delimiters.
#include "tools/log_conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "process_log_builder.h"

namespace quax::agg::tools {
namespace {

using testing::LogFiles;
using testing::LogTime;
using testing::SimulatedProcess;

constexpr std::int64_t kMillisecondsPerDay = 86'400'000;

double Date(int minutes) {
  const DateTimeParts parts = LogTime(minutes);
  double day = 0;
  MakeDay(parts.Year, parts.Month, parts.Day, day);
  return CombineDateTime(day, MakeTimeOfDay(parts.Hour, parts.Minute, parts.Second));
}

// Milliseconds of a log time, as LogConverter::Options takes them.
std::int64_t Milliseconds(int minutes) {
  const DateTimeParts parts = LogTime(minutes);
  double day = 0;
  MakeDay(parts.Year, parts.Month, parts.Day, day);
  return static_cast<std::int64_t>(day) * kMillisecondsPerDay + (parts.Hour * 60 + parts.Minute) * 60000LL;
}

Decimal Seconds(const char* text) { return Decimal::Parse(text); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end + 1 - at));
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}

// A log with line `number` (1 is the header) left out.
std::string WithoutLine(const std::string& text, std::size_t number) {
  std::vector<std::string> lines = Lines(text);
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(number - 1));
  return Joined(lines);
}

struct Billed {
  bool Excluded = false;
  std::string Machine;
  std::string User;
  std::string Project;
  std::string Process;
  double Start = 0;
  double End = 0;
  Usage Figures;

  bool operator==(const Billed& other) const {
    return Excluded == other.Excluded && Machine == other.Machine && User == other.User &&
           Project == other.Project && Process == other.Process && Start == other.Start && End == other.End &&
           std::equal(Figures.Values.begin(), Figures.Values.end(), other.Figures.Values.begin(),
                      [](const Decimal& a, const Decimal& b) { return a.IdenticalTo(b); });
  }
};

// The converter as quaxlog2rr drives it, collecting what it bills.
class Conversion {
 public:
  explicit Conversion(LogConverter::Options options = {}) : converter_(Sink(), std::move(options)) {}

  // A log given as text; a last line without its line feed is torn.
  bool Add(const std::string& name, const std::string& text) {
    std::size_t at = 0;
    const auto nextLine = [&](std::string_view& line, bool& ended) {
      if (at >= text.size()) return false;
      const std::size_t end = text.find('\n', at);
      ended = end != std::string::npos;
      line = std::string_view(text).substr(at, (ended ? end : text.size()) - at);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      at = ended ? end + 1 : text.size();
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

  // A figure billed for the records whose process is `process` (any machine when empty).
  Decimal Sum(const std::string& machine, const std::string& process, Figure figure = kCpu) const {
    Decimal sum;
    for (const Billed& b : billed_) {
      if ((machine.empty() || b.Machine == machine) && b.Process == process) sum += b.Figures.Values[figure];
    }
    return sum;
  }

 private:
  LogConverter::Sink Sink() {
    return [this](const BilledRecord& r) {
      billed_.push_back({r.Excluded, std::string(r.Machine), std::string(r.User), std::string(r.Project),
                         std::string(r.Process), r.Start, r.End, *r.Figures});
    };
  }

  std::vector<Billed> billed_;
  std::string message_;
  LogConverter converter_;
};

TEST(ProcessLogLayout, TheHeaderNamesTheColumns) {
  ProcessLogLayout layout;
  std::string reason;
  char line[kMaxRecordLineSize];
  for (const char delimiter : {'\t', ',', ';', '_'}) {
    const std::size_t length = FormatHeaderRecord(line, sizeof line, delimiter, RecordColumns::WithProject);
    ASSERT_TRUE(layout.Read(std::string_view(line, length - 2), reason)) << reason;
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
  EXPECT_EQ(layout.FieldCount(), 31u) << "a header that cannot be read changes nothing";
  EXPECT_FALSE(layout.Read("HDR,20240131,20240131,00:00:00,23:59:59,,1,\"U\",\"u\",1,CPU,1", reason));
  EXPECT_FALSE(ProcessLogLayout::IsHeaderLine("RecordTypes\tProcessId"));
  EXPECT_FALSE(ProcessLogLayout::IsHeaderLine("E\t4242\t4"));
}

TEST(ProcessLogLayout, LogTimesAreReadToTheMillisecond) {
  tools::LogTime time;
  ASSERT_TRUE(ParseLogTime("20261208 23:59:59.999", time));
  EXPECT_TRUE(time.Present);
  EXPECT_EQ(time.Milliseconds, Milliseconds(1439) + 59'999);
  EXPECT_DOUBLE_EQ(DateOfMilliseconds(time.Milliseconds), Date(1439) + 59.0 / 86400);
  for (const char* none : {"-", "00000000 00:00:00.000"}) {
    ASSERT_TRUE(ParseLogTime(none, time)) << none;
    EXPECT_FALSE(time.Present) << none;
  }
  for (const char* bad : {"20261308 10:00:00.000", "20261208 24:00:00.000", "20261208 10:00:00", "",
                          "20261208T10:00:00.000", "20261208 10:00:00.0x0"}) {
    EXPECT_FALSE(ParseLogTime(bad, time)) << bad;
  }
}

// One usage record line of a process, with the delimiter and columns given.
std::string RecordLine(RecordType type, const SimulatedProcess& process, char delimiter = '\t',
                       RecordColumns columns = RecordColumns::WithProject) {
  char line[kMaxRecordLineSize];
  const std::size_t length = FormatUsageRecord(line, sizeof line, type, process.Figures(), process.Dates(),
                                               process.Running(), delimiter, columns);
  return std::string(line, length);
}

std::string HeaderLine(char delimiter = '\t', RecordColumns columns = RecordColumns::WithProject) {
  char line[kMaxRecordLineSize];
  return std::string(line, FormatHeaderRecord(line, sizeof line, delimiter, columns));
}

TEST(ProcessLogLayout, EachLineIsReadWithItsOwnDelimiterAndBadFieldsAreNamed) {
  SimulatedProcess process("HOST1", 4242, "CORP\\alice", "Apollo", "app.exe", 60);
  process.Refresh(61);
  process.Use(1.5, 0.5, 10, 2);
  process.Refresh(120);
  ProcessLogLayout service;
  ProcessLogLayout inProcess;
  std::string reason;
  const std::string serviceHeader = HeaderLine();
  const std::string inProcessHeader = HeaderLine(';', RecordColumns::WithoutProject);
  ASSERT_TRUE(service.Read(serviceHeader.substr(0, serviceHeader.size() - 2), reason)) << reason;
  ASSERT_TRUE(inProcess.Read(inProcessHeader.substr(0, inProcessHeader.size() - 2), reason)) << reason;
  UsageLineScratch scratch;
  UsageLine usage;
  LineFault fault;
  std::string line;  // the views of `usage` point into it
  const auto parse = [&](std::string text, const ProcessLogLayout& layout) {
    line = std::move(text);
    return ParseUsageLine(std::string_view(line).substr(0, line.find('\r')), layout, scratch, usage, fault);
  };

  // A TAB header, a line with commas: read all the same. The other
  // collector's form tells which collector wrote it.
  for (const char delimiter : {'\t', ',', ';'}) {
    ASSERT_TRUE(parse(RecordLine(RecordType::Interval, process, delimiter), service)) << fault.Detail;
    EXPECT_EQ(usage.Type, 'I');
    EXPECT_EQ(usage.Source, LogSource::Service);
    EXPECT_EQ(usage.ProjectName, "Apollo");
    EXPECT_EQ(usage.UserName, "CORP\\alice");
    EXPECT_EQ(usage.Figures[kCpu], 2'000'000);
    EXPECT_EQ(usage.Figures[kKBytesRead], 10);
    EXPECT_EQ(usage.IntervalEnd.Milliseconds, Milliseconds(120));
  }
  ASSERT_TRUE(parse(RecordLine(RecordType::Interval, process, ',', RecordColumns::WithoutProject), service));
  EXPECT_EQ(usage.Source, LogSource::InProcess);
  EXPECT_EQ(usage.ProjectName, "");
  ASSERT_TRUE(parse(RecordLine(RecordType::Interval, process), inProcess));
  EXPECT_EQ(usage.Source, LogSource::Service);
  EXPECT_EQ(usage.ProjectName, "Apollo");

  // Faults name the field: position, column and value.
  const std::string good = RecordLine(RecordType::Interval, process);
  const auto with = [&good](const std::string& from, const std::string& to) {
    std::string changed = good;
    changed.replace(changed.find(from), from.size(), to);
    return changed;
  };
  struct Case {
    std::string Line;
    const char* Kind;
    std::string Detail;
  };
  const std::vector<Case> cases = {
      {with("\tC:\\", "\tC:\\a\tb"), kFaultFieldCount, "33 fields, where its header has 32"},
      {"X" + good.substr(1), kFaultRecordType, "field 1 (RecordType) 'X': not S, I or E"},
      {"I" + good.substr(2), kFaultRecordType,
       "field 1 (RecordType) 'I4': the record type letter is not followed by a delimiter"},
      {with("2.000000", "2,000000"), kFaultUnreadable,
       "field 15 (CPUTimeSecs) '2,000000': not seconds with at most six decimal places"},
      {with("\t1.500000\t", "\t-3.000000\t"), kFaultNegative, "field 16 (KernelCPUTimeSecs) '-3.000000': a negative figure"},
      {with("2.000000", "1000000000000000000000.000000"), kFaultBeyondBounds,
       "field 15 (CPUTimeSecs) '1000000000000000000000.000000': more than any process can use"},
      {with("2.000000", "99999999.000000"), kFaultBeyondBounds,
       "field 15 (CPUTimeSecs) '99999999.000000': more than 2048 processors can use in the record's 3540.000000 "
       "elapsed seconds"},
      {with("app.exe", std::string("app\0.exe", 8)), kFaultText,
       "field 4 (ProcessName) 'app?.exe': control characters or more than 259 characters"},
      {with("app.exe", "long\x7Fprocess-name-of-the-job.exe"), kFaultText,
       "field 4 (ProcessName) 'long?process-name-of-the-job.exe': control characters or more than 259 characters"},
      {with("app.exe", "a-long-process-name-of-the-job\x1F.exe"), kFaultText,
       "field 4 (ProcessName) 'a-long-process-name-of-the-job?.exe': control characters or more than 259 "
       "characters"},
      {with("Apollo", std::string(260, 'p')), kFaultText,
       "field 32 (QUAXUProjectName) '" + std::string(40, 'p') + "...': control characters or more than 259 characters"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(parse(c.Line, service)) << c.Detail;
    EXPECT_EQ(fault.Kind, c.Kind);
    EXPECT_EQ(fault.Detail, c.Detail);
  }
  // Bytes above 0x7F are letters of the code page, not control characters.
  EXPECT_TRUE(parse(with("app.exe", "\xC4rger-\xFC" "ber-\xE4\xF6\xFC\xDF-\x80\xFF-Programm.exe"), service))
      << fault.Detail;
  // A negative zero is a rounding of the writer, not a negative figure.
  EXPECT_TRUE(parse(with("\t1.500000\t", "\t-0.000000\t"), service)) << fault.Detail;
  EXPECT_EQ(usage.Figures[kKernel], 0);
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

  EXPECT_EQ(conversion.Sum("HOST1", "nightly.exe"), Seconds("20.25"));
  EXPECT_EQ(conversion.Sum("HOST2", "report.exe"), Seconds("5"));
  EXPECT_EQ(conversion.Sum("HOST1", "svchost.exe"), Seconds("124.5"));
  EXPECT_EQ(report.RecordsRead, 9);
  EXPECT_EQ(report.RecordsWritten, 7);
  EXPECT_EQ(report.RecordsSkipped, 2);
  EXPECT_EQ(report.SkippedFor.at(LogConverter::kEndOfBilledProcess), 2);
  EXPECT_EQ(report.ProcessesChecked, 2);
  EXPECT_EQ(report.Mismatches, 0) << (report.MismatchList.empty() ? "" : report.MismatchList[0]);
  EXPECT_TRUE(report.Complete());

  // Every record keeps its process's names; a process without a project
  // is billed to "(none)".
  for (const Billed& b : billed) {
    if (b.Process == "report.exe") {
      EXPECT_EQ(b.User + "/" + b.Project, "CORP\\bob/Zeus");
    } else if (b.Process == "svchost.exe") {
      EXPECT_EQ(b.Project, "(none)");
    }
  }
  // The night job's usage: its start record from its creation to the look
  // that wrote it, the interval up to midnight, the last one after it.
  std::vector<std::pair<double, double>> periods;
  for (const Billed& b : billed) {
    if (b.Process == "nightly.exe") periods.emplace_back(b.Start, b.End);
  }
  EXPECT_EQ(periods, (std::vector<std::pair<double, double>>{
                         {Date(1200), Date(1201)}, {Date(1201), Date(1440)}, {Date(1440), Date(1560)}}));
}

TEST_F(IntervalLogs, TheConservationCheckCatchesARemovedRecord) {
  Conversion conversion;
  // The night job's interval record of midnight (written just after it,
  // into the second day's file) is lost.
  const std::string day2 = logs.File("HOST1", "20261209");
  ASSERT_EQ(Lines(day2)[2].substr(0, 7), "I\t4242\t");
  ASSERT_TRUE(conversion.Add("day1", logs.File("HOST1", "20261208")));
  ASSERT_TRUE(conversion.Add("day2", WithoutLine(day2, 3)));
  conversion.Finish();
  const ConversionReport& report = conversion.Report();
  EXPECT_EQ(report.ProcessesChecked, 1);
  EXPECT_EQ(report.Mismatches, 1);
  EXPECT_FALSE(report.Complete());
  ASSERT_EQ(report.MismatchList.size(), 1u);
  EXPECT_EQ(report.MismatchList[0],
            "day2:4: HOST1 process 4242 (nightly.exe, created 20261208 20:00:00.125): CPU seconds 15.75 in start and "
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
  const std::vector<Billed>& billed = conversion.Finish();
  EXPECT_EQ(conversion.Sum("HOST1", "svchost.exe"), Seconds("127.5"));
  EXPECT_DOUBLE_EQ(early.CpuSeconds(), 127.5);
  EXPECT_EQ(conversion.Report().RestartStarts, 1);
  EXPECT_EQ(conversion.Report().ProcessesChecked, 4);  // two of them the stopping collector's
  EXPECT_EQ(conversion.Report().Mismatches, 0);
  // The usage while the collector was stopped is dated to that time.
  const auto restart = std::find_if(billed.begin(), billed.end(), [](const Billed& b) { return b.End == Date(1680); });
  ASSERT_NE(restart, billed.end());
  EXPECT_EQ(restart->Start, Date(1620));
  EXPECT_EQ(restart->Figures.Values[kCpu], Seconds("0.5"));

  // Without the day before (the logs of an earlier month) and without an
  // end record at the stop (WriteIntervalEndRecords NO), what the start
  // record adds cannot be told: it is not billed, and said.
  const std::string day2 = logs.File("HOST1", "20261209");
  ASSERT_EQ(Lines(day2)[6].substr(0, 6), "E\t100\t");
  Conversion later;
  ASSERT_TRUE(later.Add("day2", WithoutLine(day2, 7)));
  later.Finish();
  EXPECT_EQ(later.Sum("HOST1", "svchost.exe"), Seconds("4.5") + Seconds("2") + Seconds("0.5"));
  EXPECT_EQ(later.Report().NotBilledFor.at(LogConverter::kRestartUnknown), 1);
  ASSERT_EQ(later.Report().NotBilled.size(), 1u);
  EXPECT_EQ(later.Report().NotBilled[0].rfind("day2:7: the start record of HOST1 process 100 (svchost.exe", 0), 0u)
      << later.Report().NotBilled[0];
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
  EXPECT_EQ(conversion.Sum("HOST1", "build.exe"), Seconds("40"));
  EXPECT_EQ(conversion.Sum("HOST3", "cmd.exe"), Seconds("0.015625"));
  for (const Billed& b : billed) {
    if (b.Process != "build.exe") continue;
    EXPECT_EQ(b.Start, Date(1380));
    EXPECT_EQ(b.End, Date(1500));
    EXPECT_EQ(b.Figures.Values[kKBytesRead], Decimal(4096));
    EXPECT_EQ(b.Figures.Values[kElapsed], Seconds("7200"));
  }
  EXPECT_EQ(conversion.Report().SkippedFor.at(LogConverter::kNoUsage), 1);
  EXPECT_EQ(conversion.Report().ProcessesChecked, 0);
}

// A week of logs of three machines whose usage is known: the service with
// daily intervals (a restart, long and short processes), the service
// without interval accounting, and both collectors on one machine (the
// in-process collector's 31-column lines in the service's files).
struct KnownWeek {
  LogFiles Logs;
  std::map<std::string, double> CpuByProcess;  // what each process used

  KnownWeek() {
    std::mt19937 random(20261208);
    const auto some = [&random](int most) { return static_cast<double>(random() % most + 1) / 64; };
    SimulatedProcess daemon("HOST1", 300, "CORP\\svc", "Ops", "daemon.exe", 0);
    daemon.Use(5, 1);
    daemon.Refresh(1);
    Logs.Write(RecordType::Start, daemon);
    for (int day = 0; day < 7; ++day) {
      const int dayStart = day * 1440;
      for (int i = 0; i < 6; ++i) {
        SimulatedProcess job("HOST1", static_cast<std::uint32_t>(1000 + i), "CORP\\ann", i % 2 ? "Apollo" : "",
                             "job.exe", dayStart + 60 + i * 97);
        job.Use(some(64), some(64));
        job.Refresh(dayStart + 61 + i * 97);
        Logs.Write(RecordType::Start, job);
        job.Use(some(640), some(64), 3, 1);
        job.Exit(dayStart + 70 + i * 97);
        Logs.Write(RecordType::Interval, job);
        Logs.Write(RecordType::End, job);
        CpuByProcess["HOST1 job.exe"] += job.CpuSeconds();

        SimulatedProcess build("HOST2", static_cast<std::uint32_t>(2000 + i), "CORP\\bo", "Zeus", "build.exe",
                               dayStart + 300 + i * 11);
        build.Use(some(6400), some(640), 100);
        build.Exit(dayStart + 1000 + i * 11);
        Logs.Write(RecordType::End, build);
        CpuByProcess["HOST2 build.exe"] += build.CpuSeconds();
      }
      if (day == 3) {  // the service stops at 12:00 and starts again at 12:30
        daemon.Use(some(64), 0);
        daemon.Refresh(dayStart + 720);
        Logs.Write(RecordType::Interval, daemon);
        Logs.Write(RecordType::End, daemon);
        daemon.Use(some(64), 0);
        daemon.Refresh(dayStart + 750);
        Logs.Write(RecordType::Start, daemon);
      }
      daemon.Use(some(6400), some(64), 10, 2);
      daemon.Refresh(dayStart + 1440);
      Logs.Write(RecordType::Interval, daemon);

      // A window both collectors watch: the in-process collector every
      // minute until it is unloaded, the service to the end.
      SimulatedProcess seen("HOST3", static_cast<std::uint32_t>(3000 + day), "CORP\\cy", "Hermes", "edit.exe",
                            dayStart + 480);
      SimulatedProcess hosted("HOST3", static_cast<std::uint32_t>(3000 + day), "CORP\\cy", "", "edit.exe",
                              dayStart + 480);
      hosted.Refresh(dayStart + 480);
      Logs.Write(RecordType::Start, hosted, RecordColumns::WithoutProject);
      seen.Refresh(dayStart + 481);
      Logs.Write(RecordType::Start, seen);
      for (int minute = 1; minute <= 5; ++minute) {
        const double used = some(64);
        seen.Use(used, 0);
        hosted.Use(used, 0);
        hosted.Refresh(dayStart + 480 + minute);
        Logs.Write(RecordType::Interval, hosted, RecordColumns::WithoutProject);
      }
      hosted.Use(0.015625, 0);
      seen.Use(0.015625, 0);
      hosted.Exit(dayStart + 486);
      Logs.Write(RecordType::End, hosted, RecordColumns::WithoutProject);
      seen.Exit(dayStart + 487);
      Logs.Write(RecordType::Interval, seen);
      Logs.Write(RecordType::End, seen);
      CpuByProcess["HOST3 edit.exe"] += seen.CpuSeconds();
    }
    CpuByProcess["HOST1 daemon.exe"] = daemon.CpuSeconds();
  }
};

// Every file's lines, in an order of their own.
std::vector<std::pair<std::string, std::string>> Shuffled(const LogFiles& logs, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& [file, text] : logs.Files()) {
    std::vector<std::string> lines = Lines(text);
    std::shuffle(lines.begin() + 1, lines.end(), random);  // the header stays first
    files.emplace_back(file.first + "-" + file.second, Joined(lines));
  }
  std::shuffle(files.begin(), files.end(), random);
  return files;
}

TEST(KnownUsage, TheBillIsTheSameWhateverTheOrderOfLogsAndLinesAndEachRecordIsBilledOnce) {
  const KnownWeek week;
  Conversion inOrder;
  inOrder.AddAll(week.Logs);
  const std::vector<Billed> reference = inOrder.Finish();
  EXPECT_TRUE(inOrder.Report().Complete()) << (inOrder.Report().MismatchList.empty() ? "" : inOrder.Report().MismatchList[0]);
  EXPECT_EQ(inOrder.Report().RestartStarts, 1);
  for (const auto& [process, cpu] : week.CpuByProcess) {
    const std::size_t space = process.find(' ');
    EXPECT_EQ(inOrder.Sum(process.substr(0, space), process.substr(space + 1)).ToDouble(), cpu) << process;
  }
  // The window both collectors watched is billed once, by the service (its
  // records reach the exit), with its project.
  constexpr std::int64_t kInProcessRecords = 7 * 7;
  EXPECT_EQ(inOrder.Report().SkippedFor.at(LogConverter::kOtherCollector), kInProcessRecords);
  for (const Billed& b : reference) {
    if (b.Process == "edit.exe") {
      EXPECT_EQ(b.Project, "Hermes");
    }
  }

  for (const unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    // Files and lines in another order, and every log given twice (a day
    // copied into two folders).
    Conversion shuffled;
    for (int copy = 0; copy < 2; ++copy) {
      for (const auto& [name, text] : Shuffled(week.Logs, seed + 10 * static_cast<unsigned>(copy))) {
        ASSERT_TRUE(shuffled.Add(name + (copy ? "-copy" : ""), text)) << shuffled.Message();
      }
    }
    EXPECT_EQ(shuffled.Finish(), reference);
    EXPECT_EQ(shuffled.Report().SkippedFor.at(LogConverter::kRepeated), inOrder.Report().RecordsRead - kInProcessRecords);
    EXPECT_EQ(shuffled.Report().RecordsWritten, inOrder.Report().RecordsWritten);
    EXPECT_TRUE(shuffled.Report().Complete());
  }
}

TEST(KnownUsage, RecordsThatConflictAreBilledOnceAndListed) {
  LogFiles logs;
  SimulatedProcess job("HOST1", 7, "CORP\\ann", "Apollo", "job.exe", 60);
  job.Use(1, 0);
  job.Refresh(61);
  logs.Write(RecordType::Start, job);
  job.Use(2, 0);
  job.Refresh(120);
  logs.Write(RecordType::Interval, job);
  const std::string text = logs.File("HOST1", "20261208");
  // The same interval with other figures, in another log.
  std::string changed = text;
  changed.replace(changed.rfind("2.000000"), 8, "9.000000");

  for (const bool changedFirst : {false, true}) {
    Conversion conversion;
    ASSERT_TRUE(conversion.Add(changedFirst ? "b.txt" : "a.txt", text));
    ASSERT_TRUE(conversion.Add(changedFirst ? "a.txt" : "b.txt", changed));
    conversion.Finish();
    EXPECT_EQ(conversion.Sum("HOST1", "job.exe"), Seconds("3")) << "the first in order of figures";
    const ConversionReport& report = conversion.Report();
    EXPECT_FALSE(report.Complete());
    EXPECT_EQ(report.SkippedFor.at(LogConverter::kRepeated), 1) << "the start record is the same";
    ASSERT_EQ(report.NotBilled.size(), 1u);
    EXPECT_EQ(report.NotBilled[0],
              std::string(changedFirst ? "a.txt" : "b.txt") +
                  ":3: the interval record of HOST1 process 7 (job.exe, created 20261208 01:00:00.125) is also in " +
                  (changedFirst ? "b.txt" : "a.txt") + ":3 with other figures or names; that one is billed");
  }
}

TEST(KnownUsage, WhenTheServiceStoppedFirstTheInProcessCollectorsRecordsBillWithTheServicesProject) {
  LogFiles logs;
  SimulatedProcess seen("HOST3", 5, "CORP\\cy", "Hermes", "edit.exe", 480);
  SimulatedProcess hosted("HOST3", 5, "CORP\\cy", "", "edit.exe", 480);
  hosted.Refresh(480);
  logs.Write(RecordType::Start, hosted, RecordColumns::WithoutProject);
  seen.Refresh(481);
  logs.Write(RecordType::Start, seen);
  seen.Use(1, 0);
  hosted.Use(1, 0);
  seen.Refresh(482);  // the service stops
  logs.Write(RecordType::Interval, seen);
  logs.Write(RecordType::End, seen);
  hosted.Refresh(483);
  logs.Write(RecordType::Interval, hosted, RecordColumns::WithoutProject);
  hosted.Use(2, 0);
  hosted.Refresh(484);
  logs.Write(RecordType::Interval, hosted, RecordColumns::WithoutProject);
  hosted.Use(0.5, 0);  // between its last interval record and its end record
  hosted.Exit(484);
  logs.Write(RecordType::End, hosted, RecordColumns::WithoutProject);

  Conversion conversion;
  conversion.AddAll(logs);
  const std::vector<Billed>& billed = conversion.Finish();
  EXPECT_EQ(conversion.Sum("HOST3", "edit.exe"), Seconds("3.5"));
  for (const Billed& b : billed) EXPECT_EQ(b.Project, "Hermes");
  EXPECT_EQ(conversion.Report().SkippedFor.at(LogConverter::kOtherCollector), 3);
  EXPECT_TRUE(conversion.Report().Complete());
}

TEST(KnownUsage, TornMixedAndEmptyLogs) {
  LogFiles logs;
  SimulatedProcess job("HOST1", 7, "CORP\\ann", "Hermes", "job.exe", 60);
  job.Use(1, 0);
  job.Exit(61);
  logs.Write(RecordType::End, job);
  const std::string text = logs.File("HOST1", "20261208");

  // A delimiter change within the file (the service restarted with
  // another LogFileFieldDelimiter): every line is billed.
  SimulatedProcess other("HOST1", 8, "CORP\\ann", "Hermes", "other.exe", 70);
  other.Use(2, 0);
  other.Exit(71);
  Conversion mixed;
  ASSERT_TRUE(mixed.Add("mixed", text + RecordLine(RecordType::End, other, ',')));
  mixed.Finish();
  EXPECT_EQ(mixed.Sum("HOST1", "job.exe") + mixed.Sum("HOST1", "other.exe"), Seconds("3"));
  EXPECT_TRUE(mixed.Report().Complete());

  // A log still being written: its last line, without its line end, is not
  // billed, even when it looks complete.
  Conversion torn;
  const std::string last = RecordLine(RecordType::End, other);
  ASSERT_TRUE(torn.Add("torn", text + last.substr(0, last.size() - 2)));
  torn.Finish();
  EXPECT_EQ(torn.Sum("HOST1", "other.exe"), Decimal());
  EXPECT_EQ(torn.Report().NotBilled,
            std::vector<std::string>{"torn:3: the last line has no line end (the file may still be written)"});

  // A log without a usage record, and one that is not a log at all.
  Conversion empty;
  ASSERT_TRUE(empty.Add("header-only", HeaderLine()));
  ASSERT_TRUE(empty.Add("nothing", ""));
  EXPECT_FALSE(empty.Add("bill.csv", "Period,User,Project\r\n2026-12,alice,Apollo\r\n"));
  EXPECT_EQ(empty.Message(),
            "'bill.csv' is not a process log: line 1: the line is not a header record (it does not begin with "
            "RecordType)");
  empty.Finish();
  EXPECT_EQ(empty.Report().InputsWithoutUsage,
            (std::vector<std::string>{"'header-only' holds no usage record", "'nothing' holds no usage record"}));
  EXPECT_FALSE(empty.Report().Complete());
}

TEST(KnownUsage, ExcludedUsersAndTheBillingPeriod) {
  LogFiles logs;
  // Usage of the system's accounts and of alice, in intervals that end at
  // midnight, on three days.
  std::uint32_t processId = 9;
  for (const char* user : {"NT AUTHORITY\\SYSTEM", "Window Manager\\DWM-1", "corp\\ALICE"}) {
    SimulatedProcess process("HOST1", processId++, user, "", "task.exe", 0);
    process.Refresh(1);
    logs.Write(RecordType::Start, process);
    for (int day = 1; day <= 3; ++day) {
      process.Use(day, 0);
      process.Refresh(day * 1440);
      logs.Write(RecordType::Interval, process);
    }
  }
  LogConverter::Options options;
  options.ExcludedUsers = kDefaultExcludedUsers;
  options.ExcludedUsers.push_back("CORP\\ali*");
  options.ExcludedUsers.erase(options.ExcludedUsers.begin());  // NT AUTHORITY billed
  // Only the second day: its interval ends at the midnight after it.
  options.Since = Milliseconds(1440);
  options.Until = Milliseconds(2880);
  Conversion conversion(options);
  conversion.AddAll(logs);
  const std::vector<Billed>& billed = conversion.Finish();
  ASSERT_EQ(billed.size(), 3u);
  for (const Billed& b : billed) {
    EXPECT_EQ(b.End, Date(2880)) << b.User;
    EXPECT_EQ(b.Figures.Values[kCpu], Decimal(2)) << b.User;
    EXPECT_EQ(b.Excluded, b.User != "NT AUTHORITY\\SYSTEM") << b.User;
  }
  EXPECT_EQ(conversion.Report().RecordsExcluded, 2);
  EXPECT_EQ(conversion.Report().RecordsWritten, 1);
  // Each process's start record (its first minute) and two intervals.
  EXPECT_EQ(conversion.Report().SkippedFor.at(LogConverter::kOutsideRange), 3 * 3);
  EXPECT_TRUE(conversion.Report().Complete());
}

}  // namespace
}  // namespace quax::agg::tools
