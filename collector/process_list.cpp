#include "process_list.h"

#include <psapi.h>

#include <new>

#include "diagnostics.h"

namespace quax {

namespace {

constexpr DWORD kInitialProcessIds = 256;
// Far more than any system runs; a list that still fills the buffer is not
// asked for again, so the buffer size never overflows and the loop ends.
constexpr DWORD kMaxProcessIds = DWORD{1} << 20;

BOOL WINAPI SystemProcessIds(DWORD* ids, DWORD bufferBytes, DWORD* returnedBytes) {
  return EnumProcesses(ids, bufferBytes, returnedBytes);
}

}  // namespace

CProcessList::CProcessList() noexcept : processIdSource_(&SystemProcessIds) {}

CProcessList::~CProcessList() = default;

bool CProcessList::EnumerateProcessIds(std::vector<DWORD>& ids) const {
  // A full buffer may have cut the list: ask again with twice the room.
  for (DWORD count = kInitialProcessIds; count <= kMaxProcessIds; count *= 2) {
    ids.resize(count);
    const DWORD bufferBytes = count * static_cast<DWORD>(sizeof(DWORD));
    DWORD returnedBytes = 0;
    if (!processIdSource_(ids.data(), bufferBytes, &returnedBytes)) return false;
    if (returnedBytes < bufferBytes) {
      ids.resize(returnedBytes / sizeof(DWORD));
      return true;
    }
  }
  GlobalTrace().TraceFailure("The process list does not fit %lu ids", static_cast<unsigned long>(kMaxProcessIds));
  return false;
}

bool CProcessList::AddEntry(DWORD processId) {
  std::unique_ptr<ProcessListEntry> entry(new (std::nothrow) ProcessListEntry);
  if (!entry) return false;
  entry->Snapshot.reset(new (std::nothrow) CProcessInfo);
  if (!entry->Snapshot) return false;
  CProcessInfo& snapshot = *entry->Snapshot;
  snapshot.SetProcessId(processId);
  snapshot.UseLocalTime = useLocalTime_;
  snapshot.Refresh();
  if (snapshot.ProcessName[0] == '\0') {
    GlobalTrace().Trace("AddEntry: PID %d has no name, not added", static_cast<int>(processId));
    return true;
  }
  try {
    entries_.insert_or_assign(static_cast<std::int32_t>(processId), std::move(entry));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool CProcessList::FullRefresh(bool refreshKnown) {
  std::vector<DWORD> ids;
  if (!EnumerateProcessIds(ids)) return false;
  for (auto& [id, entry] : entries_) {
    entry->New = false;
    entry->Terminated = true;
  }
  for (DWORD processId : ids) {
    const auto found = entries_.find(static_cast<std::int32_t>(processId));
    if (found == entries_.end()) {
      AddEntry(processId);
      continue;
    }
    if (refreshKnown) found->second->Snapshot->Refresh();
    found->second->Terminated = false;
  }
  return true;
}

bool CProcessList::RefreshList() {
  std::vector<DWORD> ids;
  if (!EnumerateProcessIds(ids)) return false;
  for (DWORD processId : ids) {
    if (entries_.count(static_cast<std::int32_t>(processId)) != 0) continue;
    GlobalTrace().Trace("RefreshList: PID %d is new", static_cast<int>(processId));
    AddEntry(processId);
  }
  return true;
}

template <class Qualifies>
ProcessListEntry* CProcessList::Next(Cursor cursor, bool first, Qualifies qualifies) {
  auto it = first ? entries_.begin() : entries_.upper_bound(cursors_[cursor]);
  for (; it != entries_.end(); ++it) {
    if (qualifies(*it->second)) {
      cursors_[cursor] = it->first;
      return it->second.get();
    }
  }
  return nullptr;
}

namespace {

bool Deliver(ProcessListEntry* entry, CProcessInfo** out) {
  *out = entry ? entry->Snapshot.get() : nullptr;
  return entry != nullptr;
}

}  // namespace

bool CProcessList::NextEntry(bool first, CProcessInfo** out) {
  return Deliver(Next(kEvery, first, [](const ProcessListEntry&) { return true; }), out);
}

bool CProcessList::NextNewEntry(bool first, CProcessInfo** out) {
  return Deliver(Next(kNew, first, [](const ProcessListEntry& e) { return e.New; }), out);
}

bool CProcessList::NextOldEntry(bool first, CProcessInfo** out) {
  return Deliver(Next(kOld, first, [](const ProcessListEntry& e) { return !e.New; }), out);
}

bool CProcessList::NextTerminatedEntry(bool first, CProcessInfo** out) {
  return Deliver(Next(kTerminated, first, [](const ProcessListEntry& e) { return e.Terminated; }), out);
}

bool CProcessList::Waitable(const ProcessListEntry& entry) noexcept {
  return !entry.Terminated && entry.Snapshot->HasProcessHandle();
}

bool CProcessList::NextWaitableHandle(bool first, HANDLE* out) {
  ProcessListEntry* entry = Next(kWaitable, first, &Waitable);
  *out = entry ? entry->Snapshot->ProcessHandle() : INVALID_HANDLE_VALUE;
  return entry != nullptr;
}

unsigned CProcessList::CountWaitableHandles() const {
  unsigned count = 0;
  for (const auto& [id, entry] : entries_) count += Waitable(*entry) ? 1 : 0;
  return count;
}

bool CProcessList::ClearNewFlags() {
  for (auto& [id, entry] : entries_) entry->New = false;
  return true;
}

bool CProcessList::MarkTerminated(HANDLE process) {
  for (auto& [id, entry] : entries_) {
    if (entry->Snapshot->HasProcessHandle() && entry->Snapshot->ProcessHandle() == process) {
      entry->Terminated = true;
      return true;
    }
  }
  return false;
}

void CProcessList::RemoveTerminated() {
  std::erase_if(entries_, [](const auto& item) { return item.second->Terminated; });
}

}  // namespace quax
