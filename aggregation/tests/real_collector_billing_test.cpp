// From logs the real collector writes under Wine to a bill: the service's
// run function in this process (settings in the test prefix's registry), a
// child process with a project, then quaxlog2rr, quaxaggregate and quaxbill
// on the log files it leaves. Under Wine the figures of other processes are
// not those Windows would report (CPU times read stale, I/O always 0), so
// the bill is checked against the collector's own end record.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics.h"
#include "engine_test_support.h"
#include "event_loop.h"
#include "process_control.h"
#include "record/decimal.h"
#include "test_support.h"
#include "tool_runner.h"
#include "unique_handle.h"

namespace quax::agg {
namespace {

using testing::ReadText;
using testing::RunTool;
using testing::ToolRun;

class RealCollectorLogs : public ::testing::Test {
 protected:
  void SetUp() override {
    Service().ConsoleMode = true;
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
    Set("LogFilePath", logs_);
    Set("SamplingInterval", "1");
    Set("LogFileFieldDelimiter", "44");  // comma-separated
  }
  void TearDown() override {
    StopCollector();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
  }

  static void Set(const char* name, const std::string& value) {
    unique_hkey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  }

  void StartCollector() {
    runner_ = std::thread([this] {
      DWORD exitCode = 0;
      RunCollector(0, nullptr, &exitCode);
      finished_ = true;
    });
    ASSERT_TRUE(trace_.WaitFor("has been started.", 30000));
  }

  // A stop asked for before the run has its stop event is lost: ask again
  // until the run has ended.
  void StopCollector() {
    if (!runner_.joinable()) return;
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (!finished_ && GetTickCount64() < deadline) {
      RequestStop();
      Sleep(50);
    }
    ASSERT_TRUE(finished_) << "the run did not stop";
    runner_.join();
  }

  std::vector<std::string> LogFiles() const {
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(logs_)) paths.push_back(entry.path().string());
    std::ranges::sort(paths);
    return paths;
  }

  // The end record of a process, its fields; empty while there is none.
  std::vector<std::string> EndRecordOf(DWORD processId) const {
    const std::string start = "E," + std::to_string(processId) + ",";
    for (const std::string& path : LogFiles()) {
      for (const std::string& line : test::ReadLines(path)) {
        if (line.rfind(start, 0) == 0) return test::SplitFields(line, ',');
      }
    }
    return {};
  }

  // A child with a project that lives three seconds, long enough for the
  // samplings to see it; its end record once the collector wrote it.
  std::vector<std::string> RunChild(const std::string& project) {
    char systemRoot[MAX_PATH];
    GetEnvironmentVariableA("SystemRoot", systemRoot, sizeof systemRoot);
    const test::ChildProcess child =
        test::StartChild("\"" + test::BinaryDirectory() + "\\quax_test_child.exe\" sleep 3000",
                         {"QUAXU_CURRPROJ=" + project, std::string("SystemRoot=") + systemRoot});
    EXPECT_EQ(test::WaitForExitCode(child, 30000), 0u);
    std::vector<std::string> end;
    for (int tries = 0; tries < 200 && end.empty(); ++tries) {
      Sleep(50);
      end = EndRecordOf(child.ProcessId);
    }
    return end;
  }

  // Converts the logs, aggregates them by project and bills the whole
  // period; the bill's row of `project` by column title.
  std::map<std::string, std::string> BillRowOf(const std::string& project, std::string* report) {
    std::vector<std::string> convert = LogFiles();
    convert.push_back(folder_.File("usage.txt"));
    const ToolRun converted = RunTool("quaxlog2rr", convert, folder_);
    EXPECT_EQ(converted.ExitCode, 0) << converted.Errors;
    *report = converted.Output;
    const ToolRun aggregated = RunTool(
        "quaxaggregate", {"--quiet", "--drop-identifier", "Machine", "--drop-identifier", "Process",
                          folder_.File("usage.txt"), folder_.File("sums.txt")},
        folder_);
    EXPECT_EQ(aggregated.ExitCode, 0) << aggregated.Errors;
    const ToolRun billed = RunTool(
        "quaxbill",
        {"--period", "whole", "--by", "Project", "--unit", "seconds", folder_.File("sums.txt"), folder_.File("bill.csv")},
        folder_);
    EXPECT_EQ(billed.ExitCode, 0) << billed.Errors;
    const std::vector<std::string> lines = test::ReadLines(folder_.File("bill.csv"));
    std::map<std::string, std::string> row;
    if (lines.empty()) return row;
    const std::vector<std::string> titles = test::SplitFields(lines[0], ',');
    for (const std::string& line : lines) {
      const std::vector<std::string> cells = test::SplitFields(line, ',');
      if (cells.size() != titles.size() || cells[1] != project) continue;
      for (std::size_t i = 0; i < cells.size(); ++i) row[titles[i]] = cells[i];
    }
    return row;
  }

  // The bill sums what the start and interval records hold, each rounded to
  // six places, and shows seconds with two: the end record's total up to
  // that rounding.
  static void ExpectNear(const std::string& billed, const std::string& total) {
    const Decimal difference = Decimal::Parse(billed) - Decimal::Parse(total);
    EXPECT_LE(std::abs(difference.ToDouble()), 0.00501) << billed << " billed, " << total << " in the end record";
  }
  // The end record's figure as the bill shows seconds.
  static Decimal AsBilled(const std::string& seconds) { return Decimal::Parse(seconds).RoundHalfAwayFromZero(2); }

  testing::ScratchFolder folder_;
  std::string logs_ = [this] {
    const std::string path = folder_.File("logs");
    std::filesystem::create_directory(path);
    return path;
  }();
  test::CapturedTrace trace_;
  test::CapturedEvents events_;
  std::thread runner_;
  std::atomic<bool> finished_{false};
};

constexpr std::size_t kElapsedField = 13;
constexpr std::size_t kCpuField = 14;
constexpr std::size_t kProjectField = 31;

TEST_F(RealCollectorLogs, IntervalAccountingLogsBecomeABill) {
  Set("AccountingInterval", "1");
  Set("WriteIntervalEndRecords", "YES");
  StartCollector();
  const std::vector<std::string> end = RunChild("Apollo-7");
  StopCollector();
  ASSERT_EQ(end.size(), 32u);
  EXPECT_EQ(end[kProjectField], "Apollo-7");

  std::string report;
  const std::map<std::string, std::string> row = BillRowOf("Apollo-7", &report);
  // Every process has an end record (at its exit or at the stop): each is
  // checked against its start and interval records.
  EXPECT_NE(report.find("Conservation: "), std::string::npos) << report;
  EXPECT_NE(report.find(" processes checked, 0 mismatches\n"), std::string::npos) << report;
  EXPECT_EQ(report.find("Conservation: 0 processes"), std::string::npos) << report;
  ASSERT_FALSE(row.empty()) << ReadText(folder_.File("bill.csv"));
  ExpectNear(row.at("CPU seconds"), end[kCpuField]);
  ExpectNear(row.at("Elapsed seconds"), end[kElapsedField]);
  EXPECT_GE(Decimal::Parse(row.at("Elapsed seconds")), Decimal(3));
}

TEST_F(RealCollectorLogs, EndRecordLogsBecomeABill) {
  Set("AccountingInterval", "0");
  StartCollector();
  const std::vector<std::string> end = RunChild("Zeus-1");
  StopCollector();
  ASSERT_EQ(end.size(), 32u);

  std::string report;
  const std::map<std::string, std::string> row = BillRowOf("Zeus-1", &report);
  EXPECT_NE(report.find("Records skipped: 0\n"), std::string::npos) << report;
  EXPECT_NE(report.find("Conservation: 0 processes checked, 0 mismatches\n"), std::string::npos) << report;
  ASSERT_FALSE(row.empty()) << ReadText(folder_.File("bill.csv"));
  EXPECT_EQ(Decimal::Parse(row.at("CPU seconds")), AsBilled(end[kCpuField]));
  EXPECT_EQ(Decimal::Parse(row.at("Elapsed seconds")), AsBilled(end[kElapsedField]));
}

}  // namespace
}  // namespace quax::agg
