// The thin platform layer under the engine: memory figures of the machine and
// of this process, working-set limits, process priority, the process id and
// fresh GUIDs. One implementation over Win32 (platform_system_win32.cpp) and
// one over POSIX/Linux (platform_system_posix.cpp). All byte counts are
// 64-bit so that machines beyond 4 GiB are reported correctly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace quax::agg::platform {

struct MemoryStatus {
  std::uint64_t TotalPhysicalBytes = 0;
  std::uint64_t AvailablePhysicalBytes = 0;
  // Address space this process can still take (a 32-bit process has 2 or
  // 4 GB in all, whatever the machine); the maximum when it has no bound.
  std::uint64_t AvailableVirtualBytes = UINT64_MAX;
};

// False (out unchanged) when the system does not tell.
bool QueryMemoryStatus(MemoryStatus& out) noexcept;
// Resident memory of this process (Windows: the working set; Linux: the
// resident set).
bool QueryWorkingSetBytes(std::uint64_t& out) noexcept;
// Working-set limits of this process in bytes. Systems without the notion
// answer false.
bool QueryWorkingSetLimits(std::uint64_t& minimumBytes, std::uint64_t& maximumBytes) noexcept;
bool SetWorkingSetLimits(std::uint64_t minimumBytes, std::uint64_t maximumBytes) noexcept;

std::uint32_t CurrentProcessId() noexcept;
// Whether a process of this id runs now (on this machine). One that exists
// but may not be examined runs; a reused id answers for the new process.
bool ProcessIsRunning(std::uint32_t processId) noexcept;

// Priority class (the Windows values 32, 64, 128, 256, 16384, 32768) of a
// process; 0 when it cannot be opened. On POSIX the class is derived from
// the nice value.
std::int32_t GetProcessPriorityClass(std::uint32_t processId) noexcept;
bool SetProcessPriorityClass(std::uint32_t processId, std::int32_t priorityClass) noexcept;
// Major version of the operating system (the old systems below 5 lack the
// above/below-normal classes).
std::int32_t OsMajorVersion() noexcept;

// Memory for a large array that is filled once and read back. Linux gives
// it in 2 MB pages where it can (transparent huge pages), which spares a
// page fault for every 4 KB; elsewhere it is plain heap memory. Throws
// std::bad_alloc.
struct BulkMemoryRelease {
  void operator()(void* memory) const noexcept;
};
using BulkMemory = std::unique_ptr<void, BulkMemoryRelease>;
BulkMemory AllocateBulkMemory(std::size_t bytes);

// 16 GUID bytes in the platform's layout; false when none could be made.
bool NewGuid(std::array<std::uint8_t, 16>& out) noexcept;

}  // namespace quax::agg::platform
