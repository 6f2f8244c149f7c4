// Text read out of another process: UTF-16 narrowing, splitting the image
// path, and finding the project variable in an environment block. Portable;
// the Windows side only reads the target's memory and feeds it in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fixed_text.h"

namespace quax {

// One UTF-16 code unit to one single-byte character: ASCII and the Latin-1
// range are kept as they are, every other unit becomes '?'.
char NarrowCodeUnit(std::uint16_t unit) noexcept;

// Narrows up to unitCount units (stopping at a NUL unit) into dest, cut to
// capacity - 1 characters. Returns the length written.
std::size_t NarrowText(char* dest, std::size_t capacity, const std::uint16_t* units,
                       std::size_t unitCount) noexcept;

// Splits an image path at its last backslash into the file name and the
// directory before it; without a backslash both receive the whole path.
void SplitImagePath(const char* path, TextField& name, TextField& directory) noexcept;

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

  State Feed(std::uint16_t unit) noexcept;
  State Current() const noexcept { return state_; }
  // The project name once Found, else empty.
  const char* Project() const noexcept { return state_ == State::Found ? value_ : ""; }

 private:
  static constexpr std::size_t kNameLength = sizeof kProjectVariable - 1;

  State state_ = State::Scanning;
  std::size_t length_ = 0;   // characters of the current variable so far
  char name_[kNameLength] = {};
  bool matched_ = false;
  std::size_t valueLength_ = 0;
  TextField value_ = {};
};

}  // namespace quax
