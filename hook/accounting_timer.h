// How the in-process collector's accounting timer is armed for an interval.
// Portable: the Win32 side only passes the figures to SetWaitableTimer.
#pragma once

#include <cstdint>

namespace quax {

struct AccountingTimerSchedule {
  // First expiry, relative to arming, in 100-nanosecond units (negative).
  std::int64_t DueTime = 0;
  // Period in milliseconds; 0 when the interval does not fit the timer's
  // signed 32-bit period, and the timer routine re-arms the timer instead.
  std::int32_t PeriodMilliseconds = 0;

  bool RearmedByRoutine() const noexcept { return PeriodMilliseconds == 0; }
};

// Longest interval a periodic timer can express (2,147,483,000 ms).
inline constexpr std::int32_t kLongestPeriodicInterval = INT32_MAX / 1000;

// The schedule for an accounting interval of `seconds` (> 0).
AccountingTimerSchedule ScheduleAccountingTimer(std::int32_t seconds) noexcept;

}  // namespace quax
