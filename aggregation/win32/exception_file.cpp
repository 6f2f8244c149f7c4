#include "win32/exception_file.h"

#include "win32/registry.h"

namespace quax {

namespace {

constexpr char kFileNameNotSpecified[] = "FileName not specified.";
// Callers match this text as it stands, without a closing parenthesis.
constexpr char kMaximumReachedStart[] = "Maximum number of exceptions (";
constexpr char kMaximumReachedEnd[] = " has been reached.";
constexpr char kWriteFailed[] = "Unable to open file, error #";
constexpr char kOpenFailed[] = "Error #";

// The system's error text ends with a line end; a message does not.
std::string ErrorText(const char* prefix, DWORD code) {
  std::string text = NumberedErrorText(prefix, code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

const std::string& ExceptionFile::FileName() {
  lastErrorMessage_.clear();
  return fileName_;
}

void ExceptionFile::SetFileName(std::string fileName) {
  lastErrorMessage_.clear();
  fileName_ = std::move(fileName);
}

bool ExceptionFile::IsFileOpen() {
  lastErrorMessage_.clear();
  return static_cast<bool>(file_);
}

std::int32_t ExceptionFile::MaxExceptions() {
  lastErrorMessage_.clear();
  return maxExceptions_;
}

void ExceptionFile::SetMaxExceptions(std::int32_t limit) {
  lastErrorMessage_.clear();
  maxExceptions_ = limit;
}

bool ExceptionFile::MaxExceptionsReached() {
  lastErrorMessage_.clear();
  return maxExceptions_ >= 0 && exceptionCount_ >= maxExceptions_;
}

std::int32_t ExceptionFile::ExceptionCount() {
  lastErrorMessage_.clear();
  return exceptionCount_;
}

bool ExceptionFile::AddException(std::string_view sourceRecord) {
  lastErrorMessage_.clear();
  if (maxExceptions_ >= 0 && exceptionCount_ >= maxExceptions_) {
    file_.reset();
    lastErrorMessage_ = kMaximumReachedStart + std::to_string(maxExceptions_) + kMaximumReachedEnd;
    return false;
  }
  if (!file_ && !FileOpen()) return false;

  std::string line(sourceRecord);
  line += "\r\n";
  if (line.size() > MAXDWORD) {
    lastErrorMessage_ = ErrorText(kWriteFailed, ERROR_INVALID_PARAMETER);
    return false;
  }
  DWORD written = 0;
  const auto size = static_cast<DWORD>(line.size());
  if (!WriteFile(file_.get(), line.data(), size, &written, nullptr) || written != size) {
    const DWORD error = GetLastError();
    lastErrorMessage_ = ErrorText(kWriteFailed, error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
    return false;
  }
  ++exceptionCount_;
  return true;
}

void ExceptionFile::FileClose() {
  lastErrorMessage_.clear();
  file_.reset();
}

bool ExceptionFile::FileOpen() {
  lastErrorMessage_.clear();
  if (file_) return true;
  if (fileName_.empty()) {
    lastErrorMessage_ = kFileNameNotSpecified;
    return false;
  }
  // The system would read the name up to a NUL: another file.
  if (fileName_.find('\0') != std::string::npos) {
    lastErrorMessage_ = ErrorText(kOpenFailed, ERROR_INVALID_NAME);
    return false;
  }
  exceptionCount_ = 0;
  // Others may read the file while records are being set aside.
  file_.reset(CreateFileA(fileName_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) {
    lastErrorMessage_ = ErrorText(kOpenFailed, GetLastError());
    return false;
  }
  return true;
}

void ExceptionFile::Initialize() {
  file_.reset();
  fileName_ = kDefaultExceptionFileName;
  lastErrorMessage_.clear();
  maxExceptions_ = -1;
  exceptionCount_ = 0;
}

}  // namespace quax
