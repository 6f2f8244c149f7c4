// Throughput of the process log converter (quaxlog2rr's work): generates a
// month of daily process logs of several machines, written record by record
// with the collectors' own formatter (long-running processes with hourly
// interval records, short ones with start, interval and end records), then
// converts them into one resource record file and prints records/s, MB/s
// and the machine it ran on.
//
//   log2rr_bench [days (default 30)] [machines (default 4)] [folder (default TEMP)]
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform_files.h"
#include "process_log_builder.h"
#include "tools/log_conversion.h"

namespace {

using namespace quax;
using namespace quax::agg::testing;
using Clock = std::chrono::steady_clock;

constexpr int kLongRunning = 150;    // per machine, all month, an interval record an hour
constexpr int kShortPerDay = 1500;   // per machine and day, start, interval and end record

// Writes one day of logs (one file per machine) and returns their paths.
std::vector<std::string> WriteDay(int day, int machines, std::vector<SimulatedProcess>& longRunning,
                                  const std::filesystem::path& folder) {
  LogFiles logs;
  const int dayStart = day * 1440;
  for (SimulatedProcess& process : longRunning) {
    for (int hour = 0; hour < 24; ++hour) {
      process.Use(0.25, 0.5, 64, 16);
      process.Refresh(dayStart + hour * 60 + 30);
      logs.Write(day == 0 && hour == 0 ? RecordType::Start : RecordType::Interval, process);
    }
  }
  for (int m = 0; m < machines; ++m) {
    const std::string machine = "HOST" + std::to_string(m + 1);
    for (int i = 0; i < kShortPerDay; ++i) {
      const int created = dayStart + 30 + i * 900 / kShortPerDay;
      SimulatedProcess process(machine.c_str(), static_cast<std::uint32_t>(10000 + i), "CORP\\user7",
                               i % 3 == 0 ? "" : "P-42", "cmd.exe", created);
      process.Use(0.015625, 0.03125, 4, 1);
      process.Refresh(created + 1);
      logs.Write(RecordType::Start, process);
      process.Use(0.125, 0.25, 100, 20);
      process.Exit(created + 5);
      logs.Write(RecordType::Interval, process);
      logs.Write(RecordType::End, process);
    }
  }
  std::vector<std::string> paths;
  for (const auto& [file, text] : logs.Files()) {
    const std::filesystem::path path = folder / (file.first + "-QUAXProcessLog-" + file.second + ".txt");
    std::ofstream(path, std::ios::binary) << text;
    paths.push_back(path.string());
  }
  return paths;
}

constexpr const char* kUsage = "usage: log2rr_bench [days 1-366 (30)] [machines 1-100 (4)] [folder (TEMP)]\n";
constexpr int kMaxDays = 366;
constexpr int kMaxMachines = 100;  // a month of 100 machines is about 5 GB of logs

// A whole number from 1 to `most`, the whole argument.
bool ReadCount(const char* text, int most, int& out) {
  const std::string_view view(text);
  int value = 0;
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
  if (error != std::errc() || end != view.data() + view.size() || value < 1 || value > most) return false;
  out = value;
  return true;
}

int Run(int days, int machines, const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);

  std::vector<SimulatedProcess> longRunning;
  for (int m = 0; m < machines; ++m) {
    const std::string machine = "HOST" + std::to_string(m + 1);
    for (int i = 0; i < kLongRunning; ++i) {
      longRunning.emplace_back(machine.c_str(), static_cast<std::uint32_t>(100 + i), "NT AUTHORITY\\SYSTEM",
                               i % 2 == 0 ? "Operations" : "", "svchost.exe", 0);
    }
  }
  std::vector<std::string> logs;
  std::uintmax_t bytes = 0;
  for (int day = 0; day < days; ++day) {
    for (const std::string& path : WriteDay(day, machines, longRunning, folder)) {
      bytes += std::filesystem::file_size(path);
      logs.push_back(path);
    }
  }
  // Each machine's logs in date order, as a glob of one machine's folder gives them.
  std::sort(logs.begin(), logs.end());

  const std::string output = (folder / "usage.txt").string();
  quax::agg::tools::ConversionReport report;
  std::string message;
  const double cpuBefore = quax::agg::platform::ProcessCpuSeconds();
  const Clock::time_point start = Clock::now();
  quax::agg::tools::ConversionJob job;
  job.Logs = logs;
  const bool converted = quax::agg::tools::ConvertLogsToResourceFile(job, output, [] { return true; }, report, message);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = quax::agg::platform::ProcessCpuSeconds() - cpuBefore;
  if (!converted) {
    std::fprintf(stderr, "log2rr_bench: %s\n", message.c_str());
    return 1;
  }
  const double records = static_cast<double>(report.RecordsRead);
  std::printf("machine: %s\n", quax::agg::platform::MachineDescription().c_str());
  std::printf("logs: %d days of %d machines, %zu files, %.0f MB, %lld records (%lld written, %lld skipped, "
              "%lld processes checked, %lld mismatches)\n",
              days, machines, logs.size(), static_cast<double>(bytes) / 1048576.0,
              static_cast<long long>(report.RecordsRead), static_cast<long long>(report.RecordsWritten),
              static_cast<long long>(report.RecordsSkipped), static_cast<long long>(report.ProcessesChecked),
              static_cast<long long>(report.Mismatches));
  std::printf("conversion: %.2f s wall, %.0f records/s, %.1f MB/s | %.2f s cpu, %.0f records/s\n", wall,
              records / wall, static_cast<double>(bytes) / 1048576.0 / wall, cpu, records / cpu);
  std::filesystem::remove_all(folder);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int days = 30;
  int machines = 4;
  if (argc > 4 || (argc > 1 && !ReadCount(argv[1], kMaxDays, days)) ||
      (argc > 2 && !ReadCount(argv[2], kMaxMachines, machines))) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    return Run(days, machines,
               std::filesystem::path(argc > 3 ? argv[3] : quax::agg::platform::TempDirectory()) / "quax-log2rr-bench");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "log2rr_bench: %s\n", error.what());
    return 1;
  }
}
