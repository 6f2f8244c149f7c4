#include "record/date_time.h"

#include <cmath>

namespace quax::agg {

namespace {

// Days since 1 January 1970 of a proleptic Gregorian date (H. Hinnant).
std::int64_t DaysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) noexcept {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) noexcept {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = yoe + era * 400;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(y + (m <= 2 ? 1 : 0));
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}

constexpr std::int64_t kEpoch1899 = -25569;  // DaysFromCivil(1899, 12, 30)
constexpr double kMinDate = -657434.0;       // 1 January 100
constexpr double kMaxDate = 2958465.0;       // 31 December 9999

}  // namespace

bool MakeDay(std::int32_t year, std::int32_t month, std::int32_t day, double& out) noexcept {
  std::int64_t y = year;
  if (y >= 0 && y <= 29) {
    y += 2000;
  } else if (y >= 30 && y <= 99) {
    y += 1900;
  }
  std::int64_t m = std::int64_t{month} - 1;
  y += m >= 0 ? m / 12 : -((11 - m) / 12);
  m -= (m >= 0 ? m / 12 : -((11 - m) / 12)) * 12;
  if (y < 100 || y > 9999) return false;
  const std::int64_t days = DaysFromCivil(y, m + 1, 1) + (std::int64_t{day} - 1) - kEpoch1899;
  const double result = static_cast<double>(days);
  if (result < kMinDate || result > kMaxDate) return false;
  out = result;
  return true;
}

double MakeTimeOfDay(std::int32_t hour, std::int32_t minute, std::int32_t second) noexcept {
  const std::int64_t seconds = std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
  return static_cast<double>(seconds) / 86400.0;
}

double CombineDateTime(double day, double timeOfDay) noexcept {
  if (day >= 0 && timeOfDay >= 0 && timeOfDay < 1) return day + timeOfDay;  // the usual case
  // Days and time as one signed count of seconds, then back to DATE form.
  const double total = day * 86400.0 + timeOfDay * 86400.0;
  const double days = std::floor(total / 86400.0);
  const double seconds = total - days * 86400.0;
  const double fraction = seconds / 86400.0;
  return days >= 0 ? days + fraction : days - fraction;
}

CalendarDateTime SplitDateTime(double date) noexcept {
  CalendarDateTime parts;
  if (!(date >= -657435.0 && date <= 2958466.0)) date = 0.0;  // outside DATE: callers check
  double whole = std::trunc(date);
  double fraction = std::fabs(date - whole);
  std::int64_t seconds = static_cast<std::int64_t>(std::llround(fraction * 86400.0));
  std::int64_t days = static_cast<std::int64_t>(whole);
  if (seconds >= 86400) {
    seconds -= 86400;
    days += 1;  // the fraction always runs forward in time
  }
  CivilFromDays(days + kEpoch1899, parts.Year, parts.Month, parts.Day);
  parts.Hour = static_cast<int>(seconds / 3600);
  parts.Minute = static_cast<int>(seconds / 60 % 60);
  parts.Second = static_cast<int>(seconds % 60);
  return parts;
}

bool IsWritableDateTimeNearTheBounds(double date) noexcept {
  if (!(date > kMinDate - 1.0 && date < kMaxDate + 1.0)) return false;  // also NaN
  const double day = std::trunc(date);
  const double seconds = std::round(std::fabs(date - day) * 86400.0);
  const double instant = day * 86400.0 + seconds;  // the fraction runs forward from the day
  return instant >= kMinDate * 86400.0 && instant <= kMaxDate * 86400.0 + 86399.0;
}

}  // namespace quax::agg
