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

namespace quax {

namespace {

constexpr char kIntervalBelowOne[] = " cannot be less than 1 second.";

}  // namespace

void LimitTextBoxes(FormView& view, std::span<const TextSettingBox> boxes) {
  for (const TextSettingBox& box : boxes) view.SetTextLimit(box.Control, box.Limit);
}

std::string LongStoredTextWarning(std::string_view name, std::size_t length, std::size_t limit) {
  std::string text = "The stored " + std::string(name) + " is " + std::to_string(length) + " characters long. ";
  text += length >= kSettingTextSize
              ? "That is too long for the collectors to read: they run as if it were not set."
              : "The collectors use only its first " + std::to_string(limit) + " characters.";
  return text + " The box shows the whole value: shorten it to " + std::to_string(limit) +
         " characters before saving.";
}

void ShowLongStoredTexts(FormView& view, SettingsStore& store, std::span<const TextSettingBox> boxes,
                         const char* caption) {
  std::string warnings;
  for (const TextSettingBox& box : boxes) {
    const std::optional<std::string> stored = store.Read(box.Value);
    if (!stored || stored->size() <= box.Limit) continue;
    view.SetText(box.Control, *stored);
    if (!warnings.empty()) warnings += "\r\n\r\n";
    warnings += LongStoredTextWarning(box.Value.Name, stored->size(), box.Limit);
  }
  if (!warnings.empty()) view.ShowMessage(warnings, caption, MessageIcon::Warning, MessageButtons::Ok);
}

bool TextBoxesFit(FormView& view, std::span<const TextSettingBox> boxes, const char* caption) {
  for (const TextSettingBox& box : boxes) {
    const std::size_t length = view.Text(box.Control).size();
    if (length <= box.Limit) continue;
    view.ShowMessage(std::string(box.Label) + " is " + std::to_string(length) +
                         " characters long; the collectors use at most " + std::to_string(box.Limit) + ".",
                     caption, MessageIcon::Error, MessageButtons::Ok);
    view.Focus(box.Control);
    return false;
  }
  return true;
}

bool IsFullPath(std::string_view path) noexcept {
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 3 && path[1] == ':' && separator(path[2])) {
    const char drive = path[0];
    return (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
  }
  // \\server\share: a server name, a separator, a share name.
  if (path.size() < 5 || !separator(path[0]) || !separator(path[1]) || separator(path[2])) return false;
  const std::size_t shareStart = path.find_first_of("\\/", 2) + 1;
  return shareStart != 0 && shareStart < path.size() && !separator(path[shareStart]);
}

bool LogPathIsFullOrEmpty(FormView& view, const char* caption) {
  const std::string path = view.Text(IDC_txtLogFilePath);
  if (path.empty() || IsFullPath(path)) return true;
  view.ShowMessage("The log file path '" + path +
                       "' is not a full path (such as C:\\QUAX\\Logs). Give the whole path, or leave the box empty "
                       "for the default folder.",
                   caption, MessageIcon::Error, MessageButtons::Ok);
  view.Focus(IDC_txtLogFilePath);
  return false;
}

std::optional<std::int32_t> CheckedInterval(FormView& view, int box, int scaleList, const char* name,
                                            const char* caption) {
  const std::optional<std::int64_t> number = WholeNumber(view.Text(box));
  const std::optional<std::int32_t> seconds = IntervalSeconds(number.value_or(0), view.Selection(scaleList));
  if (!seconds) {
    view.ShowMessage(IntervalTooLargeText(name), caption, MessageIcon::Error, MessageButtons::Ok);
    view.Focus(box);
    return std::nullopt;
  }
  if (*seconds <= 0) {
    view.ShowMessage(std::string(name) + kIntervalBelowOne, caption, MessageIcon::Error, MessageButtons::Ok);
    view.SetText(box, LeftIntervalText(view.Text(box)));
    view.Focus(box);
    return std::nullopt;
  }
  return seconds;
}

std::string WithoutLineEnd(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  return std::string(text);
}

}  // namespace quax
