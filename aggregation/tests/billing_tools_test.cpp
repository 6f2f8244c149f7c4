// quaxlog2rr and quaxbill, the real programs, on process logs with known
// usage: from the logs to a bill in three commands, standard streams, the
// report, and outputs they must not replace.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "process_log_builder.h"
#include "report_page.h"
#include "tool_runner.h"

namespace quax::agg {
namespace {

using testing::LogFiles;
using testing::ReadText;
using testing::RunTool;
using testing::ScratchFolder;
using testing::SimulatedProcess;
using testing::ToolRun;
using testing::WriteText;

// The worked example's usage, day by day, in seconds.
constexpr const char* kDailyBill =
    "Period,User,Project,CPU seconds,Kernel seconds,User seconds,Elapsed seconds,KB read,KB written\n"
    "2026-12-08,CORP\\alice,Apollo,5.25,3.50,1.75,14400.00,100,7\n"
    "2026-12-08,CORP\\bob,Zeus,5.00,3.25,1.75,3600.00,512,64\n"
    "2026-12-09,CORP\\alice,Apollo,15.00,10.00,5.00,7200.00,1000,0\n"
    "2026-12-09,CORP\\carol,Hermes,40.00,30.00,10.00,7200.00,4096,1024\n"
    "Total,,,65.25,46.75,18.50,32400.00,5708,1095\n";

constexpr const char* kReport =
    "Records read: 8\n"
    "Records written: 6\n"
    "Records skipped: 2\n"
    "  2 end records of processes billed by their start and interval records\n"
    "Conservation: 2 processes checked, 0 mismatches\n";

// Departments and prices on the worked example (docs/billing.md), figured by
// hand: 18 per CPU hour (0.005 a second) and 0.50 per elapsed hour; carol
// is in no department. bob's 0.025 of CPU rounds up to 0.03.
constexpr const char* kDepartments = "User,Department\r\nCORP\\alice,Research\r\nCORP\\bob,Sales\r\n";
constexpr const char* kRates = "RateCode,Price,Per\r\nCPUSEC,18,3600\r\nELAPSSEC,0.50,3600\r\n";
constexpr const char* kDepartmentBill =
    "Period,Department,CPU hours,Kernel hours,User hours,Elapsed hours,KB read,KB written,CPU cost,Elapsed cost,"
    "Total cost\n"
    "2026-12,(unassigned),0.0111,0.0083,0.0028,2.0000,4096,1024,0.20,1.00,1.20\n"
    "2026-12,Research,0.0056,0.0038,0.0019,6.0000,1100,7,0.10,3.00,3.10\n"
    "2026-12,Sales,0.0014,0.0009,0.0005,1.0000,512,64,0.03,0.50,0.53\n"
    "Total,,0.0181,0.0130,0.0051,9.0000,5708,1095,0.33,4.50,4.83\n";

std::string WithoutCarriageReturns(std::string text) {
  std::erase(text, '\r');
  return text;
}

class BillingTools : public ::testing::Test {
 protected:
  BillingTools() {
    for (const auto& [file, text] : logs_.Files()) {
      const std::string path = folder_.File(file.first + "-QUAXProcessLog-" + file.second + ".txt");
      WriteText(path, text);
      logPaths_.push_back(path);
    }
  }
  ToolRun Run(const std::string& tool, const std::vector<std::string>& arguments,
              const std::string& standardInput = "") const {
    return RunTool(tool, arguments, folder_, standardInput);
  }
  // The logs into usage_.
  ToolRun Convert() const {
    std::vector<std::string> convert = logPaths_;
    convert.push_back(usage_);
    return Run("quaxlog2rr", convert);
  }

  ScratchFolder folder_;
  LogFiles logs_ = testing::WorkedExampleLogs();
  std::vector<std::string> logPaths_;  // each machine's in date order
  std::string usage_ = folder_.File("usage.txt");
  std::string sums_ = folder_.File("sums.txt");
  std::string bill_ = folder_.File("bill.csv");
};

TEST_F(BillingTools, ThreeCommandsTurnADaysLogsIntoABill) {
  const ToolRun converted = Convert();
  EXPECT_EQ(converted.ExitCode, 0) << converted.Errors;
  EXPECT_EQ(converted.Output, kReport);
  EXPECT_EQ(converted.Errors, "");

  const ToolRun aggregated =
      Run("quaxaggregate", {"--drop-identifier", "Machine", "--drop-identifier", "Process", usage_, sums_});
  EXPECT_EQ(aggregated.ExitCode, 0) << aggregated.Errors;
  EXPECT_EQ(aggregated.Output.rfind("Input Records: 6\n", 0), 0u) << aggregated.Output;

  const ToolRun billed = Run("quaxbill", {"--period", "day", "--unit", "seconds", sums_, bill_});
  EXPECT_EQ(billed.ExitCode, 0) << billed.Errors;
  EXPECT_EQ(billed.Output + billed.Errors, "");
  EXPECT_EQ(WithoutCarriageReturns(ReadText(bill_)), kDailyBill);
  EXPECT_NE(ReadText(bill_).find("\r\n"), std::string::npos) << "CSV lines end in CR LF";

  // In hours (the default), each figure and the total rounded to 4 places.
  const ToolRun monthly = Run("quaxbill", {"--by", "project", sums_, "-"});
  EXPECT_EQ(monthly.ExitCode, 0) << monthly.Errors;
  EXPECT_EQ(monthly.Output,
            "Period,project,CPU hours,Kernel hours,User hours,Elapsed hours,KB read,KB written\n"
            "2026-12,Apollo,0.0056,0.0038,0.0019,6.0000,1100,7\n"
            "2026-12,Hermes,0.0111,0.0083,0.0028,2.0000,4096,1024\n"
            "2026-12,Zeus,0.0014,0.0009,0.0005,1.0000,512,64\n"
            "Total,,0.0181,0.0130,0.0051,9.0000,5708,1095\n");
}

// Logs joined into one stream keep their header records; standard output
// takes the records and the report goes to standard error.
TEST_F(BillingTools, StandardInputAndOutputCarryLogsRecordsAndBills) {
  std::string joined;
  for (const std::string& path : logPaths_) joined += ReadText(path);
  const std::string joinedPath = folder_.File("joined.txt");
  WriteText(joinedPath, joined);
  const ToolRun converted = Run("quaxlog2rr", {"-", "-"}, joinedPath);
  EXPECT_EQ(converted.ExitCode, 0) << converted.Errors;
  EXPECT_EQ(converted.Errors, kReport);
  WriteText(usage_, converted.Output);
  EXPECT_EQ(testing::ReadRecords(usage_).size(), 6u);

  ASSERT_EQ(Run("quaxaggregate", {"--quiet", usage_, sums_}).ExitCode, 0);
  const ToolRun billed = Run("quaxbill", {"--period", "day", "--unit", "seconds", "-", bill_}, sums_);
  EXPECT_EQ(billed.ExitCode, 0) << billed.Errors;
  EXPECT_EQ(WithoutCarriageReturns(ReadText(bill_)), kDailyBill);
}

// A lost record and a torn line: the bill is written, the run says that it
// is incomplete and lists why (exit 4); with --strict nothing is written.
TEST_F(BillingTools, AnIncompleteBillIsWrittenWithExit4OrRefusedWithStrict) {
  // The midnight interval record of the night job (line 2 of HOST1's
  // second day) is lost, and a torn line follows.
  const std::string day2 = folder_.File("HOST1-QUAXProcessLog-20261209.txt");
  std::string text = ReadText(day2);
  const std::size_t second = text.find('\n') + 1;
  text.erase(second, text.find('\n', second) + 1 - second);
  WriteText(day2, text + "I\t4242\r\n");
  const std::vector<std::string> arguments = {folder_.File("HOST1-QUAXProcessLog-20261208.txt"), day2, usage_};
  const ToolRun run = Run("quaxlog2rr", arguments);
  EXPECT_EQ(run.ExitCode, 4);
  const std::string report =
      "Records read: 4\n"
      "Records written: 2\n"
      "Records skipped: 1\n"
      "  1 end records of processes billed by their start and interval records\n"
      "Conservation: 1 processes checked, 1 mismatches\n"
      "  " + day2 + ":3: HOST1 process 4242 (nightly.exe, created 20261208 20:00:00.125): CPU seconds 15.75 in "
      "start and interval records, 20.25 in the end record; kernel seconds 10.5 in start and interval records, "
      "13.5 in the end record; user seconds 5.25 in start and interval records, 6.75 in the end record; KB read "
      "1000 in start and interval records, 1100 in the end record; KB written 0 in start and interval records, "
      "7 in the end record\n"
      "Lines not billed: 1\n"
      "  1 lines whose field count differs from the header's\n"
      "  " + day2 + ":4: 2 fields, where its header has 32\n";
  EXPECT_EQ(run.Output, report);
  EXPECT_EQ(run.Errors, "quaxlog2rr: '" + usage_ +
                            "' written, but the bill is incomplete: 1 line not billed, 1 conservation mismatch (see "
                            "the report)\n");
  EXPECT_EQ(testing::ReadRecords(usage_).size(), 2u);

  const std::string before = ReadText(usage_);
  std::vector<std::string> strict = arguments;
  strict.insert(strict.begin(), "--strict");
  const ToolRun refused = Run("quaxlog2rr", strict);
  EXPECT_EQ(refused.ExitCode, 16);
  EXPECT_EQ(refused.Output, report.substr(0, report.find("Records written")) +
                                "Records written: none (--strict refuses an incomplete bill)\n" +
                                report.substr(report.find("Records skipped")));
  EXPECT_EQ(refused.Errors, "quaxlog2rr: the bill is incomplete (1 line not billed, 1 conservation mismatch); "
                            "--strict: nothing written, '" + usage_ + "' is as it was\n");
  EXPECT_EQ(ReadText(usage_), before);

  // Logs that hold no usage record at all: reported, exit 4.
  const std::string empty = folder_.File("QUAXProcessLog-20261210.txt");
  WriteText(empty, "");
  const ToolRun nothing = Run("quaxlog2rr", {empty, "-"});
  EXPECT_EQ(nothing.ExitCode, 4);
  EXPECT_NE(nothing.Errors.find("Inputs without any usage record: 1\n  '" + empty + "' holds no usage record\n"),
            std::string::npos)
      << nothing.Errors;
}

// The trial's findings: the same log given twice billed everything twice,
// and logs given newest first moved usage to another day.
TEST_F(BillingTools, LogsGivenTwiceOrInAnyOrderGiveTheSameRecords) {
  std::vector<std::string> inOrder = logPaths_;
  inOrder.push_back(usage_);
  ASSERT_EQ(Run("quaxlog2rr", inOrder).ExitCode, 0);
  std::vector<std::string> twiceReversed(logPaths_.rbegin(), logPaths_.rend());
  twiceReversed.insert(twiceReversed.end(), logPaths_.begin(), logPaths_.end());
  twiceReversed.push_back(sums_);
  const ToolRun run = Run("quaxlog2rr", twiceReversed);
  EXPECT_EQ(run.ExitCode, 0) << run.Errors;
  EXPECT_EQ(ReadText(sums_), ReadText(usage_));
  EXPECT_EQ(run.Output,
            "Records read: 16\n"
            "Records written: 6\n"
            "Records skipped: 10\n"
            "  2 end records of processes billed by their start and interval records\n"
            "  8 records read more than once (billed once)\n"
            "Conservation: 2 processes checked, 0 mismatches\n");
}

// A share as the collectors fill it: one folder per machine, daily files.
// A folder gives the files of --from/--to and the day after; usage whose
// period ends in the range is billed, the system's accounts as EXCLUDED.
TEST_F(BillingTools, FoldersOfMachinesGiveTheirDailyLogsOfTheRange) {
  const std::string share = folder_.File("share");
  for (const auto& [file, text] : logs_.Files()) {
    std::filesystem::create_directories(share + "/" + file.first);
    WriteText(share + "/" + file.first + "/QUAXProcessLog-" + file.second + ".txt", text);
  }
  LogFiles system;
  SimulatedProcess service("HOST3", 4, "NT AUTHORITY\\SYSTEM", "", "svchost.exe", 600);
  service.Use(1, 1);
  service.Exit(660);
  system.Write(RecordType::End, service);
  WriteText(share + "/HOST3/quaxprocesslog-20261208.txt", system.File("HOST3", "20261208"));
  WriteText(share + "/HOST3/QUAXProcessLog-20261208.txt.bak", "not a log");
  WriteText(share + "/HOST1/QUAXProcessLog-20261207.txt", "day before the range: not read");
  std::filesystem::create_directories(share + "/archive");

  const ToolRun day = Run("quaxlog2rr", {"--from", "2026-12-08", "--to", "2026-12-08", share, usage_});
  EXPECT_EQ(day.ExitCode, 0) << day.Errors;
  EXPECT_EQ(day.Output,
            "Records read: 9\n"
            "Records written: 4\n"
            "Records of excluded users (written as EXCLUDED): 1\n"
            "Records skipped: 4\n"
            "  2 end records of processes billed by their start and interval records\n"
            "  2 records outside --from/--to\n"
            "Conservation: 2 processes checked, 0 mismatches\n");
  const std::vector<ResourceRecord> records = testing::ReadRecords(usage_);
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(std::count_if(records.begin(), records.end(),
                          [](const ResourceRecord& r) { return r.Header == "EXCLUDED"; }),
            1);

  const ToolRun all = Run("quaxlog2rr", {"--include-all", "--from", "2026-12-08", "--to", "2026-12-08", share, usage_});
  EXPECT_EQ(all.ExitCode, 0) << all.Errors;
  EXPECT_EQ(all.Output.rfind("Records read: 9\nRecords written: 5\nRecords skipped: 4\n", 0), 0u) << all.Output;

  // A folder without the days asked for, or without any log, bills nothing
  // from it and says so.
  const auto in = [&share](const char* name) { return (std::filesystem::path(share) / name).string(); };
  const ToolRun later = Run("quaxlog2rr", {"--from", "2027-01-01", share, in("archive"), "-"});
  EXPECT_EQ(later.ExitCode, 4);
  for (const std::string& line : {"  the folder '" + in("HOST1") + "' holds no log of the days asked for\n",
                                  "  the folder '" + share + "' holds no log of the days asked for\n",
                                  "  the folder '" + in("archive") + "' holds no daily log (QUAXProcessLog-YYYYMMDD.txt)\n"}) {
    EXPECT_NE(later.Errors.find(line), std::string::npos) << line << later.Errors;
  }
}

#ifdef _WIN32
// cmd.exe hands "*" and "?" to the program: the Windows tools expand them,
// in sorted order, and say which pattern matched nothing.
TEST_F(BillingTools, TheWindowsToolsExpandWildcardsInTheirInputs) {
  const std::string share = folder_.File("share");
  for (const auto& [file, text] : logs_.Files()) {
    std::filesystem::create_directories(share + "\\" + file.first);
    WriteText(share + "\\" + file.first + "\\QUAXProcessLog-" + file.second + ".txt", text);
  }
  const ToolRun converted = Run("quaxlog2rr", {share + "\\HOST*\\QUAXProcessLog-*.txt", usage_});
  EXPECT_EQ(converted.ExitCode, 0) << converted.Errors;
  EXPECT_EQ(converted.Output, kReport);
  const ToolRun aggregated = Run("quaxaggregate", {"--quiet", folder_.File("usag?.t*"), sums_});
  EXPECT_EQ(aggregated.ExitCode, 0) << aggregated.Errors;
  const ToolRun billed = Run("quaxbill", {"--period", "day", "--unit", "seconds", folder_.File("SUMS.*"), bill_});
  EXPECT_EQ(billed.ExitCode, 0) << billed.Errors;
  EXPECT_EQ(WithoutCarriageReturns(ReadText(bill_)), kDailyBill);

  const std::string nothing = share + "\\HOST9*\\*.txt";
  const std::string tooLong = folder_.File(std::string(280, 'a') + ".txt");
  for (const char* tool : {"quaxlog2rr", "quaxaggregate", "quaxbill"}) {
    const ToolRun unmatched = Run(tool, {nothing, folder_.File("out.txt")});
    EXPECT_EQ(unmatched.ExitCode, 8) << tool;
    EXPECT_EQ(unmatched.Errors, std::string(tool) + ": no file matches '" + nothing + "'\n");
    const ToolRun deep = Run(tool, {tooLong, folder_.File("out.txt")});
    EXPECT_EQ(deep.ExitCode, 8) << tool;
    EXPECT_NE(deep.Errors.find("characters long as a full path; Windows opens at most 259 for this program"),
              std::string::npos)
        << deep.Errors;
  }
}
#endif

// The trial's mistake: the arguments swapped, which replaced a day's log
// with a one-line result. Each tool leaves an OUTPUT that is not its own
// kind alone unless --force is given.
TEST_F(BillingTools, OutputsOfAnotherKindAreLeftAloneWithoutForce) {
  const std::string log = logPaths_.front();
  const std::string logText = ReadText(log);
  WriteText(usage_, "PROCESS,20261208,20261208,20:00:00,20:01:00,,1,\"User\",\"u\",1,CPUSEC,1\r\n");
  const std::vector<std::pair<std::string, std::vector<std::string>>> swapped = {
      {"quaxlog2rr", {logPaths_.back(), log}},
      {"quaxaggregate", {usage_, log}},
      {"quaxbill", {usage_, log}},
  };
  for (const auto& [tool, arguments] : swapped) {
    SCOPED_TRACE(tool);
    const ToolRun run = Run(tool, arguments);
    EXPECT_EQ(run.ExitCode, 16);
    EXPECT_NE(run.Errors.find("'" + log + "' exists and is not a "), std::string::npos) << run.Errors;
    EXPECT_EQ(ReadText(log), logText);
  }
  WriteText(bill_, "Period,User,CPU seconds\r\nTotal,,0\r\n");
  EXPECT_EQ(Run("quaxbill", {usage_, bill_}).ExitCode, 0) << "a bill is replaced";
  WriteText(bill_, "notes\r\n");
  EXPECT_EQ(Run("quaxbill", {usage_, bill_}).ExitCode, 16);
  EXPECT_EQ(Run("quaxbill", {"--force", usage_, bill_}).ExitCode, 0);
  EXPECT_EQ(ReadText(bill_), "Period,User,Project,CPU hours\r\n2026-12,u,,0.0003\r\nTotal,,,0.0003\r\n");

  // A resource record file is not a process log.
  const ToolRun notALog = Run("quaxlog2rr", {usage_, sums_});
  EXPECT_EQ(notALog.ExitCode, 16);
  EXPECT_EQ(notALog.Errors.rfind("quaxlog2rr: '" + usage_ + "' is not a process log: line 1: ", 0), 0u)
      << notALog.Errors;
  EXPECT_FALSE(std::filesystem::exists(sums_));
}

// docs/billing.md shows these logs going through these three commands: the
// commands, the report and the bill it shows are the ones that run above.
TEST(BillingDocs, TheWorkedExampleShowsWhatTheToolsDo) {
  const std::string page = ReadText(std::string(QUAX_DOCS_DIR) + "/billing.md");
  ASSERT_FALSE(page.empty()) << "docs/billing.md is missing";
  const auto shown = [&page](const std::string& text) {
    std::string indented;  // as a block of the page: each line indented by four spaces
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
      end = text.find('\n', start);
      indented += "    " + text.substr(start, end - start) + "\n";
    }
    return page.find(indented) != std::string::npos;
  };
  EXPECT_TRUE(shown("$ quaxlog2rr HOST*/QUAXProcessLog-*.txt usage.txt\n" + std::string(kReport)));
  EXPECT_TRUE(shown("$ quaxaggregate --drop-identifier Machine --drop-identifier Process usage.txt sums.txt\n"
                    "Input Records: 6\n"));
  EXPECT_TRUE(shown("$ quaxbill --period day --unit seconds sums.txt bill.csv\n"));
  EXPECT_TRUE(shown(kDailyBill));
  EXPECT_TRUE(shown("$ quaxbill --departments departments.csv --rates rates.csv --by Department sums.txt bill.csv\n"
                    "quaxbill: warning: 1 user is in no department of 'departments.csv' and billed as (unassigned):\n"
                    "  CORP\\carol\n"));
  EXPECT_TRUE(shown(kDepartmentBill));
  EXPECT_TRUE(shown(WithoutCarriageReturns(kDepartments)));
  EXPECT_TRUE(shown(WithoutCarriageReturns(kRates)));
}

TEST_F(BillingTools, DepartmentsAndPricesBillTheWorkedExample) {
  const std::string departments = folder_.File("departments.csv");
  const std::string rates = folder_.File("rates.csv");
  WriteText(departments, kDepartments);
  WriteText(rates, kRates);
  ASSERT_EQ(Convert().ExitCode, 0);
  ASSERT_EQ(Run("quaxaggregate", {"--quiet", "--drop-identifier", "Machine", "--drop-identifier", "Process", usage_, sums_})
                .ExitCode,
            0);
  const ToolRun billed =
      Run("quaxbill", {"--departments", departments, "--rates", rates, "--by", "Department", sums_, bill_});
  EXPECT_EQ(billed.ExitCode, 0) << billed.Errors;
  EXPECT_EQ(WithoutCarriageReturns(ReadText(bill_)), kDepartmentBill);
  EXPECT_EQ(billed.Errors, "quaxbill: warning: 1 user is in no department of '" + departments +
                               "' and billed as (unassigned):\n  CORP\\carol\n");

  // What the records cannot be billed by is refused, and nothing is written.
  const std::string misspelt = folder_.File("misspelt.csv");
  WriteText(misspelt, "CPUSEC,18,3600\nCPUSECS,1,3600\n");
  const std::string malformed = folder_.File("malformed.csv");
  WriteText(malformed, "CORP\\alice,Research\nCORP\\bob\n");
  const std::string other = folder_.File("other.csv");
  struct Case {
    std::vector<std::string> Arguments;
    int ExitCode;
    std::string Message;
  };
  const std::vector<Case> cases = {
      {{"--rates", misspelt, sums_, other}, 16,
       "quaxbill: '" + misspelt + "' line 2: the rate code CPUSECS is in no input record (a misspelt code would bill nothing)\n"},
      {{"--departments", malformed, sums_, other}, 16,
       "quaxbill: '" + malformed + "' line 2: wants User,Department, found 1 fields\n"},
      {{"--by", "Department", sums_, other}, 8,
       "quaxbill: --by names Department, which no input record has (the records have: User, Project); departments "
       "come from --departments FILE\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Message);
    const ToolRun run = Run("quaxbill", c.Arguments);
    EXPECT_EQ(run.ExitCode, c.ExitCode);
    EXPECT_EQ(run.Errors, c.Message);
    EXPECT_FALSE(std::filesystem::exists(other));
  }
}

// The worked example's report (docs/report.png is its screenshot): the
// records aggregated keeping machines and programs, the totals exactly the
// bill quaxbill makes with the same options.
TEST_F(BillingTools, TheReportOfTheWorkedExampleShowsItsBill) {
  const std::string departments = folder_.File("departments.csv");
  const std::string rates = folder_.File("rates.csv");
  const std::string report = folder_.File("report.html");
  WriteText(departments, kDepartments);
  WriteText(rates, kRates);
  ASSERT_EQ(Convert().ExitCode, 0);
  ASSERT_EQ(Run("quaxaggregate", {"--quiet", usage_, sums_}).ExitCode, 0);
  const std::vector<std::string> options = {"--departments", departments, "--rates", rates};
  std::vector<std::string> arguments = options;
  arguments.insert(arguments.end(), {"--title", "December 2026", sums_, report});
  const ToolRun reported = Run("quaxreport", arguments);
  EXPECT_EQ(reported.ExitCode, 0) << reported.Errors;
  EXPECT_EQ(reported.Output + reported.Errors, "");
  arguments = options;
  arguments.insert(arguments.end(), {sums_, bill_});
  ASSERT_EQ(Run("quaxbill", arguments).ExitCode, 0);
  const std::string page = ReadText(report);
  EXPECT_EQ(page.rfind("<!DOCTYPE html><!-- quaxreport -->\n", 0), 0u) << page.substr(0, 100);
#ifndef _WIN32
  const testing::RenderedPage rendered = testing::RenderPage(folder_, report);
  EXPECT_EQ(testing::TotalsAsCsv(rendered.Dom, 4), WithoutCarriageReturns(ReadText(bill_)));
  EXPECT_EQ(rendered.PageRequests, std::vector<std::string>{});
  std::filesystem::create_directories(QUAX_SCREENSHOTS);
  testing::Screenshot(folder_, report, std::string(QUAX_SCREENSHOTS) + "/report.png");
#endif
}

TEST_F(BillingTools, CommandLinesThatAreNotUnderstoodExitWith8) {
  struct Case {
    std::string Tool;
    std::vector<std::string> Arguments;
    std::string Message;
  };
  const std::vector<Case> cases = {
      {"quaxlog2rr", {usage_}, "quaxlog2rr: name at least one log and the output file (see --help)\n"},
      {"quaxlog2rr", {"-", "-", usage_}, "quaxlog2rr: standard input (-) can be read only once\n"},
      {"quaxlog2rr", {logPaths_[0], logPaths_[0]}, "quaxlog2rr: " + logPaths_[0] + " is both a log and the output\n"},
      {"quaxlog2rr", {"--from", "2026-02-30", usage_, bill_}, "quaxlog2rr: --from wants a date YYYY-MM-DD\n"},
      {"quaxlog2rr", {"--from", "2026-12-09", "--to", "2026-12-08", usage_, bill_}, "quaxlog2rr: --from is after --to\n"},
      {"quaxbill", {"--period", "week", usage_, bill_}, "quaxbill: --period wants day, month or whole\n"},
      {"quaxbill", {"--by", "User,", usage_, bill_}, "quaxbill: --by wants identifier names separated by commas\n"},
      {"quaxbill", {"--frobnicate", usage_, bill_}, "quaxbill: unknown option --frobnicate (see --help)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Message);
    const ToolRun run = Run(c.Tool, c.Arguments);
    EXPECT_EQ(run.ExitCode, 8);
    EXPECT_EQ(run.Errors, c.Message);
  }
  for (const char* tool : {"quaxlog2rr", "quaxbill"}) {
    const ToolRun help = Run(tool, {"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_EQ(help.Output.rfind(std::string("Usage: ") + tool + " [options] ", 0), 0u) << help.Output;
  }
  EXPECT_NE(Run("quaxlog2rr", {"--help"}).Output.find("Exit codes: 0 done, 4 OUTPUT written but the bill is incomplete"),
            std::string::npos);
}

}  // namespace
}  // namespace quax::agg
