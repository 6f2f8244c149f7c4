#include "record/string_builder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "record/date_time.h"
#include "record/field_parsing.h"

namespace quax::agg {
namespace {

CStringBuilder Of(std::string_view text) {
  CStringBuilder b;
  b.SetValue(text);
  return b;
}

std::vector<std::string> Split(std::string_view line, std::vector<CStringBuilder>& fields) {
  Of(line).CSVSplit(fields);
  std::vector<std::string> values;
  for (const CStringBuilder& f : fields) values.push_back(f.Value());
  return values;
}

std::vector<std::string> Split(std::string_view line) {
  std::vector<CStringBuilder> fields(64);
  return Split(line, fields);
}

using Fields = std::vector<std::string>;

TEST(StringBuilder, StartsEmptyWithCapacity1024) {
  CStringBuilder b;
  EXPECT_EQ(b.Length(), 0);
  EXPECT_EQ(b.Capacity(), 1024);
  EXPECT_EQ(b.Value(), "");
}

TEST(StringBuilder, HashValueOfKnownTexts) {
  EXPECT_EQ(Of("").HashValue(), 1);
  EXPECT_EQ(Of("A").HashValue(), 82);
  EXPECT_EQ(Of("abc").HashValue(), 751);
  // Stays within 30 bits for long content.
  const std::int32_t h = Of(std::string(10000, '\xFF')).HashValue();
  EXPECT_GE(h, 1);
  EXPECT_LE(h, 0x3FFFFFFF);
}

// h = b0 + 17, then h = (b + 2h) & 0x3FFFFFFF byte by byte, against the
// eight-at-a-time form, over every length up to 100 and every byte value.
TEST(StringBuilder, HashValueAgreesWithTheByteRule) {
  std::mt19937 random(5);
  for (int round = 0; round < 2000; ++round) {
    std::string text(static_cast<std::size_t>(round % 101), ' ');
    for (char& c : text) c = static_cast<char>(random() % 256);
    std::uint32_t expected = 1;
    if (!text.empty()) {
      expected = static_cast<unsigned char>(text[0]) + 17u;
      for (std::size_t i = 1; i < text.size(); ++i) {
        expected = (static_cast<unsigned char>(text[i]) + 2u * expected) & 0x3FFFFFFFu;
      }
    }
    ASSERT_EQ(HashBytes(text), static_cast<std::int32_t>(expected)) << "length " << text.size();
  }
}

TEST(StringBuilder, SplitGroupsQuotedCommasAndKeepsEmptyFields) {
  EXPECT_EQ(Split("a,,\"b,c\",d"), (Fields{"a", "", "b,c", "d"}));
}

TEST(StringBuilder, SplitDropsCharactersAfterAClosingQuote) {
  EXPECT_EQ(Split("\"x\"y,z"), (Fields{"x", "z"}));
}

TEST(StringBuilder, SplitTreatsADoubledQuoteAsReopening) {
  // "a""b" : the second quote re-opens and the field restarts after it.
  EXPECT_EQ(Split("\"a\"\"b\",c"), (Fields{"b", "c"}));
}

TEST(StringBuilder, SplitOfTheOpenCasesAtLineEnds) {
  EXPECT_EQ(Split("a,\"b\""), (Fields{"a", "b"}));
  EXPECT_EQ(Split("a,b,"), (Fields{"a", "b"}));
  EXPECT_EQ(Split(",a"), (Fields{"", "a"}));
  EXPECT_EQ(Split("\"unterminated"), (Fields{"unterminated"}));
  EXPECT_EQ(Split(""), Fields{});
  EXPECT_EQ(Split("\""), (Fields{""}));
}

TEST(StringBuilder, SplitGrowsAndShrinksTheArrayToTheFieldCount) {
  std::vector<CStringBuilder> fields(2);
  EXPECT_EQ(Split("1,2,3,4", fields).size(), 4u);
  EXPECT_EQ(fields.size(), 4u);
  EXPECT_EQ(Split("1", fields).size(), 1u);
  EXPECT_EQ(fields.size(), 1u);
}

TEST(StringBuilder, GetLongFromRangeReadsDigitsAndMinusAnywhere) {
  EXPECT_EQ(Of("20240131").GetLongFromRange(4, 2), 1);
  EXPECT_EQ(Of("20240131").GetLongFromRange(0, 4), 2024);
  EXPECT_EQ(Of("12-3").GetLong(), -123);
  EXPECT_EQ(Of("a1b2").GetLong(), 12);
  EXPECT_EQ(Of("").GetLong(), 0);
  // 32-bit arithmetic without overflow check wraps.
  EXPECT_EQ(Of("4294967297").GetLong(), 1);
}

TEST(StringBuilder, GetLongFromRangeRefusesARangeOutsideTheContent) {
  EXPECT_THROW(Of("2024").GetLongFromRange(4, 2), Error);
  EXPECT_THROW(Of("2024").GetLongFromRange(-1, 2), Error);
  EXPECT_THROW(Of("2024").GetLongFromRange(2, -1), Error);
  EXPECT_THROW(Of("2024").GetLongFromRange(1, 0x7FFFFFFF), Error);
  EXPECT_EQ(Of("2024").GetLongFromRange(4, 0), 0);
}

// Digits accumulate, the first point starts the places, a minus anywhere
// negates, everything else is skipped: the text of the value that gives,
// against the parser, on short random texts.
TEST(StringBuilder, GetDecimalAgreesWithTheDigitRuleOnRandomTexts) {
  std::mt19937 random(13);
  const char alphabet[] = "0123456789000.-x,";
  for (int round = 0; round < 20000; ++round) {
    std::string text(random() % 20, ' ');
    for (char& c : text) c = alphabet[random() % (sizeof alphabet - 1)];
    std::string digits;
    std::size_t places = 0;
    bool point = false;
    bool negative = false;
    for (const char c : text) {
      if (c >= '0' && c <= '9') {
        digits += c;
        places += point ? 1 : 0;
      } else if (c == '.') {
        point = true;
      } else if (c == '-') {
        negative = true;
      }
    }
    std::string whole = digits.substr(0, digits.size() - places);
    std::string fraction = digits.substr(digits.size() - places);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    while (whole.size() > 1 && whole.front() == '0') whole.erase(0, 1);
    if (whole.empty()) whole = "0";
    std::string expected = fraction.empty() ? whole : whole + "." + fraction;
    if (negative && expected != "0") expected = "-" + expected;
    ASSERT_EQ(Of(text).GetDecimal().ToString(), expected) << text;
  }
}

TEST(StringBuilder, GetDecimalOfKnownTexts) {
  EXPECT_EQ(Of("12.50").GetDecimal().ToString(), "12.5");
  EXPECT_EQ(Of("-0.25").GetDecimal().ToString(), "-0.25");
  EXPECT_EQ(Of("1,234").GetDecimal().ToString(), "1234");
  EXPECT_EQ(Of(".5").GetDecimal().ToString(), "0.5");
  EXPECT_EQ(Of("1.2.3").GetDecimal().ToString(), "1.23");
  EXPECT_EQ(Of("1e5").GetDecimal().ToString(), "15");
  EXPECT_EQ(Of("abc").GetDecimal().ToString(), "0");
  EXPECT_EQ(Of("12.500000").GetDecimal().ToString(), "12.5");
  EXPECT_EQ(Of("0.000000").GetDecimal().ToString(), "0");
  EXPECT_EQ(Of("-3").GetDecimal().ToString(), "-3");
}

TEST(StringBuilder, GetDecimalBeyond28PlacesRoundsStepByStep) {
  // Thirty places: each division by ten past 28 places rounds on its own.
  EXPECT_EQ(Of("0.000000000000000000000000000251").GetDecimal().ToString(),
            "0.0000000000000000000000000002");
  EXPECT_EQ(Of("12345678901234567890.123456789").GetDecimal().ToString(),
            "12345678901234567890.123456789");
}

TEST(StringBuilder, GetDecimalOfTooManyDigitsOverflows) {
  EXPECT_THROW(Of("79228162514264337593543950336").GetDecimal(), DecimalOverflow);
  EXPECT_THROW(Of(std::string(5000, '9')).GetDecimal(), DecimalOverflow);
  EXPECT_EQ(Of(std::string(5000, '0') + "1").GetDecimal().ToString(), "1");
}

TEST(StringBuilder, GetDateRollsOverLikeDateSerial) {
  EXPECT_DOUBLE_EQ(Of("18991230").GetDate(), 0.0);
  EXPECT_DOUBLE_EQ(Of("20240131").GetDate(), 45322.0);
  EXPECT_DOUBLE_EQ(Of("20231301").GetDate(), Of("20240101").GetDate());
  EXPECT_DOUBLE_EQ(Of("20240300").GetDate(), Of("20240229").GetDate());
  EXPECT_DOUBLE_EQ(Of("01000101").GetDate(), kNoDate);
  EXPECT_THROW(Of("2024").GetDate(), Error);
  EXPECT_DOUBLE_EQ(Of("00000000").GetDate(), Of("19991130").GetDate());  // year 0 is 2000
  EXPECT_THROW(Of("99999999").GetDate(), Error);  // beyond 9999
}

TEST(StringBuilder, LengthLetPadsWithSpacesAndIgnoresNonPositive) {
  CStringBuilder b = Of("ab");
  b.SetLength(4);
  EXPECT_EQ(b.Value(), "ab  ");
  b.SetLength(0);
  EXPECT_EQ(b.Length(), 4);
  b.SetLength(-3);
  EXPECT_EQ(b.Length(), 4);
  b.SetLength(1);
  EXPECT_EQ(b.Value(), "a");
  b.SetLength(2000);
  EXPECT_EQ(b.Capacity(), 2000);
  EXPECT_EQ(b.Value().substr(0, 2), "a ");
}

TEST(StringBuilder, AppendGrowsExactlyAndKeepsBytes) {
  CStringBuilder b = Of(std::string(1000, 'x'));
  b.Append(std::string(100, 'y'));
  EXPECT_EQ(b.Length(), 1100);
  EXPECT_EQ(b.Capacity(), 1100);
  EXPECT_EQ(b.Value().substr(995, 10), "xxxxxyyyyy");
  b.AppendString("");
  EXPECT_EQ(b.Length(), 1100);
  b.Clear();
  EXPECT_EQ(b.Length(), 0);
  EXPECT_EQ(b.Capacity(), 1100);
}

TEST(StringBuilder, SetFromByteBufferChecksTheRange) {
  const char bytes[] = "hello world";
  CStringBuilder b;
  b.SetFromByteBuffer(bytes, 11, 6, 5);
  EXPECT_EQ(b.Value(), "world");
  EXPECT_THROW(b.SetFromByteBuffer(bytes, 11, 6, 6), Error);
  EXPECT_THROW(b.SetFromByteBuffer(bytes, 11, -1, 2), Error);
  EXPECT_EQ(b.Value(), "world");
}

TEST(StringBuilder, SetBufferSizeOnlyGrows) {
  CStringBuilder b = Of("keep");
  b.SetBufferSize(10);
  EXPECT_EQ(b.Capacity(), 1024);
  b.SetBufferSize(4096);
  EXPECT_EQ(b.Capacity(), 4096);
  EXPECT_EQ(b.Value(), "keep");
  b.SetBufferSize(8192, true);
  EXPECT_EQ(b.Length(), 0);
}

}  // namespace
}  // namespace quax::agg
