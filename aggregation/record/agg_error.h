// The one exception family of the aggregation library. Errors that reach the
// caller unhandled (value conversion, overflow, an unreadable resource
// record line) are thrown as these; the COM layer turns them into COM errors
// at its boundary. Nothing below the COM layer catches them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quax::agg {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// An exact decimal result does not fit (96-bit mantissa at scale 0), the
// automation DISP_E_OVERFLOW.
class DecimalOverflow : public Error {
 public:
  DecimalOverflow() : Error(kMessage) {}
  static constexpr const char* kMessage = "Overflow";
};

// Division of an exact decimal by zero, the automation DISP_E_DIVBYZERO.
class DecimalDivideByZero : public Error {
 public:
  DecimalDivideByZero() : Error(kMessage) {}
  static constexpr const char* kMessage = "Division by zero";
};

// Text that is not a number where a number is required, the automation
// DISP_E_TYPEMISMATCH.
class DecimalTypeMismatch : public Error {
 public:
  DecimalTypeMismatch() : Error(kMessage) {}
  static constexpr const char* kMessage = "Type mismatch";
};

// A resource record line that cannot be read; the message names the file and
// the line number (1-based).
class RecordError : public Error {
 public:
  RecordError(const std::string& message, std::int64_t line) : Error(message), line_(line) {}
  std::int64_t Line() const noexcept { return line_; }

 private:
  std::int64_t line_;
};

}  // namespace quax::agg
