#include "record/decimal.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "record/byte_copy.h"

namespace quax::agg {

// Gives the out-of-line code access to the representation.
struct DecimalAccess {
  static std::uint64_t& Lo(Decimal& d) noexcept { return d.lo_; }
  static std::uint32_t& Hi(Decimal& d) noexcept { return d.hi_; }
  static std::uint8_t& Scale(Decimal& d) noexcept { return d.scale_; }
  static bool& Negative(Decimal& d) noexcept { return d.negative_; }
};

namespace {

using Access = DecimalAccess;

// Unsigned scratch integer of 256 bits in 32-bit words, least significant
// first: wide enough for a 96 x 96-bit product and for a 96-bit mantissa
// scaled by 10^56.
struct Wide {
  static constexpr int kWords = 8;
  std::uint32_t w[kWords] = {};

  static Wide Of(const Decimal& d) noexcept {
    Wide r;
    r.w[0] = d.Lo32();
    r.w[1] = d.Mid32();
    r.w[2] = d.Hi32();
    return r;
  }
  bool IsZero() const noexcept {
    for (std::uint32_t x : w)
      if (x != 0) return false;
    return true;
  }
  bool Fits96() const noexcept {
    for (int i = 3; i < kWords; ++i)
      if (w[i] != 0) return false;
    return true;
  }
  // this *= m; returns the carry out of the top word (0 in every use here).
  std::uint32_t MulSmall(std::uint32_t m) noexcept {
    std::uint64_t carry = 0;
    for (std::uint32_t& x : w) {
      const std::uint64_t p = std::uint64_t{x} * m + carry;
      x = static_cast<std::uint32_t>(p);
      carry = p >> 32;
    }
    return static_cast<std::uint32_t>(carry);
  }
  // this /= d; returns the remainder.
  std::uint32_t DivSmall(std::uint32_t d) noexcept {
    std::uint64_t rem = 0;
    for (int i = kWords - 1; i >= 0; --i) {
      const std::uint64_t cur = (rem << 32) | w[i];
      w[i] = static_cast<std::uint32_t>(cur / d);
      rem = cur % d;
    }
    return static_cast<std::uint32_t>(rem);
  }
  void Add(const Wide& o) noexcept {
    std::uint64_t carry = 0;
    for (int i = 0; i < kWords; ++i) {
      const std::uint64_t s = std::uint64_t{w[i]} + o.w[i] + carry;
      w[i] = static_cast<std::uint32_t>(s);
      carry = s >> 32;
    }
  }
  void AddSmall(std::uint32_t v) noexcept {
    std::uint64_t carry = v;
    for (int i = 0; i < kWords && carry != 0; ++i) {
      const std::uint64_t s = std::uint64_t{w[i]} + carry;
      w[i] = static_cast<std::uint32_t>(s);
      carry = s >> 32;
    }
  }
  // this -= o, with this >= o.
  void Sub(const Wide& o) noexcept {
    std::int64_t borrow = 0;
    for (int i = 0; i < kWords; ++i) {
      std::int64_t s = std::int64_t{w[i]} - o.w[i] - borrow;
      borrow = s < 0 ? 1 : 0;
      if (s < 0) s += std::int64_t{1} << 32;
      w[i] = static_cast<std::uint32_t>(s);
    }
  }
  static int Cmp(const Wide& a, const Wide& b) noexcept {
    for (int i = kWords - 1; i >= 0; --i) {
      if (a.w[i] != b.w[i]) return a.w[i] < b.w[i] ? -1 : 1;
    }
    return 0;
  }
  void ScaleUp(int digits) noexcept {
    static constexpr std::uint32_t kPow[10] = {1,      10,      100,      1000,      10000,
                                               100000, 1000000, 10000000, 100000000, 1000000000};
    while (digits > 0) {
      const int step = digits > 9 ? 9 : digits;
      MulSmall(kPow[step]);
      digits -= step;
    }
  }
  int BitLength() const noexcept {
    for (int i = kWords - 1; i >= 0; --i) {
      if (w[i] != 0) {
        int bits = 32;
        while ((w[i] & (1u << (bits - 1))) == 0) --bits;
        return i * 32 + bits;
      }
    }
    return 0;
  }
  bool Bit(int i) const noexcept { return (w[i / 32] >> (i % 32)) & 1u; }
  void ShiftLeft1() noexcept {
    for (int i = kWords - 1; i > 0; --i) w[i] = (w[i] << 1) | (w[i - 1] >> 31);
    w[0] <<= 1;
  }
  static Wide Mul(const Wide& a, const Wide& b) noexcept {  // a, b of at most 128 bits
    Wide r;
    for (int i = 0; i < 4; ++i) {
      std::uint64_t carry = 0;
      for (int j = 0; j < 4; ++j) {
        const std::uint64_t p = std::uint64_t{a.w[i]} * b.w[j] + r.w[i + j] + carry;
        r.w[i + j] = static_cast<std::uint32_t>(p);
        carry = p >> 32;
      }
      r.w[i + 4] = static_cast<std::uint32_t>(carry);
    }
    return r;
  }
  // q = n / d, r = n % d (shift-subtract; d != 0).
  static void DivMod(const Wide& n, const Wide& d, Wide& q, Wide& r) noexcept {
    q = Wide{};
    r = Wide{};
    for (int i = n.BitLength() - 1; i >= 0; --i) {
      r.ShiftLeft1();
      r.w[0] |= n.Bit(i) ? 1u : 0u;
      if (Cmp(r, d) >= 0) {
        r.Sub(d);
        q.w[i / 32] |= 1u << (i % 32);
      }
    }
  }
};

Decimal Make(const Wide& m, int scale, bool negative) noexcept {
  Decimal d;
  Access::Lo(d) = (std::uint64_t{m.w[1]} << 32) | m.w[0];
  Access::Hi(d) = m.w[2];
  Access::Scale(d) = static_cast<std::uint8_t>(scale);
  Access::Negative(d) = negative;
  return d;
}

// Brings an exact result into range: while the mantissa exceeds 96 bits or
// the scale exceeds 28, drop a decimal place; the dropped digits round the
// result half to even. False when it cannot fit at scale 0.
bool Normalize(Wide m, int scale, bool negative, Decimal& out) noexcept {
  bool sticky = false;
  std::uint32_t last = 0;
  bool dropped = false;
  while (scale > Decimal::kMaxScale || !m.Fits96()) {
    if (scale == 0) return false;
    sticky = sticky || last != 0;
    last = m.DivSmall(10);
    --scale;
    dropped = true;
  }
  if (dropped && (last > 5 || (last == 5 && (sticky || (m.w[0] & 1u) != 0)))) {
    m.AddSmall(1);
    if (!m.Fits96()) {  // 2^96: one place less, 7922816251426433759354395033.6 rounds up
      if (scale == 0) return false;
      const std::uint32_t r = m.DivSmall(10);
      --scale;
      if (r >= 5) m.AddSmall(1);
    }
  }
  out = Make(m, scale, negative);
  return true;
}

// Divides the mantissa by 10^digits; mode 0 half to even, 1 half away from
// zero, 2 truncate, on the whole dropped part (one rounding).
Wide DropDigits(Wide m, int digits, int mode) noexcept {
  bool sticky = false;
  std::uint32_t last = 0;
  for (int i = 0; i < digits; ++i) {
    sticky = sticky || last != 0;
    last = m.DivSmall(10);
  }
  if (digits == 0 || mode == 2) return m;
  bool up = false;
  if (mode == 0) {
    up = last > 5 || (last == 5 && (sticky || (m.w[0] & 1u) != 0));
  } else {
    up = last >= 5;
  }
  if (up) m.AddSmall(1);
  return m;
}

}  // namespace

Decimal Decimal::FromParts(std::uint32_t lo, std::uint32_t mid, std::uint32_t hi, int scale,
                           bool negative) {
  if (scale < 0 || scale > kMaxScale) throw Error("Decimal scale out of range");
  Decimal d;
  d.lo_ = (std::uint64_t{mid} << 32) | lo;
  d.hi_ = hi;
  d.scale_ = static_cast<std::uint8_t>(scale);
  d.negative_ = negative;
  return d;
}

bool Decimal::AddSlow(const Decimal& a, const Decimal& b, bool subtract, Decimal& out) noexcept {
  const bool bNegative = subtract ? !b.negative_ : b.negative_;
  Wide x = Wide::Of(a);
  Wide y = Wide::Of(b);
  const int scale = a.scale_ > b.scale_ ? a.scale_ : b.scale_;
  x.ScaleUp(scale - a.scale_);
  y.ScaleUp(scale - b.scale_);
  if (a.negative_ == bNegative) {
    x.Add(y);
    return Normalize(x, scale, a.negative_, out);
  }
  const int c = Wide::Cmp(x, y);
  if (c == 0) return Normalize(Wide{}, scale, false, out);
  if (c > 0) {
    x.Sub(y);
    return Normalize(x, scale, a.negative_, out);
  }
  y.Sub(x);
  return Normalize(y, scale, bNegative, out);
}

bool Decimal::TryMultiply(const Decimal& a, const Decimal& b, Decimal& out) noexcept {
  const bool negative = a.negative_ != b.negative_;
  if (a.hi_ == 0 && b.hi_ == 0 && (a.lo_ >> 32) == 0 && (b.lo_ >> 32) == 0 &&
      a.scale_ + b.scale_ <= kMaxScale) {
    Decimal r;
    r.lo_ = a.lo_ * b.lo_;
    r.scale_ = static_cast<std::uint8_t>(a.scale_ + b.scale_);
    r.negative_ = negative;
    out = r;
    return true;
  }
  const Wide p = Wide::Mul(Wide::Of(a), Wide::Of(b));
  return Normalize(p, a.scale_ + b.scale_, negative, out);
}

bool Decimal::TryDivide(const Decimal& a, const Decimal& b, Decimal& out,
                        bool* divideByZero) noexcept {
  if (divideByZero) *divideByZero = false;
  if (b.IsZero()) {
    if (divideByZero) *divideByZero = true;
    return false;
  }
  const bool negative = a.negative_ != b.negative_;
  // Quotient at scale S: a.m * 10^(S - a.s + b.s) / b.m. Start at the
  // natural scale (not below 0) and add places while a remainder is left and
  // the quotient still fits, then round the rest half to even.
  int scale = a.scale_ - b.scale_;
  Wide n = Wide::Of(a);
  Wide d = Wide::Of(b);
  if (scale < 0) {
    n.ScaleUp(-scale);
    scale = 0;
  }
  Wide q;
  Wide r;
  Wide::DivMod(n, d, q, r);
  if (!q.Fits96()) return false;
  while (!r.IsZero() && scale < kMaxScale) {
    Wide q10 = q;
    q10.MulSmall(10);
    Wide r10 = r;
    r10.MulSmall(10);
    Wide digit;
    Wide rest;
    Wide::DivMod(r10, d, digit, rest);
    q10.Add(digit);
    if (!q10.Fits96()) break;
    q = q10;
    r = rest;
    ++scale;
  }
  if (!r.IsZero()) {
    Wide twice = r;
    twice.ShiftLeft1();
    const int c = Wide::Cmp(twice, d);
    if (c > 0 || (c == 0 && (q.w[0] & 1u) != 0)) q.AddSmall(1);
  }
  return Normalize(q, scale, negative && !q.IsZero(), out);
}

Decimal operator/(const Decimal& a, const Decimal& b) {
  Decimal r;
  bool byZero = false;
  if (!Decimal::TryDivide(a, b, r, &byZero)) {
    if (byZero) throw DecimalDivideByZero();
    throw DecimalOverflow();
  }
  return r;
}

int Decimal::Compare(const Decimal& a, const Decimal& b) noexcept {
  const bool aNeg = a.negative_ && !a.IsZero();
  const bool bNeg = b.negative_ && !b.IsZero();
  if (aNeg != bNeg) return aNeg ? -1 : 1;
  int magnitude;
  if (a.scale_ == b.scale_) {
    magnitude = a.hi_ != b.hi_ ? (a.hi_ < b.hi_ ? -1 : 1)
                : a.lo_ != b.lo_ ? (a.lo_ < b.lo_ ? -1 : 1)
                                  : 0;
  } else {
    Wide x = Wide::Of(a);
    Wide y = Wide::Of(b);
    const int scale = a.scale_ > b.scale_ ? a.scale_ : b.scale_;
    x.ScaleUp(scale - a.scale_);
    y.ScaleUp(scale - b.scale_);
    magnitude = Wide::Cmp(x, y);
  }
  return aNeg ? -magnitude : magnitude;
}

bool Decimal::HasFraction() const noexcept {
  if (scale_ == 0) return false;
  if (hi_ == 0 && scale_ < std::size(kPowersOfTen)) return lo_ % kPowersOfTen[scale_] != 0;
  Wide m = Wide::Of(*this);
  for (int i = 0; i < scale_; ++i) {
    if (m.DivSmall(10) != 0) return true;
  }
  return false;
}

Decimal Decimal::Truncate() const noexcept {
  const Wide m = DropDigits(Wide::Of(*this), scale_, 2);
  return Make(m, 0, negative_);
}

Decimal Decimal::Floor() const noexcept {
  Wide m = Wide::Of(*this);
  bool fraction = false;
  for (int i = 0; i < scale_; ++i) fraction = m.DivSmall(10) != 0 || fraction;
  if (negative_ && fraction) m.AddSmall(1);  // cannot leave 96 bits: the scale was >= 1
  return Make(m, 0, negative_);
}

Decimal Decimal::Round(int places) const {
  if (places < 0) throw Error("Invalid procedure call or argument");
  if (places >= scale_) return *this;
  return Make(DropDigits(Wide::Of(*this), scale_ - places, 0), places, negative_);
}

Decimal Decimal::RoundHalfAwayFromZero(int places) const {
  if (places < 0) throw Error("Invalid procedure call or argument");
  if (places >= scale_) return *this;
  // The mantissa only shrinks (or reaches 10^k of a smaller one), it fits.
  return Make(DropDigits(Wide::Of(*this), scale_ - places, 1), places, negative_);
}

void Decimal::DivideByTen() noexcept {
  // VarDecDiv by 10: an exact quotient stays at the natural scale (the
  // mantissa loses a trailing zero); otherwise one more place, and at 28
  // places the quotient is rounded half to even.
  Wide m = Wide::Of(*this);
  Wide q = m;
  if (q.DivSmall(10) == 0) {
    *this = Make(q, scale_, negative_);
  } else if (scale_ < kMaxScale) {
    ++scale_;
  } else {
    *this = Make(DropDigits(m, 1, 0), kMaxScale, negative_);
  }
}

bool Decimal::AppendDigitSlow(unsigned digit) noexcept {
  Wide m = Wide::Of(*this);
  m.MulSmall(10);
  m.AddSmall(digit);
  if (!m.Fits96()) return false;
  *this = Make(m, scale_, negative_);
  return true;
}

double Decimal::ToDouble() const noexcept {
  static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22, 1e23,
                                      1e24, 1e25, 1e26, 1e27, 1e28};
  const double m = static_cast<double>(hi_) * 18446744073709551616.0 + static_cast<double>(lo_);
  const double v = m / kPow10[scale_];
  return negative_ ? -v : v;
}

namespace {

// Decimal digits of a mantissa, most significant first; returns the count.
int MantissaDigits(Wide m, char* digits) noexcept {
  char reversed[40];
  int count = 0;
  do {
    reversed[count++] = static_cast<char>('0' + m.DivSmall(10));
  } while (!m.IsZero());
  for (int i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
  return count;
}

// Writes [-]digits with a point before the last `scale` digits.
std::size_t WriteScaled(char* out, const char* digits, int count, int scale, bool negative) {
  std::size_t n = 0;
  bool nonZero = false;
  for (int i = 0; i < count; ++i) nonZero = nonZero || digits[i] != '0';
  if (negative && nonZero) out[n++] = '-';
  if (count <= scale) {
    out[n++] = '0';
    out[n++] = '.';
    for (int i = count; i < scale; ++i) out[n++] = '0';
    std::memcpy(out + n, digits, static_cast<std::size_t>(count));
    n += static_cast<std::size_t>(count);
    return n;
  }
  const int whole = count - scale;
  std::memcpy(out + n, digits, static_cast<std::size_t>(whole));
  n += static_cast<std::size_t>(whole);
  if (scale > 0) {
    out[n++] = '.';
    std::memcpy(out + n, digits + whole, static_cast<std::size_t>(scale));
    n += static_cast<std::size_t>(scale);
  }
  return n;
}

}  // namespace

std::string Decimal::ToString() const {
  char digits[40];
  const int count = MantissaDigits(Wide::Of(*this), digits);
  char text[80];
  const std::size_t n = WriteScaled(text, digits, count, scale_, negative_);
  return std::string(text, n);
}

namespace {
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";
}  // namespace

std::size_t Decimal::FormatFixed(char* out, int places) const noexcept {
  if (places < 0) places = 0;
  if (places > kMaxScale) places = kMaxScale;
  // Fast path: a 64-bit mantissa whose scale is at most `places`, written
  // from its last digit backwards.
  if (hi_ == 0 && scale_ <= places) {
    const int pad = places - scale_;
    std::uint64_t m = 0;
    if (pad < static_cast<int>(std::size(kPowersOfTen)) &&
        !__builtin_mul_overflow(lo_, kPowersOfTen[pad], &m)) {
      char text[48];
      char* const end = text + sizeof text;
      char* at = end;
      const auto twoDigits = [&at, &m] {
        at -= 2;
        std::memcpy(at, kDigitPairs + 2 * (m % 100), 2);
        m /= 100;
      };
      int placesLeft = places;
      for (; placesLeft >= 2; placesLeft -= 2) twoDigits();
      if (placesLeft == 1) {
        *--at = static_cast<char>('0' + m % 10);
        m /= 10;
      }
      if (places > 0) *--at = '.';
      while (m >= 100) twoDigits();
      if (m >= 10) {
        twoDigits();
      } else {
        *--at = static_cast<char>('0' + m);
      }
      if (negative_ && lo_ != 0) *--at = '-';
      const auto length = static_cast<std::size_t>(end - at);
      CopyBytes(out, std::string_view(at, length));
      return length;
    }
  }
  Wide m = Wide::Of(*this);
  int scale = scale_;
  if (scale > places) {
    m = DropDigits(m, scale - places, 1);
  } else {
    m.ScaleUp(places - scale);
  }
  scale = places;
  char digits[80];
  // Up to 29 + 28 digits: the Wide holds them.
  char reversed[80];
  int count = 0;
  do {
    reversed[count++] = static_cast<char>('0' + m.DivSmall(10));
  } while (!m.IsZero());
  for (int i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
  return WriteScaled(out, digits, count, scale, negative_);
}

namespace {

bool ParseText(std::string_view text, Decimal& out, bool& overflow) noexcept {
  overflow = false;
  std::size_t i = 0;
  const std::size_t n = text.size();
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (i < n && blank(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  Wide m;
  int scale = 0;
  int digits = 0;
  bool seenPoint = false;
  bool mantissaWide = false;  // more digits than a 256-bit scratch takes: only zeros kept
  bool droppedNonZero = false;
  int exponentShift = 0;      // integer digits dropped beyond the scratch
  for (; i < n; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      ++digits;
      if (!mantissaWide && m.BitLength() > 220) mantissaWide = true;
      if (mantissaWide) {
        if (seenPoint) {
          droppedNonZero = droppedNonZero || c != '0';
        } else {
          ++exponentShift;
        }
        continue;
      }
      m.MulSmall(10);
      m.AddSmall(static_cast<std::uint32_t>(c - '0'));
      if (seenPoint) ++scale;
    } else if (c == '.' && !seenPoint) {
      seenPoint = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  long exponent = exponentShift;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) expNegative = text[i++] == '-';
    if (i >= n || text[i] < '0' || text[i] > '9') return false;
    long e = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
      if (e < 100000) e = e * 10 + (text[i] - '0');
    }
    exponent += expNegative ? -e : e;
  }
  while (i < n && blank(text[i])) ++i;
  if (i != n) return false;
  long effectiveScale = scale - exponent;
  if (m.IsZero()) {
    out = Decimal();
    if (effectiveScale > 0)
      out = Decimal::FromParts(0, 0, 0, effectiveScale > 28 ? 28 : static_cast<int>(effectiveScale),
                               false);
    out.SetNegative(false);
    return true;
  }
  while (effectiveScale < 0) {
    if (!m.Fits96()) {
      overflow = true;
      return false;
    }
    m.MulSmall(10);
    ++effectiveScale;
  }
  if (droppedNonZero && effectiveScale > 0) {
    // A non-zero digit beyond the scratch only matters for an exact half.
    m.MulSmall(10);
    m.AddSmall(1);
    ++effectiveScale;
  }
  if (effectiveScale > 200) {
    out = Decimal();
    return true;
  }
  if (!Normalize(m, static_cast<int>(effectiveScale), negative, out)) {
    overflow = true;
    return false;
  }
  return true;
}

}  // namespace

bool Decimal::TryParse(std::string_view text, Decimal& out) noexcept {
  bool overflow = false;
  return ParseText(text, out, overflow);
}

Decimal Decimal::Parse(std::string_view text) {
  bool overflow = false;
  Decimal d;
  if (!ParseText(text, d, overflow)) {
    if (overflow) throw DecimalOverflow();
    throw DecimalTypeMismatch();
  }
  return d;
}

Decimal Decimal::FromDouble(double value) {
  if (!std::isfinite(value)) throw DecimalOverflow();
  if (value == 0.0) return Decimal();
  // 15 significant digits, like VarDecFromR8. "%.14e" has a "." in the C
  // locale; any other point character is mapped back.
  char text[64];
  const int n = std::snprintf(text, sizeof text, "%.14e", value);
  if (n <= 0 || n >= static_cast<int>(sizeof text)) throw DecimalOverflow();
  for (int i = 0; i < n; ++i) {
    if (text[i] == ',') text[i] = '.';
  }
  bool overflow = false;
  Decimal d;
  if (!ParseText(std::string_view(text, static_cast<std::size_t>(n)), d, overflow)) {
    throw DecimalOverflow();
  }
  // Drop trailing zeros of the fraction that the 15-digit text carries.
  Wide m = Wide::Of(d);
  int scale = d.Scale();
  while (scale > 0) {
    Wide t = m;
    if (t.DivSmall(10) != 0) break;
    m = t;
    --scale;
  }
  return Make(m, scale, d.IsNegative());
}

}  // namespace quax::agg
