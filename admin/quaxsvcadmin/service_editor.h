// The rules of quaxsvcadmin's main form: loading, checking and saving the
// collector service's settings, and the form's dirty state. The window only
// forwards its events here.
#pragma once

#include <optional>
#include <string>

#include "editor_common.h"
#include "service_manager.h"

namespace quax {

inline constexpr char kServiceEditorTitle[] = "QUAX Windows Process Collector Configuration - Service";

class ServiceSettingsEditor {
 public:
  // `service` is the collector service, offered for a restart after a save.
  ServiceSettingsEditor(FormView& view, SettingsStore& store, AdminSystem& system, ServiceManager& service) noexcept
      : view_(view), store_(store), system_(system), service_(service) {}

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
  // After a save: a running service is offered a restart, since it reads
  // its settings only when it starts.
  void OfferRestart();
  void ShowNamedInterval(int box, int scaleList, std::int64_t seconds);

  FormView& view_;
  SettingsStore& store_;
  AdminSystem& system_;
  ServiceManager& service_;
  IntervalBoxRules intervalBoxes_;
};

}  // namespace quax
