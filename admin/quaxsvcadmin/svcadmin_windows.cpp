#include "svcadmin_windows.h"

#include <commctrl.h>

#include "control_ids.h"
#include "diagnostics.h"
#include "editor_window.h"
#include "shell_components.h"
#include "win32/registry.h"

namespace quax {

namespace {

constexpr int kIntervalBoxes[] = {IDC_txtSamplingInterval, IDC_txtAccountingInterval};
constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";

bool IsEdit(int control) {
  switch (control) {
    case IDC_txtLogFilePath:
    case IDC_txtLogFilePrefix:
    case IDC_txtSamplingInterval:
    case IDC_txtAccountingInterval:
    case IDC_txtAccountingIntervalCommand:
      return true;
    default:
      return false;
  }
}

std::optional<std::string> MachineText(const std::string& subKey, const char* name) {
  CAdminRegValue value;
  value.SetSubKey(subKey);
  value.SetValueName(name);
  value.Refresh();
  if (const auto* text = std::get_if<std::string>(&value.Value())) return *text;
  return std::nullopt;
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string Expanded(const std::string& text) {
  char expanded[1024];
  const DWORD length = ExpandEnvironmentStringsA(text.c_str(), expanded, sizeof expanded);
  return length == 0 || length > sizeof expanded ? text : std::string(expanded);
}

}  // namespace

// ---- FMain -----------------------------------------------------------------

void FMain::OnInitDialog() {
  InitForm();
  view_.OnClose([this] { End(IDOK); });
  SendDlgItemMessageA(Window(), IDC_dtpAccountingInterval, DTM_SETFORMATA, 0, reinterpret_cast<LPARAM>("HH:mm"));
  keyFilter_ = [this](int character) { return editor_.OnIntervalKey(character); };
  for (const int box : kIntervalBoxes) FilterTypedCharacters(Item(box), &keyFilter_);
  layout_.Attach(Window());

  for (const int frame : {IDC_fraLogFileOutput, IDC_fraSampling, IDC_fraAccounting}) {
    layout_.Anchor(frame, kAnchorLeft | kAnchorTop | kAnchorRight);
  }
  for (const int stretched : {IDC_txtLogFilePath, IDC_txtAccountingIntervalCommand}) {
    layout_.Anchor(stretched, kAnchorLeft | kAnchorTop | kAnchorRight);
  }
  layout_.Anchor(IDC_btnLogFilePathBrowse, kAnchorTop | kAnchorRight);
  layout_.Anchor(IDC_btnServiceControl, kAnchorLeft | kAnchorBottom);
  for (const int button : {IDC_btnOK, IDC_btnCancel, IDC_btnApply}) layout_.Anchor(button, kAnchorRight | kAnchorBottom);

  editor_.Load();
}

bool FMain::OnCommand(int control, int code) {
  switch (control) {
    case IDC_btnOK:
      editor_.OnOk();
      return true;
    case IDC_btnCancel:
    case IDM_FileExit:
      editor_.CloseWithPrompt();
      return true;
    case IDC_btnApply:
      editor_.OnApply();
      return true;
    case IDC_btnLogFilePathBrowse:
      editor_.OnFolderChosen(BrowseForLogFolder(Window(), editor_.BrowseStartFolder()));
      return true;
    case IDC_btnServiceControl:
      ShowServiceControl();
      return true;
    case IDM_HelpAbout:
      ShowAbout();
      return true;
    case IDM_HelpTopics:
      ShowHelpOrWhyNot(Window());
      return true;
    case IDC_chkEnableIntervalAccounting:
      if (code == BN_CLICKED) editor_.EnableAccountingControls();
      return true;
    case IDC_optWriteAccountingRecords0:
    case IDC_optWriteAccountingRecords1:
      if (code == BN_CLICKED) editor_.SelectAccountingMode(control == IDC_optWriteAccountingRecords1 ? 1 : 0);
      return true;
    case IDC_chkUseLocalTime:
    case IDC_chkWriteIntervalEndRecords:
      if (code == BN_CLICKED) editor_.OnEdit();
      return true;
    case IDC_cmbTimeScaleSampling:
    case IDC_cmbTimeScaleAccounting:
      if (code == CBN_SELCHANGE) editor_.OnEdit();
      return true;
    default:
      break;
  }
  if (!IsEdit(control)) return false;
  if (code == EN_CHANGE) editor_.OnEdit();
  if (code == EN_KILLFOCUS && (control == IDC_txtSamplingInterval || control == IDC_txtAccountingInterval)) {
    editor_.OnIntervalBoxLeft(control);
  }
  return true;
}

void FMain::OnNotify(const NMHDR& header) {
  if (header.idFrom == IDC_dtpAccountingInterval && header.code == DTN_DATETIMECHANGE) editor_.OnEdit();
}

void FMain::ShowServiceControl() {
  CFServiceControl control;
  control.SetServiceName(kServiceName);
  control.ShowForm(1, Window());
}

void FMain::ShowAbout() {
  FAbout about;
  about.RunModal(IDD_FAbout, Window());
}

// ---- FServiceControl ---------------------------------------------------------

void FServiceControl::SetServiceName(std::string name) {
  serviceName_ = std::move(name);
  // Before the window exists the name is passed on when it is created.
  if (Window() != nullptr) form_.SetServiceName(serviceName_);
}

void FServiceControl::OnInitDialog() {
  InitForm();
  // Not the check box: a stray Space would change the start type.
  SetInitialFocus(IDC_btnClose);
  view_.OnHide([this] { End(IDCANCEL); });
  CenterOnScreen(Window());
  layout_.Attach(Window());
  for (const int label : {IDC_lblServiceName, IDC_lblServiceStatus, IDC_lblServicePath}) {
    layout_.Anchor(label, kAnchorLeft | kAnchorTop | kAnchorRight);
  }
  layout_.Anchor(IDC_btnClose, kAnchorRight | kAnchorTop);
  if (!serviceName_.empty()) form_.SetServiceName(serviceName_);
}

bool FServiceControl::OnCommand(int control, int code) {
  switch (control) {
    case IDC_btnServiceStart:
      form_.OnStart();
      return true;
    case IDC_btnServiceStop:
      form_.OnStop();
      return true;
    case IDC_btnClose:
      form_.OnClose();
      return true;
    case IDC_chkAutoStart:
      if (code == BN_CLICKED) form_.OnAutoStartClicked();
      return true;
    case IDM_mnuViewRefresh:
      form_.RefreshDisplay();
      return true;
    case IDM_mnuViewWinEventViewer:
      form_.OnEventViewer();
      return true;
    case IDM_mnuViewServicesMgr: {
      const COpSysInfo os;
      form_.OnServicesManager(os.IsWinNT() && os.MajorVersion() < 5);
      return true;
    }
    default:
      return false;
  }
}

bool FServiceControl::OnMessage(UINT message, WPARAM w, LPARAM l, INT_PTR* result) {
  if (message == WM_SETCURSOR && view_.Busy()) {
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    *result = TRUE;
    return true;
  }
  return FormDialog::OnMessage(message, w, l, result);
}

void CFServiceControl::ShowForm(int mode, HWND owner) {
  if (mode == 1) {
    form_->RunModal(IDD_FServiceControl, owner);
  } else if (form_->Window() != nullptr || form_->Create(IDD_FServiceControl, owner)) {
    ShowWindow(form_->Window(), SW_SHOWNORMAL);
  }
}

// ---- FAbout ------------------------------------------------------------------

void FAbout::OnInitDialog() {
  const std::string& title = ProgramTitle();
  SetWindowTextA(Window(), ("About " + title).c_str());
  SetDlgItemTextA(Window(), IDC_lblTitle, title.c_str());
  SendDlgItemMessageA(Window(), IDC_picIcon, STM_SETICON,
                      reinterpret_cast<WPARAM>(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_Admin))), 0);

  CVerInfo program;
  program.SetFilename(ProgramFile());
  SetDlgItemTextA(Window(), IDC_lblVersion,
                  GuiVersionText(program.FileVersionNumbers().value_or(FileVersion{})).c_str());

  const std::optional<std::string> imagePath =
      MachineText(std::string(kServicesKey) + kServiceName, "ImagePath");
  std::optional<FileVersion> serviceVersion;
  if (imagePath) {
    CVerInfo service;
    service.SetFilename(ServiceProgramPath(Expanded(*imagePath)));
    serviceVersion = service.FileVersionNumbers();
  }
  SetDlgItemTextA(Window(), IDC_lblServiceVersion, ServiceVersionText(imagePath.has_value(), serviceVersion).c_str());

  SetDlgItemTextA(Window(), IDC_lblDescription,
                  AboutDescriptionText(program.StringValue("FileDescription"), FolderOf(ProgramFile()), CurrentFolder())
                      .c_str());
  SetDlgItemTextA(Window(), IDC_lblOperatingSystem, AboutOperatingSystemText(COpSysInfo().Details()).c_str());
  SetDlgItemTextA(Window(), IDC_lblDisclaimer,
                  AboutDisclaimerText(program.StringValue("LegalCopyright"), program.StringValue("LegalTrademarks"))
                      .c_str());
}

bool FAbout::OnCommand(int control, int /*code*/) {
  if (control == IDCANCEL) {
    End(IDCANCEL);
    return true;
  }
  if (control != IDC_btnSysInfo) return false;
  const std::optional<std::string> program =
      SystemInfoProgram(MachineText("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH"),
                        MachineText("SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO"), &FileExists);
  if (!program || !StartProgram("\"" + *program + "\"")) {
    MessageBoxA(Window(), kSystemInfoUnavailable, ProgramTitle().c_str(), MB_OK);
  }
  return true;
}

}  // namespace quax
