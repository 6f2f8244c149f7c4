// Text read out of another process, as the UTF-16 code units it is stored
// in: splitting the image path and finding the project variable in an
// environment block. Portable; the Windows side reads the target's memory,
// feeds it in and turns the results into the system's ANSI code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "fixed_text.h"

namespace quax {

using Utf16Units = std::span<const std::uint16_t>;

// The units before the first NUL unit (all of them without one).
Utf16Units UntilNul(Utf16Units units) noexcept;

// An image path split at its last backslash into the file name and the
// directory before it; without a backslash both are the whole path. Split
// as UTF-16, before any conversion: a converted text may hold the byte of
// a backslash inside another character.
struct ImagePathParts {
  Utf16Units Name;
  Utf16Units Directory;
};
ImagePathParts SplitImagePath(Utf16Units path) noexcept;

// The two names of the project variable, compared without regard to case;
// whichever comes first in the environment block wins.
inline constexpr char kProjectVariable[] = "QUAXU_CURRPROJ=";
inline constexpr char kLegacyProjectVariable[] = "VORNE_CURRPROJ=";

// Walks an environment block one code unit at a time.
class ProjectVariableScanner {
 public:
  enum class State { Scanning, Found, Finished };

  // Longest variable taken into account; anything after it up to the
  // variable's terminating NUL is skipped.
  static constexpr std::size_t kMaxVariableLength = 33791;
  // Units of the value kept: each gives at least one character, so the
  // project field (259 characters) never needs more.
  static constexpr std::size_t kMaxValueUnits = kTextFieldSize - 1;

  State Feed(std::uint16_t unit) noexcept;
  State Current() const noexcept { return state_; }
  // The project name's units once Found, else none.
  Utf16Units Project() const noexcept {
    return state_ == State::Found ? Utf16Units(value_, valueLength_) : Utf16Units();
  }

 private:
  static constexpr std::size_t kNameLength = sizeof kProjectVariable - 1;

  State state_ = State::Scanning;
  std::size_t length_ = 0;   // units of the current variable so far
  std::uint16_t name_[kNameLength] = {};
  bool matched_ = false;
  std::size_t valueLength_ = 0;
  std::uint16_t value_[kMaxValueUnits] = {};
};

}  // namespace quax
