// The rules of quaxsvcadmin's main form: loading, checking and saving the
// collector service's settings, and the form's dirty state. The window only
// forwards its events here.
#pragma once

#include <optional>
#include <string>

#include "editor_common.h"

namespace quax {

inline constexpr char kServiceEditorTitle[] = "QUAX Windows Process Collector Configuration - Service";

class ServiceSettingsEditor {
 public:
  ServiceSettingsEditor(FormView& view, SettingsStore& store, AdminSystem& system) noexcept
      : view_(view), store_(store), system_(system) {}

  // Form load (after the single-instance check): unit lists, then the
  // settings.
  void Load();
  void LoadSettings();
  bool ValidateSettings();
  // Writes the nine settings of the form, all or none. False when an
  // interval does not fit or the registry refused a value (both reported).
  bool SaveSettings();

  void OnOk();
  void OnApply();
  // Cancel and "Exit": asks about unsaved changes, then closes.
  void CloseWithPrompt();
  // The folder the browser chose, or nothing when it was cancelled.
  void OnFolderChosen(const std::optional<std::string>& folder) { ShowChosenFolder(view_, folder); }
  void EnableAccountingControls();
  void SelectAccountingMode(int index);
  void OnEdit();
  // Whether a typed character reaches an interval box (else it beeped).
  bool OnIntervalKey(int characterCode) { return intervalBoxes_.OnKey(view_, characterCode); }
  void OnIntervalBoxLeft(int box) { intervalBoxes_.OnLeft(view_, box); }

  // The folder the browser starts in: the log path box (empty = current).
  std::string BrowseStartFolder() const;

 private:
  int SelectedAccountingMode() const;
  // Checks one interval box; false (reported, focused) when it is refused.
  std::optional<std::int32_t> CheckedInterval(int box, int scaleList, const char* name);
  void ShowNamedInterval(int box, int scaleList, std::int64_t seconds);

  FormView& view_;
  SettingsStore& store_;
  AdminSystem& system_;
  IntervalBoxRules intervalBoxes_;
};

}  // namespace quax
