// quaxaggregate: the real tool, started from beside this test binary on tiny
// files, checked by its exit code, what it prints and the output file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine_test_support.h"
#include "tool_runner.h"

namespace quax::agg {
namespace {

using testing::ReadRecords;
using testing::ReadText;
using testing::ScratchFolder;
using testing::ToolRun;
using testing::WriteText;

ToolRun RunQuaxAggregate(const std::vector<std::string>& arguments, const ScratchFolder& folder,
                         const std::string& standardInput = "") {
  return testing::RunTool("quaxaggregate", arguments, folder, standardInput);
}

// A resource value as written without its trailing zeros: 3.750000 is 3.75.
std::string PlainNumber(const Decimal& value) {
  std::string text = value.ToString();
  if (text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  return text;
}

// A record as "USER=u1 HOST=h1 | CPU=3.75 IO=4", so that whole records are
// compared and shown when they differ.
std::string Describe(const ResourceRecord& record) {
  std::string text;
  for (std::size_t i = 0; i < record.IdentifierNames.size(); ++i) {
    text += record.IdentifierNames[i] + "=" + record.IdentifierValues[i] + " ";
  }
  text += "|";
  for (std::size_t j = 0; j < record.RateCodes.size(); ++j) {
    text += " " + record.RateCodes[j] + "=" + PlainNumber(record.ResourceValues[j]);
  }
  return text;
}

// One record line of header A; identifiers and resources with their counts.
std::string Record(const std::string& identifiers, const std::string& resources,
                   const std::string& day = "20240131", const std::string& times = "08:00:00,09:00:00") {
  return "A," + day + "," + day + "," + times + ",," + identifiers + "," + resources + "\r\n";
}

// Five records of three keys (USER, HOST).
const std::string kInput = Record(R"(2,"USER","u1","HOST","h1")", "2,CPU,1.5,IO,1") +
                           Record(R"(2,"USER","u2","HOST","h1")", "2,CPU,4,IO,2") +
                           Record(R"(2,"USER","u1","HOST","h1")", "2,CPU,2.25,IO,3") +
                           Record(R"(2,"USER","u1","HOST","h2")", "2,CPU,0.5,IO,4") +
                           Record(R"(2,"USER","u2","HOST","h1")", "2,CPU,6,IO,5");
const std::vector<std::string> kInputAggregates = {"USER=u1 HOST=h1 | CPU=3.75 IO=4",
                                                   "USER=u2 HOST=h1 | CPU=10 IO=7",
                                                   "USER=u1 HOST=h2 | CPU=0.5 IO=4"};

// An output file from an earlier run.
const std::string kEarlierOutput = Record(R"(1,"USER","old")", "1,CPU,1", "20231231");

constexpr const char* kUsageFirstLine = "Usage: quaxaggregate [options] INPUT... OUTPUT\n";
constexpr const char* kUsageLastLine = "130 interrupted (Ctrl+C).\n";

class QuaxAggregateTool : public ::testing::Test {
 protected:
  ToolRun Run(const std::vector<std::string>& arguments, const std::string& standardInput = "") const {
    return RunQuaxAggregate(arguments, folder_, standardInput);
  }
  // Nothing but the named files is left in the scratch folder (no staged
  // output, no work file).
  std::vector<std::string> FilesBesides() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_.Path())) {
      const std::string name = entry.path().filename().string();
      if (name != "in.txt" && name != "out.txt" && !name.starts_with("quaxaggregate-std")) names.push_back(name);
    }
    return names;
  }
  static std::vector<std::string> Aggregates(const std::string& path) {
    std::vector<std::string> described;
    for (const ResourceRecord& record : ReadRecords(path)) described.push_back(Describe(record));
    return described;
  }
  static std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::ranges::sort(lines);
    return lines;
  }

  ScratchFolder folder_;
  std::string input_ = folder_.File("in.txt");
  std::string output_ = folder_.File("out.txt");
};

TEST_F(QuaxAggregateTool, SumsRecordsOfEqualKeysIntoTheReplacedOutput) {
  WriteText(input_, kInput);
  WriteText(output_, kEarlierOutput);
  const ToolRun run = Run({input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_EQ(run.Errors, "");
  EXPECT_EQ(run.Output,
            "Input Records: 5\n"
            "Output Records: 3\n"
            "Number of Aggregates: 3\n"
            "External Passes Count: 0\n"
            "External Passes Record Count: 0\n");
  EXPECT_EQ(Aggregates(output_), kInputAggregates);
}

TEST_F(QuaxAggregateTool, ExternalPassesGiveTheInMemoryAggregatesAndRemoveTheirWorkFiles) {
  WriteText(input_, kInput);
  const std::string inMemory = folder_.File("in-memory.txt");
  ASSERT_EQ(Run({input_, inMemory}).ExitCode, 0);
  const ToolRun run = Run({"--max-entries", "1", "--work-path", folder_.Path(), input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_NE(run.Output.find("Output Records: 3\n"), std::string::npos) << run.Output;
  EXPECT_NE(run.Output.find("External Passes Count: 2\n"), std::string::npos) << run.Output;
  EXPECT_EQ(Sorted(Aggregates(output_)), Sorted(Aggregates(inMemory)));
  EXPECT_EQ(Sorted(Aggregates(output_)), Sorted(kInputAggregates));
  EXPECT_EQ(folder_.WorkFiles(), std::vector<std::string>());
}

// Checked before any work: a run that would need work files late does not
// read its input first.
TEST_F(QuaxAggregateTool, AMissingWorkPathIsRefusedBeforeAnyWork) {
  WriteText(input_, kInput);
  WriteText(output_, kEarlierOutput);
  const std::string missingFolder = folder_.File("missing");
  const ToolRun run = Run({"--max-entries", "1", "--work-path", missingFolder, input_, output_});
  EXPECT_EQ(run.ExitCode, 16);
  EXPECT_EQ(run.Errors, "quaxaggregate: the work path '" + missingFolder + "' is not a folder\n");
  EXPECT_EQ(run.Output, "") << "no record was read";
  EXPECT_EQ(ReadText(output_), kEarlierOutput);
}

TEST_F(QuaxAggregateTool, DroppedIdentifierMergesTheRecordsItKeptApart) {
  WriteText(input_, kInput);
  const ToolRun run = Run({"--drop-identifier", "host", input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_EQ(Aggregates(output_),
            std::vector<std::string>({"USER=u1 | CPU=4.25 IO=8", "USER=u2 | CPU=10 IO=7"}));
}

TEST_F(QuaxAggregateTool, DroppedResourceIsLeftOutOfEveryRecord) {
  WriteText(input_, kInput);
  const ToolRun run = Run({"--drop-resource", "io", input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_EQ(Aggregates(output_),
            std::vector<std::string>({"USER=u1 HOST=h1 | CPU=3.75", "USER=u2 HOST=h1 | CPU=10",
                                      "USER=u1 HOST=h2 | CPU=0.5"}));
}

TEST_F(QuaxAggregateTool, ANameDroppedTwiceInAnyCaseIsDroppedOnce) {
  WriteText(input_, kInput);
  const ToolRun run = Run({"--drop-identifier", "host", "--drop-identifier", "HOST", "--drop-resource",
                           "io", "--drop-resource", "Io", input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_EQ(run.Errors, "");
  EXPECT_EQ(Aggregates(output_), std::vector<std::string>({"USER=u1 | CPU=4.25", "USER=u2 | CPU=10"}));
}

TEST_F(QuaxAggregateTool, AppendKeepsTheExistingOutputLines) {
  WriteText(input_, kInput);
  WriteText(output_, kEarlierOutput);
  const ToolRun run = Run({"--append", input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_EQ(ReadText(output_).rfind(kEarlierOutput, 0), 0u);
  std::vector<std::string> expected = {"USER=old | CPU=1"};
  expected.insert(expected.end(), kInputAggregates.begin(), kInputAggregates.end());
  EXPECT_EQ(Aggregates(output_), expected);
}

TEST_F(QuaxAggregateTool, DateAggregationNoneMergesRecordsOfDifferentDates) {
  WriteText(input_, Record(R"(1,"USER","u1")", "1,CPU,1", "20240131", "08:00:00,09:00:00") +
                        Record(R"(1,"USER","u1")", "1,CPU,2", "20240202", "10:00:00,11:00:00"));
  ASSERT_EQ(Run({input_, output_}).ExitCode, 0);
  EXPECT_EQ(ReadRecords(output_).size(), 2u) << "by default the dates are part of the key";

  const ToolRun run = Run({"--date-aggregation", "none", input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  const std::vector<ResourceRecord> records = ReadRecords(output_);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(Describe(records[0]), "USER=u1 | CPU=3");
  EXPECT_EQ(records[0].Start, testing::Day(2024, 1, 31, 8));
  EXPECT_EQ(records[0].End, testing::Day(2024, 2, 2, 11));
}

TEST_F(QuaxAggregateTool, CommandLineErrorsExitWith8AndTouchNothing) {
  WriteText(input_, kInput);
  WriteText(output_, kEarlierOutput);
  struct Case {
    std::vector<std::string> Arguments;
    std::string Message;
  };
  const std::vector<Case> cases = {
      {{"--frobnicate", input_, output_}, "quaxaggregate: unknown option --frobnicate (see --help)\n"},
      {{input_}, "quaxaggregate: name at least one input and the output file (see --help)\n"},
      {{"-", "-", output_}, "quaxaggregate: standard input (-) can be read only once\n"},
      {{input_, output_, "--work-path"}, "quaxaggregate: --work-path needs a value\n"},
      {{"--max-entries", "ten", input_, output_},
       "quaxaggregate: --max-entries wants a whole number, not 'ten'\n"},
      {{"--date-aggregation", "daily", input_, output_},
       "quaxaggregate: --date-aggregation wants none, start, end or both\n"},
      {{"--threads", "0", input_, output_}, "quaxaggregate: --threads wants a whole number from 1 to 64, not '0'\n"},
      {{"--threads", "65", input_, output_}, "quaxaggregate: --threads wants a whole number from 1 to 64, not '65'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Message);
    const ToolRun run = Run(c.Arguments);
    EXPECT_EQ(run.ExitCode, 8);
    EXPECT_EQ(run.Errors, c.Message);
    EXPECT_EQ(run.Output, "");
    EXPECT_EQ(ReadText(output_), kEarlierOutput);
  }
}

TEST_F(QuaxAggregateTool, InputNamedAsOutputExitsWith8AndKeepsTheInput) {
  const std::string otherSpelling = (std::filesystem::path(folder_.Path()) / "." / "in.txt").string();
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{input_, input_}, {"--append", folder_.File("other.txt"), input_, otherSpelling}}) {
    SCOPED_TRACE(arguments.back());
    WriteText(input_, kInput);
    const ToolRun run = Run(arguments);
    EXPECT_EQ(run.ExitCode, 8);
    EXPECT_EQ(run.Errors, "quaxaggregate: " + arguments.back() + " is both an input and the output\n");
    EXPECT_EQ(ReadText(input_), kInput);
  }
}

TEST_F(QuaxAggregateTool, MissingInputExitsWith16AndLeavesTheOutputAlone) {
  WriteText(output_, kEarlierOutput);
  const ToolRun run = Run({input_, output_});
  EXPECT_EQ(run.ExitCode, 16);
  EXPECT_EQ(run.Errors.rfind("quaxaggregate: Unable to open input file '" + input_ + "': ", 0), 0u)
      << run.Errors;
  EXPECT_EQ(ReadText(output_), kEarlierOutput);
}

// The aggregates written before the bad line (a change of layout flushes
// them) never reach the output: replaced or appended to, it stays as it was,
// and nothing is left beside it.
TEST_F(QuaxAggregateTool, UnreadableRecordLineExitsWith16AndLeavesTheOutputAlone) {
  WriteText(input_, Record(R"(1,"USER","u1")", "1,CPU,1") + Record(R"(1,"HOST","h1")", "1,CPU,2") +
                        "A,20240131,broken\r\n");
  for (const bool append : {false, true}) {
    WriteText(output_, kEarlierOutput);
    std::vector<std::string> arguments = {input_, output_};
    if (append) arguments.insert(arguments.begin(), "--append");
    const ToolRun run = Run(arguments);
    EXPECT_EQ(run.ExitCode, 16);
    EXPECT_EQ(run.Errors.rfind("quaxaggregate: Unreadable resource record at line 3 of '" + input_ + "': ", 0),
              0u)
        << run.Errors;
    EXPECT_EQ(ReadText(output_), kEarlierOutput) << (append ? "--append" : "replace");
    for (const auto& entry : std::filesystem::directory_iterator(folder_.Path())) {
      EXPECT_FALSE(entry.path().filename().string().starts_with("out.txt.")) << entry.path();
    }
  }
}

TEST_F(QuaxAggregateTool, HelpPrintsTheUsageAndRunsNothing) {
  WriteText(input_, kInput);
  const ToolRun run = Run({"--help", input_, output_});
  EXPECT_EQ(run.ExitCode, 0);
  EXPECT_EQ(run.Errors, "");
  EXPECT_EQ(run.Output.rfind(kUsageFirstLine, 0), 0u) << run.Output;
  EXPECT_TRUE(run.Output.ends_with(kUsageLastLine)) << run.Output;
  EXPECT_FALSE(std::filesystem::exists(output_));
  EXPECT_EQ(Run({"-h"}).Output, run.Output);
}

TEST_F(QuaxAggregateTool, DebugCountersAddTheInternalStatistics) {
  WriteText(input_, kInput);
  const ToolRun run = Run({"--debug-counters", "--max-entries", "2", input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_EQ(run.Output.rfind("Input Records: 5\n", 0), 0u) << run.Output;
  EXPECT_NE(run.Output.find("\n\nInternal Statistics:\n\tProcessing Time -- Total: "), std::string::npos)
      << run.Output;
  EXPECT_NE(run.Output.find("\n\tMax Aggregation Entries Allowed: 2\n"), std::string::npos) << run.Output;
}


// Each field the forgiving reading would change stops a strict run at its
// line and field, with nothing written; --lenient reads it the old way.
TEST_F(QuaxAggregateTool, MalformedFieldsStopTheRunUnlessLenient) {
  struct Case {
    std::string Line;
    std::string Fault;  // the end of the message
    std::string Lenient;  // the record read the forgiving way
  };
  const std::vector<Case> cases = {
      {Record(R"(1,"USER","u1")", "1,CPU,1", "2026-12-01"),
       "the start date '2026-12-01' (field 2) is not a calendar date YYYYMMDD", "20251029"},
      {Record(R"(1,"USER","u1")", "1,CPU,1", "20261301"),
       "the start date '20261301' (field 2) is not a calendar date YYYYMMDD", "20270101"},
      {Record(R"(1,"USER","u1")", "1,CPU,1", "20240131", "25:00:00,09:00:00"),
       "the start time '25:00:00' (field 4) is not a time of day HH:MM:SS", "20240201"},
      {Record(R"(1,"USER","u1")", "1,CPU,1e3"),
       "the resource value '1e3' (field 12) is not a plain decimal number", "CPU=13"},
      {Record(R"(1,"USER","u1")", "1,CPU,1.2.3"),
       "the resource value '1.2.3' (field 12) is not a plain decimal number", "CPU=1.23"},
      {Record(R"(1,"USER","u1")", "1,CPU,abc"),
       "the resource value 'abc' (field 12) is not a plain decimal number", ""},
      {Record(R"(1,"USER","u1")", "1,CPU,1,IO"),
       "the line has 13 fields where its counts announce 12", "CPU=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Line);
    WriteText(input_, Record(R"(1,"USER","u0")", "1,CPU,5") + c.Line);
    WriteText(output_, kEarlierOutput);
    const ToolRun strict = Run({input_, output_});
    EXPECT_EQ(strict.ExitCode, 16);
    EXPECT_EQ(strict.Errors, "quaxaggregate: Unreadable resource record at line 2 of '" + input_ + "': " +
                                 c.Fault + "\n");
    EXPECT_EQ(ReadText(output_), kEarlierOutput);
    EXPECT_EQ(FilesBesides(), std::vector<std::string>());

    const ToolRun lenient = Run({"--lenient", input_, output_});
    EXPECT_EQ(lenient.ExitCode, 0) << lenient.Errors;
    const std::string written = ReadText(output_);
    if (c.Lenient.empty()) {  // read as 0: the all-zero record is not written
      EXPECT_EQ(ReadRecords(output_).size(), 1u) << written;
    } else if (c.Lenient.starts_with("CPU=")) {
      EXPECT_EQ(Aggregates(output_).back(), "USER=u1 | " + c.Lenient) << written;
    } else {
      EXPECT_NE(written.find("," + c.Lenient + ","), std::string::npos) << written;
    }
  }
}

TEST_F(QuaxAggregateTool, AnOutputThatIsNoResourceRecordFileIsLeftAloneWithoutForce) {
  const std::string processLog =
      "RecordType\tProcessId\tParentProcessId\r\nE\t4242\t4\r\n";
  WriteText(input_, kInput);
  for (const bool append : {false, true}) {
    SCOPED_TRACE(append ? "--append" : "replace");
    WriteText(output_, processLog);
    std::vector<std::string> arguments = {input_, output_};
    if (append) arguments.insert(arguments.begin(), "--append");
    const ToolRun run = Run(arguments);
    EXPECT_EQ(run.ExitCode, 16);
    EXPECT_EQ(run.Errors, "quaxaggregate: '" + output_ +
                              "' exists and is not a resource record file; it is left as it is (--force replaces it)\n");
    EXPECT_EQ(run.Output, "");
    EXPECT_EQ(ReadText(output_), processLog);
    EXPECT_EQ(FilesBesides(), std::vector<std::string>());
  }
  const ToolRun forced = Run({"--force", input_, output_});
  EXPECT_EQ(forced.ExitCode, 0) << forced.Errors;
  EXPECT_EQ(Aggregates(output_), kInputAggregates);

  WriteText(output_, "");  // an empty file holds nothing to lose
  EXPECT_EQ(Run({input_, output_}).ExitCode, 0);
  EXPECT_EQ(Aggregates(output_), kInputAggregates);
}

// The messages name the user's file, never the staged one beside it.
TEST_F(QuaxAggregateTool, AnOutputInAMissingFolderIsRefusedNamingTheOutput) {
  WriteText(input_, kInput);
  const std::string missingFolder = folder_.File("missing");
  const std::string output = (std::filesystem::path(missingFolder) / "out.txt").string();
  const ToolRun run = Run({input_, output});
  EXPECT_EQ(run.ExitCode, 16);
  EXPECT_EQ(run.Errors,
            "quaxaggregate: cannot write '" + output + "': its folder '" + missingFolder + "' does not exist\n");
  const ToolRun intoFolder = Run({input_, folder_.Path()});
  EXPECT_EQ(intoFolder.ExitCode, 16);
  EXPECT_EQ(intoFolder.Errors.find(".partial"), std::string::npos) << intoFolder.Errors;
}

TEST_F(QuaxAggregateTool, SeveralInputsAndStandardInputAreSummedInOneRun) {
  const std::string second = folder_.File("second.txt");
  const std::string piped = folder_.File("piped.txt");
  WriteText(input_, Record(R"(1,"USER","u1")", "1,CPU,1") + Record(R"(1,"USER","u2")", "1,CPU,2"));
  WriteText(second, Record(R"(1,"USER","u1")", "1,CPU,10"));
  WriteText(piped, Record(R"(1,"USER","u2")", "1,CPU,20") + Record(R"(1,"USER","u3")", "1,CPU,0.5"));
  const ToolRun run = Run({input_, "-", second, output_}, piped);
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_EQ(run.Output.rfind("Input Records: 5\nOutput Records: 3\n", 0), 0u) << run.Output;
  EXPECT_EQ(Aggregates(output_), std::vector<std::string>({"USER=u1 | CPU=11", "USER=u2 | CPU=22",
                                                           "USER=u3 | CPU=0.5"}));

  // A bad line is reported with the input that holds it.
  WriteText(piped, "A,20240131,broken\r\n");
  const ToolRun bad = Run({input_, "-", output_}, piped);
  EXPECT_EQ(bad.ExitCode, 16);
  EXPECT_EQ(bad.Errors.rfind("quaxaggregate: Unreadable resource record at line 1 of '-': ", 0), 0u) << bad.Errors;
}

TEST_F(QuaxAggregateTool, DashAsOutputWritesTheAggregatesToStandardOutput) {
  WriteText(input_, kInput);
  const ToolRun run = Run({input_, "-"});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  WriteText(output_, run.Output);
  EXPECT_EQ(Aggregates(output_), kInputAggregates);
  EXPECT_EQ(run.Errors.rfind("Input Records: 5\n", 0), 0u) << "the results go to standard error";
  EXPECT_EQ(FilesBesides(), std::vector<std::string>());
}

TEST_F(QuaxAggregateTool, DropNamesThatMatchNothingAreReportedAtTheEnd) {
  WriteText(input_, kInput);
  const ToolRun run = Run({"--drop-identifier", "NOSUCH", "--drop-identifier", "host", "--drop-resource",
                           "Disk", input_, output_});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_EQ(run.Errors,
            "quaxaggregate: warning: --drop-identifier NOSUCH matched no identifier of the input\n"
            "quaxaggregate: warning: --drop-resource Disk matched no resource of the input\n");
  EXPECT_EQ(Aggregates(output_), std::vector<std::string>({"USER=u1 | CPU=4.25 IO=8", "USER=u2 | CPU=10 IO=7"}));
}

// P u, Q x, P u: one aggregate of P u, wherever its records stand, in the
// order of first records. Equal identifier values under another name are
// another aggregate; a sum beyond 99,999,999,999 takes several records.
TEST_F(QuaxAggregateTool, RecordsOfOneKeyAreSummedWhereverTheyStandAtAnyThreadCount) {
  const std::string day = "20240131";
  WriteText(input_, Record(R"(1,"USER","u1")", "1,CPU,1") + "B" + Record(R"(1,"HOST","x")", "1,CPU,2").substr(1) +
                        "A,20240131,20240201,07:00:00,10:00:00,,1,\"USER\",\"u1\",1,CPU,4\r\n" +
                        Record(R"(1,"HOST","u1")", "1,CPU,8") +
                        "B" + Record(R"(1,"HOST","x")", "1,CPU,60000000000").substr(1) +
                        "B" + Record(R"(1,"HOST","x")", "1,CPU,60000000000").substr(1));
  const std::string expected =
      "A,20240131,20240201,07:00:00,10:00:00,,1,\"USER\",\"u1\",1,CPU,5\r\n"
      "B,20240131,20240131,08:00:00,09:00:00,,1,\"HOST\",\"x\",1,CPU,99999999999\r\n"
      "B,20240131,20240131,08:00:00,09:00:00,,1,\"HOST\",\"x\",1,CPU,20000000003\r\n"
      "A,20240131,20240131,08:00:00,09:00:00,,1,\"HOST\",\"u1\",1,CPU,8\r\n";
  for (const char* threads : {"1", "2", "7"}) {
    SCOPED_TRACE(threads);
    const ToolRun run = Run({"--threads", threads, "--date-aggregation", "start", input_, output_});
    EXPECT_EQ(run.ExitCode, 0) << run.Errors;
    EXPECT_EQ(ReadText(output_), expected);
  }
}

// Generated records of several layouts in two files and standard input:
// the same bytes, and the same first error, at every thread count.
TEST_F(QuaxAggregateTool, ThreadCountsGiveTheSameOutputAndTheSameFirstError) {
  std::string texts[3];
  for (int r = 0; r < 6000; ++r) {
    const int key = (r * 7919) % 1500;
    const std::string value = std::to_string(r % 97) + "." + std::to_string(100000000 + r * 31).substr(1, r % 10);
    const std::string identifiers = key % 3 == 0 ? "2,\"USER\",\"u" + std::to_string(key) + "\",\"HOST\",\"h\""
                                    : key % 3 == 1 ? "1,\"USER\",\"u" + std::to_string(key) + "\""
                                                   : "1,\"HOST\",\"u" + std::to_string(key) + "\"";
    texts[r % 3] += Record(identifiers, "2,CPU," + value + ",IO," + std::to_string(r),
                           "2024013" + std::to_string(r / 1500 % 2));
  }
  const std::string second = folder_.File("second.txt");
  const std::string piped = folder_.File("piped.txt");
  WriteText(input_, texts[0]);
  WriteText(second, texts[1]);
  WriteText(piped, texts[2]);
  std::string first;
  for (const char* threads : {"1", "2", "7"}) {
    SCOPED_TRACE(threads);
    const ToolRun run = Run({"--threads", threads, input_, "-", second, output_}, piped);
    EXPECT_EQ(run.ExitCode, 0) << run.Errors;
    EXPECT_EQ(run.Output.rfind("Input Records: 6000\n", 0), 0u) << run.Output;
    if (first.empty()) first = ReadText(output_);
    else EXPECT_TRUE(ReadText(output_) == first) << "the output differs from that of one thread";
  }
  EXPECT_EQ(ReadRecords(output_).size(), 3000u);

  WriteText(piped, texts[2] + Record(R"(1,"USER","u1")", "1,CPU,1e3"));
  WriteText(second, Record(R"(1,"USER","u1")", "1,CPU,1", "20241301") + texts[1]);
  for (const char* threads : {"1", "2", "7"}) {
    SCOPED_TRACE(threads);
    const ToolRun run = Run({"--threads", threads, input_, "-", second, output_}, piped);
    EXPECT_EQ(run.ExitCode, 16);
    EXPECT_EQ(run.Errors, "quaxaggregate: Unreadable resource record at line 2001 of '-': the resource value '1e3' "
                          "(field 12) is not a plain decimal number\n");
    EXPECT_TRUE(ReadText(output_) == first);
  }
}

// Every refusal names the file, line and field; a failed run shows no
// counts, as it wrote nothing.
TEST_F(QuaxAggregateTool, RefusedRecordsAreNamedByFileLineAndFieldAndNothingIsCounted) {
  struct Case {
    std::vector<std::string> Options;
    std::string Line;
    std::string Reason;
  };
  const std::vector<Case> cases = {
      {{}, Record("0", "1,CPU,1"), "it has no identifiers (field 7 is 0)"},
      {{"--drop-identifier", "user"}, Record(R"(1,"USER","u1")", "1,CPU,1"),
       "its only identifier 'USER' (field 8) is left out by --drop-identifier"},
      {{}, Record(R"(1,"USER","u1")", "0"), "it has no resources (field 10 is 0)"},
      {{"--drop-resource", "CPU", "--drop-resource", "io"}, Record(R"(1,"USER","u1")", "2,CPU,1,IO,2"),
       "every resource it has (rate codes in fields 11 to 13) is left out by --drop-resource"},
      {{}, Record(R"(1,"USER","u1")", "1,CPU,1000000000000000"),
       "the resource value '1000000000000000' for 'CPU' (field 12) would make its aggregate need more than "
       "10000 output records of at most 99999999999"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Reason);
    WriteText(input_, Record(R"(2,"HOST","h1","USER","u1")", "3,CPU,1,IO,1,MEM,1") + c.Line);
    WriteText(output_, kEarlierOutput);
    std::vector<std::string> arguments = c.Options;
    arguments.insert(arguments.end(), {input_, output_});
    const ToolRun run = Run(arguments);
    EXPECT_EQ(run.ExitCode, 16);
    EXPECT_EQ(run.Errors, "quaxaggregate: Refused resource record at line 2 of '" + input_ + "': " + c.Reason + "\n");
    EXPECT_EQ(run.Output, "");
    EXPECT_EQ(ReadText(output_), kEarlierOutput);
  }
}

// A benchmark program checks its arguments before it allocates by them.
TEST_F(QuaxAggregateTool, TheRecordFileBenchmarkRefusesArgumentsItCannotUse) {
  for (const std::string bad : {"-5", "0", "ten", "100000001"}) {
    SCOPED_TRACE(bad);
    const ToolRun run = testing::RunTool("aggregation_bench", {bad}, folder_);
    EXPECT_EQ(run.ExitCode, 8);
    EXPECT_EQ(run.Errors, "aggregation_bench: the record count must be a whole number from 1 to 100000000, not '" +
                              bad + "'\n");
    EXPECT_EQ(run.Output, "");
  }
}

#ifndef _WIN32
// /dev/fd/1 (like /dev/stdout) names standard output even when that is a
// regular file: it is written into, never replaced. (/dev/fd/1 rather than
// /dev/stdout: a tool that replaced the path would fail in /proc instead of
// replacing the machine's /dev/stdout.)
TEST_F(QuaxAggregateTool, ADeviceAsOutputIsWrittenIntoNotReplaced) {
  WriteText(input_, kInput);
  const ToolRun run = Run({input_, "/dev/fd/1"});
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  WriteText(output_, run.Output);
  EXPECT_EQ(Aggregates(output_), kInputAggregates);
  EXPECT_EQ(run.Errors.rfind("Input Records: 5\n", 0), 0u) << "the results go to standard error";
}

// Work files lie in the work path while the run needs them and are gone
// after Ctrl+C, with the staged output; OUTPUT stays as it was.
TEST_F(QuaxAggregateTool, CtrlCRemovesWorkFilesAndTheStagedOutputAndExits130) {
  WriteText(output_, kEarlierOutput);
  testing::RunningTool tool("quaxaggregate", {"--max-entries", "1", "--work-path", folder_.Path(), "-", output_},
                            folder_);
  std::string records;
  for (int user = 0; user < 50; ++user) {
    records += Record("1,\"USER\",\"u" + std::to_string(user) + "\"", "1,CPU,1");
  }
  tool.Write(records);
  bool workFilesSeen = false;
  for (int tries = 0; tries < 400 && !workFilesSeen; ++tries) {
    workFilesSeen = !folder_.WorkFiles().empty();
    if (!workFilesSeen) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  EXPECT_TRUE(workFilesSeen) << "no work file in the work path";
  tool.Interrupt();
  tool.CloseInput();
  const ToolRun run = tool.Wait();
  EXPECT_EQ(run.ExitCode, 130);
  EXPECT_EQ(run.Errors, "quaxaggregate: interrupted; " + output_ + " is as it was\n");
  EXPECT_EQ(ReadText(output_), kEarlierOutput);
  EXPECT_EQ(FilesBesides(), std::vector<std::string>());
}

TEST_F(QuaxAggregateTool, AProgressLineGoesToATerminalUnlessQuiet) {
  WriteText(input_, kInput);
  const ToolRun shown = testing::RunToolOnTerminal("quaxaggregate", {input_, output_}, folder_);
  EXPECT_EQ(shown.ExitCode, 0);
  EXPECT_NE(shown.Errors.find("\rpass 1: 5 records read, "), std::string::npos) << shown.Errors;
  EXPECT_NE(shown.Errors.find(" records/s"), std::string::npos) << shown.Errors;
  EXPECT_EQ(shown.Output.rfind("Input Records: 5\n", 0), 0u);

  const ToolRun passes = testing::RunToolOnTerminal(
      "quaxaggregate", {"--max-entries", "1", "--work-path", folder_.Path(), input_, output_}, folder_);
  EXPECT_NE(passes.Errors.find("\rpass 3: 0 records read"), std::string::npos) << passes.Errors;

  const ToolRun quiet = testing::RunToolOnTerminal("quaxaggregate", {"--quiet", input_, output_}, folder_);
  EXPECT_EQ(quiet.ExitCode, 0);
  EXPECT_EQ(quiet.Errors, "");
  EXPECT_EQ(quiet.Output, "");
  EXPECT_EQ(Aggregates(output_), kInputAggregates);
}
#endif

}  // namespace
}  // namespace quax::agg
