#include "accounting_timer.h"

#include "usage_record.h"

namespace quax {

AccountingTimerSchedule ScheduleAccountingTimer(std::int32_t seconds) noexcept {
  AccountingTimerSchedule schedule;
  schedule.DueTime = -std::int64_t{seconds} * static_cast<std::int64_t>(kTicksPerSecond);
  schedule.PeriodMilliseconds = seconds <= kLongestPeriodicInterval ? seconds * 1000 : 0;
  return schedule;
}

}  // namespace quax
