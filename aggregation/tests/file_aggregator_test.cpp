// CFileAggregator: a whole resource record file through the engine.
#include "engine/file_aggregator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "engine_test_support.h"

namespace quax::agg {
namespace {

using testing::ReadRecords;

std::string Line(const std::string& header, const std::string& names, const std::string& rates) {
  return header + ",20240131,20240131,08:00:00,09:00:00,," + names + "," + rates + "\r\n";
}

class FileAggregatorTest : public ::testing::Test {
 protected:
  FileAggregatorTest() {
    aggregator_.Engine().SetEventReporter(std::make_unique<testing::RecordingReporter>(events_));
    aggregator_.Engine().SetWorkFilePath(folder_.Path());
    aggregator_.Initialize(0);
    aggregator_.SetInputFileName(input_);
    aggregator_.Engine().SetOutputFileName(output_);
  }
  void WriteInput(const std::string& text) const {
    std::ofstream out(input_, std::ios::binary);
    out << text;
  }

  testing::ScratchFolder folder_;
  std::string input_ = folder_.File("in.txt");
  std::string output_ = folder_.File("out.txt");
  std::shared_ptr<std::vector<testing::ReportedEvent>> events_ =
      std::make_shared<std::vector<testing::ReportedEvent>>();
  CFileAggregator aggregator_;
};

TEST_F(FileAggregatorTest, AMissingInputIsReportedWithTheReadersMessage) {
  EXPECT_FALSE(aggregator_.AggregateFile());
  EXPECT_EQ(aggregator_.LastErrorMessage().rfind("Unable to open input file '" + input_ + "': ", 0), 0u)
      << aggregator_.LastErrorMessage();
  EXPECT_TRUE(ReadRecords(output_).empty());
}

// Aggregating a file into itself would read every flush back forever; it is
// refused at once whatever the names (here a second link to the file).
TEST_F(FileAggregatorTest, AnInputThatIsTheOutputUnderAnotherNameIsRefused) {
  const std::string text = Line("A", "1,\"USER\",\"u\"", "1,CPU,1") + Line("B", "1,\"USER\",\"u\"", "1,CPU,1");
  WriteInput(text);
  const std::string link = folder_.File("link.txt");
  std::filesystem::create_hard_link(input_, link);
  aggregator_.Engine().SetOutputFileName(link);
  EXPECT_FALSE(aggregator_.AggregateFile());
  EXPECT_EQ(aggregator_.LastErrorMessage(),
            "Input file '" + input_ + "' and output file '" + link + "' are the same file.");
  EXPECT_EQ(testing::ReadText(input_), text);
}

// One hostile value in a file stops the run at once with the value named,
// instead of making a record for every 99,999,999,999 in it.
TEST_F(FileAggregatorTest, AValueBeyondTheAggregateBoundStopsTheRunNamingIt) {
  WriteInput(Line("A", "1,\"USER\",\"u\"", "1,CPU,1") +
             Line("A", "1,\"USER\",\"v\"", "1,CPU,1000000000000000000000"));
  EXPECT_FALSE(aggregator_.AggregateFile());
  EXPECT_EQ(aggregator_.LastErrorMessage(),
            "Unable to add aggregate: Resource value '1000000000000000000000' for 'CPU' would need "
            "more than 10000 output records of at most 99999999999; the entry was not added.");
  EXPECT_TRUE(ReadRecords(output_).empty());
}

TEST_F(FileAggregatorTest, EachLayoutChangeAppendsTheAggregatesSoFar) {
  const std::string a = Line("A", "1,\"USER\",\"u\"", "1,CPU,1");
  const std::string b = Line("B", "1,\"USER\",\"u\"", "1,CPU,2");
  WriteInput(a + a + b + a);
  ASSERT_TRUE(aggregator_.AggregateFile()) << aggregator_.LastErrorMessage();
  const auto records = ReadRecords(output_);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].Header, "A");
  EXPECT_EQ(records[0].ResourceValues[0], Decimal(2));
  EXPECT_EQ(records[1].Header, "B");
  EXPECT_EQ(records[2].Header, "A");
  EXPECT_EQ(records[2].ResourceValues[0], Decimal(1));
  EXPECT_EQ(events_->size(), 3u);  // one engine run per group
}

TEST_F(FileAggregatorTest, RecordsWithOtherNamesAtEqualCountsKeepTheirNames) {
  WriteInput(Line("A", "1,\"USER\",\"u\"", "1,CPU,1") + Line("A", "1,\"HOST\",\"u\"", "1,CPU,1"));
  ASSERT_TRUE(aggregator_.AggregateFile());
  const auto records = ReadRecords(output_);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].IdentifierNames[0], "USER");
  EXPECT_EQ(records[1].IdentifierNames[0], "HOST");
}

TEST_F(FileAggregatorTest, DroppedNamesMatchIgnoringCase) {
  aggregator_.AddIdentifierToRemove("user");
  aggregator_.AddResourceToRemove("Io");
  EXPECT_THROW(aggregator_.AddIdentifierToRemove("USER"), Error);
  WriteInput(Line("A", "2,\"User\",\"u1\",\"HOST\",\"h\"", "2,CPU,1,IO,5") +
             Line("A", "2,\"User\",\"u2\",\"HOST\",\"h\"", "2,CPU,2,IO,5"));
  ASSERT_TRUE(aggregator_.AggregateFile());
  const auto records = ReadRecords(output_);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].IdentifierNames, std::vector<std::string>({"HOST"}));
  EXPECT_EQ(records[0].RateCodes, std::vector<std::string>({"CPU"}));
  EXPECT_EQ(records[0].ResourceValues[0], Decimal(3));
}

TEST_F(FileAggregatorTest, ARecordLeftWithoutIdentifiersStopsTheRun) {
  aggregator_.AddIdentifierToRemove("USER");
  WriteInput(Line("A", "1,\"USER\",\"u\"", "1,CPU,1"));
  EXPECT_FALSE(aggregator_.AggregateFile());
  EXPECT_EQ(aggregator_.LastErrorMessage(), "You are attempting to write out a record with no identifiers");
  aggregator_.Initialize(0);
  aggregator_.AddResourceToRemove("CPU");
  EXPECT_FALSE(aggregator_.AggregateFile());
  EXPECT_EQ(aggregator_.LastErrorMessage(), "You are attempting to write out a record with no resources");
}

TEST_F(FileAggregatorTest, AMalformedLineRaisesAndLeavesTheOutputUnwritten) {
  WriteInput(Line("A", "1,\"USER\",\"u\"", "1,CPU,1") + "A,20240131,broken\r\n");
  EXPECT_THROW(aggregator_.AggregateFile(), RecordError);
  EXPECT_TRUE(ReadRecords(output_).empty());
}

TEST_F(FileAggregatorTest, AnEmptyInputStillRunsTheEngineOnce) {
  WriteInput("");
  EXPECT_TRUE(aggregator_.AggregateFile());
  EXPECT_EQ(events_->size(), 1u);
}

// The own message stays through the memory limits and the priority; the
// flags and texts clear it, so that the engine's shows.
TEST_F(FileAggregatorTest, SettingsThatClearTheOwnMessageShowTheEnginesAfterwards) {
  const auto failWithOwnMessage = [this] {
    aggregator_.SetInputFileName(folder_.File("missing.txt"));
    ASSERT_FALSE(aggregator_.AggregateFile());
    ASSERT_EQ(aggregator_.LastErrorMessage().rfind("Unable to open input file", 0), 0u);
  };
  failWithOwnMessage();
  aggregator_.SetMemoryMinimum(12);
  aggregator_.SetMemoryMaximum(34);
  aggregator_.SetProcessPriorityClass(EProcessPriorityClass_Idle);
  EXPECT_EQ(aggregator_.MemoryMinimum(), 12);
  EXPECT_EQ(aggregator_.MemoryMaximum(), 34);
  EXPECT_EQ(aggregator_.ProcessPriorityClass(), EProcessPriorityClass_Idle);
  EXPECT_EQ(aggregator_.LastErrorMessage().rfind("Unable to open input file", 0), 0u);

  const std::vector<std::function<void()>> clearing = {
      [this] { aggregator_.DataValidation(); },
      [this] { aggregator_.DebugMessage(); },
      [this] { aggregator_.EnableDebugCounters(); },
      [this] { aggregator_.ResultsMessage(); },
  };
  for (const auto& access : clearing) {
    failWithOwnMessage();
    aggregator_.Engine().SetDateKeyword("TOMORROW");  // a message in the engine too
    access();
    EXPECT_EQ(aggregator_.LastErrorMessage(), aggregator_.Engine().LastErrorMessage());
  }
  failWithOwnMessage();
  aggregator_.Engine().SetDateKeyword("TOMORROW");
  aggregator_.DebugMessage();
  EXPECT_EQ(aggregator_.LastErrorMessage(), "TOMORROW is not a valid date keyword.");
  aggregator_.SetOutputFileName(folder_.File("other.txt"));
  EXPECT_EQ(aggregator_.OutputFileName(), folder_.File("other.txt"));
  aggregator_.SetWorkFilePath(folder_.Path());
  EXPECT_EQ(aggregator_.WorkFilePath(), folder_.Path());
  aggregator_.SetDataValidation(true);
  EXPECT_TRUE(aggregator_.DataValidation());
  aggregator_.SetEnableDebugCounters(true);
  EXPECT_TRUE(aggregator_.EnableDebugCounters());
}

TEST_F(FileAggregatorTest, ManyKeysOverExternalPassesSumAsInMemory) {
  std::string text;
  for (int i = 0; i < 300; ++i) {
    text += Line("A", "1,\"USER\",\"u" + std::to_string(i % 37) + "\"", "1,CPU," + std::to_string(i));
  }
  WriteInput(text);
  aggregator_.Engine().SetWorkFilePath(folder_.Path());
  aggregator_.Initialize(5);
  aggregator_.Engine().SetOutputFileName(output_);
  ASSERT_TRUE(aggregator_.AggregateFile()) << aggregator_.LastErrorMessage();
  const auto records = ReadRecords(output_);
  ASSERT_EQ(records.size(), 37u);
  Decimal total;
  for (const auto& r : records) total += r.ResourceValues[0];
  EXPECT_EQ(total, Decimal(300 * 299 / 2));
  EXPECT_GT(aggregator_.Engine().Counters().RejectPassesCount(), 5);
  EXPECT_TRUE(folder_.WorkFiles().empty());
}

}  // namespace
}  // namespace quax::agg
