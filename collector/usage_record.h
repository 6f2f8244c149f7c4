// The process log file format: the figures of one process snapshot and how
// they become one delimited usage record line. Portable (no Windows headers),
// so the whole format is tested natively as well as under Wine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fixed_text.h"

namespace quax {

// A cumulative figure with the values of the last two refreshes; the
// difference is the usage between them.
template <class T>
struct Cumulative {
  T Current{};
  T Previous{};
  void Advance(T next) noexcept {
    Previous = Current;
    Current = next;
  }
  T Delta() const noexcept { return static_cast<T>(Current - Previous); }
};

// UTC FILETIME value: 100-nanosecond ticks since 1 January 1601.
using FileTimeTicks = std::uint64_t;
inline constexpr std::uint64_t kTicksPerSecond = 10'000'000;

// Everything a snapshot knows about a process apart from its handle and
// flags; the log writer reads it field by field.
struct ProcessFigures {
  std::uint32_t AffinityMask = 0;
  std::uint32_t ExitCode = 0;
  std::uint32_t ProcessId = 0;
  std::uint32_t ParentProcessId = 0;
  std::uint32_t SessionId = 0;
  FileTimeTicks CreationTime = 0;
  FileTimeTicks ExitTime = 0;  // the last refresh time while the process runs
  FileTimeTicks IntervalEnd = 0;
  FileTimeTicks IntervalStart = 0;
  TextField ProjectName = {};
  TextField ProcessName = {};
  TextField ImageDirectory = {};
  TextField MachineName = {};
  TextField UserName = {};
  Cumulative<std::uint64_t> BytesRead;
  Cumulative<std::uint64_t> BytesWritten;
  Cumulative<std::uint64_t> ReadOperations;
  Cumulative<std::uint64_t> WriteOperations;
  Cumulative<std::uint32_t> PageFaults;
  // Memory sizes in bytes. Kept 64 bits wide so that a 64-bit process above
  // 4 GiB is not cut; the record writes the low 32 bits of the KB value.
  std::uint64_t PagefileUsage = 0;
  std::uint64_t PeakPagefileUsage = 0;
  std::uint64_t WorkingSet = 0;
  std::uint64_t PeakWorkingSet = 0;
  std::int32_t BasePriority = 0;
  std::uint32_t PriorityClass = 0;
  std::uint32_t EligibleProcessorCount = 0;
  std::uint32_t SystemProcessorCount = 0;
  Cumulative<double> CpuSeconds;
  Cumulative<double> ElapsedSeconds;
  Cumulative<double> KernelSeconds;
  Cumulative<double> UserSeconds;
};

// A broken-down date and time; all zero means "no time".
struct DateTimeParts {
  std::uint16_t Month = 0;
  std::uint16_t Day = 0;
  std::uint16_t Year = 0;
  std::uint16_t Hour = 0;
  std::uint16_t Minute = 0;
  std::uint16_t Second = 0;
  std::uint16_t Milliseconds = 0;
};

enum class RecordType : char { Start = 'S', Interval = 'I', End = 'E' };

bool IsRecordType(char letter) noexcept;

// The snapshot's times, already converted to local time or UTC.
struct RecordDates {
  DateTimeParts Created;
  DateTimeParts Exited;
  DateTimeParts IntervalStart;
  DateTimeParts IntervalEnd;
};

// The service writes every column; the in-process collector leaves out the
// last one (the project name).
enum class RecordColumns { WithProject, WithoutProject };

inline constexpr std::size_t kFieldCount = 32;

// The columns of a usage record, in the order they are written. The
// in-process collector writes all but the last.
enum class UsageColumn : std::size_t {
  RecordType, ProcessId, ParentProcessId, ProcessName, ProcessPath, MachineName, UserName,
  TerminalServicesSessionID, CreateDateTime, ExitDateTime, ExitCode, IntervalStartDateTime,
  IntervalEndDateTime, ElapsedTimeSecs, CPUTimeSecs, KernelCPUTimeSecs, UserCPUTimeSecs,
  ReadRequests, KBytesRead, WriteRequests, KBytesWritten, PageFaultCount, WorkingSetSizeKB,
  PeakWorkingSetSizeKB, PagefileUsageKB, PeakPagefileUsageKB, PriorityClass, BasePriority,
  SystemProcessorCount, EligibleProcessorCount, AffinityMask, QUAXUProjectName,
};

// The column's name in the header record.
const char* ColumnName(UsageColumn column) noexcept;

// A record line never needs more: five texts of 259 characters and 27
// numeric fields of at most 24 characters each, with delimiters and CR LF.
inline constexpr std::size_t kMaxRecordLineSize = 2304;

// Whether a character can separate the fields of a record: not one that
// other fields hold (digits, letters, the space, "-", "." and ":" of dates
// and seconds) and not a line end or NUL.
bool IsUsableDelimiter(char delimiter) noexcept;

// What stands for the delimiter, CR and LF inside a text field: "_", or a
// space when the delimiter itself is "_". So no field holds the delimiter
// and every line keeps its field count.
char TextFieldReplacement(char delimiter) noexcept;

// The header record line, CR LF included. Returns its length, or 0 when the
// buffer is too small or the delimiter is not usable.
std::size_t FormatHeaderRecord(char* out, std::size_t capacity, char delimiter,
                               RecordColumns columns) noexcept;

// One usage record line, CR LF included. `running` is the snapshot's
// IsRunning answer. Returns the length, or 0 when the buffer is too small or
// the delimiter is not usable (then nothing useful is in out).
std::size_t FormatUsageRecord(char* out, std::size_t capacity, RecordType type,
                              const ProcessFigures& figures, const RecordDates& dates,
                              bool running, char delimiter, RecordColumns columns) noexcept;

// "YYYYMMDD HH:MM:SS.mmm". Returns the length (21) or 0 when out is too small.
std::size_t FormatLogDateTime(char* out, std::size_t capacity, const DateTimeParts& parts) noexcept;

// Name of a GetPriorityClass value ("Normal", "Idle", ..., "Unknown").
const char* PriorityClassName(std::uint32_t priorityClass) noexcept;

// "<directory>\<prefix>YYYYMMDD<extension>". False (out untouched) when the
// name does not fit.
bool FormatLogFileName(char* out, std::size_t capacity, const char* directory,
                       const char* prefix, unsigned year, unsigned month, unsigned day,
                       const char* extension) noexcept;

// Seconds of a tick count: the whole seconds plus the remaining ticks.
double SecondsFromTicks(std::uint64_t ticks) noexcept;

// Seconds from start to end; 0.0 when they are equal or when the end lies
// before the start (a clock set back).
double SecondsBetween(FileTimeTicks end, FileTimeTicks start) noexcept;

}  // namespace quax
