#include "interval_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace quax {
namespace {

TEST(IntervalText, ShownInTheLargestUnitThatDividesIt) {
  const struct {
    std::int64_t Seconds;
    const char* Number;
    int Scale;
  } cases[] = {
      {5400, "90", kMinutes}, {86400, "24", kHours}, {61, "61", kSeconds}, {-3600, "1", kHours},
      {-900, "15", kMinutes}, {60, "1", kMinutes},   {1, "1", kSeconds},   {0, "0", kHours},
  };
  for (const auto& c : cases) {
    const ShownInterval shown = ShowInterval(c.Seconds);
    EXPECT_EQ(shown.Number, c.Number) << c.Seconds;
    EXPECT_EQ(shown.ScaleIndex, c.Scale) << c.Seconds;
  }
  // The most negative stored number has no positive counterpart of its type.
  EXPECT_EQ(ShowInterval(std::numeric_limits<std::int64_t>::min()).Number, "9223372036854775808");
  EXPECT_EQ(TimeScaleFactor(kSeconds), 1);
  EXPECT_EQ(TimeScaleFactor(kMinutes), 60);
  EXPECT_EQ(TimeScaleFactor(kHours), 3600);
  EXPECT_EQ(TimeScaleFactor(-1), 1);
}

TEST(IntervalText, WholeNumbersAreDigitsWithAnOptionalSignAndBlanks) {
  EXPECT_EQ(WholeNumber("42"), 42);
  EXPECT_EQ(WholeNumber(" -900 "), -900);
  EXPECT_EQ(WholeNumber("+7"), 7);
  for (const char* text : {"", " ", "-", "15s", "1.5", "abc", "1 2", "0x10"}) {
    EXPECT_FALSE(WholeNumber(text).has_value()) << text;
  }
  EXPECT_EQ(WholeNumber("99999999999999999999999"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(WholeNumber("-99999999999999999999999"), -std::numeric_limits<std::int64_t>::max());
}

TEST(IntervalText, BoxesTakeDigitsAndBackspaceAndFallBackToOne) {
  for (const int key : {int{'0'}, int{'5'}, int{'9'}, 8}) EXPECT_TRUE(IntervalKeyPasses(key)) << key;
  for (const int key : {int{'a'}, int{'-'}, int{'+'}, int{' '}, int{'.'}, 22, 13, 0}) EXPECT_FALSE(IntervalKeyPasses(key)) << key;
  EXPECT_EQ(LeftIntervalText("15"), "15");
  EXPECT_EQ(LeftIntervalText("0"), "1");
  EXPECT_EQ(LeftIntervalText(""), "1");
  EXPECT_EQ(LeftIntervalText("x"), "1");
  EXPECT_EQ(LeftIntervalText("-5"), "1");
}

TEST(IntervalText, StoredIntervalsFitASigned32BitSetting) {
  EXPECT_EQ(StoredInterval("90", kMinutes, true), 5400);
  EXPECT_EQ(StoredInterval("1", kHours, false), -3600);
  // Empty or negative boxes are stored as 60 of their unit.
  EXPECT_EQ(StoredInterval("", kSeconds, true), 60);
  EXPECT_EQ(StoredInterval("-5", kMinutes, true), 3600);
  EXPECT_EQ(StoredInterval("2147483647", kSeconds, true), 2147483647);
  EXPECT_EQ(StoredInterval("2147483647", kSeconds, false), -2147483647);
  EXPECT_EQ(StoredInterval("596523", kHours, true), 2147482800);
  EXPECT_FALSE(StoredInterval("596524", kHours, true).has_value());
  EXPECT_FALSE(StoredInterval("2147483648", kSeconds, true).has_value());
  EXPECT_FALSE(StoredInterval("99999999999999999999", kMinutes, false).has_value());
  EXPECT_EQ(IntervalTooLargeText("Sampling Interval"), "Sampling Interval cannot be more than 2147483647 seconds.");
}

}  // namespace
}  // namespace quax
