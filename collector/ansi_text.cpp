#include "ansi_text.h"

#include <algorithm>
#include <climits>

namespace quax {

static_assert(sizeof(wchar_t) == sizeof(std::uint16_t), "Windows text is UTF-16");

namespace {

// Bytes the first `count` units take in the code page, or 0 when they
// cannot be converted.
std::size_t ConvertedLength(UINT codePage, DWORD flags, const std::uint16_t* units, std::size_t count) noexcept {
  const int length = WideCharToMultiByte(codePage, flags, reinterpret_cast<const wchar_t*>(units),
                                         static_cast<int>(count), nullptr, 0, nullptr, nullptr);
  return length > 0 ? static_cast<std::size_t>(length) : 0;
}

bool IsHighSurrogate(std::uint16_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDBFF; }

}  // namespace

std::size_t ToAnsiText(char* dest, std::size_t capacity, Utf16Units units, UINT codePage) noexcept {
  if (capacity == 0) return 0;
  units = UntilNul(units);
  if (units.size() > INT_MAX) units = units.first(INT_MAX);
  const UINT resolved = codePage == CP_ACP ? GetACP() : codePage;
  // UTF-8 and UTF-7 take no flags; every other code page is asked for exact
  // characters or the default one, never for a best fit.
  const DWORD flags = resolved == CP_UTF8 || resolved == CP_UTF7 ? 0 : WC_NO_BEST_FIT_CHARS;

  // The most units whose text fits, found by halving; a surrogate pair is
  // never cut in two.
  std::size_t count = units.size();
  if (ConvertedLength(resolved, flags, units.data(), count) > capacity - 1) {
    std::size_t fits = 0;
    std::size_t tooMany = count;
    while (tooMany - fits > 1) {
      const std::size_t middle = fits + (tooMany - fits) / 2;
      if (ConvertedLength(resolved, flags, units.data(), middle) <= capacity - 1) {
        fits = middle;
      } else {
        tooMany = middle;
      }
    }
    count = fits;
    if (count > 0 && IsHighSurrogate(units[count - 1])) --count;
  }
  int length = 0;
  if (count != 0) {
    length = WideCharToMultiByte(resolved, flags, reinterpret_cast<const wchar_t*>(units.data()),
                                 static_cast<int>(count), dest,
                                 static_cast<int>(std::min<std::size_t>(capacity - 1, INT_MAX)), nullptr, nullptr);
  }
  if (length <= 0) length = 0;  // an unknown code page gives an empty text
  dest[length] = '\0';
  return static_cast<std::size_t>(length);
}

}  // namespace quax
