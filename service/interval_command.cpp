#include "interval_command.h"

#include "diagnostics.h"
#include "fixed_text.h"
#include "unique_handle.h"

namespace quax {

IntervalStamp FormatIntervalStamp(const SYSTEMTIME& now) noexcept {
  IntervalStamp stamp;
  FormatText(stamp.Date, sizeof stamp.Date, "%04u%02u%02u", unsigned{now.wYear}, unsigned{now.wMonth},
             unsigned{now.wDay});
  FormatText(stamp.Time, sizeof stamp.Time, "%02u:%02u:%02u", unsigned{now.wHour}, unsigned{now.wMinute},
             unsigned{now.wSecond});
  return stamp;
}

void RunIntervalCommand(const char* command) noexcept {
  if (command == nullptr || command[0] == '\0') return;
  CTraceScope& trace = GlobalTrace();
  trace.Trace("Processing interval command: '%s'", command);

  SYSTEMTIME now;
  GetLocalTime(&now);
  const IntervalStamp stamp = FormatIntervalStamp(now);
  SetEnvironmentVariableA("QUAXDATE", stamp.Date);
  SetEnvironmentVariableA("QUAXTIME", stamp.Time);

  char expanded[kExpandedCommandSize];
  const DWORD needed = ExpandEnvironmentStringsA(command, expanded, sizeof expanded);
  if (needed == 0 || needed > sizeof expanded) {
    // A cut command line could run something other than what was configured.
    trace.TraceFailure("The interval command is too long once expanded (%lu characters); it was not run",
                       static_cast<unsigned long>(needed));
    return;
  }
  trace.Trace("Expanded interval command: '%s'", expanded);

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  if (!CreateProcessA(nullptr, expanded, nullptr, nullptr, FALSE,
                      CREATE_DEFAULT_ERROR_MODE | CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                      &startup, &started)) {
    const DWORD error = GetLastError();
    trace.TraceFailure("The interval command failed: (%d): %s", static_cast<int>(error), SystemErrorText(error));
    return;
  }
  // Not waited for: the command's outcome is its own business.
  unique_handle process(started.hProcess);
  unique_handle thread(started.hThread);
  trace.Trace("The interval command was executed successfully");
}

}  // namespace quax
