// What the two settings editors share: their texts, the collector settings'
// value names, the interval boxes' typing rules and the folder browser's
// result.
#pragma once

#include <optional>
#include <string>

#include "form_view.h"
#include "settings_store.h"

namespace quax {

inline constexpr char kStatusReady[] = "Ready.";
inline constexpr char kStatusSaving[] = "Saving configuration...";
inline constexpr char kSaveChangesPrompt[] = "Save changes before exiting?";
inline constexpr char kSaveChangesCaption[] = "Save Changes";
inline constexpr char kBrowseLogFolderTitle[] =
    "Specify the location of the folder where the log file will be written:";
inline constexpr char kSamplingIntervalName[] = "Sampling Interval";
inline constexpr char kAccountingIntervalName[] = "Accounting Interval";

namespace setting {
inline constexpr RegistryValueRef LogFilePath{kSettingsKey, "LogFilePath"};
inline constexpr RegistryValueRef LogFilePrefix{kSettingsKey, "LogFilePrefix"};
inline constexpr RegistryValueRef AccountingInterval{kSettingsKey, "AccountingInterval"};
inline constexpr RegistryValueRef AccountingIntervalCommand{kSettingsKey, "AccountingIntervalCommand"};
inline constexpr RegistryValueRef AccountingIntervalTime{kSettingsKey, "AccountingIntervalTime"};
inline constexpr RegistryValueRef UseAccountingIntervalTime{kSettingsKey, "UseAccountingIntervalTime"};
inline constexpr RegistryValueRef WriteIntervalEndRecords{kSettingsKey, "WriteIntervalEndRecords"};
inline constexpr RegistryValueRef UseLocalTime{kSettingsKey, "UseLocalTime"};
inline constexpr RegistryValueRef SamplingInterval{kSettingsKey, "SamplingInterval"};
inline constexpr RegistryValueRef InstallLocation{kAdminKey, "InstallLocation"};
inline constexpr RegistryValueRef AppInitDlls{kAppInitKey, "AppInit_DLLs"};
}  // namespace setting

// The number boxes of the intervals: only digits and Backspace can be typed
// (anything else beeps), and a box left without a number above 0 gets "1".
class IntervalBoxRules {
 public:
  // Whether the character reaches the box.
  bool OnKey(FormView& view, int characterCode);
  void OnLeft(FormView& view, int box);

 private:
  bool leaving_ = false;  // setting the text must not run the rule again
};

// Puts the folder the browser chose into the log path box; nothing when
// the browser was cancelled.
void ShowChosenFolder(FormView& view, const std::optional<std::string>& folder);

}  // namespace quax
