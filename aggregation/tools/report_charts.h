// The pieces of quaxreport's page as plain functions: HTML text, numbers
// for reading, and the charts as inline SVG (no script, nothing loaded).
// Colours come from a palette that colour-blind readers tell apart, and
// every series also has its own fill pattern, so that a grey print keeps
// them apart too; every bar carries its name and value in an SVG <title>.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quax::agg::tools {

// Text for HTML content and attribute values: & < > " ' as entities,
// control characters as U+FFFD; other bytes as they are (the page is in
// the system's ANSI code page, like the logs).
std::string HtmlText(std::string_view text);
// A name as the report shows it: as the bill writes text cells (an
// apostrophe before = + - @ TAB CR); "" as "(empty)".
std::string DisplayName(std::string_view name);
// HtmlText of DisplayName.
std::string HtmlName(std::string_view name);
// A plain number ("-1234567.5") with thousands separators ("-1,234,567.5").
std::string WithThousands(std::string_view plainNumber);

// The <svg> holding the fill patterns of the series: once per page, before
// any chart.
std::string ChartDefinitions();
// The fill of series `index` (colour and pattern); the "others" series is
// grey.
std::string SeriesFill(std::size_t index, bool others);
// A legend: a swatch with the series' fill and its name, per series.
struct LegendEntry {
  std::string Name;
  bool Others = false;
};
std::string Legend(const std::vector<LegendEntry>& entries);

// One bar of a chart: its label, its length, and the texts shown beside it
// and in its <title>.
struct ChartBar {
  std::string Label;  // plain text, cut when long (the title has it whole)
  double Value = 0;
  std::string ValueText;  // beside the bar
  std::string Title;      // the <title>, plain text
  bool Others = false;
};
// Horizontal bars, longest first as given, scaled to the largest value.
std::string BarChart(const std::vector<ChartBar>& bars, std::string_view caption);

// Columns stacked by series, one column per bucket (a day, a month, a year).
struct StackedColumns {
  std::vector<std::string> BucketLabels;  // under the columns, plain text
  std::vector<std::string> BucketTitles;  // in the <title>, plain text
  struct Series {
    std::string Name;  // plain text
    bool Others = false;
    std::vector<double> Values;           // by bucket
    std::vector<std::string> ValueTexts;  // by bucket
  };
  std::vector<Series> Stack;
  std::string Unit;  // "cost", "CPU hours"
};
std::string StackedColumnChart(const StackedColumns& chart, std::string_view caption);

// Pairs of bars on one scale: the outer (light) value with the inner (dark)
// value drawn over it, for CPU time within elapsed time.
struct PairedBar {
  std::string Label;  // plain text, as ChartBar's
  double Outer = 0;
  double Inner = 0;
  std::string Text;   // beside the pair
  std::string Title;  // plain text
};
std::string PairedBarChart(const std::vector<PairedBar>& bars, std::string_view caption);

// Bars left (decrease) and right (increase) of a zero line.
std::string ChangeChart(const std::vector<ChartBar>& bars, std::string_view caption);

// A timeline of the days first..last: the days with records filled, the
// days without left light and hatched.
struct DayRun {
  std::int32_t First = 0;
  std::int32_t Last = 0;
};
std::string CoverageStrip(std::int32_t first, std::int32_t last, const std::vector<DayRun>& covered,
                          std::string_view caption);

}  // namespace quax::agg::tools
