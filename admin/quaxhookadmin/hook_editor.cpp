#include "hook_editor.h"

#include <vector>

#include "appinit_list.h"
#include "control_ids.h"
#include "interval_text.h"

namespace quax {

namespace {

const TextSettingBox kTextBoxes[] = {
    {IDC_txtLogFilePath, setting::LogFilePath, kTextSettingLimit, "The log file path"},
    {IDC_txtLogFilePrefix, setting::LogFilePrefix, kTextSettingLimit, "The log file prefix"},
};

std::string MissingCollectorText(const std::string& path, const char* folderName) {
  return std::string("Unable to locate the process collector file in the system path.\r\n\r\n"
                     "Process collection will not occur.\r\n\r\n"
                     "Path checked: '") +
         path + "'\r\n\r\nPlease ensure that " + kCollectorLibrary + " is copied to the " + folderName +
         " directory.";
}

// Where the quaxhookadmin of each view keeps its mark of having turned
// LoadAppInit_DLLs on.
const RegistryValueRef& TurnedOnMark(RegistryView view) {
  return view == RegistryView::Wow32 ? setting::TurnedOnLoadAppInitDlls32 : setting::TurnedOnLoadAppInitDlls;
}

}  // namespace

void HookSettingsEditor::Load() {
  view_.FillList(IDC_cmbTimeScaleAccounting, kTimeScaleNames);
  view_.SetSelection(IDC_cmbTimeScaleAccounting, kSeconds);
  LimitTextBoxes(view_, kTextBoxes);
  view_.SetTextLimit(IDC_txtAccountingInterval, kIntervalDigits);
  LoadSettings();
  view_.SetEnabled(IDC_btnApply, false);
}

void HookSettingsEditor::LoadSettings() {
  // What the in-process collector will run with: the form shows it, and
  // saving it unchanged changes nothing the collector does.
  CollectorSettings settings;
  LoadCollectorSettings(store_, SettingsReader::InProcess, settings);
  view_.SetText(IDC_txtLogFilePath, settings.LogFilePath);
  view_.SetText(IDC_txtLogFilePrefix, UsableLogFilePrefix(settings.LogFilePrefix));

  const bool enabled = settings.AccountingInterval > 0;
  view_.SetChecked(IDC_chkEnableIntervalAccounting, enabled);
  const ShownInterval shown = ShowInterval(settings.AccountingInterval);
  view_.SetText(IDC_txtAccountingInterval, shown.Number);
  view_.SetSelection(IDC_cmbTimeScaleAccounting, shown.ScaleIndex);
  view_.SetEnabled(IDC_txtAccountingInterval, enabled);
  view_.SetEnabled(IDC_cmbTimeScaleAccounting, enabled);

  // Registered when either view lists it; saving completes it in both.
  bool registered = ListNamesCollector(ReadText(store_, setting::AppInitDlls));
  if (store_.HasWow32View()) {
    registered = registered || ListNamesCollector(ReadText(store_, InView(setting::AppInitDlls, RegistryView::Wow32)));
  }
  view_.SetChecked(IDC_chkAppInitDlls, registered);
  view_.SetText(IDC_lblAppInitWarning, AppInitBlockedText(SecureBootOn(), SignatureRequired()));
  if (registered) CheckCollectorFile();

  view_.SetChecked(IDC_chkUseLocalTime, settings.UseLocalTime);
  ShowLongStoredTexts(view_, store_, kTextBoxes, kHookEditorTitle);
}

bool HookSettingsEditor::SecureBootOn() {
  const std::optional<RegistryData> state = store_.ReadData(setting::SecureBootEnabled);
  return state && DataNumber(*state).value_or(0) != 0;
}

bool HookSettingsEditor::SignatureRequired() {
  const auto required = [this](RegistryView view) {
    const std::optional<RegistryData> value = store_.ReadData(InView(setting::RequireSignedAppInitDlls, view));
    return value && DataNumber(*value).value_or(0) != 0;
  };
  return required(RegistryView::Main) || (store_.HasWow32View() && required(RegistryView::Wow32));
}

void HookSettingsEditor::CheckCollectorFile() {
  const std::optional<std::string> systemRoot = system_.EnvironmentVariable("SystemRoot");
  // 32-bit processes of 64-bit Windows load it from SysWOW64.
  std::vector<const char*> folders = {"System32"};
  if (store_.HasWow32View()) folders.push_back("SysWOW64");
  for (const char* folder : folders) {
    std::string path;
    if (systemRoot) {
      path = *systemRoot + "\\" + folder + "\\" + kCollectorLibrary;
      if (system_.FileExists(path)) continue;
    }
    view_.ShowMessage(MissingCollectorText(path, folder), kMissingCollectorCaption, MessageIcon::Error,
                      MessageButtons::Ok);
    return;
  }
}

void HookSettingsEditor::AddRegistration(std::vector<PendingValue>& values, RegistryView view,
                                         bool registerCollector) {
  const RegistryValueRef list = InView(setting::AppInitDlls, view);
  const RegistryValueRef loading = InView(setting::LoadAppInitDlls, view);
  const std::optional<RegistryData> loadingNow = store_.ReadData(loading);
  const AppInitState now{ReadText(store_, list), loadingNow && DataNumber(*loadingNow) == 1u,
                         ParseYesFlag(ReadText(store_, TurnedOnMark(view)).c_str())};
  const AppInitChange change = PlanAppInitChange(now, registerCollector);
  values.emplace_back(list, change.List);
  if (change.Loading) values.emplace_back(loading, RegistryData::Number(*change.Loading ? 1 : 0));
  if (change.Ours) {
    values.emplace_back(TurnedOnMark(view),
                        *change.Ours ? std::optional<RegistryData>(RegistryData::Text("Yes")) : std::nullopt);
  }
}

bool HookSettingsEditor::SaveSettings() {
  if (!TextBoxesFit(view_, kTextBoxes, kHookEditorTitle) || !LogPathIsFullOrEmpty(view_, kHookEditorTitle)) {
    return false;
  }
  const bool accounting = view_.Checked(IDC_chkEnableIntervalAccounting);
  // Enter saves without leaving the box: its rule is applied here too.
  if (accounting && !CheckedInterval(view_, IDC_txtAccountingInterval, IDC_cmbTimeScaleAccounting,
                                     kAccountingIntervalName, kHookEditorTitle)) {
    return false;
  }
  const std::optional<std::int32_t> interval = StoredInterval(
      view_.Text(IDC_txtAccountingInterval), view_.Selection(IDC_cmbTimeScaleAccounting), accounting);
  if (!interval) {
    view_.ShowMessage(IntervalTooLargeText(kAccountingIntervalName), kHookEditorTitle, MessageIcon::Error,
                      MessageButtons::Ok);
    view_.Focus(IDC_txtAccountingInterval);
    return false;
  }
  const bool registerCollector = view_.Checked(IDC_chkAppInitDlls);
  if (registerCollector) CheckCollectorFile();
  std::vector<PendingValue> values = {
      {setting::LogFilePath, WithoutTrailingBackslashes(view_.Text(IDC_txtLogFilePath))},
      {setting::LogFilePrefix, view_.Text(IDC_txtLogFilePrefix)},
      {setting::AccountingInterval, std::to_string(*interval)},
  };
  AddRegistration(values, RegistryView::Main, registerCollector);
  if (store_.HasWow32View()) AddRegistration(values, RegistryView::Wow32, registerCollector);
  values.emplace_back(setting::UseLocalTime, std::string(view_.Checked(IDC_chkUseLocalTime) ? "Yes" : "No"));
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
