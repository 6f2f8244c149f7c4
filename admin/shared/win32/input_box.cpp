#include "input_box.h"

#include "control_ids.h"
#include "shell_components.h"

namespace quax {

void FInputBox::OnInitDialog() {
  SetWindowTextA(Window(), Title.empty() ? "Input Box" : Title.c_str());
  SetDlgItemTextA(Window(), IDC_lblPrompt, Prompt.c_str());
  const HWND box = Item(IDC_txtValue);
  if (MaxValueLength > 0) SendMessageA(box, EM_LIMITTEXT, static_cast<WPARAM>(MaxValueLength), 0);
  SetWindowTextA(box, Value.c_str());
  SendMessageA(box, EM_SETSEL, 0, -1);
  UserCancel = true;
  // F1 anywhere in the prompt shows the help.
  showHelp_ = [this] { ShowHelpOrWhyNot(Window()); };
  for (const int control : {IDC_txtValue, IDOK, IDCANCEL}) CatchKey(Item(control), VK_F1, &showHelp_);
  if (GetWindow(Window(), GW_OWNER) == nullptr) CenterOnScreen(Window());
}

bool FInputBox::OnCommand(int control, int /*code*/) {
  if (control != IDOK && control != IDCANCEL) return false;
  UserCancel = control == IDCANCEL;
  if (!UserCancel) {
    const HWND box = Item(IDC_txtValue);
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(box)) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(box, text.data(), static_cast<int>(text.size()))));
    Value = std::move(text);
  }
  End(control);
  return true;
}

bool FInputBox::OnMessage(UINT message, WPARAM /*w*/, LPARAM /*l*/, INT_PTR* result) {
  if (message != WM_HELP) return false;
  ShowHelpOrWhyNot(Window());
  *result = TRUE;
  return true;
}

}  // namespace quax
