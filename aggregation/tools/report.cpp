#include "tools/report.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "record/date_time.h"
#include "tools/csv_text.h"

namespace quax::agg::tools {

namespace {

constexpr const char* kMachine = "Machine";
constexpr const char* kUser = "User";
constexpr const char* kProject = "Project";
constexpr const char* kProcess = "Process";
constexpr std::string_view kNoProject = "(none)";
constexpr std::size_t kStackedSeries = 7;  // the palette's colours; the rest are "others"
constexpr std::int32_t kMostDayColumns = 400;
constexpr std::size_t kMostListed = 20;    // entries of a list in "things to check"
constexpr std::size_t kMostCoverageRows = 1000;
constexpr int kHoursPlaces = 4;

const char* const kStyle =
    "body{font-family:'Segoe UI',Tahoma,'DejaVu Sans',Arial,sans-serif;margin:24px;color:#222}"
    "h1{font-size:22px;margin-bottom:8px}"
    "h2{font-size:18px;border-bottom:1px solid #999;padding-bottom:3px;margin-top:30px}"
    "h3{font-size:15px;margin:16px 0 4px}"
    "dl.facts{display:grid;grid-template-columns:max-content auto;gap:2px 16px;margin:0}"
    "dl.facts dt{font-weight:bold}dl.facts dd{margin:0}"
    "table{border-collapse:collapse;font-size:13px;margin:6px 0}"
    "th,td{border:1px solid #bbb;padding:3px 8px;text-align:left;vertical-align:top;white-space:nowrap}"
    "thead th{background:#eee}"
    ".n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}"
    "tfoot td{font-weight:bold;border-top:2px solid #555}"
    "svg.chart text{font-size:12px;fill:#222}svg.chart text.axis{fill:#555}"
    "figure{margin:6px 0 14px}figcaption{font-size:12px;color:#555}"
    "ul.legend{list-style:none;padding:0;margin:4px 0;display:flex;flex-wrap:wrap;gap:4px 18px;font-size:13px}"
    "ul.legend svg{vertical-align:middle;margin-right:5px;outline:1px solid #555}"
    "svg.strip{vertical-align:middle;outline:1px solid #555}"
    "ul.checks li{margin:5px 0}.note{color:#555;font-size:13px}"
    "@media print{body{margin:0}section{break-inside:avoid}}";

std::string DateTimeText(double date) {
  const CalendarDateTime parts = SplitDateTime(date);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", parts.Year, parts.Month, parts.Day, parts.Hour,
                parts.Minute);
  return text;
}

std::string Count(std::int64_t count) { return WithThousands(std::to_string(count)); }

// "1 day", "3 days".
std::string Days(std::int64_t count) { return Count(count) + (count == 1 ? " day" : " days"); }

std::string Hours(const Decimal& seconds) { return WithThousands(FixedDecimals(SecondsToHours(seconds), kHoursPlaces)); }

std::string Percent(const Decimal& part, const Decimal& whole) {
  if (whole.IsZero()) return "0.0 %";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", part.ToDouble() / whole.ToDouble() * 100.0);
  return text;
}

std::string RunText(const DayRun& run) {
  const std::int32_t days = run.Last - run.First + 1;
  if (days == 1) return DayNumberText(run.First);
  return DayNumberText(run.First) + " to " + DayNumberText(run.Last) + " (" + Days(days) + ")";
}

std::string Section(std::string_view id, std::string_view title, std::string_view body) {
  return "<section id=\"" + std::string(id) + "\"><h2>" + HtmlText(title) + "</h2>\n" + std::string(body) + "</section>\n";
}

std::string Note(std::string_view text) { return "<p class=\"note\">" + HtmlText(text) + "</p>\n"; }

std::uint64_t PackDays(std::int32_t first, std::int32_t last) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(first)) << 32) | static_cast<std::uint32_t>(last);
}

// A list of names for a sentence, at most kMostListed of them.
std::string NameList(const std::vector<std::string>& names) {
  std::string html;
  for (std::size_t i = 0; i < names.size() && i < kMostListed; ++i) {
    html += (i > 0 ? ", " : "") + std::string("<q>") + HtmlName(names[i]) + "</q>";
  }
  if (names.size() > kMostListed) html += " and " + std::to_string(names.size() - kMostListed) + " more";
  return html;
}

}  // namespace

std::vector<RankedName> TopWithOthers(std::vector<RankedName> names, std::size_t top) {
  std::ranges::sort(names, [](const RankedName& a, const RankedName& b) {
    if (a.Value != b.Value) return a.Value > b.Value;
    return a.Name < b.Name;
  });
  if (names.size() <= top) return names;
  RankedName others{"others", Decimal(), 0, true};
  for (std::size_t i = top; i < names.size(); ++i) {
    others.Value += names[i].Value;
    others.Count += names[i].Count;
  }
  names.resize(top);
  names.push_back(std::move(others));
  return names;
}

std::vector<DayRun> MergeRuns(std::vector<DayRun> runs) {
  std::ranges::sort(runs, {}, &DayRun::First);
  std::vector<DayRun> merged;
  for (const DayRun& run : runs) {
    if (!merged.empty() && static_cast<std::int64_t>(run.First) <= static_cast<std::int64_t>(merged.back().Last) + 1) {
      merged.back().Last = std::max(merged.back().Last, run.Last);
    } else {
      merged.push_back(run);
    }
  }
  return merged;
}

std::vector<DayRun> DaysWithout(std::int32_t first, std::int32_t last, const std::vector<DayRun>& covered) {
  std::vector<DayRun> gaps;
  std::int64_t next = first;  // the first day not known to be covered
  for (const DayRun& run : covered) {
    if (run.First > next && next <= last) {
      gaps.push_back(DayRun{static_cast<std::int32_t>(next), std::min(run.First - 1, last)});
    }
    next = std::max<std::int64_t>(next, static_cast<std::int64_t>(run.Last) + 1);
  }
  if (next <= last) gaps.push_back(DayRun{static_cast<std::int32_t>(next), last});
  return gaps;
}

void Report::Usage::Add(const Usage& record) {
  Cpu += record.Cpu;
  Elapsed += record.Elapsed;
  if (Priced.size() < record.Priced.size()) Priced.resize(record.Priced.size());
  for (std::size_t p = 0; p < record.Priced.size(); ++p) Priced[p] += record.Priced[p];
  Records += record.Records;
}

Report::Report(const BillSettings& settings, std::size_t top)
    : table_(settings),
      top_(top),
      machines_(table_.Names().PoolOf(kMachine)),
      users_(table_.Names().PoolOf(kUser)),
      projects_(table_.Names().PoolOf(kProject)),
      programs_(table_.Names().PoolOf(kProcess)),
      previousNames_(settings.Departments) {}

void Report::TakeUsage(const ResourceRecordView& record, RateLayout& layout, Usage& usage) const {
  if (!std::ranges::equal(record.RateCodes, layout.Codes)) {
    layout.Codes.assign(record.RateCodes.begin(), record.RateCodes.end());
    layout.Cpu = layout.Elapsed = -1;
    const RateTable* rates = table_.Settings().Rates;
    layout.Priced.assign(rates ? rates->Rates().size() : 0, -1);
    for (std::size_t j = 0; j < layout.Codes.size(); ++j) {
      const std::string& code = layout.Codes[j];
      if (code == "CPUSEC") layout.Cpu = static_cast<int>(j);
      if (code == "ELAPSSEC") layout.Elapsed = static_cast<int>(j);
      if (const Rate* rate = rates ? rates->Find(code) : nullptr) {
        layout.Priced[static_cast<std::size_t>(rate - rates->Rates().data())] = static_cast<int>(j);
      }
    }
  }
  const auto value = [&](int index) { return index < 0 ? Decimal() : record.ResourceValues[static_cast<std::size_t>(index)]; };
  usage.Cpu = value(layout.Cpu);
  usage.Elapsed = value(layout.Elapsed);
  usage.Priced.resize(layout.Priced.size());
  for (std::size_t p = 0; p < layout.Priced.size(); ++p) usage.Priced[p] = value(layout.Priced[p]);
  usage.Records = 1;
}

void Report::AddTo(std::vector<Usage>& table, std::uint32_t id, const Usage& usage) {
  if (table.size() <= id) table.resize(id + 1);
  table[id].Add(usage);
}

NamePool& Report::SeriesPool(UsageNames& names) {
  if (names.HasDepartments()) return names.Departments();
  return names.PoolOf(table_.GroupBy().front());
}

std::uint32_t Report::SeriesId(UsageNames& names) {
  if (names.HasDepartments()) return names.CurrentDepartment();
  return names.IdIn(SeriesPool(names));
}

std::string Report::SeriesTitle() const {
  return table_.Settings().Departments ? "department" : table_.GroupBy().front();
}

void Report::Add(const ResourceRecordView& record) {
  UsageNames& names = table_.Names();
  names.Take(record);
  table_.AddTaken(record);
  if (!anyDays_ || record.Start != lastStart_ || record.End != lastEnd_) {
    lastStart_ = record.Start;
    lastEnd_ = record.End;
    lastStartDay_ = DayNumberOf(record.Start);
    lastEndDay_ = std::max(LastDayNumber(record.Start, record.End), lastStartDay_);
    anyDays_ = true;
  }
  firstDay_ = std::min(firstDay_.value_or(lastStartDay_), lastStartDay_);
  lastDay_ = std::max(lastDay_.value_or(lastEndDay_), lastEndDay_);
  // Every record shows that its machine's collector ran, billed or not.
  const std::uint32_t machine = names.IdIn(machines_);
  if (coverage_.size() <= machine) coverage_.resize(machine + 1);
  Coverage& coverage = coverage_[machine];
  coverage.First = coverage.Runs.empty() ? record.Start : std::min(coverage.First, record.Start);
  coverage.Last = coverage.Runs.empty() ? record.End : std::max(coverage.Last, record.End);
  coverage.Runs.insert(PackDays(lastStartDay_, lastEndDay_));

  Usage usage;
  TakeUsage(record, layout_, usage);
  if (record.Header == kExcludedHeader) {
    ++excludedRecords_;
    excludedCpu_ += usage.Cpu;
    return;
  }
  AddTo(byUser_, names.IdIn(users_), usage);
  AddTo(byProject_, names.IdIn(projects_), usage);
  AddTo(byProgram_, names.IdIn(programs_), usage);
  if (names.HasDepartments()) AddTo(byDepartment_, names.CurrentDepartment(), usage);
  const std::uint32_t series = SeriesId(names);
  AddTo(bySeries_, series, usage);
  byDaySeries_[(static_cast<std::uint64_t>(static_cast<std::uint32_t>(lastEndDay_)) << 32) | series].Add(usage);
}

void Report::AddPrevious(const ResourceRecordView& record) {
  if (record.Header == kExcludedHeader) return;
  previousNames_.Take(record);
  Usage usage;
  TakeUsage(record, previousLayout_, usage);
  AddTo(previousBySeries_, SeriesId(previousNames_), usage);
  ++previousRecords_;
}

Decimal Report::Measure(const Usage& usage) const {
  const RateTable* rates = table_.Settings().Rates;
  if (!rates) return SecondsToHours(usage.Cpu);
  Decimal cost;
  for (std::size_t p = 0; p < usage.Priced.size(); ++p) cost += RateTable::ExactCost(rates->Rates()[p], usage.Priced[p]);
  return cost;
}

std::string Report::MeasureText(const Decimal& value) const {
  if (table_.Settings().Rates) return WithThousands(FixedDecimals(value, RateTable::kCentPlaces));
  return WithThousands(FixedDecimals(value, kHoursPlaces));
}

std::string Report::MeasureName() const { return table_.Settings().Rates ? "cost" : "CPU hours"; }

std::vector<RankedName> Report::Ranked(const std::vector<Usage>& table, const NamePool& pool) const {
  std::vector<RankedName> names;
  for (std::uint32_t id = 0; id < table.size(); ++id) {
    if (table[id].Records > 0) names.push_back(RankedName{pool.Shown(id), Measure(table[id])});
  }
  return names;
}

std::string Report::MissingNote(std::string_view identifier, std::string_view what) const {
  if (table_.BilledRecords() == 0 || table_.Names().Seen(identifier)) return "";
  return Note("The records have no " + std::string(identifier) + " identifier, so " + std::string(what) +
              " cannot be shown: aggregate keeping " + std::string(identifier) + ".");
}

std::string Report::Header(const ReportFacts& facts) {
  std::string period = "no records";
  if (firstDay_) period = DayNumberText(*firstDay_) + " to " + DayNumberText(*lastDay_);
  const auto named = [](const std::vector<Usage>& table) {
    return std::ranges::count_if(table, [](const Usage& usage) { return usage.Records > 0; });
  };
  const auto machines = std::ranges::count_if(coverage_, [](const Coverage& c) { return !c.Runs.empty(); });
  std::string inputs;
  for (const std::string& input : facts.Inputs) inputs += (inputs.empty() ? "" : ", ") + HtmlText(input);
  const auto fact = [](std::string_view term, const std::string& html) {
    return "<dt>" + HtmlText(term) + "</dt><dd>" + html + "</dd>";
  };
  std::string html = "<header><h1>" + HtmlText(facts.Title) + "</h1><dl class=\"facts\">";
  html += fact("Period", HtmlText(period));
  html += fact("Machines", table_.Names().Seen(kMachine) ? Count(machines) : "not in the records");
  const auto counted = [&](const char* identifier, const std::vector<Usage>& table) {
    return table_.Names().Seen(identifier) ? Count(named(table)) : std::string("not in the records");
  };
  html += fact("Users", counted(kUser, byUser_));
  html += fact("Projects", counted(kProject, byProject_));
  html += fact("Programs", counted(kProcess, byProgram_));
  html += fact("Records", Count(table_.BilledRecords()) + " billed, " + Count(excludedRecords_) + " excluded");
  html += fact("Input files", inputs);
  if (!facts.Previous.empty()) html += fact("Previous period", HtmlText(facts.Previous));
  html += fact("Made", HtmlText(facts.MadeAt));
  return html + "</dl></header>\n";
}

std::string Report::Checks() {
  std::vector<std::string> items;
  UsageNames& names = table_.Names();
  if (table_.BilledRecords() == 0 && excludedRecords_ == 0) items.push_back("The input holds no resource records.");
  // Usage billed to no project.
  if (names.Seen(kProject) && !byProject_.empty()) {
    Decimal none, total;
    for (std::uint32_t id = 0; id < byProject_.size(); ++id) {
      const Decimal measure = Measure(byProject_[id]);
      total += measure;
      if (projects_.Shown(id) == kNoProject || projects_.Shown(id).empty()) none += measure;
    }
    items.push_back(Percent(none, total) + " of the " + HtmlText(MeasureName()) + " (" + HtmlText(MeasureText(none)) +
                    ") is billed to no project, as " + HtmlText(kNoProject) + ".");
  }
  for (const auto& group : projects_.CaseVariants()) {
    items.push_back("Projects that differ only in case are billed apart: " + NameList(group) + ".");
  }
  for (NamePool* pool : {&users_, &machines_, &programs_}) {
    const char* what = pool == &users_ ? "user" : pool == &machines_ ? "machine" : "program";
    for (const auto& group : pool->CaseVariants()) {
      // The group is sorted: its first spelling is the one shown.
      items.push_back(std::string("One ") + what + " written in several ways, billed as one (<q>" +
                      HtmlName(group.front()) + "</q>): " + NameList(group) + ".");
    }
  }
  if (names.HasDepartments()) {
    for (const auto& group : names.Departments().CaseVariants()) {
      items.push_back("Departments that differ only in case are billed apart: " + NameList(group) + ".");
    }
    const std::vector<std::string> unassigned = names.UnassignedUsers();
    if (!unassigned.empty()) {
      Decimal measure;
      for (std::uint32_t id = 0; id < byDepartment_.size(); ++id) {
        if (names.IsUnassigned(id)) measure = Measure(byDepartment_[id]);
      }
      items.push_back((unassigned.size() == 1 ? std::string("1 user is") : Count(static_cast<std::int64_t>(unassigned.size())) + " users are") +
                      " in no department and billed as " +
                      HtmlText(DepartmentMap::kUnassigned) + " (" + HtmlText(MeasureText(measure)) + " " +
                      HtmlText(MeasureName()) + "): " + NameList(unassigned) + ".");
    }
  }
  if (excludedRecords_ > 0) {
    items.push_back(Count(excludedRecords_) + " EXCLUDED records (accounts the converter leaves out of billing) with " +
                    Hours(excludedCpu_) + " CPU hours are not billed.");
  }
  if (names.Seen(kMachine)) {
    for (const MachineCoverage& row : CoverageRows()) {
      if (row.Missing > 0) {
        items.push_back("<q>" + HtmlName(row.Name) + "</q> has " + Days(row.Missing) + " without records (see Coverage).");
      }
    }
  }
  std::string html = "<ul class=\"checks\">";
  for (const std::string& item : items) html += "<li>" + item + "</li>\n";
  if (items.empty()) html += "<li>Nothing to check.</li>";
  return Section("checks", "Things to check", html + "</ul>\n");
}

std::string Report::Totals() {
  const BillSheet sheet = table_.Sheet();
  std::string html = "<table id=\"totals\"><thead><tr>";
  for (std::size_t i = 0; i < sheet.Titles.size(); ++i) {
    html += std::string(i < sheet.TextColumns ? "<th>" : "<th class=\"n\">") + HtmlText(sheet.Titles[i]) + "</th>";
  }
  html += "</tr></thead>\n<tbody>\n";
  const auto cells = [&](const std::vector<std::string>& row) {
    std::string tr = "<tr>";
    for (std::size_t i = 0; i < row.size(); ++i) {
      tr += i < sheet.TextColumns ? "<td>" + HtmlText(SpreadsheetSafeText(row[i])) + "</td>"
                                  : "<td class=\"n\">" + HtmlText(WithThousands(row[i])) + "</td>";
    }
    return tr + "</tr>\n";
  };
  for (const auto& row : sheet.Rows) html += cells(row);
  html += "</tbody><tfoot>" + cells(sheet.Total) + "</tfoot></table>\n";
  std::string intro = "The bill as quaxbill writes it for the same records and options";
  if (table_.Settings().Rates) intro += "; costs are rounded to cents once per cell and the total row adds up the rows";
  return Section("totals", "Totals", Note(intro + ".") + html);
}

std::string Report::PerDay() {
  std::string title = MeasureName() + " per day by " + SeriesTitle();
  title[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(title[0])));
  if (!firstDay_ || bySeries_.empty()) return Section("per-day", title, Note("No usage to show."));
  NamePool& pool = SeriesPool(table_.Names());
  // The largest series get their own colour, the rest are "others".
  std::vector<RankedName> ranked = Ranked(bySeries_, pool);
  const std::vector<RankedName> shown = TopWithOthers(ranked, std::min(top_, kStackedSeries));
  std::unordered_map<std::uint32_t, std::size_t> seriesOfId;
  for (std::uint32_t id = 0; id < bySeries_.size(); ++id) {
    if (bySeries_[id].Records == 0) continue;
    const auto at = std::ranges::find_if(shown, [&](const RankedName& name) { return !name.Others && name.Name == pool.Shown(id); });
    seriesOfId[id] = static_cast<std::size_t>(at == shown.end() ? shown.size() - 1 : at - shown.begin());
  }
  // Days while they fit, else months, else years.
  const std::int32_t days = *lastDay_ - *firstDay_ + 1;
  const CalendarDateTime firstParts = SplitDateTime(*firstDay_);
  const CalendarDateTime lastParts = SplitDateTime(*lastDay_);
  const std::int32_t months = (lastParts.Year - firstParts.Year) * 12 + lastParts.Month - firstParts.Month + 1;
  const int grain = days <= kMostDayColumns ? 0 : months <= kMostDayColumns ? 1 : 2;
  // Years, several to a column when there are very many.
  const int yearsPerColumn = std::max(1, (lastParts.Year - firstParts.Year) / kMostDayColumns + 1);
  const auto bucketOf = [&](std::int32_t day) -> std::size_t {
    if (grain == 0) return static_cast<std::size_t>(day - *firstDay_);
    const CalendarDateTime parts = SplitDateTime(day);
    if (grain == 1) return static_cast<std::size_t>((parts.Year - firstParts.Year) * 12 + parts.Month - firstParts.Month);
    return static_cast<std::size_t>((parts.Year - firstParts.Year) / yearsPerColumn);
  };
  StackedColumns chart;
  chart.Unit = MeasureName();
  const std::size_t buckets = bucketOf(*lastDay_) + 1;
  for (std::size_t b = 0; b < buckets; ++b) {
    char label[32];
    if (grain == 0) {
      const std::string day = DayNumberText(*firstDay_ + static_cast<std::int32_t>(b));
      chart.BucketTitles.push_back(day);
      chart.BucketLabels.push_back(day.substr(5));
    } else if (grain == 1) {
      const int month = firstParts.Month - 1 + static_cast<int>(b);
      std::snprintf(label, sizeof label, "%04d-%02d", firstParts.Year + month / 12, month % 12 + 1);
      chart.BucketTitles.push_back(label);
      chart.BucketLabels.push_back(label);
    } else {
      const int year = firstParts.Year + static_cast<int>(b) * yearsPerColumn;
      if (yearsPerColumn == 1) {
        std::snprintf(label, sizeof label, "%04d", year);
      } else {
        std::snprintf(label, sizeof label, "%04d-%04d", year, year + yearsPerColumn - 1);
      }
      chart.BucketTitles.push_back(label);
      chart.BucketLabels.push_back(label);
    }
  }
  std::vector<std::vector<Decimal>> sums(shown.size(), std::vector<Decimal>(buckets));
  for (const auto& [key, usage] : byDaySeries_) {
    const std::size_t series = seriesOfId[static_cast<std::uint32_t>(key & 0xFFFFFFFFu)];
    sums[series][bucketOf(static_cast<std::int32_t>(key >> 32))] += Measure(usage);
  }
  std::vector<LegendEntry> legend;
  for (std::size_t s = 0; s < shown.size(); ++s) {
    StackedColumns::Series series;
    series.Name = shown[s].Others ? "others (" + std::to_string(shown[s].Count) + ")" : DisplayName(shown[s].Name);
    series.Others = shown[s].Others;
    for (const Decimal& sum : sums[s]) {
      series.Values.push_back(sum.ToDouble());
      series.ValueTexts.push_back(MeasureText(sum));
    }
    legend.push_back(LegendEntry{series.Name, series.Others});
    chart.Stack.push_back(std::move(series));
  }
  const std::string grainName = grain == 0 ? "day" : grain == 1 ? "month" : "year";
  return Section("per-day", title,
                 Legend(legend) + StackedColumnChart(chart, MeasureName() + " per " + grainName + ", stacked by " +
                                                                SeriesTitle() + "; each part names its value"));
}

std::string Report::Tops() {
  std::string html;
  const auto chart = [&](std::string_view what, const std::vector<Usage>& table, const NamePool& pool) {
    std::string part = "<h3>" + HtmlText(what) + "</h3>\n";
    const std::vector<RankedName> ranked = TopWithOthers(Ranked(table, pool), top_);
    if (ranked.empty()) return part + Note("No usage to show.");
    Decimal total;
    for (const RankedName& name : ranked) total += name.Value;
    std::vector<ChartBar> bars;
    for (const RankedName& name : ranked) {
      const std::string label = name.Others ? "others (" + std::to_string(name.Count) + ")" : DisplayName(name.Name);
      const std::string value = MeasureText(name.Value);
      bars.push_back(ChartBar{label, name.Value.ToDouble(), value + " (" + Percent(name.Value, total) + ")",
                              label + ": " + value + " " + MeasureName() + " (" + Percent(name.Value, total) + ")",
                              name.Others});
    }
    const bool others = ranked.back().Others;
    return part + BarChart(bars, std::string(what) + " by " + MeasureName() +
                                     (others ? ", the largest " + std::to_string(top_) + " and the others" : ""));
  };
  UsageNames& names = table_.Names();
  if (names.HasDepartments()) html += chart("Departments", byDepartment_, names.Departments());
  const std::string users = MissingNote(kUser, "users");
  html += users.empty() ? chart("Users", byUser_, users_) : "<h3>Users</h3>\n" + users;
  const std::string projects = MissingNote(kProject, "projects");
  html += projects.empty() ? chart("Projects", byProject_, projects_) : "<h3>Projects</h3>\n" + projects;
  const std::string programs = MissingNote(kProcess, "programs");
  html += programs.empty() ? chart("Programs", byProgram_, programs_) : "<h3>Programs</h3>\n" + programs;
  return Section("top", "The largest", html);
}

std::string Report::CpuAgainstElapsed() {
  const std::string title = "CPU against elapsed time per project";
  if (const std::string missing = MissingNote(kProject, "projects"); !missing.empty()) return Section("cpu-elapsed", title, missing);
  std::vector<std::uint32_t> byCpu;  // project ids, most CPU time first
  for (std::uint32_t id = 0; id < byProject_.size(); ++id) {
    if (byProject_[id].Records > 0) byCpu.push_back(id);
  }
  std::ranges::sort(byCpu, [this](std::uint32_t a, std::uint32_t b) {
    const Decimal& aCpu = byProject_[a].Cpu;
    const Decimal& bCpu = byProject_[b].Cpu;
    return aCpu != bCpu ? aCpu > bCpu : projects_.Shown(a) < projects_.Shown(b);
  });
  if (byCpu.empty()) return Section("cpu-elapsed", title, Note("No usage to show."));
  std::vector<PairedBar> bars;
  for (std::size_t i = 0; i < byCpu.size() && i < top_; ++i) {
    const Usage& usage = byProject_[byCpu[i]];
    const std::string label = DisplayName(projects_.Shown(byCpu[i]));
    const std::string text = Hours(usage.Cpu) + " of " + Hours(usage.Elapsed) + " h (" + Percent(usage.Cpu, usage.Elapsed) + ")";
    bars.push_back(PairedBar{label, SecondsToHours(usage.Elapsed).ToDouble(), SecondsToHours(usage.Cpu).ToDouble(), text,
                             label + ": " + Hours(usage.Cpu) + " CPU hours of " + Hours(usage.Elapsed) + " elapsed hours"});
  }
  const std::string note = byCpu.size() > top_ ? Note("The " + std::to_string(top_) + " projects with the most CPU time of " +
                                                      std::to_string(byCpu.size()) + ".")
                                               : "";
  return Section("cpu-elapsed", title,
                 note + PairedBarChart(bars, "CPU hours (dark) within elapsed hours (light) of the processes of each project"));
}

std::string Report::Comparison() {
  const std::string title = "Change against the previous period by " + SeriesTitle();
  // Names of both periods meet by their text (ignoring case for Windows names).
  NamePool& currentPool = SeriesPool(table_.Names());
  NamePool& previousPool = SeriesPool(previousNames_);
  struct Pair {
    std::string Name;
    Decimal Current, Previous;
    bool Others = false;
  };
  CValueIdMap keys;
  keys.SetIgnoreCase(currentPool.IgnoresCase());
  std::vector<Pair> ordered;  // by key id - 1
  const auto pairOf = [&](const std::string& name) -> Pair& {
    const auto id = static_cast<std::size_t>(keys.AddorGetValueId(name));
    if (id > ordered.size()) ordered.push_back(Pair{name, Decimal(), Decimal()});
    return ordered[id - 1];
  };
  for (std::uint32_t id = 0; id < bySeries_.size(); ++id) {
    if (bySeries_[id].Records > 0) pairOf(currentPool.Shown(id)).Current = Measure(bySeries_[id]);
  }
  for (std::uint32_t id = 0; id < previousBySeries_.size(); ++id) {
    if (previousBySeries_[id].Records > 0) pairOf(previousPool.Shown(id)).Previous = Measure(previousBySeries_[id]);
  }
  // The largest by either period, the rest as others.
  std::ranges::sort(ordered, [](const Pair& a, const Pair& b) {
    const Decimal& aLarger = std::max(a.Current, a.Previous);
    const Decimal& bLarger = std::max(b.Current, b.Previous);
    return aLarger != bLarger ? aLarger > bLarger : a.Name < b.Name;
  });
  if (ordered.size() > top_) {
    Pair others{"others (" + std::to_string(ordered.size() - top_) + ")", Decimal(), Decimal(), true};
    for (std::size_t i = top_; i < ordered.size(); ++i) {
      others.Current += ordered[i].Current;
      others.Previous += ordered[i].Previous;
    }
    ordered.resize(top_);
    ordered.push_back(std::move(others));
  }
  std::string heading = SeriesTitle();
  heading[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(heading[0])));
  std::string table = "<table id=\"comparison\"><thead><tr><th>" + HtmlText(heading) + "</th><th class=\"n\">Previous " +
                      HtmlText(MeasureName()) + "</th><th class=\"n\">This period</th><th class=\"n\">Change</th><th class=\"n\">Change %</th></tr></thead><tbody>\n";
  std::vector<ChartBar> bars;
  for (const Pair& pair : ordered) {
    const bool others = pair.Others;
    const Decimal change = pair.Current - pair.Previous;
    const std::string changeText = (change > Decimal() ? "+" : "") + MeasureText(change);
    const std::string percent = pair.Previous.IsZero() ? "new" : (change > Decimal() ? "+" : "") + Percent(change, pair.Previous);
    const std::string label = others ? pair.Name : DisplayName(pair.Name);
    table += "<tr><td>" + HtmlText(label) + "</td><td class=\"n\">" + HtmlText(MeasureText(pair.Previous)) +
             "</td><td class=\"n\">" + HtmlText(MeasureText(pair.Current)) + "</td><td class=\"n\">" + HtmlText(changeText) +
             "</td><td class=\"n\">" + HtmlText(percent) + "</td></tr>\n";
    bars.push_back(ChartBar{label, change.ToDouble(), changeText + " (" + percent + ")",
                            label + ": " + MeasureText(pair.Previous) + " before, " + MeasureText(pair.Current) + " now, " +
                                changeText + " " + MeasureName(),
                            others});
  }
  table += "</tbody></table>\n";
  if (ordered.empty()) return Section("previous", title, Note("Neither period has usage."));
  return Section("previous", title,
                 ChangeChart(bars, "Change of the " + MeasureName() + " against the previous period: increases to the right, decreases to the left") +
                     table);
}

std::vector<Report::MachineCoverage> Report::CoverageRows() const {
  std::vector<MachineCoverage> rows;
  if (!firstDay_) return rows;
  const bool perMachine = table_.Names().Seen(kMachine);
  for (std::uint32_t id = 0; id < coverage_.size(); ++id) {
    const Coverage& coverage = coverage_[id];
    if (coverage.Runs.empty()) continue;
    MachineCoverage row{perMachine ? machines_.Shown(id) : "(all records)", coverage.First, coverage.Last, {}, {}, 0};
    for (const std::uint64_t packed : coverage.Runs) {
      row.Covered.push_back(DayRun{static_cast<std::int32_t>(packed >> 32), static_cast<std::int32_t>(packed & 0xFFFFFFFFu)});
    }
    row.Covered = MergeRuns(std::move(row.Covered));
    row.Gaps = DaysWithout(*firstDay_, *lastDay_, row.Covered);
    for (const DayRun& gap : row.Gaps) row.Missing += gap.Last - gap.First + 1;
    rows.push_back(std::move(row));
  }
  // Machines with days missing first, so that a long list still shows them.
  std::ranges::sort(rows, [](const MachineCoverage& a, const MachineCoverage& b) {
    if ((a.Missing > 0) != (b.Missing > 0)) return a.Missing > 0;
    return a.Name < b.Name;
  });
  return rows;
}

std::string Report::CoverageSection() {
  const std::string title = "Coverage";
  if (!firstDay_) return Section("coverage", title, Note("No records, so no machine is known to have run its collector."));
  const bool perMachine = table_.Names().Seen(kMachine);
  const std::vector<MachineCoverage> rows = CoverageRows();
  std::string html = Note("Days from " + DayNumberText(*firstDay_) + " to " + DayNumberText(*lastDay_) +
                          ". A day counts as covered when a record of the machine (billed or EXCLUDED) spans it; "
                          "a day without any record means its collector did not run or its logs were not collected.");
  if (!perMachine) html += MissingNote(kMachine, "coverage per machine");
  html += "<table id=\"coverage-table\"><thead><tr><th>Machine</th><th>First record</th><th>Last record</th>"
          "<th>Days without records</th><th>Days</th></tr></thead><tbody>\n";
  for (std::size_t i = 0; i < rows.size() && i < kMostCoverageRows; ++i) {
    const MachineCoverage& row = rows[i];
    std::string gaps;
    for (std::size_t g = 0; g < row.Gaps.size() && g < kMostListed; ++g) gaps += (g > 0 ? "<br>" : "") + HtmlText(RunText(row.Gaps[g]));
    if (row.Gaps.size() > kMostListed) gaps += "<br>and " + std::to_string(row.Gaps.size() - kMostListed) + " more gaps";
    if (row.Gaps.empty()) gaps = "none";
    const std::string caption = row.Name + ": days with records filled, " + Days(row.Missing) + " without";
    html += "<tr><td>" + (perMachine ? HtmlName(row.Name) : HtmlText(row.Name)) + "</td><td>" +
            HtmlText(DateTimeText(row.First)) + "</td><td>" + HtmlText(DateTimeText(row.Last)) +
            "</td><td>" + gaps + "</td><td>" + CoverageStrip(*firstDay_, *lastDay_, row.Covered, caption) + "</td></tr>\n";
  }
  html += "</tbody></table>\n";
  if (rows.size() > kMostCoverageRows) {
    html += Note(std::to_string(rows.size() - kMostCoverageRows) + " more machines, all without days missing, are not listed.");
  }
  return Section("coverage", title, html);
}

std::string Report::Html(const ReportFacts& facts) {
  std::string html(kReportFirstLine);
  html += "\n<html lang=\"en\"><head><meta charset=\"windows-1252\">"
          "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">"
          "<title>" + HtmlText(facts.Title) + "</title><style>" + kStyle + "</style></head>\n<body>\n";
  html += ChartDefinitions();
  html += Header(facts);
  html += Checks();
  html += Totals();
  html += PerDay();
  html += Tops();
  html += CpuAgainstElapsed();
  if (!facts.Previous.empty()) html += Comparison();
  html += CoverageSection();
  return html + "</body></html>\n";
}

}  // namespace quax::agg::tools
