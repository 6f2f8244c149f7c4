// The Win32 side of the administration windows: a thin dialog class that
// owns its window and forwards messages to small virtual handlers, a layout
// that moves controls with the window's edges, and the FormView of a dialog.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "service_control_form.h"
#include "unique_handle.h"

namespace quax {

class Dialog {
 public:
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  HWND Window() const noexcept { return window_; }
  // A modeless dialog from the resource; false when it could not be made.
  bool Create(int resourceId, HWND owner);
  // A modal dialog from the resource; returns when it has ended.
  INT_PTR RunModal(int resourceId, HWND owner);
  // Ends the dialog (modal or not).
  void End(INT_PTR result);

 protected:
  Dialog() = default;

  virtual void OnInitDialog() {}
  // True when the command was handled.
  virtual bool OnCommand(int control, int code) = 0;
  virtual void OnNotify(const NMHDR& /*header*/) {}
  virtual void OnSize(int /*width*/, int /*height*/) {}
  // The system close box.
  virtual void OnClose() { End(IDCANCEL); }
  // A brush for a control's background, or null for the default.
  virtual HBRUSH OnControlColour(HWND /*control*/, HDC /*dc*/) { return nullptr; }
  virtual void OnDestroy() {}
  // Other messages; true (and *result) when handled.
  virtual bool OnMessage(UINT /*message*/, WPARAM /*w*/, LPARAM /*l*/, INT_PTR* /*result*/) { return false; }

  HWND Item(int control) const noexcept { return GetDlgItem(window_, control); }
  // The control that has the focus when the dialog opens (call from
  // OnInitDialog); by default the first one in the tab order.
  void SetInitialFocus(int control) noexcept { initialFocus_ = control; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM w, LPARAM l);
  INT_PTR Handle(UINT message, WPARAM w, LPARAM l);

  HWND window_ = nullptr;
  bool modal_ = false;
  int initialFocus_ = 0;
};

// Controls that follow the edges of their dialog: a control anchored left and
// right stretches with the width, one anchored right only moves with it.
enum Anchor : unsigned { kAnchorLeft = 1, kAnchorTop = 2, kAnchorRight = 4, kAnchorBottom = 8 };

class AnchorLayout {
 public:
  // Remembers the dialog's client size and the controls' places as laid out
  // in the resource; call from OnInitDialog.
  void Attach(HWND dialog);
  void Anchor(int control, unsigned anchors);
  void Apply(int width, int height) const;
  // The size the dialog was created with, as its smallest track size.
  void LimitTrackSize(MINMAXINFO& info) const;

 private:
  struct Placed {
    HWND Control;
    RECT Rect;
    unsigned Anchors;
  };
  HWND dialog_ = nullptr;
  SIZE client_{};
  SIZE window_{};
  std::vector<Placed> controls_;
};

// A dialog's controls as the forms' logic sees them. Grey backgrounds and the
// indicator colour are painted by the dialog through ControlBrush.
class DialogFormView : public ServiceControlView {
 public:
  explicit DialogFormView(HWND dialog = nullptr) noexcept : dialog_(dialog) {}
  void Attach(HWND dialog) noexcept { dialog_ = dialog; }

  std::string Text(int control) const override;
  void SetText(int control, std::string_view text) override;
  void SetTextLimit(int control, std::size_t characters) override;
  bool Checked(int control) const override;
  void SetChecked(int control, bool checked) override;
  void FillList(int control, std::span<const char* const> items) override;
  int Selection(int control) const override;
  void SetSelection(int control, int index) override;
  bool Enabled(int control) const override;
  void SetEnabled(int control, bool enabled) override;
  void SetGreyBackground(int control, bool grey) override;
  void Focus(int control) override;
  TimeOfDay Time(int control) const override;
  void SetTime(int control, TimeOfDay time) override;
  void SetStatus(std::string_view text) override;
  MessageAnswer ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                            MessageButtons buttons) override;
  void Beep() override;
  void Close() override;

  void SetIndicatorColour(std::uint32_t colorRef) override;
  void SetBusyCursor(bool busy) override;
  void Hide() override;
  bool RunProgram(const std::string& commandLine) override;
  std::optional<std::string> ExpandEnvironment(const std::string& text) override;

  // What Close and Hide do (end the dialog); set by the owner.
  void OnClose(std::function<void()> close) { close_ = std::move(close); }
  void OnHide(std::function<void()> hide) { hide_ = std::move(hide); }
  // The background brush of a control that has a colour of its own.
  HBRUSH ControlBrush(HWND control, HDC dc);
  bool Busy() const noexcept { return busy_; }

 private:
  HWND dialog_;
  std::set<int> grey_;
  std::optional<int> indicator_;
  COLORREF indicatorColour_ = 0;
  unique_gdi_object indicatorBrush_;
  bool busy_ = false;
  std::function<void()> close_;
  std::function<void()> hide_;
};

// Sends every character typed into the control to the filter first; a
// character it refuses never reaches the control.
void FilterTypedCharacters(HWND control, std::function<bool(int)>* filter);
// Runs the action when the key goes down in the control, instead of the
// control's own handling.
void CatchKey(HWND control, int virtualKey, std::function<void()>* action);

// A form: a dialog with its FormView, a status bar and controls anchored to
// its edges, never smaller than it was made, with the programs' icon; F1
// shows the help.
class FormDialog : public Dialog {
 protected:
  // Attaches the view, shows "Ready." in the status bar, and gives the
  // window the programs' icon. The form attaches its layout once its
  // controls have their places.
  void InitForm();
  void OnSize(int width, int height) override;
  HBRUSH OnControlColour(HWND control, HDC dc) override { return view_.ControlBrush(control, dc); }
  bool OnMessage(UINT message, WPARAM w, LPARAM l, INT_PTR* result) override;

  DialogFormView view_;
  AnchorLayout layout_;

 private:
  std::function<void()> showHelp_;  // F1 in any control
};

// Starts a program in a normal window; false when it could not be started.
bool StartProgram(const std::string& commandLine);
// Hides a control that fills a row of its own and closes the gap: the
// controls below move up by that many dialog units, the frame around it and
// the dialog shrink by as much. Call before the layout takes its places.
void CollapseRow(HWND dialog, int control, int dialogUnits);
// Centres a window on the screen's work area.
void CenterOnScreen(HWND window);
// Runs a program whose main window is a modeless dialog: common controls,
// an apartment for the shell's dialogs, then the message loop (Tab, Enter, Esc and access keys work
// in the dialog). Returns the exit code.
int RunMainDialog(Dialog& main, int resourceId, int show);
// Gives a window the programs' icon in its title bar and task bar button.
void SetProgramIcon(HWND window);
// Makes a status bar show one text part and sets it.
void InitStatusBar(HWND dialog, const char* text);

}  // namespace quax
