// Date-times given as text in the fixed layout "YYYYMMDD HH:MM:SS" (script
// clients pass dates this way): year at characters 1-4, month 5-6, day 7-8,
// hour 10-11, minute 13-14, second 16-17. Characters 9, 12 and 15 separate
// and are not looked at, so 20030131 23:59:30 and 20030131-23.59.30 read
// alike; anything after character 17 is ignored.
#pragma once

#include <cstdint>
#include <string_view>

namespace quax::agg {

struct DateTextPieces {
  std::int32_t Year = 0;
  std::int32_t Month = 0;
  std::int32_t Day = 0;
  std::int32_t Hour = 0;
  std::int32_t Minute = 0;
  std::int32_t Second = 0;
};

enum class DateTextResult {
  Split,       // every piece is a whole number
  TooShort,    // fewer than 17 characters
  NotNumeric,  // a piece is not a whole number (digits, optional sign and blanks)
};

// Splits the text into its six pieces; `out` is set only on Split.
DateTextResult SplitDateText(std::string_view text, DateTextPieces& out) noexcept;

}  // namespace quax::agg
