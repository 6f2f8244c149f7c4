// The collector's run: start-up, one wait loop on the stop event, the two
// timers and the running processes, and the stop sequence.
#pragma once

#include <windows.h>

#include <cstdint>

namespace quax {

// Runs until RequestStop or a fatal error; sets *serviceExitCode to 0, to
// 3 (ERROR_PATH_NOT_FOUND) when the log directory is not valid, or to
// ERROR_SERVICE_SPECIFIC_ERROR after an internal error.
void RunCollector(DWORD argumentCount, char** arguments, DWORD* serviceExitCode) noexcept;

// Ends a run from another thread (control handlers). False, doing nothing,
// when no run can take a stop: before the run has created its stop event or
// once it has closed it. The run does not close it while a request is being
// handed over.
bool RequestStop() noexcept;

// ---- Timer arming (plain decisions, tested directly) --------------------

// Relative due time of "after N seconds", in 100-nanosecond units.
LARGE_INTEGER DueTimeAfterSeconds(std::int32_t seconds) noexcept;

// The next local time of day hour:minute strictly after localNow (today, or
// tomorrow when that moment has come), as a local FILETIME.
FILETIME NextLocalTimeOfDay(const SYSTEMTIME& localNow, WORD hour, WORD minute) noexcept;

// Sampling interval and time of day as the timers can use them: a sampling
// interval below 1 second becomes 1, a time of day out of range 00:00.
std::int32_t UsableSamplingInterval(std::int32_t seconds) noexcept;
bool IsValidTimeOfDay(const SYSTEMTIME& time) noexcept;

}  // namespace quax
