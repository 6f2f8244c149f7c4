// The test build of the library: every event it reports is appended as one
// line "source|type|category|id|text" to the file named by the environment
// variable QUAX_HOOK_EVENT_FILE (Wine keeps no event log), and the log
// writer pauses 1 ms instead of 500 ms between opening attempts.
// With QUAX_HOOK_HANDOVER set to "EVENT|FILE", the worker waits for the named
// event before it hands over the start reference, and 500 ms after it has,
// appends the line "handed over" to FILE.
#include <windows.h>

#include <cstring>

#include "diagnostics.h"
#include "entry_platform.h"
#include "fixed_text.h"
#include "unique_handle.h"

namespace quax {

namespace {

char g_eventFile[MAX_PATH];
char g_handover[2 * MAX_PATH];

EventWriteResult AppendEventLine(const EventReport& report) {
  char line[CServiceEventLog::kMessageSize + 64];
  const std::size_t length =
      FormatText(line, sizeof line, "%s|%u|%u|%lu|%s\r\n", report.Source, report.Type, report.Category,
                 report.EventId, report.StringCount > 0 ? report.Strings[0] : "");
  unique_handle file(CreateFileA(g_eventFile, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (file && WriteFile(file.get(), line, static_cast<DWORD>(length), &written, nullptr)) return {};
  return {EventWriteFailure::ReportEvent, GetLastError()};
}

void WINAPI ShortPause(DWORD) { Sleep(1); }

const LogWriterPlatform kShortPauses = {&GetLocalTime, &ShortPause};

}  // namespace

const LogWriterPlatform* EntryWriterPlatform() noexcept {
  const DWORD length = GetEnvironmentVariableA("QUAX_HOOK_EVENT_FILE", g_eventFile, sizeof g_eventFile);
  if (length > 0 && length < sizeof g_eventFile) SetEventLogSink(&AppendEventLine);
  const DWORD handover = GetEnvironmentVariableA("QUAX_HOOK_HANDOVER", g_handover, sizeof g_handover);
  if (handover == 0 || handover >= sizeof g_handover) g_handover[0] = '\0';
  return &kShortPauses;
}

void BeforeStartReferenceHandover() noexcept {
  char* separator = std::strchr(g_handover, '|');
  if (separator == nullptr) return;
  *separator = '\0';
  unique_handle event(OpenEventA(SYNCHRONIZE, FALSE, g_handover));
  *separator = '|';
  if (event) WaitForSingleObject(event.get(), 30000);
}

void AfterStartReferenceHandover() noexcept {
  const char* separator = std::strchr(g_handover, '|');
  if (separator == nullptr) return;
  Sleep(500);
  unique_handle file(CreateFileA(separator + 1, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (file) WriteFile(file.get(), "handed over\r\n", 13, &written, nullptr);
}

}  // namespace quax
