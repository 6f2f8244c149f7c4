#include "process_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

namespace quax {
namespace {

using test::CapturedTrace;
using test::ChildProcess;

ChildProcess StartSleeper() {
  // Ended by TerminateProcess long before it wakes up.
  return test::StartChild("\"" + test::BinaryDirectory() + "\\quax_test_child.exe\" sleep 60000");
}

std::vector<DWORD> Ids(CProcessList& list, bool (CProcessList::*next)(bool, CProcessInfo**)) {
  std::vector<DWORD> ids;
  CProcessInfo* info = nullptr;
  for (bool more = (list.*next)(true, &info); more; more = (list.*next)(false, &info)) ids.push_back(info->ProcessId);
  return ids;
}

bool Contains(const std::vector<DWORD>& ids, DWORD id) {
  for (DWORD candidate : ids) {
    if (candidate == id) return true;
  }
  return false;
}

TEST(ProcessList, EmptyTableEnumeratesNothing) {
  CProcessList list;
  CProcessInfo* info = reinterpret_cast<CProcessInfo*>(1);
  EXPECT_FALSE(list.NextEntry(true, &info));
  EXPECT_EQ(info, nullptr);
  HANDLE handle = nullptr;
  EXPECT_FALSE(list.NextWaitableHandle(true, &handle));
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(list.CountWaitableHandles(), 0u);
  EXPECT_FALSE(list.MarkTerminated(GetCurrentProcess()));
}

TEST(ProcessList, FullRefreshAddsRunningProcessesInIdOrder) {
  ChildProcess child = StartSleeper();
  Sleep(200);
  CProcessList list;
  ASSERT_TRUE(list.FullRefresh());
  const std::vector<DWORD> every = Ids(list, &CProcessList::NextEntry);
  EXPECT_TRUE(Contains(every, GetCurrentProcessId()));
  EXPECT_TRUE(Contains(every, child.ProcessId));
  EXPECT_TRUE(std::is_sorted(every.begin(), every.end()));
  EXPECT_EQ(Ids(list, &CProcessList::NextNewEntry), every);
  EXPECT_TRUE(Ids(list, &CProcessList::NextOldEntry).empty());
  EXPECT_TRUE(Ids(list, &CProcessList::NextTerminatedEntry).empty());

  // Every snapshot has been refreshed and can be waited on.
  EXPECT_EQ(list.CountWaitableHandles(), every.size());
  std::set<HANDLE> handles;
  HANDLE handle;
  for (bool more = list.NextWaitableHandle(true, &handle); more; more = list.NextWaitableHandle(false, &handle)) {
    EXPECT_EQ(WaitForSingleObject(handle, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    handles.insert(handle);
  }
  EXPECT_EQ(handles.size(), every.size());
  TerminateProcess(child.Process.get(), 0);
}

TEST(ProcessList, TerminationSeenByHandleThenRemoved) {
  ChildProcess child = StartSleeper();
  Sleep(200);
  CProcessList list;
  ASSERT_TRUE(list.FullRefresh());
  ASSERT_TRUE(list.ClearNewFlags());
  const unsigned before = list.CountWaitableHandles();
  TerminateProcess(child.Process.get(), 9);
  WaitForSingleObject(child.Process.get(), 10000);

  HANDLE handle;
  HANDLE signalled = nullptr;
  for (bool more = list.NextWaitableHandle(true, &handle); more; more = list.NextWaitableHandle(false, &handle)) {
    if (WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) signalled = handle;
  }
  ASSERT_NE(signalled, nullptr);
  EXPECT_TRUE(list.MarkTerminated(signalled));
  EXPECT_EQ(list.CountWaitableHandles(), before - 1);

  // The snapshot can still be refreshed for its final figures.
  CProcessInfo* ended = nullptr;
  ASSERT_TRUE(list.NextTerminatedEntry(true, &ended));
  EXPECT_EQ(ended->ProcessId, child.ProcessId);
  EXPECT_TRUE(ended->Refresh());
  EXPECT_EQ(ended->ExitCode, 9u);
  EXPECT_FALSE(list.NextTerminatedEntry(false, &ended));

  list.RemoveTerminated();
  EXPECT_FALSE(Contains(Ids(list, &CProcessList::NextEntry), child.ProcessId));
  EXPECT_TRUE(Ids(list, &CProcessList::NextTerminatedEntry).empty());
  EXPECT_EQ(list.CountWaitableHandles(), before - 1);
}

TEST(ProcessList, FullRefreshFlagsVanishedProcessesAndRefreshListAddsNewOnes) {
  ChildProcess gone = StartSleeper();
  Sleep(200);
  CProcessList list;
  ASSERT_TRUE(list.FullRefresh());
  TerminateProcess(gone.Process.get(), 0);
  WaitForSingleObject(gone.Process.get(), 10000);
  gone.Process.reset();  // the id may now disappear from the system's list
  gone.Thread.reset();
  ChildProcess added = StartSleeper();
  Sleep(200);

  CapturedTrace trace;
  ASSERT_TRUE(list.RefreshList());
  EXPECT_TRUE(trace.Contains("\nQUAXWinProcess: RefreshList: PID " + std::to_string(added.ProcessId) + " is new"));
  EXPECT_TRUE(Contains(Ids(list, &CProcessList::NextNewEntry), added.ProcessId));  // ids are reused: not the last
  EXPECT_TRUE(Ids(list, &CProcessList::NextTerminatedEntry).empty());  // RefreshList flags nothing

  ASSERT_TRUE(list.FullRefresh());
  EXPECT_EQ(Ids(list, &CProcessList::NextTerminatedEntry), std::vector<DWORD>{gone.ProcessId});
  EXPECT_TRUE(Ids(list, &CProcessList::NextNewEntry).empty());  // nothing new since the last look
  TerminateProcess(added.Process.get(), 0);
}

TEST(ProcessList, ProcessThatCannotBeOpenedIsNeverAdded) {
  CapturedTrace trace;
  CProcessList list;
  EXPECT_TRUE(list.AddEntry(0x7FFFFFF0));
  EXPECT_EQ(list.Size(), 0u);
  EXPECT_TRUE(trace.Contains("\nQUAXWinProcess: AddEntry: PID 2147483632 has no name, not added"));
}

// More ids than the first buffer holds: the list is asked again with a
// buffer twice as large until everything fits.
std::vector<DWORD> g_fakeIds;
std::vector<DWORD> g_bufferSizes;
BOOL WINAPI FakeProcessIds(DWORD* ids, DWORD bufferBytes, DWORD* returnedBytes) {
  g_bufferSizes.push_back(bufferBytes);
  const std::size_t fits = std::min<std::size_t>(g_fakeIds.size(), bufferBytes / sizeof(DWORD));
  std::copy_n(g_fakeIds.begin(), fits, ids);
  *returnedBytes = static_cast<DWORD>(fits * sizeof(DWORD));
  return TRUE;
}
BOOL WINAPI FailingProcessIds(DWORD*, DWORD, DWORD*) { return FALSE; }

TEST(ProcessList, LargeSystemsDoubleTheBufferUntilAllIdsAreSeen) {
  // 600 ids that cannot be opened, and this process.
  g_fakeIds.clear();
  for (DWORD id = 0x7FFF0000; g_fakeIds.size() < 600; id += 4) g_fakeIds.push_back(id);
  g_fakeIds.push_back(GetCurrentProcessId());
  g_bufferSizes.clear();
  CProcessList list;
  list.SetProcessIdSource(&FakeProcessIds);
  ASSERT_TRUE(list.FullRefresh());
  EXPECT_EQ(g_bufferSizes, (std::vector<DWORD>{1024, 2048, 4096}));
  EXPECT_EQ(Ids(list, &CProcessList::NextEntry), std::vector<DWORD>{GetCurrentProcessId()});

  // Exactly 256 ids fill the first buffer: one more call confirms the end.
  g_fakeIds.resize(256);
  g_bufferSizes.clear();
  ASSERT_TRUE(list.RefreshList());
  EXPECT_EQ(g_bufferSizes, (std::vector<DWORD>{1024, 2048}));
}

// A source that fills every buffer it is given, however large.
int g_fillingCalls = 0;
BOOL WINAPI FillingProcessIds(DWORD* ids, DWORD bufferBytes, DWORD* returnedBytes) {
  ++g_fillingCalls;
  std::fill_n(ids, bufferBytes / sizeof(DWORD), DWORD{0x7FFF0000});
  *returnedBytes = bufferBytes;
  return TRUE;
}

TEST(ProcessList, ASourceThatNeverFitsIsGivenUpAtABound) {
  CProcessList list;
  ASSERT_TRUE(list.AddEntry(GetCurrentProcessId()));
  list.SetProcessIdSource(&FillingProcessIds);
  g_fillingCalls = 0;
  EXPECT_FALSE(list.FullRefresh());
  // 256 ids doubled up to a million: 13 buffers of at most 4 MB.
  EXPECT_EQ(g_fillingCalls, 13);
  EXPECT_FALSE(list.RefreshList());
  EXPECT_EQ(Ids(list, &CProcessList::NextEntry), std::vector<DWORD>{GetCurrentProcessId()});
  EXPECT_TRUE(Ids(list, &CProcessList::NextTerminatedEntry).empty());
}

TEST(ProcessList, FailedEnumerationChangesNothing) {
  CProcessList list;
  ASSERT_TRUE(list.AddEntry(GetCurrentProcessId()));
  list.SetProcessIdSource(&FailingProcessIds);
  EXPECT_FALSE(list.FullRefresh());
  EXPECT_FALSE(list.RefreshList());
  EXPECT_EQ(Ids(list, &CProcessList::NextNewEntry), std::vector<DWORD>{GetCurrentProcessId()});
  EXPECT_TRUE(Ids(list, &CProcessList::NextTerminatedEntry).empty());
}

TEST(ProcessList, UseLocalTimeReachesEverySnapshot) {
  CProcessList list;
  list.SetUseLocalTime(false);
  ASSERT_TRUE(list.AddEntry(GetCurrentProcessId()));
  CProcessInfo* info = nullptr;
  ASSERT_TRUE(list.NextEntry(true, &info));
  EXPECT_FALSE(info->UseLocalTime);
}

}  // namespace
}  // namespace quax
