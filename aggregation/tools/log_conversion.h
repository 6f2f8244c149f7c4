// Which usage records of process logs are billed, so that every usage is
// billed exactly once, or the report says that it was not.
//
// A start record holds the usage since the process was created, an interval
// record the usage of its interval, an end record the process's lifetime
// total. So for a process with start or interval records those are billed
// and its end record only checks them; a process with only an end record (a
// collector without interval accounting) is billed by it.
//
// A process is known by its machine, process id and creation time; a usage
// record by its process, its collector, its type and its time: the interval
// end of an interval record, the exit of an end record, and for a start
// record or an end record without exit (which have no time of their own)
// their elapsed seconds since creation. The converter reads every log of a
// run first and then bills process by process, each process's records in
// the order of their times, so the order in which logs (or lines) come does
// not matter:
// - a record read again (a log given twice, a day copied into two folders)
//   is billed once and counted; records with the same identity but other
//   figures conflict: one is billed (the first in that order), the others
//   are listed as not billed;
// - a process both collectors recorded (the service's 32-column lines and
//   the in-process collector's 31-column lines) is billed by one of them:
//   the one whose records reach later in the process's life, the service on
//   a tie (the service watches the process to its end, the in-process
//   collector stops at its unloading), with the service's project;
// - the conservation check: at an end record, the usage billed since the
//   process's start record must equal the end record's totals within the
//   log's rounding (a mismatch means a record is missing or changed); the
//   in-process collector takes its end record a moment after its last
//   interval record, and the usage in between is billed from it;
// - a collector that stops (with end records without exit time) and starts
//   again writes a start record with the usage since creation once more:
//   only the usage beyond the last totals known is billed then;
// - a start record's usage is dated from the process's creation (or the end
//   of what was billed before) to the moment of the record (creation plus
//   its elapsed seconds).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "record/decimal.h"
#include "tools/process_log.h"

namespace quax::agg::tools {

// quaxlog2rr's exit code for a run that wrote its output but did not bill
// every usage line (the report lists why).
inline constexpr int kExitIncomplete = 4;

// The record header of billed usage, and of usage of users the run excludes
// (written the same way, so that bills can count it without billing it).
inline constexpr std::string_view kBilledHeader = "PROCESS";
inline constexpr std::string_view kExcludedHeader = "EXCLUDED";

// Users excluded unless --include-all: the system's own accounts, the
// desktop window manager's and the user-mode font driver's.
inline const std::vector<std::string> kDefaultExcludedUsers = {
    "NT AUTHORITY\\*", "Window Manager\\DWM-*", "Font Driver Host\\UMFD-*"};

// The figures of one resource record, in the order of Figure.
struct Usage {
  std::array<Decimal, kFigureCount> Values;
};

// One resource record to write.
struct BilledRecord {
  bool Excluded = false;
  std::string_view Machine;
  std::string_view User;
  std::string_view Project;
  std::string_view Process;
  double Start = 0;
  double End = 0;
  const Usage* Figures = nullptr;
};

struct ConversionReport {
  std::int64_t RecordsRead = 0;
  std::int64_t RecordsWritten = 0;
  std::int64_t RecordsExcluded = 0;
  std::int64_t RecordsSkipped = 0;
  std::map<std::string, std::int64_t> SkippedFor;  // reason of the billing rules -> lines
  std::int64_t RestartStarts = 0;  // start records after a collector restart, billed beyond what was known
  std::int64_t ProcessesChecked = 0;
  std::int64_t Mismatches = 0;
  std::vector<std::string> MismatchList;
  // Usage lines not billed for a reason outside the billing rules, by kind,
  // and each as "file:line: what", in the order of files and lines.
  std::int64_t LinesNotBilled = 0;
  std::map<std::string, std::int64_t> NotBilledFor;
  std::vector<std::string> NotBilled;
  std::vector<std::string> InputsWithoutUsage;

  bool Complete() const noexcept { return LinesNotBilled == 0 && Mismatches == 0 && InputsWithoutUsage.empty(); }
};

class LogConverter {
 public:
  static constexpr const char* kEndOfBilledProcess =
      "end records of processes billed by their start and interval records";
  static constexpr const char* kNoUsage = "records without usage (every figure 0)";
  static constexpr const char* kRepeated = "records read more than once (billed once)";
  static constexpr const char* kOtherCollector =
      "records of processes both collectors recorded, billed by the other collector's records";
  static constexpr const char* kOutsideRange = "records outside --from/--to";
  static constexpr const char* kEmptyLines = "empty lines";
  static constexpr const char* kIncomplete = "incomplete last lines (a file still being written)";
  static constexpr const char* kConflicting = "records that conflict with another record of the same identity";
  static constexpr const char* kRestartUnknown =
      "start records after a collector restart whose earlier usage is not in these logs";

  struct Options {
    std::vector<std::string> ExcludedUsers;  // patterns, * any text, ignoring case
    // Usage is billed when its period ends after Since and not after Until
    // (milliseconds, see LogTime): an end at exactly midnight belongs to the
    // day before.
    std::optional<std::int64_t> Since;
    std::optional<std::int64_t> Until;
  };

  using Sink = std::function<void(const BilledRecord&)>;
  explicit LogConverter(Sink sink, Options options = {});
  ~LogConverter();
  LogConverter(const LogConverter&) = delete;
  LogConverter& operator=(const LogConverter&) = delete;

  // Reads the lines of one log, `nextLine` giving them in order (false at
  // the end) and whether each ended with its line end. Line 1 must be a
  // header record; a header record further on (logs joined into one
  // stream) sets the columns of the lines after it. False with a message
  // when the log is not a process log.
  using LineSource = std::function<bool(std::string_view& line, bool& ended)>;
  bool AddLog(std::string_view name, const LineSource& nextLine, std::string& message);
  // An input that gave no log at all (a folder without daily files).
  void NoteInputWithoutUsage(std::string description);
  // Bills everything read, process by process; call once, after the logs.
  void Finish();

  const ConversionReport& Report() const noexcept { return report_; }

 private:
  struct State;
  struct SeriesWalk;

  void Add(const UsageLine& line, std::uint32_t file, std::int64_t lineNumber);
  void NotBilled(const char* kind, std::uint32_t file, std::int64_t line, const std::string& detail);
  void Skip(const char* reason, std::int64_t lines = 1);
  // Writes one record of usage (with the names of `names`, the project of
  // `projectNames`), unless the billing rules pass it over.
  void BillRecord(std::string_view machine, std::uint32_t names, std::uint32_t projectNames, std::int64_t start,
                  std::int64_t end, const RecordFigures& figures);

  Sink sink_;
  Options options_;
  ConversionReport report_;
  std::unique_ptr<State> state_;
};

// The fields of the resource record of a billed record, as
// ConvertLogsToResourceFile writes it (CResourceFile::FileWrite, or
// AppendRecordLine, with IdentifierNames and RateCodes): the header
// "PROCESS" or "EXCLUDED", the identifier values Machine, User, Project and
// Process (a double quote inside one becomes an apostrophe: the format has
// no escape), the figures in the order of the rate codes.
class BilledRecordFields {
 public:
  static const std::vector<std::string>& IdentifierNames() noexcept;
  static const std::vector<std::string>& RateCodes() noexcept;

  // Takes a record; the views stay valid until the next Take and while the
  // record's texts do.
  void Take(const BilledRecord& record);
  std::string_view Header() const noexcept { return header_; }
  const std::vector<std::string_view>& IdentifierValues() const noexcept { return values_; }
  const std::vector<Decimal>& Figures() const noexcept { return figures_; }

 private:
  std::string_view header_;
  std::vector<std::string_view> values_;
  std::vector<Decimal> figures_;
  std::string scratch_[4];
};

struct ConversionJob {
  std::vector<std::string> Logs;  // files, "-" for standard input
  LogConverter::Options Options;
  std::vector<std::string> InputsWithoutUsage;  // found before reading
};

// quaxlog2rr's work between its checks and its report: the logs converted
// into a resource record file at `outputPath`, one record per usage billed,
// with the header "PROCESS" (or "EXCLUDED"), the identifiers Machine, User,
// Project and Process, and the rate codes CPUSEC, KERNSEC, USERSEC,
// ELAPSSEC, KBREAD and KBWRITE. `keepGoing` is asked every few thousand
// lines: false stops the reading (Ctrl+C). False with the message when a log
// cannot be opened or is not a process log; throws when a log cannot be read
// or the output cannot be written.
bool ConvertLogsToResourceFile(const ConversionJob& job, const std::string& outputPath,
                               const std::function<bool()>& keepGoing, ConversionReport& report,
                               std::string& message);

}  // namespace quax::agg::tools
