// Whole-second intervals as the settings editors show them: a number in a
// box and a unit in a list ("Seconds", "Minutes", "Hours"), and back.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quax {

inline constexpr std::array<const char*, 3> kTimeScaleNames = {"Seconds", "Minutes", "Hours"};
inline constexpr int kSeconds = 0;
inline constexpr int kMinutes = 1;
inline constexpr int kHours = 2;

// 1, 60 or 3600 seconds; an index outside the list counts as seconds.
std::int64_t TimeScaleFactor(int scaleIndex) noexcept;

struct ShownInterval {
  std::string Number;
  int ScaleIndex = kSeconds;
};

// The absolute value in the largest unit that divides it: 5400 is 90
// minutes, 86400 is 24 hours, 61 stays 61 seconds.
ShownInterval ShowInterval(std::int64_t seconds);

// A numeric text: optional blanks around an optional sign and at least one
// decimal digit, nothing else. Its value is held at the 64-bit limits.
std::optional<std::int64_t> WholeNumber(std::string_view text) noexcept;

// What an interval box keeps when it loses the focus: the text itself when
// it is a number above 0, else "1".
std::string LeftIntervalText(std::string_view text);

// Only the digits and Backspace may be typed into an interval box.
bool IntervalKeyPasses(int characterCode) noexcept;

// number x the unit's factor as seconds; nothing when the product does not
// fit a signed 32-bit setting.
std::optional<std::int32_t> IntervalSeconds(std::int64_t number, int scaleIndex) noexcept;

// "AccountingInterval" and "SamplingInterval" as stored: the box's number
// when numeric and not negative, else 60, times the unit; the accounting
// interval negated while interval accounting is off. Nothing on overflow.
std::optional<std::int32_t> StoredInterval(std::string_view boxText, int scaleIndex, bool enabled) noexcept;

// The largest interval a setting holds, for the refusal messages.
inline constexpr std::int32_t kLargestInterval = 2147483647;

}  // namespace quax

namespace quax {

// "<name> cannot be more than 2147483647 seconds."
std::string IntervalTooLargeText(std::string_view name);

}  // namespace quax
