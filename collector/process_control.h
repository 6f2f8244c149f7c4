// The collector settings: one record read once from the registry, with
// defaults for whatever is not stored.
#pragma once

#include <windows.h>

#include <cstdint>

#include "fixed_text.h"

namespace quax {

inline constexpr char kSettingsKey[] = "SOFTWARE\\QUAX\\Collectors\\QUAXWinProcess";
inline constexpr char kAdminKey[] = "SOFTWARE\\QUAX\\Admin";
inline constexpr char kDefaultLogDirectoryName[] = "QUAXWinProcessLogs";

class CProcessControl {
 public:
  virtual ~CProcessControl() = default;
  virtual void SetDefaults() = 0;
  virtual bool ReadSettings() = 0;
  virtual std::int32_t GetAccountingInterval() const = 0;
  virtual const char* GetAccountingIntervalCommand() const = 0;
  virtual const SYSTEMTIME* GetAccountingIntervalTime() const = 0;
  virtual const char* GetLogFileExtension() const = 0;
  virtual char GetLogFileFieldDelimiter() const = 0;
  virtual const char* GetLogFilePath() const = 0;
  virtual const char* GetLogFilePrefix() const = 0;
  virtual std::int32_t GetSamplingInterval() const = 0;
  virtual bool GetUseAccountingIntervalTime() const = 0;
  virtual bool GetUseLocalTime() const = 0;
  virtual bool GetWriteIntervalEndRecords() const = 0;
};

// Who reads the settings: the service reads every value; the in-process
// collector reads a subset with its own defaults and writes no trace.
enum class SettingsReader { Service, InProcess };

class CProcessControlRegistry final : public CProcessControl {
 public:
  static constexpr std::size_t kCommandSize = 4001;

  explicit CProcessControlRegistry(SettingsReader reader = SettingsReader::Service) noexcept;

  void SetDefaults() override;
  bool ReadSettings() override;
  std::int32_t GetAccountingInterval() const override { return accountingInterval_; }
  const char* GetAccountingIntervalCommand() const override { return accountingIntervalCommand_; }
  const SYSTEMTIME* GetAccountingIntervalTime() const override { return &accountingIntervalTime_; }
  const char* GetLogFileExtension() const override { return logFileExtension_; }
  char GetLogFileFieldDelimiter() const override { return logFileFieldDelimiter_; }
  const char* GetLogFilePath() const override { return logFilePath_; }
  const char* GetLogFilePrefix() const override { return logFilePrefix_; }
  std::int32_t GetSamplingInterval() const override { return samplingInterval_; }
  bool GetUseAccountingIntervalTime() const override { return useAccountingIntervalTime_; }
  bool GetUseLocalTime() const override { return useLocalTime_; }
  bool GetWriteIntervalEndRecords() const override { return writeIntervalEndRecords_; }

 private:
  std::int32_t DefaultAccountingInterval() const noexcept;
  std::int32_t DefaultSamplingInterval() const noexcept;
  void ResetReadFields() noexcept;
  void ReadValues(HKEY key) noexcept;

  SettingsReader reader_;
  std::int32_t accountingInterval_;
  SYSTEMTIME accountingIntervalTime_;
  char accountingIntervalCommand_[kCommandSize];
  char logFileFieldDelimiter_;
  TextField logFileExtension_;
  TextField logFilePath_;
  TextField logFilePrefix_;
  std::int32_t samplingInterval_;
  bool useAccountingIntervalTime_;
  bool useLocalTime_;
  bool writeIntervalEndRecords_;
};

// The installation's log directory: InstallLocation (stored with its
// trailing backslash) followed by "QUAXWinProcessLogs", or the bare relative
// name when the installation is not registered.
void DefaultLogDirectory(TextField& directory) noexcept;

}  // namespace quax
