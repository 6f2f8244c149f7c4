#include "process_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quax {
namespace {

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

std::string Scan(const std::vector<std::uint16_t>& block, ProjectVariableScanner::State* final = nullptr) {
  ProjectVariableScanner scanner;
  for (std::uint16_t unit : block) {
    if (scanner.Feed(unit) != ProjectVariableScanner::State::Scanning) break;
  }
  if (final != nullptr) *final = scanner.Current();
  return scanner.Project();
}

TEST(Narrowing, KeepsAsciiAndLatin1AndReplacesTheRest) {
  const auto units = Units(u"Caf\u00e9 \u0141\u00f3d\u017a \U0001F600!");
  char text[64];
  EXPECT_EQ(NarrowText(text, sizeof text, units.data(), units.size()), units.size());
  EXPECT_STREQ(text, "Caf\xe9 ?\xf3" "d? ?" "?!");  // a surrogate pair is two units
}

TEST(Narrowing, StopsAtNulAndCutsAtCapacity) {
  const auto units = Units(u"abc\0def");
  char text[8];
  EXPECT_EQ(NarrowText(text, sizeof text, units.data(), 7), 3u);
  EXPECT_STREQ(text, "abc");
  const auto longer = Units(u"0123456789");
  EXPECT_EQ(NarrowText(text, sizeof text, longer.data(), longer.size()), 7u);
  EXPECT_STREQ(text, "0123456");
}

TEST(ImagePath, SplitsAtTheLastBackslash) {
  TextField name, directory;
  SplitImagePath("C:\\Tools\\app.exe", name, directory);
  EXPECT_STREQ(name, "app.exe");
  EXPECT_STREQ(directory, "C:\\Tools");
  SplitImagePath("\\??\\C:\\a\\b\\c.exe", name, directory);
  EXPECT_STREQ(name, "c.exe");
  EXPECT_STREQ(directory, "\\??\\C:\\a\\b");
}

TEST(ImagePath, WithoutBackslashBothAreTheWholePath) {
  TextField name, directory;
  SplitImagePath("app.exe", name, directory);
  EXPECT_STREQ(name, "app.exe");
  EXPECT_STREQ(directory, "app.exe");
}

TEST(ImagePath, LongPartsAreCutToTheField) {
  const std::string deepDirectory = "C:\\" + std::string(400, 'd');
  const std::string longName = std::string(300, 'n') + ".exe";
  TextField name, directory;
  SplitImagePath((deepDirectory + "\\" + longName).c_str(), name, directory);
  EXPECT_EQ(std::string(directory), deepDirectory.substr(0, kTextFieldSize - 1));
  EXPECT_EQ(std::string(name), longName.substr(0, kTextFieldSize - 1));
}

TEST(ProjectVariable, FirstOfTheTwoNamesWinsWhateverTheCase) {
  EXPECT_EQ(Scan(Block({u"PATH=C:\\bin", u"vorne_currproj=A", u"QUAXU_CURRPROJ=B"})), "A");
  EXPECT_EQ(Scan(Block({u"Quaxu_CurrProj=B", u"VORNE_CURRPROJ=A"})), "B");
}

TEST(ProjectVariable, AbsentOrLookalikeGivesEmpty) {
  ProjectVariableScanner::State state;
  EXPECT_EQ(Scan(Block({u"PATH=x", u"QUAXU_CURRPROJECT=X", u"XQUAXU_CURRPROJ=Y", u"QUAXU_CURRPROJ"}), &state), "");
  EXPECT_EQ(state, ProjectVariableScanner::State::Finished);
  EXPECT_EQ(Scan(Block({})), "");
}

TEST(ProjectVariable, EmptyValueIsAMatch) {
  ProjectVariableScanner::State state;
  EXPECT_EQ(Scan(Block({u"QUAXU_CURRPROJ=", u"VORNE_CURRPROJ=late"}), &state), "");
  EXPECT_EQ(state, ProjectVariableScanner::State::Found);
}

TEST(ProjectVariable, ValueIsCutToTheField) {
  const std::u16string value(1000, u'v');
  EXPECT_EQ(Scan(Block({u"QUAXU_CURRPROJ=" + value})), std::string(kTextFieldSize - 1, 'v'));
}

TEST(ProjectVariable, VeryLongVariableIsSkippedAsOne) {
  // Longer than a variable is ever taken into account: its tail must not be
  // read as the start of another variable.
  const std::u16string filler(ProjectVariableScanner::kMaxVariableLength + 10, u'x');
  EXPECT_EQ(Scan(Block({u"A=" + filler + u"QUAXU_CURRPROJ=no", u"VORNE_CURRPROJ=yes"})), "yes");
}

TEST(ProjectVariable, NonLatinValueIsNarrowedLikeOtherText) {
  EXPECT_EQ(Scan(Block({u"QUAXU_CURRPROJ=\u0141\u00f3d\u017a"})), "?\xf3" "d?");
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
