// The test build of the library: every event it reports is appended as one
// line "source|type|category|id|text" to the file named by the environment
// variable QUAX_HOOK_EVENT_FILE (Wine keeps no event log), and the log
// writer pauses 1 ms instead of 500 ms between opening attempts.
#include <windows.h>

#include "diagnostics.h"
#include "entry_platform.h"
#include "fixed_text.h"
#include "unique_handle.h"

namespace quax {

namespace {

char g_eventFile[MAX_PATH];

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
  return &kShortPauses;
}

}  // namespace quax
