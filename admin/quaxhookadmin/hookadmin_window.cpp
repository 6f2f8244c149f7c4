#include "hookadmin_window.h"

#include <commctrl.h>

#include "control_ids.h"
#include "editor_window.h"

namespace quax {

namespace {

// The warning row of the registration frame, as laid out in the resource.
constexpr int kWarningRowUnits = 30;
constexpr COLORREF kWarningColour = RGB(160, 0, 0);

}  // namespace

void FMain::OnInitDialog() {
  InitForm();
  view_.OnClose([this] { End(IDOK); });
  keyFilter_ = [this](int character) { return editor_.OnIntervalKey(character); };
  FilterTypedCharacters(Item(IDC_txtAccountingInterval), &keyFilter_);

  editor_.Load();
  if (GetWindowTextLengthA(Item(IDC_lblAppInitWarning)) == 0) {
    CollapseRow(Window(), IDC_lblAppInitWarning, kWarningRowUnits);
    CenterOnScreen(Window());
  }
  layout_.Attach(Window());
  for (const int stretched : {IDC_fraRegistration, IDC_lblAppInitWarning, IDC_fraAccounting, IDC_fraLogFileOutput,
                              IDC_txtLogFilePath}) {
    layout_.Anchor(stretched, kAnchorLeft | kAnchorTop | kAnchorRight);
  }
  layout_.Anchor(IDC_btnLogFilePathBrowse, kAnchorTop | kAnchorRight);
  for (const int button : {IDC_btnOK, IDC_btnCancel, IDC_btnApply}) layout_.Anchor(button, kAnchorRight | kAnchorBottom);
}

bool FMain::OnCommand(int control, int code) {
  switch (control) {
    case IDC_btnOK:
      editor_.OnOk();
      return true;
    case IDC_btnCancel:
      editor_.OnCancel();
      return true;
    case IDC_btnApply:
      editor_.OnApply();
      return true;
    case IDC_btnLogFilePathBrowse:
      editor_.OnFolderChosen(BrowseForLogFolder(Window(), editor_.BrowseStartFolder()));
      return true;
    case IDC_chkEnableIntervalAccounting:
      if (code == BN_CLICKED) editor_.OnEnableAccountingClicked();
      return true;
    case IDC_chkAppInitDlls:
    case IDC_chkUseLocalTime:
      if (code == BN_CLICKED) editor_.OnEdit();
      return true;
    case IDC_cmbTimeScaleAccounting:
      if (code == CBN_SELCHANGE) editor_.OnEdit();
      return true;
    case IDC_txtAccountingInterval:
      if (code == EN_KILLFOCUS) editor_.OnIntervalBoxLeft(control);
      [[fallthrough]];
    case IDC_txtLogFilePath:
    case IDC_txtLogFilePrefix:
      if (code == EN_CHANGE) editor_.OnEdit();
      return true;
    default:
      return false;
  }
}

HBRUSH FMain::OnControlColour(HWND control, HDC dc) {
  if (control != Item(IDC_lblAppInitWarning)) return FormDialog::OnControlColour(control, dc);
  SetTextColor(dc, kWarningColour);
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return GetSysColorBrush(COLOR_BTNFACE);
}

}  // namespace quax
