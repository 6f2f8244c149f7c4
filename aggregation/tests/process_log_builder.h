// Process logs with known usage for the billing tests: simulated processes
// whose figures grow as the test says, written record by record with the
// collectors' own record formatter into one log per machine and day, the
// way the collector service (or the in-process collector) writes them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "record/date_time.h"
#include "usage_record.h"

namespace quax::agg::testing {

// A time of the logs: minutes from 8 December 2026 00:00 (local time), and
// milliseconds.
inline DateTimeParts LogTime(int minutes, int milliseconds = 0) {
  double day = 0;
  MakeDay(2026, 12, 8, day);
  const CalendarDateTime parts = SplitDateTime(CombineDateTime(day + minutes / 1440, (minutes % 1440) / 1440.0));
  return DateTimeParts{static_cast<std::uint16_t>(parts.Month), static_cast<std::uint16_t>(parts.Day),
                       static_cast<std::uint16_t>(parts.Year),  static_cast<std::uint16_t>(parts.Hour),
                       static_cast<std::uint16_t>(parts.Minute), static_cast<std::uint16_t>(parts.Second),
                       static_cast<std::uint16_t>(milliseconds)};
}

// The day of a log time as the file name has it: "20261208".
inline std::string LogDay(int minutes) {
  const DateTimeParts parts = LogTime(minutes);
  char text[16];
  std::snprintf(text, sizeof text, "%04u%02u%02u", unsigned{parts.Year}, unsigned{parts.Month}, unsigned{parts.Day});
  return text;
}

class SimulatedProcess {
 public:
  SimulatedProcess(const char* machine, std::uint32_t processId, const char* user, const char* project,
                   const char* name, int createdMinute)
      : createdMinute_(createdMinute) {
    CopyText(figures_.MachineName, machine);
    CopyText(figures_.UserName, user);
    CopyText(figures_.ProjectName, project);
    CopyText(figures_.ProcessName, name);
    CopyText(figures_.ImageDirectory, "C:\\Program Files\\Tools");
    figures_.ProcessId = processId;
    figures_.ParentProcessId = 4;
    figures_.PriorityClass = 0x20;
    dates_.Created = LogTime(createdMinute, 125);
  }

  // Usage from now on, until the next refresh. Seconds in 1/64 steps stay
  // exact through the log's six places.
  void Use(double kernelSeconds, double userSeconds, std::uint64_t kbRead = 0, std::uint64_t kbWritten = 0) {
    kernel_ += kernelSeconds;
    user_ += userSeconds;
    bytesRead_ += kbRead * 1024;
    bytesWritten_ += kbWritten * 1024;
  }

  // What a collector's refresh at `minute` reads.
  void Refresh(int minute) {
    figures_.KernelSeconds.Advance(kernel_);
    figures_.UserSeconds.Advance(user_);
    figures_.CpuSeconds.Advance(kernel_ + user_);
    figures_.ElapsedSeconds.Advance(60.0 * (minute - createdMinute_));
    figures_.BytesRead.Advance(bytesRead_);
    figures_.BytesWritten.Advance(bytesWritten_);
    figures_.ReadOperations.Advance(bytesRead_ / 4096);
    figures_.WriteOperations.Advance(bytesWritten_ / 4096);
    dates_.IntervalStart = dates_.IntervalEnd;
    dates_.IntervalEnd = LogTime(minute);
    dates_.Exited = LogTime(minute);
    lastRefresh_ = minute;
  }
  void Exit(int minute) {
    Refresh(minute);
    exited_ = true;
  }

  const ProcessFigures& Figures() const noexcept { return figures_; }
  const RecordDates& Dates() const noexcept { return dates_; }
  bool Running() const noexcept { return !exited_; }
  int LastRefresh() const noexcept { return lastRefresh_; }
  double CpuSeconds() const noexcept { return kernel_ + user_; }

 private:
  ProcessFigures figures_;
  RecordDates dates_;
  int createdMinute_;
  int lastRefresh_ = 0;
  double kernel_ = 0;
  double user_ = 0;
  std::uint64_t bytesRead_ = 0;
  std::uint64_t bytesWritten_ = 0;
  bool exited_ = false;
};

// The daily log files of every machine, as text: a header record on line 1
// of each, then the records written on that day.
class LogFiles {
 public:
  explicit LogFiles(char delimiter = '\t', RecordColumns columns = RecordColumns::WithProject)
      : delimiter_(delimiter), columns_(columns) {}

  // Writes a record of the process at the time of its last refresh into the
  // file of its machine and of that day.
  void Write(RecordType type, const SimulatedProcess& process,
             std::optional<RecordColumns> columns = std::nullopt) {
    std::string& file = files_[{process.Figures().MachineName, LogDay(process.LastRefresh())}];
    char line[kMaxRecordLineSize];
    if (file.empty()) file.append(line, FormatHeaderRecord(line, sizeof line, delimiter_, columns_));
    file.append(line, FormatUsageRecord(line, sizeof line, type, process.Figures(), process.Dates(),
                                        process.Running(), delimiter_, columns.value_or(columns_)));
  }

  // (machine, day) -> the file's text.
  const std::map<std::pair<std::string, std::string>, std::string>& Files() const noexcept { return files_; }
  const std::string& File(const std::string& machine, const std::string& day) const {
    return files_.at({machine, day});
  }

 private:
  char delimiter_;
  RecordColumns columns_;
  std::map<std::pair<std::string, std::string>, std::string> files_;
};

// The logs of the worked example of docs/billing.md: two days of three
// machines, HOST1 and HOST2 with daily interval accounting (intervals end
// at midnight), HOST3 without (end records only).
inline LogFiles WorkedExampleLogs() {
  LogFiles logs;
  SimulatedProcess nightly("HOST1", 4242, "CORP\\alice", "Apollo", "nightly.exe", 1200);
  nightly.Use(0.5, 0.25);
  nightly.Refresh(1201);
  logs.Write(RecordType::Start, nightly);
  nightly.Use(3, 1.5, 100, 7);
  nightly.Refresh(1440);
  logs.Write(RecordType::Interval, nightly);
  nightly.Use(10, 5, 1000);
  nightly.Exit(1560);
  logs.Write(RecordType::Interval, nightly);
  logs.Write(RecordType::End, nightly);

  SimulatedProcess report("HOST2", 4242, "CORP\\bob", "Zeus", "report.exe", 840);
  report.Use(1, 1);
  report.Refresh(841);
  logs.Write(RecordType::Start, report);
  report.Use(2.25, 0.75, 512, 64);
  report.Exit(900);
  logs.Write(RecordType::Interval, report);
  logs.Write(RecordType::End, report);

  SimulatedProcess build("HOST3", 7, "CORP\\carol", "Hermes", "build.exe", 1380);
  build.Use(30, 10, 4096, 1024);
  build.Exit(1500);
  logs.Write(RecordType::End, build);
  return logs;
}

}  // namespace quax::agg::testing
