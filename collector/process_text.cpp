#include "process_text.h"

#include <cstring>

namespace quax {

char NarrowCodeUnit(std::uint16_t unit) noexcept {
  return unit < 0x100 ? static_cast<char>(static_cast<unsigned char>(unit)) : '?';
}

std::size_t NarrowText(char* dest, std::size_t capacity, const std::uint16_t* units,
                       std::size_t unitCount) noexcept {
  if (capacity == 0) return 0;
  std::size_t length = 0;
  for (; length < unitCount && length < capacity - 1 && units[length] != 0; ++length) {
    dest[length] = NarrowCodeUnit(units[length]);
  }
  dest[length] = '\0';
  return length;
}

void SplitImagePath(const char* path, TextField& name, TextField& directory) noexcept {
  const char* slash = std::strrchr(path, '\\');
  if (slash == nullptr) {
    CopyText(name, path);
    CopyText(directory, path);
    return;
  }
  CopyText(name, slash + 1);
  const auto directoryLength = static_cast<std::size_t>(slash - path);
  const std::size_t kept = directoryLength < sizeof directory ? directoryLength : sizeof directory - 1;
  std::memcpy(directory, path, kept);
  directory[kept] = '\0';
}

ProjectVariableScanner::State ProjectVariableScanner::Feed(std::uint16_t unit) noexcept {
  if (state_ != State::Scanning) return state_;
  if (unit == 0) {
    if (length_ == 0) return state_ = State::Finished;  // the empty variable ends the block
    if (matched_) return state_ = State::Found;
    length_ = 0;
    return state_;
  }
  if (length_ >= kMaxVariableLength) return state_;
  const char c = NarrowCodeUnit(unit);
  if (length_ < kNameLength) {
    name_[length_++] = c;
    if (length_ == kNameLength) {
      matched_ = EqualsIgnoreCase(name_, kProjectVariable, kNameLength) ||
                 EqualsIgnoreCase(name_, kLegacyProjectVariable, kNameLength);
    }
    return state_;
  }
  ++length_;
  if (matched_) {
    value_[valueLength_++] = c;
    // The project field holds 259 characters; the rest is not needed.
    if (valueLength_ == sizeof value_ - 1) return state_ = State::Found;
  }
  return state_;
}

}  // namespace quax
