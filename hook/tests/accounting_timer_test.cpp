#include "accounting_timer.h"

#include <gtest/gtest.h>

#include <string>

#include "wow64_path.h"

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

// A 32-bit host names System32 as Sysnative; every other folder as it is.
TEST(Wow64LogFolder, OnlyFoldersInSystem32BecomeSysnative) {
  TextField out = "untouched";
  ASSERT_TRUE(SysnativePath("C:\\Windows\\System32\\LogFiles\\QUAX", "C:\\Windows", out));
  EXPECT_STREQ(out, "C:\\Windows\\Sysnative\\LogFiles\\QUAX");
  ASSERT_TRUE(SysnativePath("c:\\WINDOWS\\system32", "C:\\Windows\\", out));
  EXPECT_STREQ(out, "C:\\Windows\\Sysnative");

  CopyText(out, "untouched");
  for (const char* other : {"C:\\Windows\\System320\\Logs", "C:\\Windows\\SysWOW64", "D:\\Windows\\System32",
                            "C:\\Program Files\\QUAX\\QUAXWinProcessLogs", "", "C:\\Windows"}) {
    EXPECT_FALSE(SysnativePath(other, "C:\\Windows", out)) << other;
  }
  EXPECT_STREQ(out, "untouched");

  // The Sysnative form is one character longer: 259 characters fit the
  // field, 260 do not.
  const std::string folder = "C:\\Windows\\System32\\";
  const std::string fits = folder + std::string(kTextFieldSize - 2 - folder.size(), 'd');
  ASSERT_TRUE(SysnativePath(fits.c_str(), "C:\\Windows", out));
  EXPECT_EQ(std::string(out).size(), kTextFieldSize - 1);
  CopyText(out, "untouched");
  EXPECT_FALSE(SysnativePath((fits + "d").c_str(), "C:\\Windows", out));
  EXPECT_STREQ(out, "untouched");
}

}  // namespace
}  // namespace quax
