#include "process_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quax {
namespace {

using namespace std::string_literals;

std::vector<std::uint16_t> Units(const std::u16string& text) { return {text.begin(), text.end()}; }

// An environment block: each variable NUL-terminated, an empty one at the end.
std::vector<std::uint16_t> Block(const std::vector<std::u16string>& variables) {
  std::vector<std::uint16_t> block;
  for (const std::u16string& variable : variables) {
    block.insert(block.end(), variable.begin(), variable.end());
    block.push_back(0);
  }
  block.push_back(0);
  return block;
}

std::u16string Text(Utf16Units units) { return std::u16string(units.begin(), units.end()); }

std::u16string Scan(const std::vector<std::uint16_t>& block, ProjectVariableScanner::State* final = nullptr) {
  ProjectVariableScanner scanner;
  for (std::uint16_t unit : block) {
    if (scanner.Feed(unit) != ProjectVariableScanner::State::Scanning) break;
  }
  if (final != nullptr) *final = scanner.Current();
  return Text(scanner.Project());
}

TEST(ImagePath, SplitsAtTheLastBackslash) {
  const auto path = Units(u"C:\\Tools\\app.exe");
  ImagePathParts parts = SplitImagePath(path);
  EXPECT_EQ(Text(parts.Name), u"app.exe");
  EXPECT_EQ(Text(parts.Directory), u"C:\\Tools");
  const auto nt = Units(u"\\??\\C:\\a\\b\\c.exe");
  parts = SplitImagePath(nt);
  EXPECT_EQ(Text(parts.Name), u"c.exe");
  EXPECT_EQ(Text(parts.Directory), u"\\??\\C:\\a\\b");
}

TEST(ImagePath, WithoutBackslashBothAreTheWholePath) {
  const auto path = Units(u"app.exe");
  const ImagePathParts parts = SplitImagePath(path);
  EXPECT_EQ(Text(parts.Name), u"app.exe");
  EXPECT_EQ(Text(parts.Directory), u"app.exe");
}

TEST(ImagePath, OnlyTheBackslashItselfSplitsAndANulEndsThePath) {
  // A fullwidth backslash or a character whose code page bytes hold 0x5C
  // is part of a name.
  const auto path = Units(u"C:\\\u8868\\quax\uff3chost.exe\0C:\\x"s);
  const ImagePathParts parts = SplitImagePath(path);
  EXPECT_EQ(Text(parts.Name), u"quax\uff3chost.exe");
  EXPECT_EQ(Text(parts.Directory), u"C:\\\u8868");
  EXPECT_EQ(Text(UntilNul(path)), u"C:\\\u8868\\quax\uff3chost.exe");
}

TEST(ProjectVariable, FirstOfTheTwoNamesWinsWhateverTheCase) {
  EXPECT_EQ(Scan(Block({u"PATH=C:\\bin", u"vorne_currproj=A", u"QUAXU_CURRPROJ=B"})), u"A");
  EXPECT_EQ(Scan(Block({u"Quaxu_CurrProj=B", u"VORNE_CURRPROJ=A"})), u"B");
}

TEST(ProjectVariable, AbsentOrLookalikeGivesEmpty) {
  ProjectVariableScanner::State state;
  EXPECT_EQ(Scan(Block({u"PATH=x", u"QUAXU_CURRPROJECT=X", u"XQUAXU_CURRPROJ=Y", u"QUAXU_CURRPROJ"}), &state), u"");
  EXPECT_EQ(state, ProjectVariableScanner::State::Finished);
  EXPECT_EQ(Scan(Block({})), u"");
  // Only ASCII letters match without regard to case: a letter whose low
  // byte is an ASCII one ("\u014f", 0x4F) is another name.
  EXPECT_EQ(Scan(Block({u"QUAXU_CURRPR\u014fJ=no", u"QUAXU_CURRPROJ=yes"})), u"yes");
}

TEST(ProjectVariable, EmptyValueIsAMatch) {
  ProjectVariableScanner::State state;
  EXPECT_EQ(Scan(Block({u"QUAXU_CURRPROJ=", u"VORNE_CURRPROJ=late"}), &state), u"");
  EXPECT_EQ(state, ProjectVariableScanner::State::Found);
}

TEST(ProjectVariable, ValueIsCutToWhatTheFieldCanTake) {
  const std::u16string value(1000, u'v');
  EXPECT_EQ(Scan(Block({u"QUAXU_CURRPROJ=" + value})), std::u16string(kTextFieldSize - 1, u'v'));
}

TEST(ProjectVariable, VeryLongVariableIsSkippedAsOne) {
  // Longer than a variable is ever taken into account: its tail must not be
  // read as the start of another variable.
  const std::u16string filler(ProjectVariableScanner::kMaxVariableLength + 10, u'x');
  EXPECT_EQ(Scan(Block({u"A=" + filler + u"QUAXU_CURRPROJ=no", u"VORNE_CURRPROJ=yes"})), u"yes");
}

TEST(ProjectVariable, NonLatinValueKeepsEveryUnit) {
  EXPECT_EQ(Scan(Block({u"QUAXU_CURRPROJ=\u041f\u0440\u043e\u0435\u043a\u0442-\u03a9"})),
            u"\u041f\u0440\u043e\u0435\u043a\u0442-\u03a9");
}

TEST(FixedText, CopyAndFormatNeverOverrun) {
  char small[5] = {'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(CopyText(small, "abcdefgh"), 5u);
  EXPECT_STREQ(small, "abcd");
  EXPECT_EQ(CopyText(small, nullptr), 1u);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(FormatText(small, sizeof small, "%d-%s", 12, "xyz"), 4u);
  EXPECT_STREQ(small, "12-x");
  EXPECT_TRUE(EqualsIgnoreCase("Yes", "YES"));
  EXPECT_FALSE(EqualsIgnoreCase("Ye", "YES"));
  EXPECT_FALSE(EqualsIgnoreCase("Yess", "YES"));
}

}  // namespace
}  // namespace quax
