#include "dialog.h"

#include <commctrl.h>

#include <ole2.h>

#include <utility>

#include "control_ids.h"
#include "editor_common.h"
#include "shell_components.h"

namespace quax {

// ---- Dialog ----------------------------------------------------------------

Dialog::~Dialog() {
  if (window_ != nullptr && !modal_) DestroyWindow(window_);
}

bool Dialog::Create(int resourceId, HWND owner) {
  modal_ = false;
  return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resourceId), owner, &DialogProc,
                            reinterpret_cast<LPARAM>(this)) != nullptr;
}

INT_PTR Dialog::RunModal(int resourceId, HWND owner) {
  modal_ = true;
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resourceId), owner, &DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

void Dialog::End(INT_PTR result) {
  if (window_ == nullptr) return;
  if (modal_) {
    EndDialog(window_, result);
  } else {
    DestroyWindow(window_);
  }
}

INT_PTR CALLBACK Dialog::DialogProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  Dialog* dialog = nullptr;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<Dialog*>(l);
    dialog->window_ = window;
    SetWindowLongPtrA(window, DWLP_USER, l);
  } else {
    dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
  }
  if (dialog == nullptr) return FALSE;
  // Nothing thrown may cross into the window manager.
  try {
    return dialog->Handle(message, w, l);
  } catch (...) {
    MessageBeep(MB_ICONHAND);
    return FALSE;
  }
}

INT_PTR Dialog::Handle(UINT message, WPARAM w, LPARAM l) {
  INT_PTR result = 0;
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      if (initialFocus_ == 0) return TRUE;  // the system focuses the first control
      SendMessageA(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(initialFocus_)), TRUE);
      return FALSE;
    case WM_COMMAND:
      return OnCommand(LOWORD(w), HIWORD(w)) ? TRUE : FALSE;
    case WM_NOTIFY:
      OnNotify(*reinterpret_cast<const NMHDR*>(l));
      return FALSE;
    case WM_SIZE:
      OnSize(LOWORD(l), HIWORD(l));
      return FALSE;
    case WM_CLOSE:
      OnClose();
      return TRUE;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX:
      return reinterpret_cast<INT_PTR>(OnControlColour(reinterpret_cast<HWND>(l), reinterpret_cast<HDC>(w)));
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    case WM_NCDESTROY:
      window_ = nullptr;
      return FALSE;
    default:
      if (OnMessage(message, w, l, &result)) {
        SetWindowLongPtrA(window_, DWLP_MSGRESULT, result);
        return TRUE;
      }
      return FALSE;
  }
}

// ---- AnchorLayout ----------------------------------------------------------

void AnchorLayout::Attach(HWND dialog) {
  dialog_ = dialog;
  RECT client;
  GetClientRect(dialog, &client);
  client_ = {client.right, client.bottom};
  RECT frame;
  GetWindowRect(dialog, &frame);
  window_ = {frame.right - frame.left, frame.bottom - frame.top};
}

void AnchorLayout::Anchor(int control, unsigned anchors) {
  const HWND child = GetDlgItem(dialog_, control);
  if (child == nullptr) return;
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&rect), 2);
  controls_.push_back({child, rect, anchors});
}

void AnchorLayout::Apply(int width, int height) const {
  if (controls_.empty()) return;
  const LONG dx = width - client_.cx;
  const LONG dy = height - client_.cy;
  HDWP moves = BeginDeferWindowPos(static_cast<int>(controls_.size()));
  for (const Placed& placed : controls_) {
    RECT rect = placed.Rect;
    if (placed.Anchors & kAnchorRight) {
      rect.right += dx;
      if (!(placed.Anchors & kAnchorLeft)) rect.left += dx;
    }
    if (placed.Anchors & kAnchorBottom) {
      rect.bottom += dy;
      if (!(placed.Anchors & kAnchorTop)) rect.top += dy;
    }
    if (moves != nullptr) {
      moves = DeferWindowPos(moves, placed.Control, nullptr, rect.left, rect.top, rect.right - rect.left,
                             rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  if (moves != nullptr) EndDeferWindowPos(moves);
  InvalidateRect(dialog_, nullptr, TRUE);
}

void AnchorLayout::LimitTrackSize(MINMAXINFO& info) const {
  info.ptMinTrackSize = {window_.cx, window_.cy};
}

// ---- FormDialog ------------------------------------------------------------

void FormDialog::InitForm() {
  view_.Attach(Window());
  InitStatusBar(Window(), kStatusReady);
  SetProgramIcon(Window());
  showHelp_ = [this] { ShowHelpOrWhyNot(Window()); };
  for (HWND child = GetWindow(Window(), GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    CatchKey(child, VK_F1, &showHelp_);
  }
}

void FormDialog::OnSize(int width, int height) {
  layout_.Apply(width, height);
  SendDlgItemMessageA(Window(), IDC_StatusBar1, WM_SIZE, 0, 0);
}

bool FormDialog::OnMessage(UINT message, WPARAM /*w*/, LPARAM l, INT_PTR* result) {
  if (message != WM_GETMINMAXINFO) return false;
  layout_.LimitTrackSize(*reinterpret_cast<MINMAXINFO*>(l));
  *result = 0;
  return true;
}

// ---- DialogFormView --------------------------------------------------------

std::string DialogFormView::Text(int control) const {
  const HWND item = GetDlgItem(dialog_, control);
  const int length = GetWindowTextLengthA(item);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(item, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied < 0 ? 0 : copied));
  return text;
}

void DialogFormView::SetText(int control, std::string_view text) {
  const std::string terminated(text);
  const HWND item = GetDlgItem(dialog_, control);
  SetWindowTextA(item, terminated.c_str());
  SendMessageA(item, EM_SETSEL, terminated.size(), static_cast<LPARAM>(terminated.size()));
}

void DialogFormView::SetTextLimit(int control, std::size_t characters) {
  SendDlgItemMessageA(dialog_, control, EM_LIMITTEXT, characters, 0);
}

bool DialogFormView::Checked(int control) const { return IsDlgButtonChecked(dialog_, control) == BST_CHECKED; }

void DialogFormView::SetChecked(int control, bool checked) {
  CheckDlgButton(dialog_, control, checked ? BST_CHECKED : BST_UNCHECKED);
}

void DialogFormView::FillList(int control, std::span<const char* const> items) {
  const HWND list = GetDlgItem(dialog_, control);
  SendMessageA(list, CB_RESETCONTENT, 0, 0);
  for (const char* item : items) SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
}

int DialogFormView::Selection(int control) const {
  return static_cast<int>(SendDlgItemMessageA(dialog_, control, CB_GETCURSEL, 0, 0));
}

void DialogFormView::SetSelection(int control, int index) {
  SendDlgItemMessageA(dialog_, control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

bool DialogFormView::Enabled(int control) const { return IsWindowEnabled(GetDlgItem(dialog_, control)) != FALSE; }

void DialogFormView::SetEnabled(int control, bool enabled) { EnableWindow(GetDlgItem(dialog_, control), enabled); }

void DialogFormView::SetGreyBackground(int control, bool grey) {
  if (grey ? !grey_.insert(control).second : grey_.erase(control) == 0) return;
  InvalidateRect(GetDlgItem(dialog_, control), nullptr, TRUE);
}

void DialogFormView::Focus(int control) {
  const HWND item = GetDlgItem(dialog_, control);
  // A button is focused as the dialog manager does it, so that it also
  // becomes the one Enter presses.
  if ((SendMessageA(item, WM_GETDLGCODE, 0, 0) & DLGC_BUTTON) != 0) {
    SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item), TRUE);
  } else {
    SetFocus(item);
  }
}

TimeOfDay DialogFormView::Time(int control) const {
  SYSTEMTIME time{};
  if (SendDlgItemMessageA(dialog_, control, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&time)) != GDT_VALID) {
    return {};
  }
  return {time.wHour, time.wMinute};
}

void DialogFormView::SetTime(int control, TimeOfDay time) {
  SYSTEMTIME value{};
  GetLocalTime(&value);
  value.wHour = static_cast<WORD>(time.Hour);
  value.wMinute = static_cast<WORD>(time.Minute);
  value.wSecond = 0;
  value.wMilliseconds = 0;
  SendDlgItemMessageA(dialog_, control, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&value));
}

void DialogFormView::SetStatus(std::string_view text) {
  const std::string terminated(text);
  SendDlgItemMessageA(dialog_, IDC_StatusBar1, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(terminated.c_str()));
}

MessageAnswer DialogFormView::ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                                          MessageButtons buttons) {
  UINT style = icon == MessageIcon::Error      ? MB_ICONERROR
               : icon == MessageIcon::Warning  ? MB_ICONWARNING
               : icon == MessageIcon::Question ? MB_ICONQUESTION
                                               : MB_ICONINFORMATION;
  style |= buttons == MessageButtons::YesNo ? MB_YESNO : buttons == MessageButtons::YesNoCancel ? MB_YESNOCANCEL : MB_OK;
  const std::string body(text);
  const std::string title(caption);
  switch (MessageBoxA(dialog_, body.c_str(), title.c_str(), style)) {
    case IDYES:
      return MessageAnswer::Yes;
    case IDNO:
      return MessageAnswer::No;
    case IDCANCEL:
      return MessageAnswer::Cancel;
    default:
      return MessageAnswer::Ok;
  }
}

void DialogFormView::Beep() { MessageBeep(MB_OK); }

void DialogFormView::Close() {
  if (close_) close_();
}

void DialogFormView::SetIndicatorColour(std::uint32_t colorRef) {
  indicator_ = IDC_lblServiceStatusIndicator;
  indicatorColour_ = colorRef;
  indicatorBrush_.reset(CreateSolidBrush(indicatorColour_));
  InvalidateRect(GetDlgItem(dialog_, IDC_lblServiceStatusIndicator), nullptr, TRUE);
}

void DialogFormView::SetBusyCursor(bool busy) {
  busy_ = busy;
  SetCursor(LoadCursorA(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

void DialogFormView::Hide() {
  if (hide_) {
    hide_();
  } else {
    ShowWindow(dialog_, SW_HIDE);
  }
}

bool DialogFormView::RunProgram(const std::string& commandLine) { return StartProgram(commandLine); }

std::optional<std::string> DialogFormView::ExpandEnvironment(const std::string& text) {
  char expanded[1024];
  const DWORD length = ExpandEnvironmentStringsA(text.c_str(), expanded, sizeof expanded);
  if (length == 0 || length > sizeof expanded) return std::nullopt;
  return std::string(expanded);  // ends at the first NUL
}

HBRUSH DialogFormView::ControlBrush(HWND control, HDC dc) {
  const int id = GetDlgCtrlID(control);
  if (indicator_ && id == *indicator_ && indicatorBrush_) {
    SetBkColor(dc, indicatorColour_);
    return static_cast<HBRUSH>(indicatorBrush_.get());
  }
  if (grey_.count(id) != 0) {
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return GetSysColorBrush(COLOR_BTNFACE);
  }
  return nullptr;
}

// ---- Keys ------------------------------------------------------------------

namespace {

constexpr UINT_PTR kFilterSubclass = 1;
constexpr UINT_PTR kKeySubclassBase = 0x100;

LRESULT CALLBACK FilteredProc(HWND control, UINT message, WPARAM w, LPARAM l, UINT_PTR id, DWORD_PTR data) {
  if (message == WM_NCDESTROY) RemoveWindowSubclass(control, &FilteredProc, id);
  if (message == WM_CHAR) {
    try {
      if (!(*reinterpret_cast<std::function<bool(int)>*>(data))(static_cast<int>(w))) return 0;
    } catch (...) {
      return 0;
    }
  }
  return DefSubclassProc(control, message, w, l);
}

LRESULT CALLBACK CaughtKeyProc(HWND control, UINT message, WPARAM w, LPARAM l, UINT_PTR id, DWORD_PTR data) {
  if (message == WM_NCDESTROY) RemoveWindowSubclass(control, &CaughtKeyProc, id);
  if (message == WM_KEYDOWN && w == id - kKeySubclassBase) {
    try {
      (*reinterpret_cast<std::function<void()>*>(data))();
    } catch (...) {
      MessageBeep(MB_ICONHAND);
    }
    return 0;
  }
  return DefSubclassProc(control, message, w, l);
}

}  // namespace

void FilterTypedCharacters(HWND control, std::function<bool(int)>* filter) {
  SetWindowSubclass(control, &FilteredProc, kFilterSubclass, reinterpret_cast<DWORD_PTR>(filter));
}

void CatchKey(HWND control, int virtualKey, std::function<void()>* action) {
  SetWindowSubclass(control, &CaughtKeyProc, kKeySubclassBase + static_cast<UINT_PTR>(virtualKey),
                    reinterpret_cast<DWORD_PTR>(action));
}

// ---- Programs and placement ------------------------------------------------

bool StartProgram(const std::string& commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION started{};
  std::string mutableLine = commandLine;
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    return false;
  }
  unique_handle process(started.hProcess);
  unique_handle thread(started.hThread);
  return true;
}

void CollapseRow(HWND dialog, int control, int dialogUnits) {
  const HWND row = GetDlgItem(dialog, control);
  if (row == nullptr) return;
  RECT rowRect;
  GetWindowRect(row, &rowRect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rowRect), 2);
  RECT units{0, 0, 0, dialogUnits};
  MapDialogRect(dialog, &units);
  const LONG height = units.bottom;
  ShowWindow(row, SW_HIDE);
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (child == row) continue;
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    if (rect.top >= rowRect.bottom) {
      SetWindowPos(child, nullptr, rect.left, rect.top - height, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (rect.top <= rowRect.top && rect.bottom >= rowRect.bottom) {
      // The frame around it.
      SetWindowPos(child, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top - height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  RECT frame;
  GetWindowRect(dialog, &frame);
  SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top - height,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CenterOnScreen(HWND window) {
  RECT work;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  SetWindowPos(window, nullptr, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace quax

namespace quax {

int RunMainDialog(Dialog& main, int resourceId, int show) {
  const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_DATE_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  const HRESULT ole = OleInitialize(nullptr);
  int exitCode = 1;
  if (main.Create(resourceId, nullptr)) {
    ShowWindow(main.Window(), show);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      if (IsWindow(main.Window()) && IsDialogMessageA(main.Window(), &message)) continue;
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    exitCode = static_cast<int>(message.wParam);
  }
  if (SUCCEEDED(ole)) OleUninitialize();
  return exitCode;
}

void SetProgramIcon(HWND window) {
  const HINSTANCE program = GetModuleHandleA(nullptr);
  for (const auto& [size, which] : {std::pair{SM_CXICON, ICON_BIG}, std::pair{SM_CXSMICON, ICON_SMALL}}) {
    const int pixels = GetSystemMetrics(size);
    // Shared: the system frees it with the program.
    const HANDLE icon = LoadImageA(program, MAKEINTRESOURCEA(IDI_Admin), IMAGE_ICON, pixels, pixels, LR_SHARED);
    if (icon != nullptr) SendMessageA(window, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
  }
}

void InitStatusBar(HWND dialog, const char* text) {
  // One part across the whole bar; its text is also the bar's window text.
  int rightEdges[] = {-1};
  SendDlgItemMessageA(dialog, IDC_StatusBar1, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(rightEdges));
  SendDlgItemMessageA(dialog, IDC_StatusBar1, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text));
}

}  // namespace quax
