// The thin platform layer under the portable aggregation core: opening,
// reading and writing a file, the directory search for a normal file,
// deleting, renaming within a folder, moving over a file, the TEMP folder,
// links, access rules and lock files. One implementation
// over POSIX (platform_files_posix.cpp) and one over Win32
// (platform_files_win32.cpp, ANSI functions); CMake picks one.
//
// Failures carry the run-time error number and description the library's
// messages quote (FileError::Text), mapped from the system error: 53 File
// not found, 76 Path not found, 75 Path/File access error, 70 Permission
// denied, 61 Disk full, 57 Device I/O error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quax::agg::platform {

struct FileError {
  std::int32_t Number = 0;
  std::string Description;

  // "Error #" + number + ": " + description, as the messages quote it.
  std::string Text() const { return "Error #" + std::to_string(Number) + ": " + Description; }
};

enum class OpenMode { Read, Write, Append };

// Move-only owner of an open file.
class File {
 public:
  File() noexcept = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  bool IsOpen() const noexcept;
  bool Open(const std::string& path, OpenMode mode, FileError& error);
  // The process's standard input (mode Read) or standard output (Write or
  // Append) as a file of its own: closing it leaves the stream open.
  bool OpenStandardStream(OpenMode mode, FileError& error);
  // Bytes read (0 at the end) or -1 with error filled.
  std::ptrdiff_t Read(char* buffer, std::size_t size, FileError& error);
  // Writes every byte or fails.
  bool Write(const char* data, std::size_t size, FileError& error);
  // Where the next write of a file opened for writing goes: the bytes it
  // holds, also after a write that failed half-way. False when not told.
  bool WriteOffset(std::uint64_t& out) const noexcept;
  void Close() noexcept;

 private:
#ifdef _WIN32
  void* handle_ = nullptr;  // HANDLE; nullptr when none
#else
  int fd_ = -1;
  bool mayWait_ = true;  // not a regular file: a pipe, a terminal, a device
#endif
};

// True when a directory search for `pattern` (wildcards * and ? allowed in
// the last component) finds a normal file: no directory, no hidden or system
// file (on POSIX: a regular file whose name does not begin with ".").
bool NormalFileExists(const std::string& pattern);

enum class PathKind { Missing, RegularFile, Directory, Other };

// What `path` names: nothing, a regular file, a folder, or something else (a
// device, a pipe, or a path that cannot be examined).
PathKind KindOfPath(const std::string& path);

bool RemoveFile(const std::string& path, FileError& error);

// Moves the file `from` to the path `to`, replacing a file there (in one step
// when both are in one folder).
bool MoveOver(const std::string& from, const std::string& to, FileError& error);

// Gives the file `path` the name `newName` in the same folder. `newName` is
// a name, not a path: separators fail.
bool RenameInFolder(const std::string& path, const std::string& newName, FileError& error);

// A path holding a NUL names another file than it says (the system reads it
// up to the NUL): opening, removing and identifying refuse it with error 52.
inline bool PathHoldsNul(const std::string& path, FileError& error) {
  if (path.find('\0') == std::string::npos) return false;
  error = {52, "Bad file name or number (the name holds a NUL character)"};
  return true;
}

// The length in bytes of the file `path`; false (out unchanged) when it
// cannot be examined.
bool FileLength(const std::string& path, std::uint64_t& out);

// Cuts the file `path` to `length` bytes.
bool TruncateFile(const std::string& path, std::uint64_t length, FileError& error);

// What tells files apart whatever their names: the volume and the file
// index (Windows), the device and the inode (POSIX).
struct FileIdentity {
  std::uint64_t Volume = 0;
  std::uint64_t Index = 0;
  bool operator==(const FileIdentity&) const = default;
};
// False when `path` names no file that can be examined.
bool IdentifyFile(const std::string& path, FileIdentity& out);

// The folder for temporary files, ending in a separator.
std::string TempDirectory();

// The file `path` names once symbolic links are followed: `path` itself when
// it is no link; a link to a missing file gives that file's path.
std::string FollowLinks(const std::string& path);

// Whether the existing file `path` may be written: it is opened for writing
// and closed again, unchanged.
bool CheckWritable(const std::string& path, FileError& error);

// Gives the file `path` the access rules of the file `model`: its mode, owner
// and group (POSIX), its access control list and that list's protection
// from inheritance (Windows).
bool CopyAccessRules(const std::string& model, const std::string& path, FileError& error);

// An exclusive lock between processes, held through a lock file that the
// holder creates and removes when it lets go (a lock file left by a process
// that ended without letting go is taken over). Move-only.
class FileLock {
 public:
  enum class Result { Acquired, Busy, Failed };

  FileLock() noexcept = default;
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

  // Busy while another holder has it; error filled only on Failed.
  Result TryAcquire(const std::string& lockFilePath, FileError& error);
  bool IsHeld() const noexcept;
  void Release() noexcept;

 private:
  std::string path_;
#ifdef _WIN32
  void* handle_ = nullptr;  // HANDLE; nullptr when none
#else
  int fd_ = -1;
#endif
};

// From now on File::Read and File::Write fail at once instead of waiting on
// a pipe, a terminal or a device (POSIX: also a call a signal interrupts):
// a run asked to end stops waiting for input or for a reader. Safe in a
// signal handler (POSIX).
void StopWaitingIo() noexcept;

#ifdef _WIN32
// Cancels the waits of the reads and writes under way in any thread. A
// thread that looked at the stop request just before it was made may start
// its wait just after: call this again until the run has ended.
void CancelWaitingIo() noexcept;
#endif

// Processor time of this process (user and kernel) in seconds: benchmark
// figures that other load on the machine does not distort.
double ProcessCpuSeconds();

// One line naming the machine (processor, cores, system) for benchmark output.
std::string MachineDescription();

}  // namespace quax::agg::platform
