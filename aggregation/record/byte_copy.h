// Copying and comparing short byte runs (the fields and keys of resource
// records are mostly under 16 bytes) without a library call: two
// overlapping fixed-size moves cover every length from 4 to 16, the first,
// middle and last byte every length from 1 to 3.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace quax::agg {

inline void CopyBytes(char* to, std::string_view from) noexcept {
  const std::size_t n = from.size();
  const char* bytes = from.data();
  if (n >= 8 && n <= 16) {
    std::memcpy(to, bytes, 8);
    std::memcpy(to + n - 8, bytes + n - 8, 8);
  } else if (n >= 4 && n < 8) {
    std::memcpy(to, bytes, 4);
    std::memcpy(to + n - 4, bytes + n - 4, 4);
  } else if (n != 0 && n < 4) {  // first, middle and last cover 1 to 3 bytes
    to[0] = bytes[0];
    to[n / 2] = bytes[n / 2];
    to[n - 1] = bytes[n - 1];
  } else if (n != 0) {
    std::memcpy(to, bytes, n);
  }
}

inline bool SameBytes(std::string_view a, std::string_view b) noexcept {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  const auto load8 = [](const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
  };
  const auto load4 = [](const char* p) {
    std::uint32_t word;
    std::memcpy(&word, p, 4);
    return word;
  };
  if (n >= 8 && n <= 16) {
    return load8(a.data()) == load8(b.data()) && load8(a.data() + n - 8) == load8(b.data() + n - 8);
  }
  if (n >= 4 && n < 8) {
    return load4(a.data()) == load4(b.data()) && load4(a.data() + n - 4) == load4(b.data() + n - 4);
  }
  if (n < 4) {
    return n == 0 || (a[0] == b[0] && a[n / 2] == b[n / 2] && a[n - 1] == b[n - 1]);
  }
  return std::memcmp(a.data(), b.data(), n) == 0;
}

}  // namespace quax::agg
