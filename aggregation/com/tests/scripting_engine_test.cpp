// ScriptingEngine called directly with VARIANT values: the date setters and
// their messages, the entry dates, the numeric check, AddEntries over
// two-dimensional arrays (and what it refuses), and whose message
// LastErrorMessage shows.
#include "com/scripting_engine.h"

#include <gtest/gtest.h>

#include "com/com_error.h"
#include "com/variant_values.h"
#include "com_test_support.h"
#include "engine_test_support.h"

namespace quax::com {
namespace {

using testing::Array;
using testing::Columns;
using testing::Date;
using testing::Long;
using testing::Text;

// Dates through VarDateFromUdate and through the library's date arithmetic
// may differ in their last bits: far below a millisecond.
constexpr double kMillisecond = 1.0 / 86400000.0;

class ScriptingEngineTest : public ::testing::Test {
 protected:
  ScriptingEngineTest() {
    engine_.Engine().SetEventReporter(std::make_unique<agg::testing::RecordingReporter>(events_));
    engine_.SetWorkFilePath(folder_.Path());
    engine_.Initialize();
    engine_.DefineResourceRecordHeader("HDR");
    engine_.DefineIdentifier("USER");
    engine_.DefineResource("CPU", 1.0, -1);
    engine_.DefineResource("IO", 1.0, -1);
  }
  std::int32_t Add(const unique_variant& ids, const unique_variant& resources,
                   const unique_variant& start = Missing(), const unique_variant& end = Missing()) {
    return engine_.AddEntry(ids.get(), resources.get(), start.get(), end.get());
  }
  static unique_variant Missing() {
    VARIANT missing;
    VariantInit(&missing);
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    return unique_variant(missing);
  }
  std::int32_t Rows() const { return engine_.AggregationList().Rows; }

  agg::testing::ScratchFolder folder_;
  std::shared_ptr<std::vector<agg::testing::ReportedEvent>> events_ =
      std::make_shared<std::vector<agg::testing::ReportedEvent>>();
  ScriptingEngine engine_;
  const unique_variant user_ = Text(L"alice");
  const unique_variant one_ = Long(1);
  const unique_variant ids_ = Array({&user_});
  const unique_variant resources_ = Array({&one_, &one_});
};

TEST_F(ScriptingEngineTest, DateTextSetsTheEnginesDateOrLeavesItWithAMessage) {
  engine_.SetDateStart(Text(L"20030131 23:59:30").get());
  EXPECT_EQ(engine_.LastErrorMessage(), "");
  EXPECT_NEAR(engine_.DateStart(), agg::testing::Day(2003, 1, 31, 23, 59, 30), kMillisecond);
  engine_.SetDateStart(Text(L"2003-01-31").get());
  EXPECT_EQ(engine_.LastErrorMessage(), "Unable to convert date string '2003-01-31' to a date.");
  EXPECT_NEAR(engine_.Engine().DateStart(), agg::testing::Day(2003, 1, 31, 23, 59, 30), kMillisecond);

  engine_.SetDateEnd(Date(45000.5).get());
  EXPECT_EQ(engine_.LastErrorMessage(), "");
  EXPECT_EQ(engine_.DateEnd(), 45000.5);
  // Another type is converted, set, and named in the message.
  engine_.SetDateEnd(Long(37000).get());
  EXPECT_EQ(engine_.Engine().DateEnd(), 37000.0);
  EXPECT_EQ(engine_.LastErrorMessage(), "Date data type specified was not recognized.");
}

TEST_F(ScriptingEngineTest, ANonNumericDatePieceFailsWithValidationAndRaisesWithout) {
  engine_.SetDataValidation(true);
  engine_.SetDateStart(Text(L"2003013a 23:59:30").get());
  EXPECT_EQ(engine_.LastErrorMessage(), "Unable to convert date string '2003013a 23:59:30' to a date.");
  engine_.SetDataValidation(false);
  try {
    engine_.SetDateStart(Text(L"2003013a 23:59:30").get());
    FAIL() << "no type mismatch";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Result(), DISP_E_TYPEMISMATCH);
  }
}

TEST_F(ScriptingEngineTest, EntryDatesThatCannotBeReadRefuseTheEntry) {
  EXPECT_EQ(Add(ids_, resources_, Text(L"2003-01-31")), agg::EQUAX_RETURN_CODE_ERROR);
  EXPECT_EQ(engine_.LastErrorMessage(), "Unable to convert Start date string '2003-01-31' to a date.");
  EXPECT_EQ(Add(ids_, resources_, Missing(), Long(5)), agg::EQUAX_RETURN_CODE_ERROR);
  EXPECT_EQ(engine_.LastErrorMessage(), "End date data type specified was not recognized.");
  EXPECT_EQ(Add(ids_, resources_, Long(5)), agg::EQUAX_RETURN_CODE_ERROR);
  EXPECT_EQ(engine_.LastErrorMessage(), "Start date data type specified was not recognized.");
  EXPECT_EQ(Rows(), 0);

  ASSERT_EQ(Add(ids_, resources_, Text(L"20240131 08:00:00"), Date(agg::testing::Day(2024, 1, 31, 9))), 0);
  const agg::AggregationListView list = engine_.AggregationList();
  EXPECT_NEAR(std::get<double>(list.At(1, 0)), agg::testing::Day(2024, 1, 31, 8), kMillisecond);
  EXPECT_EQ(std::get<double>(list.At(2, 0)), agg::testing::Day(2024, 1, 31, 9));
  // An entry's message tells about that entry: no older refusal stays.
  EXPECT_EQ(engine_.LastErrorMessage(), "");
}

TEST_F(ScriptingEngineTest, ValidationNamesTheFirstNonNumericValueByItsOwnIndex) {
  engine_.SetDataValidation(true);
  const unique_variant x = Text(L"x");
  EXPECT_EQ(Add(ids_, Array({&one_, &x})), agg::EQUAX_RETURN_CODE_ERROR);
  EXPECT_EQ(engine_.LastErrorMessage(), "Numeric value not specified at resource value index1");
  EXPECT_EQ(Add(ids_, Array({&x, &one_}, 5)), agg::EQUAX_RETURN_CODE_ERROR);
  EXPECT_EQ(engine_.LastErrorMessage(), "Numeric value not specified at resource value index5");
  // The engine's own validation follows, counts first; its refusal shows,
  // not the facade's older one.
  EXPECT_EQ(Add(ids_, Array({&one_})), agg::EQUAX_RETURN_CODE_ERROR);
  EXPECT_EQ(engine_.LastErrorMessage(), "Expected 2 resources; received 1 resources");
  EXPECT_EQ(Rows(), 0);
}

TEST_F(ScriptingEngineTest, WithoutValidationANonNumericValueRaisesATypeMismatchNamingIt) {
  const unique_variant x = Text(L"x");
  try {
    Add(ids_, Array({&one_, &x}));
    FAIL() << "no type mismatch";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Result(), DISP_E_TYPEMISMATCH);
    EXPECT_STREQ(error.what(), "Type mismatch: resource value 1 ('x') is not a number.");
  }
  EXPECT_EQ(Rows(), 0);
  try {
    Add(ids_, Long(3));
    FAIL() << "a number taken for a list";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Result(), DISP_E_TYPEMISMATCH);
  }
}

TEST_F(ScriptingEngineTest, AddEntriesFeedsEachColumnAndStopsAtTheFirstRefusal) {
  EXPECT_EQ(engine_.AddEntries(0, testing::Empty().get(), testing::Empty().get(), nullptr, nullptr), 0);
  const unique_variant ids = Columns({{L"a"}, {L"b"}, {L"c"}});
  const unique_variant resources = Columns({{L"1", L"2"}, {L"3", L"4"}, {L"5", L"6"}});
  ASSERT_EQ(engine_.AddEntries(3, ids.get(), resources.get(), nullptr, nullptr), 0);
  const agg::AggregationListView list = engine_.AggregationList();
  ASSERT_EQ(list.Rows, 3);
  EXPECT_EQ(std::get<std::string>(list.At(5, 1)), "b");
  EXPECT_EQ(std::get<agg::Decimal>(list.At(10, 2)), agg::Decimal(6));

  engine_.SetDataValidation(true);
  const unique_variant bad = Columns({{L"7", L"8"}, {L"9", L"x"}, {L"1", L"1"}});
  const unique_variant more = Columns({{L"d"}, {L"e"}, {L"f"}});
  EXPECT_EQ(engine_.AddEntries(3, more.get(), bad.get(), nullptr, nullptr), agg::EQUAX_RETURN_CODE_ERROR);
  EXPECT_EQ(engine_.LastErrorMessage(), "Numeric value not specified at resource value index1");
  EXPECT_EQ(Rows(), 4);  // "d" was added, "e" refused, "f" never reached
}

TEST_F(ScriptingEngineTest, AddEntriesTakesEntryDatesByPositionInTheirLists) {
  const unique_variant ids = Columns({{L"a"}, {L"b"}});
  const unique_variant resources = Columns({{L"1", L"1"}, {L"1", L"1"}});
  const unique_variant first = Text(L"20240101 00:00:00");
  const unique_variant second = Date(agg::testing::Day(2024, 2, 1));
  const unique_variant starts = Array({&first, &second}, 1);
  const unique_variant end = Text(L"20240301 00:00:00");
  const unique_variant ends = Array({&end, &end});
  const VARIANT startsValue = starts.get();
  const VARIANT endsValue = ends.get();
  ASSERT_EQ(engine_.AddEntries(2, ids.get(), resources.get(), &startsValue, &endsValue), 0)
      << engine_.LastErrorMessage();
  const agg::AggregationListView list = engine_.AggregationList();
  EXPECT_NEAR(std::get<double>(list.At(1, 0)), agg::testing::Day(2024, 1, 1), kMillisecond);
  EXPECT_EQ(std::get<double>(list.At(1, 1)), agg::testing::Day(2024, 2, 1));
  EXPECT_NEAR(std::get<double>(list.At(2, 1)), agg::testing::Day(2024, 3, 1), kMillisecond);
}

TEST_F(ScriptingEngineTest, AddEntriesRefusesListsThatCannotServeTheEntries) {
  const unique_variant ids = Columns({{L"a"}, {L"b"}});
  const unique_variant resources = Columns({{L"1", L"1"}, {L"1", L"1"}});
  const unique_variant flat = Array({&one_, &one_});
  struct Case {
    std::int32_t Entries;
    const VARIANT* Ids;
    const VARIANT* Resources;
    const VARIANT* Starts;
    const char* Message;
  };
  const VARIANT idsValue = ids.get();
  const VARIANT resourcesValue = resources.get();
  const VARIANT flatValue = flat.get();
  const unique_variant two = Long(2);
  const VARIANT number = two.get();
  for (const Case& c : {
           Case {3, &idsValue, &resourcesValue, nullptr, "The identifier value list holds 2 entries; 3 were requested."},
           Case {1, &flatValue, &resourcesValue, nullptr,
                 "The identifier value list is not a two-dimensional array of variants."},
           Case {1, &idsValue, &number, nullptr, "The resource value list is not a two-dimensional array of variants."},
           Case {2, &idsValue, &resourcesValue, &idsValue, "The start date list is not a one-dimensional array of dates."},
           Case {-1, &idsValue, &resourcesValue, nullptr, "The number of entries must not be negative; received -1."},
       }) {
    EXPECT_EQ(engine_.AddEntries(c.Entries, *c.Ids, *c.Resources, c.Starts, nullptr), agg::EQUAX_RETURN_CODE_ERROR);
    EXPECT_EQ(engine_.LastErrorMessage(), c.Message);
  }
  const unique_variant shortDates = Array({&user_});
  const VARIANT shortDatesValue = shortDates.get();
  EXPECT_EQ(engine_.AddEntries(2, idsValue, resourcesValue, nullptr, &shortDatesValue), agg::EQUAX_RETURN_CODE_ERROR);
  EXPECT_EQ(engine_.LastErrorMessage(), "The end date list holds 1 dates; 2 were requested.");
  EXPECT_EQ(Rows(), 0);
}

TEST_F(ScriptingEngineTest, InitializeResetsTheOwnValidationCopyAndTheMessage) {
  engine_.SetDataValidation(true);
  engine_.SetDateStart(Text(L"bad").get());
  ASSERT_NE(engine_.LastErrorMessage(), "");
  EXPECT_TRUE(engine_.Initialize(5));
  EXPECT_EQ(engine_.LastErrorMessage(), "");
  EXPECT_FALSE(engine_.DataValidation());
  EXPECT_EQ(engine_.Engine().MaxEntries(), 5);
  // Memory limits and priority keep the message.
  engine_.SetDateStart(Text(L"bad").get());
  engine_.SetMemoryMaximum(40);
  engine_.SetProcessPriorityClass(agg::EProcessPriorityClass_Idle);
  EXPECT_EQ(engine_.MemoryMaximum(), 40);
  EXPECT_EQ(engine_.LastErrorMessage(), "Unable to convert date string 'bad' to a date.");
  engine_.ResultsMessage();
  EXPECT_EQ(engine_.LastErrorMessage(), "");
}

}  // namespace
}  // namespace quax::com
