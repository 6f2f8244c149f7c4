#include "record/strict_record.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "record/record_text.h"
#include "record/resource_file.h"

namespace quax::agg {

namespace {

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// Value of `count` digits at `text`; the caller has checked they are digits.
int DigitsValue(const char* text, int count) noexcept {
  int value = 0;
  for (int i = 0; i < count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

bool AllDigits(std::string_view text) noexcept {
  for (const char c : text) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

int DaysInMonth(int year, int month) noexcept {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// An 8-byte field found good, kept for the next line: the records of a file
// mostly share their dates and times.
struct GoodField {
  std::uint64_t Bytes = 0;
  bool Valid = false;

  static std::uint64_t Of(std::string_view text) noexcept {
    std::uint64_t bytes = 0;
    std::memcpy(&bytes, text.data(), 8);
    return bytes;
  }
  // Checks `text` with `check` unless it equals the field found good last.
  bool Check(std::string_view text, bool (*check)(std::string_view) noexcept) noexcept {
    if (text.size() != 8) return false;
    const std::uint64_t bytes = Of(text);
    if (Valid && bytes == Bytes) return true;
    if (!check(text)) return false;
    Bytes = bytes;
    Valid = true;
    return true;
  }
};

thread_local GoodField goodDate;
thread_local GoodField goodStartTime;
thread_local GoodField goodEndTime;

// A count's value, or -1 when it is not a plain count.
long CountValue(std::string_view text) noexcept {
  return IsPlainCount(text) ? DigitsValue(text.data(), static_cast<int>(text.size())) : -1;
}

// Every check of FaultFinder in one pass without messages: the path of
// every good line.
bool IsStrictLine(std::string_view line, const FieldList& fields, const LineFacts& facts) noexcept {
  const auto field = [&](std::size_t position) { return fields[position - 1].In(line); };
  if (facts.HoldsLowControl || fields.size() < kMinimumFields ||
      !goodDate.Check(field(kStartDateField), IsCalendarDate) ||
      !goodDate.Check(field(kEndDateField), IsCalendarDate) ||
      !goodStartTime.Check(field(kStartTimeField), IsTimeOfDay) ||
      !goodEndTime.Check(field(kEndTimeField), IsTimeOfDay)) {
    return false;
  }
  const long identifiers = CountValue(field(kIdentifierCountField));
  const std::size_t resourceCountField = kIdentifierCountField + 1 + 2 * static_cast<std::size_t>(identifiers);
  if (identifiers < 0 || resourceCountField > fields.size()) return false;
  const long resources = CountValue(field(resourceCountField));
  const std::size_t lastField = resourceCountField + 2 * static_cast<std::size_t>(resources);
  if (resources < 0 || lastField != fields.size()) return false;
  for (std::size_t value = resourceCountField + 2; value <= lastField; value += 2) {
    if (!IsPlainDecimal(field(value))) return false;
  }
  // Quotes only around whole identifier fields; the header, the free text
  // and the rate codes cannot hold a comma then (it would have split them).
  return facts.QuotesAroundFields &&
         (facts.FirstQuotedField == 0 ||
          (facts.FirstQuotedField > kIdentifierCountField && facts.LastQuotedField < resourceCountField));
}

// The fields of a line as they stand in it, quotes included, split where the
// CSV split splits (a comma outside quotes).
std::vector<std::string_view> RawFields(std::string_view line) {
  std::vector<std::string_view> raw;
  bool inQuotes = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') {
      inQuotes = !inQuotes;
    } else if (line[i] == ',' && !inQuotes) {
      raw.push_back(line.substr(start, i - start));
      start = i + 1;
    }
  }
  raw.push_back(line.substr(start));
  return raw;
}

class FaultFinder {
 public:
  FaultFinder(std::string_view line, const FieldList& fields) : line_(line), fields_(fields) {}

  std::string_view Field(std::size_t position) const noexcept {
    return fields_[position - 1].In(line_);
  }

  std::optional<FieldFault> Find() const {
    if (fields_.size() < kMinimumFields) {
      return FieldFault{fields_.size() + 1, "the line has " + std::to_string(fields_.size()) +
                                                " fields; a record has at least " + std::to_string(kMinimumFields)};
    }
    for (const auto& [field, what] : {std::pair{kStartDateField, "start date"}, {kEndDateField, "end date"}}) {
      if (!IsCalendarDate(Field(field))) return Fault(field, what, "is not a calendar date YYYYMMDD");
    }
    for (const auto& [field, what] : {std::pair{kStartTimeField, "start time"}, {kEndTimeField, "end time"}}) {
      if (!IsTimeOfDay(Field(field))) return Fault(field, what, "is not a time of day HH:MM:SS");
    }
    std::size_t resourceCountField = 0;
    if (auto fault = CountFault(kIdentifierCountField, "identifier count", kIdentifierCountField + 1,
                                resourceCountField)) {
      return fault;
    }
    std::size_t lastField = 0;
    if (auto fault = CountFault(resourceCountField, "resource count", resourceCountField, lastField)) {
      return fault;
    }
    if (auto fault = TextFault(resourceCountField, lastField)) return fault;
    for (std::size_t value = resourceCountField + 2; value <= lastField; value += 2) {
      if (!IsPlainDecimal(Field(value))) return Fault(value, "resource value", "is not a plain decimal number");
    }
    if (fields_.size() != lastField) {
      return FieldFault{lastField + 1, "the line has " + std::to_string(fields_.size()) +
                                           " fields where its counts announce " + std::to_string(lastField)};
    }
    return std::nullopt;
  }

 private:
  // A count at `field` announcing pairs that end at `base` + 2 x count,
  // which must lie within the line; `last` receives that field.
  std::optional<FieldFault> CountFault(std::size_t field, const char* what, std::size_t base,
                                       std::size_t& last) const {
    const std::string_view text = Field(field);
    if (!IsPlainCount(text)) return Fault(field, what, "is not a whole number");
    last = base + 2 * static_cast<std::size_t>(DigitsValue(text.data(), static_cast<int>(text.size())));
    if (last > fields_.size()) {
      return Fault(field, what, "announces more fields than the " + std::to_string(fields_.size()) +
                                    " of the line");
    }
    return std::nullopt;
  }

  // The first text field (in field order) that holds what the format cannot.
  std::optional<FieldFault> TextFault(std::size_t resourceCountField, std::size_t lastField) const {
    const std::vector<std::string_view> raw = RawFields(line_);
    const auto kindAt = [&](std::size_t field) -> std::optional<RecordText> {
      if (field == kHeaderField) return RecordText::Header;
      if (field == kFreeTextField) return RecordText::FreeText;
      if (field > kIdentifierCountField && field < resourceCountField) {
        return (field - kIdentifierCountField) % 2 == 1 ? RecordText::IdentifierName : RecordText::IdentifierValue;
      }
      if (field > resourceCountField && field <= lastField && (field - resourceCountField) % 2 == 1) {
        return RecordText::RateCode;
      }
      return std::nullopt;
    };
    for (std::size_t field = 1; field <= lastField && field <= raw.size(); ++field) {
      const std::optional<RecordText> kind = kindAt(field);
      if (!kind) continue;
      if (const std::optional<std::string> reason = UnreadableField(raw[field - 1], *kind)) {
        return FieldFault{field, RecordTextFaultText(*kind, raw[field - 1], *reason,
                                                     " (field " + std::to_string(field) + ")")};
      }
    }
    return std::nullopt;
  }

  FieldFault Fault(std::size_t field, const char* what, const std::string& verdict) const {
    return FieldFault{field, std::string("the ") + what + " '" + ShownField(Field(field)) + "' (field " +
                                 std::to_string(field) + ") " + verdict};
  }

  std::string_view line_;
  const FieldList& fields_;
};

}  // namespace

bool IsCalendarDate(std::string_view text) noexcept {
  if (text.size() != 8 || !AllDigits(text)) return false;
  const int year = DigitsValue(text.data(), 4);
  const int month = DigitsValue(text.data() + 4, 2);
  const int day = DigitsValue(text.data() + 6, 2);
  return year >= 100 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

bool IsTimeOfDay(std::string_view text) noexcept {
  if (text.size() != 8 || text[2] != ':' || text[5] != ':') return false;
  for (const std::size_t at : {0u, 3u, 6u}) {
    if (!IsDigit(text[at]) || !IsDigit(text[at + 1])) return false;
  }
  return DigitsValue(text.data(), 2) <= 23 && DigitsValue(text.data() + 3, 2) <= 59 &&
         DigitsValue(text.data() + 6, 2) <= 59;
}

bool IsPlainDecimal(std::string_view text) noexcept {
  std::size_t at = !text.empty() && text.front() == '-' ? 1 : 0;
  std::size_t digits = 0;
  bool point = false;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (IsDigit(c)) {
      ++digits;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits > 0;
}

bool IsPlainCount(std::string_view text) noexcept {
  return !text.empty() && text.size() <= 9 && AllDigits(text);
}

std::optional<FieldFault> FindStrictFault(std::string_view line, const FieldList& fields) {
  return FaultFinder(line, fields).Find();
}

std::optional<FieldFault> FindStrictFault(std::string_view line, const FieldList& fields,
                                          const LineFacts& facts) {
  if (IsStrictLine(line, fields, facts)) return std::nullopt;
  return FaultFinder(line, fields).Find();
}

}  // namespace quax::agg
