// The bill table: periods, groups, sums, totals and CSV text.
#include "tools/bill.h"

#include <gtest/gtest.h>

#include "engine_test_support.h"

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
}

TEST(BillText, FieldsAndNumbersAreWrittenForASpreadsheet) {
  EXPECT_EQ(CsvField("CORP\\alice"), "CORP\\alice");
  EXPECT_EQ(CsvField("Smith, John"), "\"Smith, John\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(PlainNumber(Decimal::Parse("12.500000")), "12.5");
  EXPECT_EQ(PlainNumber(Decimal::Parse("3")), "3");
  EXPECT_EQ(PlainNumber(Decimal::Parse("0.000000")), "0");
  EXPECT_EQ(PlainNumber(Decimal::Parse("-0.250")), "-0.25");
  EXPECT_EQ(ResourceTitle("CPUSEC"), "CPU seconds");
  EXPECT_EQ(ResourceTitle("DISKIO"), "DISKIO");
}

ResourceRecordView Record(double start, double end, std::vector<std::string_view> names,
                          std::vector<std::string_view> values, std::vector<std::string_view> codes,
                          std::vector<Decimal> amounts) {
  ResourceRecordView record;
  record.Header = "PROCESS";
  record.Start = start;
  record.End = end;
  record.IdentifierNames = std::move(names);
  record.IdentifierValues = std::move(values);
  record.RateCodes = std::move(codes);
  record.ResourceValues = std::move(amounts);
  return record;
}

TEST(BillTable, RowsSumByPeriodAndGroupWithATotalRow) {
  BillTable table(BillPeriod::Day, {"User", "Project"});
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
  EXPECT_EQ(table.Csv(),
            "Period,User,Project,CPU seconds,DISKIO\r\n"
            "2026-12-08,alice,,3,0\r\n"
            "2026-12-08,bob,Zeus,3.25,0\r\n"
            "2026-12-09,alice,\"Apollo, Ltd\",0.5,7\r\n"
            "Total,,,6.75,7\r\n");
  EXPECT_TRUE(BillTable::IsBillHeader("Period,User,Project,CPU seconds,DISKIO"));
  EXPECT_FALSE(BillTable::IsBillHeader("RecordType\tProcessId"));
}

TEST(BillTable, TheWholePeriodNamesTheFirstAndLastDay) {
  BillTable table(BillPeriod::Whole, {"Project"});
  table.Add(Record(Day(2026, 12, 1, 8), Day(2026, 12, 1, 9), {"Project"}, {"Apollo"}, {"CPUSEC"}, {Decimal(1)}));
  table.Add(Record(Day(2026, 12, 30, 8), Day(2026, 12, 31), {"Project"}, {"Apollo"}, {"CPUSEC"}, {Decimal(2)}));
  EXPECT_EQ(table.Csv(),
            "Period,Project,CPU seconds\r\n"
            "2026-12-01 to 2026-12-30,Apollo,3\r\n"
            "Total,,3\r\n");
}

}  // namespace
}  // namespace quax::agg::tools
