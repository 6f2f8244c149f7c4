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


// The folder browser over the log path box; nothing when cancelled.
std::optional<std::string> BrowseForLogFolder(HWND owner, const std::string& startFolder);

}  // namespace quax
