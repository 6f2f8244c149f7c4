// A bill from aggregated resource records: one CSV row per period and group
// (by default user and project) with the sum of every resource, and a total
// row. A record belongs to the period of its end, an end exactly at
// midnight to the day before (a daily interval that ends at 00:00:00 is the
// previous day's usage).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "record/decimal.h"
#include "record/resource_file.h"

namespace quax::agg::tools {

enum class BillPeriod { Day, Month, Whole };

// The period's text for a record ending at `end` (a DATE): "2026-12-08",
// "2026-12", or "" for the whole (the table writes the whole range then).
std::string PeriodOf(double start, double end, BillPeriod period);

// A CSV field: as it is, or in double quotes (quotes doubled) when it holds
// a comma, a quote or a line end.
std::string CsvField(std::string_view text);

// A decimal as a plain number: no trailing zeros after the point.
std::string PlainNumber(const Decimal& value);

// The column title of a rate code ("CPU seconds" for CPUSEC); other codes
// are their own title.
std::string ResourceTitle(std::string_view rateCode);

class BillTable {
 public:
  static constexpr const char* kPeriodTitle = "Period";
  static constexpr const char* kTotalRow = "Total";

  BillTable(BillPeriod period, std::vector<std::string> groupBy);

  // Adds a record's resources to its period and group; the group takes the
  // values of the record's identifiers named in groupBy (ignoring case;
  // empty when the record has none of that name).
  void Add(const ResourceRecordView& record);

  // The CSV text: a header row, the rows in period and group order, the
  // total row; lines end in CR LF.
  std::string Csv() const;
  // True when the line is a header row as Csv writes it.
  static bool IsBillHeader(std::string_view line);

 private:
  struct Row {
    std::vector<Decimal> Sums;  // by resource column
  };
  std::size_t ResourceColumn(std::string_view rateCode);

  BillPeriod period_;
  std::vector<std::string> groupBy_;
  std::vector<std::string> rateCodes_;  // columns in the order first seen
  std::map<std::vector<std::string>, Row> rows_;  // key: period, then the group's values
  std::vector<Decimal> totals_;
  double earliest_ = 0;
  double latest_ = 0;
  bool any_ = false;
};

}  // namespace quax::agg::tools
