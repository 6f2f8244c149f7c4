#include "event_loop.h"

#include <direct.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <memory>
#include <new>
#include <vector>

#include "diagnostics.h"
#include "interval_command.h"
#include "process_control.h"
#include "process_info.h"
#include "process_list.h"
#include "process_logger.h"
#include "unique_handle.h"

namespace quax {

namespace {

constexpr std::uint64_t kTicksPerDay = 864'000'000'000;
constexpr DWORD kStartWaitHint = 3000;
constexpr int kAggregatedSamplingTrace = 15;
constexpr char kStatusFailed[] = "Service Control Manager Report Status failed.";

// The stop event of the run, for RequestStop on another thread. The run
// withdraws it under the exclusive hold before closing it, so a request
// either reaches the open event or finds none.
SRWLOCK g_stopLock = SRWLOCK_INIT;
HANDLE g_stopEvent = nullptr;

void PublishStopEvent(HANDLE stopEvent) noexcept {
  exclusive_lock_hold hold(g_stopLock);
  g_stopEvent = stopEvent;
}

bool ArmAfterSeconds(HANDLE timer, std::int32_t seconds) noexcept {
  const LARGE_INTEGER due = DueTimeAfterSeconds(seconds);
  return SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) != FALSE;
}

bool ArmAtTimeOfDay(HANDLE timer, const SYSTEMTIME& timeOfDay) noexcept {
  SYSTEMTIME now;
  GetLocalTime(&now);
  const FILETIME local = NextLocalTimeOfDay(now, timeOfDay.wHour, timeOfDay.wMinute);
  FILETIME utc;
  if (!LocalFileTimeToFileTime(&local, &utc)) return false;
  LARGE_INTEGER due;
  due.QuadPart = static_cast<LONGLONG>(TicksOf(utc));
  return SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) != FALSE;
}

bool IsSignalled(HANDLE handle) noexcept { return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0; }

// The handles that are signalled, tested without waiting up to 64 at a time
// (one call per group rather than one per handle: every process is tested at
// every wake-up).
std::vector<HANDLE> SignalledHandles(const std::vector<HANDLE>& handles) {
  std::vector<HANDLE> signalled;
  for (std::size_t begin = 0; begin < handles.size();) {
    const std::size_t count = std::min<std::size_t>(handles.size() - begin, MAXIMUM_WAIT_OBJECTS);
    const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(count), &handles[begin], FALSE, 0);
    if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + count) {
      // The first signalled one; the rest of the group is tested again.
      const std::size_t index = begin + (result - WAIT_OBJECT_0);
      signalled.push_back(handles[index]);
      begin = index + 1;
      continue;
    }
    if (result == WAIT_FAILED) {
      for (std::size_t i = begin; i < begin + count; ++i) {
        if (IsSignalled(handles[i])) signalled.push_back(handles[i]);
      }
    }
    begin += count;
  }
  return signalled;
}

// Everything one run owns; released in reverse order of creation.
class CollectorRun {
 public:
  explicit CollectorRun(DWORD* serviceExitCode) : exitCode_(serviceExitCode) {
    eventLog_.SetLabel("QUAXWINPROCESS");
    *exitCode_ = 0;
  }

  ~CollectorRun() {
    // Release: settings, writer, handle array, stop event, then the table.
    settings_.reset();
    writer_.reset();
    handles_.clear();
    handles_.shrink_to_fit();
    PublishStopEvent(nullptr);
    stopEvent_.reset();
  }

  bool Start();
  // Runs the wait loop; false when it ended on a fatal error that skips the
  // stop records.
  bool Loop();
  void Stop();
  // Ends a run that an exception (running out of memory) interrupted: the
  // error is reported and the stop sequence written as far as it can be
  // without allocating.
  void EndOnInternalError(const char* reason) noexcept;

 private:
  bool ReportStarting();
  void TraceAndReport(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
  bool ChooseLogDirectory(const TextField& defaultDirectory);
  void ConfigureWriter();
  bool EnableDebugPrivilege();
  bool CreateTimers();
  bool ArmAccountingTimer();
  bool IntervalAccounting() const { return settings_->GetAccountingInterval() > 0; }

  void BuildHandleArray();
  void HandleTerminations();
  bool HandleSampling();
  bool HandleAccountingInterval();
  void WriteEveryEntry(bool (CProcessList::*next)(bool, CProcessInfo**), char recordType);
  void WriteClosingRecords(CProcessInfo* snapshot) noexcept;
  void ReportStopped() noexcept;

  DWORD* exitCode_;
  CProcessList table_;
  CServiceEventLog eventLog_;
  std::unique_ptr<CProcessControlRegistry> settings_;
  std::unique_ptr<CProcessLoggerCSV> writer_;
  unique_handle accountingTimer_;
  unique_handle samplingTimer_;
  unique_handle stopEvent_;
  std::vector<HANDLE> handles_;
  std::vector<HANDLE> processes_;
  std::int32_t samplingInterval_ = 1;
  SYSTEMTIME accountingTime_ = {};
  int samplingCount_ = 0;
  // Set once start records may have been written: from then on every end
  // of the run closes the processes it knows.
  bool collecting_ = false;
};

void CollectorRun::TraceAndReport(const char* format, ...) noexcept {
  char message[CServiceEventLog::kMessageSize];
  va_list args;
  va_start(args, format);
  FormatTextV(message, sizeof message, format, args);
  va_end(args);
  GlobalTrace().Trace("%s", message);
  eventLog_.ReportError("%s", message);
}

bool CollectorRun::ReportStarting() {
  if (ReportServiceStatus(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint)) return true;
  TraceAndReport(kStatusFailed);
  return false;
}

bool CollectorRun::Start() {
  CTraceScope& trace = GlobalTrace();
  if (!ReportStarting()) return false;

  TextField defaultDirectory;
  DefaultLogDirectory(defaultDirectory);
  settings_.reset(new (std::nothrow) CProcessControlRegistry);
  if (!settings_) return false;
  settings_->ReadSettings();  // without the settings key the defaults apply
  if (!ReportStarting()) return false;
  trace.Trace("Control information found and read.");

  writer_.reset(new (std::nothrow) CProcessLoggerCSV);
  if (!writer_) {
    TraceAndReport("Unable to create ProcessLogger instance.");
    return false;
  }
  if (!ChooseLogDirectory(defaultDirectory)) return false;
  ConfigureWriter();
  if (!ReportStarting()) return false;
  if (!EnableDebugPrivilege()) return false;

  trace.Trace("Accounting Interval is %d", static_cast<int>(settings_->GetAccountingInterval()));
  if (!CreateTimers()) return false;

  stopEvent_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!stopEvent_) {
    TraceAndReport("Unable to create stop event: %s", SystemErrorText(GetLastError()));
    return false;
  }
  PublishStopEvent(stopEvent_.get());
  trace.Trace("Server stop event handle=%08lx", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(stopEvent_.get())));
  if (!ReportStarting()) return false;

  table_.SetUseLocalTime(settings_->GetUseLocalTime());
  table_.FullRefresh();
  collecting_ = true;
  if (IntervalAccounting()) {
    trace.Trace("Interval accounting enabled; writing list of all started processes.");
    WriteEveryEntry(&CProcessList::NextEntry, 'S');
    table_.ClearNewFlags();
  }
  if (!ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0)) {
    TraceAndReport(kStatusFailed);
    return false;
  }
  eventLog_.ReportInformation("%s has been started.", kServiceDisplayName);
  return true;
}

bool CollectorRun::ChooseLogDirectory(const TextField& defaultDirectory) {
  const char* configured = settings_->GetLogFilePath();
  const char* directory = configured;
  if (configured[0] != '\0') {
    writer_->SetLogFilePath(configured);
  } else {
    directory = defaultDirectory;
    writer_->SetLogFilePath(defaultDirectory);
    if (_mkdir(defaultDirectory) != 0 && errno != EEXIST) {
      eventLog_.ReportError("Unable to create default log file path '%s'", defaultDirectory);
      return false;
    }
  }
  if (writer_->IsLogFilePathValid()) return true;
  GlobalTrace().Trace("The log file path '%s' is not valid", directory);
  eventLog_.ReportError("The log file path '%s' is not valid.", directory);
  *exitCode_ = ERROR_PATH_NOT_FOUND;
  return false;
}

void CollectorRun::ConfigureWriter() {
  writer_->SetLogFilePrefix(settings_->GetLogFilePrefix());
  writer_->SetLogFileExtension(settings_->GetLogFileExtension());
  const char delimiter = settings_->GetLogFileFieldDelimiter();
  if (!IsUsableDelimiter(delimiter)) {
    eventLog_.ReportWarning("The log file field delimiter %u cannot separate fields; TAB (9) is used instead.",
                            unsigned{static_cast<unsigned char>(delimiter)});
  }
  writer_->SetLogFileFieldDelimiter(delimiter);
  writer_->SetEventLog(&eventLog_);
  // Without interval accounting every process still gets its end record.
  writer_->SetIntervalAccounting(IntervalAccounting());
  writer_->SetWriteIntervalEndRecords(IntervalAccounting() ? settings_->GetWriteIntervalEndRecords() : true);
}

bool CollectorRun::EnableDebugPrivilege() {
  unique_handle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
    TraceAndReport("Unable to open process token.");
    return false;
  }
  if (!EnablePrivilege(token.get(), "SeDebugPrivilege", true)) {
    token.reset();
    TraceAndReport("Unable to set process privilege.");
    return false;
  }
  return true;
}

bool CollectorRun::CreateTimers() {
  CTraceScope& trace = GlobalTrace();
  if (IntervalAccounting()) {
    trace.Trace("Interval Accounting ENABLED");
    accountingTimer_.reset(CreateWaitableTimerA(nullptr, TRUE, nullptr));
    if (!accountingTimer_) {
      const int error = static_cast<int>(GetLastError());
      trace.Trace("CreateWaitableTimer failed for Accounting Interval (%d)\n", error);
      eventLog_.ReportError("CreateWaitableTimer failed for Accounting Interval (%d)", error);
      return false;
    }
    trace.Trace("Interval accounting handle=%08lx",
                static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(accountingTimer_.get())));
    accountingTime_ = *settings_->GetAccountingIntervalTime();
    if (settings_->GetUseAccountingIntervalTime() && !IsValidTimeOfDay(accountingTime_)) {
      trace.Trace("Accounting interval time %d:%d is not a time of day; using 00:00",
                  int{accountingTime_.wHour}, int{accountingTime_.wMinute});
      accountingTime_ = {};
    }
    if (!ArmAccountingTimer()) return false;
  } else {
    trace.Trace("Interval Accounting DISABLED");
  }

  samplingInterval_ = UsableSamplingInterval(settings_->GetSamplingInterval());
  if (samplingInterval_ != settings_->GetSamplingInterval()) {
    trace.Trace("Sampling interval %d is below one second; using %d",
                static_cast<int>(settings_->GetSamplingInterval()), static_cast<int>(samplingInterval_));
  }
  samplingTimer_.reset(CreateWaitableTimerA(nullptr, TRUE, nullptr));
  if (!samplingTimer_) {
    TraceAndReport("CreateWaitableTimer for Sampling Interval failed (%d)", static_cast<int>(GetLastError()));
    return false;
  }
  trace.Trace("Sampling Interval handle=%08lx",
              static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(samplingTimer_.get())));
  if (!ArmAfterSeconds(samplingTimer_.get(), samplingInterval_)) {
    TraceAndReport("SetWaitableTimer failed for sampling interval (%d)", static_cast<int>(GetLastError()));
    return false;
  }
  return true;
}

bool CollectorRun::ArmAccountingTimer() {
  if (settings_->GetUseAccountingIntervalTime()) {
    if (ArmAtTimeOfDay(accountingTimer_.get(), accountingTime_)) return true;
    TraceAndReport("SetWaitableTimer failed for accounting interval time (%d)", static_cast<int>(GetLastError()));
    return false;
  }
  if (ArmAfterSeconds(accountingTimer_.get(), settings_->GetAccountingInterval())) return true;
  TraceAndReport("SetWaitableTimer failed for accounting interval (%d)", static_cast<int>(GetLastError()));
  return false;
}

void CollectorRun::WriteEveryEntry(bool (CProcessList::*next)(bool, CProcessInfo**), char recordType) {
  CProcessInfo* snapshot = nullptr;
  for (bool more = (table_.*next)(true, &snapshot); more; more = (table_.*next)(false, &snapshot)) {
    writer_->WriteProcessEntry(recordType, snapshot);
  }
}

void CollectorRun::WriteClosingRecords(CProcessInfo* snapshot) noexcept {
  if (IntervalAccounting()) writer_->WriteProcessEntry('I', snapshot);
  writer_->WriteProcessEntry('E', snapshot);
}

void CollectorRun::BuildHandleArray() {
  handles_.clear();
  handles_.push_back(stopEvent_.get());
  if (accountingTimer_) handles_.push_back(accountingTimer_.get());
  if (samplingTimer_) handles_.push_back(samplingTimer_.get());
  // WaitForMultipleObjects takes 64 handles: with more processes than fit,
  // none is waited on and terminations are noticed at the next timer.
  if (table_.CountWaitableHandles() > MAXIMUM_WAIT_OBJECTS - handles_.size()) return;
  HANDLE process;
  for (bool more = table_.NextWaitableHandle(true, &process); more; more = table_.NextWaitableHandle(false, &process)) {
    handles_.push_back(process);
  }
}

void CollectorRun::HandleTerminations() {
  CTraceScope& trace = GlobalTrace();
  processes_.clear();
  HANDLE process;
  for (bool more = table_.NextWaitableHandle(true, &process); more; more = table_.NextWaitableHandle(false, &process)) {
    processes_.push_back(process);
  }
  bool found = false;
  for (HANDLE ended : SignalledHandles(processes_)) {
    trace.Trace("Event Notification: PROCESS TERMINATION...Handle=%08lx",
                static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(ended)));
    table_.MarkTerminated(ended);
    found = true;
  }
  // Entries a sampling found gone are written here too, so that none waits
  // for another process to end.
  CProcessInfo* snapshot = nullptr;
  if (!found && !table_.NextTerminatedEntry(true, &snapshot)) return;
  for (bool more = table_.NextTerminatedEntry(true, &snapshot); more;
       more = table_.NextTerminatedEntry(false, &snapshot)) {
    trace.Trace("Process #%lu: %s has terminated.", static_cast<unsigned long>(snapshot->ProcessId),
                snapshot->ProcessName);
    snapshot->Refresh();
    WriteClosingRecords(snapshot);
  }
  table_.RemoveTerminated();
}

bool CollectorRun::HandleSampling() {
  CTraceScope& trace = GlobalTrace();
  if (samplingInterval_ == 1) {
    if (++samplingCount_ == kAggregatedSamplingTrace) {
      trace.Trace("Event Notification: SAMPLING INTERVAL (aggregated)...");
      samplingCount_ = 0;
    }
  } else {
    trace.Trace("Event Notification: SAMPLING INTERVAL...");
  }
  if (IntervalAccounting()) {
    table_.RefreshList();
    CProcessInfo* snapshot = nullptr;
    if (table_.NextNewEntry(true, &snapshot)) {
      WriteEveryEntry(&CProcessList::NextNewEntry, 'S');
      table_.ClearNewFlags();
    }
  } else {
    // Only new and vanished processes matter here: an end record refreshes
    // its snapshot first, so refreshing every known process each second
    // would change no record.
    table_.FullRefresh(false);
  }
  if (ArmAfterSeconds(samplingTimer_.get(), samplingInterval_)) return true;
  eventLog_.ReportError("SetWaitableTimer failed for sampling interval (%d)", static_cast<int>(GetLastError()));
  return false;
}

bool CollectorRun::HandleAccountingInterval() {
  CTraceScope& trace = GlobalTrace();
  trace.Trace("Event Notification: ACCOUNTING INTERVAL...");
  table_.FullRefresh();
  WriteEveryEntry(&CProcessList::NextNewEntry, 'S');
  WriteEveryEntry(&CProcessList::NextOldEntry, 'I');
  bool orphans = false;
  CProcessInfo* snapshot = nullptr;
  for (bool more = table_.NextTerminatedEntry(true, &snapshot); more;
       more = table_.NextTerminatedEntry(false, &snapshot)) {
    trace.Trace("Orphaned Process #%lu has terminated.", static_cast<unsigned long>(snapshot->ProcessId));
    snapshot->Refresh();
    WriteClosingRecords(snapshot);
    orphans = true;
  }
  if (orphans) table_.RemoveTerminated();
  table_.ClearNewFlags();
  RunIntervalCommand(settings_->GetAccountingIntervalCommand());
  return ArmAccountingTimer();
}

bool CollectorRun::Loop() {
  CTraceScope& trace = GlobalTrace();
  for (;;) {
    BuildHandleArray();
    const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(handles_.size()), handles_.data(), FALSE, INFINITE);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0) {
      trace.Trace("Event Notification: STOP...");
      return true;
    }
    if (result == WAIT_FAILED) {
      trace.TraceFailure("WaitForMultipleObjects failed: %s", SystemErrorText(GetLastError()));
      for (std::size_t i = 0; i < handles_.size(); ++i) {
        DWORD flags;
        if (!GetHandleInformation(handles_[i], &flags)) {
          trace.TraceFailure("Handle #%d is invalid, value=%08lX", static_cast<int>(i),
                             static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(handles_[i])));
        }
      }
      eventLog_.ReportError("Internal error: a handle has become invalid.\n\nThe collector is terminating.");
      return true;
    }
    HandleTerminations();
    if (IsSignalled(samplingTimer_.get()) && !HandleSampling()) return false;
    if (accountingTimer_ && IsSignalled(accountingTimer_.get()) && !HandleAccountingInterval()) return false;
  }
}

void CollectorRun::Stop() {
  if (IntervalAccounting()) {
    table_.FullRefresh();
    CProcessInfo* snapshot = nullptr;
    for (bool more = table_.NextEntry(true, &snapshot); more; more = table_.NextEntry(false, &snapshot)) {
      writer_->WriteProcessEntry('I', snapshot);
      writer_->WriteProcessEntry('E', snapshot);
    }
  }
  ReportStopped();
}

void CollectorRun::ReportStopped() noexcept {
  GlobalTrace().Trace("%s has been stopped.", kServiceDisplayName);
  eventLog_.ReportInformation("%s has been stopped.", kServiceDisplayName);
}

void CollectorRun::EndOnInternalError(const char* reason) noexcept {
  TraceAndReport("Internal error: %s.\n\nThe collector is terminating.", reason);
  *exitCode_ = ERROR_SERVICE_SPECIFIC_ERROR;
  if (!collecting_) return;
  // Each snapshot is refreshed on its own: a full refresh needs memory for
  // the process list. Ended processes get the records they are due, and with
  // interval accounting every other one is closed as at a stop.
  CProcessInfo* snapshot = nullptr;
  for (bool more = table_.NextTerminatedEntry(true, &snapshot); more;
       more = table_.NextTerminatedEntry(false, &snapshot)) {
    snapshot->Refresh();
    WriteClosingRecords(snapshot);
  }
  table_.RemoveTerminated();
  if (IntervalAccounting()) {
    for (bool more = table_.NextEntry(true, &snapshot); more; more = table_.NextEntry(false, &snapshot)) {
      snapshot->Refresh();
      WriteClosingRecords(snapshot);
    }
  }
  ReportStopped();
}

}  // namespace

LARGE_INTEGER DueTimeAfterSeconds(std::int32_t seconds) noexcept {
  LARGE_INTEGER due;
  due.QuadPart = -static_cast<LONGLONG>(seconds) * static_cast<LONGLONG>(kTicksPerSecond);
  return due;
}

FILETIME NextLocalTimeOfDay(const SYSTEMTIME& localNow, WORD hour, WORD minute) noexcept {
  SYSTEMTIME target = localNow;
  target.wHour = hour;
  target.wMinute = minute;
  target.wSecond = 0;
  target.wMilliseconds = 0;
  FILETIME now, at;
  SystemTimeToFileTime(&localNow, &now);
  SystemTimeToFileTime(&target, &at);
  std::uint64_t ticks = TicksOf(at);
  if (TicksOf(now) >= ticks) ticks += kTicksPerDay;
  return FileTimeOf(ticks);
}

std::int32_t UsableSamplingInterval(std::int32_t seconds) noexcept { return seconds < 1 ? 1 : seconds; }

bool IsValidTimeOfDay(const SYSTEMTIME& time) noexcept { return time.wHour < 24 && time.wMinute < 60; }

void RunCollector(DWORD, char**, DWORD* serviceExitCode) noexcept {
  CollectorRun run(serviceExitCode);
  // Nothing the run throws may end the thread (and with it the process)
  // before the run has said why and closed what it knows.
  try {
    if (run.Start() && run.Loop()) run.Stop();
  } catch (const std::bad_alloc&) {
    run.EndOnInternalError("out of memory");
  } catch (const std::exception& failure) {
    run.EndOnInternalError(failure.what());
  } catch (...) {
    run.EndOnInternalError("unexpected exception");
  }
}

bool RequestStop() noexcept {
  shared_lock_hold hold(g_stopLock);
  if (g_stopEvent == nullptr) return false;
  SetEvent(g_stopEvent);
  GlobalTrace().Trace("Service stop event set");
  return true;
}

}  // namespace quax
