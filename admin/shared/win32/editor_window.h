// What both settings editors' windows share: the interval boxes that let only
// digits through, the folder browser for the log path, the layout of the
// common controls.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "dialog.h"

namespace quax {

// Sends every character typed into the box to the filter first; a character
// it refuses never reaches the box.
void FilterTypedCharacters(HWND box, std::function<bool(int)>* filter);

// The folder browser over the log path box; nothing when cancelled.
std::optional<std::string> BrowseForLogFolder(HWND owner, const std::string& startFolder);

}  // namespace quax
