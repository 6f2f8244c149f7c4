#include "fixed_text.h"

#include <cstdio>
#include <cstring>

namespace quax {

std::size_t CopyText(char* dest, std::size_t capacity, const char* src) noexcept {
  if (capacity == 0) return 0;
  std::size_t length = src ? strnlen(src, capacity - 1) : 0;
  std::memcpy(dest, src ? src : "", length);
  dest[length] = '\0';
  return length + 1;
}

std::size_t FormatTextV(char* dest, std::size_t capacity, const char* format, va_list args) noexcept {
  if (capacity == 0) return 0;
  const int wanted = std::vsnprintf(dest, capacity, format, args);
  if (wanted < 0) {
    dest[0] = '\0';
    return 0;
  }
  const auto length = static_cast<std::size_t>(wanted);
  return length < capacity ? length : capacity - 1;
}

std::size_t FormatText(char* dest, std::size_t capacity, const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  const std::size_t length = FormatTextV(dest, capacity, format, args);
  va_end(args);
  return length;
}

namespace {
char LowerAscii(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool EqualsIgnoreCase(const char* a, const char* b, std::size_t count) noexcept {
  for (std::size_t i = 0; i < count; ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    if (a[i] == '\0') return true;
  }
  return true;
}

bool EqualsIgnoreCase(const char* a, const char* b) noexcept {
  return EqualsIgnoreCase(a, b, static_cast<std::size_t>(-1));
}

}  // namespace quax
