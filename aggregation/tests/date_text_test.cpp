// The fixed-layout date text of the script clients: which characters make
// which piece, what is not looked at, and what is not a number.
#include "record/date_text.h"

#include <gtest/gtest.h>

namespace quax::agg {
namespace {

TEST(DateText, PiecesComeFromTheirPositionsWhateverTheSeparators) {
  for (const char* text : {"20030131 23:59:30", "20030131-23.59.30", "20030131x23y59z30 and more"}) {
    DateTextPieces pieces;
    ASSERT_EQ(SplitDateText(text, pieces), DateTextResult::Split) << text;
    EXPECT_EQ(pieces.Year, 2003);
    EXPECT_EQ(pieces.Month, 1);
    EXPECT_EQ(pieces.Day, 31);
    EXPECT_EQ(pieces.Hour, 23);
    EXPECT_EQ(pieces.Minute, 59);
    EXPECT_EQ(pieces.Second, 30);
  }
}

TEST(DateText, FewerThanSeventeenCharactersAreTooShort) {
  DateTextPieces pieces;
  pieces.Year = 7;
  EXPECT_EQ(SplitDateText("2003-01-31", pieces), DateTextResult::TooShort);
  EXPECT_EQ(SplitDateText("20030131 23:59:3", pieces), DateTextResult::TooShort);
  EXPECT_EQ(SplitDateText("", pieces), DateTextResult::TooShort);
  EXPECT_EQ(pieces.Year, 7);  // untouched
}

TEST(DateText, APieceThatIsNotAWholeNumberIsReported) {
  DateTextPieces pieces;
  for (const char* text : {"2003013a 23:59:30", "20030131 2x:59:30", "2003  31 23:59:30", "20.30131 23:59:30",
                           "20030131 23:59:- "}) {
    EXPECT_EQ(SplitDateText(text, pieces), DateTextResult::NotNumeric) << text;
  }
}

TEST(DateText, BlanksAndSignsAroundDigitsAreWholeNumbers) {
  DateTextPieces pieces;
  ASSERT_EQ(SplitDateText(" 999 1-1 23:59:+9", pieces), DateTextResult::Split);
  EXPECT_EQ(pieces.Year, 999);
  EXPECT_EQ(pieces.Month, 1);
  EXPECT_EQ(pieces.Day, -1);
  EXPECT_EQ(pieces.Second, 9);
}

}  // namespace
}  // namespace quax::agg
