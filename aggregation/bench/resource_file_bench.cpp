// Throughput of CResourceFile: writes a generated file of resource records
// (4 identifiers, 3 resources each), reads it back (split and parse into
// values), and sums the values as exact decimals. Prints records/s and MB/s
// of each of three runs and the machine it ran on.
//
//   aggregation_bench [records (default 1000000)] [file (default in TEMP)] [keep]
#include <charconv>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "record/date_time.h"
#include "record/decimal.h"
#include "platform/platform_files.h"
#include "record/resource_file.h"

namespace {

using quax::agg::CResourceFile;
using quax::agg::Decimal;
using quax::agg::ResourceRecord;
using Clock = std::chrono::steady_clock;

double Cpu() { return quax::agg::platform::ProcessCpuSeconds(); }

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

std::vector<ResourceRecord> Generate(long count) {
  std::mt19937_64 random(2026);
  std::vector<ResourceRecord> records(static_cast<std::size_t>(count));
  double day = 0;
  quax::agg::MakeDay(2026, 12, 1, day);
  for (ResourceRecord& r : records) {
    r.Header = "QUAXWINPROC";
    const double d = day + static_cast<double>(random() % 31);
    r.Start = quax::agg::CombineDateTime(d, quax::agg::MakeTimeOfDay(0, 0, static_cast<int>(random() % 43200)));
    r.End = quax::agg::CombineDateTime(d, quax::agg::MakeTimeOfDay(12, 0, static_cast<int>(random() % 43200)));
    r.IdentifierNames = {"MachineName", "UserName", "ProjectName", "ProcessName"};
    r.IdentifierValues = {"BILLING" + std::to_string(random() % 40),
                          "CORP\\user" + std::to_string(random() % 2000),
                          "P-" + std::to_string(random() % 300),
                          "app" + std::to_string(random() % 500) + ".exe"};
    r.RateCodes = {"CPUSECS", "KBYTESIO", "WSETKB"};
    r.ResourceValues = {
        Decimal::FromParts(static_cast<std::uint32_t>(random() % 100000000), 0, 0, 6, false),
        Decimal::FromUInt64(random() % 5000000),
        Decimal::FromParts(static_cast<std::uint32_t>(random() % 10000000), 0, 0, 2, false)};
  }
  return records;
}

constexpr long kMaxRecords = 100000000;

// The record count, or 0 when the text is not one.
long RecordCount(const std::string& text) {
  long count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  return error == std::errc() && end == text.data() + text.size() && count >= 1 && count <= kMaxRecords ? count : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const long count = argc > 1 ? RecordCount(argv[1]) : 1000000;
  if (count == 0) {
    std::fprintf(stderr, "aggregation_bench: the record count must be a whole number from 1 to %ld, not '%s'\n",
                 kMaxRecords, argv[1]);
    return 8;
  }
  const std::string path =
      argc > 2 ? argv[2] : quax::agg::platform::TempDirectory() + "quaxagg-bench.txt";
  std::printf("machine: %s\n", quax::agg::platform::MachineDescription().c_str());
  std::printf("records: %ld (4 identifiers, 3 resources), file: %s\n", count, path.c_str());
  std::fflush(stdout);
  const std::vector<ResourceRecord> records = Generate(count);

  double bestWrite = 0;
  double bestRead = 0;
  double bestSum = 0;
  for (int run = 1; run <= 3; ++run) {
    CResourceFile file;
    file.SetFileName(path);
    auto start = Clock::now();
    double cpu = Cpu();
    if (!file.FileOpen(2)) {
      std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), file.LastErrorMessage().c_str());
      return 1;
    }
    for (const ResourceRecord& r : records) file.FileWrite(r);
    file.FileClose();
    const double writeSeconds = Seconds(start);
    const double writeCpu = Cpu() - cpu;

    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    const double megabytes = static_cast<double>(std::ftell(f)) / 1e6;
    std::fclose(f);

    ResourceRecord r;
    std::vector<std::vector<Decimal>> read;
    long lines = 0;
    Decimal checksum;
    start = Clock::now();
    cpu = Cpu();
    if (!file.FileOpen(1)) return 1;
    while (!file.AtEOF()) {
      file.FileRead(r);
      ++lines;
    }
    file.FileClose();
    const double readSeconds = Seconds(start);
    const double readCpu = Cpu() - cpu;

    // Exact decimal additions: every value of every record into one sum per
    // resource (equal scales, as when summing one rate code), from a
    // contiguous array so that the figure is the add and not memory.
    std::vector<Decimal> values;
    values.reserve(3 * records.size());
    for (const ResourceRecord& rec : records) {
      values.insert(values.end(), rec.ResourceValues.begin(), rec.ResourceValues.end());
    }
    start = Clock::now();
    cpu = Cpu();
    Decimal sums[3];
    for (int repeat = 0; repeat < 4; ++repeat) {
      for (std::size_t i = 0; i + 2 < values.size(); i += 3) {
        sums[0] += values[i];
        sums[1] += values[i + 1];
        sums[2] += values[i + 2];
      }
    }
    const double sumSeconds = Seconds(start);
    const double sumCpu = Cpu() - cpu;
    const double additions = 4.0 * static_cast<double>(values.size());

    // Rates by processor time of the process (one core); wall time beside.
    const double writeRate = static_cast<double>(count) / writeCpu;
    const double readRate = static_cast<double>(lines) / readCpu;
    const double addRate = additions / sumCpu;
    std::printf(
        "run %d: write %.0f records/s, %.1f MB/s (cpu %.3f s, wall %.3f s) | read %.0f records/s, "
        "%.1f MB/s (cpu %.3f s, wall %.3f s, %ld records) | decimal add %.0f /s (cpu %.3f s, wall "
        "%.3f s; sums %s %s %s)\n",
        run, writeRate, megabytes / writeCpu, writeCpu, writeSeconds, readRate,
        megabytes / readCpu, readCpu, readSeconds, lines, addRate, sumCpu, sumSeconds,
        sums[0].ToString().c_str(), sums[1].ToString().c_str(), sums[2].ToString().c_str());
    std::fflush(stdout);
    if (writeRate > bestWrite) bestWrite = writeRate;
    if (readRate > bestRead) bestRead = readRate;
    if (addRate > bestSum) bestSum = addRate;
    if (run == 3) std::printf("file size: %.1f MB\n", megabytes);
  }
  std::printf("best by processor time: write %.0f records/s, read %.0f records/s, decimal add %.0f /s\n", bestWrite,
              bestRead, bestSum);
  if (argc <= 3 || std::string(argv[3]) != "keep") {
    CResourceFile cleanup;
    cleanup.SetFileName(path);
    cleanup.FileRemove();
  }
  return 0;
}
