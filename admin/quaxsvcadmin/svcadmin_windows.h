// quaxsvcadmin's windows: the settings editor (FMain), the service control
// window (FServiceControl with CFServiceControl) and the about box (FAbout).
// Each forwards its events to the rules in service_editor.h and
// service_control_form.h.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "diagnostics.h"
#include "dialog.h"
#include "registry_store.h"
#include "service_control.h"
#include "service_control_form.h"
#include "service_editor.h"

namespace quax {

class FMain : public FormDialog {
 public:
  FMain() : editor_(view_, store_, system_, service_) { service_.SetServiceName(kServiceName); }

 protected:
  void OnInitDialog() override;
  bool OnCommand(int control, int code) override;
  void OnNotify(const NMHDR& header) override;
  void OnClose() override { editor_.CloseWithPrompt(); }
  void OnDestroy() override { PostQuitMessage(0); }

 private:
  void ShowServiceControl();
  void ShowAbout();

  RegistrySettingsStore store_;
  Win32AdminSystem system_;
  CServiceControl service_;
  ServiceSettingsEditor editor_;
  std::function<bool(int)> keyFilter_;
};

class FServiceControl : public FormDialog {
 public:
  FServiceControl() : form_(view_, service_, kServiceEditorTitle) {}
  void SetServiceName(std::string name);

 protected:
  void OnInitDialog() override;
  bool OnCommand(int control, int code) override;
  void OnClose() override { form_.OnClose(); }
  bool OnMessage(UINT message, WPARAM w, LPARAM l, INT_PTR* result) override;

 private:
  CServiceControl service_;
  ServiceControlForm form_;
  std::string serviceName_;
};

// Creates and shows the service control window for other code.
class CFServiceControl {
 public:
  CFServiceControl() : form_(std::make_unique<FServiceControl>()) {}
  ~CFServiceControl() { UnloadForm(); }
  void SetServiceName(std::string name) { form_->SetServiceName(std::move(name)); }
  // Mode 1 shows it modally: the owner waits until it is closed.
  void ShowForm(int mode, HWND owner);
  void UnloadForm() { form_->End(IDCANCEL); }

 private:
  std::unique_ptr<FServiceControl> form_;
};

class FAbout : public Dialog {
 protected:
  void OnInitDialog() override;
  bool OnCommand(int control, int code) override;
};

}  // namespace quax
