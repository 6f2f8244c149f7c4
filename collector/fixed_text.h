// Bounded text in the fixed buffers of the collector (259 characters and a
// terminating NUL for names, paths, prefixes and extensions). Nothing is ever
// written past a buffer: over-long text is cut.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace quax {

inline constexpr std::size_t kTextFieldSize = 260;
using TextField = char[kTextFieldSize];

// Copies src (null counts as empty) into dest, cut to capacity - 1 bytes.
// Returns the number of bytes written, terminating NUL included.
std::size_t CopyText(char* dest, std::size_t capacity, const char* src) noexcept;

template <std::size_t N>
std::size_t CopyText(char (&dest)[N], const char* src) noexcept {
  return CopyText(dest, N, src);
}

// printf into dest, cut to capacity - 1 bytes. Returns the length written
// (without the NUL).
std::size_t FormatText(char* dest, std::size_t capacity, const char* format, ...) noexcept
    __attribute__((format(printf, 3, 4)));
std::size_t FormatTextV(char* dest, std::size_t capacity, const char* format, va_list args) noexcept;

// Case-insensitive comparison of ASCII letters over the first count bytes.
bool EqualsIgnoreCase(const char* a, const char* b, std::size_t count) noexcept;
bool EqualsIgnoreCase(const char* a, const char* b) noexcept;

}  // namespace quax
