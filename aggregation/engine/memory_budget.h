// The memory budget of the aggregation table: COSMemoryInfo (memory figures
// of the machine and of this process) and the plain rules that decide how
// far the working set may grow and whether the table may take a new key.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/platform_system.h"

namespace quax::agg {

// Whole megabytes of a byte count, saturated at the 32-bit maximum.
std::int32_t WholeMegabytes(std::uint64_t bytes) noexcept;

// MemoryMaximum's default: 80 % of the available MB, rounded to the nearest
// whole number with halves to even.
std::int32_t DefaultMemoryMaximumMB(std::int32_t availableMB) noexcept;
// The same bounded by the process's own address space: at most a third of
// the virtual memory it can still take, since the table and the key map
// grow by doubling (old and new storage live at once) after the budget
// allowed them. Binds in a 32-bit process on a machine with more free
// memory than its 2 or 4 GB of address space.
std::int32_t DefaultMemoryMaximumMB(std::int32_t availablePhysicalMB, std::int32_t availableVirtualMB) noexcept;

// May the table take a new key? Yes when either limit is off (below 1) or
// the memory in use is below it.
bool MayTableGrow(std::int32_t usedMB, std::int32_t memoryMinimumMB,
                  std::int32_t memoryMaximumMB) noexcept;

// Table capacity that holds `entryNumber` entries: the current capacity
// (16,384 for an empty table) doubled until it suffices.
std::int64_t GrownTableCapacity(std::int64_t currentCapacity, std::int64_t entryNumber) noexcept;
inline constexpr std::int64_t kInitialTableCapacity = 16384;

// Working-set limits to request, in KB, from the wanted MB figures (a value
// below 1 asks for nothing) and the current limits when known: never below
// the current ones, and the maximum at least the minimum.
struct WorkingSetRequestKB {
  std::uint64_t MinimumKB = 0;
  std::uint64_t MaximumKB = 0;
  bool Unchanged = false;  // equals the current limits: nothing to set
};
struct WorkingSetLimitsKB {
  std::uint64_t MinimumKB = 0;
  std::uint64_t MaximumKB = 0;
};
WorkingSetRequestKB PlanWorkingSetKB(std::int32_t minimumMB, std::int32_t maximumMB,
                                     std::optional<WorkingSetLimitsKB> current) noexcept;

class COSMemoryInfo {
 public:
  COSMemoryInfo() { Refresh(); }

  void Refresh() noexcept;
  // Working set in whole MB plus 1 (0 bytes gives 1).
  std::int32_t MemoryCurrentlyUsedMB() const noexcept;
  std::int32_t PhysicalMemory() const noexcept { return WholeMegabytes(status_.TotalPhysicalBytes); }
  std::int32_t PhysicalMemoryAvailableMB() const noexcept {
    return WholeMegabytes(status_.AvailablePhysicalBytes);
  }
  std::int32_t VirtualMemoryAvailableMB() const noexcept {
    return WholeMegabytes(status_.AvailableVirtualBytes);
  }
  bool SetWorkingSetSizeMB(std::int32_t minimumMB, std::int32_t maximumMB) noexcept;

 private:
  platform::MemoryStatus status_;
  std::uint64_t workingSetBytes_ = 0;
};

}  // namespace quax::agg
