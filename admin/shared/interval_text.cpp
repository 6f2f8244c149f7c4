#include "interval_text.h"

#include <limits>

namespace quax {

std::int64_t TimeScaleFactor(int scaleIndex) noexcept {
  switch (scaleIndex) {
    case kMinutes:
      return 60;
    case kHours:
      return 3600;
    default:
      return 1;
  }
}

ShownInterval ShowInterval(std::int64_t seconds) {
  // The magnitude of the most negative value does not fit its own type.
  const std::uint64_t magnitude = seconds < 0 ? 0 - static_cast<std::uint64_t>(seconds) : static_cast<std::uint64_t>(seconds);
  if (magnitude % 3600 == 0) return {std::to_string(magnitude / 3600), kHours};
  if (magnitude % 60 == 0) return {std::to_string(magnitude / 60), kMinutes};
  return {std::to_string(magnitude), kSeconds};
}

std::optional<std::int64_t> WholeNumber(std::string_view text) noexcept {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const int digit = c - '0';
    value = value > (kLimit - digit) / 10 ? kLimit : value * 10 + digit;
  }
  return negative ? -value : value;
}

std::string LeftIntervalText(std::string_view text) {
  const std::optional<std::int64_t> number = WholeNumber(text);
  if (!number || *number <= 0) return "1";
  return std::string(text);
}

bool IntervalKeyPasses(int characterCode) noexcept {
  return (characterCode >= '0' && characterCode <= '9') || characterCode == 8;
}

std::optional<std::int32_t> IntervalSeconds(std::int64_t number, int scaleIndex) noexcept {
  const std::int64_t factor = TimeScaleFactor(scaleIndex);
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  if (number > kMax / factor || number < -kMax / factor) return std::nullopt;
  return static_cast<std::int32_t>(number * factor);
}

std::optional<std::int32_t> StoredInterval(std::string_view boxText, int scaleIndex, bool enabled) noexcept {
  const std::optional<std::int64_t> number = WholeNumber(boxText);
  const std::optional<std::int32_t> seconds = IntervalSeconds(number && *number >= 0 ? *number : 60, scaleIndex);
  if (!seconds) return std::nullopt;
  return enabled ? *seconds : -*seconds;
}

}  // namespace quax

namespace quax {

std::string IntervalTooLargeText(std::string_view name) {
  return std::string(name) + " cannot be more than " + std::to_string(kLargestInterval) + " seconds.";
}

}  // namespace quax
