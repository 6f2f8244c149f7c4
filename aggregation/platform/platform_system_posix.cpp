#include "platform/platform_system.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <string>

namespace quax::agg::platform {
namespace {

// A "Name:   1234 kB" line of /proc/meminfo or /proc/self/status.
bool ReadKilobyteField(const char* path, const char* name, std::uint64_t& bytes) noexcept {
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return false;
  char line[256];
  const std::size_t nameLength = std::strlen(name);
  bool found = false;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (std::strncmp(line, name, nameLength) == 0 && line[nameLength] == ':') {
      unsigned long long kilobytes = 0;
      if (std::sscanf(line + nameLength + 1, "%llu", &kilobytes) == 1) {
        bytes = static_cast<std::uint64_t>(kilobytes) * 1024u;
        found = true;
      }
      break;
    }
  }
  std::fclose(file);
  return found;
}

struct NiceClass {
  std::int32_t PriorityClass;
  int Nice;
};
// From the highest class down; a nice value maps to the first class whose
// nice value it does not exceed.
constexpr NiceClass kNiceClasses[] = {
    {256, -20}, {128, -10}, {32768, -5}, {32, 0}, {16384, 10}, {64, 19}};

}  // namespace

bool QueryMemoryStatus(MemoryStatus& out) noexcept {
  MemoryStatus status;
  if (!ReadKilobyteField("/proc/meminfo", "MemTotal", status.TotalPhysicalBytes)) return false;
  if (!ReadKilobyteField("/proc/meminfo", "MemAvailable", status.AvailablePhysicalBytes)) {
    return false;
  }
  // An address-space limit bounds what the process can still take.
  rlimit limit {};
  std::uint64_t mapped = 0;
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      ReadKilobyteField("/proc/self/status", "VmSize", mapped)) {
    const auto bound = static_cast<std::uint64_t>(limit.rlim_cur);
    status.AvailableVirtualBytes = bound > mapped ? bound - mapped : 0;
  }
  out = status;
  return true;
}

bool QueryWorkingSetBytes(std::uint64_t& out) noexcept {
  return ReadKilobyteField("/proc/self/status", "VmRSS", out);
}

bool QueryWorkingSetLimits(std::uint64_t&, std::uint64_t&) noexcept { return false; }
bool SetWorkingSetLimits(std::uint64_t, std::uint64_t) noexcept { return false; }

std::uint32_t CurrentProcessId() noexcept { return static_cast<std::uint32_t>(::getpid()); }

bool ProcessIsRunning(std::uint32_t processId) noexcept {
  // 0 and ids beyond pid_t would name a process group or none.
  if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX)) return false;
  return ::kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM;
}

std::int32_t GetProcessPriorityClass(std::uint32_t processId) noexcept {
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(processId));
  if (nice == -1 && errno != 0) return 0;
  for (const NiceClass& entry : kNiceClasses) {
    if (nice <= entry.Nice) return entry.PriorityClass;
  }
  return 64;
}

bool SetProcessPriorityClass(std::uint32_t processId, std::int32_t priorityClass) noexcept {
  for (const NiceClass& entry : kNiceClasses) {
    if (entry.PriorityClass == priorityClass) {
      return ::setpriority(PRIO_PROCESS, static_cast<id_t>(processId), entry.Nice) == 0;
    }
  }
  return false;
}

std::int32_t OsMajorVersion() noexcept { return 10; }

bool NewGuid(std::array<std::uint8_t, 16>& out) noexcept {
  std::FILE* source = std::fopen("/dev/urandom", "rb");
  if (source == nullptr) return false;
  std::array<std::uint8_t, 16> bytes {};
  const bool ok = std::fread(bytes.data(), 1, bytes.size(), source) == bytes.size();
  std::fclose(source);
  if (!ok) return false;
  bytes[7] = static_cast<std::uint8_t>((bytes[7] & 0x0F) | 0x40);  // version 4, little-endian field
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // variant
  out = bytes;
  return true;
}

void BulkMemoryRelease::operator()(void* memory) const noexcept { std::free(memory); }

BulkMemory AllocateBulkMemory(std::size_t bytes) {
  constexpr std::size_t kLargePage = std::size_t{2} << 20;
  const std::size_t rounded = (bytes + kLargePage - 1) / kLargePage * kLargePage;
  BulkMemory memory(std::aligned_alloc(kLargePage, rounded));
  if (!memory) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  madvise(memory.get(), rounded, MADV_HUGEPAGE);  // only a wish: without it the pages are small
#endif
  return memory;
}

}  // namespace quax::agg::platform
