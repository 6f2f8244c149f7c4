// Reading the collectors' process log files: the header record names the
// columns and the delimiter, every further line is one usage record. Both
// forms are read, the service's 32 columns and the in-process collector's 31
// (without the project), also mixed in one file: the two collectors append
// to the same daily file under whichever header was written first, and the
// two forms differ only in the last column.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "record/decimal.h"
#include "usage_record.h"

namespace quax::agg::tools {

// A log date-time as a DATE to the second (the milliseconds dropped);
// Present is false for "-" and for the zero time 00000000 00:00:00.000.
struct LogDateTime {
  bool Present = false;
  double Date = 0;
};

// Reads "YYYYMMDD HH:MM:SS.mmm" or "-"; false for anything else.
bool ParseLogDateTime(std::string_view text, LogDateTime& out) noexcept;

// The columns of one header record.
class ProcessLogLayout {
 public:
  // True when the line is a header record: it begins with the name of the
  // first column, followed by the delimiter or nothing.
  static bool IsHeaderLine(std::string_view line) noexcept;
  // Reads a header record; false with the reason when a column that billing
  // needs is missing or named twice.
  bool Read(std::string_view line, std::string& reason);

  char Delimiter() const noexcept { return delimiter_; }
  std::size_t FieldCount() const noexcept { return fieldCount_; }
  bool HasProject() const noexcept { return HasColumn(UsageColumn::QUAXUProjectName); }
  bool HasColumn(UsageColumn column) const noexcept { return position_[Index(column)] != kAbsent; }
  std::size_t Position(UsageColumn column) const noexcept { return position_[Index(column)]; }

 private:
  static constexpr std::size_t kAbsent = ~std::size_t{0};
  static std::size_t Index(UsageColumn column) noexcept { return static_cast<std::size_t>(column); }

  char delimiter_ = '\t';
  std::size_t fieldCount_ = 0;
  std::array<std::size_t, kFieldCount> position_ {};
};

// Usage figures of one record, or sums of them.
struct Usage {
  Decimal CpuSeconds;
  Decimal KernelSeconds;
  Decimal UserSeconds;
  Decimal ElapsedSeconds;
  Decimal KBytesRead;
  Decimal KBytesWritten;

  bool IsZero() const noexcept;
};

// The fields of one usage record that billing needs; the texts are views
// into the line.
struct UsageLine {
  char Type = 0;  // 'S', 'I' or 'E'
  std::string_view ProcessId;
  std::string_view ProcessName;
  std::string_view MachineName;
  std::string_view UserName;
  std::string_view ProjectName;     // empty when the record has no project column
  std::string_view CreateDateTime;  // as written: with machine and id it names the process
  LogDateTime Created;
  LogDateTime Exited;
  LogDateTime IntervalStart;
  LogDateTime IntervalEnd;
  Usage Figures;
};

// Splits a line at the layout's delimiter and reads it; false with the
// reason (a short text that groups the lines skipped for it) when the line
// is not a usage record of the layout. `fields` is scratch storage.
bool ParseUsageLine(std::string_view line, const ProcessLogLayout& layout,
                    std::vector<std::string_view>& fields, UsageLine& out, std::string& reason);

}  // namespace quax::agg::tools
