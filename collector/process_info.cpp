#include "process_info.h"

#include <psapi.h>

#include <bit>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <optional>

#include "ansi_text.h"
#include "diagnostics.h"
#include "nt_layouts.h"
#include "process_text.h"

namespace quax {

namespace {

using NtQueryInformationProcessFn = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
using NtQuerySystemInformationFn = LONG(NTAPI*)(int, void*, ULONG, ULONG*);
using GetProcessIoCountersFn = BOOL(WINAPI*)(HANDLE, IO_COUNTERS*);

// Shared by all snapshots of the process; used from one thread only.
struct SharedState {
  int liveCount = 0;
  unique_module ntdll;
  NtQueryInformationProcessFn queryInformationProcess = nullptr;
  NtQuerySystemInformationFn querySystemInformation = nullptr;
  unique_module kernel32;
  GetProcessIoCountersFn getProcessIoCounters = nullptr;
  DWORD systemProcessId = 8;
};

SharedState g_shared;

constexpr std::size_t kMaxImagePathBytes = 8192;
constexpr std::size_t kPageSize = 4096;
// An environment block larger than this is not walked any further.
constexpr std::size_t kMaxEnvironmentBytes = 4u << 20;
constexpr std::size_t kSystemListStep = 65536;
constexpr std::size_t kMaxSystemListBytes = 64u << 20;
constexpr char kRefreshLabel[] = "QUAXWINPROCESS: CProcessInfo::Refresh";
constexpr char kUnknownUser[] = "UserIsNotKnownToSystem";

template <class Fn>
Fn BindEntryPoint(HMODULE module, const char* name) noexcept {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

bool QueryWindowsVersion(OSVERSIONINFOA& version) noexcept {
  OSVERSIONINFOEXA extended = {};
  extended.dwOSVersionInfoSize = sizeof extended;
  if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended))) {
    std::memcpy(&version, &extended, sizeof version);
    return true;
  }
  version = {};
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) != FALSE;
}

DWORD SystemProcessIdOf(const OSVERSIONINFOA* version) noexcept {
  if (version == nullptr) return 8;
  if (version->dwMajorVersion == 4) return 2;
  if (version->dwMajorVersion == 5) {
    if (version->dwMinorVersion == 0) return 8;
    if (version->dwMinorVersion <= 2) return 4;
  }
  return 8;
}

FileTimeTicks SystemTimeNow() noexcept {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return TicksOf(now);
}

std::uint32_t BitCount(ULONG_PTR mask) noexcept {
  return static_cast<std::uint32_t>(std::popcount(static_cast<std::uint32_t>(mask)));
}

enum class ReadResult { Ok, Failed, Short };

// Reads another process's memory; a partial read is reported as short.
ReadResult ReadTarget(HANDLE process, ULONG_PTR address, void* out, std::size_t size) noexcept {
  SIZE_T read = 0;
  if (!ReadProcessMemory(process, reinterpret_cast<const void*>(address), out, size, &read)) {
    return read != 0 && read < size ? ReadResult::Short : ReadResult::Failed;
  }
  return read < size ? ReadResult::Short : ReadResult::Ok;
}

static_assert(kMaxImagePathBytes % sizeof(std::uint16_t) == 0);
using TargetTextBuffer = std::uint16_t[kMaxImagePathBytes / sizeof(std::uint16_t)];

// Reads a UNICODE_STRING's text (at most 8192 bytes) into buffer. The units
// read, or nothing when the read fails.
std::optional<Utf16Units> ReadTargetText(HANDLE process, const nt::UnicodeString<nt::NativePointer>& text,
                                         TargetTextBuffer& buffer) noexcept {
  std::size_t bytes = text.Length < kMaxImagePathBytes ? text.Length : kMaxImagePathBytes;
  bytes &= ~std::size_t{1};
  if (bytes != 0 && ReadTarget(process, static_cast<ULONG_PTR>(text.Buffer), buffer, bytes) != ReadResult::Ok) {
    return std::nullopt;
  }
  return Utf16Units(buffer, bytes / sizeof(std::uint16_t));
}

void SetNames(Utf16Units imagePath, TextField& name, TextField& directory) noexcept {
  const ImagePathParts parts = SplitImagePath(imagePath);
  ToAnsiText(name, parts.Name);
  ToAnsiText(directory, parts.Directory);
}

// Walks the environment block page by page until the project variable, the
// block's end, a failed read or the size bound.
void ReadProjectName(HANDLE process, ULONG_PTR address, TextField& project) noexcept {
  ProjectVariableScanner scanner;
  unsigned char chunk[kPageSize];
  bool haveLowByte = false;
  unsigned char lowByte = 0;
  for (std::size_t total = 0; total < kMaxEnvironmentBytes; ) {
    const std::size_t size = kPageSize - address % kPageSize;
    if (ReadTarget(process, address, chunk, size) != ReadResult::Ok) break;
    for (std::size_t i = 0; i < size && scanner.Current() == ProjectVariableScanner::State::Scanning; ++i) {
      if (!haveLowByte) {
        lowByte = chunk[i];
        haveLowByte = true;
        continue;
      }
      haveLowByte = false;
      scanner.Feed(static_cast<std::uint16_t>(lowByte | chunk[i] << 8));
    }
    if (scanner.Current() != ProjectVariableScanner::State::Scanning) break;
    address += size;
    total += size;
  }
  ToAnsiText(project, scanner.Project());
}

}  // namespace

CProcessInfo::CProcessInfo() noexcept {
  OSVERSIONINFOA version;
  const bool haveVersion = QueryWindowsVersion(version);
  IoCountersAvailable = haveVersion && version.dwMajorVersion > 4;

  if (!g_shared.ntdll) {
    g_shared.ntdll.reset(LoadLibraryA("NTDLL.DLL"));
    g_shared.queryInformationProcess =
        BindEntryPoint<NtQueryInformationProcessFn>(g_shared.ntdll.get(), "NtQueryInformationProcess");
    g_shared.querySystemInformation =
        BindEntryPoint<NtQuerySystemInformationFn>(g_shared.ntdll.get(), "NtQuerySystemInformation");
    if (IoCountersAvailable && !g_shared.kernel32) {
      g_shared.kernel32.reset(LoadLibraryA("KERNEL32.DLL"));
      g_shared.getProcessIoCounters =
          BindEntryPoint<GetProcessIoCountersFn>(g_shared.kernel32.get(), "GetProcessIoCounters");
    }
    g_shared.systemProcessId = SystemProcessIdOf(haveVersion ? &version : nullptr);
  }
  ++g_shared.liveCount;
  ResetCounters();
}

CProcessInfo::~CProcessInfo() {
  if (--g_shared.liveCount == 0) {
    g_shared.queryInformationProcess = nullptr;
    g_shared.querySystemInformation = nullptr;
    g_shared.getProcessIoCounters = nullptr;
    g_shared.ntdll.reset();
    g_shared.kernel32.reset();
  }
}

DWORD CProcessInfo::SystemProcessId() noexcept { return g_shared.systemProcessId; }

void CProcessInfo::SetProcessId(DWORD processId) noexcept {
  ProcessId = processId;
  FirstRefresh = true;
}

void CProcessInfo::SetNaming(ProcessNaming naming, int attempts) noexcept {
  naming_ = naming;
  moduleListAttempts_ = attempts;
}

void CProcessInfo::ResetCounters() noexcept {
  const std::uint32_t processId = ProcessId;
  static_cast<ProcessFigures&>(*this) = ProcessFigures{};
  ProcessId = processId;
}

bool CProcessInfo::ConvertFileTime(const FILETIME* time, DateTimeParts* out) const noexcept {
  if (time == nullptr || out == nullptr) return false;
  *out = {};
  if (time->dwLowDateTime == 0 && time->dwHighDateTime == 0) return true;
  FILETIME converted = *time;
  if (UseLocalTime && !FileTimeToLocalFileTime(time, &converted)) return false;
  SYSTEMTIME parts;
  if (!FileTimeToSystemTime(&converted, &parts)) return false;
  *out = {parts.wMonth, parts.wDay, parts.wYear, parts.wHour, parts.wMinute, parts.wSecond,
          parts.wMilliseconds};
  return true;
}

bool CProcessInfo::ConvertFileTime(FileTimeTicks ticks, DateTimeParts* out) const noexcept {
  const FILETIME time = FileTimeOf(ticks);
  return ConvertFileTime(&time, out);
}

bool CProcessInfo::IsRunning() const noexcept {
  if (Exiting) return false;
  if (ProcessId == 0 || ProcessId == g_shared.systemProcessId) return true;
  if (!handle_) return false;
  DWORD exitCode = 0;
  return GetExitCodeProcess(handle_.get(), &exitCode) && exitCode == STILL_ACTIVE;
}

bool CProcessInfo::Refresh() noexcept {
  if (ProcessId == 0 || ProcessId == g_shared.systemProcessId) return RefreshPseudoProcess();
  return RefreshProcess();
}

bool CProcessInfo::RefreshProcess() noexcept {
  if (!handle_) {
    handle_.reset(OpenProcess(kProcessAccess, FALSE, ProcessId));
    if (!handle_) return false;
  }
  CTraceScope& trace = GlobalTrace();
  const int pid = static_cast<int>(ProcessId);
  if (ProcessName[0] == '\0') {
    trace.Trace("First refresh reset for PID#%d (missing process name)", pid);
    FirstRefresh = true;
  }
  if (FirstRefresh) {
    trace.Trace("First refresh entered for PID#%d...", pid);
    FirstRefresh = false;
    ResetCounters();
    ReadStaticFacts();
  }
  ReadUsage();
  return true;
}

void CProcessInfo::ReadStaticFacts() noexcept {
  CTraceScope& trace = GlobalTrace();
  const int pid = static_cast<int>(ProcessId);
  if (g_shared.queryInformationProcess != nullptr) {
    nt::ProcessBasicInformation<nt::NativePointer> basic = {};
    const LONG status = g_shared.queryInformationProcess(handle_.get(), nt::kProcessBasicInformation,
                                                         &basic, sizeof basic, nullptr);
    if (status < 0) {
      trace.TraceFailure("PID#%d error: m_NtQIPFn failed", pid);
    } else {
      ParentProcessId = static_cast<std::uint32_t>(basic.InheritedFromUniqueProcessId);
      BasePriority = basic.BasePriority;
      if (naming_ == ProcessNaming::ImagePath) {
        ReadNamesAndProject(static_cast<ULONG_PTR>(basic.PebBaseAddress));
      }
    }
  }
  if (naming_ == ProcessNaming::ModuleList) ReadNamesFromModuleList();
  trace.Trace("PID#%d process name is %s", pid, ProcessName);

  FILETIME creation, exit, kernel, user;
  if (GetProcessTimes(handle_.get(), &creation, &exit, &kernel, &user)) {
    CreationTime = TicksOf(creation);
    ExitTime = TicksOf(exit);
  } else {
    CreationTime = ExitTime = 0;
  }
  DWORD machineNameSize = sizeof MachineName;
  if (!GetComputerNameA(MachineName, &machineNameSize)) MachineName[0] = '\0';
  ReadUser();
  ReadAffinity();
}

void CProcessInfo::ReadNamesAndProject(ULONG_PTR pebAddress) noexcept {
  CTraceScope& trace = GlobalTrace();
  const int pid = static_cast<int>(ProcessId);
  HANDLE process = handle_.get();

  nt::NativePointer parametersAddress = 0;
  switch (ReadTarget(process, pebAddress + nt::kPebProcessParametersOffset, &parametersAddress,
                     sizeof parametersAddress)) {
    case ReadResult::Failed: {
      const DWORD error = GetLastError();
      trace.TraceFailure("PID#%d error: ReadProcessMemory PPEB failed: 0x%lx - %.128s", pid, error,
                         SystemErrorText(error));
      return;
    }
    case ReadResult::Short:
      trace.TraceFailure("PID#%d error: PPEB bad length", pid);
      return;
    case ReadResult::Ok:
      break;
  }

  nt::ProcessParameters<nt::NativePointer> parameters;
  switch (ReadTarget(process, static_cast<ULONG_PTR>(parametersAddress), &parameters, sizeof parameters)) {
    case ReadResult::Failed:
      trace.TraceFailure("PID#%d error: bad PPEB return length failed", pid);
      return;
    case ReadResult::Short:
      trace.TraceFailure("PID#%d error: bad process parameters return length", pid);
      return;
    case ReadResult::Ok:
      break;
  }

  TargetTextBuffer text;
  if (const std::optional<Utf16Units> imagePath = ReadTargetText(process, parameters.ImagePathName, text)) {
    SetNames(*imagePath, ProcessName, ImageDirectory);
  } else {
    trace.TraceFailure("PID#%d error: ReadProcessMemory for ImagePathName failed", pid);
  }
  if (ProcessName[0] == '\0') {
    if (const std::optional<Utf16Units> title = ReadTargetText(process, parameters.WindowTitle, text)) {
      ToAnsiText(ProcessName, *title);
    }
  }
  if (parameters.Environment != 0) {
    ReadProjectName(process, static_cast<ULONG_PTR>(parameters.Environment), ProjectName);
  }
}

// The first module is the program itself. Early in a process's life the list
// may not be readable yet, hence the retries.
void CProcessInfo::ReadNamesFromModuleList() noexcept {
  HANDLE process = handle_.get();
  for (int attempt = 1; attempt <= moduleListAttempts_; ++attempt) {
    HMODULE program = nullptr;
    DWORD needed = 0;
    wchar_t name[kTextFieldSize];
    wchar_t path[kMaxImagePathBytes / sizeof(wchar_t)];
    const DWORD nameLength = EnumProcessModules(process, &program, sizeof program, &needed) && needed != 0
                                 ? GetModuleBaseNameW(process, program, name, kTextFieldSize)
                                 : 0;
    const DWORD pathLength = nameLength != 0 ? GetModuleFileNameExW(process, program, path, std::size(path)) : 0;
    if (pathLength != 0) {
      TextField fileName;
      SetNames(Utf16Units(reinterpret_cast<const std::uint16_t*>(path), pathLength), fileName, ImageDirectory);
      ToAnsiText(ProcessName, Utf16Units(reinterpret_cast<const std::uint16_t*>(name), nameLength));
      return;
    }
    if (attempt < moduleListAttempts_) Sleep(kModuleListRetryMilliseconds);
  }
}

void CProcessInfo::ReadUser() noexcept {
  unique_handle token;
  if (!OpenProcessToken(handle_.get(), TOKEN_QUERY, token.put())) return;

  DWORD sessionId = 0;
  DWORD size = 0;
  if (GetTokenInformation(token.get(), TokenSessionId, &sessionId, sizeof sessionId, &size)) {
    SessionId = sessionId;
  }

  // A TOKEN_USER is its header and one SID of at most 68 bytes.
  alignas(TOKEN_USER) unsigned char userBuffer[256];
  size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0 || size > sizeof userBuffer ||
      !GetTokenInformation(token.get(), TokenUser, userBuffer, size, &size)) {
    return;
  }
  const auto* user = reinterpret_cast<const TOKEN_USER*>(userBuffer);

  char name[1024];
  char domain[1024];
  DWORD nameSize = sizeof name;
  DWORD domainSize = sizeof domain;
  SID_NAME_USE use;
  if (LookupAccountSidA(nullptr, user->User.Sid, name, &nameSize, domain, &domainSize, &use)) {
    if (domain[0] == '\0') {
      CopyText(UserName, name);
    } else {
      FormatText(UserName, sizeof UserName, "%s\\%s", domain, name);
    }
    return;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_NONE_MAPPED) {
    CopyText(UserName, kUnknownUser);
    return;
  }
  CTraceScope label(kRefreshLabel, false);
  label.TraceFailure("LookupAccountSid failed,0x%lx - %s", error, SystemErrorText(error));
}

void CProcessInfo::ReadAffinity() noexcept {
  DWORD_PTR processMask = 0;
  DWORD_PTR systemMask = 0;
  if (!GetProcessAffinityMask(handle_.get(), &processMask, &systemMask)) return;
  AffinityMask = static_cast<std::uint32_t>(processMask);
  SystemProcessorCount = BitCount(systemMask);
  EligibleProcessorCount = BitCount(processMask);
}

void CProcessInfo::ReadUsage() noexcept {
  HANDLE process = handle_.get();
  IO_COUNTERS io;
  if (IoCountersAvailable && g_shared.getProcessIoCounters != nullptr &&
      g_shared.getProcessIoCounters(process, &io)) {
    BytesRead.Advance(io.ReadTransferCount);
    BytesWritten.Advance(io.WriteTransferCount);
    ReadOperations.Advance(io.ReadOperationCount);
    WriteOperations.Advance(io.WriteOperationCount);
  }

  PageFaults.Previous = PageFaults.Current;
  PROCESS_MEMORY_COUNTERS memory;
  if (GetProcessMemoryInfo(process, &memory, sizeof memory)) {
    PageFaults.Current = memory.PageFaultCount;
    PagefileUsage = memory.PagefileUsage;
    PeakPagefileUsage = memory.PeakPagefileUsage;
    WorkingSet = memory.WorkingSetSize;
    PeakWorkingSet = memory.PeakWorkingSetSize;
  }

  if (g_shared.queryInformationProcess != nullptr) {
    nt::ProcessBasicInformation<nt::NativePointer> basic = {};
    if (g_shared.queryInformationProcess(process, nt::kProcessBasicInformation, &basic, sizeof basic,
                                         nullptr) >= 0) {
      BasePriority = basic.BasePriority;
    }
  }
  PriorityClass = GetPriorityClass(process);
  IntervalStart = IntervalEnd;
  IntervalEnd = SystemTimeNow();
  ReadTimes();
}

void CProcessInfo::ReadTimes() noexcept {
  CpuSeconds.Advance(0.0);
  ElapsedSeconds.Advance(0.0);
  KernelSeconds.Advance(0.0);
  UserSeconds.Advance(0.0);

  HANDLE process = handle_.get();
  FILETIME creation, exit, kernel, user;
  const bool haveTimes = GetProcessTimes(process, &creation, &exit, &kernel, &user) != FALSE;
  DWORD exitCode = 0;
  const bool haveExitCode = GetExitCodeProcess(process, &exitCode) != FALSE;
  if (haveExitCode) ExitCode = exitCode;
  if (!haveTimes) return;

  CreationTime = TicksOf(creation);
  ExitTime = TicksOf(exit);
  KernelSeconds.Current = SecondsFromTicks(TicksOf(kernel));
  UserSeconds.Current = SecondsFromTicks(TicksOf(user));
  CpuSeconds.Current = KernelSeconds.Current + UserSeconds.Current;
  if (haveExitCode && exitCode != STILL_ACTIVE) {
    ElapsedSeconds.Current = SecondsBetween(ExitTime, CreationTime);
  } else {
    if (haveExitCode) ExitTime = IntervalEnd;
    ElapsedSeconds.Current = SecondsBetween(IntervalEnd, CreationTime);
  }
}

bool CProcessInfo::RefreshPseudoProcess() noexcept {
  if (FirstRefresh) {
    FirstRefresh = false;
    ResetCounters();
    CopyText(ProcessName, ProcessId == 0 ? "System Idle Process" : "System");
    LARGE_INTEGER counter, frequency;
    std::uint64_t secondsSinceStart = 0;
    if (QueryPerformanceCounter(&counter) && QueryPerformanceFrequency(&frequency) &&
        frequency.QuadPart > 0) {
      secondsSinceStart = static_cast<std::uint64_t>(counter.QuadPart / frequency.QuadPart);
    }
    SYSTEMTIME nowParts;
    GetSystemTime(&nowParts);
    FILETIME now;
    SystemTimeToFileTime(&nowParts, &now);
    CreationTime = TicksOf(now) - secondsSinceStart * kTicksPerSecond;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    SystemProcessorCount = EligibleProcessorCount = system.dwNumberOfProcessors;
    AffinityMask = system.dwNumberOfProcessors >= 32
                       ? 0xFFFFFFFFu
                       : (std::uint32_t{1} << system.dwNumberOfProcessors) - 1;
  }
  if (g_shared.querySystemInformation == nullptr) return false;

  // The list grows while it is read; ask again with a larger buffer until it fits.
  std::unique_ptr<unsigned char[]> buffer;
  ULONG returned = 0;
  LONG status = nt::kStatusInfoLengthMismatch;
  for (std::size_t size = kSystemListStep; status == nt::kStatusInfoLengthMismatch; size += kSystemListStep) {
    if (size > kMaxSystemListBytes) return false;
    buffer.reset(new (std::nothrow) unsigned char[size]);
    if (!buffer) return false;
    status = g_shared.querySystemInformation(nt::kSystemProcessInformation, buffer.get(),
                                             static_cast<ULONG>(size), &returned);
  }
  if (status < 0) return false;

  using Entry = nt::SystemProcessInformation<nt::NativePointer>;
  Entry entry;
  bool found = false;
  for (std::size_t offset = 0; !found && offset + sizeof entry <= returned;) {
    std::memcpy(&entry, buffer.get() + offset, sizeof entry);
    found = entry.UniqueProcessId == ProcessId;
    if (entry.NextEntryOffset == 0) break;
    offset += entry.NextEntryOffset;
  }
  if (!found) return false;

  BasePriority = entry.BasePriority;
  IntervalStart = IntervalEnd;
  IntervalEnd = SystemTimeNow();
  KernelSeconds.Advance(SecondsFromTicks(entry.KernelTime.Value()));
  UserSeconds.Advance(SecondsFromTicks(entry.UserTime.Value()));
  CpuSeconds.Advance(KernelSeconds.Current + UserSeconds.Current);
  ElapsedSeconds.Advance(SecondsBetween(IntervalEnd, CreationTime));
  ExitTime = IntervalEnd;
  PageFaults.Advance(entry.PageFaultCount);
  PeakPagefileUsage = entry.PeakPagefileUsage;
  PeakWorkingSet = entry.PeakWorkingSetSize;
  PagefileUsage = entry.PagefileUsage;
  WorkingSet = entry.WorkingSetSize;
  if (IoCountersAvailable) {
    ReadOperations.Advance(entry.ReadOperationCount.Value());
    WriteOperations.Advance(entry.WriteOperationCount.Value());
    BytesRead.Advance(entry.ReadTransferCount.Value());
    BytesWritten.Advance(entry.WriteTransferCount.Value());
  }
  return true;
}

}  // namespace quax
