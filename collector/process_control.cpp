#include "process_control.h"

#include "diagnostics.h"
#include "unique_handle.h"

namespace quax {

namespace {

constexpr char kReadScope[] = "QUAXWINPROCESS: CProcessControlRegistry::ReadSettings";
// The 64-bit view, so that the 32-bit in-process collector of 64-bit
// Windows reads the settings the 64-bit collectors and the administration
// programs use; the 64-bit collectors and 32-bit Windows (which ignores
// the flag) read what they always read.
constexpr REGSAM kSettingsAccess = KEY_QUERY_VALUE | KEY_WOW64_64KEY;

// The values of the opened collector settings key.
class RegistrySettingTexts final : public SettingTextSource {
 public:
  explicit RegistrySettingTexts(HKEY key) noexcept : key_(key) {}
  bool ReadSettingText(const char* name, SettingText& text) noexcept override {
    return ReadSettingValue(key_, name, text);
  }

 private:
  HKEY key_;
};

}  // namespace

bool ReadSettingValue(HKEY key, const char* name, SettingText& text) noexcept {
  DWORD size = kSettingTextSize;
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS) {
    return false;
  }
  // Stored text need not carry its terminator.
  text[size < kSettingTextSize ? size : kSettingTextSize - 1] = '\0';
  return true;
}

CProcessControlRegistry::CProcessControlRegistry(SettingsReader reader) noexcept : reader_(reader) {
  SetDefaults();
}

void CProcessControlRegistry::SetDefaults() {
  SetDefaultSettings(settings_, reader_);
  KeepTimeOfDay();
}

void CProcessControlRegistry::KeepTimeOfDay() noexcept {
  accountingIntervalTime_ = {};
  accountingIntervalTime_.wHour = static_cast<WORD>(settings_.AccountingIntervalTime.Hour);
  accountingIntervalTime_.wMinute = static_cast<WORD>(settings_.AccountingIntervalTime.Minute);
}

bool CProcessControlRegistry::ReadSettings() {
  const bool traced = reader_ == SettingsReader::Service;
  CTraceScope scope(kReadScope, traced);
  ResetReadSettings(settings_, reader_);
  KeepTimeOfDay();
  unique_hkey key;
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, kSettingsAccess, key.put());
  if (opened != ERROR_SUCCESS) {
    if (traced) scope.TraceFailure("RegOpenKeyEx failed: %s", SystemErrorText(static_cast<DWORD>(opened)));
    return false;
  }
  RegistrySettingTexts texts(key.get());
  ReadSettingValues(texts, reader_, settings_);
  KeepTimeOfDay();
  return true;
}

void DefaultLogDirectory(TextField& directory) noexcept {
  CopyText(directory, kDefaultLogDirectoryName);
  unique_hkey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAdminKey, 0, kSettingsAccess, key.put()) != ERROR_SUCCESS) return;
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
