#include "settings_text.h"

#include <gtest/gtest.h>

namespace quax {
namespace {

TEST(SettingsText, YesFlagIsYesInAnyCaseOnly) {
  EXPECT_TRUE(ParseYesFlag("YES"));
  EXPECT_TRUE(ParseYesFlag("Yes"));
  EXPECT_TRUE(ParseYesFlag("yes"));
  for (const char* text : {"no", "Y", "1", "true", "YES ", " YES", "YESS", ""}) {
    EXPECT_FALSE(ParseYesFlag(text)) << text;
  }
  EXPECT_FALSE(ParseYesFlag(nullptr));
}

TEST(SettingsText, DecimalNumberFollowsTheAtolRule) {
  EXPECT_EQ(ParseDecimalNumber("86400"), 86400);
  EXPECT_EQ(ParseDecimalNumber("15s"), 15);
  EXPECT_EQ(ParseDecimalNumber("  \t-5"), -5);
  EXPECT_EQ(ParseDecimalNumber("+44"), 44);
  EXPECT_EQ(ParseDecimalNumber("abc"), 0);
  EXPECT_EQ(ParseDecimalNumber(""), 0);
  EXPECT_EQ(ParseDecimalNumber("- 5"), 0);
  EXPECT_EQ(ParseDecimalNumber(nullptr), 0);
}

TEST(SettingsText, DecimalNumberHoldsAtThe32BitLimits) {
  EXPECT_EQ(ParseDecimalNumber("2147483647"), 2147483647);
  EXPECT_EQ(ParseDecimalNumber("2147483648"), 2147483647);
  EXPECT_EQ(ParseDecimalNumber("99999999999999999999999"), 2147483647);
  EXPECT_EQ(ParseDecimalNumber("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(ParseDecimalNumber("-99999999999999999999"), -2147483647 - 1);
}

TEST(SettingsText, TimeOfDayNeedsExactlyFiveCharacters) {
  EXPECT_EQ(ParseTimeOfDay("23:45").Hour, 23);
  EXPECT_EQ(ParseTimeOfDay("23:45").Minute, 45);
  EXPECT_EQ(ParseTimeOfDay("07.30").Hour, 7);  // the separator is not examined
  EXPECT_EQ(ParseTimeOfDay("07.30").Minute, 30);
  EXPECT_EQ(ParseTimeOfDay("7:30").Hour, 0);  // four characters
  EXPECT_EQ(ParseTimeOfDay("7:30").Minute, 0);
  EXPECT_EQ(ParseTimeOfDay("07:300").Minute, 0);
  EXPECT_EQ(ParseTimeOfDay("99:99").Hour, 99);  // range is the caller's business
  EXPECT_EQ(ParseTimeOfDay("ab:cd").Minute, 0);
  EXPECT_EQ(ParseTimeOfDay(nullptr).Hour, 0);
}

}  // namespace
}  // namespace quax
