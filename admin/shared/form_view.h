// What the administration forms' logic sees of a window: its controls by
// identifier, the status bar and message boxes. The Win32 dialogs implement
// it over real controls; the tests implement it over plain data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "settings_text.h"

namespace quax {

enum class MessageIcon { Error, Warning, Question, Information };
enum class MessageButtons { Ok, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Yes, No, Cancel };

class FormView {
 public:
  virtual ~FormView() = default;

  // Text boxes and labels; setting a text puts the caret after its end.
  virtual std::string Text(int control) const = 0;
  virtual void SetText(int control, std::string_view text) = 0;
  // How many characters can be typed into a box (a text set by the program
  // may be longer).
  virtual void SetTextLimit(int control, std::size_t characters) = 0;
  // Check boxes and option buttons.
  virtual bool Checked(int control) const = 0;
  virtual void SetChecked(int control, bool checked) = 0;
  // Drop-down lists.
  virtual void FillList(int control, std::span<const char* const> items) = 0;
  virtual int Selection(int control) const = 0;
  virtual void SetSelection(int control, int index) = 0;
  // Any control.
  virtual bool Enabled(int control) const = 0;
  virtual void SetEnabled(int control, bool enabled) = 0;
  // Grey (button-face) or window background of a box or list.
  virtual void SetGreyBackground(int control, bool grey) = 0;
  virtual void Focus(int control) = 0;
  // The time picker (hours and minutes).
  virtual TimeOfDay Time(int control) const = 0;
  virtual void SetTime(int control, TimeOfDay time) = 0;

  virtual void SetStatus(std::string_view text) = 0;
  virtual MessageAnswer ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                                    MessageButtons buttons) = 0;
  virtual void Beep() = 0;
  // Ends the form (and with the main form, the program).
  virtual void Close() = 0;
};

}  // namespace quax
