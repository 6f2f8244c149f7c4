#include "editor_window.h"

#include "editor_common.h"
#include "shell_components.h"

namespace quax {

std::optional<std::string> BrowseForLogFolder(HWND owner, const std::string& startFolder) {
  CDlgBrowseForFolder browser;
  browser.SetDialogTitle(kBrowseLogFolderTitle);
  browser.SetInitDir(startFolder.empty() ? CurrentFolder() : startFolder);
  browser.SetWindowHandle(owner);
  browser.ShowBrowseForFolder();
  if (browser.FolderName().empty()) return std::nullopt;
  return browser.FolderName();
}

}  // namespace quax
