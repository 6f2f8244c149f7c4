#include "process_info.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace quax {
namespace {

using test::ChildProcess;
using test::NamedEvent;

// The account the tests run under, as "DOMAIN\name" from its own query.
std::string CurrentUserName() {
  char name[256];
  DWORD size = sizeof name;
  GetUserNameA(name, &size);
  return name;
}

// A child that has done its I/O and waits for "go" to exit with a code.
class HeldChild {
 public:
  HeldChild(int exitCode, const std::vector<std::string>& environment, DWORD creationFlags)
      : base_(UniqueBase()), ready_(base_ + ".ready"), go_(base_ + ".go") {
    child_ = test::StartChild("\"" + test::BinaryDirectory() + "\\quax_test_child.exe\" hold " +
                                  std::to_string(exitCode) + " " + base_,
                              environment, creationFlags);
    ready = WaitForSingleObject(ready_.Handle.get(), 30000) == WAIT_OBJECT_0;
  }
  // An environment beyond the ANSI code page.
  HeldChild(const std::wstring& program, const std::vector<std::wstring>& environment)
      : base_(UniqueBase()), ready_(base_ + ".ready"), go_(base_ + ".go") {
    child_ = test::StartChild(L"\"" + program + L"\" hold 0 " + test::Wide(base_), environment);
    ready = WaitForSingleObject(ready_.Handle.get(), 30000) == WAIT_OBJECT_0;
  }
  ~HeldChild() {
    Release();
    WaitForSingleObject(child_.Process.get(), 30000);
  }
  void Release() { SetEvent(go_.Handle.get()); }
  bool WaitForExit() { return WaitForSingleObject(child_.Process.get(), 30000) == WAIT_OBJECT_0; }
  DWORD Id() const { return child_.ProcessId; }
  HANDLE Process() const { return child_.Process.get(); }

  bool ready = false;

 private:
  static std::string UniqueBase() {
    static int count = 0;
    return "quax-held-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
  }

  std::string base_;
  NamedEvent ready_, go_;
  ChildProcess child_;
};

std::vector<std::string> ChildEnvironment() {
  char systemRoot[MAX_PATH];
  GetEnvironmentVariableA("SystemRoot", systemRoot, sizeof systemRoot);
  return {std::string("SystemRoot=") + systemRoot, "PATH=C:\\windows\\system32",
          "vorne_currproj=Alpha-1", "QUAXU_CURRPROJ=Beta-2"};
}

TEST(ProcessInfo, FirstRefreshReadsIdentityOfARealChild) {
  HeldChild child(7, ChildEnvironment(), 0);
  ASSERT_TRUE(child.ready);
  ASSERT_TRUE(SetPriorityClass(child.Process(), BELOW_NORMAL_PRIORITY_CLASS));
  ASSERT_TRUE(SetProcessAffinityMask(child.Process(), 1));

  CProcessInfo info;
  info.SetProcessId(child.Id());
  ASSERT_TRUE(info.Refresh());
  EXPECT_FALSE(info.FirstRefresh);
  EXPECT_TRUE(info.HasProcessHandle());
  EXPECT_STREQ(info.ProcessName, "quax_test_child.exe");
  EXPECT_TRUE(EqualsIgnoreCase(info.ImageDirectory, test::BinaryDirectory().c_str())) << info.ImageDirectory;
  EXPECT_STREQ(info.ProjectName, "Alpha-1");  // first in the block wins
  EXPECT_EQ(info.ParentProcessId, GetCurrentProcessId());

  char machine[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD machineSize = sizeof machine;
  GetComputerNameA(machine, &machineSize);
  EXPECT_STREQ(info.MachineName, machine);
  const std::string user = info.UserName;
  const std::string account = CurrentUserName();
  ASSERT_GE(user.size(), account.size());
  EXPECT_EQ(user.substr(user.size() - account.size()), account) << user;

  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  EXPECT_EQ(info.SessionId, session);

  EXPECT_EQ(info.PriorityClass, static_cast<std::uint32_t>(BELOW_NORMAL_PRIORITY_CLASS));
  EXPECT_STREQ(PriorityClassName(info.PriorityClass), "BelowNormal");
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  EXPECT_EQ(info.SystemProcessorCount, system.dwNumberOfProcessors);
  EXPECT_EQ(info.EligibleProcessorCount, 1u);
  EXPECT_EQ(info.AffinityMask, 1u);

  EXPECT_NE(info.CreationTime, 0u);
  EXPECT_EQ(info.ExitCode, static_cast<std::uint32_t>(STILL_ACTIVE));
  EXPECT_EQ(info.ExitTime, info.IntervalEnd);  // a running process "exits" at the refresh
  EXPECT_GT(info.WorkingSet, 0u);
  EXPECT_TRUE(info.IsRunning());
}

TEST(ProcessInfo, EndedChildCarriesExitCodeAndExitTime) {
  HeldChild child(7, ChildEnvironment(), 0);
  ASSERT_TRUE(child.ready);
  CProcessInfo info;
  info.SetProcessId(child.Id());
  ASSERT_TRUE(info.Refresh());
  child.Release();
  ASSERT_TRUE(child.WaitForExit());
  EXPECT_FALSE(info.IsRunning());

  ASSERT_TRUE(info.Refresh());  // the handle stays open after the exit
  EXPECT_EQ(info.ExitCode, 7u);
  EXPECT_GT(info.ExitTime, info.CreationTime);
  EXPECT_LE(info.ExitTime, info.IntervalEnd);
  EXPECT_DOUBLE_EQ(info.ElapsedSeconds.Current, SecondsBetween(info.ExitTime, info.CreationTime));
  EXPECT_STREQ(info.ProcessName, "quax_test_child.exe");  // not read again
}

std::wstring SystemRootVariable() {
  wchar_t systemRoot[MAX_PATH];
  GetEnvironmentVariableW(L"SystemRoot", systemRoot, MAX_PATH);
  return std::wstring(L"SystemRoot=") + systemRoot;
}

TEST(ProcessInfo, TextsComeInTheSystemsAnsiCodePage) {
  // collector_tests run with the Cyrillic code page 1251 (see
  // collector/CMakeLists.txt): a Cyrillic project name survives, a
  // character the code page lacks becomes "?". (Wine's file names are ASCII
  // only in that setting, as no Russian Unix locale is installed.)
  ASSERT_EQ(GetACP(), 1251u);
  HeldChild child(test::Wide(test::BinaryDirectory()) + L"\\quax_test_child.exe",
                  {SystemRootVariable(), L"QUAXU_CURRPROJ=\u041f\u0440\u043e\u0435\u043a\u0442-\u03a9"});
  ASSERT_TRUE(child.ready);
  CProcessInfo info;
  info.SetProcessId(child.Id());
  ASSERT_TRUE(info.Refresh());
  EXPECT_STREQ(info.ProjectName, "\xcf\xf0\xee\xe5\xea\xf2-?");
  EXPECT_STREQ(info.ProcessName, "quax_test_child.exe");
}

TEST(ProcessInfo, ChildWithoutProjectVariableHasEmptyProject) {
  std::vector<std::string> environment = ChildEnvironment();
  environment.resize(2);
  HeldChild child(0, environment, 0);
  ASSERT_TRUE(child.ready);
  CProcessInfo info;
  info.SetProcessId(child.Id());
  ASSERT_TRUE(info.Refresh());
  EXPECT_STREQ(info.ProjectName, "");
}

TEST(ProcessInfo, SecondRefreshMovesCurrentToPrevious) {
  HeldChild child(0, ChildEnvironment(), 0);
  ASSERT_TRUE(child.ready);
  CProcessInfo info;
  info.SetProcessId(child.Id());
  ASSERT_TRUE(info.Refresh());
  const ProcessFigures first = info;
  Sleep(20);
  ASSERT_TRUE(info.Refresh());
  EXPECT_EQ(info.IntervalStart, first.IntervalEnd);
  EXPECT_GT(info.IntervalEnd, info.IntervalStart);
  EXPECT_EQ(info.PageFaults.Previous, first.PageFaults.Current);
  EXPECT_EQ(info.BytesWritten.Previous, first.BytesWritten.Current);
  EXPECT_EQ(info.KernelSeconds.Previous, first.KernelSeconds.Current);
  EXPECT_EQ(info.ElapsedSeconds.Previous, first.ElapsedSeconds.Current);
  EXPECT_GT(info.ElapsedSeconds.Current, info.ElapsedSeconds.Previous);
}

TEST(ProcessInfo, TwoRefreshesWithoutActivityGiveZeroDeltas) {
  // An ended process can do nothing between two refreshes.
  HeldChild child(0, ChildEnvironment(), 0);
  ASSERT_TRUE(child.ready);
  CProcessInfo info;
  info.SetProcessId(child.Id());
  ASSERT_TRUE(info.Refresh());
  child.Release();
  ASSERT_TRUE(child.WaitForExit());
  ASSERT_TRUE(info.Refresh());
  // Wine difference: Wine reads an ended process's times from its Unix
  // process, which can still be finishing its exit for a moment after the
  // wait returned; on Windows they are final at once. Wait until they rest.
  const auto timesRest = [&info] {
    return info.CpuSeconds.Current == info.CpuSeconds.Previous &&
           info.KernelSeconds.Current == info.KernelSeconds.Previous &&
           info.UserSeconds.Current == info.UserSeconds.Previous;
  };
  for (int attempt = 0; attempt < 100; ++attempt) {
    Sleep(20);
    ASSERT_TRUE(info.Refresh());
    if (timesRest()) break;
  }
  ASSERT_TRUE(info.Refresh());
  EXPECT_EQ(info.CpuSeconds.Current, info.CpuSeconds.Previous);
  EXPECT_EQ(info.KernelSeconds.Current, info.KernelSeconds.Previous);
  EXPECT_EQ(info.UserSeconds.Current, info.UserSeconds.Previous);
  EXPECT_EQ(info.ElapsedSeconds.Current, info.ElapsedSeconds.Previous);
  EXPECT_EQ(info.PageFaults.Delta(), 0u);
  EXPECT_EQ(info.ReadOperations.Delta(), 0u);
  EXPECT_EQ(info.WriteOperations.Delta(), 0u);
  EXPECT_EQ(info.BytesRead.Delta(), 0u);
  EXPECT_EQ(info.BytesWritten.Delta(), 0u);
}

TEST(ProcessInfo, IoCountersOfTheChild) {
  HeldChild child(0, ChildEnvironment(), 0);
  ASSERT_TRUE(child.ready);
  CProcessInfo info;
  info.SetProcessId(child.Id());
  ASSERT_TRUE(info.Refresh());
  ASSERT_TRUE(info.IoCountersAvailable);
  IO_COUNTERS io;
  ASSERT_TRUE(GetProcessIoCounters(child.Process(), &io));
  EXPECT_EQ(info.BytesWritten.Current, io.WriteTransferCount);
  EXPECT_EQ(info.WriteOperations.Current, io.WriteOperationCount);
  // Wine keeps no per-process I/O accounting and reports zeros, where
  // Windows reports the child's 256 KB written.
  const bool wineReportsNoIo = io.WriteTransferCount == 0;
  if (!wineReportsNoIo) {
    EXPECT_GE(info.BytesWritten.Current, 256u * 1024);
  }
}

TEST(ProcessInfo, ProcessThatCannotBeOpenedGivesFalseAndStaysUnchanged) {
  CProcessInfo info;
  info.SetProcessId(0x7FFFFFF0);  // no such process
  EXPECT_FALSE(info.Refresh());
  EXPECT_FALSE(info.HasProcessHandle());
  EXPECT_TRUE(info.FirstRefresh);
  EXPECT_STREQ(info.ProcessName, "");
  EXPECT_FALSE(info.IsRunning());
}

TEST(ProcessInfo, PseudoProcessesAreNamedAndAlwaysRunning) {
  CProcessInfo idle;
  idle.SetProcessId(0);
  const bool listed = idle.Refresh();
  EXPECT_STREQ(idle.ProcessName, "System Idle Process");
  EXPECT_TRUE(idle.IsRunning());
  EXPECT_EQ(idle.PriorityClass, 0u);
  EXPECT_STREQ(PriorityClassName(idle.PriorityClass), "Unknown");
  EXPECT_GT(idle.SystemProcessorCount, 0u);
  EXPECT_EQ(idle.SystemProcessorCount, idle.EligibleProcessorCount);
  // Windows lists the idle process as id 0; Wine's system process list has
  // no such entry, so Refresh answers false there after naming it.
  if (listed) {
    EXPECT_NE(idle.IntervalEnd, 0u);
  }

  CProcessInfo system;
  system.SetProcessId(CProcessInfo::SystemProcessId());
  system.Refresh();
  EXPECT_STREQ(system.ProcessName, "System");
  EXPECT_TRUE(system.IsRunning());
}

TEST(ProcessInfo, ConvertFileTimeInUtcAndZero) {
  CProcessInfo info;
  info.UseLocalTime = false;
  SYSTEMTIME parts = {2026, 12, 0, 6, 21, 46, 19, 87};
  FILETIME time;
  ASSERT_TRUE(SystemTimeToFileTime(&parts, &time));
  DateTimeParts out;
  ASSERT_TRUE(info.ConvertFileTime(&time, &out));
  EXPECT_EQ(out.Year, 2026);
  EXPECT_EQ(out.Month, 12);
  EXPECT_EQ(out.Day, 6);
  EXPECT_EQ(out.Hour, 21);
  EXPECT_EQ(out.Minute, 46);
  EXPECT_EQ(out.Second, 19);
  EXPECT_EQ(out.Milliseconds, 87);

  const FILETIME zero = {};
  out.Year = 1;
  EXPECT_TRUE(info.ConvertFileTime(&zero, &out));
  EXPECT_EQ(out.Year, 0);
  EXPECT_FALSE(info.ConvertFileTime(nullptr, &out));
  EXPECT_FALSE(info.ConvertFileTime(&time, nullptr));
}

TEST(ProcessInfo, ConvertFileTimeInLocalTime) {
  CProcessInfo info;
  SYSTEMTIME utc = {2026, 6, 0, 15, 12, 0, 0, 0};
  FILETIME time, local;
  ASSERT_TRUE(SystemTimeToFileTime(&utc, &time));
  ASSERT_TRUE(FileTimeToLocalFileTime(&time, &local));
  SYSTEMTIME expected;
  FileTimeToSystemTime(&local, &expected);
  DateTimeParts out;
  ASSERT_TRUE(info.ConvertFileTime(&time, &out));
  EXPECT_EQ(out.Hour, expected.wHour);
  EXPECT_EQ(out.Day, expected.wDay);
}

TEST(ProcessInfo, ResetCountersKeepsIdHandleAndFlags) {
  CProcessInfo info;
  info.SetProcessId(GetCurrentProcessId());
  ASSERT_TRUE(info.Refresh());
  info.UseLocalTime = false;
  info.ResetCounters();
  EXPECT_EQ(info.ProcessId, GetCurrentProcessId());
  EXPECT_TRUE(info.HasProcessHandle());
  EXPECT_FALSE(info.UseLocalTime);
  EXPECT_STREQ(info.ProcessName, "");
  EXPECT_EQ(info.CreationTime, 0u);
  EXPECT_EQ(info.CpuSeconds.Current, 0.0);
  // An empty name makes the next refresh a full first refresh again.
  ASSERT_TRUE(info.Refresh());
  EXPECT_STREQ(info.ProcessName, "collector_tests.exe");
}

TEST(ProcessInfo, ModuleListNamingTakesTheProgramModuleAndNoProject) {
  HeldChild child(0, ChildEnvironment(), 0);
  ASSERT_TRUE(child.ready);
  CProcessInfo info;
  info.SetNaming(ProcessNaming::ModuleList);
  info.SetProcessId(child.Id());
  ASSERT_TRUE(info.Refresh());
  EXPECT_STREQ(info.ProcessName, "quax_test_child.exe");
  EXPECT_TRUE(EqualsIgnoreCase(info.ImageDirectory, test::BinaryDirectory().c_str())) << info.ImageDirectory;
  EXPECT_STREQ(info.ProjectName, "");
  EXPECT_EQ(info.ParentProcessId, GetCurrentProcessId());
}

TEST(ProcessInfo, ModuleListNamingRetriesUntilTheListIsReadable) {
  // A process created suspended has no module list yet.
  ChildProcess child = test::StartChild(
      "\"" + test::BinaryDirectory() + "\\quax_test_child.exe\" sleep 3000", {}, CREATE_SUSPENDED);
  ASSERT_TRUE(child.Process);
  CProcessInfo info;
  info.SetNaming(ProcessNaming::ModuleList, 3);
  info.SetProcessId(child.ProcessId);
  const DWORD began = GetTickCount();
  ASSERT_TRUE(info.Refresh());
  EXPECT_STREQ(info.ProcessName, "");
  EXPECT_GE(GetTickCount() - began, 2 * CProcessInfo::kModuleListRetryMilliseconds - 20);

  // Once it runs, the next refresh reads the names again.
  ResumeThread(child.Thread.get());
  Sleep(300);
  ASSERT_TRUE(info.Refresh());
  EXPECT_STREQ(info.ProcessName, "quax_test_child.exe");
  TerminateProcess(child.Process.get(), 0);
}

TEST(ProcessInfo, ExitingFlagMakesItNotRunning) {
  CProcessInfo info;
  info.SetProcessId(GetCurrentProcessId());
  ASSERT_TRUE(info.Refresh());
  EXPECT_TRUE(info.IsRunning());
  info.Exiting = true;
  EXPECT_FALSE(info.IsRunning());
}

}  // namespace
}  // namespace quax
