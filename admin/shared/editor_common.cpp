#include "editor_common.h"

#include "control_ids.h"
#include "interval_text.h"

namespace quax {

bool IntervalBoxRules::OnKey(FormView& view, int characterCode) {
  if (IntervalKeyPasses(characterCode)) return true;
  view.Beep();
  return false;
}

void IntervalBoxRules::OnLeft(FormView& view, int box) {
  if (leaving_) return;
  leaving_ = true;
  const std::string text = view.Text(box);
  const std::string kept = LeftIntervalText(text);
  if (kept != text) view.SetText(box, kept);
  leaving_ = false;
}

void ShowChosenFolder(FormView& view, const std::optional<std::string>& folder) {
  if (!folder) return;
  view.SetText(IDC_txtLogFilePath, *folder);
  view.Focus(IDC_txtLogFilePath);
}

}  // namespace quax
