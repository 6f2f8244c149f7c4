// Cross-check of the portable exact decimal against the platform's own
// automation decimal functions (oleaut32 VarDecAdd, VarDecSub, VarDecMul,
// VarDecDiv, VarDecRound, VarDecInt, VarDecCmp) on random operands. Runs
// under Wine here; every case is compared, and the counts are printed.
//
// Wine's oleaut32 is not Windows: where its answer differs from ours, an
// independent exact reference (big integers below) decides, and the case
// counts as "platform differs" only when the reference confirms ours (the
// Windows rules: exact when representable, else half to even at the largest
// scale that fits; VarDecInt is the floor). The Wine differences seen:
// - VarDecAdd/VarDecSub: wrong values when the operands' scales differ and
//   the aligned sum needs more than 96 bits (it rescales the wrong operand);
// - VarDecMul: truncates at 28 places instead of rounding, and returns a
//   value where the exact product overflows;
// - VarDecDiv: truncates the last digit instead of rounding;
// - VarDecRound: rounds any non-zero remainder away from zero;
// - VarDecInt: truncates negative values toward zero (as VarDecFix).
// Every case must be either equal to the platform or confirmed by the
// reference; none is skipped.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <vector>
#include <random>
#include <string>

#include "record/decimal.h"

namespace quax::agg {
namespace {

DECIMAL ToPlatform(const Decimal& d) {
  DECIMAL p{};
  p.scale = static_cast<BYTE>(d.Scale());
  p.sign = d.IsNegative() ? DECIMAL_NEG : 0;
  p.Hi32 = d.Hi32();
  p.Lo32 = d.Lo32();
  p.Mid32 = d.Mid32();
  return p;
}

Decimal FromPlatform(const DECIMAL& p) {
  return Decimal::FromParts(p.Lo32, p.Mid32, p.Hi32, p.scale, (p.sign & DECIMAL_NEG) != 0);
}

std::string Text(const Decimal& d) {
  return d.ToString() + " (scale " + std::to_string(d.Scale()) + ")";
}

// Random operands of every size: a mantissa of 0 to 96 random bits, a scale
// of 0 to 28 and a sign; every fourth one small (up to 64 bits, scale <= 8).
class Operands {
 public:
  explicit Operands(std::uint64_t seed) : random_(seed) {}
  Decimal Next() {
    const bool small = random_() % 4 == 0;
    const int bits = static_cast<int>(random_() % (small ? 65 : 97));
    std::uint64_t lo = random_();
    std::uint32_t hi = static_cast<std::uint32_t>(random_());
    if (bits <= 64) {
      hi = 0;
      lo = bits == 64 ? lo : (bits == 0 ? 0 : lo & ((std::uint64_t{1} << bits) - 1));
    } else {
      hi = bits == 96 ? hi : hi & ((1u << (bits - 64)) - 1);
    }
    const int scale = static_cast<int>(random_() % (small ? 9 : 29));
    return Decimal::FromParts(static_cast<std::uint32_t>(lo), static_cast<std::uint32_t>(lo >> 32),
                              hi, scale, random_() % 2 == 0);
  }
  int Places() { return static_cast<int>(random_() % 29); }

 private:
  std::mt19937_64 random_;
};

// An independent exact reference: unsigned big integers of any size, used
// to say which answer is right when the platform and ours differ (Wine's
// decimal functions deviate from Windows in several ways, see the report).
struct Big {
  std::vector<std::uint32_t> w;  // least significant first, no leading zeros

  static Big Of(std::uint64_t v) {
    Big b;
    while (v != 0) {
      b.w.push_back(static_cast<std::uint32_t>(v));
      v >>= 32;
    }
    return b;
  }
  static Big Of(const Decimal& d) {
    Big b;
    b.w = {d.Lo32(), d.Mid32(), d.Hi32()};
    b.Trim();
    return b;
  }
  void Trim() {
    while (!w.empty() && w.back() == 0) w.pop_back();
  }
  bool IsZero() const { return w.empty(); }
  bool IsOdd() const { return !w.empty() && (w[0] & 1u) != 0; }
  bool Fits96() const { return w.size() <= 3; }
  static Big Mul(const Big& a, const Big& b) {
    Big r;
    r.w.assign(a.w.size() + b.w.size() + 1, 0);
    for (std::size_t i = 0; i < a.w.size(); ++i) {
      std::uint64_t carry = 0;
      for (std::size_t j = 0; j < b.w.size(); ++j) {
        const std::uint64_t t = std::uint64_t{a.w[i]} * b.w[j] + r.w[i + j] + carry;
        r.w[i + j] = static_cast<std::uint32_t>(t);
        carry = t >> 32;
      }
      std::size_t k = i + b.w.size();
      while (carry != 0) {
        const std::uint64_t t = std::uint64_t{r.w[k]} + carry;
        r.w[k++] = static_cast<std::uint32_t>(t);
        carry = t >> 32;
      }
    }
    r.Trim();
    return r;
  }
  static Big Pow10(int n) {
    Big r = Of(1);
    for (int i = 0; i < n; ++i) r = Mul(r, Of(10));
    return r;
  }
  static int Cmp(const Big& a, const Big& b) {
    if (a.w.size() != b.w.size()) return a.w.size() < b.w.size() ? -1 : 1;
    for (std::size_t i = a.w.size(); i-- > 0;) {
      if (a.w[i] != b.w[i]) return a.w[i] < b.w[i] ? -1 : 1;
    }
    return 0;
  }
  static Big Add(const Big& a, const Big& b) {
    Big r;
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < std::max(a.w.size(), b.w.size()) || carry != 0; ++i) {
      const std::uint64_t t = carry + (i < a.w.size() ? a.w[i] : 0) + (i < b.w.size() ? b.w[i] : 0);
      r.w.push_back(static_cast<std::uint32_t>(t));
      carry = t >> 32;
    }
    r.Trim();
    return r;
  }
  static Big Sub(const Big& a, const Big& b) {  // a >= b
    Big r;
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < a.w.size(); ++i) {
      std::int64_t t = std::int64_t{a.w[i]} - (i < b.w.size() ? b.w[i] : 0) - borrow;
      borrow = t < 0;
      if (t < 0) t += std::int64_t{1} << 32;
      r.w.push_back(static_cast<std::uint32_t>(t));
    }
    r.Trim();
    return r;
  }
  std::uint32_t DivSmall(std::uint32_t d) {
    std::uint64_t rem = 0;
    for (std::size_t i = w.size(); i-- > 0;) {
      const std::uint64_t cur = (rem << 32) | w[i];
      w[i] = static_cast<std::uint32_t>(cur / d);
      rem = cur % d;
    }
    Trim();
    return static_cast<std::uint32_t>(rem);
  }
};

// A signed exact value: magnitude / 10^scale.
struct Exact {
  Big m;
  int scale = 0;
  bool negative = false;
};

Exact ExactOf(const Decimal& d) { return {Big::Of(d), d.Scale(), d.IsNegative()}; }

Exact ExactSum(const Decimal& a, const Decimal& b, bool subtract) {
  const Exact x = ExactOf(a);
  Exact y = ExactOf(b);
  if (subtract) y.negative = !y.negative;
  const int scale = std::max(x.scale, y.scale);
  const Big xm = Big::Mul(x.m, Big::Pow10(scale - x.scale));
  const Big ym = Big::Mul(y.m, Big::Pow10(scale - y.scale));
  if (x.negative == y.negative) return {Big::Add(xm, ym), scale, x.negative};
  return Big::Cmp(xm, ym) >= 0 ? Exact{Big::Sub(xm, ym), scale, x.negative}
                               : Exact{Big::Sub(ym, xm), scale, y.negative};
}

Exact ExactProduct(const Decimal& a, const Decimal& b) {
  return {Big::Mul(Big::Of(a), Big::Of(b)), a.Scale() + b.Scale(), a.IsNegative() != b.IsNegative()};
}

// Drops `digits` decimal places, rounding half to even (or toward minus
// infinity for floor).
Big Drop(Big m, int digits, bool negative, bool floor) {
  bool sticky = false;
  std::uint32_t last = 0;
  for (int i = 0; i < digits; ++i) {
    sticky = sticky || last != 0;
    last = m.DivSmall(10);
  }
  const bool up = floor ? (negative && (last != 0 || sticky))
                        : (last > 5 || (last == 5 && (sticky || m.IsOdd())));
  return up ? Big::Add(m, Big::Of(1)) : m;
}

// The automation result of an exact value: the largest scale of at most 28
// (and at most its own) at which the half-to-even rounded mantissa fits 96
// bits; false when none does.
bool Representable(const Exact& e, Big& mantissa, int& scale) {
  for (int s = std::min(e.scale, 28); s >= 0; --s) {
    const Big m = Drop(e.m, e.scale - s, e.negative, false);
    if (m.Fits96()) {
      mantissa = m;
      scale = s;
      return true;
    }
  }
  return false;
}

bool SameAs(const Decimal& d, const Big& m, int scale) {
  return d.Scale() == scale && Big::Cmp(Big::Of(d), m) == 0;
}

// Is `ours` the right automation result of the exact value e (sign of a
// zero aside)?
bool RightFor(const Exact& e, bool oursOk, const Decimal& ours) {
  Big m;
  int scale = 0;
  if (!Representable(e, m, scale)) return !oursOk;
  return oursOk && SameAs(ours, m, scale) && (m.IsZero() || ours.IsNegative() == e.negative);
}

// Is `ours` the right automation quotient a / b: rounded half to even at the
// largest scale <= 28 at which the truncated quotient fits, or exact at the
// smallest scale not below the natural one?
bool RightQuotient(const Decimal& a, const Decimal& b, bool oursOk, const Decimal& ours) {
  // N(S) / D is the quotient's mantissa at scale S.
  const auto numerator = [&](int s, Big& n, Big& d) {
    n = Big::Of(a);
    d = Big::Of(b);
    const int shift = s + b.Scale() - a.Scale();
    if (shift >= 0) {
      n = Big::Mul(n, Big::Pow10(shift));
    } else {
      d = Big::Mul(d, Big::Pow10(-shift));
    }
  };
  Big limit;
  limit.w = {0, 0, 0, 1};  // 2^96
  if (!oursOk) {  // right only if even scale 0 does not fit
    Big n, d;
    numerator(0, n, d);
    return Big::Cmp(n, Big::Mul(d, limit)) >= 0;
  }
  const int s = ours.Scale();
  Big n, d;
  numerator(s, n, d);
  const Big q = Big::Of(ours);
  const Big qd = Big::Mul(q, d);
  const int c = Big::Cmp(qd, n);
  const Big diff = c >= 0 ? Big::Sub(qd, n) : Big::Sub(n, qd);
  const Big twice = Big::Add(diff, diff);
  const int half = Big::Cmp(twice, d);
  if (half > 0 || (half == 0 && q.IsOdd())) return false;  // not rounded half to even
  if (!q.IsZero() && ours.IsNegative() != (a.IsNegative() != b.IsNegative())) return false;
  if (diff.IsZero()) {  // exact: no trailing zero above the natural scale
    const int natural = std::max(0, a.Scale() - b.Scale());
    Big t = q;
    return s <= natural || t.DivSmall(10) != 0;
  }
  if (s == 28) return true;
  Big n1, d1;  // one more place must not fit (truncated)
  numerator(s + 1, n1, d1);
  return Big::Cmp(n1, Big::Mul(d1, limit)) >= 0;
}

struct Tally {
  int identical = 0;       // same mantissa, scale and sign
  int sameValue = 0;       // equal values, other scale (trailing zeros) or a zero's sign
  int bothOverflow = 0;    // both report overflow
  int platformWrong = 0;   // differ, and the exact reference confirms ours
  int mismatched = 0;      // differ, and ours is not confirmed
  int total() const { return identical + sameValue + bothOverflow + platformWrong + mismatched; }
};

// Compares one operation; ours returns false for overflow. oursRight is the
// exact reference's verdict on ours.
void Check(Tally& tally, const std::string& what, HRESULT platformResult, const DECIMAL& platform,
           bool oursOk, const Decimal& ours, bool oursRight) {
  const bool platformOk = SUCCEEDED(platformResult);
  if (!platformOk && !oursOk) {
    ++tally.bothOverflow;
    return;
  }
  if (platformOk && oursOk) {
    const Decimal theirs = FromPlatform(platform);
    if (theirs.IdenticalTo(ours)) {
      ++tally.identical;
      return;
    }
    if (theirs == ours) {
      ++tally.sameValue;
      return;
    }
  }
  const std::string detail =
      what + ": platform " +
      (platformOk ? Text(FromPlatform(platform))
                  : "failed 0x" + std::to_string(static_cast<unsigned long>(platformResult))) +
      ", ours " + (oursOk ? Text(ours) : std::string("overflow"));
  if (oursRight) {
    if (++tally.platformWrong <= 2) std::printf("[ wine differs] %s (reference confirms ours)\n", detail.c_str());
    return;
  }
  if (++tally.mismatched <= 10) ADD_FAILURE() << detail;
}

void Report(const char* name, const Tally& t) {
  std::printf("[ cross-check ] %-12s %5d cases: %5d identical, %4d equal value, %4d both overflow, "
              "%4d platform differs (reference confirms ours), %d unconfirmed\n",
              name, t.total(), t.identical, t.sameValue, t.bothOverflow, t.platformWrong,
              t.mismatched);
  std::fflush(stdout);
  ::testing::Test::RecordProperty(std::string(name) + "_cases", t.total());
  ::testing::Test::RecordProperty(std::string(name) + "_platform_differs", t.platformWrong);
  ::testing::Test::RecordProperty(std::string(name) + "_unconfirmed", t.mismatched);
}

constexpr int kCases = 2000;

// One binary operation over kCases random operand pairs: ours against the
// platform's, each disagreement decided by the exact reference.
using PlatformBinary = HRESULT(WINAPI*)(DECIMAL*, DECIMAL*, DECIMAL*);
using OursBinary = bool (*)(const Decimal&, const Decimal&, Decimal&);
using ReferenceBinary = bool (*)(const Decimal&, const Decimal&, bool, const Decimal&);

Tally CrossCheckBinary(std::uint64_t seed, const char* symbol, PlatformBinary platform, OursBinary ours,
                       ReferenceBinary right, bool nonZeroDivisor) {
  Operands next(seed);
  Tally tally;
  for (int i = 0; i < kCases; ++i) {
    const Decimal a = next.Next();
    Decimal b = next.Next();
    if (nonZeroDivisor && b.IsZero()) b = Decimal(7);
    DECIMAL pa = ToPlatform(a), pb = ToPlatform(b), out{};
    Decimal result;
    const bool ok = ours(a, b, result);
    Check(tally, Text(a) + symbol + Text(b), platform(&pa, &pb, &out), out, ok, result, right(a, b, ok, result));
  }
  return tally;
}

TEST(DecimalOleAut, AddAgreesWithVarDecAdd) {
  const Tally tally = CrossCheckBinary(
      1, " + ", &VarDecAdd, &Decimal::TryAdd,
      [](const Decimal& a, const Decimal& b, bool ok, const Decimal& r) { return RightFor(ExactSum(a, b, false), ok, r); },
      false);
  Report("VarDecAdd", tally);
  EXPECT_EQ(tally.mismatched, 0);
}

TEST(DecimalOleAut, SubtractAgreesWithVarDecSub) {
  const Tally tally = CrossCheckBinary(
      2, " - ", &VarDecSub, &Decimal::TrySubtract,
      [](const Decimal& a, const Decimal& b, bool ok, const Decimal& r) { return RightFor(ExactSum(a, b, true), ok, r); },
      false);
  Report("VarDecSub", tally);
  EXPECT_EQ(tally.mismatched, 0);
}

TEST(DecimalOleAut, MultiplyAgreesWithVarDecMul) {
  const Tally tally = CrossCheckBinary(
      3, " * ", &VarDecMul, &Decimal::TryMultiply,
      [](const Decimal& a, const Decimal& b, bool ok, const Decimal& r) { return RightFor(ExactProduct(a, b), ok, r); },
      false);
  Report("VarDecMul", tally);
  EXPECT_EQ(tally.mismatched, 0);
}

TEST(DecimalOleAut, DivideAgreesWithVarDecDiv) {
  const Tally tally = CrossCheckBinary(
      4, " / ", &VarDecDiv,
      [](const Decimal& a, const Decimal& b, Decimal& r) { return Decimal::TryDivide(a, b, r); }, &RightQuotient,
      true);
  Report("VarDecDiv", tally);
  EXPECT_EQ(tally.mismatched, 0);
}

TEST(DecimalOleAut, RoundAgreesWithVarDecRound) {
  Operands next(5);
  Tally tally;
  for (int i = 0; i < kCases; ++i) {
    const Decimal a = next.Next();
    const int places = next.Places();
    DECIMAL pa = ToPlatform(a), out{};
    const Decimal ours = a.Round(places);
    const Exact e = ExactOf(a);
    const bool right = places >= a.Scale()
                           ? ours.IdenticalTo(a)
                           : SameAs(ours, Drop(e.m, a.Scale() - places, e.negative, false), places);
    Check(tally, "round(" + Text(a) + ", " + std::to_string(places) + ")",
          VarDecRound(&pa, places, &out), out, true, ours, right);
  }
  Report("VarDecRound", tally);
  EXPECT_EQ(tally.mismatched, 0);
}

TEST(DecimalOleAut, FloorAgreesWithVarDecInt) {
  Operands next(6);
  Tally tally;
  for (int i = 0; i < kCases; ++i) {
    const Decimal a = next.Next();
    DECIMAL pa = ToPlatform(a), out{};
    const Exact e = ExactOf(a);
    const bool right = SameAs(a.Floor(), Drop(e.m, a.Scale(), e.negative, true), 0);
    Check(tally, "int(" + Text(a) + ")", VarDecInt(&pa, &out), out, true, a.Floor(), right);
  }
  Report("VarDecInt", tally);
  EXPECT_EQ(tally.mismatched, 0);
}

TEST(DecimalOleAut, CompareAgreesWithVarDecCmp) {
  Operands next(7);
  int agreed = 0;
  for (int i = 0; i < kCases; ++i) {
    const Decimal a = next.Next();
    const Decimal b = i % 5 == 0 ? a.Round(a.Scale() / 2) : next.Next();
    DECIMAL pa = ToPlatform(a), pb = ToPlatform(b);
    const HRESULT r = VarDecCmp(&pa, &pb);
    const int theirs = r == VARCMP_LT ? -1 : r == VARCMP_GT ? 1 : 0;
    const int ours = Decimal::Compare(a, b);
    if (theirs == ours) {
      ++agreed;
    } else {
      ADD_FAILURE() << Text(a) << " <=> " << Text(b) << ": platform " << theirs << ", ours " << ours;
    }
  }
  std::printf("[ cross-check ] VarDecCmp    %5d cases: %5d agree\n", kCases, agreed);
  EXPECT_EQ(agreed, kCases);
}

}  // namespace
}  // namespace quax::agg
