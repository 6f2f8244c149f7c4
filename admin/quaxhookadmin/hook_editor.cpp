#include "hook_editor.h"

#include "appinit_list.h"
#include "control_ids.h"
#include "interval_text.h"

namespace quax {

namespace {

std::string MissingCollectorText(const std::string& path) {
  return std::string("Unable to locate the process collector file in the system path.\r\n\r\n"
                     "Process collection will not occur.\r\n\r\n"
                     "Path checked: '") +
         path + "'\r\n\r\nPlease ensure that " + kCollectorLibrary + " is copied to the System32 directory.";
}

}  // namespace

void HookSettingsEditor::Load() {
  view_.FillList(IDC_cmbTimeScaleAccounting, kTimeScaleNames);
  view_.SetSelection(IDC_cmbTimeScaleAccounting, kSeconds);
  LoadSettings();
  view_.SetEnabled(IDC_btnApply, false);
}

void HookSettingsEditor::LoadSettings() {
  view_.SetText(IDC_txtLogFilePath, ReadText(store_, setting::LogFilePath));
  view_.SetText(IDC_txtLogFilePrefix, ReadText(store_, setting::LogFilePrefix));

  const std::int64_t interval = ReadNumber(store_, setting::AccountingInterval, kMissingAccountingInterval);
  const bool enabled = interval >= 0;
  view_.SetChecked(IDC_chkEnableIntervalAccounting, enabled);
  const ShownInterval shown = ShowInterval(interval);
  view_.SetText(IDC_txtAccountingInterval, shown.Number);
  view_.SetSelection(IDC_cmbTimeScaleAccounting, shown.ScaleIndex);
  view_.SetEnabled(IDC_txtAccountingInterval, enabled);
  view_.SetEnabled(IDC_cmbTimeScaleAccounting, enabled);

  const bool registered = ListNamesCollector(ReadText(store_, setting::AppInitDlls));
  view_.SetChecked(IDC_chkAppInitDlls, registered);
  if (registered) CheckCollectorFile();

  // The in-process collector writes local time unless told otherwise.
  view_.SetChecked(IDC_chkUseLocalTime, ReadFlag(store_, setting::UseLocalTime, true));
}

void HookSettingsEditor::CheckCollectorFile() {
  const std::optional<std::string> systemRoot = system_.EnvironmentVariable("SystemRoot");
  std::string path;
  if (systemRoot) {
    path = *systemRoot + "\\System32\\" + kCollectorLibrary;
    if (system_.FileExists(path)) return;
  }
  view_.ShowMessage(MissingCollectorText(path), kMissingCollectorCaption, MessageIcon::Error, MessageButtons::Ok);
}

bool HookSettingsEditor::SaveSettings() {
  const std::optional<std::int32_t> accounting =
      StoredInterval(view_.Text(IDC_txtAccountingInterval), view_.Selection(IDC_cmbTimeScaleAccounting),
                     view_.Checked(IDC_chkEnableIntervalAccounting));
  if (!accounting) {
    view_.ShowMessage(IntervalTooLargeText(kAccountingIntervalName), kHookEditorTitle, MessageIcon::Error,
                      MessageButtons::Ok);
    view_.Focus(IDC_txtAccountingInterval);
    return false;
  }
  const bool registerCollector = view_.Checked(IDC_chkAppInitDlls);
  if (registerCollector) CheckCollectorFile();
  const PendingValue values[] = {
      {setting::LogFilePath, WithoutTrailingBackslashes(view_.Text(IDC_txtLogFilePath))},
      {setting::LogFilePrefix, view_.Text(IDC_txtLogFilePrefix)},
      {setting::AccountingInterval, std::to_string(*accounting)},
      {setting::AppInitDlls, RebuildAppInitList(ReadText(store_, setting::AppInitDlls), registerCollector)},
      {setting::UseLocalTime, view_.Checked(IDC_chkUseLocalTime) ? "Yes" : "No"},
  };
  return WriteAllOrNothing(store_, values);
}

void HookSettingsEditor::OnOk() {
  view_.SetStatus(kStatusSaving);
  const bool saved = SaveSettings();
  view_.SetStatus("");
  if (saved) view_.Close();
}

bool HookSettingsEditor::OnApply() {
  view_.SetStatus(kStatusSaving);
  if (!SaveSettings()) {
    view_.SetStatus("");
    return false;
  }
  view_.SetStatus(kStatusReady);
  view_.SetEnabled(IDC_btnApply, false);
  view_.Focus(IDC_txtLogFilePath);
  return true;
}

void HookSettingsEditor::OnCancel() {
  if (view_.Enabled(IDC_btnApply)) {
    const MessageAnswer answer =
        view_.ShowMessage(kSaveChangesPrompt, kSaveChangesCaption, MessageIcon::Question, MessageButtons::YesNo);
    // A failed save keeps the form open with the changes.
    if (answer == MessageAnswer::Yes && !OnApply()) return;
  }
  view_.Close();
}

std::string HookSettingsEditor::BrowseStartFolder() const { return view_.Text(IDC_txtLogFilePath); }


void HookSettingsEditor::OnEnableAccountingClicked() {
  view_.SetEnabled(IDC_btnApply, true);
  const bool enabled = view_.Checked(IDC_chkEnableIntervalAccounting);
  view_.SetEnabled(IDC_txtAccountingInterval, enabled);
  view_.SetEnabled(IDC_cmbTimeScaleAccounting, enabled);
}

void HookSettingsEditor::OnEdit() { view_.SetEnabled(IDC_btnApply, true); }



}  // namespace quax
