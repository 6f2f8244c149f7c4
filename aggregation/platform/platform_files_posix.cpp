// POSIX implementation of the platform layer.
#include "platform/platform_files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <limits.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <thread>
#include <utility>

namespace quax::agg::platform {

namespace {

std::atomic<bool> ioWaitsStopped{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

// Links followed at most, as the system does (SYMLOOP_MAX).
constexpr int kMaxLinkHops = 40;

FileError FromErrno(int code) {
  switch (code) {
    case ENOENT:
      return {53, "File not found"};
    case ENOTDIR:
    case ENAMETOOLONG:
      return {76, "Path not found"};
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return {75, "Path/File access error"};
    case EBUSY:
    case ETXTBSY:
      return {70, "Permission denied"};
    case ENOSPC:
    case EDQUOT:
      return {61, "Disk full"};
    default:
      return {57, std::string("Device I/O error (") + std::strerror(code) + ")"};
  }
}

}  // namespace

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)), mayWait_(other.mayWait_) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    mayWait_ = other.mayWait_;
  }
  return *this;
}

File::~File() { Close(); }

bool File::IsOpen() const noexcept { return fd_ >= 0; }

bool File::Open(const std::string& path, OpenMode mode, FileError& error) {
  Close();
  if (PathHoldsNul(path, error)) return false;
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::Read:
      flags |= O_RDONLY;
      break;
    case OpenMode::Write:
      flags |= O_WRONLY | O_CREAT | O_TRUNC;
      break;
    case OpenMode::Append:
      flags |= O_WRONLY | O_CREAT | O_APPEND;
      break;
  }
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) {
    // A missing folder is "Path not found" as on Windows.
    int code = errno;
    if (code == ENOENT && mode != OpenMode::Read) code = ENOTDIR;
    if (code == ENOENT) {
      const std::size_t slash = path.find_last_of('/');
      if (slash != std::string::npos && slash > 0) {
        struct stat st {};
        if (::stat(path.substr(0, slash).c_str(), &st) != 0) code = ENOTDIR;
      }
    }
    error = FromErrno(code);
    return false;
  }
  struct stat st {};
  const bool known = ::fstat(fd, &st) == 0;
  if (known && S_ISDIR(st.st_mode)) {
    ::close(fd);
    error = FromErrno(EISDIR);
    return false;
  }
  fd_ = fd;
  mayWait_ = !known || !S_ISREG(st.st_mode);
  return true;
}

bool File::OpenStandardStream(OpenMode mode, FileError& error) {
  Close();
  const int fd = ::fcntl(mode == OpenMode::Read ? STDIN_FILENO : STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    error = FromErrno(errno);
    return false;
  }
  fd_ = fd;
  struct stat st {};
  mayWait_ = ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode);
  return true;
}

namespace {

// A read of a pipe or terminal (or a write to a pipe) may wait without end,
// and a signal interrupts only the thread it is delivered to: whichever
// thread waits looks at the stop request this often.
constexpr int kStopCheckMilliseconds = 100;

// Waits until `fd` is ready for `events` when it may wait at all (a regular
// file never does: it is not asked); false with EINTR once the run is asked
// to end.
bool WaitUntilReady(int fd, bool mayWait, short events, FileError& error) {
  for (;;) {
    if (ioWaitsStopped.load(std::memory_order_relaxed)) {
      error = FromErrno(EINTR);
      return false;
    }
    if (!mayWait) return true;
    pollfd waiting{fd, events, 0};
    const int ready = ::poll(&waiting, 1, kStopCheckMilliseconds);
    if (ready > 0 || (ready < 0 && errno != EINTR)) return true;  // ready, or an error the call reports
  }
}

}  // namespace

std::ptrdiff_t File::Read(char* buffer, std::size_t size, FileError& error) {
  for (;;) {
    if (!WaitUntilReady(fd_, mayWait_, POLLIN, error)) return -1;
    const ssize_t n = ::read(fd_, buffer, size);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    error = FromErrno(errno);
    return -1;
  }
}

bool File::Write(const char* data, std::size_t size, FileError& error) {
  while (size > 0) {
    if (!WaitUntilReady(fd_, mayWait_, POLLOUT, error)) return false;
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = FromErrno(errno);
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void File::Close() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

PathKind KindOfPath(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? PathKind::Missing : PathKind::Other;
  }
  if (S_ISREG(st.st_mode)) return PathKind::RegularFile;
  if (S_ISDIR(st.st_mode)) return PathKind::Directory;
  return PathKind::Other;
}

bool NormalFileExists(const std::string& pattern) {
  if (pattern.empty()) return false;
  const std::size_t slash = pattern.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  if (name.empty()) return false;
  const auto isNormal = [](const std::string& path, const std::string& leaf) {
    if (leaf.empty() || leaf[0] == '.') return false;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  };
  if (name.find_first_of("*?") == std::string::npos) return isNormal(pattern, name);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool found = false;
  while (dirent* entry = ::readdir(dir)) {
    const std::string leaf = entry->d_name;
    if (::fnmatch(name.c_str(), leaf.c_str(), FNM_PERIOD) == 0 &&
        isNormal((slash == std::string::npos ? std::string() : folder) + leaf, leaf)) {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

bool RemoveFile(const std::string& path, FileError& error) {
  if (PathHoldsNul(path, error)) return false;
  if (::unlink(path.c_str()) != 0) {
    error = FromErrno(errno);
    return false;
  }
  return true;
}

bool MoveOver(const std::string& from, const std::string& to, FileError& error) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    error = FromErrno(errno);
    return false;
  }
  return true;
}

bool RenameInFolder(const std::string& path, const std::string& newName, FileError& error) {
  if (newName.empty() || newName.find('/') != std::string::npos) {
    error = {52, "Bad file name or number"};
    return false;
  }
  const std::size_t slash = path.find_last_of('/');
  const std::string target =
      (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + newName;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {  // the file-system object refuses to overwrite
    error = {58, "File already exists"};
    return false;
  }
  if (::rename(path.c_str(), target.c_str()) != 0) {
    error = FromErrno(errno);
    return false;
  }
  return true;
}

bool File::WriteOffset(std::uint64_t& out) const noexcept {
  const off_t at = ::lseek(fd_, 0, SEEK_CUR);
  if (at < 0) return false;
  out = static_cast<std::uint64_t>(at);
  return true;
}

bool FileLength(const std::string& path, std::uint64_t& out) {
  FileError ignored;
  struct stat st {};
  if (PathHoldsNul(path, ignored) || ::stat(path.c_str(), &st) != 0) return false;
  out = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool TruncateFile(const std::string& path, std::uint64_t length, FileError& error) {
  if (PathHoldsNul(path, error)) return false;
  if (::truncate(path.c_str(), static_cast<off_t>(length)) != 0) {
    error = FromErrno(errno);
    return false;
  }
  return true;
}

bool IdentifyFile(const std::string& path, FileIdentity& out) {
  FileError ignored;
  struct stat st {};
  if (PathHoldsNul(path, ignored) || ::stat(path.c_str(), &st) != 0) return false;
  out = FileIdentity {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return true;
}

std::string TempDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::string FollowLinks(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(current.c_str(), target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return current;
    const std::string link(target, static_cast<std::size_t>(n));
    const std::size_t slash = current.find_last_of('/');
    current = link[0] == '/' || slash == std::string::npos ? link : current.substr(0, slash + 1) + link;
  }
  return current;
}

bool CheckWritable(const std::string& path, FileError& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = FromErrno(errno);
    return false;
  }
  ::close(fd);
  return true;
}

bool CopyAccessRules(const std::string& model, const std::string& path, FileError& error) {
  struct stat from {};
  struct stat to {};
  if (::stat(model.c_str(), &from) != 0 || ::stat(path.c_str(), &to) != 0) {
    error = FromErrno(errno);
    return false;
  }
  // The owner first: a change of owner clears the set-id bits of the mode.
  if ((from.st_uid != to.st_uid || from.st_gid != to.st_gid) &&
      ::chown(path.c_str(), from.st_uid, from.st_gid) != 0) {
    error = FromErrno(errno);
    return false;
  }
  if (::chmod(path.c_str(), from.st_mode & 07777) != 0) {
    error = FromErrno(errno);
    return false;
  }
  return true;
}

FileLock::FileLock(FileLock&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    Release();
    path_ = std::move(other.path_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FileLock::~FileLock() { Release(); }

bool FileLock::IsHeld() const noexcept { return fd_ >= 0; }

FileLock::Result FileLock::TryAcquire(const std::string& lockFilePath, FileError& error) {
  Release();
  // A holder removes the lock file before it lets go: a lock taken on a file
  // no longer under the name is no lock, and the name is tried again.
  for (;;) {
    // Read access is enough for a lock, so that users who share a folder
    // can lock each other's lock files.
    const int fd = ::open(lockFilePath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
      error = FromErrno(errno);
      return Result::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int code = errno;
      ::close(fd);
      if (code == EWOULDBLOCK) return Result::Busy;
      error = FromErrno(code);
      return Result::Failed;
    }
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) == 0 && ::stat(lockFilePath.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      fd_ = fd;
      path_ = lockFilePath;
      return Result::Acquired;
    }
    ::close(fd);
  }
}

void FileLock::Release() noexcept {
  if (fd_ < 0) return;
  ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
  path_.clear();
}

void StopWaitingIo() noexcept { ioWaitsStopped.store(true, std::memory_order_relaxed); }

double ProcessCpuSeconds() {
  timespec t {};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::string MachineDescription() {
  std::string cpu = "unknown processor";
  std::ifstream info("/proc/cpuinfo");
  std::string line;
  while (std::getline(info, line)) {
    if (line.rfind("model name", 0) == 0) {
      const std::size_t colon = line.find(':');
      if (colon != std::string::npos) cpu = line.substr(colon + 2);
      break;
    }
  }
  utsname un {};
  ::uname(&un);
  return cpu + ", " + std::to_string(std::thread::hardware_concurrency()) + " logical processors, " +
         un.sysname + " " + un.release + " " + un.machine + " (native)";
}

}  // namespace quax::agg::platform
