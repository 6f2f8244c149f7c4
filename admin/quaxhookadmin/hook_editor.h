// The rules of quaxhookadmin's main form: the in-process collector's part of
// the collector settings and its registration in AppInit_DLLs. The window
// only forwards its events here.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "editor_common.h"

namespace quax {

inline constexpr char kHookEditorTitle[] = "QUAX Windows Process Collector Configuration - User32";
inline constexpr char kMissingCollectorCaption[] = "Missing Collector File";

class HookSettingsEditor {
 public:
  HookSettingsEditor(FormView& view, SettingsStore& store, AdminSystem& system) noexcept
      : view_(view), store_(store), system_(system) {}

  // Form load: the unit list, the settings, a clean form.
  void Load();
  void LoadSettings();
  // Writes the settings and the registration (in both registry views on
  // 64-bit Windows), all or none. False when a box holds what the
  // collector cannot use or the registry refused a value (both reported).
  bool SaveSettings();
  // Warns when the collector library is not in the System32 folder (nor,
  // on 64-bit Windows, in SysWOW64 for 32-bit processes).
  void CheckCollectorFile();

  void OnOk();
  // False when the save failed.
  bool OnApply();
  void OnCancel();
  void OnFolderChosen(const std::optional<std::string>& folder) { ShowChosenFolder(view_, folder); }
  void OnEnableAccountingClicked();
  void OnEdit();
  bool OnIntervalKey(int characterCode) { return intervalBoxes_.OnKey(view_, characterCode); }
  void OnIntervalBoxLeft(int box) { intervalBoxes_.OnLeft(view_, box); }

  std::string BrowseStartFolder() const;

 private:
  bool SecureBootOn();
  bool SignatureRequired();
  // AppInit_DLLs, LoadAppInit_DLLs and the mark of one view.
  void AddRegistration(std::vector<PendingValue>& values, RegistryView view, bool registerCollector);

  FormView& view_;
  SettingsStore& store_;
  AdminSystem& system_;
  IntervalBoxRules intervalBoxes_;
};

}  // namespace quax
