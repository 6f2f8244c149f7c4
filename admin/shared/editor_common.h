// What the two settings editors share: their texts, the collector settings'
// value names, the interval boxes' typing rules and the folder browser's
// result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

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
inline constexpr RegistryValueRef LoadAppInitDlls{kAppInitKey, "LoadAppInit_DLLs"};
inline constexpr RegistryValueRef RequireSignedAppInitDlls{kAppInitKey, "RequireSignedAppInit_DLLs"};
inline constexpr RegistryValueRef SecureBootEnabled{"SYSTEM\\CurrentControlSet\\Control\\SecureBoot\\State",
                                                    "UEFISecureBootEnabled"};
// "Yes" while LoadAppInit_DLLs of the main view, or of the 32-bit view, is
// on because quaxhookadmin turned it on.
inline constexpr RegistryValueRef TurnedOnLoadAppInitDlls{kAdminKey, "TurnedOnLoadAppInit_DLLs"};
inline constexpr RegistryValueRef TurnedOnLoadAppInitDlls32{kAdminKey, "TurnedOnLoadAppInit_DLLs32"};
}  // namespace setting

// The same value in another registry view.
constexpr RegistryValueRef InView(const RegistryValueRef& value, RegistryView view) {
  return {value.SubKey, value.Name, view};
}

// What the collectors can use of a text setting: 259 characters of a path
// or prefix; of the command, what fits their 1024-byte read.
inline constexpr std::size_t kTextSettingLimit = kTextFieldSize - 1;
inline constexpr std::size_t kCommandSettingLimit = kSettingTextSize - 1;
// An interval box holds as many digits as the largest setting has.
inline constexpr std::size_t kIntervalDigits = 10;

// A text box of a setting the collectors read into a bounded field.
struct TextSettingBox {
  int Control;
  RegistryValueRef Value;
  std::size_t Limit;
  const char* Label;  // "The log file path"
};

// Limits what can be typed into each box.
void LimitTextBoxes(FormView& view, std::span<const TextSettingBox> boxes);
// Puts every stored value longer than its box's limit into the box whole
// and warns about them in one message; nothing is cut or lost unseen.
void ShowLongStoredTexts(FormView& view, SettingsStore& store, std::span<const TextSettingBox> boxes,
                         const char* caption);
// "The stored LogFilePrefix is 300 characters long. ..."
std::string LongStoredTextWarning(std::string_view name, std::size_t length, std::size_t limit);
// False (reported, the box focused) when a box holds more than its limit.
bool TextBoxesFit(FormView& view, std::span<const TextSettingBox> boxes, const char* caption);

// A path that names its drive or server: "C:\Logs", "\\server\share".
bool IsFullPath(std::string_view path) noexcept;
// False (reported, the box focused) when the log path box holds a path that
// is neither empty nor full.
bool LogPathIsFullOrEmpty(FormView& view, const char* caption);

// An interval box's seconds when they are at least one second and fit a
// setting; otherwise reported, the box focused (and, for no number above
// 0, set to "1" as when the box is left), and nothing.
std::optional<std::int32_t> CheckedInterval(FormView& view, int box, int scaleList, const char* name,
                                            const char* caption);

// A system text (Win32 messages end with CR LF) as the end of a sentence.
std::string WithoutLineEnd(std::string_view text);

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
