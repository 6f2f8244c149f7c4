// A bill from aggregated resource records: one row per period and group (by
// default user and project) with the sum of every resource, priced when
// rates are given, and a total row. A record belongs to the period of its
// end, an end exactly at midnight to the day before (a daily interval that
// ends at 00:00:00 is the previous day's usage). Records whose header is
// EXCLUDED (system accounts the converter left out of billing) are counted,
// not billed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "record/decimal.h"
#include "record/resource_file.h"
#include "tools/departments.h"
#include "tools/rates.h"
#include "tools/usage_names.h"

namespace quax::agg::tools {

enum class BillPeriod { Day, Month, Whole };
enum class TimeUnit { Seconds, Hours };

// The header of records that are counted but not billed.
inline constexpr std::string_view kExcludedHeader = "EXCLUDED";

// The period's text for a record ending at `end` (a DATE): "2026-12-08",
// "2026-12", or "" for the whole (the table writes the whole range then).
std::string PeriodOf(double start, double end, BillPeriod period);
// The day number (days since 30 December 1899) of the last moment of a
// record: the day of its end, the day before for an end at midnight.
std::int32_t LastDayNumber(double start, double end);
// The day number of the calendar day of a DATE.
std::int32_t DayNumberOf(double date);
// A day number as "2026-12-08".
std::string DayNumberText(std::int32_t day);

// A decimal as a plain number: no trailing zeros after the point.
std::string PlainNumber(const Decimal& value);
// A decimal rounded to `places` (halves away from zero) with exactly that
// many decimals; never "-0".
std::string FixedDecimals(const Decimal& value, int places);

// The column title of a rate code's usage ("CPU hours" for CPUSEC in hours,
// "KB read" for KBREAD); other codes are their own title.
std::string ResourceTitle(std::string_view rateCode, TimeUnit unit);
// The column title of a rate code's cost ("CPU cost").
std::string CostTitle(std::string_view rateCode);
// A usage figure as the bill shows it: time codes in the unit with fixed
// decimals (seconds 2, hours 4), KB codes whole, other codes as summed.
std::string UsageText(std::string_view rateCode, TimeUnit unit, const Decimal& value);
// Seconds as hours, exact.
Decimal SecondsToHours(const Decimal& seconds);

struct BillSettings {
  BillPeriod Period = BillPeriod::Month;
  std::vector<std::string> GroupBy;  // empty: DefaultGroupBy
  TimeUnit Unit = TimeUnit::Hours;
  const DepartmentMap* Departments = nullptr;
  const RateTable* Rates = nullptr;
};

// User,Project; Department,User,Project with a departments file.
std::vector<std::string> DefaultGroupBy(bool withDepartments);

// The bill as cells: text cells as they are (CSV and HTML writers escape
// them), numbers as plain decimals with "." and no grouping.
struct BillSheet {
  std::vector<std::string> Titles;
  std::size_t TextColumns = 0;  // the period and the group columns, first
  std::vector<std::vector<std::string>> Rows;
  std::vector<std::string> Total;
  std::string CsvText() const;  // CR LF line ends
};

class BillTable {
 public:
  static constexpr const char* kPeriodTitle = "Period";
  static constexpr const char* kTotalRow = "Total";
  static constexpr const char* kTotalCostTitle = "Total cost";

  explicit BillTable(BillSettings settings);

  // Adds a record: its names are interned in Names(), then its resources are
  // summed into its period and group (the values of its identifiers named in
  // GroupBy, ignoring case; empty when the record has none of that name).
  void Add(const ResourceRecordView& record);
  // The same for a record whose names the caller has just had Names() take.
  void AddTaken(const ResourceRecordView& record);

  UsageNames& Names() noexcept { return names_; }
  const UsageNames& Names() const noexcept { return names_; }
  const BillSettings& Settings() const noexcept { return settings_; }
  const std::vector<std::string>& GroupBy() const noexcept { return settings_.GroupBy; }
  std::int64_t BilledRecords() const noexcept { return billedRecords_; }
  std::int64_t ExcludedRecords() const noexcept { return excludedRecords_; }
  // Every rate code of the records, as first written.
  const std::vector<std::string>& RateCodes() const noexcept { return rateCodes_; }

  // After the input: the message of a --by name that no record has (the
  // command line is not understood), or nothing. Not checked without
  // records, nor for the default names (a column stays empty then).
  std::optional<std::string> UnknownGroupName() const;
  // After the input: the message of a priced rate code that no record has,
  // naming its line, or nothing. Not checked without records.
  std::optional<std::string> UnusedRate() const;
  // Group values written in several ways (see NamePool::CaseVariants) in
  // group columns that keep them apart.
  std::vector<std::vector<std::string>> SeparateCaseVariants();

  BillSheet Sheet() const;
  std::string Csv() const { return Sheet().CsvText(); }
  // True when the line is a header row as Csv writes it.
  static bool IsBillHeader(std::string_view line);

 private:
  struct Column {
    NamePool* Pool = nullptr;  // nullptr: the department
  };
  struct Row {
    std::uint32_t Period = 0;
    std::vector<std::uint32_t> Values;  // by group column
    std::vector<Decimal> Sums;          // by resource column
  };
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
  };
  std::uint32_t PeriodKey(double start, double end);
  std::string PeriodText(std::uint32_t key) const;
  std::size_t ResourceColumn(std::string_view rateCode);

  BillSettings settings_;
  UsageNames names_;
  bool groupByGiven_;
  std::vector<Column> columns_;
  std::vector<std::string> rateCodes_;  // resource columns in the order first seen
  std::unordered_map<std::string, std::size_t, TextHash, std::equal_to<>> columnOfCode_;
  // The last record's rate codes: copies, as rateCodes_ moves its strings
  // when it grows.
  std::vector<std::string> layoutCodes_;
  std::vector<std::size_t> layoutColumns_;
  std::unordered_map<std::string, std::uint32_t> rowOfKey_;
  std::string key_;  // scratch
  std::vector<Row> rows_;
  double lastStart_ = 0;
  double lastEnd_ = 0;
  std::uint32_t lastPeriod_ = 0;
  bool anyPeriod_ = false;
  double earliest_ = 0;
  double latest_ = 0;
  std::int64_t billedRecords_ = 0;
  std::int64_t excludedRecords_ = 0;
  std::int64_t records_ = 0;
};

// Reads every record of the inputs in order ("-" is standard input),
// strictly, handing each to `take`; stops early when Ctrl+C is pressed.
// Throws Error naming the file and line of a record it cannot read.
void ReadRecordInputs(const std::vector<std::string>& inputs,
                      const std::function<void(const ResourceRecordView&)>& take);

}  // namespace quax::agg::tools
