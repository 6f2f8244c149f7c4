// quaxhookadmin's window (FMain): forwards its events to the rules in
// hook_editor.h.
#pragma once

#include <functional>

#include "dialog.h"
#include "hook_editor.h"
#include "registry_store.h"

namespace quax {

class FMain : public FormDialog {
 public:
  FMain() : editor_(view_, store_, system_) {}

 protected:
  void OnInitDialog() override;
  bool OnCommand(int control, int code) override;
  void OnClose() override { editor_.OnCancel(); }
  void OnDestroy() override { PostQuitMessage(0); }
  // The warning under the registration box in red.
  HBRUSH OnControlColour(HWND control, HDC dc) override;

 private:
  RegistrySettingsStore store_;
  Win32AdminSystem system_;
  HookSettingsEditor editor_;
  std::function<bool(int)> keyFilter_;
};

}  // namespace quax
