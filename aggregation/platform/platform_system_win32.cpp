#include "platform/platform_system.h"

#include <windows.h>
#include <objbase.h>
#include <psapi.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "unique_handle.h"

namespace quax::agg::platform {
namespace {
constexpr DWORD kPriorityAccess = PROCESS_QUERY_INFORMATION | PROCESS_SET_INFORMATION;  // 0x600
}

bool QueryMemoryStatus(MemoryStatus& out) noexcept {
  MEMORYSTATUSEX status {};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return false;
  out.TotalPhysicalBytes = status.ullTotalPhys;
  out.AvailablePhysicalBytes = status.ullAvailPhys;
  out.AvailableVirtualBytes = status.ullAvailVirtual;
  return true;
}

bool QueryWorkingSetBytes(std::uint64_t& out) noexcept {
  PROCESS_MEMORY_COUNTERS counters {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return false;
  out = counters.WorkingSetSize;
  return true;
}

bool QueryWorkingSetLimits(std::uint64_t& minimumBytes, std::uint64_t& maximumBytes) noexcept {
  SIZE_T minimum = 0;
  SIZE_T maximum = 0;
  if (!GetProcessWorkingSetSize(GetCurrentProcess(), &minimum, &maximum)) return false;
  minimumBytes = minimum;
  maximumBytes = maximum;
  return true;
}

bool SetWorkingSetLimits(std::uint64_t minimumBytes, std::uint64_t maximumBytes) noexcept {
  const std::uint64_t limit = static_cast<SIZE_T>(-1);
  if (minimumBytes > limit || maximumBytes > limit) return false;
  return SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(minimumBytes),
                                  static_cast<SIZE_T>(maximumBytes)) != FALSE;
}

std::uint32_t CurrentProcessId() noexcept { return GetCurrentProcessId(); }

bool ProcessIsRunning(std::uint32_t processId) noexcept {
  const quax::unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
  if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;  // denied: it exists
  return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

std::int32_t GetProcessPriorityClass(std::uint32_t processId) noexcept {
  const quax::unique_handle process(OpenProcess(kPriorityAccess, FALSE, processId));
  if (!process) return 0;
  return static_cast<std::int32_t>(GetPriorityClass(process.get()));
}

bool SetProcessPriorityClass(std::uint32_t processId, std::int32_t priorityClass) noexcept {
  const quax::unique_handle process(OpenProcess(kPriorityAccess, FALSE, processId));
  if (!process) return false;
  return SetPriorityClass(process.get(), static_cast<DWORD>(priorityClass)) != FALSE;
}

std::int32_t OsMajorVersion() noexcept {
  OSVERSIONINFOA info {};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info)) return 0;
#pragma GCC diagnostic pop
  return static_cast<std::int32_t>(info.dwMajorVersion);
}

bool NewGuid(std::array<std::uint8_t, 16>& out) noexcept {
  GUID guid {};
  if (FAILED(CoCreateGuid(&guid))) return false;
  static_assert(sizeof guid == 16);
  std::memcpy(out.data(), &guid, sizeof guid);
  return true;
}

void BulkMemoryRelease::operator()(void* memory) const noexcept { std::free(memory); }

// Large pages need a privilege on Windows: plain heap memory.
BulkMemory AllocateBulkMemory(std::size_t bytes) {
  BulkMemory memory(std::malloc(bytes));
  if (!memory) throw std::bad_alloc();
  return memory;
}

}  // namespace quax::agg::platform
