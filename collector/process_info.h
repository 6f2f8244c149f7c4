// CProcessInfo: the collector's picture of one process. The first refresh
// reads who the process is (names, user, project, parent, affinity); every
// refresh reads its usage, keeping each cumulative figure's previous value
// so that the log writer can write the usage between two refreshes.
#pragma once

#include <windows.h>

#include "unique_handle.h"
#include "usage_record.h"

namespace quax {

// Where the first refresh takes the process name and image directory from.
enum class ProcessNaming {
  // The image path in the process parameters; the project comes from the
  // process environment.
  ImagePath,
  // The first module of the module list, read again while it gives no name;
  // no project is read. Used for the collector's own process.
  ModuleList,
};

inline FileTimeTicks TicksOf(const FILETIME& time) noexcept {
  return (FileTimeTicks{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

inline FILETIME FileTimeOf(FileTimeTicks ticks) noexcept {
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

class CProcessInfo : public ProcessFigures {
 public:
  // Access the collector needs on a monitored process.
  static constexpr DWORD kProcessAccess = SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
  static constexpr int kModuleListAttempts = 300;
  static constexpr DWORD kModuleListRetryMilliseconds = 100;

  CProcessInfo() noexcept;
  ~CProcessInfo();
  CProcessInfo(const CProcessInfo&) = delete;
  CProcessInfo& operator=(const CProcessInfo&) = delete;

  // Reads the process; false when it cannot be opened (or, for the two
  // pseudo processes, when the system process list cannot be read).
  bool Refresh() noexcept;
  bool IsRunning() const noexcept;
  // A UTC FILETIME broken down, in local time when UseLocalTime is set.
  bool ConvertFileTime(const FILETIME* time, DateTimeParts* out) const noexcept;
  bool ConvertFileTime(FileTimeTicks ticks, DateTimeParts* out) const noexcept;
  // Clears every figure but the process id; handle and flags stay.
  void ResetCounters() noexcept;
  // Sets the process to read and asks for a full first refresh.
  void SetProcessId(DWORD processId) noexcept;
  // With ModuleList, a first refresh reads the module list up to `attempts`
  // times, pausing after each attempt that gives no name.
  void SetNaming(ProcessNaming naming, int attempts = kModuleListAttempts) noexcept;

  HANDLE ProcessHandle() const noexcept { return handle_.get(); }
  bool HasProcessHandle() const noexcept { return static_cast<bool>(handle_); }

  // The process id the System process has on this Windows version.
  static DWORD SystemProcessId() noexcept;

  bool IoCountersAvailable = false;
  bool FirstRefresh = true;
  bool UseLocalTime = true;
  // Set by the in-process collector just before its end record, so that the
  // record is written as for an ended process.
  bool Exiting = false;

 private:
  bool RefreshProcess() noexcept;
  bool RefreshPseudoProcess() noexcept;
  void ReadStaticFacts() noexcept;
  void ReadNamesAndProject(ULONG_PTR pebAddress) noexcept;
  void ReadNamesFromModuleList() noexcept;
  void ReadUser() noexcept;
  void ReadAffinity() noexcept;
  void ReadUsage() noexcept;
  void ReadTimes() noexcept;

  unique_handle handle_;
  ProcessNaming naming_ = ProcessNaming::ImagePath;
  int moduleListAttempts_ = kModuleListAttempts;
};

}  // namespace quax
