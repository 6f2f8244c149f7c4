// The bill table: periods, groups, sums, units, departments, prices, totals
// and CSV text; the departments and prices files.
#include "tools/bill.h"

#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "tools/csv_text.h"

namespace quax::agg::tools {
namespace {

using testing::Day;

TEST(BillPeriods, ARecordCountsInTheDayOfItsLastMoment) {
  const double morning = Day(2026, 12, 8, 8);
  const double midnight = Day(2026, 12, 9);
  EXPECT_EQ(PeriodOf(morning, Day(2026, 12, 8, 23, 59, 59), BillPeriod::Day), "2026-12-08");
  EXPECT_EQ(PeriodOf(morning, midnight, BillPeriod::Day), "2026-12-08") << "an interval ending at midnight";
  EXPECT_EQ(PeriodOf(midnight, midnight, BillPeriod::Day), "2026-12-09") << "a moment at midnight";
  EXPECT_EQ(PeriodOf(morning, Day(2026, 12, 9, 0, 0, 1), BillPeriod::Day), "2026-12-09");
  EXPECT_EQ(PeriodOf(Day(2026, 12, 31, 8), Day(2027, 1, 1), BillPeriod::Month), "2026-12");
  EXPECT_EQ(PeriodOf(morning, midnight, BillPeriod::Whole), "");
  EXPECT_EQ(DayNumberText(LastDayNumber(morning, midnight)), "2026-12-08");
  EXPECT_EQ(DayNumberText(LastDayNumber(midnight, midnight)), "2026-12-09");
}

TEST(BillText, FieldsAndNumbersAreWrittenForASpreadsheet) {
  EXPECT_EQ(CsvField("CORP\\alice"), "CORP\\alice");
  EXPECT_EQ(CsvField("Smith, John"), "\"Smith, John\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  // Text a spreadsheet would evaluate or trim is marked as text.
  for (const char* formula : {"=HYPERLINK(\"http://x\")", "+1-1", "-2+3", "@SUM(1+1)", "\tx", "\rx"}) {
    EXPECT_EQ(SpreadsheetSafeText(formula), std::string("'") + formula);
  }
  EXPECT_EQ(SpreadsheetSafeText("a=b"), "a=b");
  EXPECT_EQ(CsvTextCell("=1,2"), "\"'=1,2\"");
  EXPECT_EQ(PlainNumber(Decimal::Parse("12.500000")), "12.5");
  EXPECT_EQ(PlainNumber(Decimal::Parse("0.000000")), "0");
  EXPECT_EQ(PlainNumber(Decimal::Parse("-0.250")), "-0.25");
  EXPECT_EQ(ResourceTitle("CPUSEC", TimeUnit::Seconds), "CPU seconds");
  EXPECT_EQ(ResourceTitle("ELAPSSEC", TimeUnit::Hours), "Elapsed hours");
  EXPECT_EQ(ResourceTitle("KBREAD", TimeUnit::Hours), "KB read");
  EXPECT_EQ(ResourceTitle("DISKIO", TimeUnit::Hours), "DISKIO");
  // Fixed decimals per column, halves away from zero.
  EXPECT_EQ(UsageText("CPUSEC", TimeUnit::Seconds, Decimal::Parse("0.125")), "0.13");
  EXPECT_EQ(UsageText("CPUSEC", TimeUnit::Hours, Decimal(150)), "0.0417");
  EXPECT_EQ(UsageText("CPUSEC", TimeUnit::Hours, Decimal(0)), "0.0000");
  EXPECT_EQ(UsageText("KBWRITE", TimeUnit::Hours, Decimal::Parse("7.5")), "8");
  EXPECT_EQ(UsageText("DISKIO", TimeUnit::Hours, Decimal::Parse("7.250000")), "7.25");
  EXPECT_EQ(FixedDecimals(Decimal::Parse("-0.001"), 2), "0.00");
}

ResourceRecordView Record(double start, double end, std::vector<std::string_view> names,
                          std::vector<std::string_view> values, std::vector<std::string_view> codes,
                          std::vector<Decimal> amounts, std::string_view header = "PROCESS") {
  ResourceRecordView record;
  record.Header = header;
  record.Start = start;
  record.End = end;
  record.IdentifierNames = std::move(names);
  record.IdentifierValues = std::move(values);
  record.RateCodes = std::move(codes);
  record.ResourceValues = std::move(amounts);
  return record;
}

TEST(BillTable, RowsSumByPeriodAndGroupWithATotalRow) {
  BillTable table(BillSettings{BillPeriod::Day, {"User", "Project"}, TimeUnit::Seconds});
  const double day1 = Day(2026, 12, 8, 8);
  const double day2 = Day(2026, 12, 9, 8);
  // Names are matched in any case; a record without an identifier of the
  // group has it empty; a resource first seen later gets a column then.
  table.Add(Record(day1, day1, {"USER", "Project", "Process"}, {"bob", "Zeus", "a.exe"}, {"CPUSEC"},
                   {Decimal::Parse("1.25")}));
  table.Add(Record(day1, day1, {"User", "Project", "Process"}, {"bob", "Zeus", "b.exe"}, {"CPUSEC"},
                   {Decimal::Parse("2")}));
  table.Add(Record(day2, day2, {"User", "Project"}, {"alice", "Apollo, Ltd"}, {"CPUSEC", "DISKIO"},
                   {Decimal::Parse("0.5"), Decimal::Parse("7")}));
  table.Add(Record(day1, day1, {"User"}, {"alice"}, {"CPUSEC"}, {Decimal::Parse("3")}));
  table.Add(Record(day2, day2, {"User", "Project"}, {"@mallory", "=HYPERLINK(1)"}, {"CPUSEC"}, {Decimal(1)}));
  EXPECT_EQ(table.Csv(),
            "Period,User,Project,CPU seconds,DISKIO\r\n"
            "2026-12-08,alice,,3.00,0\r\n"
            "2026-12-08,bob,Zeus,3.25,0\r\n"
            "2026-12-09,'@mallory,'=HYPERLINK(1),1.00,0\r\n"
            "2026-12-09,alice,\"Apollo, Ltd\",0.50,7\r\n"
            "Total,,,7.75,7\r\n");
  EXPECT_TRUE(BillTable::IsBillHeader("Period,User,Project,CPU seconds,DISKIO"));
  EXPECT_FALSE(BillTable::IsBillHeader("RecordType\tProcessId"));
}

TEST(BillTable, TheWholePeriodNamesTheFirstAndLastDay) {
  BillTable table(BillSettings{BillPeriod::Whole, {"Project"}});
  table.Add(Record(Day(2026, 12, 1, 8), Day(2026, 12, 1, 9), {"Project"}, {"Apollo"}, {"CPUSEC"}, {Decimal(1800)}));
  table.Add(Record(Day(2026, 12, 30, 8), Day(2026, 12, 31), {"Project"}, {"Apollo"}, {"CPUSEC"}, {Decimal(5400)}));
  EXPECT_EQ(table.Csv(),
            "Period,Project,CPU hours\r\n"
            "2026-12-01 to 2026-12-30,Apollo,2.0000\r\n"
            "Total,,2.0000\r\n");
}

// Departments and prices, figured by hand: 0.12 per CPU hour and 0.005 per
// elapsed hour; each cost cell is rounded to cents once, halves away from
// zero, and the total row adds up the rows' cells.
TEST(BillTable, DepartmentsAndPricesBillEachRowToTheCent) {
  DepartmentMap departments;
  ASSERT_EQ(departments.LoadText("User,Department\r\nCORP\\*,Research\r\ncorp\\bob,Sales\r\n"
                                 "CORP\\Carol,\"Ops, North\"\r\n",
                                 "departments.csv"),
            std::nullopt);
  RateTable rates;
  ASSERT_EQ(rates.LoadText("RateCode,Price,Per\nCPUSEC,0.12,3600\nELAPSSEC,0.005,3600\n", "rates.csv"), std::nullopt);
  BillTable table(BillSettings{BillPeriod::Month, {}, TimeUnit::Hours, &departments, &rates});
  const double day = Day(2026, 12, 8, 8);
  const auto add = [&](std::string_view user, std::string_view project, int cpu, int elapsed,
                       std::string_view header = "PROCESS") {
    table.Add(Record(day, day, {"Machine", "User", "Project"}, {"HOST1", user, project}, {"CPUSEC", "ELAPSSEC"},
                     {Decimal(cpu), Decimal(elapsed)}, header));
  };
  add("CORP\\alice", "Apollo", 5400, 36000);
  add("corp\\ALICE", "Apollo", 1800, 0);  // the same account: one row, shown as CORP\alice
  add("CORP\\dave", "Apollo", 3600, 7200);  // CORP\* applies
  add("corp\\bob", "Zeus", 150, 1800);    // 0.005 of CPU rounds up to 0.01, 0.0025 of elapsed down
  add("CORP\\Carol", "apollo", 150, 1);   // another project than Apollo
  add("OTHER\\erin", "Hermes", 36000, 36000);
  add("NT AUTHORITY\\SYSTEM", "(none)", 999, 999, kExcludedHeader);
  EXPECT_EQ(table.Csv(),
            "Period,Department,User,Project,CPU hours,Elapsed hours,CPU cost,Elapsed cost,Total cost\r\n"
            "2026-12,(unassigned),OTHER\\erin,Hermes,10.0000,10.0000,1.20,0.05,1.25\r\n"
            "2026-12,\"Ops, North\",CORP\\Carol,apollo,0.0417,0.0003,0.01,0.00,0.01\r\n"
            "2026-12,Research,CORP\\alice,Apollo,2.0000,10.0000,0.24,0.05,0.29\r\n"
            "2026-12,Research,CORP\\dave,Apollo,1.0000,2.0000,0.12,0.01,0.13\r\n"
            "2026-12,Sales,corp\\bob,Zeus,0.0417,0.5000,0.01,0.00,0.01\r\n"
            "Total,,,,13.0833,22.5003,1.58,0.11,1.69\r\n");
  EXPECT_EQ(table.ExcludedRecords(), 1);
  EXPECT_EQ(table.Names().UnassignedUsers(), std::vector<std::string>{"OTHER\\erin"});
  EXPECT_EQ(table.SeparateCaseVariants(), (std::vector<std::vector<std::string>>{{"Apollo", "apollo"}}));
  EXPECT_EQ(table.UnknownGroupName(), std::nullopt);
  EXPECT_EQ(table.UnusedRate(), std::nullopt);
}

TEST(BillTable, NamesAndPricesTheRecordsLackAreRefused) {
  RateTable rates;
  ASSERT_EQ(rates.LoadText("CPUSEC,0.12,3600\nKBREAD,0.01,1048576\n", "rates.csv"), std::nullopt);
  BillTable table(BillSettings{BillPeriod::Month, {"Departmnt"}, TimeUnit::Hours, nullptr, &rates});
  EXPECT_EQ(table.UnknownGroupName(), std::nullopt) << "nothing to check without records";
  EXPECT_EQ(table.UnusedRate(), std::nullopt);
  table.Add(Record(Day(2026, 12, 8), Day(2026, 12, 8), {"User"}, {"u"}, {"CPUSEC"}, {Decimal(1)}));
  EXPECT_EQ(table.UnknownGroupName(),
            "--by names Departmnt, which no input record has (the records have: User)");
  EXPECT_EQ(table.UnusedRate(),
            "'rates.csv' line 2: the rate code KBREAD is in no input record (a misspelt code would bill nothing)");
}

TEST(ChargebackFiles, EveryLineNotUnderstoodIsNamed) {
  const auto departments = [](std::string_view text) { return DepartmentMap().LoadText(text, "d.csv"); };
  EXPECT_EQ(departments("\xEF\xBB\xBFUser,Department\n\nCORP\\a,R\n"), std::nullopt) << "mark, header, blank line";
  EXPECT_EQ(departments("CORP\\a,R,x\n"), "'d.csv' line 1: wants User,Department, found 3 fields");
  EXPECT_EQ(departments("CORP\\a,R\n,R\n"), "'d.csv' line 2: the user or the department is empty");
  EXPECT_EQ(departments("CORP\\a*,R\n"), "'d.csv' line 1: 'CORP\\a*': a wildcard stands only in DOMAIN\\*");
  // A second backslash (one typed twice) names no Windows account.
  EXPECT_EQ(departments("CORP\\\\*,R\n"),
            "'d.csv' line 1: 'CORP\\\\*': an account is DOMAIN\\name or a name, with one backslash at most");
  EXPECT_EQ(departments("CORP\\a\\b,R\n"),
            "'d.csv' line 1: 'CORP\\a\\b': an account is DOMAIN\\name or a name, with one backslash at most");
  EXPECT_EQ(departments("CORP\\a,R\ncorp\\A,S\n"), "'d.csv' line 2: 'corp\\A' is in department 'R' on line 1 already");
  EXPECT_EQ(departments("CORP\\a,\"R\n"), "'d.csv' line 1: a quote is misplaced or not closed");
  DepartmentMap map;
  ASSERT_EQ(map.LoadText("CORP\\*,Research\ncorp\\bob,Sales\n", "d.csv"), std::nullopt);
  EXPECT_EQ(*map.Find("CORP\\BOB"), "Sales");
  EXPECT_EQ(*map.Find("corp\\carol"), "Research");
  EXPECT_EQ(map.Find("OTHER\\carol"), nullptr);
  EXPECT_EQ(map.Find("carol"), nullptr);

  const auto rates = [](std::string_view text) { return RateTable().LoadText(text, "r.csv"); };
  EXPECT_EQ(rates("RateCode,Price,Per\r\nCPUSEC,0.12,3600\r\n"), std::nullopt);
  EXPECT_EQ(rates("CPUSEC,0.12\n"), "'r.csv' line 1: wants RateCode,Price,Per, found 2 fields");
  EXPECT_EQ(rates("CPUSEC,0.12,3600\nKBREAD,1e3,1\n"), "'r.csv' line 2: the price '1e3' is not a number such as 0.12");
  EXPECT_EQ(rates("CPUSEC,-1,3600\n"), "'r.csv' line 1: the price '-1' is not a number such as 0.12");
  EXPECT_EQ(rates("CPUSEC,1,0\n"), "'r.csv' line 1: the per '0' is not a number above 0 such as 3600");
  EXPECT_EQ(rates("CPUSEC,1,1\ncpusec,2,1\n"), "'r.csv' line 2: cpusec is priced on line 1 already");
  EXPECT_EQ(rates("\"CP,U\",1,1\n"), "'r.csv' line 1: the rate code 'CP,U' is empty or holds a comma, quote or blank");

  std::vector<std::string> fields;
  EXPECT_TRUE(SplitCsvLine(" a , \"b, \"\"c\"\"\" ,", fields));
  EXPECT_EQ(fields, (std::vector<std::string>{"a", "b, \"c\"", ""}));
  EXPECT_FALSE(SplitCsvLine("a\"b,c", fields));
  EXPECT_FALSE(SplitCsvLine("\"a\"b,c", fields));
}

}  // namespace
}  // namespace quax::agg::tools
