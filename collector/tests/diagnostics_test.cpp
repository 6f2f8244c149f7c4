#include "diagnostics.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace quax {
namespace {

using test::CapturedEvents;
using test::CapturedTrace;

TEST(TraceScope, WritesEnteredMessagesAndExited) {
  CapturedTrace trace;
  {
    CTraceScope scope("QUAXWINPROCESS: Test::Operation");
    scope.Trace("value is %d", 42);
  }
  ASSERT_EQ(trace.Lines().size(), 3u);
  EXPECT_EQ(trace.Lines()[0], "\nQUAXWINPROCESS: Test::Operation: Entered");
  EXPECT_EQ(trace.Lines()[1], "\nQUAXWINPROCESS: Test::Operation: value is 42");
  EXPECT_EQ(trace.Lines()[2], "\nQUAXWINPROCESS: Test::Operation: Exited");
}

TEST(TraceScope, LabelScopeWritesOnlyMessages) {
  CapturedTrace trace;
  {
    CTraceScope label("QUAXWINPROCESS: CProcessInfo::Refresh", false);
    label.Trace("LookupAccountSid failed,0x%lx - %s", 5ul, "Access denied.");
  }
  ASSERT_EQ(trace.Lines().size(), 1u);
  EXPECT_EQ(trace.Lines()[0], "\nQUAXWINPROCESS: CProcessInfo::Refresh: LookupAccountSid failed,0x5 - Access denied.");
}

TEST(TraceScope, EmptyNameWritesTheMessageAlone) {
  CapturedTrace trace;
  {
    CTraceScope scope("");
    scope.Trace("plain");
  }
  ASSERT_EQ(trace.Lines().size(), 2u);
  EXPECT_EQ(trace.Lines()[0], "Entered");
  EXPECT_EQ(trace.Lines()[1], "plain");
}

TEST(TraceScope, LongMessagesAndNamesAreCut) {
  CapturedTrace trace;
  const std::string longName(600, 'n');
  const std::string longMessage(3000, 'm');
  {
    CTraceScope scope(longName.c_str(), false);
    scope.Trace("%s", longMessage.c_str());
  }
  ASSERT_EQ(trace.Lines().size(), 1u);
  const std::string line = trace.Lines()[0];
  // 511 name characters, ": " and 1023 message characters after the line feed.
  EXPECT_EQ(line, "\n" + std::string(511, 'n') + ": " + std::string(1023, 'm'));
}

TEST(TraceScope, GlobalScopeIsNamedAfterTheService) {
  CapturedTrace trace;
  GlobalTrace().Trace("Accounting Interval is %d", 86400);
  EXPECT_TRUE(trace.Contains("\nQUAXWinProcess: Accounting Interval is 86400"));
}

TEST(ServiceEventLog, ReportsUnderSourceWithLabelAndTracesIt) {
  CapturedTrace trace;
  CapturedEvents events;
  CServiceEventLog log;
  log.SetLabel("QUAXWINPROCESS");
  log.ReportInformation("%s has been started.", kServiceDisplayName);
  log.ReportError("Unable to open log file '%s' for pid#%lu (%s)", "C:\\x.txt", 12ul, "a.exe");

  ASSERT_EQ(events.Events().size(), 2u);
  const test::CapturedEvent started = events.Events()[0];
  EXPECT_EQ(started.Source, "QUAX");
  EXPECT_EQ(started.Type, EVENTLOG_INFORMATION_TYPE);
  EXPECT_EQ(started.Category, 4);
  EXPECT_EQ(started.EventId, 0x60000001u);
  ASSERT_EQ(started.Strings.size(), 1u);
  EXPECT_EQ(started.Strings[0], "QUAXWINPROCESS: QUAX Process Collector with Debug Logging has been started.");

  const test::CapturedEvent failed = events.Events()[1];
  EXPECT_EQ(failed.Type, EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(failed.EventId, 0xE0000003u);
  EXPECT_EQ(failed.Strings[0], "QUAXWINPROCESS: Unable to open log file 'C:\\x.txt' for pid#12 (a.exe)");

  EXPECT_TRUE(trace.Contains("\nQUAXWINPROCESS: Event Log INFORMATION: QUAXWINPROCESS: QUAX Process "
                             "Collector with Debug Logging has been started."));
  EXPECT_TRUE(trace.Contains("\nQUAXWINPROCESS: Event Log ERROR: QUAXWINPROCESS: Unable to open log file "
                             "'C:\\x.txt' for pid#12 (a.exe)"));
}

TEST(ServiceEventLog, ErrorsOnlyFormReportsErrorsAndTracesNothing) {
  CapturedTrace trace;
  CapturedEvents events;
  CServiceEventLog log(EventLogForm::ErrorsOnly);
  log.SetLabel("QUAXWINPROCESS");
  log.ReportInformation("%s has been started.", kServiceDisplayName);
  log.ReportError("Unable to open log file '%s' for pid#%lu (%s)", "C:\\x.txt", 12ul, "a.exe");

  ASSERT_EQ(events.Events().size(), 1u);
  const test::CapturedEvent failed = events.Events()[0];
  EXPECT_EQ(failed.Source, "QUAX");
  EXPECT_EQ(failed.Type, EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(failed.Category, 4);
  EXPECT_EQ(failed.EventId, 0xE0000003u);
  ASSERT_EQ(failed.Strings.size(), 1u);
  EXPECT_EQ(failed.Strings[0], "QUAXWINPROCESS: Unable to open log file 'C:\\x.txt' for pid#12 (a.exe)");
  EXPECT_TRUE(trace.Lines().empty());
}

TEST(ServiceEventLog, RealEventLogAcceptsAReport) {
  // Wine stores nothing, but registering the source and reporting succeed
  // there as on Windows.
  const char* strings[] = {"QUAX: collector test event"};
  EXPECT_TRUE(WriteEvent({"QUAX", EVENTLOG_INFORMATION_TYPE, kCollectorCategory, kEventIdInformation, strings, 1}));
}

// Console mode (-debug) for the length of a test.
class ConsoleMode {
 public:
  ConsoleMode() : saved_(Service().ConsoleMode) { Service().ConsoleMode = true; }
  ~ConsoleMode() { Service().ConsoleMode = saved_; }

 private:
  bool saved_;
};

TEST(Console, InDebugModeErrorsWarningsAndFailedOperationsReachTheOperator) {
  CapturedTrace trace;
  CapturedEvents events;
  test::CapturedConsole console;
  ConsoleMode debug;
  CServiceEventLog log;
  log.SetLabel("QUAXWINPROCESS");
  log.ReportInformation("%s has been started.", kServiceDisplayName);
  log.ReportWarning("The log file field delimiter %d cannot separate fields", 48);
  log.ReportError("Internal error: %s.\n\nThe collector is terminating.", "out of memory");
  CTraceScope scope("QUAXWINPROCESS: Test::Operation", false);
  scope.Trace("Pid=%d", 7);
  // The system's texts end with a line end; the console line does not.
  scope.TraceFailure("The interval command failed: (%d): %s", 2, "File not found.\r\n");

  EXPECT_EQ(console.Lines(),
            (std::vector<std::string>{
                "WARNING: QUAXWINPROCESS: The log file field delimiter 48 cannot separate fields",
                "ERROR: QUAXWINPROCESS: Internal error: out of memory.\n\nThe collector is terminating.",
                "QUAXWINPROCESS: Test::Operation: The interval command failed: (2): File not found."}));
  // The other channels are unchanged.
  ASSERT_EQ(events.Events().size(), 3u);
  EXPECT_EQ(events.Events()[1].Type, EVENTLOG_WARNING_TYPE);
  EXPECT_EQ(events.Events()[1].EventId, kEventIdWarning);
  EXPECT_TRUE(trace.Contains("\nQUAXWINPROCESS: Test::Operation: The interval command failed: (2): File not found.\r\n"));
  EXPECT_TRUE(trace.Contains("\nQUAXWINPROCESS: Event Log WARNING: QUAXWINPROCESS: The log file field delimiter 48 "
                             "cannot separate fields"));
}

TEST(Console, AsAServiceNothingIsPrinted) {
  CapturedTrace trace;
  CapturedEvents events;
  test::CapturedConsole console;
  ASSERT_FALSE(Service().ConsoleMode);
  CServiceEventLog log;
  log.ReportError("Unable to create default log file path '%s'", "C:\\x");
  GlobalTrace().TraceFailure("WaitForMultipleObjects failed: %s", "Access denied.");
  EXPECT_TRUE(console.Lines().empty());
  EXPECT_EQ(events.Events().size(), 1u);
  EXPECT_TRUE(trace.Contains("\nQUAXWinProcess: WaitForMultipleObjects failed: Access denied."));
}

TEST(ServiceStatus, CheckPointsAdvanceOnlyWhilePending) {
  ServiceState service;
  SERVICE_STATUS status = NextServiceStatus(service, SERVICE_START_PENDING, NO_ERROR, 3000);
  EXPECT_EQ(status.dwControlsAccepted, 0u);
  EXPECT_EQ(status.dwCheckPoint, 1u);
  EXPECT_EQ(status.dwWaitHint, 3000u);
  EXPECT_EQ(NextServiceStatus(service, SERVICE_START_PENDING, NO_ERROR, 3000).dwCheckPoint, 2u);
  status = NextServiceStatus(service, SERVICE_RUNNING, NO_ERROR, 0);
  EXPECT_EQ(status.dwCheckPoint, 0u);
  EXPECT_EQ(status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
  EXPECT_EQ(NextServiceStatus(service, SERVICE_STOP_PENDING, NO_ERROR, 0).dwCheckPoint, 3u);
  status = NextServiceStatus(service, SERVICE_STOPPED, ERROR_PATH_NOT_FOUND, 0);
  EXPECT_EQ(status.dwCheckPoint, 0u);
  EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(status.dwServiceSpecificExitCode, 0u);
  EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
}

TEST(ServiceStatus, AnInternalErrorStopsWithTheServiceSpecificCode) {
  ServiceState service;
  const SERVICE_STATUS status = NextServiceStatus(service, SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, 0);
  EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
  EXPECT_EQ(status.dwServiceSpecificExitCode, kInternalErrorExitCode);
}

TEST(ServiceStatus, ConsoleModeReportsNothing) {
  CapturedEvents events;
  ServiceState& service = Service();
  const ServiceState saved = service;
  service.ConsoleMode = true;
  EXPECT_TRUE(ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0));
  SetLastError(ERROR_ACCESS_DENIED);
  ReportServiceError("StartServiceCtrlDispatcher failed.");
  EXPECT_TRUE(events.Events().empty());
  EXPECT_EQ(service.serviceExitCode, saved.serviceExitCode);
  service = saved;
}

TEST(ServiceStatus, NothingIsReportedOnceTheServiceHasStopped) {
  // The control handler may answer a stop after the run has ended: its
  // stop-pending must not follow the final stopped report.
  CapturedEvents events;
  ServiceState& service = Service();
  const ServiceState saved = service;
  service.ConsoleMode = false;
  service.StatusHandle = nullptr;  // every report that is sent fails and is reported
  service.Status.dwCurrentState = SERVICE_RUNNING;
  EXPECT_FALSE(ReportServiceStatus(SERVICE_STOP_PENDING, NO_ERROR, 0));
  EXPECT_EQ(events.Events().size(), 1u);
  service.Status.dwCurrentState = SERVICE_STOPPED;
  EXPECT_TRUE(ReportServiceStatus(SERVICE_STOP_PENDING, NO_ERROR, 0));
  EXPECT_TRUE(ReportServiceStatus(SERVICE_STOPPED, NO_ERROR, 0));
  EXPECT_EQ(events.Events().size(), 1u);
  EXPECT_EQ(service.Status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  service = saved;
}

TEST(ServiceStatus, ServiceErrorKeepsTheLastErrorAndReportsItUnderTheServiceName) {
  CapturedEvents events;
  ServiceState& service = Service();
  const ServiceState saved = service;
  service.ConsoleMode = false;
  SetLastError(ERROR_FILE_NOT_FOUND);
  ReportServiceError("SetServiceStatus");
  EXPECT_EQ(service.serviceExitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_EQ(events.Events().size(), 1u);
  const test::CapturedEvent event = events.Events()[0];
  EXPECT_EQ(event.Source, "QUAXWinProcess");
  EXPECT_EQ(event.Type, EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(event.Category, 0);
  EXPECT_EQ(event.EventId, 0u);
  ASSERT_EQ(event.Strings.size(), 2u);
  EXPECT_EQ(event.Strings[0], "QUAXWinProcess error: 2");
  EXPECT_EQ(event.Strings[1], "SetServiceStatus");
  service = saved;
}

TEST(ErrorText, KnownCodeHasTheSystemTextWithItsLineEnd) {
  const std::string text = SystemErrorText(ERROR_FILE_NOT_FOUND);
  ASSERT_GE(text.size(), 3u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(ErrorText, UnknownCodeIsNamedInDecimal) {
  EXPECT_STREQ(SystemErrorText(0x2345678), "Unknown Win32 Error #36984440");
}

TEST(ErrorText, ConsoleTextHasCodeInHexAndNoLineEnd) {
  SetLastError(ERROR_ACCESS_DENIED);
  const std::string text = ConsoleErrorText();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.substr(text.size() - 6), " (0x5)");
  EXPECT_EQ(text.find('\r'), std::string::npos);
  SetLastError(0x2345678);
  EXPECT_STREQ(ConsoleErrorText(), "");
}

TEST(ErrorText, ConsoleTextKeepsInsertsItHasNoArgumentsFor) {
  // "%1 is not a valid Win32 application." (Wine: "Bad EXE format for %1.")
  SetLastError(ERROR_BAD_EXE_FORMAT);
  const std::string text = ConsoleErrorText();
  EXPECT_NE(text.find("%1"), std::string::npos) << text;
  ASSERT_GE(text.size(), 7u);
  EXPECT_EQ(text.substr(text.size() - 7), " (0xc1)");
}

TEST(Privilege, DebugPrivilegeCanBeEnabledAndDisabled) {
  unique_handle token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()));
  EXPECT_TRUE(EnablePrivilege(token.get(), "SeDebugPrivilege", true));
  EXPECT_TRUE(EnablePrivilege(token.get(), "SeDebugPrivilege", false));
  EXPECT_FALSE(EnablePrivilege(token.get(), "SeNoSuchPrivilege", true));
}

TEST(Handles, ClosingKeepsTheLastError) {
  unique_handle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  SetLastError(ERROR_SHARING_VIOLATION);
  event.reset();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(event);
  unique_handle invalid(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(invalid);
}

TEST(Handles, MoveTransfersOwnership) {
  unique_handle first(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  const HANDLE raw = first.get();
  unique_handle second(std::move(first));
  EXPECT_FALSE(first);
  EXPECT_EQ(second.get(), raw);
  DWORD flags = 0;
  EXPECT_TRUE(GetHandleInformation(raw, &flags));
  second = unique_handle();
  EXPECT_FALSE(GetHandleInformation(raw, &flags));
}

}  // namespace
}  // namespace quax
