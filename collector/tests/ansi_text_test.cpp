#include "ansi_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quax {
namespace {

using namespace std::string_literals;

std::vector<std::uint16_t> Units(const std::u16string& text) { return {text.begin(), text.end()}; }

std::string Ansi(const std::u16string& text, UINT codePage, std::size_t capacity = 64) {
  const std::vector<std::uint16_t> units = Units(text);
  std::vector<char> out(capacity, 'x');
  const std::size_t length = ToAnsiText(out.data(), out.size(), units, codePage);
  EXPECT_EQ(out[length], '\0');
  return std::string(out.data(), length);
}

TEST(AnsiText, EachCodePageKeepsItsOwnCharactersAndMarksTheRest) {
  const std::u16string text = u"\u041f\u0440\u043e\u0435\u043a\u0442-\u03a9-\u20ac-\u00e9";
  EXPECT_EQ(Ansi(text, 1251), "\xcf\xf0\xee\xe5\xea\xf2-?-\x88-?");
  EXPECT_EQ(Ansi(text, 1252), "??????" "-?-\x80-\xe9");
  EXPECT_EQ(Ansi(text, CP_UTF8), "\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb5\xd0\xba\xd1\x82-\xce\xa9-\xe2\x82\xac-\xc3\xa9");
}

TEST(AnsiText, NoLookAlikeStandsInForAMissingCharacter) {
  // A best fit would turn these into a backslash and a slash: a process
  // named with them would have its name split as a path.
  EXPECT_EQ(Ansi(u"C:\\a\uff3cb\u2215c.exe", 1252), "C:\\a?b?c.exe");
  EXPECT_EQ(Ansi(u"\uff3c", 1251), "?");
}

TEST(AnsiText, CutToTheCapacityAtACharacterBoundary) {
  // Two bytes a character in Shift-JIS, the second 0x5C: never half of one.
  EXPECT_EQ(Ansi(u"\u8868\u8868\u8868", 932, 6), "\x95\x5c\x95\x5c");
  EXPECT_EQ(Ansi(u"a\u8868", 932, 3), "a");
  // A surrogate pair is one character of four bytes in UTF-8.
  EXPECT_EQ(Ansi(u"a\U0001F600", CP_UTF8, 5), "a");
  EXPECT_EQ(Ansi(u"a\U0001F600", CP_UTF8, 6), "a\xf0\x9f\x98\x80");
  TextField field;
  const std::vector<std::uint16_t> longer(300, u'x');
  EXPECT_EQ(ToAnsiText(field, longer, 1252), kTextFieldSize - 1);
  EXPECT_EQ(std::string(field), std::string(kTextFieldSize - 1, 'x'));
  EXPECT_EQ(Ansi(u"abc", 1252, 1), "");
}

TEST(AnsiText, StopsAtNulAndUnknownCodePagesGiveNothing) {
  EXPECT_EQ(Ansi(u"ab\0cd"s, 1252), "ab");
  EXPECT_EQ(Ansi(u"", 1252), "");
  EXPECT_EQ(Ansi(u"abc", 4), "");
}

TEST(AnsiText, TheSystemCodePageIsTheDefault) {
  // collector_tests run with LC_ALL=ru_RU.UTF-8 (see collector/CMakeLists.txt),
  // so Wine gives them the Cyrillic code page of a Russian Windows.
  ASSERT_EQ(GetACP(), 1251u);
  const std::vector<std::uint16_t> units = Units(u"\u041f\u0440\u043e\u0435\u043a\u0442-\u03a9");
  TextField field;
  EXPECT_EQ(ToAnsiText(field, units), 8u);
  EXPECT_STREQ(field, "\xcf\xf0\xee\xe5\xea\xf2-?");
}

}  // namespace
}  // namespace quax
