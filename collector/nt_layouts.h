// Memory layouts of the NT structures the snapshot reads, defined here for
// both pointer widths with their offsets checked at compile time. The 32-bit
// build reads the 32-bit forms, the 64-bit build the 64-bit forms; the bytes
// come from another process or from the kernel and are never trusted beyond
// what these layouts and the returned lengths allow.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quax::nt {

template <class Pointer>
struct UnicodeString {
  std::uint16_t Length;  // bytes, without a terminating NUL
  std::uint16_t MaximumLength;
  Pointer Buffer;
};

template <class Pointer>
struct ProcessBasicInformation {
  std::int32_t ExitStatus;
  Pointer PebBaseAddress;
  Pointer AffinityMask;
  std::int32_t BasePriority;
  Pointer UniqueProcessId;
  Pointer InheritedFromUniqueProcessId;
};

// The process parameters block up to and including the per-drive current
// directories, which is all that is read of it.
template <class Pointer>
struct ProcessParameters {
  struct CurrentDirectory {
    UnicodeString<Pointer> DosPath;
    Pointer Handle;
  };
  struct DriveLetterDirectory {
    std::uint16_t Flags;
    std::uint16_t Length;
    std::uint32_t TimeStamp;
    UnicodeString<Pointer> DosPath;  // an ANSI string of the same shape
  };

  std::uint32_t MaximumLength;
  std::uint32_t Length;
  std::uint32_t Flags;
  std::uint32_t DebugFlags;
  Pointer ConsoleHandle;
  std::uint32_t ConsoleFlags;
  Pointer StandardInput;
  Pointer StandardOutput;
  Pointer StandardError;
  CurrentDirectory CurrentDir;
  UnicodeString<Pointer> DllPath;
  UnicodeString<Pointer> ImagePathName;
  UnicodeString<Pointer> CommandLine;
  Pointer Environment;
  std::uint32_t StartingX;
  std::uint32_t StartingY;
  std::uint32_t CountX;
  std::uint32_t CountY;
  std::uint32_t CountCharsX;
  std::uint32_t CountCharsY;
  std::uint32_t FillAttribute;
  std::uint32_t WindowFlags;
  std::uint32_t ShowWindowFlags;
  UnicodeString<Pointer> WindowTitle;
  UnicodeString<Pointer> DesktopInfo;
  UnicodeString<Pointer> ShellInfo;
  UnicodeString<Pointer> RuntimeData;
  DriveLetterDirectory CurrentDirectories[32];
};

// 64-bit integers as two halves so that the layout does not depend on the
// compiler's alignment of 64-bit members in 32-bit code.
struct UInt64Parts {
  std::uint32_t Low;
  std::uint32_t High;
  std::uint64_t Value() const noexcept { return (std::uint64_t{High} << 32) | Low; }
};

// One entry of the system process list (SystemProcessInformation), without
// the thread entries that follow it.
template <class Pointer>
struct SystemProcessInformation {
  std::uint32_t NextEntryOffset;
  std::uint32_t NumberOfThreads;
  UInt64Parts Reserved[3];
  UInt64Parts CreateTime;
  UInt64Parts UserTime;
  UInt64Parts KernelTime;
  UnicodeString<Pointer> ImageName;
  std::int32_t BasePriority;
  Pointer UniqueProcessId;
  Pointer InheritedFromUniqueProcessId;
  std::uint32_t HandleCount;
  std::uint32_t SessionId;
  Pointer PageDirectoryBase;
  Pointer PeakVirtualSize;
  Pointer VirtualSize;
  std::uint32_t PageFaultCount;
  Pointer PeakWorkingSetSize;
  Pointer WorkingSetSize;
  Pointer QuotaPeakPagedPoolUsage;
  Pointer QuotaPagedPoolUsage;
  Pointer QuotaPeakNonPagedPoolUsage;
  Pointer QuotaNonPagedPoolUsage;
  Pointer PagefileUsage;
  Pointer PeakPagefileUsage;
  Pointer PrivatePageCount;
  UInt64Parts ReadOperationCount;
  UInt64Parts WriteOperationCount;
  UInt64Parts OtherOperationCount;
  UInt64Parts ReadTransferCount;
  UInt64Parts WriteTransferCount;
  UInt64Parts OtherTransferCount;
};

// Pointers of the other process are plain numbers here.
using Pointer32 = std::uint32_t;
using Pointer64 = std::uint64_t;

// The process parameters pointer of the process environment block.
inline constexpr std::size_t kPebProcessParametersOffset32 = 16;
inline constexpr std::size_t kPebProcessParametersOffset64 = 32;

// Information classes and status codes.
inline constexpr int kProcessBasicInformation = 0;
inline constexpr int kSystemProcessInformation = 5;
inline constexpr std::int32_t kStatusInfoLengthMismatch = static_cast<std::int32_t>(0xC0000004);

static_assert(sizeof(UnicodeString<Pointer32>) == 8);
static_assert(sizeof(UnicodeString<Pointer64>) == 16);

static_assert(sizeof(ProcessBasicInformation<Pointer32>) == 24);
static_assert(offsetof(ProcessBasicInformation<Pointer32>, PebBaseAddress) == 4);
static_assert(offsetof(ProcessBasicInformation<Pointer32>, BasePriority) == 12);
static_assert(offsetof(ProcessBasicInformation<Pointer32>, InheritedFromUniqueProcessId) == 20);
static_assert(sizeof(ProcessBasicInformation<Pointer64>) == 48);
static_assert(offsetof(ProcessBasicInformation<Pointer64>, PebBaseAddress) == 8);
static_assert(offsetof(ProcessBasicInformation<Pointer64>, BasePriority) == 24);
static_assert(offsetof(ProcessBasicInformation<Pointer64>, InheritedFromUniqueProcessId) == 40);

static_assert(sizeof(ProcessParameters<Pointer32>) == 656);
static_assert(offsetof(ProcessParameters<Pointer32>, ImagePathName) == 0x38);
static_assert(offsetof(ProcessParameters<Pointer32>, Environment) == 0x48);
static_assert(offsetof(ProcessParameters<Pointer32>, WindowTitle) == 0x70);
static_assert(offsetof(ProcessParameters<Pointer32>, CurrentDirectories) == 0x90);
static_assert(sizeof(ProcessParameters<Pointer64>) == 1008);
static_assert(offsetof(ProcessParameters<Pointer64>, ImagePathName) == 0x60);
static_assert(offsetof(ProcessParameters<Pointer64>, Environment) == 0x80);
static_assert(offsetof(ProcessParameters<Pointer64>, WindowTitle) == 0xB0);
static_assert(offsetof(ProcessParameters<Pointer64>, CurrentDirectories) == 0xF0);

static_assert(sizeof(SystemProcessInformation<Pointer32>) == 0xB8);
static_assert(offsetof(SystemProcessInformation<Pointer32>, CreateTime) == 0x20);
static_assert(offsetof(SystemProcessInformation<Pointer32>, KernelTime) == 0x30);
static_assert(offsetof(SystemProcessInformation<Pointer32>, BasePriority) == 0x40);
static_assert(offsetof(SystemProcessInformation<Pointer32>, UniqueProcessId) == 0x44);
static_assert(offsetof(SystemProcessInformation<Pointer32>, PageFaultCount) == 0x60);
static_assert(offsetof(SystemProcessInformation<Pointer32>, PagefileUsage) == 0x7C);
static_assert(offsetof(SystemProcessInformation<Pointer32>, ReadOperationCount) == 0x88);
static_assert(sizeof(SystemProcessInformation<Pointer64>) == 0x100);
static_assert(offsetof(SystemProcessInformation<Pointer64>, CreateTime) == 0x20);
static_assert(offsetof(SystemProcessInformation<Pointer64>, KernelTime) == 0x30);
static_assert(offsetof(SystemProcessInformation<Pointer64>, BasePriority) == 0x48);
static_assert(offsetof(SystemProcessInformation<Pointer64>, UniqueProcessId) == 0x50);
static_assert(offsetof(SystemProcessInformation<Pointer64>, PageFaultCount) == 0x80);
static_assert(offsetof(SystemProcessInformation<Pointer64>, PeakWorkingSetSize) == 0x88);
static_assert(offsetof(SystemProcessInformation<Pointer64>, PagefileUsage) == 0xB8);
static_assert(offsetof(SystemProcessInformation<Pointer64>, ReadOperationCount) == 0xD0);

// The layouts of the build's own pointer width.
#if UINTPTR_MAX == UINT64_MAX
using NativePointer = Pointer64;
inline constexpr std::size_t kPebProcessParametersOffset = kPebProcessParametersOffset64;
#else
using NativePointer = Pointer32;
inline constexpr std::size_t kPebProcessParametersOffset = kPebProcessParametersOffset32;
#endif

}  // namespace quax::nt
