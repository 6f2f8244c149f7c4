#include "engine/memory_budget.h"

#include <algorithm>
#include <limits>

namespace quax::agg {
namespace {
constexpr std::uint64_t kBytesPerMB = 1048576;
constexpr std::uint64_t kKBPerMB = 1024;
}  // namespace

std::int32_t WholeMegabytes(std::uint64_t bytes) noexcept {
  const std::uint64_t mb = bytes / kBytesPerMB;
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(mb > kMax ? kMax : mb);
}

std::int32_t DefaultMemoryMaximumMB(std::int32_t availableMB) noexcept {
  // 0.8 * n in exact integer arithmetic: 4n / 5 with the remainder deciding.
  const std::int64_t scaled = std::int64_t{availableMB} * 4;
  std::int64_t quotient = scaled / 5;
  const std::int64_t remainder2 = (scaled % 5) * 2;
  if (remainder2 > 5 || (remainder2 == 5 && (quotient % 2) != 0)) ++quotient;
  return static_cast<std::int32_t>(quotient);
}

std::int32_t DefaultMemoryMaximumMB(std::int32_t availablePhysicalMB, std::int32_t availableVirtualMB) noexcept {
  return std::min(DefaultMemoryMaximumMB(availablePhysicalMB), availableVirtualMB / 3);
}

bool MayTableGrow(std::int32_t usedMB, std::int32_t memoryMinimumMB,
                  std::int32_t memoryMaximumMB) noexcept {
  return memoryMaximumMB < 1 || usedMB < memoryMaximumMB || memoryMinimumMB < 1 ||
         usedMB < memoryMinimumMB;
}

std::int64_t GrownTableCapacity(std::int64_t currentCapacity, std::int64_t entryNumber) noexcept {
  if (currentCapacity >= entryNumber) return currentCapacity;
  std::int64_t capacity = currentCapacity > 0 ? currentCapacity : kInitialTableCapacity;
  while (capacity < entryNumber) capacity *= 2;
  return capacity;
}

WorkingSetRequestKB PlanWorkingSetKB(std::int32_t minimumMB, std::int32_t maximumMB,
                                     std::optional<WorkingSetLimitsKB> current) noexcept {
  WorkingSetRequestKB plan;
  plan.MinimumKB = minimumMB >= 1 ? static_cast<std::uint64_t>(minimumMB) * kKBPerMB : 0;
  plan.MaximumKB = maximumMB > 0 ? static_cast<std::uint64_t>(maximumMB) * kKBPerMB : 0;
  if (current) {
    if (current->MinimumKB > plan.MinimumKB) plan.MinimumKB = current->MinimumKB;
    if (current->MaximumKB > plan.MaximumKB) plan.MaximumKB = current->MaximumKB;
    if (plan.MinimumKB == current->MinimumKB && plan.MaximumKB == current->MaximumKB) {
      plan.Unchanged = true;
      return plan;
    }
  }
  if (plan.MinimumKB > plan.MaximumKB) plan.MaximumKB = plan.MinimumKB;
  return plan;
}

void COSMemoryInfo::Refresh() noexcept {
  platform::QueryMemoryStatus(status_);
  platform::QueryWorkingSetBytes(workingSetBytes_);
}

std::int32_t COSMemoryInfo::MemoryCurrentlyUsedMB() const noexcept {
  const std::int32_t mb = WholeMegabytes(workingSetBytes_);
  return mb == std::numeric_limits<std::int32_t>::max() ? mb : mb + 1;
}

bool COSMemoryInfo::SetWorkingSetSizeMB(std::int32_t minimumMB, std::int32_t maximumMB) noexcept {
  std::optional<WorkingSetLimitsKB> current;
  std::uint64_t minimumBytes = 0;
  std::uint64_t maximumBytes = 0;
  if (platform::QueryWorkingSetLimits(minimumBytes, maximumBytes)) {
    current = WorkingSetLimitsKB {minimumBytes / 1024, maximumBytes / 1024};
  }
  const WorkingSetRequestKB plan = PlanWorkingSetKB(minimumMB, maximumMB, current);
  if (plan.Unchanged) return true;
  return platform::SetWorkingSetLimits(plan.MinimumKB * 1024, plan.MaximumKB * 1024);
}

}  // namespace quax::agg
