// Drives the administration programs' windows from another process the way a
// person would: finds windows by their exact titles, types into boxes, clicks
// buttons, check boxes and options by control id, answers message boxes, and
// takes screenshots into the folder named by QUAX_SCREENSHOTS.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "settings_text.h"
#include "unique_handle.h"

namespace quax::test {

// A started program; ended (if still running) when destroyed.
class RunningProgram {
 public:
  explicit RunningProgram(const std::string& commandLine);
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  DWORD ProcessId() const noexcept { return processId_; }
  // The exit code once it has ended, or STILL_ACTIVE after the time-out.
  DWORD WaitForExit(DWORD milliseconds) const;

 private:
  unique_handle process_;
  DWORD processId_ = 0;
};

// The path of a program beside the test binary, quoted.
std::string ProgramBeside(const char* fileName);

// A visible top-level window of the process with exactly this title, other
// than `except` (a message box titled like its form); null after the
// time-out. processId 0 matches any process.
HWND WaitForWindow(const std::string& title, DWORD processId, DWORD milliseconds = 10000, HWND except = nullptr);
// Waits until the window is gone (closed or hidden).
bool WaitUntilGone(HWND window, DWORD milliseconds = 10000);
// How many visible top-level windows have this title.
int CountWindows(const std::string& title);

// The text of a message box (its static text).
std::string MessageBoxText(HWND box);
// Clicks a button of a message box or dialog: IDOK, IDYES, IDNO, IDCANCEL...
void Click(HWND dialog, int control);
// The caller waits for a condition the click brings about.
bool WaitFor(const std::function<bool()>& condition, DWORD milliseconds = 10000);

std::string Text(HWND dialog, int control);
void Type(HWND dialog, int control, const std::string& text);
// Sends one typed character to a box.
void TypeCharacter(HWND dialog, int control, char character);
bool Checked(HWND dialog, int control);
bool Enabled(HWND dialog, int control);
// Selects a list entry as a person would (the form is told of the change).
void Select(HWND dialog, int control, int index);
int Selection(HWND dialog, int control);
std::string SelectedText(HWND dialog, int control);
// A key pressed in a control (Enter, Esc, Tab reach the dialog's keyboard
// handling as typed keys would).
void PressKey(HWND dialog, int control, int virtualKey);
// A menu command of the window.
void ChooseMenu(HWND window, int command);
// The control of the window's thread that has the keyboard focus; null when
// none has.
HWND FocusedControl(HWND window);
// The text of the window's status bar.
std::string StatusText(HWND dialog, int statusBar);

// Saves what the window shows as <name>.bmp in the screenshot folder.
void Screenshot(HWND window, const std::string& name);

// Registry values of HKEY_LOCAL_MACHINE as text; "<missing>" when absent.
std::string MachineValue(const char* subKey, const char* name);
void SetMachineValue(const char* subKey, const char* name, const std::string& text);
// A REG_DWORD of HKEY_LOCAL_MACHINE; -1 when absent or of another type.
long long MachineNumber(const char* subKey, const char* name);
void SetMachineNumber(const char* subKey, const char* name, DWORD number);
void DeleteMachineValue(const char* subKey, const char* name);
void DeleteMachineTree(const char* subKey);

// Every setting a collector reads from the settings key, in words, read by
// the collector's own settings reader: equal texts mean it runs alike.
std::string CollectorReads(SettingsReader reader);

}  // namespace quax::test
