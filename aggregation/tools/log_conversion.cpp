#include "tools/log_conversion.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <tuple>
#include <unordered_map>

#include "platform/platform_system.h"
#include "record/agg_error.h"
#include "record/date_time.h"
#include "record/resource_file.h"
#include "tools/input_expansion.h"
#include "tools/tool_support.h"

namespace quax::agg::tools {

namespace {

constexpr std::string_view kNoProject = "(none)";

const std::vector<std::string> kIdentifierNames = {"Machine", "User", "Project", "Process"};
const std::vector<std::string> kRateCodes = {"CPUSEC", "KERNSEC", "USERSEC", "ELAPSSEC", "KBREAD", "KBWRITE"};
constexpr std::int64_t kKeepGoingCheckLines = 4096;

constexpr std::int64_t kEarliest = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kLatest = std::numeric_limits<std::int64_t>::max();
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
// A start record, or an end record without exit, stands at its creation
// plus its elapsed seconds, both cut to the millisecond: up to 2 ms before
// the end of the interval record written from the same look, which comes
// first.
constexpr std::int64_t kMomentSlackMilliseconds = 2;

// Names of the figures in messages, in the order of Figure.
constexpr const char* kFigureNames[kFigureCount] = {"CPU seconds", "kernel seconds", "user seconds",
                                                     "elapsed seconds", "KB read", "KB written"};

// An identifier value is written in double quotes without escapes: a quote
// inside it becomes an apostrophe.
std::string_view Quotable(std::string_view value, std::string& scratch) {
  if (value.find('"') == std::string_view::npos) return value;
  scratch.assign(value);
  std::replace(scratch.begin(), scratch.end(), '"', '\'');
  return scratch;
}

// A figure at the smallest scale that holds it (1.500000 is 1.5), as a
// decimal read from its text would be.
Decimal FigureValue(std::size_t figure, std::int64_t value) {
  auto mantissa = static_cast<std::uint64_t>(value);
  int scale = IsSecondsFigure(figure) ? 6 : 0;
  for (; scale > 0 && mantissa % 10 == 0; --scale) mantissa /= 10;
  return Decimal::FromMantissa64(mantissa, scale, false);
}

Usage UsageOf(const RecordFigures& figures) {
  Usage usage;
  for (std::size_t i = 0; i < kFigureCount; ++i) usage.Values[i] = FigureValue(i, figures[i]);
  return usage;
}

// A figure as the report shows it: without trailing zeros.
std::string Shown(const Decimal& value) {
  std::string text = value.ToString();
  if (text.find('.') == std::string::npos) return text;
  text.erase(text.find_last_not_of('0') + 1);
  if (text.back() == '.') text.pop_back();
  return text;
}

// Whether a difference between a total and the sum of n records lies within
// the log's rounding: each seconds figure is rounded to six places (half a
// millionth each, and the total's own), each kilobyte figure rounded down.
bool WithinRounding(std::size_t figure, std::int64_t difference, std::int64_t records) {
  const std::int64_t magnitude = difference < 0 ? -difference : difference;
  return IsSecondsFigure(figure) ? magnitude <= (records + 1) / 2 : magnitude <= records;
}

// Sums of figures stop at the largest value instead of wrapping: no process
// comes near it, so a sum there is a mismatch anyway.
void AddFigures(RecordFigures& sum, const RecordFigures& figures) {
  for (std::size_t i = 0; i < kFigureCount; ++i) {
    if (__builtin_add_overflow(sum[i], figures[i], &sum[i])) sum[i] = std::numeric_limits<std::int64_t>::max();
  }
}

bool AllZero(const RecordFigures& figures) {
  return std::all_of(figures.begin(), figures.end(), [](std::int64_t value) { return value == 0; });
}

std::string LogTimeText(bool present, std::int64_t milliseconds) {
  if (!present) return "00000000 00:00:00.000";
  const CalendarDateTime parts = SplitDateTime(DateOfMilliseconds(milliseconds));
  const auto rest = static_cast<int>(((milliseconds % 1000) + 1000) % 1000);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d %02d:%02d:%02d.%03d", parts.Year, parts.Month, parts.Day, parts.Hour,
                parts.Minute, parts.Second, rest);
  return text;
}

const char* RecordName(char type) {
  return type == 'S' ? "start" : type == 'I' ? "interval" : "end";
}

}  // namespace

// What a stored record cannot hold in its own fields: seconds of 4,295 and
// more (2^32 millionths), an interval of 49 days or more.
struct WideValues {
  std::array<std::int64_t, 4> Seconds;
  std::int64_t IntervalStart;
};

// One usage record as read, in 56 bytes: a month of a server's logs is
// held until every log is read. Its rare large values lie in a table of
// wide values beside the records.
class StoredRecord {
 public:
  static constexpr std::uint32_t kMaxFiles = 0xFFFFFFFFu;
  static constexpr std::int64_t kMaxLines = 0xFFFFFFFF;
  static constexpr std::uint32_t kMaxNames = 1u << 27;

  // Uninitialized: the store's chunks are filled record by record.
  StoredRecord() = default;
  StoredRecord(const UsageLine& line, std::uint32_t series, std::uint32_t names, std::uint32_t file,
               std::int64_t lineNumber, std::vector<WideValues>& wide)
      : Moment(0), Series(series), file_(file), line_(static_cast<std::uint32_t>(lineNumber)) {
    kilobytes_[0] = static_cast<std::uint32_t>(line.Figures[kKBytesRead]);
    kilobytes_[1] = static_cast<std::uint32_t>(line.Figures[kKBytesWritten]);
    const bool exited = line.Exited.Present;
    bool momentKnown = true;
    if (line.Type == 'I') {
      Moment = line.IntervalEnd.Milliseconds;
    } else if (line.Type == 'E' && exited) {
      Moment = line.Exited.Milliseconds;
    } else if (line.Created.Present) {
      Moment = line.Created.Milliseconds + line.Figures[kElapsed] / 1000;
    } else {
      momentKnown = false;
    }
    const std::int64_t intervalStart = line.Type == 'I' ? line.IntervalStart.Milliseconds : Moment;
    bool narrow = Moment - intervalStart >= 0 && Moment - intervalStart <= kNarrow;
    for (std::size_t i = 0; i < kKBytesRead; ++i) narrow = narrow && line.Figures[i] <= kNarrow;
    if (narrow) {
      for (std::size_t i = 0; i < kKBytesRead; ++i) seconds_[i] = static_cast<std::uint32_t>(line.Figures[i]);
      intervalLength_ = static_cast<std::uint32_t>(Moment - intervalStart);
    } else {
      const auto at = static_cast<std::uint32_t>(wide.size());
      wide.push_back({{line.Figures[0], line.Figures[1], line.Figures[2], line.Figures[3]}, intervalStart});
      seconds_ = {at, 0, 0, 0};
      intervalLength_ = 0;
    }
    const std::uint32_t type = line.Type == 'S' ? kStart : line.Type == 'I' ? kInterval : kEnd;
    namesAndKind_ = (names << 5) | type | (exited ? kExited : 0u) | (momentKnown ? kMomentKnown : 0u) |
                    (narrow ? 0u : kWide);
  }

  std::int64_t Moment;  // interval end, exit, or creation plus elapsed seconds (when MomentKnown)
  std::uint32_t Series;

  RecordFigures Figures(const std::vector<WideValues>& wide) const noexcept {
    if ((namesAndKind_ & kWide) != 0) {
      const WideValues& values = wide[seconds_[0]];
      return {values.Seconds[0], values.Seconds[1], values.Seconds[2], values.Seconds[3], kilobytes_[0], kilobytes_[1]};
    }
    return {seconds_[0], seconds_[1], seconds_[2], seconds_[3], kilobytes_[0], kilobytes_[1]};
  }
  std::int64_t IntervalStart(const std::vector<WideValues>& wide) const noexcept {
    return (namesAndKind_ & kWide) != 0 ? wide[seconds_[0]].IntervalStart : Moment - intervalLength_;
  }
  std::uint32_t Names() const noexcept { return namesAndKind_ >> 5; }
  std::uint32_t File() const noexcept { return file_; }
  std::int64_t Line() const noexcept { return line_; }
  char Type() const noexcept {
    const std::uint32_t type = namesAndKind_ & kTypeMask;
    return type == kStart ? 'S' : type == kInterval ? 'I' : 'E';
  }
  bool Exited() const noexcept { return (namesAndKind_ & kExited) != 0; }
  bool MomentKnown() const noexcept { return (namesAndKind_ & kMomentKnown) != 0; }
  bool IsExitedEnd() const noexcept { return Type() == 'E' && Exited(); }

 private:
  static constexpr std::int64_t kNarrow = 0xFFFFFFFF;
  static constexpr std::uint32_t kStart = 1;
  static constexpr std::uint32_t kInterval = 2;
  static constexpr std::uint32_t kEnd = 3;
  static constexpr std::uint32_t kTypeMask = 3;
  static constexpr std::uint32_t kExited = 4;
  static constexpr std::uint32_t kMomentKnown = 8;
  static constexpr std::uint32_t kWide = 16;

  std::array<std::uint32_t, 4> seconds_;  // millionths, or the index of the record's wide values
  std::array<std::uint32_t, 2> kilobytes_;
  std::uint32_t intervalLength_;  // milliseconds of an interval record
  std::uint32_t namesAndKind_;    // names << 5 | wide | moment known | exited | type
  std::uint32_t file_;
  std::uint32_t line_;
};
static_assert(sizeof(StoredRecord) == 56);

// One collector's records of one process.
struct SeriesKey {
  std::uint32_t Machine = 0;
  std::uint32_t ProcessId = 0;
  std::int64_t Created = 0;  // kEarliest when unknown
  LogSource Source = LogSource::Service;
  bool operator==(const SeriesKey&) const = default;
  bool SameProcess(const SeriesKey& other) const noexcept {
    return Machine == other.Machine && ProcessId == other.ProcessId && Created == other.Created;
  }
};

// The series of a run by their keys: open addressing over one array of
// small slots (a month of logs holds hundreds of thousands of processes,
// each looked up for every record), the keys kept in the series list.
class SeriesIndex {
 public:
  // The id of the key's series in `series`, which it is added to when new.
  std::uint32_t Find(const SeriesKey& key, std::vector<SeriesKey>& series) {
    if (last_ != kNone && series[last_] == key) return last_;
    if (2 * (series.size() + 1) > slots_.size()) Grow(series);
    const std::uint64_t hash = Hash(key);
    const auto tag = static_cast<std::uint32_t>(hash >> 32);
    for (std::size_t at = static_cast<std::size_t>(hash) & (slots_.size() - 1);; at = (at + 1) & (slots_.size() - 1)) {
      Slot& slot = slots_[at];
      if (slot.Id == kNone) {
        slot = {tag, static_cast<std::uint32_t>(series.size())};
        series.push_back(key);
        return last_ = slot.Id;
      }
      if (slot.Tag == tag && series[slot.Id] == key) return last_ = slot.Id;
    }
  }

 private:
  struct Slot {
    std::uint32_t Tag = 0;
    std::uint32_t Id = kNone;
  };

  static std::uint64_t Hash(const SeriesKey& key) noexcept {
    std::uint64_t h = (static_cast<std::uint64_t>(key.Machine) << 33) ^ (std::uint64_t{key.ProcessId} << 1) ^
                      static_cast<std::uint64_t>(key.Source);
    h ^= static_cast<std::uint64_t>(key.Created) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    return h ^ (h >> 32);
  }

  void Grow(const std::vector<SeriesKey>& series) {
    slots_.assign(std::max<std::size_t>(1024, 2 * slots_.size()), Slot{});
    for (std::uint32_t id = 0; id < series.size(); ++id) {
      const std::uint64_t hash = Hash(series[id]);
      std::size_t at = static_cast<std::size_t>(hash) & (slots_.size() - 1);
      while (slots_[at].Id != kNone) at = (at + 1) & (slots_.size() - 1);
      slots_[at] = {static_cast<std::uint32_t>(hash >> 32), id};
    }
  }

  std::vector<Slot> slots_;
  std::uint32_t last_ = kNone;
};

// The records of a run in chunks of bulk memory: growing never copies
// them, and a chunk is touched only when filled.
class RecordStore {
 public:
  std::size_t size() const noexcept { return size_; }
  StoredRecord& operator[](std::size_t index) noexcept { return Chunk(index >> kChunkBits)[index & kChunkMask]; }
  const StoredRecord& operator[](std::size_t index) const noexcept {
    return Chunk(index >> kChunkBits)[index & kChunkMask];
  }
  void push_back(const StoredRecord& record) {
    if ((size_ & kChunkMask) == 0) chunks_.push_back(platform::AllocateBulkMemory(kChunkSize * sizeof(StoredRecord)));
    (*this)[size_++] = record;
  }

 private:
  static constexpr std::size_t kChunkBits = 16;  // 3.5 MB
  static constexpr std::size_t kChunkSize = std::size_t{1} << kChunkBits;
  static constexpr std::size_t kChunkMask = kChunkSize - 1;
  StoredRecord* Chunk(std::size_t chunk) const noexcept { return static_cast<StoredRecord*>(chunks_[chunk].get()); }
  std::vector<platform::BulkMemory> chunks_;
  std::size_t size_ = 0;
};

struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
};

struct ProcessNames {
  std::string User;
  std::string Project;
  std::string Process;
};

struct LogConverter::State {
  std::vector<std::string> Files;
  std::vector<std::string> Machines;
  std::unordered_map<std::string, std::uint32_t, StringHash, std::equal_to<>> MachineIds;
  std::uint32_t LastMachine = kNone;
  std::vector<ProcessNames> Names;
  std::unordered_map<std::string, std::uint32_t, StringHash, std::equal_to<>> NamesIds;
  std::string NamesKey;
  std::vector<SeriesKey> Series;
  std::vector<std::uint32_t> SeriesNames;  // the names of each series' last record read
  std::uint32_t LastNames = kNone;         // those of the last record read
  SeriesIndex SeriesIds;
  RecordStore Records;
  std::vector<WideValues> Wide;
  std::vector<std::int8_t> Excluded;  // per names: -1 not yet asked
  struct Fault {
    std::uint32_t File;
    std::int64_t Line;
    std::string Text;
  };
  std::vector<Fault> Faults;
  std::int64_t Latest = 0;
  bool AnyTime = false;
  bool Finished = false;

  std::uint32_t MachineId(std::string_view machine) {
    if (LastMachine != kNone && Machines[LastMachine] == machine) return LastMachine;
    auto found = MachineIds.find(machine);
    if (found == MachineIds.end()) {
      found = MachineIds.emplace(std::string(machine), static_cast<std::uint32_t>(Machines.size())).first;
      Machines.emplace_back(machine);
    }
    return LastMachine = found->second;
  }

  std::uint32_t NamesId(std::uint32_t series, const UsageLine& line) {
    const auto same = [&](std::uint32_t names) {
      return names != kNone && Names[names].User == line.UserName && Names[names].Project == line.ProjectName &&
             Names[names].Process == line.ProcessName;
    };
    // The names of the line before, or of the process' record before.
    if (same(LastNames)) return SeriesNames[series] = LastNames;
    if (same(SeriesNames[series])) return LastNames = SeriesNames[series];
    // No name holds a control character: NUL separates them.
    NamesKey.assign(line.UserName);
    NamesKey += '\0';
    NamesKey += line.ProjectName;
    NamesKey += '\0';
    NamesKey += line.ProcessName;
    auto found = NamesIds.find(NamesKey);
    if (found == NamesIds.end()) {
      found = NamesIds.emplace(NamesKey, static_cast<std::uint32_t>(Names.size())).first;
      Names.push_back({std::string(line.UserName), std::string(line.ProjectName), std::string(line.ProcessName)});
    }
    return LastNames = SeriesNames[series] = found->second;
  }

  std::string Where(std::uint32_t file, std::int64_t line) const { return Files[file] + ":" + std::to_string(line); }

  // "HOST1 process 4242 (nightly.exe, created 20261208 20:00:00.125)"
  std::string ProcessText(const StoredRecord& record) const {
    const SeriesKey& key = Series[record.Series];
    return Machines[key.Machine] + " process " + std::to_string(key.ProcessId) + " (" +
           Names[record.Names()].Process + ", created " + LogTimeText(key.Created != kEarliest, key.Created) + ")";
  }
};

LogConverter::LogConverter(Sink sink, Options options)
    : sink_(std::move(sink)), options_(std::move(options)), state_(std::make_unique<State>()) {}

LogConverter::~LogConverter() = default;

void LogConverter::Skip(const char* reason, std::int64_t lines) {
  report_.RecordsSkipped += lines;
  report_.SkippedFor[reason] += lines;
}

void LogConverter::NotBilled(const char* kind, std::uint32_t file, std::int64_t line, const std::string& detail) {
  ++report_.LinesNotBilled;
  ++report_.NotBilledFor[kind];
  state_->Faults.push_back({file, line, detail});
}

void LogConverter::NoteInputWithoutUsage(std::string description) {
  report_.InputsWithoutUsage.push_back(std::move(description));
}

bool LogConverter::AddLog(std::string_view name, const LineSource& nextLine, std::string& message) {
  State& state = *state_;
  const auto file = static_cast<std::uint32_t>(state.Files.size());
  state.Files.emplace_back(IsStandardStream(name) ? "standard input" : std::string(name));
  ProcessLogLayout layout;  // line 1 is a header record, or the log is refused
  UsageLineScratch scratch;
  UsageLine usage;
  LineFault fault;
  std::string reason;
  std::string_view line;
  bool ended = true;
  std::int64_t usageLines = 0;
  for (std::int64_t number = 1; nextLine(line, ended); ++number) {
    if (!ended) {
      // Whatever it is, the rest of it is still to come.
      ++report_.RecordsRead;
      ++usageLines;
      NotBilled(kIncomplete, file, number, "the last line has no line end (the file may still be written)");
    } else if (number == 1 || ProcessLogLayout::IsHeaderLine(line)) {
      if (layout.Read(line, reason)) continue;
      if (number == 1) {
        message = "'" + state.Files[file] + "' is not a process log: line 1: " + reason;
        return false;
      }
      ++report_.RecordsRead;
      NotBilled(kFaultUnreadable, file, number, "a header record that cannot be read: " + reason);
    } else if (line.empty()) {
      ++report_.RecordsRead;
      Skip(kEmptyLines);
    } else {
      ++report_.RecordsRead;
      ++usageLines;
      if (ParseUsageLine(line, layout, scratch, usage, fault)) {
        Add(usage, file, number);
      } else {
        NotBilled(fault.Kind.c_str(), file, number, fault.Detail);
      }
    }
  }
  if (usageLines == 0) NoteInputWithoutUsage("'" + state.Files[file] + "' holds no usage record");
  return true;
}

void LogConverter::Add(const UsageLine& line, std::uint32_t file, std::int64_t lineNumber) {
  State& state = *state_;
  for (const LogTime* time : {&line.Created, &line.Exited, &line.IntervalStart, &line.IntervalEnd}) {
    if (!time->Present) continue;
    state.Latest = state.AnyTime ? std::max(state.Latest, time->Milliseconds) : time->Milliseconds;
    state.AnyTime = true;
  }
  const SeriesKey key{state.MachineId(line.MachineName), line.ProcessId,
                      line.Created.Present ? line.Created.Milliseconds : kEarliest, line.Source};
  const std::uint32_t series = state.SeriesIds.Find(key, state.Series);
  if (series == state.SeriesNames.size()) state.SeriesNames.push_back(kNone);
  if (state.Records.size() >= kNone) throw Error("More usage records than one run can hold");

  if (file >= StoredRecord::kMaxFiles || lineNumber >= StoredRecord::kMaxLines ||
      state.Names.size() >= StoredRecord::kMaxNames) {
    throw Error("More logs, lines or names than one run can hold");
  }
  const StoredRecord record(line, series, state.NamesId(series, line), file, lineNumber, state.Wide);
  state.Records.push_back(record);
}

// The walk through one process's records (of the collector that bills it),
// in the order of their times.
struct LogConverter::SeriesWalk {
  SeriesWalk(LogConverter& converter, std::string_view machine, std::uint32_t projectNames, const SeriesKey& key)
      : Converter(converter),
        S(*converter.state_),
        Machine(machine),
        ProjectNames(projectNames),
        CreatedKnown(key.Created != kEarliest),
        Created(key.Created),
        InProcess(key.Source == LogSource::InProcess) {}

  LogConverter& Converter;
  State& S;
  std::string_view Machine;
  std::uint32_t ProjectNames;  // whose project the process is billed to
  bool CreatedKnown;
  std::int64_t Created;
  bool InProcess;

  bool AnyBefore = false;
  bool Known = false;         // Cumulative is the usage since creation
  RecordFigures Cumulative {};  // since creation, or since the first record of these logs
  std::int64_t Summed = 0;    // records summed into Cumulative since its last total
  bool HaveLastEnd = false;
  std::int64_t LastEnd = 0;

  void Bill(const StoredRecord& record, std::int64_t start, std::int64_t end, const RecordFigures& figures) {
    Converter.BillRecord(Machine, record.Names(), ProjectNames, start, end, figures);
  }

  void SetLastEnd(std::int64_t end) {
    HaveLastEnd = true;
    LastEnd = end;
  }

  std::int64_t StartOr(std::int64_t fallback) const {
    return HaveLastEnd ? LastEnd : CreatedKnown ? Created : fallback;
  }

  void Start(const StoredRecord& record, std::int64_t end) {
    const RecordFigures totals = record.Figures(S.Wide);
    if (!AnyBefore) {
      Bill(record, CreatedKnown ? Created : end, end, totals);
    } else if (Known) {
      ++Converter.report_.RestartStarts;
      RecordFigures beyond;
      for (std::size_t i = 0; i < kFigureCount; ++i) beyond[i] = std::max<std::int64_t>(totals[i] - Cumulative[i], 0);
      Bill(record, StartOr(end), end, beyond);
    } else {
      Converter.NotBilled(kRestartUnknown, record.File(), record.Line(),
                          "the start record of " + S.ProcessText(record) +
                              " after a collector restart: its usage since creation includes usage before these "
                              "logs, so what it adds cannot be told");
    }
    Cumulative = totals;
    Known = true;
    Summed = 1;
    SetLastEnd(end);
  }

  void Interval(const StoredRecord& record) {
    const RecordFigures figures = record.Figures(S.Wide);
    Bill(record, record.IntervalStart(S.Wide), record.Moment, figures);
    AddFigures(Cumulative, figures);
    ++Summed;
    SetLastEnd(record.Moment);
  }

  void End(const StoredRecord& record, std::int64_t end) {
    const RecordFigures totals = record.Figures(S.Wide);
    if (!AnyBefore) {
      Bill(record, CreatedKnown ? Created : end, end, totals);
    } else {
      Check(record, end, totals);
    }
    Cumulative = totals;
    Known = true;
    Summed = 0;
    SetLastEnd(end);
  }

  // The conservation check of an end record after billed records.
  void Check(const StoredRecord& record, std::int64_t end, const RecordFigures& totals) {
    ConversionReport& report = Converter.report_;
    ++report.ProcessesChecked;
    std::string differences;
    RecordFigures excess {};
    for (std::size_t i = 0; i < kFigureCount; ++i) {
      const std::int64_t difference = totals[i] - Cumulative[i];
      if (WithinRounding(i, difference, Summed)) continue;
      if (difference > 0 && InProcess && Known) excess[i] = difference;
      // Elapsed time is not checked: the service's end record counts to the
      // exit, its last interval record to the look that saw it.
      if (i == kElapsed || (difference > 0 && (!Known || InProcess))) continue;
      differences += std::string(differences.empty() ? "" : "; ") + kFigureNames[i] + " " +
                     Shown(FigureValue(i, Cumulative[i])) +
                     (Known ? " in start and interval records, " : " in the interval records of these logs, more than ") +
                     Shown(FigureValue(i, totals[i])) + " in the end record";
    }
    if (!differences.empty()) {
      ++report.Mismatches;
      report.MismatchList.push_back(S.Where(record.File(), record.Line()) + ": " + S.ProcessText(record) + ": " +
                                    differences);
    }
    if (!AllZero(excess)) {
      // The in-process collector's usage between its last interval record
      // and its end record.
      Bill(record, StartOr(end), end, excess);
    } else {
      Converter.Skip(kEndOfBilledProcess);
    }
  }
};

void LogConverter::BillRecord(std::string_view machine, std::uint32_t names, std::uint32_t projectNames,
                              std::int64_t start, std::int64_t end, const RecordFigures& figures) {
  if (AllZero(figures)) {
    Skip(kNoUsage);
    return;
  }
  if ((options_.Since && end <= *options_.Since) || (options_.Until && end > *options_.Until)) {
    Skip(kOutsideRange);
    return;
  }
  State& state = *state_;
  if (state.Excluded.size() <= names) state.Excluded.resize(state.Names.size(), -1);
  std::int8_t& excluded = state.Excluded[names];
  const ProcessNames& named = state.Names[names];
  if (excluded < 0) {
    excluded = std::any_of(options_.ExcludedUsers.begin(), options_.ExcludedUsers.end(),
                           [&named](const std::string& pattern) { return MatchesWildcard(pattern, named.User); })
                   ? 1
                   : 0;
  }
  ++(excluded != 0 ? report_.RecordsExcluded : report_.RecordsWritten);
  const std::string& project = state.Names[projectNames].Project;
  const Usage usage = UsageOf(figures);
  sink_(BilledRecord{excluded != 0, machine, named.User, project.empty() ? kNoProject : std::string_view(project),
                     named.Process, DateOfMilliseconds(std::min(start, end)), DateOfMilliseconds(end), &usage});
}

void LogConverter::Finish() {
  State& state = *state_;
  if (state.Finished) return;
  state.Finished = true;
  // Processes in the order of machine, creation and process id, each
  // collector's records together.
  std::vector<std::uint32_t> machineRank(state.Machines.size());
  {
    std::vector<std::uint32_t> byName(state.Machines.size());
    for (std::uint32_t i = 0; i < byName.size(); ++i) byName[i] = i;
    std::sort(byName.begin(), byName.end(),
              [&state](std::uint32_t a, std::uint32_t b) { return state.Machines[a] < state.Machines[b]; });
    for (std::uint32_t rank = 0; rank < byName.size(); ++rank) machineRank[byName[rank]] = rank;
  }
  std::vector<std::uint32_t> seriesOrder(state.Series.size());
  for (std::uint32_t i = 0; i < seriesOrder.size(); ++i) seriesOrder[i] = i;
  const auto seriesTuple = [&](std::uint32_t s) {
    const SeriesKey& key = state.Series[s];
    return std::make_tuple(machineRank[key.Machine], key.Created, key.ProcessId, key.Source);
  };
  std::sort(seriesOrder.begin(), seriesOrder.end(),
            [&](std::uint32_t a, std::uint32_t b) { return seriesTuple(a) < seriesTuple(b); });
  std::vector<std::uint32_t> seriesRank(state.Series.size());
  for (std::uint32_t rank = 0; rank < seriesOrder.size(); ++rank) seriesRank[seriesOrder[rank]] = rank;

  // The records grouped by series (a counting sort), then each series in
  // the order of its records' times.
  std::vector<std::size_t> first(state.Series.size() + 1, 0);
  for (std::size_t r = 0; r < state.Records.size(); ++r) ++first[seriesRank[state.Records[r].Series] + 1];
  for (std::size_t s = 1; s < first.size(); ++s) first[s] += first[s - 1];
  std::vector<std::uint32_t> order(state.Records.size());
  {
    std::vector<std::size_t> next(first.begin(), first.end() - 1);
    for (std::uint32_t r = 0; r < state.Records.size(); ++r) order[next[seriesRank[state.Records[r].Series]]++] = r;
  }
  const auto sortMoment = [](const StoredRecord& r) {
    if (r.Type() == 'I' || r.IsExitedEnd()) return r.Moment;
    if (!r.MomentKnown()) return r.Type() == 'S' ? kEarliest : kLatest;
    return r.Moment + kMomentSlackMilliseconds;
  };
  const auto typeRank = [](const StoredRecord& r) { return r.Type() == 'I' ? 0 : r.Type() == 'E' ? 1 : 2; };
  const auto identityTime = [&state](const StoredRecord& r) {
    return r.Type() == 'I' ? r.Moment : r.IsExitedEnd() ? 0 : r.Figures(state.Wide)[kElapsed];
  };
  const auto before = [&](std::uint32_t x, std::uint32_t y) {
    const StoredRecord& a = state.Records[x];
    const StoredRecord& b = state.Records[y];
    const auto ka = std::make_tuple(a.IsExitedEnd(), sortMoment(a), typeRank(a), identityTime(a));
    const auto kb = std::make_tuple(b.IsExitedEnd(), sortMoment(b), typeRank(b), identityTime(b));
    if (ka != kb) return ka < kb;
    const RecordFigures fa = a.Figures(state.Wide);
    const RecordFigures fb = b.Figures(state.Wide);
    if (fa != fb) return fa < fb;
    if (a.Names() != b.Names()) {
      const ProcessNames& na = state.Names[a.Names()];
      const ProcessNames& nb = state.Names[b.Names()];
      return std::tie(na.User, na.Project, na.Process) < std::tie(nb.User, nb.Project, nb.Process);
    }
    if (a.IntervalStart(state.Wide) != b.IntervalStart(state.Wide)) {
      return a.IntervalStart(state.Wide) < b.IntervalStart(state.Wide);
    }
    if (a.Moment != b.Moment) return a.Moment < b.Moment;
    if (a.File() != b.File()) return state.Files[a.File()] < state.Files[b.File()];
    return a.Line() < b.Line();
  };
  const auto sameIdentity = [&](const StoredRecord& a, const StoredRecord& b) {
    if (a.IsExitedEnd() || b.IsExitedEnd()) return a.IsExitedEnd() && b.IsExitedEnd();
    return a.Type() == b.Type() && identityTime(a) == identityTime(b) && a.MomentKnown() == b.MomentKnown();
  };
  const auto sameContent = [&state](const StoredRecord& a, const StoredRecord& b) {
    return a.Figures(state.Wide) == b.Figures(state.Wide) && a.Names() == b.Names() &&
           a.IntervalStart(state.Wide) == b.IntervalStart(state.Wide) &&
           a.Moment == b.Moment && a.Exited() == b.Exited();
  };
  // The latest time a series' records reach.
  const auto reach = [&](std::size_t from, std::size_t to) {
    std::int64_t latest = kEarliest;
    for (std::size_t i = from; i < to; ++i) {
      const StoredRecord& r = state.Records[order[i]];
      if (r.MomentKnown()) latest = std::max(latest, r.Moment);
    }
    return latest;
  };

  // The records lie in the order they were read, the walk takes them process
  // by process: fetching them a little ahead keeps it from waiting on memory.
  constexpr std::size_t kFetchAhead = 64;
  std::size_t fetched = 0;
  for (std::size_t rank = 0; rank < seriesOrder.size();) {
    for (const std::size_t until = std::min(order.size(), first[rank] + kFetchAhead); fetched < until; ++fetched) {
      __builtin_prefetch(&state.Records[order[fetched]]);
    }
    // The series of one process: the service's first, then the in-process
    // collector's.
    std::size_t end = rank + 1;
    while (end < seriesOrder.size() &&
           state.Series[seriesOrder[end]].SameProcess(state.Series[seriesOrder[rank]])) {
      ++end;
    }
    // Logs given in date order leave a series in order already.
    for (std::size_t s = rank; s < end; ++s) {
      const auto from = order.begin() + static_cast<std::ptrdiff_t>(first[s]);
      const auto to = order.begin() + static_cast<std::ptrdiff_t>(first[s + 1]);
      if (!std::is_sorted(from, to, before)) std::sort(from, to, before);
    }
    std::size_t billed = rank;
    std::uint32_t projectNames = state.Records[order[first[rank]]].Names();
    if (end - rank == 2) {
      if (reach(first[rank + 1], first[rank + 2]) > reach(first[rank], first[rank + 1])) billed = rank + 1;
      const std::size_t other = billed == rank ? rank + 1 : rank;
      Skip(kOtherCollector, static_cast<std::int64_t>(first[other + 1] - first[other]));
    }
    const SeriesKey& key = state.Series[seriesOrder[billed]];
    SeriesWalk walk(*this, state.Machines[key.Machine], projectNames, key);
    const std::size_t stop = first[billed + 1];
    for (std::size_t i = first[billed]; i < stop;) {
      const StoredRecord& record = state.Records[order[i]];
      std::size_t next = i + 1;
      for (; next < stop && sameIdentity(record, state.Records[order[next]]); ++next) {
        const StoredRecord& again = state.Records[order[next]];
        if (sameContent(record, again)) {
          Skip(kRepeated);
        } else {
          NotBilled(kConflicting, again.File(), again.Line(),
                    "the " + std::string(RecordName(again.Type())) + " record of " + state.ProcessText(again) +
                        " is also in " + state.Where(record.File(), record.Line()) +
                        " with other figures or names; that one is billed");
        }
      }
      if (record.Type() == 'S') {
        std::int64_t endOfStart = state.Latest;
        if (record.MomentKnown()) {
          endOfStart = record.Moment;
        } else {
          for (std::size_t k = next; k < stop; ++k) {
            const StoredRecord& later = state.Records[order[k]];
            if (later.Type() != 'I') continue;
            endOfStart = later.IntervalStart(state.Wide);
            break;
          }
        }
        walk.Start(record, endOfStart);
      } else if (record.Type() == 'I') {
        walk.Interval(record);
      } else {
        walk.End(record, record.MomentKnown() ? record.Moment : state.Latest);
      }
      walk.AnyBefore = true;
      i = next;
    }
    rank = end;
  }

  // Faults in the order of files and lines, whatever the order of the logs.
  std::sort(state.Faults.begin(), state.Faults.end(), [&state](const State::Fault& a, const State::Fault& b) {
    return std::tie(state.Files[a.File], a.Line) < std::tie(state.Files[b.File], b.Line);
  });
  for (const State::Fault& fault : state.Faults) {
    report_.NotBilled.push_back(state.Where(fault.File, fault.Line) + ": " + fault.Text);
  }
  std::sort(report_.MismatchList.begin(), report_.MismatchList.end());
}

const std::vector<std::string>& BilledRecordFields::IdentifierNames() noexcept { return kIdentifierNames; }
const std::vector<std::string>& BilledRecordFields::RateCodes() noexcept { return kRateCodes; }

void BilledRecordFields::Take(const BilledRecord& record) {
  header_ = record.Excluded ? kExcludedHeader : kBilledHeader;
  values_ = {Quotable(record.Machine, scratch_[0]), Quotable(record.User, scratch_[1]),
             Quotable(record.Project, scratch_[2]), Quotable(record.Process, scratch_[3])};
  figures_.assign(record.Figures->Values.begin(), record.Figures->Values.end());
}

bool ConvertLogsToResourceFile(const ConversionJob& job, const std::string& outputPath,
                               const std::function<bool()>& keepGoing, ConversionReport& report,
                               std::string& message) {
  CResourceFile writer;
  writer.SetFileName(outputPath);
  if (!writer.FileOpen(CResourceFile::kModeWrite)) {
    message = "Unable to write '" + outputPath + "': " + writer.LastErrorMessage();
    return false;
  }
  BilledRecordFields fields;
  LogConverter converter(
      [&](const BilledRecord& record) {
        fields.Take(record);
        writer.FileWrite(fields.Header(), record.Start, record.End, "", kIdentifierNames, fields.IdentifierValues(),
                         kRateCodes, fields.Figures());
      },
      job.Options);
  for (const std::string& without : job.InputsWithoutUsage) converter.NoteInputWithoutUsage(without);
  bool stopped = false;
  for (const std::string& log : job.Logs) {
    LineInput input;
    if (!input.Open(log, message)) return false;
    const auto nextLine = [&](std::string_view& line, bool& ended) {
      if (input.LineNumber() % kKeepGoingCheckLines == 0 && !keepGoing()) stopped = true;
      if (stopped || !input.Next(line)) return false;
      ended = input.LastLineEnded();
      return true;
    };
    if (!converter.AddLog(log, nextLine, message)) return false;
    if (stopped) return true;
  }
  converter.Finish();
  writer.FileClose();
  report = converter.Report();
  return true;
}

}  // namespace quax::agg::tools
