// CProcessList: the processes the collector accounts for, one entry per
// process id with its snapshot and the flags that tell the event loop which
// records are due.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "process_info.h"

namespace quax {

struct ProcessListEntry {
  std::unique_ptr<CProcessInfo> Snapshot;
  bool Terminated = false;  // ended; its records are due and it will be removed
  bool New = true;          // added since the new flags were last cleared
};

class CProcessList {
 public:
  // Asks the system for the ids of all processes; tests replace it to
  // simulate large systems and failures.
  using ProcessIdSource = BOOL(WINAPI*)(DWORD* ids, DWORD bufferBytes, DWORD* returnedBytes);

  CProcessList() noexcept;
  ~CProcessList();
  CProcessList(const CProcessList&) = delete;
  CProcessList& operator=(const CProcessList&) = delete;

  bool AddEntry(DWORD processId);
  // With refreshKnown false the known entries keep their snapshots as they
  // are (for a caller that writes no record before it refreshes one).
  bool FullRefresh(bool refreshKnown = true);
  bool RefreshList();
  bool NextEntry(bool first, CProcessInfo** out);
  bool NextNewEntry(bool first, CProcessInfo** out);
  bool NextOldEntry(bool first, CProcessInfo** out);
  bool NextTerminatedEntry(bool first, CProcessInfo** out);
  bool NextWaitableHandle(bool first, HANDLE* out);
  unsigned CountWaitableHandles() const;
  bool ClearNewFlags();
  bool MarkTerminated(HANDLE process);
  void RemoveTerminated();

  void SetUseLocalTime(bool useLocalTime) noexcept { useLocalTime_ = useLocalTime; }
  void SetProcessIdSource(ProcessIdSource source) noexcept { processIdSource_ = source; }
  std::size_t Size() const noexcept { return entries_.size(); }

 private:
  enum Cursor { kEvery, kNew, kOld, kTerminated, kWaitable, kCursorCount };
  using Entries = std::map<std::int32_t, std::unique_ptr<ProcessListEntry>>;

  bool EnumerateProcessIds(std::vector<DWORD>& ids) const;
  // Advances the cursor to the next entry (in id order) that qualifies.
  template <class Qualifies>
  ProcessListEntry* Next(Cursor cursor, bool first, Qualifies qualifies);
  static bool Waitable(const ProcessListEntry& entry) noexcept;

  Entries entries_;
  bool useLocalTime_ = true;
  ProcessIdSource processIdSource_;
  std::int32_t cursors_[kCursorCount] = {};
};

}  // namespace quax
