#include "tools/bill.h"

#include <algorithm>
#include <cstdio>

#include "record/date_time.h"
#include "tools/tool_support.h"

namespace quax::agg::tools {

namespace {

struct KnownResource {
  const char* RateCode;
  const char* Title;
};
// The rate codes quaxlog2rr writes.
constexpr KnownResource kKnownResources[] = {
    {"CPUSEC", "CPU seconds"},      {"KERNSEC", "Kernel seconds"}, {"USERSEC", "User seconds"},
    {"ELAPSSEC", "Elapsed seconds"}, {"KBREAD", "KB read"},         {"KBWRITE", "KB written"},
};

std::string DayText(const CalendarDateTime& parts) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", parts.Year, parts.Month, parts.Day);
  return text;
}

// The calendar day holding the last moment before `end`.
CalendarDateTime LastDayOf(double start, double end) {
  const CalendarDateTime parts = SplitDateTime(end);
  const bool atMidnight = parts.Hour == 0 && parts.Minute == 0 && parts.Second == 0;
  return atMidnight && end > start ? SplitDateTime(end - 1.0) : parts;
}

}  // namespace

std::string PeriodOf(double start, double end, BillPeriod period) {
  if (period == BillPeriod::Whole) return "";
  const std::string day = DayText(LastDayOf(start, end));
  return period == BillPeriod::Day ? day : day.substr(0, 7);
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string PlainNumber(const Decimal& value) {
  std::string text = value.ToString();
  if (text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  return text == "-0" ? "0" : text;
}

std::string ResourceTitle(std::string_view rateCode) {
  for (const KnownResource& known : kKnownResources) {
    if (rateCode == known.RateCode) return known.Title;
  }
  return std::string(rateCode);
}

BillTable::BillTable(BillPeriod period, std::vector<std::string> groupBy)
    : period_(period), groupBy_(std::move(groupBy)) {}

std::size_t BillTable::ResourceColumn(std::string_view rateCode) {
  const auto found = std::ranges::find(rateCodes_, rateCode);
  if (found != rateCodes_.end()) return static_cast<std::size_t>(found - rateCodes_.begin());
  rateCodes_.emplace_back(rateCode);
  totals_.emplace_back();
  return rateCodes_.size() - 1;
}

void BillTable::Add(const ResourceRecordView& record) {
  std::vector<std::string> key;
  key.reserve(groupBy_.size() + 1);
  key.push_back(PeriodOf(record.Start, record.End, period_));
  for (const std::string& name : groupBy_) {
    std::string value;
    for (std::size_t i = 0; i < record.IdentifierNames.size(); ++i) {
      if (SameNameIgnoringCase(record.IdentifierNames[i], name)) {
        value = record.IdentifierValues[i];
        break;
      }
    }
    key.push_back(std::move(value));
  }
  Row& row = rows_[std::move(key)];
  for (std::size_t j = 0; j < record.RateCodes.size(); ++j) {
    const std::size_t column = ResourceColumn(record.RateCodes[j]);
    if (row.Sums.size() <= column) row.Sums.resize(column + 1);
    row.Sums[column] += record.ResourceValues[j];
    totals_[column] += record.ResourceValues[j];
  }
  earliest_ = any_ ? std::min(earliest_, record.Start) : record.Start;
  latest_ = any_ ? std::max(latest_, record.End) : record.End;
  any_ = true;
}

std::string BillTable::Csv() const {
  std::string csv = kPeriodTitle;
  for (const std::string& name : groupBy_) csv += "," + CsvField(name);
  for (const std::string& code : rateCodes_) csv += "," + CsvField(ResourceTitle(code));
  csv += "\r\n";
  const std::string whole = any_ ? DayText(SplitDateTime(earliest_)) + " to " +
                                       DayText(LastDayOf(earliest_, latest_))
                                 : "";
  const auto sums = [&](const std::vector<Decimal>& values) {
    std::string cells;
    for (std::size_t j = 0; j < rateCodes_.size(); ++j) {
      cells += "," + PlainNumber(j < values.size() ? values[j] : Decimal());
    }
    return cells;
  };
  for (const auto& [key, row] : rows_) {
    csv += CsvField(period_ == BillPeriod::Whole ? whole : key[0]);
    for (std::size_t g = 1; g < key.size(); ++g) csv += "," + CsvField(key[g]);
    csv += sums(row.Sums) + "\r\n";
  }
  csv += kTotalRow;
  csv += std::string(groupBy_.size(), ',');
  csv += sums(totals_) + "\r\n";
  return csv;
}

bool BillTable::IsBillHeader(std::string_view line) {
  return line.starts_with(std::string(kPeriodTitle) + ",");
}

}  // namespace quax::agg::tools
