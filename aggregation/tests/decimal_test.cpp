#include "record/decimal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

namespace quax::agg {
namespace {

Decimal D(const char* text) { return Decimal::Parse(text); }
std::string S(const Decimal& d) { return d.ToString(); }

constexpr const char* kMax = "79228162514264337593543950335";  // 2^96 - 1

TEST(Decimal, FromIntegersKeepsSignAndMagnitude) {
  EXPECT_EQ(S(Decimal(0)), "0");
  EXPECT_EQ(S(Decimal(-7)), "-7");
  EXPECT_EQ(S(Decimal(INT32_MIN)), "-2147483648");
  EXPECT_EQ(S(Decimal::FromInt64(INT64_MIN)), "-9223372036854775808");
  EXPECT_EQ(S(Decimal::FromUInt64(UINT64_MAX)), "18446744073709551615");
}

TEST(Decimal, ParseKeepsTrailingZerosAndReadsExponents) {
  EXPECT_EQ(S(D("1.50")), "1.50");
  EXPECT_EQ(D("1.50").Scale(), 2);
  EXPECT_EQ(S(D("-0.25")), "-0.25");
  EXPECT_EQ(S(D(" +12 ")), "12");
  EXPECT_EQ(S(D("1.5e3")), "1500");
  EXPECT_EQ(S(D("15e-1")), "1.5");
  EXPECT_EQ(S(D(kMax)), kMax);
  EXPECT_EQ(S(D(".5")), "0.5");
}

TEST(Decimal, ParseRoundsBeyond28PlacesHalfToEven) {
  EXPECT_EQ(S(D("0.00000000000000000000000000015")), "0.0000000000000000000000000002");
  EXPECT_EQ(S(D("0.00000000000000000000000000025")), "0.0000000000000000000000000002");
  EXPECT_EQ(S(D("0.000000000000000000000000000251")), "0.0000000000000000000000000003");
}

TEST(Decimal, ParseRefusesGarbageAndOverflow) {
  EXPECT_THROW(D("abc"), DecimalTypeMismatch);
  EXPECT_THROW(D("1,5"), DecimalTypeMismatch);
  EXPECT_THROW(D(""), DecimalTypeMismatch);
  EXPECT_THROW(D("1e"), DecimalTypeMismatch);
  EXPECT_THROW(D("79228162514264337593543950336"), DecimalOverflow);
  EXPECT_THROW(D("1e29"), DecimalOverflow);
  Decimal d;
  EXPECT_FALSE(Decimal::TryParse("--1", d));
}

TEST(Decimal, AddOfEqualScaleIsExact) {
  EXPECT_EQ(S(D("1.25") + D("2.50")), "3.75");
  EXPECT_EQ(S(D("-1.25") + D("-2.50")), "-3.75");
  EXPECT_EQ(S(D("18446744073709551615") + D("1")), "18446744073709551616");
}

TEST(Decimal, AddAlignsScalesAndSigns) {
  EXPECT_EQ(S(D("1.5") + D("2.25")), "3.75");
  EXPECT_EQ(S(D("1") - D("0.001")), "0.999");
  EXPECT_EQ(S(D("-5") + D("3.5")), "-1.5");
  EXPECT_EQ(S(D("2.5") - D("2.5")), "0.0");
  EXPECT_FALSE((D("2.5") - D("2.5")).IsNegative());
}

TEST(Decimal, AddThatNeedsMoreDigitsRoundsHalfToEven) {
  // 2^96-1 + 0.5 must drop the place: ...335.5 rounds to ...336, which does
  // not fit at scale 0.
  Decimal r;
  EXPECT_FALSE(Decimal::TryAdd(D(kMax), D("0.5"), r));
  EXPECT_EQ(S(D("7922816251426433759354395033") + D("0.5")), "7922816251426433759354395033.5");
  EXPECT_EQ(S(D("7922816251426433759354395035") + D("0.5")), "7922816251426433759354395036");
  EXPECT_EQ(S(D("7922816251426433759354395034") + D("0.5")), "7922816251426433759354395034");
  EXPECT_EQ(S(D("7922816251426433759354395034") + D("0.51")), "7922816251426433759354395035");
  EXPECT_EQ(S(D("1") + D("0.0000000000000000000000000005")), "1.0000000000000000000000000005");
  EXPECT_EQ(S(D("10") + D("0.0000000000000000000000000005")), "10.000000000000000000000000000");
  EXPECT_EQ(S(D("10") + D("0.0000000000000000000000000015")), "10.000000000000000000000000002");
}

TEST(Decimal, OverflowIsReportedNeverWrapped) {
  Decimal r = D("5");
  EXPECT_FALSE(Decimal::TryAdd(D(kMax), D("1"), r));
  EXPECT_EQ(S(r), "5");  // untouched
  EXPECT_THROW(D(kMax) + D("1"), DecimalOverflow);
  EXPECT_THROW(-D(kMax) - D("1"), DecimalOverflow);
  EXPECT_THROW(D(kMax) * D("2"), DecimalOverflow);
  EXPECT_THROW(D(kMax) / D("0.5"), DecimalOverflow);
  EXPECT_THROW(D("1") / D("0"), DecimalDivideByZero);
}

TEST(Decimal, MultiplyAddsScalesAndRoundsBeyond28Places) {
  EXPECT_EQ(S(D("1.5") * D("2.5")), "3.75");
  EXPECT_EQ(S(D("-1.10") * D("3")), "-3.30");
  EXPECT_EQ(S(D("0.0000000000001") * D("0.0000000000001")), "0.00000000000000000000000001");
  EXPECT_EQ(S(D("0.00000000000005") * D("0.000000000000005")), "0.0000000000000000000000000002");
  EXPECT_EQ(S(D("0.00000000000015") * D("0.000000000000001")), "0.0000000000000000000000000002");
  // Needs 30 digits: 79228162514264337593543950335 * 1.1
  EXPECT_EQ(S(D("7922816251426433759354395033.5") * D("1.1")), "8715097876569077135289834537");
}

TEST(Decimal, DivideGivesNaturalScaleOrAsManyPlacesAsFit) {
  EXPECT_EQ(S(D("10") / D("4")), "2.5");
  EXPECT_EQ(S(D("1") / D("4")), "0.25");
  EXPECT_EQ(S(D("1.0") / D("1")), "1.0");
  EXPECT_EQ(S(D("1") / D("3")), "0.3333333333333333333333333333");
  EXPECT_EQ(S(D("2") / D("3")), "0.6666666666666666666666666667");
  EXPECT_EQ(S(D("1") / D("0.5")), "2");
  EXPECT_EQ(S(D("-7") / D("2")), "-3.5");
  EXPECT_EQ(S(D("1000") / D("3")), "333.33333333333333333333333333");
  EXPECT_EQ(S(D("12.50") / D("10")), "1.25");  // exact at the natural scale
}

TEST(Decimal, CompareIsByValue) {
  EXPECT_EQ(D("1.50"), D("1.5"));
  EXPECT_FALSE(D("1.50").IdenticalTo(D("1.5")));
  EXPECT_LT(D("-2"), D("-1.999"));
  EXPECT_GT(D("0.0000000000000000000000000001"), D("0"));
  EXPECT_EQ(-D("0"), D("0"));
  EXPECT_LT(D("79228162514264337593543950334"), D(kMax));
  EXPECT_LT(D("7.9228162514264337593543950335"), D("8"));
}

TEST(Decimal, FloorTruncateAndNegate) {
  EXPECT_EQ(S(D("2.7").Floor()), "2");
  EXPECT_EQ(S(D("-2.1").Floor()), "-3");
  EXPECT_EQ(S(D("-2.0").Floor()), "-2");
  EXPECT_EQ(S(D("-2.7").Truncate()), "-2");
  EXPECT_EQ(S(-D("2.5")), "-2.5");
  EXPECT_EQ(S(-(-D("2.5"))), "2.5");
}

TEST(Decimal, RoundIsHalfToEvenLikeVarDecRound) {
  EXPECT_EQ(S(D("2.5").Round(0)), "2");
  EXPECT_EQ(S(D("3.5").Round(0)), "4");
  EXPECT_EQ(S(D("-2.5").Round(0)), "-2");
  EXPECT_EQ(S(D("2.51").Round(0)), "3");
  EXPECT_EQ(S(D("1.005").Round(2)), "1.00");
  EXPECT_EQ(S(D("1.2").Round(5)), "1.2");
  EXPECT_THROW(D("1").Round(-1), Error);
  EXPECT_EQ(S(D("2.5").RoundHalfAwayFromZero(0)), "3");
  EXPECT_EQ(S(D("-2.5").RoundHalfAwayFromZero(0)), "-3");
}

TEST(Decimal, FromDoubleKeepsFifteenSignificantDigits) {
  EXPECT_EQ(S(Decimal::FromDouble(0.1)), "0.1");
  EXPECT_EQ(S(Decimal::FromDouble(1.0 / 3.0)), "0.333333333333333");
  EXPECT_EQ(S(Decimal::FromDouble(-1234.5)), "-1234.5");
  EXPECT_EQ(S(Decimal::FromDouble(1e20)), "100000000000000000000");
  EXPECT_EQ(S(Decimal::FromDouble(0.0)), "0");
  EXPECT_THROW(Decimal::FromDouble(1e30), DecimalOverflow);
  EXPECT_THROW(Decimal::FromDouble(std::numeric_limits<double>::quiet_NaN()), DecimalOverflow);
  EXPECT_DOUBLE_EQ(D("-12.5").ToDouble(), -12.5);
}

TEST(Decimal, FormatFixedRoundsHalfAwayFromZeroWithPoint) {
  char text[80];
  const auto fixed = [&](const char* value, int places) {
    return std::string(text, D(value).FormatFixed(text, places));
  };
  EXPECT_EQ(fixed("1.5", 6), "1.500000");
  EXPECT_EQ(fixed("-0.25", 6), "-0.250000");
  EXPECT_EQ(fixed("7.0000001", 6), "7.000000");
  EXPECT_EQ(fixed("0.0000005", 6), "0.000001");
  EXPECT_EQ(fixed("-0.0000004", 6), "0.000000");
  EXPECT_EQ(fixed("42", 0), "42");
  EXPECT_EQ(fixed(kMax, 6), std::string(kMax) + ".000000");
  EXPECT_EQ(fixed("0.1234567890123456789012345678", 6), "0.123457");
}

// Values whose scale fits the places: the exact value padded with zeros to
// the places, whichever way the digits are written.
TEST(Decimal, FormatFixedPadsExactValuesToThePlaces) {
  std::mt19937_64 random(11);
  char text[80];
  for (int i = 0; i < 5000; ++i) {
    const int places = static_cast<int>(random() % 13);
    const int scale = places == 0 ? 0 : static_cast<int>(random() % static_cast<unsigned>(places + 1));
    const std::uint64_t mantissa = random() >> (random() % 64);
    const bool negative = mantissa != 0 && random() % 2 == 0;
    const Decimal d = Decimal::FromMantissa64(mantissa, scale, negative);
    std::string expected = S(d);
    const std::size_t point = expected.find('.');
    const std::size_t have = point == std::string::npos ? 0 : expected.size() - point - 1;
    if (places > 0 && point == std::string::npos) expected += '.';
    expected.append(static_cast<std::size_t>(places) - have, '0');
    ASSERT_EQ(std::string(text, d.FormatFixed(text, places)), expected)
        << mantissa << " scale " << scale << " places " << places;
  }
}

TEST(Decimal, DivideByTenMatchesDivisionByTen) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 2000; ++i) {
    const Decimal d = Decimal::FromParts(static_cast<std::uint32_t>(random()),
                                         static_cast<std::uint32_t>(random()),
                                         static_cast<std::uint32_t>(random() % 4),
                                         static_cast<int>(random() % 29), random() % 2 == 0);
    Decimal viaMethod = d;
    viaMethod.DivideByTen();
    const Decimal viaDivision = d / Decimal(10);
    ASSERT_TRUE(viaMethod.IdenticalTo(viaDivision)) << S(d);
  }
}

TEST(Decimal, RandomAddSubtractRoundTrip) {
  std::mt19937_64 random(11);
  for (int i = 0; i < 5000; ++i) {
    const int scale = static_cast<int>(random() % 10);
    const Decimal a = Decimal::FromParts(static_cast<std::uint32_t>(random()),
                                         static_cast<std::uint32_t>(random() >> 40), 0, scale,
                                         random() % 2 == 0);
    const Decimal b = Decimal::FromParts(static_cast<std::uint32_t>(random()),
                                         static_cast<std::uint32_t>(random() >> 40), 0,
                                         static_cast<int>(random() % 10), random() % 2 == 0);
    ASSERT_EQ((a + b) - b, a);
    ASSERT_EQ(a * Decimal(3) / Decimal(3), a);
  }
}

}  // namespace
}  // namespace quax::agg
