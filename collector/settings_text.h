// How the collector settings' registry texts become values. Every setting
// is stored as text; these rules are shared by every reader.
#pragma once

#include <cstdint>

namespace quax {

// True exactly for "YES" in any case.
bool ParseYesFlag(const char* text) noexcept;

// The C atol rule: leading white space, an optional sign, then digits up to
// the first other character; no digits give 0. Values beyond 32 bits are
// held at the nearest limit instead of wrapping.
std::int32_t ParseDecimalNumber(const char* text) noexcept;

struct TimeOfDay {
  std::int32_t Hour = 0;
  std::int32_t Minute = 0;
};

// "HH?MM": only a text of exactly five characters is read, its first two
// characters as the hour and its last two as the minute (each by the
// decimal-number rule); anything else is 00:00. The result is not range
// checked.
TimeOfDay ParseTimeOfDay(const char* text) noexcept;

}  // namespace quax
