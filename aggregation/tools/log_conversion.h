// Which usage records of process logs are billed, so that no usage is
// counted twice. A start record holds the usage since the process was
// created, an interval record the usage of its interval, an end record the
// process's lifetime total. So for a process with start or interval records
// those are billed and its end record is not; a process with only an end
// record (a collector without interval accounting) is billed by it.
//
// A process is known by its machine, id and creation time. Its state lives
// from its first record to the end record of its exit, which bounds memory
// by the processes running at a time. The state also serves:
// - the conservation check: when the end record comes, the usage billed for
//   the process must equal the end record's totals within the log's
//   rounding; a mismatch means a record is missing (or changed);
// - a collector that stops (end records with no exit time) and starts again
//   writes a start record with the usage since creation once more: only the
//   usage beyond what was billed is billed then;
// - a start record has no time of its own: its usage is dated from the
//   process's creation (or the end of what was billed before) to the start
//   of the process's next interval, or to the latest time in the logs when
//   none follows.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tools/process_log.h"

namespace quax::agg::tools {

// One resource record to write.
struct BilledRecord {
  std::string_view Machine;
  std::string_view User;
  std::string_view Project;
  std::string_view Process;
  double Start = 0;
  double End = 0;
  const Usage* Figures = nullptr;
};

struct ConversionReport {
  static constexpr std::size_t kMaxListed = 20;  // lines listed per kind

  std::int64_t RecordsRead = 0;
  std::int64_t RecordsWritten = 0;
  std::int64_t RecordsSkipped = 0;
  std::map<std::string, std::int64_t> SkippedFor;  // reason -> lines
  std::vector<std::string> UnreadableLines;         // "file:line: reason", the first kMaxListed
  std::int64_t RestartStarts = 0;  // start records of a process seen before (billed as the difference)
  std::int64_t ProcessesChecked = 0;
  std::int64_t Mismatches = 0;
  std::vector<std::string> MismatchList;  // the first kMaxListed
};

class LogConverter {
 public:
  static constexpr const char* kEndOfBilledProcess =
      "end records of processes billed by their start and interval records";
  static constexpr const char* kNoUsage = "records without usage (every figure 0)";

  static constexpr const char* kEmptyLines = "empty lines";

  using Sink = std::function<void(const BilledRecord&)>;
  explicit LogConverter(Sink sink);
  ~LogConverter();
  LogConverter(const LogConverter&) = delete;
  LogConverter& operator=(const LogConverter&) = delete;

  // Reads the lines of one log, `nextLine` giving them in order (false at
  // the end). Line 1 must be a header record; a header record further on
  // (logs joined into one stream) sets the layout of the lines after it.
  // False with a message when the log is not a process log.
  using LineSource = std::function<bool(std::string_view& line)>;
  bool AddLog(std::string_view name, const LineSource& nextLine, std::string& message);
  // One usage record.
  void Add(const UsageLine& line);
  // A line that is not a usage record of its log; `where` is "file:line".
  void Skip(std::string_view reason, std::string_view where);
  // Writes the start records still waiting for their end time.
  void Finish();

  const ConversionReport& Report() const noexcept { return report_; }

 private:
  struct PendingStart;
  struct ProcessState;

  void AddStart(ProcessState& state, const UsageLine& line);
  void AddInterval(ProcessState& state, const UsageLine& line);
  void AddEnd(const std::string& key, ProcessState* state, const UsageLine& line);
  void FlushPending(ProcessState& state, double end);
  void CheckConservation(const ProcessState& state, const UsageLine& line);
  void Bill(std::string_view machine, std::string_view user, std::string_view project,
            std::string_view process, double start, double end, const Usage& figures);
  void Count(const char* reason);

  Sink sink_;
  ConversionReport report_;
  std::unordered_map<std::string, std::unique_ptr<ProcessState>> processes_;
  std::string key_;
  double latest_ = 0;  // the latest date-time read
  bool anyTime_ = false;
};

// quaxlog2rr's work between its checks and its report: the logs ("-" for
// standard input) converted into a resource record file at `outputPath`,
// one record per usage billed, with the header "PROCESS", the identifiers
// Machine, User, Project and Process, and the rate codes CPUSEC, KERNSEC,
// USERSEC, ELAPSSEC, KBREAD and KBWRITE. `keepGoing` is asked every few
// thousand lines: false stops the reading (Ctrl+C). False with the message
// when a log cannot be opened or is not a process log; throws when a log
// cannot be read or the output cannot be written.
bool ConvertLogsToResourceFile(const std::vector<std::string>& logs, const std::string& outputPath,
                               const std::function<bool()>& keepGoing, ConversionReport& report,
                               std::string& message);

}  // namespace quax::agg::tools
