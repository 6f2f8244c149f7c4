#include "host_collector.h"

#include <new>

#include "entry_platform.h"
#include "wow64_path.h"

namespace quax {

namespace {

constexpr char kEventLabel[] = "QUAXWINPROCESS";
// How long detach lets a record in flight on the worker finish: longer than
// the log writer's 30 opening attempts 500 ms apart.
constexpr DWORD kRecordFinishMilliseconds = 20000;

void WINAPI NoPause(DWORD) {}

std::unique_ptr<CHostCollector> g_collector;

// The settings' log folder as this process must name it to reach the files
// the other collectors write.
const char* HostLogFolder(const char* path, TextField& native) noexcept {
#if defined(_WIN64)
  static_cast<void>(native);
  return path;
#else
  BOOL wow64 = FALSE;
  char windows[MAX_PATH];
  const UINT length = GetSystemWindowsDirectoryA(windows, sizeof windows);
  if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64 && length > 0 && length < sizeof windows &&
      SysnativePath(path, windows, native)) {
    return native;
  }
  return path;
#endif
}

}  // namespace

CHostCollector::CHostCollector(const LogWriterPlatform* writerPlatform) noexcept {
  eventLog_.SetLabel(kEventLabel);
  snapshot_.SetNaming(ProcessNaming::ModuleList);
  snapshot_.SetProcessId(GetCurrentProcessId());
  settings_.ReadSettings();  // without the key the defaults hold
  snapshot_.UseLocalTime = settings_.GetUseLocalTime();

  const bool intervalAccounting = settings_.GetAccountingInterval() > 0;
  writer_.reset(new (std::nothrow) CProcessLoggerCSV);
  if (writer_) {
    writer_->SetColumns(RecordColumns::WithoutProject);
    if (writerPlatform != nullptr) writer_->SetPlatform(*writerPlatform);
    TextField nativeFolder;
    writer_->SetLogFilePath(HostLogFolder(settings_.GetLogFilePath(), nativeFolder));
    writer_->SetLogFilePrefix(settings_.GetLogFilePrefix());
    writer_->SetLogFileExtension(settings_.GetLogFileExtension());
    writer_->SetLogFileFieldDelimiter(settings_.GetLogFileFieldDelimiter());
    writer_->SetEventLog(&eventLog_);
    // Without interval accounting the end record is the only record.
    writer_->SetWriteIntervalEndRecords(!intervalAccounting || settings_.GetWriteIntervalEndRecords());
    writer_->SetIntervalAccounting(intervalAccounting);
  }
  if (!intervalAccounting) return;

  schedule_ = ScheduleAccountingTimer(settings_.GetAccountingInterval());
  timer_.reset(CreateWaitableTimerA(nullptr, FALSE, nullptr));
  HMODULE library = nullptr;
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<const char*>(&g_collector),
                         &library)) {
    startReference_.reset(library);
  }
  // The thread cannot run before the loader lets go of this attach.
  worker_.reset(CreateThread(nullptr, 0, &WorkerMain, this, 0, nullptr));
  if (!worker_) startReference_.reset();
}

DWORD WINAPI CHostCollector::WorkerMain(void* context) {
  auto& self = *static_cast<CHostCollector*>(context);
  if (self.BeginRecord()) {
    self.WriteRecord(RecordType::Start);
    self.ArmTimer();
    // Still marked writing: the unload this release may start waits until
    // the worker has finished with the releasing thread's handle.
    self.ReleaseStartReference();
    self.EndRecord();
  }
  // The worker never ends by itself, with or without a timer: it is only
  // ever ended by detach, while it holds nothing.
  for (;;) SleepEx(INFINITE, TRUE);
}

void CALLBACK CHostCollector::TimerRoutine(void* context, DWORD, DWORD) {
  auto& self = *static_cast<CHostCollector*>(context);
  if (!self.BeginRecord()) return;
  self.WriteRecord(RecordType::Interval);
  if (self.schedule_.RearmedByRoutine()) self.ArmTimer();
  self.EndRecord();
}

bool CHostCollector::BeginRecord() noexcept {
  return InterlockedCompareExchange(&state_, kWriting, kIdle) == kIdle;
}

void CHostCollector::EndRecord() noexcept { InterlockedExchange(&state_, kIdle); }

void CHostCollector::WriteRecord(RecordType type) noexcept {
  snapshot_.Refresh();
  if (writer_) writer_->WriteProcessEntry(static_cast<char>(type), &snapshot_);
}

// On the worker, inside a record, so that detach never closes the timer
// under it.
bool CHostCollector::ArmTimer() noexcept {
  if (!timer_) return false;
  LARGE_INTEGER dueTime;
  dueTime.QuadPart = schedule_.DueTime;
  if (!SetWaitableTimer(timer_.get(), &dueTime, schedule_.PeriodMilliseconds, &TimerRoutine, this, TRUE)) {
    timer_.reset();
    return false;
  }
  return true;
}

// The start record reads who the process is (its account, its modules), and
// on some systems that needs the loader lock. A detach that held the lock
// could then neither wait for that record nor end the worker inside it, so
// the library cannot be unloaded until the record is written: an unload
// asked for meanwhile happens when this reference goes. It is dropped by a
// thread of its own that runs FreeLibrary alone, so that the last reference
// never returns into an unloaded library.
void CHostCollector::ReleaseStartReference() noexcept {
  if (!startReference_) return;
  const auto freeLibrary =
      reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)()>(&FreeLibrary));
  BeforeStartReferenceHandover();
  // Without that thread the library simply stays until the process ends.
  unique_handle releaser(CreateThread(nullptr, 0, freeLibrary, startReference_.release(), 0, nullptr));
  AfterStartReferenceHandover();
}

// Runs under the loader lock while the worker may be anywhere. Outside a
// record the worker holds nothing (no file, no allocation, no thread start
// in progress) and is ended on the spot. A record in flight is an interval
// record, or the start record's last step, the hand-over of its reference
// that let this unload happen; either is let finish first. Neither makes a
// call that needs the loader lock, so this cannot deadlock, and the bound
// only guards against the unforeseen.
void CHostCollector::StopWorker() noexcept {
  if (!worker_) return;
  const DWORD began = GetTickCount();
  while (InterlockedCompareExchange(&state_, kStopped, kIdle) == kWriting &&
         GetTickCount() - began < kRecordFinishMilliseconds) {
    Sleep(1);
  }
  InterlockedExchange(&state_, kStopped);
  TerminateThread(worker_.get(), 0);
  worker_.reset();
}

void CHostCollector::Detach(bool processExiting) noexcept {
  if (processExiting) {
    // The system has already ended the worker. If it ended it inside a
    // record, that record's exclusive handle on the log file stays open
    // until the process is gone: waiting for the file would only hold up
    // the exit.
    if (state_ == kWriting && writer_) writer_->SetPlatform({&GetLocalTime, &NoPause});
  } else {
    StopWorker();
    if (timer_) CancelWaitableTimer(timer_.get());
    timer_.reset();
  }
  // Under the loader lock: a host whose module list cannot be read now is
  // not waited for.
  snapshot_.SetNaming(ProcessNaming::ModuleList, 1);
  if (!writer_) return;
  if (settings_.GetAccountingInterval() > 0) WriteRecord(RecordType::Interval);
  snapshot_.Refresh();
  snapshot_.Exiting = true;
  writer_->WriteProcessEntry(static_cast<char>(RecordType::End), &snapshot_);
}

void AttachHostCollector(const LogWriterPlatform* writerPlatform) noexcept {
  // The library writes no debug trace.
  SetTraceSink(nullptr);
  g_collector.reset(new (std::nothrow) CHostCollector(writerPlatform));
}

void DetachHostCollector(bool processExiting) noexcept {
  if (!g_collector) return;
  g_collector->Detach(processExiting);
  if (processExiting) {
    // Nothing is released while the process ends: the system reclaims it.
    static_cast<void>(g_collector.release());
  } else {
    g_collector.reset();
  }
}

}  // namespace quax
