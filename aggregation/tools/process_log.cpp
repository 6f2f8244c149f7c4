#include "tools/process_log.h"

#include "record/date_time.h"
#include "record/field_parsing.h"
#include "record/strict_record.h"

namespace quax::agg::tools {

namespace {

// The columns billing reads; the project is optional.
constexpr UsageColumn kNeededColumns[] = {
    UsageColumn::RecordType,       UsageColumn::ProcessId,         UsageColumn::ProcessName,
    UsageColumn::MachineName,      UsageColumn::UserName,          UsageColumn::CreateDateTime,
    UsageColumn::ExitDateTime,     UsageColumn::IntervalStartDateTime, UsageColumn::IntervalEndDateTime,
    UsageColumn::ElapsedTimeSecs,  UsageColumn::CPUTimeSecs,       UsageColumn::KernelCPUTimeSecs,
    UsageColumn::UserCPUTimeSecs,  UsageColumn::KBytesRead,        UsageColumn::KBytesWritten,
};

constexpr std::string_view kNoValue = "-";
constexpr std::string_view kZeroTime = "00000000 00:00:00.000";

void Split(std::string_view line, char delimiter, std::vector<std::string_view>& fields) {
  fields.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = line.find(delimiter, start);
    if (end == std::string_view::npos) {
      fields.push_back(line.substr(start));
      return;
    }
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
}

bool AllDigits(std::string_view text) noexcept {
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return !text.empty();
}

// Seconds as the log writes them: a plain decimal number.
bool ParseSeconds(std::string_view text, Decimal& out) noexcept {
  return IsPlainDecimal(text) && DecimalFromDigits(text, out);
}

// Kilobytes: an unsigned 32-bit count.
bool ParseKilobytes(std::string_view text, Decimal& out) noexcept {
  if (!AllDigits(text) || text.size() > 10) return false;
  std::uint64_t value = 0;
  for (const char c : text) value = value * 10 + static_cast<std::uint64_t>(c - '0');
  if (value > 0xFFFFFFFFu) return false;
  out = Decimal::FromUInt64(value);
  return true;
}

}  // namespace

bool ParseLogDateTime(std::string_view text, LogDateTime& out) noexcept {
  if (text == kNoValue || text == kZeroTime) {
    out = LogDateTime{};
    return true;
  }
  // YYYYMMDD HH:MM:SS.mmm
  if (text.size() != 21 || text[8] != ' ' || text[17] != '.' || !AllDigits(text.substr(18)) ||
      !IsCalendarDate(text.substr(0, 8)) || !IsTimeOfDay(text.substr(9, 8))) {
    return false;
  }
  const auto number = [text](std::size_t at, std::size_t count) {
    return static_cast<std::int32_t>(LongFromDigits(text.substr(at, count)));
  };
  double day = 0;
  if (!MakeDay(number(0, 4), number(4, 2), number(6, 2), day)) return false;
  out.Present = true;
  out.Date = CombineDateTime(day, MakeTimeOfDay(number(9, 2), number(12, 2), number(15, 2)));
  return true;
}

bool ProcessLogLayout::IsHeaderLine(std::string_view line) noexcept {
  const std::string_view first = ColumnName(UsageColumn::RecordType);
  if (!line.starts_with(first)) return false;
  if (line.size() == first.size()) return true;
  const char next = line[first.size()];
  // Any other character is the delimiter ("_" included: no name holds one).
  const bool nameGoesOn = (next >= 'A' && next <= 'Z') || (next >= 'a' && next <= 'z') ||
                          (next >= '0' && next <= '9');
  return !nameGoesOn;
}

bool ProcessLogLayout::Read(std::string_view line, std::string& reason) {
  if (!IsHeaderLine(line)) {
    reason = "the line is not a header record (it does not begin with " +
             std::string(ColumnName(UsageColumn::RecordType)) + ")";
    return false;
  }
  const std::size_t firstLength = std::string_view(ColumnName(UsageColumn::RecordType)).size();
  delimiter_ = line.size() > firstLength ? line[firstLength] : '\t';
  std::vector<std::string_view> names;
  Split(line, delimiter_, names);
  position_.fill(kAbsent);
  for (std::size_t i = 0; i < names.size(); ++i) {
    for (std::size_t c = 0; c < kFieldCount; ++c) {
      if (names[i] != ColumnName(static_cast<UsageColumn>(c))) continue;
      if (position_[c] != kAbsent) {
        reason = "the header names the column " + std::string(names[i]) + " twice";
        return false;
      }
      position_[c] = i;
    }
  }
  for (const UsageColumn column : kNeededColumns) {
    if (!HasColumn(column)) {
      reason = "the header has no column " + std::string(ColumnName(column));
      return false;
    }
  }
  fieldCount_ = names.size();
  return true;
}

bool Usage::IsZero() const noexcept {
  return CpuSeconds.IsZero() && KernelSeconds.IsZero() && UserSeconds.IsZero() &&
         ElapsedSeconds.IsZero() && KBytesRead.IsZero() && KBytesWritten.IsZero();
}

bool ParseUsageLine(std::string_view line, const ProcessLogLayout& layout,
                    std::vector<std::string_view>& fields, UsageLine& out, std::string& reason) {
  Split(line, layout.Delimiter(), fields);
  // A line of the other collector's form has one field more or less: the
  // project, which only the service writes, is the last column.
  const std::size_t count = layout.FieldCount();
  const bool projectLast = layout.HasProject() && layout.Position(UsageColumn::QUAXUProjectName) == count - 1;
  const bool withoutProject = projectLast && fields.size() == count - 1;
  const bool withExtraProject = !layout.HasProject() && fields.size() == count + 1;
  if (fields.size() != count && !withoutProject && !withExtraProject) {
    reason = "lines whose field count differs from the header's";
    return false;
  }
  const auto field = [&](UsageColumn column) { return fields[layout.Position(column)]; };

  const std::string_view type = field(UsageColumn::RecordType);
  if (type.size() != 1 || !IsRecordType(type[0])) {
    reason = "lines of an unknown record type";
    return false;
  }
  out.Type = type[0];
  out.ProcessId = field(UsageColumn::ProcessId);
  out.ProcessName = field(UsageColumn::ProcessName);
  out.MachineName = field(UsageColumn::MachineName);
  out.UserName = field(UsageColumn::UserName);
  out.ProjectName = withExtraProject        ? fields.back()
                    : layout.HasProject() && !withoutProject ? field(UsageColumn::QUAXUProjectName)
                                                             : std::string_view();
  out.CreateDateTime = field(UsageColumn::CreateDateTime);
  if (!AllDigits(out.ProcessId)) {
    reason = "lines with an unreadable process id";
    return false;
  }
  if (!ParseLogDateTime(out.CreateDateTime, out.Created) ||
      !ParseLogDateTime(field(UsageColumn::ExitDateTime), out.Exited) ||
      !ParseLogDateTime(field(UsageColumn::IntervalStartDateTime), out.IntervalStart) ||
      !ParseLogDateTime(field(UsageColumn::IntervalEndDateTime), out.IntervalEnd)) {
    reason = "lines with an unreadable date-time";
    return false;
  }
  Usage& figures = out.Figures;
  if (!ParseSeconds(field(UsageColumn::ElapsedTimeSecs), figures.ElapsedSeconds) ||
      !ParseSeconds(field(UsageColumn::CPUTimeSecs), figures.CpuSeconds) ||
      !ParseSeconds(field(UsageColumn::KernelCPUTimeSecs), figures.KernelSeconds) ||
      !ParseSeconds(field(UsageColumn::UserCPUTimeSecs), figures.UserSeconds) ||
      !ParseKilobytes(field(UsageColumn::KBytesRead), figures.KBytesRead) ||
      !ParseKilobytes(field(UsageColumn::KBytesWritten), figures.KBytesWritten)) {
    reason = "lines with an unreadable usage figure";
    return false;
  }
  if (out.Type == 'I' && !(out.IntervalStart.Present && out.IntervalEnd.Present)) {
    reason = "interval records without their interval";
    return false;
  }
  return true;
}

}  // namespace quax::agg::tools
