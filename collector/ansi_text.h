// UTF-16 text of the system (other processes' names, paths, environment) as
// the collectors' single-byte text: the system's ANSI code page.
#pragma once

#include <windows.h>

#include <cstddef>

#include "process_text.h"

namespace quax {

// Converts units (up to the first NUL) into dest with the code page (the
// system's ANSI code page by default), cut at a character boundary to
// capacity - 1 bytes and NUL-terminated. A character the code page lacks
// becomes its default character ("?"); none is replaced by a look-alike
// (a fullwidth backslash never becomes a backslash). Returns the length.
std::size_t ToAnsiText(char* dest, std::size_t capacity, Utf16Units units, UINT codePage = CP_ACP) noexcept;

template <std::size_t N>
std::size_t ToAnsiText(char (&dest)[N], Utf16Units units, UINT codePage = CP_ACP) noexcept {
  return ToAnsiText(dest, N, units, codePage);
}

}  // namespace quax
