// Win32 implementation of the platform layer (ANSI functions).
#include "platform/platform_files.h"

#include <windows.h>
#include <aclapi.h>

#include <array>
#include <atomic>
#include <string>
#include <utility>

#include "unique_handle.h"

namespace quax::agg::platform {

namespace {

std::atomic<bool> ioWaitsStopped{false};

// The threads inside a read or write, which may wait without end on a pipe
// or a console: a run asked to end cancels their waits, whichever thread
// reads. A slot a thread, by its id (reading it costs no system call, which
// under Wine is a round trip to the server for every 32 KB read); a thread
// finding none left is not cancelled, and gives up at the next look at the
// request.
constexpr std::size_t kWaitingThreadSlots = 128;
std::array<std::atomic<DWORD>, kWaitingThreadSlots> waitingThreads{};

// Registers the calling thread for the time of one read or write.
class WaitingThread {
 public:
  WaitingThread() noexcept {
    const DWORD self = GetCurrentThreadId();
    for (std::atomic<DWORD>& slot : waitingThreads) {
      DWORD empty = 0;
      if (slot.compare_exchange_strong(empty, self)) {
        slot_ = &slot;
        return;
      }
    }
  }
  ~WaitingThread() {
    if (slot_ != nullptr) slot_->store(0);
  }
  WaitingThread(const WaitingThread&) = delete;
  WaitingThread& operator=(const WaitingThread&) = delete;

 private:
  std::atomic<DWORD>* slot_ = nullptr;
};

// A lock file being removed as its holder lets go refuses to open for a
// moment: tried again this many times, 10 ms apart.
constexpr int kDeletePendingRetries = 50;

HANDLE AsHandle(void* h) noexcept { return static_cast<HANDLE>(h); }

FileError FromWin32(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return {53, "File not found"};
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
      return {76, "Path not found"};
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return {75, "Path/File access error"};
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return {70, "Permission denied"};
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return {61, "Disk full"};
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return {58, "File already exists"};
    default:
      return {57, "Device I/O error (Win32 error " + std::to_string(code) + ")"};
  }
}

bool IsNormal(const WIN32_FIND_DATAA& data) noexcept {
  return (data.dwFileAttributes &
          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

}  // namespace

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

File::~File() { Close(); }

bool File::IsOpen() const noexcept { return handle_ != nullptr; }

bool File::Open(const std::string& path, OpenMode mode, FileError& error) {
  Close();
  if (PathHoldsNul(path, error)) return false;
  DWORD access = GENERIC_WRITE;
  DWORD share = FILE_SHARE_READ;
  DWORD disposition = CREATE_ALWAYS;
  if (mode == OpenMode::Read) {
    access = GENERIC_READ;
    share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    disposition = OPEN_EXISTING;
  } else if (mode == OpenMode::Append) {
    access = FILE_APPEND_DATA | SYNCHRONIZE;
    disposition = OPEN_ALWAYS;
  }
  HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = FromWin32(GetLastError());
    return false;
  }
  handle_ = h;
  return true;
}

bool File::OpenStandardStream(OpenMode mode, FileError& error) {
  Close();
  const HANDLE standard = GetStdHandle(mode == OpenMode::Read ? STD_INPUT_HANDLE : STD_OUTPUT_HANDLE);
  HANDLE own = nullptr;
  if (standard == nullptr || standard == INVALID_HANDLE_VALUE) {
    error = FromWin32(ERROR_INVALID_HANDLE);
    return false;
  }
  if (!DuplicateHandle(GetCurrentProcess(), standard, GetCurrentProcess(), &own, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    error = FromWin32(GetLastError());
    return false;
  }
  handle_ = own;
  return true;
}

std::ptrdiff_t File::Read(char* buffer, std::size_t size, FileError& error) {
  const WaitingThread waiting;  // registered before the look at the request, so that no wait is missed
  if (ioWaitsStopped.load(std::memory_order_relaxed)) {
    error = FromWin32(ERROR_OPERATION_ABORTED);
    return -1;
  }
  DWORD got = 0;
  const DWORD ask = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  if (!ReadFile(AsHandle(handle_), buffer, ask, &got, nullptr)) {
    const DWORD code = GetLastError();
    if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE) return 0;
    error = FromWin32(code);
    return -1;
  }
  return static_cast<std::ptrdiff_t>(got);
}

bool File::Write(const char* data, std::size_t size, FileError& error) {
  const WaitingThread waiting;
  while (size > 0) {
    if (ioWaitsStopped.load(std::memory_order_relaxed)) {
      error = FromWin32(ERROR_OPERATION_ABORTED);
      return false;
    }
    const DWORD ask = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD done = 0;
    if (!WriteFile(AsHandle(handle_), data, ask, &done, nullptr)) {
      error = FromWin32(GetLastError());
      return false;
    }
    if (done == 0) {
      error = FromWin32(ERROR_DISK_FULL);
      return false;
    }
    data += done;
    size -= done;
  }
  return true;
}

void File::Close() noexcept {
  if (handle_ != nullptr) {
    const DWORD saved = GetLastError();
    CloseHandle(AsHandle(handle_));
    SetLastError(saved);
    handle_ = nullptr;
  }
}

PathKind KindOfPath(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? PathKind::Missing
                                                                         : PathKind::Other;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Directory;
  // Devices (CON, NUL, COM1) answer attributes too: only a disk file is regular.
  const unique_handle file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return PathKind::Other;
  return GetFileType(file.get()) == FILE_TYPE_DISK ? PathKind::RegularFile : PathKind::Other;
}

bool NormalFileExists(const std::string& pattern) {
  if (pattern.empty()) return false;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    if (IsNormal(data)) {
      found = true;
      break;
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return found;
}

bool RemoveFile(const std::string& path, FileError& error) {
  if (PathHoldsNul(path, error)) return false;
  if (!DeleteFileA(path.c_str())) {
    error = FromWin32(GetLastError());
    return false;
  }
  return true;
}

bool MoveOver(const std::string& from, const std::string& to, FileError& error) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    error = FromWin32(GetLastError());
    return false;
  }
  return true;
}

bool RenameInFolder(const std::string& path, const std::string& newName, FileError& error) {
  if (newName.empty() || newName.find_first_of("\\/:") != std::string::npos) {
    error = {52, "Bad file name or number"};
    return false;
  }
  const std::size_t slash = path.find_last_of("\\/");
  const std::string target =
      (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + newName;
  if (!MoveFileA(path.c_str(), target.c_str())) {  // never replaces an existing file
    error = FromWin32(GetLastError());
    return false;
  }
  return true;
}

bool File::WriteOffset(std::uint64_t& out) const noexcept {
  LARGE_INTEGER none {};
  LARGE_INTEGER at {};
  if (!SetFilePointerEx(AsHandle(handle_), none, &at, FILE_CURRENT)) return false;
  out = static_cast<std::uint64_t>(at.QuadPart);
  return true;
}

bool FileLength(const std::string& path, std::uint64_t& out) {
  FileError ignored;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (PathHoldsNul(path, ignored) || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    return false;
  }
  out = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool TruncateFile(const std::string& path, std::uint64_t length, FileError& error) {
  if (PathHoldsNul(path, error)) return false;
  const unique_handle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(length);
  if (!file || !SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) {
    error = FromWin32(GetLastError());
    return false;
  }
  return true;
}

bool IdentifyFile(const std::string& path, FileIdentity& out) {
  FileError ignored;
  if (PathHoldsNul(path, ignored)) return false;
  // Opened for its attributes only, so that a file others hold open is seen too.
  const unique_handle file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !GetFileInformationByHandle(file.get(), &info)) return false;
  out = FileIdentity {info.dwVolumeSerialNumber,
                      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return true;
}

std::string TempDirectory() {
  char buffer[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof buffer, buffer);
  if (n == 0 || n > sizeof buffer) return ".\\";
  std::string folder(buffer, n);
  if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder;
}

std::string FollowLinks(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return path;
  const unique_handle file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return path;  // a link to a missing file
  char target[4 * MAX_PATH];
  const DWORD n = GetFinalPathNameByHandleA(file.get(), target, sizeof target, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0 || n >= sizeof target) return path;
  const std::string resolved(target, n);
  if (resolved.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + resolved.substr(8);
  if (resolved.rfind("\\\\?\\", 0) == 0) return resolved.substr(4);
  return resolved;
}

bool CheckWritable(const std::string& path, FileError& error) {
  // Wine lets an administrator (root) open a read-only file for writing.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    error = FromWin32(ERROR_ACCESS_DENIED);
    return false;
  }
  const unique_handle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    error = FromWin32(GetLastError());
    return false;
  }
  return true;
}

bool CopyAccessRules(const std::string& model, const std::string& path, FileError& error) {
  PACL dacl = nullptr;
  unique_local_memory descriptor;
  DWORD code = GetNamedSecurityInfoA(model.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                     &dacl, nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
  if (code != ERROR_SUCCESS) {
    error = FromWin32(code);
    return false;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorControl(descriptor.get(), &control, &revision)) {
    error = FromWin32(GetLastError());
    return false;
  }
  const SECURITY_INFORMATION what =
      DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                       : UNPROTECTED_DACL_SECURITY_INFORMATION);
  code = SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
  if (code != ERROR_SUCCESS) {
    error = FromWin32(code);
    return false;
  }
  return true;
}

FileLock::FileLock(FileLock&& other) noexcept
    : path_(std::move(other.path_)), handle_(std::exchange(other.handle_, nullptr)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    Release();
    path_ = std::move(other.path_);
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

FileLock::~FileLock() { Release(); }

bool FileLock::IsHeld() const noexcept { return handle_ != nullptr; }

FileLock::Result FileLock::TryAcquire(const std::string& lockFilePath, FileError& error) {
  Release();
  // Opened unshared, the file is the lock; the system removes it when the
  // handle closes, also when the process is ended outright.
  for (int attempt = 0;; ++attempt) {
    unique_handle file(CreateFileA(lockFilePath.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (file) {
      handle_ = file.release();
      path_ = lockFilePath;
      return Result::Acquired;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_SHARING_VIOLATION) return Result::Busy;
    if (code != ERROR_ACCESS_DENIED || attempt == kDeletePendingRetries) {
      error = FromWin32(code);
      return Result::Failed;
    }
    Sleep(10);
  }
}

void FileLock::Release() noexcept {
  unique_handle held(AsHandle(std::exchange(handle_, nullptr)));
  path_.clear();
}

void StopWaitingIo() noexcept {
  ioWaitsStopped.store(true, std::memory_order_relaxed);
  CancelWaitingIo();
}

void CancelWaitingIo() noexcept {
  for (const std::atomic<DWORD>& slot : waitingThreads) {
    const DWORD id = slot.load();
    if (id == 0) continue;
    // A thread that has left its read meanwhile has nothing to cancel.
    const unique_handle thread(OpenThread(THREAD_TERMINATE, FALSE, id));
    if (thread) CancelSynchronousIo(thread.get());
  }
}

double ProcessCpuSeconds() {
  FILETIME created;
  FILETIME exited;
  FILETIME kernel;
  FILETIME user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

std::string MachineDescription() {
  std::string cpu = "unknown processor";
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                    KEY_READ, &key) == ERROR_SUCCESS) {
    char name[256];
    DWORD size = sizeof name;
    DWORD type = 0;
    if (RegQueryValueExA(key, "ProcessorNameString", nullptr, &type,
                         reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
        type == REG_SZ && size > 0) {
      cpu.assign(name, strnlen(name, size));
    }
    RegCloseKey(key);
  }
  SYSTEM_INFO info;
  GetNativeSystemInfo(&info);
  std::string system = "Windows";
  using WineVersion = const char*(__cdecl*)();
  if (HMODULE ntdll = GetModuleHandleA("ntdll.dll")) {
    if (auto wine = reinterpret_cast<WineVersion>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))) {
      system = std::string("Wine ") + wine();
    }
  }
  return cpu + ", " + std::to_string(info.dwNumberOfProcessors) + " logical processors, " +
         system + (sizeof(void*) == 8 ? " (x86_64 build)" : " (i686 build)");
}

}  // namespace quax::agg::platform
