// The log folder as a 32-bit host on 64-bit Windows must name it. Windows
// sends such a process's <Windows>\System32 to SysWOW64, and names the real
// System32 <Windows>\Sysnative to it. Portable.
#pragma once

#include "fixed_text.h"

namespace quax {

// The Sysnative form of a path inside <windowsFolder>\System32, so that the
// 32-bit collector writes into the files the 64-bit ones write. False (and
// out untouched) for any other path, or when the result would not fit.
bool SysnativePath(const char* path, const char* windowsFolder, TextField& out) noexcept;

}  // namespace quax
