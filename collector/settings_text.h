// How the collector settings' registry texts become values. Every setting
// is stored as text; these rules are shared by every reader: the two
// collectors, and the settings editors, which must show what the collectors
// will do.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fixed_text.h"

namespace quax {

// True exactly for "YES" in any case.
bool ParseYesFlag(const char* text) noexcept;

// The C atol rule: leading white space, an optional sign, then digits up to
// the first other character; no digits give 0. Values beyond 32 bits are
// held at the nearest limit instead of wrapping.
std::int32_t ParseDecimalNumber(const char* text) noexcept;

struct TimeOfDay {
  std::int32_t Hour = 0;
  std::int32_t Minute = 0;
};

// "HH?MM": only a text of exactly five characters is read, its first two
// characters as the hour and its last two as the minute (each by the
// decimal-number rule); anything else is 00:00. The result is not range
// checked.
TimeOfDay ParseTimeOfDay(const char* text) noexcept;

// Who reads the settings: the service reads every value; the in-process
// collector reads a subset with its own defaults.
enum class SettingsReader { Service, InProcess };

// The keys below HKEY_LOCAL_MACHINE: the settings, and the installation's,
// whose InstallLocation is the folder of the default log directory.
inline constexpr char kSettingsKey[] = "SOFTWARE\\QUAX\\Collectors\\QUAXWinProcess";
inline constexpr char kAdminKey[] = "SOFTWARE\\QUAX\\Admin";
inline constexpr char kDefaultLogDirectoryName[] = "QUAXWinProcessLogs";

inline constexpr char kDefaultLogFilePrefix[] = "QUAXProcessLog-";
inline constexpr char kDefaultLogFileExtension[] = ".txt";
inline constexpr std::size_t kAccountingCommandSize = 4001;

// Every stored value is read into this many bytes; a longer one cannot be
// read and counts as missing.
inline constexpr std::size_t kSettingTextSize = 1024;
using SettingText = char[kSettingTextSize];

// The settings record a collector runs with.
struct CollectorSettings {
  std::int32_t AccountingInterval;  // 0 or less: no interval accounting
  TimeOfDay AccountingIntervalTime;
  char AccountingIntervalCommand[kAccountingCommandSize];
  char LogFileFieldDelimiter;
  TextField LogFileExtension;
  TextField LogFilePath;
  TextField LogFilePrefix;
  std::int32_t SamplingInterval;
  bool UseAccountingIntervalTime;
  bool UseLocalTime;
  bool WriteIntervalEndRecords;
};

// Where a read finds the stored texts: the registry for the collectors.
class SettingTextSource {
 public:
  // The value's text, terminated within `text`; false when the value is
  // missing or cannot be read.
  virtual bool ReadSettingText(const char* name, SettingText& text) noexcept = 0;

 protected:
  ~SettingTextSource() = default;
};

// Every field at the reader's default.
void SetDefaultSettings(CollectorSettings& settings, SettingsReader reader) noexcept;

// The fields a read starts from, back at their defaults; the command,
// extension and delimiter keep what they hold.
void ResetReadSettings(CollectorSettings& settings, SettingsReader reader) noexcept;

// Takes every value the reader reads, in its order, by the rules above; a
// value that is missing leaves its field as it was. Texts are cut to their
// fields.
void ReadSettingValues(SettingTextSource& source, SettingsReader reader, CollectorSettings& settings) noexcept;

// What the collectors make of some values they read:
// the service samples at least every second;
std::int32_t UsableSamplingInterval(std::int32_t seconds) noexcept;
// the service ends intervals at 00:00 when the stored time is no time of day;
bool IsTimeOfDay(TimeOfDay time) noexcept;
// the log writer names files with the default prefix when the prefix is empty.
const char* UsableLogFilePrefix(const char* prefix) noexcept;

}  // namespace quax
