// A modal one-line prompt ("Input Box").
#pragma once

#include <functional>
#include <string>

#include "control_ids.h"
#include "dialog.h"

namespace quax {

class FInputBox : public Dialog {
 public:
  std::string Prompt;
  std::string Title;
  std::string Value;
  int MaxValueLength = 0;  // 0: no limit beyond the edit control's own
  bool UserCancel = true;

 protected:
  void OnInitDialog() override;
  bool OnCommand(int control, int code) override;
  bool OnMessage(UINT message, WPARAM w, LPARAM l, INT_PTR* result) override;

 private:
  std::function<void()> showHelp_;
};

class CFInputBox {
 public:
  void SetPrompt(std::string prompt) { form_.Prompt = std::move(prompt); }
  void SetTitle(std::string title) { form_.Title = std::move(title); }
  const std::string& Value() const noexcept { return form_.Value; }
  // Shown fully selected when the prompt opens.
  void SetValue(std::string value) { form_.Value = std::move(value); }
  void SetMaxValueLength(int length) noexcept { form_.MaxValueLength = length; }
  bool UserCancel() const noexcept { return form_.UserCancel; }
  void ShowForm(HWND owner) { form_.RunModal(IDD_FInputBox, owner); }
  void UnloadForm() { form_.End(IDCANCEL); }

 private:
  FInputBox form_;
};

}  // namespace quax
