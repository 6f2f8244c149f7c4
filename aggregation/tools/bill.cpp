#include "tools/bill.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "record/date_time.h"
#include "tools/csv_text.h"
#include "tools/tool_support.h"

namespace quax::agg::tools {

namespace {

constexpr std::int64_t kInterruptCheckRecords = 4096;

struct KnownResource {
  const char* RateCode;
  const char* Name;
  bool Time;  // seconds; otherwise KB
};
// The rate codes quaxlog2rr writes.
constexpr KnownResource kKnownResources[] = {
    {"CPUSEC", "CPU", true},         {"KERNSEC", "Kernel", true}, {"USERSEC", "User", true},
    {"ELAPSSEC", "Elapsed", true},   {"KBREAD", "KB read", false}, {"KBWRITE", "KB written", false},
};
constexpr int kSecondsPlaces = 2;
constexpr int kHoursPlaces = 4;
const Decimal kSecondsPerHour = 3600;

const KnownResource* KnownResourceOf(std::string_view rateCode) {
  for (const KnownResource& known : kKnownResources) {
    if (rateCode == known.RateCode) return &known;
  }
  return nullptr;
}

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

std::string FixedDecimals(const Decimal& value, int places) {
  char text[64];
  const Decimal rounded = value.RoundHalfAwayFromZero(places);
  const std::size_t length = (rounded.IsZero() ? Decimal() : rounded).FormatFixed(text, places);
  return std::string(text, length);
}

std::string PeriodOf(double start, double end, BillPeriod period) {
  if (period == BillPeriod::Whole) return "";
  const std::string day = DayText(LastDayOf(start, end));
  return period == BillPeriod::Day ? day : day.substr(0, 7);
}

std::int32_t LastDayNumber(double start, double end) {
  const std::int32_t day = DayNumberOf(end);
  const CalendarDateTime parts = SplitDateTime(end);
  const bool atMidnight = parts.Hour == 0 && parts.Minute == 0 && parts.Second == 0;
  return atMidnight && end > start ? day - 1 : day;
}

std::int32_t DayNumberOf(double date) {
  const CalendarDateTime parts = SplitDateTime(date);
  double day = 0;
  MakeDay(parts.Year, parts.Month, parts.Day, day);
  return static_cast<std::int32_t>(day);
}

std::string DayNumberText(std::int32_t day) { return DayText(SplitDateTime(day)); }

std::string PlainNumber(const Decimal& value) {
  std::string text = value.ToString();
  if (text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  return text == "-0" ? "0" : text;
}

std::string ResourceTitle(std::string_view rateCode, TimeUnit unit) {
  const KnownResource* known = KnownResourceOf(rateCode);
  if (!known) return std::string(rateCode);
  if (!known->Time) return known->Name;
  return std::string(known->Name) + (unit == TimeUnit::Hours ? " hours" : " seconds");
}

std::string CostTitle(std::string_view rateCode) {
  const KnownResource* known = KnownResourceOf(rateCode);
  return (known ? std::string(known->Name) : std::string(rateCode)) + " cost";
}

Decimal SecondsToHours(const Decimal& seconds) { return seconds / kSecondsPerHour; }

std::string UsageText(std::string_view rateCode, TimeUnit unit, const Decimal& value) {
  const KnownResource* known = KnownResourceOf(rateCode);
  if (!known) return PlainNumber(value);
  if (!known->Time) return FixedDecimals(value, 0);
  return unit == TimeUnit::Hours ? FixedDecimals(SecondsToHours(value), kHoursPlaces) : FixedDecimals(value, kSecondsPlaces);
}

std::vector<std::string> DefaultGroupBy(bool withDepartments) {
  if (withDepartments) return {DepartmentMap::kGroupName, "User", "Project"};
  return {"User", "Project"};
}

std::string BillSheet::CsvText() const {
  std::string csv;
  const auto line = [&](const std::vector<std::string>& cells, bool titles) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (i > 0) csv += ',';
      csv += titles || i < TextColumns ? CsvTextCell(cells[i]) : cells[i];
    }
    csv += "\r\n";
  };
  line(Titles, true);
  for (const auto& row : Rows) line(row, false);
  line(Total, false);
  return csv;
}

BillTable::BillTable(BillSettings settings)
    : settings_(std::move(settings)), names_(settings_.Departments), groupByGiven_(!settings_.GroupBy.empty()) {
  if (!groupByGiven_) settings_.GroupBy = DefaultGroupBy(settings_.Departments != nullptr);
  for (const std::string& name : settings_.GroupBy) {
    const bool department = settings_.Departments && SameNameIgnoringCase(name, DepartmentMap::kGroupName);
    columns_.push_back(Column{department ? nullptr : &names_.PoolOf(name)});
  }
}

std::size_t BillTable::ResourceColumn(std::string_view rateCode) {
  if (const auto found = columnOfCode_.find(rateCode); found != columnOfCode_.end()) return found->second;
  rateCodes_.emplace_back(rateCode);
  columnOfCode_.emplace(rateCodes_.back(), rateCodes_.size() - 1);
  return rateCodes_.size() - 1;
}

std::uint32_t BillTable::PeriodKey(double start, double end) {
  if (anyPeriod_ && start == lastStart_ && end == lastEnd_) return lastPeriod_;
  std::uint32_t key = 0;
  if (settings_.Period != BillPeriod::Whole) {
    const CalendarDateTime day = LastDayOf(start, end);
    key = settings_.Period == BillPeriod::Day
              ? static_cast<std::uint32_t>((day.Year * 13 + day.Month) * 32 + day.Day)
              : static_cast<std::uint32_t>(day.Year * 13 + day.Month);
  }
  lastStart_ = start;
  lastEnd_ = end;
  lastPeriod_ = key;
  anyPeriod_ = true;
  return key;
}

std::string BillTable::PeriodText(std::uint32_t key) const {
  char text[16];
  if (settings_.Period == BillPeriod::Day) {
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", key / 32 / 13, key / 32 % 13, key % 32);
  } else if (settings_.Period == BillPeriod::Month) {
    std::snprintf(text, sizeof text, "%04u-%02u", key / 13, key % 13);
  } else {
    return billedRecords_ == 0 ? "" : DayText(SplitDateTime(earliest_)) + " to " + DayText(LastDayOf(earliest_, latest_));
  }
  return text;
}

void BillTable::Add(const ResourceRecordView& record) {
  names_.Take(record);
  AddTaken(record);
}

void BillTable::AddTaken(const ResourceRecordView& record) {
  ++records_;
  if (!std::ranges::equal(record.RateCodes, layoutCodes_)) {
    layoutColumns_.clear();
    layoutCodes_.clear();
    for (const std::string_view code : record.RateCodes) {
      layoutColumns_.push_back(ResourceColumn(code));
      layoutCodes_.emplace_back(code);
    }
  }
  if (record.Header == kExcludedHeader) {
    ++excludedRecords_;
    return;
  }
  ++billedRecords_;
  const std::uint32_t department = settings_.Departments ? names_.CurrentDepartment() : 0;
  key_.clear();
  const auto append = [this](std::uint32_t value) { key_.append(reinterpret_cast<const char*>(&value), sizeof value); };
  append(PeriodKey(record.Start, record.End));
  for (const Column& column : columns_) append(column.Pool ? names_.IdIn(*column.Pool) : department);
  auto [slot, added] = rowOfKey_.try_emplace(key_, static_cast<std::uint32_t>(rows_.size()));
  if (added) {
    Row row;
    std::memcpy(&row.Period, key_.data(), sizeof row.Period);
    row.Values.resize(columns_.size());
    std::memcpy(row.Values.data(), key_.data() + sizeof row.Period, columns_.size() * sizeof(std::uint32_t));
    rows_.push_back(std::move(row));
  }
  Row& row = rows_[slot->second];
  if (row.Sums.size() < rateCodes_.size()) row.Sums.resize(rateCodes_.size());
  for (std::size_t j = 0; j < record.ResourceValues.size(); ++j) row.Sums[layoutColumns_[j]] += record.ResourceValues[j];
  earliest_ = billedRecords_ > 1 ? std::min(earliest_, record.Start) : record.Start;
  latest_ = billedRecords_ > 1 ? std::max(latest_, record.End) : record.End;
}

std::optional<std::string> BillTable::UnknownGroupName() const {
  if (records_ == 0 || !groupByGiven_) return std::nullopt;
  for (std::size_t g = 0; g < columns_.size(); ++g) {
    const std::string& name = settings_.GroupBy[g];
    if (!columns_[g].Pool || names_.Seen(name)) continue;
    std::string known;
    for (const std::string& seen : names_.SeenNames()) known += (known.empty() ? "" : ", ") + seen;
    std::string message = "--by names " + name + ", which no input record has (the records have: " +
                          (known.empty() ? "no identifiers" : known) + ")";
    if (SameNameIgnoringCase(name, DepartmentMap::kGroupName)) message += "; departments come from --departments FILE";
    return message;
  }
  return std::nullopt;
}

std::optional<std::string> BillTable::UnusedRate() const {
  if (!settings_.Rates || records_ == 0) return std::nullopt;
  return settings_.Rates->CheckCodesUsed(rateCodes_);
}

std::vector<std::vector<std::string>> BillTable::SeparateCaseVariants() {
  std::vector<std::vector<std::string>> variants;
  for (const Column& column : columns_) {
    if (!column.Pool || column.Pool->IgnoresCase()) continue;
    for (auto& group : column.Pool->CaseVariants()) variants.push_back(std::move(group));
  }
  if (settings_.Departments) {
    for (auto& group : names_.Departments().CaseVariants()) variants.push_back(std::move(group));
  }
  return variants;
}

BillSheet BillTable::Sheet() const {
  BillSheet sheet;
  sheet.Titles.push_back(kPeriodTitle);
  sheet.Titles.insert(sheet.Titles.end(), settings_.GroupBy.begin(), settings_.GroupBy.end());
  sheet.TextColumns = sheet.Titles.size();
  for (const std::string& code : rateCodes_) sheet.Titles.push_back(ResourceTitle(code, settings_.Unit));
  // The priced resource columns, in the order of the resource columns.
  std::vector<std::pair<std::size_t, const Rate*>> priced;
  for (std::size_t j = 0; settings_.Rates && j < rateCodes_.size(); ++j) {
    if (const Rate* rate = settings_.Rates->Find(rateCodes_[j])) {
      priced.emplace_back(j, rate);
      sheet.Titles.push_back(CostTitle(rateCodes_[j]));
    }
  }
  if (settings_.Rates) sheet.Titles.push_back(kTotalCostTitle);

  std::vector<const Row*> ordered;
  for (const Row& row : rows_) ordered.push_back(&row);
  const auto shown = [this](const Row& row, std::size_t g) -> const std::string& {
    return columns_[g].Pool ? columns_[g].Pool->Shown(row.Values[g])
                            : names_.Departments().Shown(row.Values[g]);
  };
  std::ranges::sort(ordered, [&](const Row* a, const Row* b) {
    if (a->Period != b->Period) return a->Period < b->Period;
    for (std::size_t g = 0; g < columns_.size(); ++g) {
      const int order = shown(*a, g).compare(shown(*b, g));
      if (order != 0) return order < 0;
    }
    return false;
  });

  std::vector<Decimal> usageTotals(rateCodes_.size());
  std::vector<Decimal> costTotals(priced.size() + 1);
  const auto costCells = [&](const std::vector<Decimal>& sums, std::vector<std::string>& cells) {
    Decimal rowCost;
    for (std::size_t p = 0; p < priced.size(); ++p) {
      const auto [column, rate] = priced[p];
      const Decimal cost = RateTable::Cents(RateTable::ExactCost(*rate, column < sums.size() ? sums[column] : Decimal()));
      cells.push_back(FixedDecimals(cost, RateTable::kCentPlaces));
      costTotals[p] += cost;
      rowCost += cost;
    }
    if (settings_.Rates) {
      cells.push_back(FixedDecimals(rowCost, RateTable::kCentPlaces));
      costTotals.back() += rowCost;
    }
  };
  for (const Row* row : ordered) {
    std::vector<std::string> cells{PeriodText(row->Period)};
    for (std::size_t g = 0; g < columns_.size(); ++g) cells.push_back(shown(*row, g));
    for (std::size_t j = 0; j < rateCodes_.size(); ++j) {
      const Decimal sum = j < row->Sums.size() ? row->Sums[j] : Decimal();
      cells.push_back(UsageText(rateCodes_[j], settings_.Unit, sum));
      usageTotals[j] += sum;
    }
    costCells(row->Sums, cells);
    sheet.Rows.push_back(std::move(cells));
  }
  sheet.Total.push_back(kTotalRow);
  sheet.Total.resize(sheet.TextColumns);
  for (std::size_t j = 0; j < rateCodes_.size(); ++j) {
    sheet.Total.push_back(UsageText(rateCodes_[j], settings_.Unit, usageTotals[j]));
  }
  // The cost totals add up the rows' rounded costs: the total row is the
  // sum of the rows, to the cent.
  for (std::size_t p = 0; settings_.Rates && p < costTotals.size(); ++p) {
    sheet.Total.push_back(FixedDecimals(costTotals[p], RateTable::kCentPlaces));
  }
  return sheet;
}

bool BillTable::IsBillHeader(std::string_view line) {
  return line.starts_with(std::string(kPeriodTitle) + ",");
}

void ReadRecordInputs(const std::vector<std::string>& inputs,
                      const std::function<void(const ResourceRecordView&)>& take) {
  ResourceRecordView record;
  for (const std::string& input : inputs) {
    CResourceFile reader;
    reader.SetFileName(input);
    reader.SetStrictReading(true);
    if (!(IsStandardStream(input) ? reader.FileOpenStandardInput() : reader.FileOpen(CResourceFile::kModeRead))) {
      throw Error("Unable to open input file '" + input + "': " + reader.LastErrorMessage());
    }
    for (std::int64_t count = 1; !reader.AtEOF(); ++count) {
      if (count % kInterruptCheckRecords == 0 && InterruptRequested()) return;
      reader.FileRead(record);
      take(record);
    }
  }
}

}  // namespace quax::agg::tools
