#include "diagnostics.h"

#include <cstdio>
#include <cstring>

#include "fixed_text.h"
#include "unique_handle.h"

namespace quax {

// ---- Debug trace -------------------------------------------------------

namespace {

void WriteDebugString(const char* line) { OutputDebugStringA(line); }

TraceSink g_traceSink = &WriteDebugString;

void WriteStandardError(const char* line) {
  std::fprintf(stderr, "%s\n", line);
  std::fflush(stderr);
}

ConsoleSink g_consoleSink = &WriteStandardError;

// Prints a text for the operator in console mode, without the line feeds
// that begin a trace line or the line end of a system message.
void ToConsole(const char* prefix, const char* text) noexcept {
  if (!Service().ConsoleMode) return;
  while (*text == '\n') ++text;
  char line[CTraceScope::kLineSize];
  std::size_t length = FormatText(line, sizeof line, "%s%s", prefix, text);
  while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = '\0';
  g_consoleSink(line);
}

}  // namespace

void SetTraceSink(TraceSink sink) noexcept { g_traceSink = sink; }

void SetConsoleSink(ConsoleSink sink) noexcept { g_consoleSink = sink ? sink : &WriteStandardError; }

CTraceScope::CTraceScope(const char* name) noexcept : CTraceScope(name, true) {}

CTraceScope::CTraceScope(const char* name, bool writeEnterExit) noexcept : active_(writeEnterExit) {
  CopyText(name_, name);
  if (active_) Trace("Entered");
}

CTraceScope::~CTraceScope() {
  if (active_ && name_[0] != '\0') Trace("Exited");
}

void CTraceScope::Trace(const char* format, ...) const noexcept {
  va_list args;
  va_start(args, format);
  TraceV(format, args);
  va_end(args);
}

void CTraceScope::TraceV(const char* format, va_list args) const noexcept {
  const TraceSink sink = g_traceSink;
  if (sink == nullptr) return;
  char line[kLineSize];
  FormatLine(line, format, args);
  sink(line);
}

void CTraceScope::TraceFailure(const char* format, ...) const noexcept {
  char line[kLineSize];
  va_list args;
  va_start(args, format);
  FormatLine(line, format, args);
  va_end(args);
  const TraceSink sink = g_traceSink;
  if (sink != nullptr) sink(line);
  ToConsole("", line);
}

void CTraceScope::FormatLine(char (&line)[kLineSize], const char* format, va_list args) const noexcept {
  char message[kMessageSize];
  FormatTextV(message, sizeof message, format, args);
  if (name_[0] == '\0') {
    CopyText(line, message);
  } else {
    FormatText(line, sizeof line, "\n%s: %s", name_, message);
  }
}

CTraceScope& GlobalTrace() noexcept {
  static CTraceScope scope(kServiceName);
  return scope;
}

// ---- Event log ---------------------------------------------------------

namespace {

EventWriteResult WriteToSystemEventLog(const EventReport& report) noexcept {
  unique_event_source source(RegisterEventSourceA(nullptr, report.Source));
  if (!source) return {EventWriteFailure::RegisterSource, GetLastError()};
  if (!ReportEventA(source.get(), report.Type, report.Category, report.EventId, nullptr,
                    report.StringCount, 0, const_cast<const char**>(report.Strings), nullptr)) {
    return {EventWriteFailure::ReportEvent, GetLastError()};
  }
  return {};
}

EventLogSink g_eventLogSink = &WriteToSystemEventLog;

}  // namespace

void SetEventLogSink(EventLogSink sink) noexcept {
  g_eventLogSink = sink ? sink : &WriteToSystemEventLog;
}

EventWriteResult WriteEvent(const EventReport& report) noexcept { return g_eventLogSink(report); }

CServiceEventLog::CServiceEventLog(EventLogForm form) noexcept : form_(form) {
  CopyText(source_, "QUAX");
  CopyText(label_, "QUAX");
}

void CServiceEventLog::SetSourceName(const char* source) noexcept { CopyText(source_, source); }

void CServiceEventLog::SetLabel(const char* label) noexcept { CopyText(label_, label); }

void CServiceEventLog::ReportInformation(const char* format, ...) noexcept {
  if (form_ == EventLogForm::ErrorsOnly) return;
  va_list args;
  va_start(args, format);
  Report(EVENTLOG_INFORMATION_TYPE, format, args);
  va_end(args);
}

void CServiceEventLog::ReportWarning(const char* format, ...) noexcept {
  if (form_ == EventLogForm::ErrorsOnly) return;
  va_list args;
  va_start(args, format);
  Report(EVENTLOG_WARNING_TYPE, format, args);
  va_end(args);
}

void CServiceEventLog::ReportError(const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  Report(EVENTLOG_ERROR_TYPE, format, args);
  va_end(args);
}

void CServiceEventLog::Report(WORD type, const char* format, va_list args) noexcept {
  char message[kMessageSize];
  FormatTextV(message, sizeof message, format, args);
  char text[kMessageSize];
  FormatText(text, sizeof text, "%s: %s", label_, message);

  const char* kind = "INFORMATION";
  DWORD eventId = kEventIdInformation;
  if (type == EVENTLOG_WARNING_TYPE) {
    kind = "WARNING";
    eventId = kEventIdWarning;
  } else if (type == EVENTLOG_ERROR_TYPE) {
    kind = "ERROR";
    eventId = kEventIdError;
  }
  const char* strings[] = {text};
  WriteEvent({source_, type, kCollectorCategory, eventId, strings, 1});

  if (form_ == EventLogForm::ErrorsOnly) return;
  if (type != EVENTLOG_INFORMATION_TYPE) {
    char prefix[16];
    FormatText(prefix, sizeof prefix, "%s: ", kind);
    ToConsole(prefix, text);
  }
  CTraceScope scope(label_);
  scope.Trace("Event Log %s: %s", kind, text);
}

// ---- Service status ----------------------------------------------------

ServiceState& Service() noexcept {
  static ServiceState state;
  return state;
}

SERVICE_STATUS NextServiceStatus(ServiceState& service, DWORD state, DWORD win32ExitCode,
                                 DWORD waitHint) noexcept {
  SERVICE_STATUS& status = service.Status;
  status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
  status.dwCurrentState = state;
  status.dwWin32ExitCode = win32ExitCode;
  status.dwServiceSpecificExitCode = win32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ? kInternalErrorExitCode : 0;
  status.dwWaitHint = waitHint;
  if (state == SERVICE_RUNNING || state == SERVICE_STOPPED) {
    status.dwCheckPoint = 0;
  } else {
    status.dwCheckPoint = service.CheckPoint++;
  }
  return status;
}

namespace {
// The run and the control handler report from different threads.
SRWLOCK g_statusLock = SRWLOCK_INIT;
}  // namespace

bool ReportServiceStatus(DWORD state, DWORD win32ExitCode, DWORD waitHint) noexcept {
  ServiceState& service = Service();
  if (service.ConsoleMode) return true;
  exclusive_lock_hold hold(g_statusLock);
  // Stopped is final: a handler that answers a control after the run has
  // ended must not report the service alive again.
  if (service.Status.dwCurrentState == SERVICE_STOPPED) return true;
  SERVICE_STATUS status = NextServiceStatus(service, state, win32ExitCode, waitHint);
  const bool reported = SetServiceStatus(service.StatusHandle, &status) != FALSE;
  if (!reported) ReportServiceError("SetServiceStatus");
  return reported;
}

void ReportServiceError(const char* text) noexcept {
  ServiceState& service = Service();
  if (service.ConsoleMode) return;
  const DWORD error = GetLastError();
  service.serviceExitCode = error;
  char heading[CServiceEventLog::kNameSize + 32];
  FormatText(heading, sizeof heading, "%s error: %d", kServiceName, static_cast<int>(error));
  const char* strings[] = {heading, text};
  WriteEvent({kServiceName, EVENTLOG_ERROR_TYPE, 0, 0, strings, 2});
}

// ---- Error texts -------------------------------------------------------

const char* SystemErrorText(DWORD code) noexcept {
  static char text[2048];
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  if (length == 0) FormatText(text, sizeof text, "Unknown Win32 Error #%lu", code);
  return text;
}

const char* ConsoleErrorText() noexcept {
  static char text[256];
  const DWORD error = GetLastError();
  char* message = nullptr;
  // Inserts are ignored: there are no arguments for a message with %1.
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, LANG_NEUTRAL, reinterpret_cast<char*>(&message), 0, nullptr);
  unique_local_memory owner(message);
  if (length == 0 || length + 14 > sizeof text) {
    text[0] = '\0';
  } else {
    // Drop the line end the system puts after every message.
    const DWORD kept = length >= 2 ? length - 2 : 0;
    message[kept] = '\0';
    FormatText(text, sizeof text, "%s (0x%lx)", message, error);
  }
  return text;
}

// ---- Privileges --------------------------------------------------------

bool EnablePrivilege(HANDLE token, const char* privilege, bool enable) noexcept {
  LUID luid;
  if (!LookupPrivilegeValueA(nullptr, privilege, &luid)) return false;

  // First ask for the current state of the privilege ...
  TOKEN_PRIVILEGES request = {1, {{luid, 0}}};
  TOKEN_PRIVILEGES previous = {};
  DWORD previousSize = sizeof previous;
  SetLastError(ERROR_SUCCESS);
  AdjustTokenPrivileges(token, FALSE, &request, sizeof previous, &previous, &previousSize);
  if (GetLastError() != ERROR_SUCCESS) return false;

  // ... then set it with the enabled attribute added or removed.
  previous.PrivilegeCount = 1;
  previous.Privileges[0].Luid = luid;
  if (enable) {
    previous.Privileges[0].Attributes |= SE_PRIVILEGE_ENABLED;
  } else {
    previous.Privileges[0].Attributes &= ~static_cast<DWORD>(SE_PRIVILEGE_ENABLED);
  }
  SetLastError(ERROR_SUCCESS);
  AdjustTokenPrivileges(token, FALSE, &previous, previousSize, nullptr, nullptr);
  return GetLastError() == ERROR_SUCCESS;
}

}  // namespace quax
