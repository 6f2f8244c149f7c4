// Reading the collectors' process log files: the header record names the
// columns, every further line is one usage record. Both forms are read, the
// service's 32 columns and the in-process collector's 31 (without the
// project), also mixed in one file: the two collectors append to the same
// daily file under whichever header was written first, and the two forms
// differ only in the last column.
//
// Every line is read with its own delimiter, the character after its first
// field (the record type letter, or "RecordType" in a header): a service
// restarted with another LogFileFieldDelimiter goes on appending to the
// day's file, so one file may hold lines of several delimiters.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "usage_record.h"

namespace quax::agg::tools {

// A log date-time in milliseconds since 30 December 1899 00:00 (the epoch
// of DATE); Present is false for "-" and for the zero time
// 00000000 00:00:00.000.
struct LogTime {
  bool Present = false;
  std::int64_t Milliseconds = 0;
};

// Reads "YYYYMMDD HH:MM:SS.mmm" or "-"; false for anything else.
bool ParseLogTime(std::string_view text, LogTime& out) noexcept;

// The DATE of a time in milliseconds, to the second (the milliseconds
// dropped, as the resource records keep times to the second).
double DateOfMilliseconds(std::int64_t milliseconds) noexcept;

// The columns of one header record.
class ProcessLogLayout {
 public:
  // True when the line is a header record: it begins with the name of the
  // first column, followed by the delimiter or nothing.
  static bool IsHeaderLine(std::string_view line) noexcept;
  // Reads a header record; false with the reason when a column that billing
  // needs is missing or named twice.
  bool Read(std::string_view line, std::string& reason);

  std::size_t FieldCount() const noexcept { return fieldCount_; }
  bool HasProject() const noexcept { return HasColumn(UsageColumn::QUAXUProjectName); }
  bool HasColumn(UsageColumn column) const noexcept { return position_[Index(column)] != kAbsent; }
  std::size_t Position(UsageColumn column) const noexcept { return position_[Index(column)]; }

 private:
  static constexpr std::size_t kAbsent = ~std::size_t{0};
  static std::size_t Index(UsageColumn column) noexcept { return static_cast<std::size_t>(column); }

  std::size_t fieldCount_ = 0;
  std::array<std::size_t, kFieldCount> position_ {};
};

// Which collector wrote a line: the service writes the project column, the
// in-process collector does not.
enum class LogSource : std::uint8_t { Service, InProcess };

// The usage figures of a record in the order of the converter's rate codes:
// seconds in millionths (the log's six places), kilobytes as they are.
enum Figure : std::size_t { kCpu, kKernel, kUser, kElapsed, kKBytesRead, kKBytesWritten, kFigureCount };
using RecordFigures = std::array<std::int64_t, kFigureCount>;
inline constexpr int kMicrosPerSecond = 1'000'000;
inline bool IsSecondsFigure(std::size_t figure) noexcept { return figure <= kElapsed; }

// Bounds of a usage record's figures, beyond which no process can be: a
// process younger than a century, and no more processor time than its
// elapsed time (plus an hour, for clocks set back) on every processor of
// its machine (SystemProcessorCount, at most kMaxProcessors; all of them
// when the column cannot be read). Kilobytes are bounded by their 32 bits.
inline constexpr std::int64_t kMaxElapsedSeconds = 36525LL * 86400;  // 100 years
inline constexpr std::int64_t kProcessorTimeSlackSeconds = 3600;
inline constexpr std::int64_t kMaxProcessors = 2048;
// The longest text a collector writes (its fixed buffers hold 259 characters).
inline constexpr std::size_t kMaxTextLength = 259;

// The fields of one usage record that billing needs; the texts are views
// into the line.
struct UsageLine {
  char Type = 0;  // 'S', 'I' or 'E'
  LogSource Source = LogSource::Service;
  std::uint32_t ProcessId = 0;
  std::string_view ProcessName;
  std::string_view MachineName;
  std::string_view UserName;
  std::string_view ProjectName;  // empty when the line has no project column
  LogTime Created;
  LogTime Exited;
  LogTime IntervalStart;
  LogTime IntervalEnd;
  RecordFigures Figures {};
};

// Why a line is not a usage record that can be billed: the kind (a short
// text that groups such lines in the report) and the detail, which names
// the field.
struct LineFault {
  std::string Kind;
  std::string Detail;
};

inline constexpr const char* kFaultFieldCount = "lines whose field count differs from the header's";
inline constexpr const char* kFaultRecordType = "lines of an unknown record type";
inline constexpr const char* kFaultUnreadable = "lines with an unreadable field";
inline constexpr const char* kFaultNegative = "lines with a negative figure";
inline constexpr const char* kFaultBeyondBounds = "lines with a figure beyond any process";
inline constexpr const char* kFaultText = "lines with control characters or overlong text";

// What reading one line leaves for the next: the fields' storage, and the
// day of the last date read (the lines of a log share a few dates).
struct UsageLineScratch {
  std::vector<std::string_view> Fields;
  char LastDate[8] = {};
  std::int64_t LastDay = 0;
};

// Reads a usage line with its own delimiter and the layout's columns; false
// with the fault when it is not a usage record that can be billed.
bool ParseUsageLine(std::string_view line, const ProcessLogLayout& layout, UsageLineScratch& scratch,
                    UsageLine& out, LineFault& fault);

}  // namespace quax::agg::tools
