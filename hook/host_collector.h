// The in-process collector: records the process it is loaded into (its
// host) into the daily process log file. A start record from a worker
// thread, an interval record from a periodic timer's completion routine on
// that thread, and the closing records when the library is detached.
#pragma once

#include <windows.h>

#include <memory>

#include "accounting_timer.h"
#include "diagnostics.h"
#include "process_control.h"
#include "process_info.h"
#include "process_logger.h"
#include "unique_handle.h"

namespace quax {

class CHostCollector {
 public:
  // Reads the settings and starts collecting. `writerPlatform` replaces the
  // log writer's clock and retry pause (null: the real ones).
  explicit CHostCollector(const LogWriterPlatform* writerPlatform) noexcept;
  CHostCollector(const CHostCollector&) = delete;
  CHostCollector& operator=(const CHostCollector&) = delete;

  // Stops the worker and writes the closing records. `processExiting`: the
  // process is ending and its other threads are already gone.
  void Detach(bool processExiting) noexcept;

 private:
  // The worker and the detaching thread agree through this word alone: the
  // worker holds it at Writing for each record (the start record until its
  // last step, the release of the start reference, is done), detach takes
  // it from Idle to Stopped, after which the worker writes nothing more.
  enum WorkerState : LONG { kIdle, kWriting, kStopped };

  static DWORD WINAPI WorkerMain(void* context);
  static void CALLBACK TimerRoutine(void* context, DWORD lowTime, DWORD highTime);

  bool BeginRecord() noexcept;
  void EndRecord() noexcept;
  void WriteRecord(RecordType type) noexcept;
  bool ArmTimer() noexcept;
  void ReleaseStartReference() noexcept;
  void StopWorker() noexcept;

  CServiceEventLog eventLog_{EventLogForm::ErrorsOnly};
  CProcessInfo snapshot_;
  CProcessControlRegistry settings_{SettingsReader::InProcess};
  std::unique_ptr<CProcessLoggerCSV> writer_;
  AccountingTimerSchedule schedule_;
  unique_handle timer_;
  // Keeps the library loaded until the start record is written (see the
  // worker).
  unique_module startReference_;
  unique_handle worker_;
  volatile LONG state_ = kIdle;
};

// The library's one collector, created at process attach and ended at
// process detach.
void AttachHostCollector(const LogWriterPlatform* writerPlatform) noexcept;
void DetachHostCollector(bool processExiting) noexcept;

}  // namespace quax
