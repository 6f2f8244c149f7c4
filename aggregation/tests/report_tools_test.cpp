// quaxreport, the real program, at month end: a share holding a month of
// logs of three machines through the converter (by folder and dates), the
// aggregator, quaxbill and quaxreport; the page as chromium renders it
// (natively) against the bill; an empty input; outputs it must not replace.
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

using testing::ReadText;
using testing::RunTool;
using testing::ScratchFolder;
using testing::ToolRun;
using testing::WriteText;

struct Job {
  const char* Machine;
  const char* User;
  const char* Project;
  const char* Program;
  int Hour;
  double Kernel;
  double User_;
};
// Every day one run of each job; HOST3's collector did not run from the
// 11th to the 15th day (18 to 22 December). Names hold what a page or a
// spreadsheet must show as typed: markup, an ampersand, a quote, a formula.
constexpr Job kJobs[] = {
    {"HOST1", "CORP\\alice", "Apollo", "nightly.exe", 1, 30, 10},
    {"HOST1", "CORP\\bob", "Zeus", "report.exe", 9, 2.5, 1},
    {"HOST2", "CORP\\carol", "Hermes", "build.exe", 10, 20, 5},
    {"HOST2", "corp\\ALICE", "apollo", "nightly.exe", 14, 1, 1},
    {"HOST3", "LAB\\dave", "<b>R&D</b>", "sim.exe", 8, 40, 20},
    {"HOST3", "CORP\\o'brien", "=1+2", "calc.exe", 12, 0.5, 0.25},
};
constexpr int kDays = 30;
constexpr int kGapFirstDay = 10;
constexpr int kGapLastDay = 14;

class ReportTools : public ::testing::Test {
 protected:
  ToolRun Run(const std::string& tool, const std::vector<std::string>& arguments) const {
    return RunTool(tool, arguments, folder_);
  }

  // The month's logs as a share holds them, in one folder per machine; the
  // share's path.
  std::string WriteMonthOfLogs() const {
    testing::LogFiles logs;
    for (int day = 0; day < kDays; ++day) {
      for (std::size_t j = 0; j < std::size(kJobs); ++j) {
        const Job& job = kJobs[j];
        if (std::string_view(job.Machine) == "HOST3" && day >= kGapFirstDay && day <= kGapLastDay) continue;
        const int created = day * 1440 + job.Hour * 60;
        testing::SimulatedProcess process(job.Machine, static_cast<std::uint32_t>(1000 + day * 10 + j), job.User,
                                          job.Project, job.Program, created);
        process.Use(job.Kernel / 2, job.User_ / 2);
        process.Refresh(created + 1);
        logs.Write(RecordType::Start, process);
        process.Use(job.Kernel / 2, job.User_ / 2, 100, 10);
        process.Exit(created + 30);
        logs.Write(RecordType::Interval, process);
        logs.Write(RecordType::End, process);
      }
    }
    const std::string share = folder_.File("quaxlogs");
    for (const auto& [file, text] : logs.Files()) {
      std::filesystem::create_directories(share + "/" + file.first);
      WriteText(share + "/" + file.first + "/QUAXProcessLog-" + file.second + ".txt", text);
    }
    return share;
  }

  ScratchFolder folder_;
  std::string usage_ = folder_.File("usage.txt");
  std::string sums_ = folder_.File("sums.txt");
  std::string bill_ = folder_.File("bill.csv");
  std::string report_ = folder_.File("report.html");
  std::string departments_ = folder_.File("departments.csv");
  std::string rates_ = folder_.File("rates.csv");
};

TEST_F(ReportTools, AMonthOfThreeMachinesWithAGap) {
  const ToolRun converted =
      Run("quaxlog2rr", {"--from", "2026-12-08", "--to", "2027-01-06", WriteMonthOfLogs(), usage_});
  ASSERT_EQ(converted.ExitCode, 0) << converted.Errors;
  ASSERT_EQ(Run("quaxaggregate", {"--quiet", usage_, sums_}).ExitCode, 0);
  WriteText(departments_, "CORP\\*,Research\nCORP\\bob,Sales\n");
  WriteText(rates_, "CPUSEC,18,3600\nELAPSSEC,0.50,3600\n");
  // The previous month: bob's 10 CPU and elapsed hours, 185.00.
  const std::string previous = folder_.File("november.txt");
  WriteText(previous,
            "PROCESS,20261110,20261110,08:00:00,18:00:00,,2,\"User\",\"CORP\\bob\",\"Project\",\"Zeus\",2,"
            "CPUSEC,36000,ELAPSSEC,36000\r\n");
  const std::vector<std::string> options = {"--departments", departments_, "--rates", rates_};
  std::vector<std::string> arguments = options;
  arguments.insert(arguments.end(), {sums_, bill_});
  ASSERT_EQ(Run("quaxbill", arguments).ExitCode, 0);
  arguments = options;
  arguments.insert(arguments.end(), {"--previous", previous, sums_, report_});
  const ToolRun reported = Run("quaxreport", arguments);
  ASSERT_EQ(reported.ExitCode, 0) << reported.Errors;

  // The page's own text: the names escaped, the gap listed.
  const std::string page = ReadText(report_);
  EXPECT_NE(page.find("&lt;b&gt;R&amp;D&lt;/b&gt;"), std::string::npos);
  EXPECT_EQ(page.find("<b>R&"), std::string::npos);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_NE(page.find("2026-12-18 to 2026-12-22 (5 days)"), std::string::npos);
#ifndef _WIN32
  const testing::RenderedPage rendered = testing::RenderPage(folder_, report_);
  const std::string& dom = rendered.Dom;
  EXPECT_EQ(rendered.PageRequests, std::vector<std::string>{});
  // The totals are the bill, cell for cell, the names as typed (a formula
  // marked as text, as in the bill).
  const std::string bill = ReadText(bill_);
  EXPECT_NE(bill.find(",<b>R&D</b>,"), std::string::npos) << bill;
  EXPECT_NE(bill.find(",'=1+2,"), std::string::npos) << bill;
  std::string billLines = bill;
  std::erase(billLines, '\r');
  EXPECT_EQ(testing::TotalsAsCsv(dom, 4), billLines);
  // Every department and the largest users are in the rankings, each bar
  // with its figures in its title.
  const std::string topHtml = testing::ElementById(dom, "top", "</section>");
  EXPECT_NE(topHtml.find("<title>Sales: 8.03 cost (13.2 %)</title>"), std::string::npos) << topHtml;
  const std::string top = testing::PageText(topHtml);
  for (const char* name : {"Research", "Sales", "(unassigned)", "LAB\\dave", "CORP\\alice", "CORP\\carol", "<b>R&D</b>",
                           "'=1+2", "sim.exe"}) {
    EXPECT_NE(top.find(name), std::string::npos) << name << " is not in: " << top;
  }
  // Coverage: HOST3's gap, the others without.
  const auto coverage = testing::TableRows(dom, "coverage-table");
  ASSERT_EQ(coverage.size(), 4u);
  EXPECT_EQ(coverage[1][0], "HOST3");
  EXPECT_EQ(coverage[1][3], "2026-12-18 to 2026-12-22 (5 days)");
  EXPECT_EQ(coverage[2][0], "HOST1");
  EXPECT_EQ(coverage[2][3], "none");
  // What to check, and the change against the previous month.
  const std::string checks = testing::PageText(testing::ElementById(dom, "checks", "</section>"));
  for (const char* finding : {"Projects that differ only in case are billed apart: Apollo, apollo.",
                              "One user written in several ways, billed as one (CORP\\alice): CORP\\alice, corp\\ALICE.",
                              "1 user is in no department and billed as (unassigned)", "LAB\\dave",
                              "HOST3 has 5 days without records"}) {
    EXPECT_NE(checks.find(finding), std::string::npos) << finding << " is not in: " << checks;
  }
  const auto comparison = testing::TableRows(dom, "comparison");
  const auto sales = std::ranges::find_if(comparison, [](const auto& row) { return !row.empty() && row[0] == "Sales"; });
  ASSERT_NE(sales, comparison.end());
  EXPECT_EQ((*sales)[1], "185.00");
  std::filesystem::create_directories(QUAX_SCREENSHOTS);
  testing::Screenshot(folder_, report_, std::string(QUAX_SCREENSHOTS) + "/report-month.png");
#endif
}

TEST_F(ReportTools, AnEmptyInputGivesAnEmptyReport) {
  WriteText(sums_, "");
  const ToolRun reported = Run("quaxreport", {sums_, report_});
  EXPECT_EQ(reported.ExitCode, 0) << reported.Errors;
  EXPECT_EQ(Run("quaxbill", {sums_, bill_}).ExitCode, 0);
  EXPECT_EQ(ReadText(bill_), "Period,User,Project\r\nTotal,,\r\n");
  EXPECT_NE(ReadText(report_).find("The input holds no resource records."), std::string::npos);
#ifndef _WIN32
  const testing::RenderedPage rendered = testing::RenderPage(folder_, report_);
  EXPECT_EQ(testing::TotalsAsCsv(rendered.Dom, 3), "Period,User,Project\nTotal,,\n");
  EXPECT_NE(testing::PageText(rendered.Dom).find("The input holds no resource records."), std::string::npos);
  EXPECT_EQ(rendered.PageRequests, std::vector<std::string>{});
#endif
}

TEST_F(ReportTools, OnlyAReportIsReplaced) {
  WriteText(sums_, "PROCESS,20261208,20261208,20:00:00,20:01:00,,1,\"User\",\"u\",1,CPUSEC,1\r\n");
  WriteText(report_, "<html>my notes</html>\r\n");
  const ToolRun refused = Run("quaxreport", {sums_, report_});
  EXPECT_EQ(refused.ExitCode, 16);
  EXPECT_EQ(refused.Errors, "quaxreport: '" + report_ + "' exists and is not a report; it is left as it is (--force replaces it)\n");
  EXPECT_EQ(ReadText(report_), "<html>my notes</html>\r\n");
  EXPECT_EQ(Run("quaxreport", {"--force", sums_, report_}).ExitCode, 0);
  EXPECT_EQ(Run("quaxreport", {sums_, report_}).ExitCode, 0) << "its own report is replaced";
  const ToolRun toStandardOutput = Run("quaxreport", {sums_, "-"});
  EXPECT_EQ(toStandardOutput.ExitCode, 0);
  EXPECT_EQ(toStandardOutput.Output.rfind("<!DOCTYPE html><!-- quaxreport -->\n", 0), 0u);
  const ToolRun top = Run("quaxreport", {"--top", "0", sums_, report_});
  EXPECT_EQ(top.ExitCode, 8);
  EXPECT_EQ(top.Errors, "quaxreport: --top wants a number from 1 to 100\n");
}

}  // namespace
}  // namespace quax::agg
