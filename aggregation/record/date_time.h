// Date-times of the aggregation library as the automation DATE: days since
// 30 December 1899 with the time of day as the fraction. Before that day the
// whole part is negative and the fraction still adds time (-1.25 is
// 29 December 1899 06:00). -657434 (1 January 100) stands for "no date".
#pragma once

#include <cstdint>

namespace quax::agg {

inline constexpr double kNoDate = -657434.0;

struct CalendarDateTime {
  int Year = 0;
  int Month = 0;
  int Day = 0;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
};

// Day number of a calendar date with rolling over, like DateSerial: month 13
// is January of the next year, day 0 the last day of the previous month, and
// a year of 0 to 29 means 2000 to 2029, 30 to 99 means 1930 to 1999. False
// when the result lies outside the DATE range (years 100 to 9999).
bool MakeDay(std::int32_t year, std::int32_t month, std::int32_t day, double& out) noexcept;

// Fraction of a day for a time with rolling over (TimeSerial: 25:00:00 is
// one day and an hour; the result may exceed 1 or be negative).
double MakeTimeOfDay(std::int32_t hour, std::int32_t minute, std::int32_t second) noexcept;

// Day number plus time of day as one DATE, whatever the sign of the day.
double CombineDateTime(double day, double timeOfDay) noexcept;

// Calendar parts of a DATE, rounded to the nearest second (a value outside
// the DATE range gives the parts of 0, 30 December 1899).
CalendarDateTime SplitDateTime(double date) noexcept;

// A DATE whose second (as SplitDateTime rounds it) lies between 1 January 100
// 00:00:00 and 31 December 9999 23:59:59: what a resource record can hold.
// NaN and infinities are not.
bool IsWritableDateTimeNearTheBounds(double date) noexcept;
inline bool IsWritableDateTime(double date) noexcept {
  // Mostly: from 1899 to the last day, where no rounding reaches a bound.
  return (date >= 0.0 && date < 2958465.0) || IsWritableDateTimeNearTheBounds(date);
}

// A number that orders DATEs as the calendar does. Before 30 December 1899
// the fraction of a DATE still adds time to a negative day (-1.25 is 06:00,
// -1.75 18:00 of 29 December 1899), so the DATEs themselves do not.
inline double CalendarOrder(double date) noexcept {
  if (date >= 0) return date;
  const double day = static_cast<double>(static_cast<std::int64_t>(date));  // towards zero
  return day + (day - date);
}

}  // namespace quax::agg
