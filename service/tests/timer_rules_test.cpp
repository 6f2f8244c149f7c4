#include <gtest/gtest.h>

#include "event_loop.h"
#include "interval_command.h"

namespace quax {
namespace {

SYSTEMTIME At(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD milliseconds) {
  return {year, month, 0, day, hour, minute, second, milliseconds};
}

SYSTEMTIME Broken(const FILETIME& time) {
  SYSTEMTIME parts;
  FileTimeToSystemTime(&time, &parts);
  return parts;
}

TEST(TimerRules, AfterSecondsIsRelativeInTicks) {
  EXPECT_EQ(DueTimeAfterSeconds(1).QuadPart, -10'000'000);
  EXPECT_EQ(DueTimeAfterSeconds(86400).QuadPart, -864'000'000'000);
  EXPECT_EQ(DueTimeAfterSeconds(2147483647).QuadPart, -21'474'836'470'000'000);
}

TEST(TimerRules, TimeOfDayLaterTodayOrTomorrow) {
  SYSTEMTIME target = Broken(NextLocalTimeOfDay(At(2026, 12, 6, 10, 0, 0, 0), 0, 0));
  EXPECT_EQ(target.wDay, 7);
  EXPECT_EQ(target.wHour, 0);
  target = Broken(NextLocalTimeOfDay(At(2026, 12, 6, 10, 0, 0, 0), 23, 45));
  EXPECT_EQ(target.wDay, 6);
  EXPECT_EQ(target.wHour, 23);
  EXPECT_EQ(target.wMinute, 45);
  EXPECT_EQ(target.wSecond, 0);
}

TEST(TimerRules, ExactlyAtTheTimeMeansTheNextDay) {
  SYSTEMTIME target = Broken(NextLocalTimeOfDay(At(2026, 12, 6, 0, 0, 0, 0), 0, 0));
  EXPECT_EQ(target.wDay, 7);
  target = Broken(NextLocalTimeOfDay(At(2026, 12, 31, 23, 59, 59, 999), 23, 59));
  EXPECT_EQ(target.wYear, 2027);
  EXPECT_EQ(target.wMonth, 1);
  EXPECT_EQ(target.wDay, 1);
  EXPECT_EQ(target.wMinute, 59);
}

TEST(TimerRules, UnusableValuesGetSoundOnes) {
  EXPECT_TRUE(IsValidTimeOfDay(At(0, 0, 0, 23, 59, 0, 0)));
  EXPECT_FALSE(IsValidTimeOfDay(At(0, 0, 0, 24, 0, 0, 0)));
  EXPECT_FALSE(IsValidTimeOfDay(At(0, 0, 0, 7, 60, 0, 0)));
  EXPECT_FALSE(IsValidTimeOfDay(At(0, 0, 0, 0xFFFF, 0, 0, 0)));  // "-1" stored
}

TEST(IntervalCommand, DateAndTimeStamps) {
  const IntervalStamp stamp = FormatIntervalStamp(At(2006, 3, 15, 0, 0, 7, 500));
  EXPECT_STREQ(stamp.Date, "20060315");
  EXPECT_STREQ(stamp.Time, "00:00:07");
}

}  // namespace
}  // namespace quax
