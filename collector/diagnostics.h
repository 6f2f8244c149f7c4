// The collector's reporting channels: the debug trace with its scopes, the
// service event log, the service status reports, error texts, and enabling
// a privilege. Tests replace the two outputs (trace, event log) through the
// sinks below; the product writes to OutputDebugStringA and the event log.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstddef>

namespace quax {

inline constexpr char kServiceName[] = "QUAXWinProcess";
inline constexpr char kServiceDisplayName[] = "QUAX Process Collector with Debug Logging";

// ---- Debug trace -------------------------------------------------------

// Receives each finished trace line; null switches the trace off.
using TraceSink = void (*)(const char* line);
void SetTraceSink(TraceSink sink) noexcept;

class CTraceScope {
 public:
  static constexpr std::size_t kNameSize = 512;
  static constexpr std::size_t kMessageSize = 1024;
  static constexpr std::size_t kLineSize = 2048;

  // Writes "Entered" now and "Exited" when destroyed.
  explicit CTraceScope(const char* name) noexcept;
  // Writes "Entered"/"Exited" only when writeEnterExit is set; otherwise the
  // scope is just a label for its messages.
  CTraceScope(const char* name, bool writeEnterExit) noexcept;
  ~CTraceScope();
  CTraceScope(const CTraceScope&) = delete;
  CTraceScope& operator=(const CTraceScope&) = delete;

  void Trace(const char* format, ...) const noexcept __attribute__((format(printf, 2, 3)));
  void TraceV(const char* format, va_list args) const noexcept;
  // A line about an operation that failed without an event telling of it:
  // in console mode (-debug) the operator sees it too.
  void TraceFailure(const char* format, ...) const noexcept __attribute__((format(printf, 2, 3)));

 private:
  // The trace line: a line feed, the name, ": " and the message, or the
  // message alone when the name is empty.
  void FormatLine(char (&line)[kLineSize], const char* format, va_list args) const noexcept;

  char name_[kNameSize];
  bool active_;
};

// The program's global scope "QUAXWinProcess"; created on first use (the
// service host uses it first thing) and closed when the program ends.
CTraceScope& GlobalTrace() noexcept;

// ---- Operator's console (-debug) ---------------------------------------

// Receives each line for the operator (without a line end) in console mode:
// ERROR and WARNING events and failed operations. Null restores the real
// console (standard error).
using ConsoleSink = void (*)(const char* line);
void SetConsoleSink(ConsoleSink sink) noexcept;

// ---- Event log ---------------------------------------------------------

struct EventReport {
  const char* Source;
  WORD Type;
  WORD Category;
  DWORD EventId;
  const char* const* Strings;
  WORD StringCount;
};

// Which step of writing an event failed, with the platform error of that
// step; converts to true when the event was written.
enum class EventWriteFailure { None, RegisterSource, ReportEvent };
struct EventWriteResult {
  EventWriteFailure Failure = EventWriteFailure::None;
  DWORD Error = ERROR_SUCCESS;
  explicit operator bool() const noexcept { return Failure == EventWriteFailure::None; }
};

// The one writer of events of the whole system (the collectors and the
// aggregation library's event-log classes): registers the source on the
// local machine, reports the event and deregisters the source.
using EventLogSink = EventWriteResult (*)(const EventReport& report);
void SetEventLogSink(EventLogSink sink) noexcept;  // null restores the real event log
EventWriteResult WriteEvent(const EventReport& report) noexcept;

inline constexpr DWORD kEventIdInformation = 0x60000001;
inline constexpr DWORD kEventIdWarning = 0xA0000002;
inline constexpr DWORD kEventIdError = 0xE0000003;
inline constexpr WORD kCollectorCategory = 4;

// Which reports an event log object passes on. The in-process collector's
// object only reports errors and traces nothing.
enum class EventLogForm { Full, ErrorsOnly };

// Events under a source (default "QUAX"), each text prefixed by a label.
class CServiceEventLog {
 public:
  static constexpr std::size_t kNameSize = 128;
  static constexpr std::size_t kMessageSize = 2048;

  explicit CServiceEventLog(EventLogForm form = EventLogForm::Full) noexcept;

  void SetSourceName(const char* source) noexcept;
  void SetLabel(const char* label) noexcept;
  const char* Label() const noexcept { return label_; }

  // Each report is also traced (full form); in console mode (-debug)
  // warnings and errors are printed for the operator as well.
  void ReportInformation(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
  void ReportWarning(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
  void ReportError(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));

 private:
  void Report(WORD type, const char* format, va_list args) noexcept;

  EventLogForm form_;
  char source_[kNameSize];
  char label_[kNameSize];
};

// ---- Service status ----------------------------------------------------

// The service's one service-specific exit code: an internal error (an
// exception such as running out of memory) ended the run. A status with
// ERROR_SERVICE_SPECIFIC_ERROR carries it; -debug exits with it.
inline constexpr DWORD kInternalErrorExitCode = 1;

struct ServiceState {
  SERVICE_STATUS_HANDLE StatusHandle = nullptr;
  SERVICE_STATUS Status = {SERVICE_WIN32_OWN_PROCESS, 0, 0, 0, 0, 0, 0};
  DWORD CheckPoint = 1;
  bool ConsoleMode = false;
  DWORD serviceExitCode = 0;
};

// The process-wide service state.
ServiceState& Service() noexcept;

// The status record the next report sends: controls, state, exit code (and
// the service-specific one with ERROR_SERVICE_SPECIFIC_ERROR), wait hint and
// check-point (which advances for every pending state).
SERVICE_STATUS NextServiceStatus(ServiceState& service, DWORD state, DWORD win32ExitCode,
                                 DWORD waitHint) noexcept;

// Sends the next status (nothing in console mode, nothing once the stopped
// state has been sent); true when sent or not needed.
bool ReportServiceStatus(DWORD state, DWORD win32ExitCode, DWORD waitHint) noexcept;
void ReportServiceError(const char* text) noexcept;

// ---- Error texts -------------------------------------------------------

// The system's message for an error code (with its line end), or
// "Unknown Win32 Error #<code>". The buffer is shared and lives as long as
// the program.
const char* SystemErrorText(DWORD code) noexcept;

// "<message> (0x<code>)" for the last error, or empty; shared buffer.
const char* ConsoleErrorText() noexcept;

// ---- Privileges --------------------------------------------------------

bool EnablePrivilege(HANDLE token, const char* privilege, bool enable) noexcept;

}  // namespace quax
