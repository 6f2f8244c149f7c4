#include "service_editor.h"

#include <array>
#include <cstdio>

#include "control_ids.h"
#include "interval_text.h"
#include "service_control_form.h"

namespace quax {

namespace {

constexpr char kAccountingBelowSampling[] = "The accounting interval is less than the sampling interval.";
constexpr char kFolderCreated[] = "Log file path created.";
constexpr char kRestartQuestion[] =
    "The collector service is running with the settings it read when it started. Restart it now so that it "
    "uses the saved settings?";
constexpr char kEffectiveAtNextStart[] = "Saved. The service uses the new settings when it next starts.";

const TextSettingBox kTextBoxes[] = {
    {IDC_txtLogFilePath, setting::LogFilePath, kTextSettingLimit, "The log file path"},
    {IDC_txtLogFilePrefix, setting::LogFilePrefix, kTextSettingLimit, "The log file prefix"},
    {IDC_txtAccountingIntervalCommand, setting::AccountingIntervalCommand, kCommandSettingLimit,
     "The accounting interval command"},
};

// The controls that follow "Enable Interval Accounting".
constexpr std::array<int, 7> kAccountingControls = {
    IDC_txtAccountingInterval,      IDC_cmbTimeScaleAccounting,     IDC_chkWriteIntervalEndRecords,
    IDC_optWriteAccountingRecords0, IDC_optWriteAccountingRecords1, IDC_dtpAccountingInterval,
    IDC_txtAccountingIntervalCommand};

const char* YesNo(bool value) { return value ? "Yes" : "No"; }

std::string MissingFolderText(const std::string& path) { return "The log file path '" + path + "' does not exist."; }

// The log folder of a new installation: InstallLocation and the default
// folder name; empty (the collector's own default) when the installation is
// not registered.
std::string NewInstallationLogPath(SettingsStore& store) {
  std::string location = ReadText(store, setting::InstallLocation);
  if (location.empty()) return {};
  if (location.back() != '\\') location += '\\';
  return location + kDefaultLogDirectoryName;
}

}  // namespace

void ServiceSettingsEditor::Load() {
  for (const int list : {IDC_cmbTimeScaleSampling, IDC_cmbTimeScaleAccounting}) {
    view_.FillList(list, kTimeScaleNames);
    view_.SetSelection(list, kSeconds);
  }
  LimitTextBoxes(view_, kTextBoxes);
  for (const int box : {IDC_txtSamplingInterval, IDC_txtAccountingInterval}) view_.SetTextLimit(box, kIntervalDigits);
  LoadSettings();
}

void ServiceSettingsEditor::LoadSettings() {
  // What the service will run with: the form shows it, and saving it
  // unchanged changes nothing the service does.
  CollectorSettings settings;
  const bool keyExists = LoadCollectorSettings(store_, SettingsReader::Service, settings);
  const std::string path = keyExists ? settings.LogFilePath : NewInstallationLogPath(store_);
  const std::int32_t accountingInterval = settings.AccountingInterval;
  const TimeOfDay time = IsTimeOfDay(settings.AccountingIntervalTime) ? settings.AccountingIntervalTime : TimeOfDay{};

  view_.SetText(IDC_txtLogFilePath, path);
  view_.SetText(IDC_txtLogFilePrefix, UsableLogFilePrefix(settings.LogFilePrefix));

  const int mode = settings.UseAccountingIntervalTime ? 1 : 0;
  if (accountingInterval < 1) {
    view_.SetChecked(IDC_chkEnableIntervalAccounting, false);
    EnableAccountingControls();
    view_.SetChecked(IDC_optWriteAccountingRecords0, mode == 0);
    view_.SetChecked(IDC_optWriteAccountingRecords1, mode == 1);
    view_.SetEnabled(IDC_btnApply, false);
    for (const int control : kAccountingControls) view_.SetEnabled(control, false);
  } else {
    view_.SetChecked(IDC_chkEnableIntervalAccounting, true);
    EnableAccountingControls();
    view_.SetEnabled(IDC_btnApply, false);
    SelectAccountingMode(mode);
  }

  // The time is kept whichever mode is chosen, so that saving never drops it.
  view_.SetTime(IDC_dtpAccountingInterval, time);
  ShowNamedInterval(IDC_txtAccountingInterval, IDC_cmbTimeScaleAccounting, accountingInterval);
  view_.SetText(IDC_txtAccountingIntervalCommand, settings.AccountingIntervalCommand);
  view_.SetChecked(IDC_chkWriteIntervalEndRecords, settings.WriteIntervalEndRecords);
  ShowNamedInterval(IDC_txtSamplingInterval, IDC_cmbTimeScaleSampling,
                    UsableSamplingInterval(settings.SamplingInterval));
  view_.SetChecked(IDC_chkUseLocalTime, settings.UseLocalTime);
  // A new installation starts with unsaved defaults.
  view_.SetEnabled(IDC_btnApply, !keyExists);
  if (keyExists) ShowLongStoredTexts(view_, store_, kTextBoxes, kServiceEditorTitle);
}

void ServiceSettingsEditor::ShowNamedInterval(int box, int scaleList, std::int64_t seconds) {
  const ShownInterval shown = ShowInterval(seconds);
  view_.SetText(box, shown.Number);
  view_.SetSelection(scaleList, shown.ScaleIndex);
}

bool ServiceSettingsEditor::ValidateSettings() {
  if (!TextBoxesFit(view_, kTextBoxes, kServiceEditorTitle) || !LogPathIsFullOrEmpty(view_, kServiceEditorTitle)) {
    return false;
  }
  // An empty path leaves the log folder to the collector's default.
  const std::string path = view_.Text(IDC_txtLogFilePath);
  if (!path.empty() && !system_.FolderExists(path)) {
    const MessageAnswer answer =
        view_.ShowMessage(MissingFolderText(path) + "\r\n\r\nWould you like to create it?", kServiceEditorTitle,
                          MessageIcon::Question, MessageButtons::YesNo);
    if (answer != MessageAnswer::Yes) {
      view_.Focus(IDC_txtLogFilePath);
      return false;
    }
    system_.CreateFolder(path);
    if (!system_.FolderExists(path)) {
      view_.ShowMessage(MissingFolderText(path), kServiceEditorTitle, MessageIcon::Error, MessageButtons::Ok);
      view_.Focus(IDC_txtLogFilePath);
      return false;
    }
    view_.ShowMessage(kFolderCreated, kServiceEditorTitle, MessageIcon::Information, MessageButtons::Ok);
  }

  const std::optional<std::int32_t> sampling = CheckedInterval(view_, IDC_txtSamplingInterval, IDC_cmbTimeScaleSampling,
                                                               kSamplingIntervalName, kServiceEditorTitle);
  if (!sampling) return false;
  if (!view_.Checked(IDC_chkEnableIntervalAccounting)) return true;

  // Checked whichever option is selected.
  const std::optional<std::int32_t> accounting = CheckedInterval(
      view_, IDC_txtAccountingInterval, IDC_cmbTimeScaleAccounting, kAccountingIntervalName, kServiceEditorTitle);
  if (!accounting) return false;
  if (*accounting < *sampling) {
    view_.ShowMessage(kAccountingBelowSampling, kServiceEditorTitle, MessageIcon::Error, MessageButtons::Ok);
    view_.Focus(IDC_txtAccountingInterval);
    return false;
  }
  return true;
}

bool ServiceSettingsEditor::SaveSettings() {
  const std::optional<std::int32_t> accounting =
      StoredInterval(view_.Text(IDC_txtAccountingInterval), view_.Selection(IDC_cmbTimeScaleAccounting),
                     view_.Checked(IDC_chkEnableIntervalAccounting));
  const std::optional<std::int32_t> sampling =
      StoredInterval(view_.Text(IDC_txtSamplingInterval), view_.Selection(IDC_cmbTimeScaleSampling), true);
  if (!accounting || !sampling) {
    view_.ShowMessage(IntervalTooLargeText(accounting ? kSamplingIntervalName : kAccountingIntervalName), kServiceEditorTitle,
                      MessageIcon::Error, MessageButtons::Ok);
    return false;
  }
  const TimeOfDay time = view_.Time(IDC_dtpAccountingInterval);
  char timeText[16];
  std::snprintf(timeText, sizeof timeText, "%02d:%02d", static_cast<int>(time.Hour), static_cast<int>(time.Minute));

  const PendingValue values[] = {
      {setting::LogFilePath, WithoutTrailingBackslashes(view_.Text(IDC_txtLogFilePath))},
      {setting::LogFilePrefix, view_.Text(IDC_txtLogFilePrefix)},
      {setting::AccountingInterval, std::to_string(*accounting)},
      {setting::AccountingIntervalCommand, view_.Text(IDC_txtAccountingIntervalCommand)},
      {setting::AccountingIntervalTime, timeText},
      {setting::UseAccountingIntervalTime, YesNo(SelectedAccountingMode() == 1)},
      {setting::WriteIntervalEndRecords, YesNo(view_.Checked(IDC_chkWriteIntervalEndRecords))},
      {setting::UseLocalTime, YesNo(view_.Checked(IDC_chkUseLocalTime))},
      {setting::SamplingInterval, std::to_string(*sampling)},
  };
  return WriteAllOrNothing(store_, values);
}

void ServiceSettingsEditor::OnOk() {
  view_.SetStatus(kStatusSaving);
  if (ValidateSettings() && SaveSettings()) {
    OfferRestart();
    view_.Close();
    return;
  }
  view_.SetStatus("");
}

void ServiceSettingsEditor::OnApply() {
  view_.SetStatus(kStatusSaving);
  if (!ValidateSettings()) return;
  if (!SaveSettings()) {
    view_.SetStatus("");
    return;
  }
  view_.SetStatus(kStatusReady);
  view_.SetEnabled(IDC_btnApply, false);
  OfferRestart();
  view_.Focus(IDC_txtLogFilePath);
}

void ServiceSettingsEditor::CloseWithPrompt() {
  if (view_.Enabled(IDC_btnApply)) {
    const MessageAnswer answer = view_.ShowMessage(kSaveChangesPrompt, kSaveChangesCaption, MessageIcon::Question,
                                                   MessageButtons::YesNoCancel);
    if (answer == MessageAnswer::Cancel) return;
    // A refused or failed save keeps the form open with the changes.
    if (answer == MessageAnswer::Yes) {
      if (!(ValidateSettings() && SaveSettings())) return;
      OfferRestart();
    }
  }
  view_.Close();
}

void ServiceSettingsEditor::OfferRestart() {
  // The service reads its settings only when it starts.
  if (!service_.RefreshServiceStatus() || !service_.IsRunning()) return;
  const MessageAnswer answer =
      view_.ShowMessage(kRestartQuestion, kServiceEditorTitle, MessageIcon::Question, MessageButtons::YesNo);
  if (answer != MessageAnswer::Yes) {
    view_.SetStatus(kEffectiveAtNextStart);
    return;
  }
  RestartService(service_, view_);
}

std::string ServiceSettingsEditor::BrowseStartFolder() const { return view_.Text(IDC_txtLogFilePath); }


int ServiceSettingsEditor::SelectedAccountingMode() const {
  return view_.Checked(IDC_optWriteAccountingRecords1) ? 1 : 0;
}

void ServiceSettingsEditor::EnableAccountingControls() {
  view_.SetEnabled(IDC_btnApply, true);
  const bool enabled = view_.Checked(IDC_chkEnableIntervalAccounting);
  for (const int control : kAccountingControls) view_.SetEnabled(control, enabled);
  if (enabled) {
    view_.SetGreyBackground(IDC_txtAccountingIntervalCommand, false);
    SelectAccountingMode(SelectedAccountingMode());
  } else {
    for (const int control : {IDC_txtAccountingInterval, IDC_cmbTimeScaleAccounting, IDC_txtAccountingIntervalCommand}) {
      view_.SetGreyBackground(control, true);
    }
  }
}

void ServiceSettingsEditor::SelectAccountingMode(int index) {
  view_.SetEnabled(IDC_btnApply, true);
  const bool timeOfDay = index == 1;
  view_.SetChecked(IDC_optWriteAccountingRecords0, !timeOfDay);
  view_.SetChecked(IDC_optWriteAccountingRecords1, timeOfDay);
  for (const int control : {IDC_txtAccountingInterval, IDC_cmbTimeScaleAccounting}) {
    view_.SetEnabled(control, !timeOfDay);
    view_.SetGreyBackground(control, timeOfDay);
  }
  view_.SetEnabled(IDC_dtpAccountingInterval, timeOfDay);
}

void ServiceSettingsEditor::OnEdit() { view_.SetEnabled(IDC_btnApply, true); }



}  // namespace quax
