#include "editor_window.h"

#include <commctrl.h>

#include "editor_common.h"
#include "shell_components.h"

namespace quax {

namespace {

LRESULT CALLBACK FilteredBoxProc(HWND box, UINT message, WPARAM w, LPARAM l, UINT_PTR /*id*/, DWORD_PTR data) {
  if (message == WM_CHAR) {
    auto* filter = reinterpret_cast<std::function<bool(int)>*>(data);
    try {
      if (!(*filter)(static_cast<int>(w))) return 0;
    } catch (...) {
      return 0;
    }
  }
  return DefSubclassProc(box, message, w, l);
}

}  // namespace

void FilterTypedCharacters(HWND box, std::function<bool(int)>* filter) {
  SetWindowSubclass(box, &FilteredBoxProc, 1, reinterpret_cast<DWORD_PTR>(filter));
}

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
