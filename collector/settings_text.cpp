#include "settings_text.h"

#include <cstring>
#include <limits>

#include "fixed_text.h"

namespace quax {

bool ParseYesFlag(const char* text) noexcept { return text != nullptr && EqualsIgnoreCase(text, "YES"); }

std::int32_t ParseDecimalNumber(const char* text) noexcept {
  if (text == nullptr) return 0;
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  // Accumulate towards the limit of the sign, stopping there.
  const std::int64_t limit = negative ? -std::int64_t{std::numeric_limits<std::int32_t>::min()}
                                      : std::int64_t{std::numeric_limits<std::int32_t>::max()};
  std::int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > limit) value = limit;
  }
  return static_cast<std::int32_t>(negative ? -value : value);
}

TimeOfDay ParseTimeOfDay(const char* text) noexcept {
  TimeOfDay time;
  if (text == nullptr || std::strlen(text) != 5) return time;
  const char hour[3] = {text[0], text[1], '\0'};
  const char minute[3] = {text[3], text[4], '\0'};
  time.Hour = ParseDecimalNumber(hour);
  time.Minute = ParseDecimalNumber(minute);
  return time;
}

}  // namespace quax
