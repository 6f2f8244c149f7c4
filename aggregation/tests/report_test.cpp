// The pieces of quaxreport's page: escaping, numbers, rankings, days
// without records, and what the page says when identifiers are missing.
#include "tools/report.h"

#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "report_page.h"

namespace quax::agg::tools {
namespace {

using testing::Day;

TEST(ReportPieces, TextIsEscapedAndNumbersAreGrouped) {
  EXPECT_EQ(HtmlText("<b>R&D</b> \"q\" 'a'\x01"), "&lt;b&gt;R&amp;D&lt;/b&gt; &quot;q&quot; &#39;a&#39;&#xFFFD;");
  EXPECT_EQ(HtmlName("=1+2"), "&#39;=1+2") << "marked as text, as in the bill";
  EXPECT_EQ(HtmlName(""), "(empty)");
  EXPECT_EQ(WithThousands("-1234567.5"), "-1,234,567.5");
  EXPECT_EQ(WithThousands("999.9999"), "999.9999");
  EXPECT_EQ(WithThousands("1000"), "1,000");
}

TEST(ReportPieces, TheLargestNamesThenTheOthers) {
  const std::vector<RankedName> ranked =
      TopWithOthers({{"b", Decimal(5)}, {"a", Decimal(5)}, {"c", Decimal(9)}, {"d", Decimal(1)}, {"e", Decimal(2)}}, 3);
  ASSERT_EQ(ranked.size(), 4u);
  EXPECT_EQ(ranked[0].Name, "c");
  EXPECT_EQ(ranked[1].Name, "a") << "ties by name";
  EXPECT_EQ(ranked[2].Name, "b");
  EXPECT_TRUE(ranked[3].Others);
  EXPECT_EQ(ranked[3].Value, Decimal(3));
  EXPECT_EQ(ranked[3].Count, 2u);
  EXPECT_EQ(TopWithOthers({{"a", Decimal(1)}}, 3).size(), 1u) << "no others when all fit";
}

TEST(ReportPieces, DaysWithoutRecordsAreTheGapsBetweenRuns) {
  const std::vector<DayRun> covered = MergeRuns({{8, 10}, {2, 3}, {1, 2}, {6, 6}});
  ASSERT_EQ(covered.size(), 3u);
  EXPECT_EQ(covered[0].First, 1);
  EXPECT_EQ(covered[0].Last, 3);
  const std::vector<DayRun> gaps = DaysWithout(0, 12, covered);
  ASSERT_EQ(gaps.size(), 4u);
  const std::vector<std::pair<int, int>> expected = {{0, 0}, {4, 5}, {7, 7}, {11, 12}};
  for (std::size_t i = 0; i < gaps.size(); ++i) {
    EXPECT_EQ(std::make_pair(gaps[i].First, gaps[i].Last), expected[i]) << i;
  }
  EXPECT_TRUE(DaysWithout(3, 5, MergeRuns({{1, 9}})).empty());
}

ResourceRecordView Record(std::string_view header, std::vector<std::string_view> names,
                          std::vector<std::string_view> values, int day, int cpu) {
  ResourceRecordView record;
  record.Header = header;
  record.Start = Day(2026, 11, day, 8);
  record.End = Day(2026, 11, day, 9);
  record.IdentifierNames = std::move(names);
  record.IdentifierValues = std::move(values);
  record.RateCodes = {"CPUSEC", "ELAPSSEC"};
  record.ResourceValues = {Decimal(cpu), Decimal(3600)};
  return record;
}

// Records aggregated without Machine, Project and Process: the page says
// what it cannot show, and covers the days of all records as one.
TEST(Report, MissingIdentifiersAreNamedNotGuessed) {
  Report report(BillSettings{BillPeriod::Month, {"User"}}, Report::kDefaultTop);
  report.Add(Record("PROCESS", {"User"}, {"CORP\\alice"}, 1, 7200));
  report.Add(Record("PROCESS", {"User"}, {"CORP\\bob"}, 4, 3600));
  report.Add(Record("EXCLUDED", {"User"}, {"NT AUTHORITY\\SYSTEM"}, 5, 360));
  const std::string page = report.Html(ReportFacts{"November", {"sums.txt"}, "", "2026-12-01 08:00:00"});
  const std::string text = testing::PageText(page);
  for (const char* shown : {"The records have no Project identifier, so projects cannot be shown",
                            "The records have no Process identifier, so programs cannot be shown",
                            "The records have no Machine identifier, so coverage per machine cannot be shown",
                            "Machinesnot in the records", "Projectsnot in the records", "Records2 billed, 1 excluded",
                            "1 EXCLUDED records (accounts the converter leaves out of billing) with 0.1000 CPU hours are not billed.",
                            "2026-11-02 to 2026-11-03 (2 days)"}) {
    EXPECT_NE(text.find(shown), std::string::npos) << shown << " is not in: " << text;
  }
  const auto coverage = testing::TableRows(page, "coverage-table");
  ASSERT_EQ(coverage.size(), 2u);
  EXPECT_EQ(coverage[1][0], "(all records)");
  EXPECT_EQ(testing::TableRows(page, "totals").back(),
            (std::vector<std::string>{"Total", "", "3.0000", "2.0000"}));
}

// Thousands of names over eight thousand years: the rankings keep their
// top ten and "others", the days become groups of years.
TEST(Report, ThePageStaysSmallWhateverTheInput) {
  Report report(BillSettings{BillPeriod::Whole, {"User"}}, Report::kDefaultTop);
  for (int i = 0; i < 5000; ++i) {
    const std::string name = "CORP\\user" + std::to_string(i);
    ResourceRecordView record =
        Record("PROCESS", {"User", "Project", "Process", "Machine"}, {name, name, name, "HOST1"}, 1, i + 1);
    // Half of them in the years 1001 to 3500, half in 9000 to 9250.
    record.Start = record.End = Day(i % 2 ? 1001 + i / 2 : 9000 + i / 20, 1, 1);
    report.Add(record);
  }
  const std::string page = report.Html(ReportFacts{"Everything", {"sums.txt"}, "", ""});
  EXPECT_LT(page.size(), 1500000u) << "the totals table has its 5000 rows; the rest is small";
  EXPECT_NE(page.find("others (4990)"), std::string::npos);
  EXPECT_NE(page.find("per year"), std::string::npos);
  EXPECT_NE(page.find("and 2729 more gaps"), std::string::npos);
}

}  // namespace
}  // namespace quax::agg::tools
