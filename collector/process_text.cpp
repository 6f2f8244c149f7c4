#include "process_text.h"

namespace quax {

namespace {

std::uint16_t LowerAscii(std::uint16_t unit) noexcept {
  return unit >= 'A' && unit <= 'Z' ? static_cast<std::uint16_t>(unit - 'A' + 'a') : unit;
}

// The variable name as read (UTF-16) against an ASCII name, ignoring case.
bool NameIs(const std::uint16_t* units, const char* name, std::size_t length) noexcept {
  for (std::size_t i = 0; i < length; ++i) {
    const auto expected = static_cast<std::uint16_t>(static_cast<unsigned char>(name[i]));
    if (LowerAscii(units[i]) != LowerAscii(expected)) return false;
  }
  return true;
}

}  // namespace

Utf16Units UntilNul(Utf16Units units) noexcept {
  std::size_t length = 0;
  while (length < units.size() && units[length] != 0) ++length;
  return units.first(length);
}

ImagePathParts SplitImagePath(Utf16Units path) noexcept {
  path = UntilNul(path);
  for (std::size_t i = path.size(); i > 0; --i) {
    if (path[i - 1] == u'\\') return {path.subspan(i), path.first(i - 1)};
  }
  return {path, path};
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
  if (length_ < kNameLength) {
    name_[length_++] = unit;
    if (length_ == kNameLength) {
      matched_ = NameIs(name_, kProjectVariable, kNameLength) || NameIs(name_, kLegacyProjectVariable, kNameLength);
    }
    return state_;
  }
  ++length_;
  if (matched_) {
    value_[valueLength_++] = unit;
    // The project field cannot take more; the rest is not needed.
    if (valueLength_ == kMaxValueUnits) return state_ = State::Found;
  }
  return state_;
}

}  // namespace quax
