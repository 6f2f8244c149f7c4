#include "tools/process_log.h"

#include <bit>
#include <cstring>
#include <limits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The column of each figure, in the order of Figure.
constexpr UsageColumn kFigureColumns[kFigureCount] = {
    UsageColumn::CPUTimeSecs, UsageColumn::KernelCPUTimeSecs, UsageColumn::UserCPUTimeSecs,
    UsageColumn::ElapsedTimeSecs, UsageColumn::KBytesRead, UsageColumn::KBytesWritten,
};

constexpr std::string_view kNoValue = "-";
constexpr std::string_view kZeroTime = "00000000 00:00:00.000";
constexpr std::int64_t kMillisecondsPerDay = 86'400'000;
constexpr std::uint64_t kMaxKilobytes = 0xFFFFFFFFu;
constexpr std::size_t kSecondsPlaces = 6;

// The fields of a line between its delimiters; 16 bytes at a time with
// SSE2, as every line of a month of logs goes through here.
void Split(std::string_view line, char delimiter, std::vector<std::string_view>& fields) {
  fields.clear();
  const char* const data = line.data();
  std::size_t start = 0;
  std::size_t at = 0;
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi8(delimiter);
  for (; at + 16 <= line.size(); at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    for (auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted))); hits != 0;
         hits &= hits - 1) {
      const std::size_t end = at + static_cast<std::size_t>(std::countr_zero(hits));
      fields.emplace_back(data + start, end - start);
      start = end + 1;
    }
  }
#endif
  for (; at < line.size(); ++at) {
    if (data[at] != delimiter) continue;
    fields.emplace_back(data + start, at - start);
    start = at + 1;
  }
  fields.emplace_back(data + start, line.size() - start);
}

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

bool AllDigits(std::string_view text) noexcept {
  for (const char c : text) {
    if (!IsDigit(c)) return false;
  }
  return !text.empty();
}

// An unsigned decimal count; false when it is not one or exceeds `max`.
bool ParseCount(std::string_view text, std::uint64_t max, std::uint64_t& out) noexcept {
  if (!AllDigits(text) || text.size() > 19) return false;
  std::uint64_t value = 0;
  for (const char c : text) value = value * 10 + static_cast<std::uint64_t>(c - '0');
  if (value > max) return false;
  out = value;
  return true;
}

enum class FigureRead { Ok, Unreadable, Negative, TooLarge };

// Seconds as the log writes them (digits, a point and at most six places)
// into millionths, in one pass: every line has four. A negative zero
// ("-0.000000", a rounding of the writer) is zero.
FigureRead ReadSeconds(std::string_view text, std::int64_t& out) noexcept {
  // Whole seconds beyond this do not fit in 64 bits of millionths.
  constexpr std::uint64_t kMaxWhole = std::numeric_limits<std::int64_t>::max() / kMicrosPerSecond - 1;
  const char* at = text.data();
  const char* const end = at + text.size();
  const bool minus = at < end && *at == '-';
  if (minus) ++at;
  const char* const wholeStart = at;
  std::uint64_t whole = 0;
  bool tooLarge = false;
  for (; at < end && IsDigit(*at); ++at) {
    whole = whole * 10 + static_cast<std::uint64_t>(*at - '0');
    if (whole > kMaxWhole) {
      tooLarge = true;
      whole = kMaxWhole;
    }
  }
  if (at == wholeStart) return FigureRead::Unreadable;
  std::uint64_t fraction = 0;
  std::size_t places = 0;
  if (at < end && *at == '.') {
    for (++at; at < end && IsDigit(*at) && places < kSecondsPlaces; ++at, ++places) {
      fraction = fraction * 10 + static_cast<std::uint64_t>(*at - '0');
    }
    if (places == 0) return FigureRead::Unreadable;
  }
  if (at != end) return FigureRead::Unreadable;
  for (std::size_t i = places; i < kSecondsPlaces; ++i) fraction *= 10;
  if (minus && (tooLarge || whole != 0 || fraction != 0)) return FigureRead::Negative;
  if (tooLarge) return FigureRead::TooLarge;
  out = static_cast<std::int64_t>(whole * kMicrosPerSecond + fraction);
  return FigureRead::Ok;
}

FigureRead ReadKilobytes(std::string_view text, std::int64_t& out) noexcept {
  if (text.size() > 1 && text.front() == '-' && AllDigits(text.substr(1))) {
    return text.find_first_not_of('0', 1) == std::string_view::npos ? (out = 0, FigureRead::Ok)
                                                                      : FigureRead::Negative;
  }
  if (!AllDigits(text)) return FigureRead::Unreadable;
  std::uint64_t value = 0;
  if (!ParseCount(text, kMaxKilobytes, value)) return FigureRead::TooLarge;
  out = static_cast<std::int64_t>(value);
  return FigureRead::Ok;
}

bool IsControl(char c) noexcept {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// 16 bytes at a time with SSE2: four names of every line come here.
bool IsCleanText(std::string_view text) noexcept {
  if (text.size() > kMaxTextLength) return false;
  std::size_t at = 0;
#if defined(__SSE2__)
  // Bytes below 0x20 are those below 0xA0 once the top bit is flipped, in
  // the signed compare SSE2 has.
  const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
  const __m128i firstPrintable = _mm_set1_epi8(static_cast<char>(0x20 ^ 0x80));
  const __m128i del = _mm_set1_epi8(0x7F);
  for (; at + 16 <= text.size(); at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
    const __m128i control =
        _mm_or_si128(_mm_cmplt_epi8(_mm_xor_si128(bytes, flip), firstPrintable), _mm_cmpeq_epi8(bytes, del));
    if (_mm_movemask_epi8(control) != 0) return false;
  }
#endif
  for (; at < text.size(); ++at) {
    if (IsControl(text[at])) return false;
  }
  return true;
}

// "field 15 (CPUTimeSecs) '-3.000000'"
std::string FieldText(std::size_t position, std::string_view name, std::string_view value) {
  return "field " + std::to_string(position + 1) + " (" + std::string(name) + ") '" + ShownField(value) + "'";
}

}  // namespace

namespace {

// A log date-time; the day of its date from `scratch` when it is the date
// read last.
bool ReadLogTime(std::string_view text, LogTime& out, UsageLineScratch* scratch) noexcept {
  // YYYYMMDD HH:MM:SS.mmm: digits everywhere but at the four separators.
  // Four of these are read for every line of a month of logs.
  constexpr std::size_t kDigitAt[] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 12, 13, 15, 16, 18, 19, 20};
  if (text.size() != kZeroTime.size()) {
    if (text != kNoValue) return false;
    out = LogTime{};
    return true;
  }
  const char* const c = text.data();
  bool digits = c[8] == ' ' && c[11] == ':' && c[14] == ':' && c[17] == '.';
  for (const std::size_t at : kDigitAt) digits &= static_cast<unsigned char>(c[at] - '0') <= 9;
  if (!digits) return false;
  if (c[0] == '0' && text == kZeroTime) {
    out = LogTime{};
    return true;
  }
  const auto number = [text](std::size_t at, std::size_t count) {
    std::int32_t value = 0;
    for (std::size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  const std::int32_t hour = number(9, 2);
  const std::int32_t minute = number(12, 2);
  const std::int32_t second = number(15, 2);
  if (hour > 23 || minute > 59 || second > 59) return false;
  std::int64_t day = 0;
  if (scratch != nullptr && std::memcmp(scratch->LastDate, text.data(), 8) == 0) {
    day = scratch->LastDay;
  } else {
    double value = 0;
    if (!IsCalendarDate(text.substr(0, 8)) || !MakeDay(number(0, 4), number(4, 2), number(6, 2), value)) {
      return false;
    }
    day = static_cast<std::int64_t>(value);
    if (scratch != nullptr) {
      std::memcpy(scratch->LastDate, text.data(), 8);
      scratch->LastDay = day;
    }
  }
  out.Present = true;
  out.Milliseconds = day * kMillisecondsPerDay + ((hour * 60 + minute) * 60 + second) * 1000LL + number(18, 3);
  return true;
}

}  // namespace

bool ParseLogTime(std::string_view text, LogTime& out) noexcept { return ReadLogTime(text, out, nullptr); }

double DateOfMilliseconds(std::int64_t milliseconds) noexcept {
  std::int64_t day = milliseconds / kMillisecondsPerDay;
  std::int64_t rest = milliseconds % kMillisecondsPerDay;
  if (rest < 0) {
    --day;
    rest += kMillisecondsPerDay;
  }
  const auto second = static_cast<std::int32_t>(rest / 1000);
  return CombineDateTime(static_cast<double>(day), MakeTimeOfDay(0, 0, second));
}

bool ProcessLogLayout::IsHeaderLine(std::string_view line) noexcept {
  const std::string_view first = ColumnName(UsageColumn::RecordType);
  if (!line.starts_with(first)) return false;
  if (line.size() == first.size()) return true;
  const char next = line[first.size()];
  // Any other character is the delimiter ("_" included: no name holds one).
  const bool nameGoesOn = (next >= 'A' && next <= 'Z') || (next >= 'a' && next <= 'z') || IsDigit(next);
  return !nameGoesOn;
}

bool ProcessLogLayout::Read(std::string_view line, std::string& reason) {
  if (!IsHeaderLine(line)) {
    reason = "the line is not a header record (it does not begin with " +
             std::string(ColumnName(UsageColumn::RecordType)) + ")";
    return false;
  }
  const std::size_t firstLength = std::string_view(ColumnName(UsageColumn::RecordType)).size();
  const char delimiter = line.size() > firstLength ? line[firstLength] : '\t';
  std::vector<std::string_view> names;
  Split(line, delimiter, names);
  std::array<std::size_t, kFieldCount> position;
  position.fill(kAbsent);
  for (std::size_t i = 0; i < names.size(); ++i) {
    for (std::size_t c = 0; c < kFieldCount; ++c) {
      if (names[i] != ColumnName(static_cast<UsageColumn>(c))) continue;
      if (position[c] != kAbsent) {
        reason = "the header names the column " + std::string(names[i]) + " twice";
        return false;
      }
      position[c] = i;
    }
  }
  for (const UsageColumn column : kNeededColumns) {
    if (position[Index(column)] == kAbsent) {
      reason = "the header has no column " + std::string(ColumnName(column));
      return false;
    }
  }
  position_ = position;
  fieldCount_ = names.size();
  return true;
}

bool ParseUsageLine(std::string_view line, const ProcessLogLayout& layout, UsageLineScratch& scratch,
                    UsageLine& out, LineFault& fault) {
  std::vector<std::string_view>& fields = scratch.Fields;
  const auto fail = [&fault](const char* kind, std::string detail) {
    fault.Kind = kind;
    fault.Detail = std::move(detail);
    return false;
  };
  const std::string_view typeName = ColumnName(UsageColumn::RecordType);
  if (line.empty() || !IsRecordType(line[0])) {
    return fail(kFaultRecordType, FieldText(0, typeName, line.substr(0, line.find_first_of("\t,; "))) +
                                      ": not S, I or E");
  }
  if (line.size() < 2 || !IsUsableDelimiter(line[1])) {
    return fail(kFaultRecordType, FieldText(0, typeName, line.substr(0, 2)) +
                                      ": the record type letter is not followed by a delimiter");
  }
  Split(line, line[1], fields);
  // A line of the other collector's form has one field more or less: the
  // project, which only the service writes, is the last column.
  const std::size_t count = layout.FieldCount();
  const bool projectLast = layout.HasProject() && layout.Position(UsageColumn::QUAXUProjectName) == count - 1;
  const bool withoutProject = projectLast && fields.size() == count - 1;
  const bool withExtraProject = !layout.HasProject() && fields.size() == count + 1;
  if (fields.size() != count && !withoutProject && !withExtraProject) {
    return fail(kFaultFieldCount,
                std::to_string(fields.size()) + " fields, where its header has " + std::to_string(count));
  }
  const auto position = [&layout](UsageColumn column) { return layout.Position(column); };
  const auto field = [&](UsageColumn column) { return fields[position(column)]; };
  const auto faultText = [&](UsageColumn column) {
    return FieldText(position(column), ColumnName(column), field(column));
  };

  out.Type = line[0];
  const bool hasProject = withExtraProject || (layout.HasProject() && !withoutProject);
  const std::size_t projectPosition =
      withExtraProject ? fields.size() - 1 : hasProject ? position(UsageColumn::QUAXUProjectName) : 0;
  out.Source = hasProject ? LogSource::Service : LogSource::InProcess;
  out.ProjectName = hasProject ? fields[projectPosition] : std::string_view();
  out.ProcessName = field(UsageColumn::ProcessName);
  out.MachineName = field(UsageColumn::MachineName);
  out.UserName = field(UsageColumn::UserName);

  std::uint64_t processId = 0;
  if (!ParseCount(field(UsageColumn::ProcessId), 0xFFFFFFFFu, processId)) {
    return fail(kFaultUnreadable, faultText(UsageColumn::ProcessId) + ": not a process id");
  }
  out.ProcessId = static_cast<std::uint32_t>(processId);

  const struct {
    UsageColumn Column;
    LogTime* Time;
  } times[] = {{UsageColumn::CreateDateTime, &out.Created},
               {UsageColumn::ExitDateTime, &out.Exited},
               {UsageColumn::IntervalStartDateTime, &out.IntervalStart},
               {UsageColumn::IntervalEndDateTime, &out.IntervalEnd}};
  for (const auto& time : times) {
    if (!ReadLogTime(field(time.Column), *time.Time, &scratch)) {
      return fail(kFaultUnreadable, faultText(time.Column) + ": not a date-time YYYYMMDD HH:MM:SS.mmm or -");
    }
  }
  if (out.Type == 'I') {
    for (const UsageColumn column : {UsageColumn::IntervalStartDateTime, UsageColumn::IntervalEndDateTime}) {
      if (field(column) == kNoValue) return fail(kFaultUnreadable, faultText(column) + ": an interval record needs its interval");
    }
  }

  for (std::size_t figure = 0; figure < kFigureCount; ++figure) {
    const UsageColumn column = kFigureColumns[figure];
    const FigureRead read = IsSecondsFigure(figure) ? ReadSeconds(field(column), out.Figures[figure])
                                                    : ReadKilobytes(field(column), out.Figures[figure]);
    switch (read) {
      case FigureRead::Ok:
        continue;
      case FigureRead::Unreadable:
        return fail(kFaultUnreadable, faultText(column) + (IsSecondsFigure(figure)
                                                               ? ": not seconds with at most six decimal places"
                                                               : ": not a count of kilobytes"));
      case FigureRead::Negative:
        return fail(kFaultNegative, faultText(column) + ": a negative figure");
      case FigureRead::TooLarge:
        return fail(kFaultBeyondBounds, faultText(column) + (IsSecondsFigure(figure)
                                                                 ? ": more than any process can use"
                                                                 : ": more than the 32 bits of the column hold"));
    }
  }
  const std::int64_t elapsed = out.Figures[kElapsed];
  if (elapsed > kMaxElapsedSeconds * kMicrosPerSecond) {
    return fail(kFaultBeyondBounds, faultText(UsageColumn::ElapsedTimeSecs) + ": more than 100 years");
  }
  std::uint64_t processors = 0;
  if (!layout.HasColumn(UsageColumn::SystemProcessorCount) ||
      !ParseCount(field(UsageColumn::SystemProcessorCount), kMaxProcessors, processors) || processors == 0) {
    processors = kMaxProcessors;
  }
  const std::int64_t maxProcessorTime =
      (elapsed + kProcessorTimeSlackSeconds * kMicrosPerSecond) * static_cast<std::int64_t>(processors);
  for (const std::size_t figure : {kCpu, kKernel, kUser}) {
    if (out.Figures[figure] <= maxProcessorTime) continue;
    return fail(kFaultBeyondBounds, faultText(kFigureColumns[figure]) + ": more than " +
                                        std::to_string(processors) + " processors can use in the record's " +
                                        std::string(field(UsageColumn::ElapsedTimeSecs)) + " elapsed seconds");
  }

  for (const UsageColumn column : {UsageColumn::MachineName, UsageColumn::UserName, UsageColumn::ProcessName}) {
    if (!IsCleanText(field(column))) {
      return fail(kFaultText, faultText(column) + ": control characters or more than 259 characters");
    }
  }
  if (!IsCleanText(out.ProjectName)) {
    return fail(kFaultText, FieldText(projectPosition, ColumnName(UsageColumn::QUAXUProjectName), out.ProjectName) +
                                ": control characters or more than 259 characters");
  }
  return true;
}

}  // namespace quax::agg::tools
