#include "process_control.h"

#include "diagnostics.h"
#include "settings_text.h"
#include "unique_handle.h"

namespace quax {

namespace {

constexpr char kReadScope[] = "QUAXWINPROCESS: CProcessControlRegistry::ReadSettings";
constexpr DWORD kValueBufferSize = 1024;

// Reads a value as text, whatever type it is stored with. False when it is
// absent or unreadable; the text is always terminated.
bool ReadText(HKEY key, const char* name, char (&text)[kValueBufferSize]) noexcept {
  DWORD size = kValueBufferSize;
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS) {
    return false;
  }
  // Stored text need not carry its terminator.
  text[size < kValueBufferSize ? size : kValueBufferSize - 1] = '\0';
  return true;
}

}  // namespace

CProcessControlRegistry::CProcessControlRegistry(SettingsReader reader) noexcept : reader_(reader) {
  SetDefaults();
}

std::int32_t CProcessControlRegistry::DefaultAccountingInterval() const noexcept {
  return reader_ == SettingsReader::Service ? 86400 : 60;
}

std::int32_t CProcessControlRegistry::DefaultSamplingInterval() const noexcept {
  return reader_ == SettingsReader::Service ? 1 : 60;
}

void CProcessControlRegistry::SetDefaults() {
  ResetReadFields();
  accountingIntervalCommand_[0] = '\0';
  logFileFieldDelimiter_ = '\t';
  CopyText(logFileExtension_, ".txt");
}

// The fields a read starts from; the command, extension and delimiter keep
// what they hold.
void CProcessControlRegistry::ResetReadFields() noexcept {
  logFilePath_[0] = '\0';
  CopyText(logFilePrefix_, "QUAXProcessLog-");
  accountingIntervalTime_ = {};
  accountingInterval_ = DefaultAccountingInterval();
  samplingInterval_ = DefaultSamplingInterval();
  useLocalTime_ = true;
  useAccountingIntervalTime_ = false;
  writeIntervalEndRecords_ = false;
}

bool CProcessControlRegistry::ReadSettings() {
  const bool traced = reader_ == SettingsReader::Service;
  CTraceScope scope(kReadScope, traced);
  ResetReadFields();
  unique_hkey key;
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_QUERY_VALUE, key.put());
  if (opened != ERROR_SUCCESS) {
    if (traced) scope.TraceFailure("RegOpenKeyEx failed: %s", SystemErrorText(static_cast<DWORD>(opened)));
    return false;
  }
  ReadValues(key.get());
  return true;
}

void CProcessControlRegistry::ReadValues(HKEY key) noexcept {
  const bool service = reader_ == SettingsReader::Service;
  char text[kValueBufferSize];
  if (ReadText(key, "LogFilePath", text)) CopyText(logFilePath_, text);
  if (ReadText(key, "LogFileExtension", text)) CopyText(logFileExtension_, text);
  if (ReadText(key, "LogFilePrefix", text)) CopyText(logFilePrefix_, text);
  if (ReadText(key, "UseLocalTime", text)) useLocalTime_ = ParseYesFlag(text);
  if (ReadText(key, "AccountingInterval", text)) accountingInterval_ = ParseDecimalNumber(text);
  if (service) {
    if (ReadText(key, "UseAccountingIntervalTime", text)) useAccountingIntervalTime_ = ParseYesFlag(text);
    if (ReadText(key, "AccountingIntervalTime", text)) {
      const TimeOfDay time = ParseTimeOfDay(text);
      accountingIntervalTime_ = {};
      accountingIntervalTime_.wHour = static_cast<WORD>(time.Hour);
      accountingIntervalTime_.wMinute = static_cast<WORD>(time.Minute);
    }
    if (ReadText(key, "AccountingIntervalCommand", text)) CopyText(accountingIntervalCommand_, text);
  }
  if (ReadText(key, "SamplingInterval", text)) {
    samplingInterval_ = ParseDecimalNumber(text);
    if (samplingInterval_ == 0) samplingInterval_ = DefaultSamplingInterval();
  }
  if (ReadText(key, "WriteIntervalEndRecords", text)) writeIntervalEndRecords_ = ParseYesFlag(text);
  if (ReadText(key, "LogFileFieldDelimiter", text)) {
    logFileFieldDelimiter_ = static_cast<char>(ParseDecimalNumber(text) & 0xFF);
  }
}

void DefaultLogDirectory(TextField& directory) noexcept {
  CopyText(directory, kDefaultLogDirectoryName);
  unique_hkey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAdminKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return;
  char location[kTextFieldSize];
  DWORD size = sizeof location;
  if (RegQueryValueExA(key.get(), "InstallLocation", nullptr, nullptr, reinterpret_cast<BYTE*>(location),
                       &size) != ERROR_SUCCESS) {
    return;
  }
  location[size < sizeof location ? size : sizeof location - 1] = '\0';
  FormatText(directory, sizeof directory, "%s%s", location, kDefaultLogDirectoryName);
}

}  // namespace quax
