#include "usage_record.h"

#include <cstdio>
#include <cstring>

namespace quax {

namespace {

// The header record's names, indexed by UsageColumn.
constexpr const char* kHeaderFields[kFieldCount] = {
    "RecordType",        "ProcessId",       "ParentProcessId",      "ProcessName",
    "ProcessPath",       "MachineName",     "UserName",             "TerminalServicesSessionID",
    "CreateDateTime",    "ExitDateTime",    "ExitCode",             "IntervalStartDateTime",
    "IntervalEndDateTime", "ElapsedTimeSecs", "CPUTimeSecs",        "KernelCPUTimeSecs",
    "UserCPUTimeSecs",   "ReadRequests",    "KBytesRead",           "WriteRequests",
    "KBytesWritten",     "PageFaultCount",  "WorkingSetSizeKB",     "PeakWorkingSetSizeKB",
    "PagefileUsageKB",   "PeakPagefileUsageKB", "PriorityClass",    "BasePriority",
    "SystemProcessorCount", "EligibleProcessorCount", "AffinityMask", "QUAXUProjectName",
};

static_assert(static_cast<std::size_t>(UsageColumn::QUAXUProjectName) == kFieldCount - 1);

constexpr char kNoValue[] = "-";

std::size_t FieldCount(RecordColumns columns) noexcept {
  return columns == RecordColumns::WithProject ? kFieldCount : kFieldCount - 1;
}

// Appends to a fixed buffer; once something does not fit, the line is
// marked failed and nothing more is written.
class LineWriter {
 public:
  LineWriter(char* out, std::size_t capacity) noexcept : out_(out), capacity_(capacity) {}

  void Text(const char* text) noexcept { Bytes(text, std::strlen(text)); }

  // A text of the snapshot: the delimiter and line ends are replaced.
  void TextField(const char* text, char delimiter) noexcept {
    const std::size_t count = std::strlen(text);
    if (failed_ || capacity_ - length_ < count) {
      failed_ = true;
      return;
    }
    const char replacement = TextFieldReplacement(delimiter);
    char* out = out_ + length_;
    for (std::size_t i = 0; i < count; ++i) {
      const char c = text[i];
      out[i] = c == delimiter || c == '\r' || c == '\n' ? replacement : c;
    }
    length_ += count;
  }

  void Char(char c) noexcept { Bytes(&c, 1); }

  void Unsigned(std::uint32_t value) noexcept {
    char digits[10];
    std::size_t count = 0;
    do {
      digits[sizeof digits - ++count] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    Bytes(digits + sizeof digits - count, count);
  }

  void Seconds(double value) noexcept {
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%.6f", value);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof text) {
      failed_ = true;
      return;
    }
    Bytes(text, static_cast<std::size_t>(length));
  }

  void Kilobytes(std::uint64_t bytes) noexcept { Unsigned(static_cast<std::uint32_t>(bytes >> 10)); }

  void DateTime(const DateTimeParts& parts) noexcept {
    char text[32];
    const std::size_t length = FormatLogDateTime(text, sizeof text, parts);
    if (length == 0) {
      failed_ = true;
      return;
    }
    Bytes(text, length);
  }

  void DateTimeOrNone(const DateTimeParts& parts) noexcept {
    if (parts.Year == 0) {
      Text(kNoValue);
    } else {
      DateTime(parts);
    }
  }

  std::size_t Finish() noexcept {
    Text("\r\n");
    return failed_ ? 0 : length_;
  }

 private:
  void Bytes(const char* bytes, std::size_t count) noexcept {
    if (failed_ || capacity_ - length_ < count) {
      failed_ = true;
      return;
    }
    std::memcpy(out_ + length_, bytes, count);
    length_ += count;
  }

  char* out_;
  std::size_t capacity_;
  std::size_t length_ = 0;
  bool failed_ = false;
};

}  // namespace

bool IsUsableDelimiter(char delimiter) noexcept {
  const bool digit = delimiter >= '0' && delimiter <= '9';
  const bool letter = (delimiter >= 'a' && delimiter <= 'z') || (delimiter >= 'A' && delimiter <= 'Z');
  return !digit && !letter && std::strchr(" -.:\r\n", delimiter) == nullptr;  // NUL is found too
}

char TextFieldReplacement(char delimiter) noexcept { return delimiter == '_' ? ' ' : '_'; }

const char* ColumnName(UsageColumn column) noexcept {
  return kHeaderFields[static_cast<std::size_t>(column)];
}

bool IsRecordType(char letter) noexcept {
  return letter == static_cast<char>(RecordType::Start) ||
         letter == static_cast<char>(RecordType::Interval) ||
         letter == static_cast<char>(RecordType::End);
}

std::size_t FormatHeaderRecord(char* out, std::size_t capacity, char delimiter,
                               RecordColumns columns) noexcept {
  if (!IsUsableDelimiter(delimiter)) return 0;
  LineWriter line(out, capacity);
  const std::size_t count = FieldCount(columns);
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) line.Char(delimiter);
    line.Text(kHeaderFields[i]);
  }
  return line.Finish();
}

std::size_t FormatUsageRecord(char* out, std::size_t capacity, RecordType type,
                              const ProcessFigures& f, const RecordDates& dates, bool running,
                              char delimiter, RecordColumns columns) noexcept {
  const bool interval = type == RecordType::Interval;
  const bool end = type == RecordType::End;
  const bool exited = end && !running;
  if (!IsUsableDelimiter(delimiter)) return 0;

  LineWriter line(out, capacity);
  const auto next = [&] { line.Char(delimiter); };

  line.Char(static_cast<char>(type));
  next(); line.Unsigned(f.ProcessId);
  next(); line.Unsigned(f.ParentProcessId);
  next(); line.TextField(f.ProcessName, delimiter);
  next(); line.TextField(f.ImageDirectory, delimiter);
  next(); line.TextField(f.MachineName, delimiter);
  next(); line.TextField(f.UserName, delimiter);
  next(); line.Unsigned(f.SessionId);
  next(); line.DateTime(dates.Created);
  next(); exited ? line.DateTimeOrNone(dates.Exited) : line.Text(kNoValue);
  next(); exited ? line.Unsigned(f.ExitCode) : line.Text(kNoValue);
  next(); interval ? line.DateTimeOrNone(dates.IntervalStart) : line.Text(kNoValue);
  next(); interval ? line.DateTimeOrNone(dates.IntervalEnd) : line.Text(kNoValue);

  // Interval records carry the usage between the last two refreshes, the
  // others the totals.
  const auto seconds = [&](const Cumulative<double>& value) {
    next();
    line.Seconds(interval ? value.Current - value.Previous : value.Current);
  };
  const auto count = [&](const Cumulative<std::uint64_t>& value) {
    next();
    line.Unsigned(static_cast<std::uint32_t>(interval ? value.Delta() : value.Current));
  };
  const auto kilobytes = [&](const Cumulative<std::uint64_t>& value) {
    next();
    line.Kilobytes(interval ? value.Delta() : value.Current);
  };
  seconds(f.ElapsedSeconds);
  seconds(f.CpuSeconds);
  seconds(f.KernelSeconds);
  seconds(f.UserSeconds);
  count(f.ReadOperations);
  kilobytes(f.BytesRead);
  count(f.WriteOperations);
  kilobytes(f.BytesWritten);
  next(); line.Unsigned(interval ? f.PageFaults.Delta() : f.PageFaults.Current);
  next(); line.Kilobytes(f.WorkingSet);
  next(); end ? line.Kilobytes(f.PeakWorkingSet) : line.Text(kNoValue);
  next(); line.Kilobytes(f.PagefileUsage);
  next(); end ? line.Kilobytes(f.PeakPagefileUsage) : line.Text(kNoValue);
  next(); line.Text(PriorityClassName(f.PriorityClass));
  next(); line.Unsigned(static_cast<std::uint32_t>(f.BasePriority));
  next(); line.Unsigned(f.SystemProcessorCount);
  next(); line.Unsigned(f.EligibleProcessorCount);
  next(); line.Unsigned(f.AffinityMask);
  if (columns == RecordColumns::WithProject) {
    next(); line.TextField(f.ProjectName, delimiter);
  }
  return line.Finish();
}

std::size_t FormatLogDateTime(char* out, std::size_t capacity, const DateTimeParts& p) noexcept {
  const int length = std::snprintf(out, capacity, "%04u%02u%02u %02u:%02u:%02u.%03u",
                                   unsigned{p.Year}, unsigned{p.Month}, unsigned{p.Day},
                                   unsigned{p.Hour}, unsigned{p.Minute}, unsigned{p.Second},
                                   unsigned{p.Milliseconds});
  if (length < 0 || static_cast<std::size_t>(length) >= capacity) return 0;
  return static_cast<std::size_t>(length);
}

const char* PriorityClassName(std::uint32_t priorityClass) noexcept {
  switch (priorityClass) {
    case 0x20: return "Normal";
    case 0x40: return "Idle";
    case 0x80: return "HighPriority";
    case 0x100: return "Realtime";
    case 0x4000: return "BelowNormal";
    case 0x8000: return "AboveNormal";
    default: return "Unknown";
  }
}

bool FormatLogFileName(char* out, std::size_t capacity, const char* directory, const char* prefix,
                       unsigned year, unsigned month, unsigned day, const char* extension) noexcept {
  char name[3 * kTextFieldSize + 16];
  const int length = std::snprintf(name, sizeof name, "%s\\%s%04u%02u%02u%s", directory, prefix,
                                   year, month, day, extension);
  if (length < 0 || static_cast<std::size_t>(length) >= capacity ||
      static_cast<std::size_t>(length) >= sizeof name) {
    return false;
  }
  std::memcpy(out, name, static_cast<std::size_t>(length) + 1);
  return true;
}

double SecondsFromTicks(std::uint64_t ticks) noexcept {
  const std::uint64_t whole = ticks / kTicksPerSecond;
  const std::uint64_t rest = ticks - whole * kTicksPerSecond;
  return static_cast<double>(whole) + static_cast<double>(rest) * 0.0001 * 0.001;
}

double SecondsBetween(FileTimeTicks end, FileTimeTicks start) noexcept {
  if (end <= start) return 0.0;
  return SecondsFromTicks(end - start);
}

}  // namespace quax
