// The log writer: appends one usage record of a snapshot to the day's
// process log file, creating the file with its header record.
#pragma once

#include <windows.h>

#include <cstddef>

#include "fixed_text.h"
#include "usage_record.h"

namespace quax {

class CProcessInfo;
class CServiceEventLog;

class CProcessLogger {
 public:
  virtual ~CProcessLogger() = default;
  virtual bool IsLogFilePathValid() = 0;
  virtual void SetEventLog(CServiceEventLog* eventLog) = 0;
  virtual std::size_t SetLogFileExtension(const char* extension) = 0;
  virtual void SetLogFileFieldDelimiter(char delimiter) = 0;
  virtual void SetLogFilePath(const char* path) = 0;
  virtual std::size_t SetLogFilePrefix(const char* prefix) = 0;
  virtual void SetIntervalAccounting(bool enabled) = 0;
  virtual void SetWriteIntervalEndRecords(bool enabled) = 0;
  virtual bool WriteProcessEntry(char recordType, CProcessInfo* snapshot) = 0;
};

// What the writer asks of the platform besides the file itself, so that
// tests can set the clock (day boundaries) and skip the retry pauses.
struct LogWriterPlatform {
  void(WINAPI* LocalTime)(SYSTEMTIME* now);
  void(WINAPI* Pause)(DWORD milliseconds);
};

class CProcessLoggerCSV final : public CProcessLogger {
 public:
  static constexpr int kOpenAttempts = 30;
  static constexpr DWORD kOpenRetryMilliseconds = 500;

  CProcessLoggerCSV() noexcept;
  ~CProcessLoggerCSV() override;

  bool IsLogFilePathValid() override;
  void SetEventLog(CServiceEventLog* eventLog) override;
  std::size_t SetLogFileExtension(const char* extension) override;
  void SetLogFileFieldDelimiter(char delimiter) override;
  void SetLogFilePath(const char* path) override;
  std::size_t SetLogFilePrefix(const char* prefix) override;
  void SetIntervalAccounting(bool enabled) override;
  void SetWriteIntervalEndRecords(bool enabled) override;
  bool WriteProcessEntry(char recordType, CProcessInfo* snapshot) override;

  void SetPlatform(const LogWriterPlatform& platform) noexcept { platform_ = platform; }
  void SetColumns(RecordColumns columns) noexcept { columns_ = columns; }

 private:
  bool intervalAccounting_ = false;
  char delimiter_ = '\t';
  TextField extension_ = {};
  TextField directory_ = {};
  TextField prefix_ = {};
  bool writeEndRecords_ = false;
  CServiceEventLog* eventLog_ = nullptr;
  RecordColumns columns_ = RecordColumns::WithProject;
  LogWriterPlatform platform_;
};

}  // namespace quax
