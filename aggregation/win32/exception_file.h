// Sets aside source records that a script cannot process: each one becomes a
// line of a text file, up to an optional maximum number of lines, after which
// the file is closed and further records are refused.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "unique_handle.h"

namespace quax {

inline constexpr char kDefaultExceptionFileName[] = "QUAXExceptionFile.txt";

class ExceptionFile {
 public:
  ExceptionFile() { Initialize(); }

  // Reading or setting these clears LastErrorMessage: read the message first.
  const std::string& FileName();
  void SetFileName(std::string fileName);
  bool IsFileOpen();
  std::int32_t MaxExceptions();
  // A negative limit means no limit.
  void SetMaxExceptions(std::int32_t limit);
  bool MaxExceptionsReached();
  std::int32_t ExceptionCount();

  const std::string& LastErrorMessage() const noexcept { return lastErrorMessage_; }

  // Appends the record and CR LF, opening the file on first use; false once
  // the limit is reached (the file is then closed).
  bool AddException(std::string_view sourceRecord);
  void FileClose();
  // Opens (and empties) the file; true at once when it is already open.
  bool FileOpen();
  // Back to the defaults; an open file is closed.
  void Initialize();

 private:
  unique_handle file_;
  std::string fileName_;
  std::string lastErrorMessage_;
  std::int32_t maxExceptions_ = -1;
  std::int32_t exceptionCount_ = 0;
};

}  // namespace quax
