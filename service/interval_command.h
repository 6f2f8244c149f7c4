// The command run after each accounting interval: it gets the date and time
// of the run through QUAXDATE and QUAXTIME and is started without waiting.
#pragma once

#include <windows.h>

#include <cstddef>

namespace quax {

inline constexpr std::size_t kExpandedCommandSize = 4096;

struct IntervalStamp {
  char Date[16];  // YYYYMMDD
  char Time[16];  // HH:MM:SS
};

IntervalStamp FormatIntervalStamp(const SYSTEMTIME& localNow) noexcept;

// Sets QUAXDATE and QUAXTIME in the collector's environment, expands the
// command and starts it in a console of its own. Failures are traced only.
void RunIntervalCommand(const char* command) noexcept;

}  // namespace quax
