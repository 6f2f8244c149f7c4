#include "accounting_timer.h"

#include <gtest/gtest.h>

namespace quax {
namespace {

TEST(AccountingTimer, FirstExpiryIsOneIntervalAfterArmingInRelativeTicks) {
  EXPECT_EQ(ScheduleAccountingTimer(1).DueTime, -10'000'000);
  EXPECT_EQ(ScheduleAccountingTimer(300).DueTime, -3'000'000'000);
  // Computed in 64 bits for every interval a setting can hold.
  EXPECT_EQ(ScheduleAccountingTimer(INT32_MAX).DueTime, -INT64_C(21'474'836'470'000'000));
}

TEST(AccountingTimer, PeriodicWhileThePeriodFitsThirtyTwoBits) {
  EXPECT_EQ(ScheduleAccountingTimer(60).PeriodMilliseconds, 60'000);
  EXPECT_FALSE(ScheduleAccountingTimer(60).RearmedByRoutine());
  EXPECT_EQ(ScheduleAccountingTimer(2'147'483).PeriodMilliseconds, 2'147'483'000);
  EXPECT_FALSE(ScheduleAccountingTimer(2'147'483).RearmedByRoutine());
}

TEST(AccountingTimer, LongerIntervalsAreRearmedByTheRoutineInsteadOfCut) {
  const AccountingTimerSchedule schedule = ScheduleAccountingTimer(2'147'484);
  EXPECT_TRUE(schedule.RearmedByRoutine());
  EXPECT_EQ(schedule.PeriodMilliseconds, 0);
  EXPECT_EQ(schedule.DueTime, -INT64_C(21'474'840'000'000));
  EXPECT_TRUE(ScheduleAccountingTimer(INT32_MAX).RearmedByRoutine());
}

}  // namespace
}  // namespace quax
