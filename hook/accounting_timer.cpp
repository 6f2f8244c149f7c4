#include "accounting_timer.h"

namespace quax {

AccountingTimerSchedule ScheduleAccountingTimer(std::int32_t seconds) noexcept {
  constexpr std::int64_t kTicksPerSecond = 10'000'000;
  AccountingTimerSchedule schedule;
  schedule.DueTime = -std::int64_t{seconds} * kTicksPerSecond;
  schedule.PeriodMilliseconds = seconds <= kLongestPeriodicInterval ? seconds * 1000 : 0;
  return schedule;
}

}  // namespace quax
