// The processors this process may run on: the thin platform part of
// quaxaggregate's default thread count.
#include <bit>
#include <cstdint>
#include <thread>

#include "tools/parallel_aggregator.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#endif

namespace quax::agg::tools {

int ProcessorsOfThisProcess() {
#ifdef _WIN32
  // The mask covers the processor group the process runs in: at most 64.
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
    return std::popcount(static_cast<std::uint64_t>(process));
  }
#else
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
#endif
  const unsigned known = std::thread::hardware_concurrency();
  return known > 0 ? static_cast<int>(known) : 1;
}

}  // namespace quax::agg::tools
