#include "tools/log_conversion.h"

#include <algorithm>

#include "record/resource_file.h"
#include "tools/tool_support.h"

namespace quax::agg::tools {

namespace {

constexpr std::string_view kNoProject = "(none)";

constexpr const char* kRecordHeader = "PROCESS";
const std::vector<std::string> kIdentifierNames = {"Machine", "User", "Project", "Process"};
const std::vector<std::string> kRateCodes = {"CPUSEC", "KERNSEC", "USERSEC", "ELAPSSEC", "KBREAD", "KBWRITE"};
constexpr long kKeepGoingCheckLines = 4096;

// An identifier value is written in double quotes without escapes: a quote
// inside it becomes an apostrophe.
std::string_view Quotable(std::string_view value, std::string& scratch) {
  if (value.find('"') == std::string_view::npos) return value;
  scratch.assign(value);
  for (char& c : scratch) {
    if (c == '"') c = '\'';
  }
  return scratch;
}

Decimal NotBelowZero(const Decimal& value) { return value.IsNegative() ? Decimal() : value; }

// The usage of `total` beyond `billed`, figure by figure (never below 0:
// kilobytes billed interval by interval may exceed a total by their rounding).
Usage Beyond(const Usage& total, const Usage& billed) {
  return Usage{NotBelowZero(total.CpuSeconds - billed.CpuSeconds),
               NotBelowZero(total.KernelSeconds - billed.KernelSeconds),
               NotBelowZero(total.UserSeconds - billed.UserSeconds),
               NotBelowZero(total.ElapsedSeconds - billed.ElapsedSeconds),
               NotBelowZero(total.KBytesRead - billed.KBytesRead),
               NotBelowZero(total.KBytesWritten - billed.KBytesWritten)};
}

void AddTo(Usage& sum, const Usage& figures) {
  sum.CpuSeconds += figures.CpuSeconds;
  sum.KernelSeconds += figures.KernelSeconds;
  sum.UserSeconds += figures.UserSeconds;
  sum.ElapsedSeconds += figures.ElapsedSeconds;
  sum.KBytesRead += figures.KBytesRead;
  sum.KBytesWritten += figures.KBytesWritten;
}

Decimal Magnitude(const Decimal& value) { return value.IsNegative() ? -value : value; }

}  // namespace

struct LogConverter::PendingStart {
  std::string Machine;
  std::string User;
  std::string Project;
  std::string Process;
  double Start = 0;
  bool StartKnown = false;
  Usage Figures;
};

struct LogConverter::ProcessState {
  Usage Billed;               // every figure billed for the process so far
  std::int64_t Records = 0;   // start and interval records (or an end record) billed
  bool HasLastEnd = false;    // the end of the last period billed
  double LastEnd = 0;
  std::unique_ptr<PendingStart> Pending;
};

LogConverter::LogConverter(Sink sink) : sink_(std::move(sink)) {}

LogConverter::~LogConverter() = default;

void LogConverter::Count(const char* reason) {
  ++report_.RecordsSkipped;
  ++report_.SkippedFor[reason];
}

void LogConverter::Skip(std::string_view reason, std::string_view where) {
  ++report_.RecordsRead;
  ++report_.RecordsSkipped;
  ++report_.SkippedFor[std::string(reason)];
  if (report_.UnreadableLines.size() < ConversionReport::kMaxListed) {
    report_.UnreadableLines.push_back(std::string(where) + ": " + std::string(reason));
  }
}

void LogConverter::Bill(std::string_view machine, std::string_view user, std::string_view project,
                        std::string_view process, double start, double end, const Usage& figures) {
  if (figures.IsZero()) {
    Count(kNoUsage);
    return;
  }
  ++report_.RecordsWritten;
  sink_(BilledRecord{machine, user, project.empty() ? kNoProject : project, process, start,
                     std::max(start, end), &figures});
}

bool LogConverter::AddLog(std::string_view name, const LineSource& nextLine, std::string& message) {
  ProcessLogLayout layout;
  std::vector<std::string_view> fields;
  UsageLine usage;
  std::string reason;
  std::string_view line;
  for (long number = 1; nextLine(line); ++number) {
    const auto where = [&] { return std::string(name) + ":" + std::to_string(number); };
    if (number == 1 || ProcessLogLayout::IsHeaderLine(line)) {
      if (!layout.Read(line, reason)) {
        message = "'" + std::string(name) + "' is not a process log: line " + std::to_string(number) + ": " + reason;
        return false;
      }
    } else if (line.empty()) {
      Skip(kEmptyLines, where());
    } else if (ParseUsageLine(line, layout, fields, usage, reason)) {
      Add(usage);
    } else {
      Skip(reason, where());
    }
  }
  return true;
}

void LogConverter::Add(const UsageLine& line) {
  ++report_.RecordsRead;
  for (const LogDateTime* time : {&line.Created, &line.Exited, &line.IntervalStart, &line.IntervalEnd}) {
    if (!time->Present) continue;
    latest_ = anyTime_ ? std::max(latest_, time->Date) : time->Date;
    anyTime_ = true;
  }
  key_.assign(line.MachineName);
  key_ += '\t';
  key_ += line.ProcessId;
  key_ += '\t';
  key_ += line.CreateDateTime;
  if (line.Type == 'E') {
    const auto found = processes_.find(key_);
    AddEnd(key_, found == processes_.end() ? nullptr : found->second.get(), line);
    return;
  }
  std::unique_ptr<ProcessState>& state = processes_[key_];
  if (!state) state = std::make_unique<ProcessState>();
  if (line.Type == 'S') {
    AddStart(*state, line);
  } else {
    AddInterval(*state, line);
  }
}

void LogConverter::AddStart(ProcessState& state, const UsageLine& line) {
  if (state.Pending) FlushPending(state, latest_);
  if (state.Records > 0) ++report_.RestartStarts;
  auto pending = std::make_unique<PendingStart>();
  pending->Machine = line.MachineName;
  pending->User = line.UserName;
  pending->Project = line.ProjectName;
  pending->Process = line.ProcessName;
  pending->StartKnown = state.HasLastEnd || line.Created.Present;
  pending->Start = state.HasLastEnd ? state.LastEnd : line.Created.Date;
  pending->Figures = Beyond(line.Figures, state.Billed);
  AddTo(state.Billed, pending->Figures);
  ++state.Records;
  state.Pending = std::move(pending);
}

void LogConverter::FlushPending(ProcessState& state, double end) {
  const PendingStart& pending = *state.Pending;
  const double start = pending.StartKnown ? std::min(pending.Start, end) : end;
  Bill(pending.Machine, pending.User, pending.Project, pending.Process, start, end, pending.Figures);
  state.HasLastEnd = true;
  state.LastEnd = end;
  state.Pending.reset();
}

void LogConverter::AddInterval(ProcessState& state, const UsageLine& line) {
  if (state.Pending) FlushPending(state, line.IntervalStart.Date);
  Bill(line.MachineName, line.UserName, line.ProjectName, line.ProcessName, line.IntervalStart.Date,
       line.IntervalEnd.Date, line.Figures);
  AddTo(state.Billed, line.Figures);
  ++state.Records;
  state.HasLastEnd = true;
  state.LastEnd = line.IntervalEnd.Date;
}

void LogConverter::AddEnd(const std::string& key, ProcessState* state, const UsageLine& line) {
  const bool exited = line.Exited.Present;
  if (state != nullptr && state->Records > 0) {
    if (state->Pending) FlushPending(*state, exited ? line.Exited.Date : latest_);
    CheckConservation(*state, line);
    Count(kEndOfBilledProcess);
  } else {
    const double start = line.Created.Present ? line.Created.Date : line.Exited.Date;
    Bill(line.MachineName, line.UserName, line.ProjectName, line.ProcessName, start,
         exited ? line.Exited.Date : start, line.Figures);
    if (!exited) {
      // The collector stopped while the process ran: when it starts again,
      // the start record repeats this usage, which is billed now.
      auto& kept = processes_[key];
      if (!kept) kept = std::make_unique<ProcessState>();
      kept->Billed = line.Figures;
      kept->Records = 1;
      kept->HasLastEnd = true;
      kept->LastEnd = start;
    }
  }
  // After the process's exit no record of it can follow.
  if (exited) processes_.erase(key);
}

// Each seconds figure of the log is rounded to six places, so n records may
// sum up to (n + 1) half-millionths away from the total; each kilobyte
// figure is rounded down, so n records may sum up to n below the total.
void LogConverter::CheckConservation(const ProcessState& state, const UsageLine& line) {
  ++report_.ProcessesChecked;
  const Decimal secondsTolerance =
      Decimal::FromMantissa64(5 * static_cast<std::uint64_t>(state.Records + 1), 7, false);
  const Decimal kilobytesTolerance = Decimal::FromInt64(state.Records);
  struct Figure {
    const char* Name;
    const Decimal& Billed;
    const Decimal& Total;
    const Decimal& Tolerance;
  };
  const Usage& total = line.Figures;
  const Figure figures[] = {
      {"CPU seconds", state.Billed.CpuSeconds, total.CpuSeconds, secondsTolerance},
      {"kernel seconds", state.Billed.KernelSeconds, total.KernelSeconds, secondsTolerance},
      {"user seconds", state.Billed.UserSeconds, total.UserSeconds, secondsTolerance},
      {"KB read", state.Billed.KBytesRead, total.KBytesRead, kilobytesTolerance},
      {"KB written", state.Billed.KBytesWritten, total.KBytesWritten, kilobytesTolerance},
  };
  std::string differences;
  for (const Figure& figure : figures) {
    if (Magnitude(figure.Total - figure.Billed) <= figure.Tolerance) continue;
    differences += std::string(differences.empty() ? "" : "; ") + figure.Name + " " +
                   figure.Billed.ToString() + " in start and interval records, " +
                   figure.Total.ToString() + " in the end record";
  }
  if (differences.empty()) return;
  ++report_.Mismatches;
  if (report_.MismatchList.size() < ConversionReport::kMaxListed) {
    report_.MismatchList.push_back(std::string(line.MachineName) + " process " + std::string(line.ProcessId) +
                                   " (" + std::string(line.ProcessName) + ", created " +
                                   std::string(line.CreateDateTime) + "): " + differences);
  }
}

void LogConverter::Finish() {
  for (auto& [key, state] : processes_) {
    if (state->Pending) FlushPending(*state, latest_);
  }
}

bool ConvertLogsToResourceFile(const std::vector<std::string>& logs, const std::string& outputPath,
                               const std::function<bool()>& keepGoing, ConversionReport& report,
                               std::string& message) {
  CResourceFile writer;
  writer.SetFileName(outputPath);
  if (!writer.FileOpen(CResourceFile::kModeWrite)) {
    message = "Unable to write '" + outputPath + "': " + writer.LastErrorMessage();
    return false;
  }
  std::vector<std::string_view> values(kIdentifierNames.size());
  std::string scratch[4];
  std::vector<Decimal> figures(kRateCodes.size());
  LogConverter converter([&](const BilledRecord& record) {
    values = {Quotable(record.Machine, scratch[0]), Quotable(record.User, scratch[1]),
              Quotable(record.Project, scratch[2]), Quotable(record.Process, scratch[3])};
    const Usage& usage = *record.Figures;
    figures = {usage.CpuSeconds, usage.KernelSeconds, usage.UserSeconds,
               usage.ElapsedSeconds, usage.KBytesRead, usage.KBytesWritten};
    writer.FileWrite(kRecordHeader, record.Start, record.End, "", kIdentifierNames, values, kRateCodes, figures);
  });
  bool stopped = false;
  for (const std::string& log : logs) {
    LineInput input;
    if (!input.Open(log, message)) return false;
    const auto nextLine = [&](std::string_view& line) {
      if (input.LineNumber() % kKeepGoingCheckLines == 0 && !keepGoing()) stopped = true;
      return !stopped && input.Next(line);
    };
    if (!converter.AddLog(log, nextLine, message)) return false;
    if (stopped) break;
  }
  converter.Finish();
  writer.FileClose();
  report = converter.Report();
  return true;
}

}  // namespace quax::agg::tools
