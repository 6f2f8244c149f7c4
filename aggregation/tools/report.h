// quaxreport's page: a self-contained HTML file (inline CSS, charts as
// inline SVG, no script, nothing loaded) about the resource records of a
// period: the bill exactly as quaxbill makes it, usage per day, the largest
// departments, users, projects and programs, CPU against elapsed time per
// project, the change against a previous period, which machines sent
// records on which days, and what an administrator should check.
//
// The records are read once; each is summed into the bill and into small
// tables by name id, so the work grows with the records and the page with
// the number of names shown (top N plus "others"), not with the input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "record/decimal.h"
#include "record/resource_file.h"
#include "tools/bill.h"
#include "tools/report_charts.h"

namespace quax::agg::tools {

// The first line of every report, by which quaxreport knows a file it may
// replace.
inline constexpr std::string_view kReportFirstLine = "<!DOCTYPE html><!-- quaxreport -->";

// Names with their figures, largest first, the rest summed as "others".
struct RankedName {
  std::string Name;
  Decimal Value;
  std::size_t Count = 1;  // names summed (more than 1 only for "others")
  bool Others = false;
};
// The `top` largest (ties by name), then one "others" entry for the rest
// when there is a rest.
std::vector<RankedName> TopWithOthers(std::vector<RankedName> names, std::size_t top);

// Runs of days sorted and joined where they touch or overlap.
std::vector<DayRun> MergeRuns(std::vector<DayRun> runs);
// The runs of the days first..last that no run of `covered` (merged) holds.
std::vector<DayRun> DaysWithout(std::int32_t first, std::int32_t last, const std::vector<DayRun>& covered);

// What the page says about its making (from the command line).
struct ReportFacts {
  std::string Title;
  std::vector<std::string> Inputs;
  std::string Previous;  // empty: no comparison
  std::string MadeAt;    // local time, "2026-12-08 10:15:00"
};

class Report {
 public:
  static constexpr std::size_t kDefaultTop = 10;
  static constexpr std::size_t kMaxTop = 100;
  static constexpr const char* kDefaultTitle = "QUAX usage report";

  Report(const BillSettings& settings, std::size_t top);

  // A record of the period reported on, and one of the previous period.
  void Add(const ResourceRecordView& record);
  void AddPrevious(const ResourceRecordView& record);

  BillTable& Table() noexcept { return table_; }
  std::string Html(const ReportFacts& facts);

 private:
  // Usage summed for a name: what the measures need.
  struct Usage {
    Decimal Cpu;      // seconds
    Decimal Elapsed;  // seconds
    std::vector<Decimal> Priced;  // by rate of the prices file
    std::int64_t Records = 0;
    void Add(const Usage& record);
  };
  struct Coverage {
    std::unordered_set<std::uint64_t> Runs;  // first day << 32 | last day
    double First = 0;
    double Last = 0;
  };
  struct MachineCoverage {
    std::string Name;
    double First = 0;
    double Last = 0;
    std::vector<DayRun> Covered, Gaps;
    std::int64_t Missing = 0;  // days
  };
  struct RateLayout {
    std::vector<std::string> Codes;
    int Cpu = -1;
    int Elapsed = -1;
    std::vector<int> Priced;  // by rate: its index in the record, or -1
  };

  void TakeUsage(const ResourceRecordView& record, RateLayout& layout, Usage& usage) const;
  static void AddTo(std::vector<Usage>& table, std::uint32_t id, const Usage& usage);
  // The figure charts and rankings use: the exact cost with prices, else
  // CPU hours.
  Decimal Measure(const Usage& usage) const;
  std::string MeasureText(const Decimal& value) const;
  std::string MeasureName() const;
  // The series of the per-day chart and the comparison: the department, or
  // the first --by name.
  std::uint32_t SeriesId(UsageNames& names);
  NamePool& SeriesPool(UsageNames& names);
  std::string SeriesTitle() const;
  std::vector<RankedName> Ranked(const std::vector<Usage>& table, const NamePool& pool) const;

  std::string Header(const ReportFacts& facts);
  std::string Checks();
  std::string Totals();
  std::string PerDay();
  std::string Tops();
  std::string CpuAgainstElapsed();
  std::string Comparison();
  std::string CoverageSection();
  // Per machine (or for all records, without a Machine identifier): the
  // days covered and missing; machines with days missing first.
  std::vector<MachineCoverage> CoverageRows() const;
  // The note for an identifier the records lack, or "".
  std::string MissingNote(std::string_view identifier, std::string_view what) const;

  BillTable table_;
  std::size_t top_;
  RateLayout layout_;
  NamePool& machines_;
  NamePool& users_;
  NamePool& projects_;
  NamePool& programs_;
  std::vector<Usage> byUser_, byProject_, byProgram_, byDepartment_, bySeries_;
  std::unordered_map<std::uint64_t, Usage> byDaySeries_;  // day << 32 | series id
  std::vector<Coverage> coverage_;                          // by machine id
  std::optional<std::int32_t> firstDay_, lastDay_;
  std::int64_t excludedRecords_ = 0;
  Decimal excludedCpu_;
  double lastStart_ = 0, lastEnd_ = 0;
  std::int32_t lastStartDay_ = 0, lastEndDay_ = 0;
  bool anyDays_ = false;

  UsageNames previousNames_;
  RateLayout previousLayout_;
  std::vector<Usage> previousBySeries_;
  std::int64_t previousRecords_ = 0;
};

}  // namespace quax::agg::tools
