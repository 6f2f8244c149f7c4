// Run statistics, the memory budget rules and the process priority helpers.
#include <gtest/gtest.h>

#include <string>

#include "engine/debug_counters.h"
#include "engine/memory_budget.h"
#include "engine/win32_process.h"

namespace quax::agg {
namespace {

TEST(DebugCounters, ResultsMessageListsTheFiveCountsWithCrLf) {
  CDebugCounters counters;
  for (int i = 0; i < 10; ++i) counters.IncrementInputRecords();
  for (int i = 0; i < 4; ++i) counters.IncrementOutputRecords();
  for (int i = 0; i < 3; ++i) counters.IncrementAggregateCount();
  counters.IncrementRejectPassesCount();
  counters.IncrementRejectRecordsCount();
  counters.IncrementRejectRecordsCount();
  EXPECT_EQ(ResultsMessage(counters),
            "Input Records: 10\r\nOutput Records: 4\r\nNumber of Aggregates: 3\r\n"
            "External Passes Count: 1\r\nExternal Passes Record Count: 2");
}

TEST(DebugCounters, DisabledDebugMessageIsTheResultsAndANote) {
  CDebugCounters counters;
  counters.IncrementInputRecords();
  EXPECT_EQ(DebugMessage(counters, {false, 0, 16, 80}),
            ResultsMessage(counters) + "\r\nDebug counters not enabled.");
}

TEST(DebugCounters, EnabledDebugMessageListsTheStatisticsInOrder) {
  CDebugCounters counters;
  counters.IncrementCallCount_AddEntry();
  counters.UpdateAggregationEntriesUsedMinMax(7);
  counters.UpdateAggregationEntriesUsedMinMax(3);
  counters.UpdateAggregationTableSizeMinMax(16384);
  const std::string memory = std::to_string(counters.MemoryAvailableAtStartMB());
  const std::string used = std::to_string(counters.MaxMemoryUsedMB());
  const std::string expected = ResultsMessage(counters) +
                               "\r\n\r\nInternal Statistics:"
                               "\r\n\tProcessing Time -- Total: 0.000 seconds"
                               "\r\n\tProcessing Time -- AddEntry: 0.000 secs"
                               "\r\n\tProcessing Time -- WriteResourceFile: 0.000 secs"
                               "\r\n\tAddEntry Call Count: 1"
                               "\r\n\tMin Aggregation Entries Used: 3"
                               "\r\n\tMax Aggregation Entries Used: 7"
                               "\r\n\tMax Aggregation Entries Allowed: 25"
                               "\r\n\tMin Aggregation Table Size: 16384"
                               "\r\n\tMax Aggregation Table Size: 16384"
                               "\r\n\tMinimum Memory setting: 16 MB"
                               "\r\n\tMaximum Memory setting: 80 MB"
                               "\r\n\tInitial Memory Available: " + memory + " MB"
                               "\r\n\tMax Memory Used: " + used + " MB";
  EXPECT_EQ(DebugMessage(counters, {true, 25, 16, 80}), expected);
  EXPECT_NE(DebugMessage(counters, {true, 0, 16, 80})
                .find("Max Aggregation Entries Allowed: Limited by physical memory only\r\n"),
            std::string::npos);
}

TEST(DebugCounters, MinimaAndMaximaStartUnsetAndFollowObservations) {
  CDebugCounters counters;
  EXPECT_EQ(counters.AggregationEntriesUsedMin(), -1);
  EXPECT_EQ(counters.AggregationEntriesUsedMax(), -1);
  EXPECT_EQ(counters.AggregationTableSizeMin(), -1);
  for (const int v : {5, 9, 2, 4}) counters.UpdateAggregationEntriesUsedMinMax(v);
  EXPECT_EQ(counters.AggregationEntriesUsedMin(), 2);
  EXPECT_EQ(counters.AggregationEntriesUsedMax(), 9);
  counters.Initialize();
  EXPECT_EQ(counters.AggregationEntriesUsedMax(), -1);
  EXPECT_GE(counters.MaxMemoryUsedMB(), 1);
}

// A day of input at today's speed passes 2^31 records: every count goes on
// past it and is printed in full.
TEST(DebugCounters, CountsGoOnPastTwoToThe31) {
  constexpr std::int64_t kBeyond = (std::int64_t{1} << 31) + 5;
  CDebugCounters counters;
  for (std::int64_t i = 0; i < kBeyond; ++i) {
    counters.IncrementInputRecords();
    counters.IncrementOutputRecords();
    counters.IncrementAggregateCount();
    counters.IncrementRejectPassesCount();
    counters.IncrementRejectRecordsCount();
    counters.IncrementCallCount_AddEntry();
  }
  const std::string n = "2147483653";
  EXPECT_EQ(ResultsMessage(counters), "Input Records: " + n + "\r\nOutput Records: " + n +
                                          "\r\nNumber of Aggregates: " + n +
                                          "\r\nExternal Passes Count: " + n +
                                          "\r\nExternal Passes Record Count: " + n);
  EXPECT_EQ(counters.CallCount_AddEntry(), kBeyond);
  counters.UpdateAggregationEntriesUsedMinMax(3000000000);
  counters.UpdateAggregationTableSizeMinMax(4294967296);
  const std::string debug = DebugMessage(counters, {true, 0, 16, 80});
  EXPECT_NE(debug.find("\tAddEntry Call Count: " + n + "\r\n"), std::string::npos) << debug;
  EXPECT_NE(debug.find("\tMax Aggregation Entries Used: 3000000000\r\n"), std::string::npos);
  EXPECT_NE(debug.find("\tMax Aggregation Table Size: 4294967296\r\n"), std::string::npos);
}

TEST(DebugCounters, SecondsHaveThreePlacesAndAPoint) {
  EXPECT_EQ(FormatSecondsThreePlaces(0), "0.000");
  EXPECT_EQ(FormatSecondsThreePlaces(12.5), "12.500");
  EXPECT_EQ(FormatSecondsThreePlaces(0.0004), "0.000");
  EXPECT_EQ(FormatSecondsThreePlaces(4294967.295), "4294967.295");
}

TEST(MemoryBudget, MegabyteFiguresUse64BitArithmetic) {
  EXPECT_EQ(WholeMegabytes(0), 0);
  EXPECT_EQ(WholeMegabytes(5ull << 30), 5120);
  EXPECT_EQ(WholeMegabytes(~0ull), 2147483647);
  EXPECT_EQ(DefaultMemoryMaximumMB(10), 8);
  EXPECT_EQ(DefaultMemoryMaximumMB(3), 2);
  EXPECT_EQ(DefaultMemoryMaximumMB(1), 1);
  EXPECT_EQ(DefaultMemoryMaximumMB(2000000000), 1600000000);
}

// A 32-bit process on a machine with 17,946 MB free has 2,047 MB of address
// space left: the table may not claim 80 % of the machine's memory, which it
// could never reach, but what its doubling still fits into.
TEST(MemoryBudget, TheDefaultMaximumFitsTheProcessAddressSpace) {
  EXPECT_EQ(DefaultMemoryMaximumMB(17946, 2047), 682);
  EXPECT_EQ(DefaultMemoryMaximumMB(17946, 3800), 1266);  // large-address-aware on 64-bit Windows
  EXPECT_EQ(DefaultMemoryMaximumMB(700, 2047), 560);     // a small machine: its memory binds
  EXPECT_EQ(DefaultMemoryMaximumMB(17946, WholeMegabytes(~0ull)), 14357);  // 64-bit: no bound
}

TEST(MemoryBudget, TableGrowsBelowALimitOrWhenALimitIsOff) {
  EXPECT_FALSE(MayTableGrow(100, 16, 50));
  EXPECT_TRUE(MayTableGrow(49, 16, 50));
  EXPECT_TRUE(MayTableGrow(10, 16, 5));
  EXPECT_TRUE(MayTableGrow(100, 0, 50));
  EXPECT_TRUE(MayTableGrow(100, 16, 0));
}

TEST(MemoryBudget, CapacityStartsAt16384AndDoubles) {
  EXPECT_EQ(GrownTableCapacity(0, 1), 16384);
  EXPECT_EQ(GrownTableCapacity(16384, 16384), 16384);
  EXPECT_EQ(GrownTableCapacity(16384, 16385), 32768);
  EXPECT_EQ(GrownTableCapacity(16384, 100000), 131072);
}

TEST(MemoryBudget, WorkingSetIsNeverReducedAndMaximumCoversMinimum) {
  const auto plan = PlanWorkingSetKB(16, 80, WorkingSetLimitsKB {200, 1380});
  EXPECT_EQ(plan.MinimumKB, 16384u);
  EXPECT_EQ(plan.MaximumKB, 81920u);
  EXPECT_FALSE(plan.Unchanged);
  const auto larger = PlanWorkingSetKB(16, 80, WorkingSetLimitsKB {20000, 90000});
  EXPECT_TRUE(larger.Unchanged);
  const auto inverted = PlanWorkingSetKB(100, 50, std::nullopt);
  EXPECT_EQ(inverted.MaximumKB, 102400u);
  const auto off = PlanWorkingSetKB(0, -1, std::nullopt);
  EXPECT_EQ(off.MinimumKB, 0u);
  EXPECT_EQ(off.MaximumKB, 0u);
  // 3 TB in KB does not fit 32 bits.
  EXPECT_EQ(PlanWorkingSetKB(16, 3000000, std::nullopt).MaximumKB, 3072000000ull);
}

TEST(MemoryBudget, SystemFiguresArePlausible) {
  COSMemoryInfo info;
  EXPECT_GT(info.PhysicalMemory(), 0);
  EXPECT_GT(info.PhysicalMemoryAvailableMB(), 0);
  EXPECT_LE(info.PhysicalMemoryAvailableMB(), info.PhysicalMemory());
  EXPECT_GE(info.MemoryCurrentlyUsedMB(), 2);  // this test binary is resident
}

TEST(Win32Process, PriorityClassRules) {
  EXPECT_FALSE(CWin32Process::IsValidPriorityClass(EPriorityClass_Realtime));
  EXPECT_TRUE(CWin32Process::IsValidPriorityClass(EPriorityClass_AboveNormal));
  EXPECT_EQ(EffectivePriorityClass(256, 10), EPriorityClass_BelowNormal);
  EXPECT_EQ(EffectivePriorityClass(32768, 4), EPriorityClass_High);
  EXPECT_EQ(EffectivePriorityClass(16384, 4), EPriorityClass_Idle);
  EXPECT_EQ(EffectivePriorityClass(32768, 5), EPriorityClass_AboveNormal);
  EXPECT_EQ(PriorityClassFromText("Realtime"), EPriorityClass_BelowNormal);
  EXPECT_EQ(PriorityClassFromText("Above Normal"), EPriorityClass_BelowNormal);
  EXPECT_EQ(PriorityClassFromText("aboveNormal"), EPriorityClass_AboveNormal);
  EXPECT_EQ(PriorityClassFromText("high"), EPriorityClass_High);
  EXPECT_EQ(PriorityClassName(EPriorityClass_AboveNormal), "Above Normal");
  EXPECT_EQ(PriorityClassName(256), "");
  EXPECT_EQ(PriorityClassName(0), "");
}

TEST(Win32Process, OwnProcessTakesBelowNormalAndAnUnknownProcessReadsZero) {
  CWin32Process own;
  own.SetPriorityClass(EPriorityClass_BelowNormal);
  EXPECT_EQ(own.PriorityClass(), EPriorityClass_BelowNormal);
  EXPECT_EQ(own.PriorityClassAsString(), "Below Normal");
  CWin32Process missing;
  missing.SetId(0x7FFFFFF0);
  EXPECT_EQ(missing.PriorityClass(), 0);
  EXPECT_EQ(missing.PriorityClassAsString(), "");
}

TEST(Win32Process, RunIdentifierIsEighteenDigitsOfUtcTime) {
  const std::string id = RunIdentifier();
  ASSERT_EQ(id.size(), 18u);
  for (const char c : id) EXPECT_TRUE(c >= '0' && c <= '9') << id;
  EXPECT_GE(std::stoi(id.substr(0, 4)), 2024);
  EXPECT_LE(std::stoi(id.substr(4, 2)), 12);
  EXPECT_LE(std::stoi(id.substr(14)), 999);
}

}  // namespace
}  // namespace quax::agg
