// Exact decimal with the semantics of the automation DECIMAL: an unsigned
// 96-bit integer mantissa, a scale of 0 to 28 (the number of decimal places)
// and a sign. Results that need more digits than fit are rounded half to even
// (as VarDecAdd/VarDecMul/VarDecDiv do); results that do not fit at scale 0
// throw DecimalOverflow, they never wrap. Trailing zeros are kept (1.50 has
// scale 2), as the platform keeps them.
//
// Portable: no Windows headers, no 128-bit integer type (the i686 build has
// none). The add of two values of equal scale and sign is inline and costs a
// few 64-bit operations; everything else goes through an out-of-line path
// with a 256-bit scratch integer.
#pragma once

#include <compare>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "record/agg_error.h"

namespace quax::agg {

class Decimal {
 public:
  static constexpr int kMaxScale = 28;

  constexpr Decimal() noexcept = default;
  constexpr Decimal(std::int32_t value) noexcept  // NOLINT: implicit like the platform's
      : lo_(value < 0 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(value))
                      : static_cast<std::uint64_t>(value)),
        negative_(value < 0) {}

  static constexpr Decimal FromInt64(std::int64_t value) noexcept {
    Decimal d;
    d.negative_ = value < 0;
    d.lo_ = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    return d;
  }
  static constexpr Decimal FromUInt64(std::uint64_t value) noexcept {
    Decimal d;
    d.lo_ = value;
    return d;
  }
  // A 64-bit mantissa at a scale of 0 to 28 (not checked: for parsers that
  // know their scale).
  static constexpr Decimal FromMantissa64(std::uint64_t mantissa, int scale, bool negative) noexcept {
    Decimal d;
    d.lo_ = mantissa;
    d.scale_ = static_cast<std::uint8_t>(scale);
    d.negative_ = negative;
    return d;
  }
  // The platform's layout: mantissa words low, mid, high. Throws Error for a
  // scale above 28.
  static Decimal FromParts(std::uint32_t lo, std::uint32_t mid, std::uint32_t hi, int scale,
                           bool negative);
  // Like VarDecFromR8: the double rounded to 15 significant digits. NaN,
  // infinities and magnitudes of 2^96 and more throw DecimalOverflow.
  static Decimal FromDouble(double value);
  // Text with "." as the decimal point whatever the locale: optional
  // surrounding blanks, an optional sign, digits with an optional point, an
  // optional exponent (e or E). Digits beyond 28 places are rounded half to
  // even. Anything else throws DecimalTypeMismatch; too large throws
  // DecimalOverflow.
  static Decimal Parse(std::string_view text);
  static bool TryParse(std::string_view text, Decimal& out) noexcept;

  std::uint32_t Lo32() const noexcept { return static_cast<std::uint32_t>(lo_); }
  std::uint32_t Mid32() const noexcept { return static_cast<std::uint32_t>(lo_ >> 32); }
  std::uint32_t Hi32() const noexcept { return hi_; }
  std::uint64_t Lo64() const noexcept { return lo_; }
  int Scale() const noexcept { return scale_; }
  bool IsNegative() const noexcept { return negative_; }  // also for a negative zero
  bool IsZero() const noexcept { return lo_ == 0 && hi_ == 0; }

  // out = a + b; false (out unchanged) on overflow. Never throws. out may be
  // a or b.
  static bool TryAdd(const Decimal& a, const Decimal& b, Decimal& out) noexcept {
    const std::uint8_t scale = a.scale_;
    const bool negative = a.negative_;
    if (scale == b.scale_ && negative == b.negative_) {
      const std::uint64_t lo = a.lo_ + b.lo_;
      const std::uint64_t hi = std::uint64_t{a.hi_} + b.hi_ + (lo < a.lo_ ? 1u : 0u);
      if ((hi >> 32) == 0) {
        out.lo_ = lo;
        out.hi_ = static_cast<std::uint32_t>(hi);
        out.scale_ = scale;
        out.negative_ = negative;
        return true;
      }
    } else if (negative == b.negative_ && a.hi_ == 0 && b.hi_ == 0) {
      // Scales differ: the mantissa of the smaller scale is raised to the
      // larger one, exactly while it stays within 64 bits.
      const bool aFiner = a.scale_ > b.scale_;
      const std::uint64_t fineLo = aFiner ? a.lo_ : b.lo_;
      const std::uint8_t fineScale = aFiner ? a.scale_ : b.scale_;
      const std::uint64_t coarseLo = aFiner ? b.lo_ : a.lo_;
      const unsigned gap = fineScale - (aFiner ? b.scale_ : a.scale_);
      std::uint64_t raised = 0;
      if (gap < std::size(kPowersOfTen) &&
          !__builtin_mul_overflow(coarseLo, kPowersOfTen[gap], &raised)) {
        const std::uint64_t lo = raised + fineLo;
        out.lo_ = lo;
        out.hi_ = lo < raised ? 1u : 0u;
        out.scale_ = fineScale;
        out.negative_ = negative;
        return true;
      }
    }
    return AddSlow(a, b, false, out);
  }
  static bool TrySubtract(const Decimal& a, const Decimal& b, Decimal& out) noexcept {
    return AddSlow(a, b, true, out);
  }
  static bool TryMultiply(const Decimal& a, const Decimal& b, Decimal& out) noexcept;
  // False on overflow and on division by zero (divideByZero tells which).
  static bool TryDivide(const Decimal& a, const Decimal& b, Decimal& out,
                        bool* divideByZero = nullptr) noexcept;

  friend Decimal operator+(const Decimal& a, const Decimal& b) {
    Decimal r;
    if (!TryAdd(a, b, r)) throw DecimalOverflow();
    return r;
  }
  friend Decimal operator-(const Decimal& a, const Decimal& b) {
    Decimal r;
    if (!TrySubtract(a, b, r)) throw DecimalOverflow();
    return r;
  }
  friend Decimal operator*(const Decimal& a, const Decimal& b) {
    Decimal r;
    if (!TryMultiply(a, b, r)) throw DecimalOverflow();
    return r;
  }
  friend Decimal operator/(const Decimal& a, const Decimal& b);
  // In place, without temporaries (the summing loops use +=).
  Decimal& operator+=(const Decimal& b) {
    if (!TryAdd(*this, b, *this)) throw DecimalOverflow();
    return *this;
  }
  Decimal& operator-=(const Decimal& b) {
    if (!TrySubtract(*this, b, *this)) throw DecimalOverflow();
    return *this;
  }
  Decimal& operator*=(const Decimal& b) {
    if (!TryMultiply(*this, b, *this)) throw DecimalOverflow();
    return *this;
  }
  Decimal& operator/=(const Decimal& b) { return *this = *this / b; }

  Decimal operator-() const noexcept {
    Decimal r = *this;
    r.negative_ = !negative_;
    return r;
  }

  // Value comparison (1.50 == 1.5; a negative zero equals zero).
  static int Compare(const Decimal& a, const Decimal& b) noexcept;
  friend bool operator==(const Decimal& a, const Decimal& b) noexcept { return Compare(a, b) == 0; }
  friend std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) noexcept {
    return Compare(a, b) <=> 0;
  }
  // Same mantissa, scale and sign (1.50 and 1.5 differ).
  bool IdenticalTo(const Decimal& other) const noexcept {
    return lo_ == other.lo_ && hi_ == other.hi_ && scale_ == other.scale_ &&
           negative_ == other.negative_;
  }

  // True when the value has a non-zero fractional part.
  bool HasFraction() const noexcept;

  // Largest integer not above the value (VarDecInt); scale 0.
  Decimal Floor() const noexcept;
  // Integer part, towards zero (VarDecFix); scale 0.
  Decimal Truncate() const noexcept;
  // To `places` decimal places (0..28), half to even (VarDecRound). A value
  // with fewer places is returned unchanged. Throws Error for places < 0.
  Decimal Round(int places) const;
  // To `places` decimal places, halves away from zero (how a number format
  // such as "0.000000" rounds).
  Decimal RoundHalfAwayFromZero(int places) const;

  double ToDouble() const noexcept;

  // The digits as stored, "." as point, "-" for a negative non-zero value,
  // a leading zero before the point: 1.50, -0.25, 0, 12.
  std::string ToString() const;
  // Appends the value rounded half away from zero to exactly `places`
  // decimals (places 0 writes no point) to out; no grouping, "." as point.
  // Returns the number of bytes written; out needs 32 + places bytes.
  std::size_t FormatFixed(char* out, int places) const noexcept;

  // Mantissa times ten plus a digit, at the same scale (the text readers'
  // accumulation). False on overflow.
  bool TryAppendDigit(unsigned digit) noexcept {
    if (hi_ == 0 && lo_ <= (0xFFFFFFFFFFFFFFFFull - 9) / 10) {
      lo_ = lo_ * 10 + digit;
      return true;
    }
    return AppendDigitSlow(digit);
  }
  // Divides by ten exactly as VarDecDiv by 10 does: a mantissa ending in 0
  // loses it, otherwise one more decimal place while the scale allows, else
  // rounded half to even at 28 places.
  void DivideByTen() noexcept;
  void SetNegative(bool negative) noexcept { negative_ = negative; }

 private:
  // 10^0 to 10^19: the powers that fit 64 bits.
  static constexpr std::uint64_t kPowersOfTen[] = {
      1ull, 10ull, 100ull, 1000ull, 10000ull,
      100000ull, 1000000ull, 10000000ull, 100000000ull, 1000000000ull,
      10000000000ull, 100000000000ull, 1000000000000ull, 10000000000000ull, 100000000000000ull,
      1000000000000000ull, 10000000000000000ull, 100000000000000000ull, 1000000000000000000ull, 10000000000000000000ull,
  };
  static bool AddSlow(const Decimal& a, const Decimal& b, bool subtract, Decimal& out) noexcept;
  bool AppendDigitSlow(unsigned digit) noexcept;
  friend struct DecimalAccess;

  std::uint64_t lo_ = 0;  // mantissa bits 0..63
  std::uint32_t hi_ = 0;  // mantissa bits 64..95
  std::uint8_t scale_ = 0;
  bool negative_ = false;
};

}  // namespace quax::agg
