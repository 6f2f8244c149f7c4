// The collector settings: one record read once from the registry, with
// defaults for whatever is not stored.
#pragma once

#include <windows.h>

#include <cstdint>

#include "fixed_text.h"
#include "settings_text.h"

namespace quax {

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

class CProcessControlRegistry final : public CProcessControl {
 public:
  explicit CProcessControlRegistry(SettingsReader reader = SettingsReader::Service) noexcept;

  void SetDefaults() override;
  bool ReadSettings() override;
  std::int32_t GetAccountingInterval() const override { return settings_.AccountingInterval; }
  const char* GetAccountingIntervalCommand() const override { return settings_.AccountingIntervalCommand; }
  const SYSTEMTIME* GetAccountingIntervalTime() const override { return &accountingIntervalTime_; }
  const char* GetLogFileExtension() const override { return settings_.LogFileExtension; }
  char GetLogFileFieldDelimiter() const override { return settings_.LogFileFieldDelimiter; }
  const char* GetLogFilePath() const override { return settings_.LogFilePath; }
  const char* GetLogFilePrefix() const override { return settings_.LogFilePrefix; }
  std::int32_t GetSamplingInterval() const override { return settings_.SamplingInterval; }
  bool GetUseAccountingIntervalTime() const override { return settings_.UseAccountingIntervalTime; }
  bool GetUseLocalTime() const override { return settings_.UseLocalTime; }
  bool GetWriteIntervalEndRecords() const override { return settings_.WriteIntervalEndRecords; }

 private:
  // The time of day as the accessor hands it out: hour and minute only.
  void KeepTimeOfDay() noexcept;

  SettingsReader reader_;
  CollectorSettings settings_;
  SYSTEMTIME accountingIntervalTime_;
};

// Reads one stored value as the collectors do: its bytes, whatever registry
// type it has, into the text buffer, terminated. False when it is absent or
// does not fit the buffer.
bool ReadSettingValue(HKEY key, const char* name, SettingText& text) noexcept;

// The installation's log directory: InstallLocation (stored with its
// trailing backslash) followed by "QUAXWinProcessLogs", or the bare relative
// name when the installation is not registered.
void DefaultLogDirectory(TextField& directory) noexcept;

}  // namespace quax
