// The collector's run: start-up, one wait loop on the stop event, the two
// timers and the running processes, and the stop sequence.
#pragma once

#include <windows.h>

#include <cstdint>

#include "diagnostics.h"

namespace quax {

// Runs until RequestStop or a fatal error; sets *serviceExitCode to 0 after
// a stop, 3 (ERROR_PATH_NOT_FOUND) when the log directory is not valid, the
// Win32 error of the call whose failure ended the run (start-up, the wait, a
// timer re-armed), or ERROR_SERVICE_SPECIFIC_ERROR after an internal error
// (running out of memory, or a failed call that left no error code).
void RunCollector(DWORD argumentCount, char** arguments, DWORD* serviceExitCode) noexcept;

// Ends a run from another thread (control handlers). A request that comes
// before the run has created its stop event is kept, and the run stops as
// soon as it has one. False, doing nothing, once the run has ended (until
// another run begins). The run does not close its stop event while a request
// is being handed over.
bool RequestStop() noexcept;

// ---- Calls a test makes fail ---------------------------------------------

// The system calls whose failure ends a run and that cannot be made to fail
// for real; a run uses the ones set when it begins (the system's unless a
// test has set others).
struct RunPlatform {
  decltype(&::OpenProcessToken) OpenToken = &::OpenProcessToken;
  decltype(&EnablePrivilege) EnableTokenPrivilege = &EnablePrivilege;
  decltype(&::CreateWaitableTimerA) CreateTimer = &::CreateWaitableTimerA;
  decltype(&::SetWaitableTimer) ArmTimer = &::SetWaitableTimer;
  decltype(&::CreateEventA) CreateStopEvent = &::CreateEventA;
  decltype(&::WaitForMultipleObjects) WaitForAny = &::WaitForMultipleObjects;
};
void SetRunPlatform(const RunPlatform& platform) noexcept;

// ---- Timer arming (plain decisions, tested directly) --------------------

// Relative due time of "after N seconds", in 100-nanosecond units.
LARGE_INTEGER DueTimeAfterSeconds(std::int32_t seconds) noexcept;

// The next local time of day hour:minute strictly after localNow (today, or
// tomorrow when that moment has come), as a local FILETIME.
FILETIME NextLocalTimeOfDay(const SYSTEMTIME& localNow, WORD hour, WORD minute) noexcept;

// Whether the accounting timer can end intervals at this time of day (else
// it uses 00:00).
bool IsValidTimeOfDay(const SYSTEMTIME& time) noexcept;

}  // namespace quax
