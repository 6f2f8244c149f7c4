// What the tools take as inputs: wildcards (which cmd.exe leaves to the
// program), paths too long for the Windows file functions, and the daily
// log files in the folders of a collecting share.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "tools/input_expansion.h"
#include "tools/log_files.h"

namespace quax::agg::tools {
namespace {

using testing::ScratchFolder;
using testing::WriteText;

TEST(InputWildcards, StarAndQuestionMarkMatchNamesIgnoringCase) {
  struct Case {
    const char* Pattern;
    const char* Text;
    bool Matches;
  };
  for (const Case& c : std::vector<Case>{{"*", "", true},
                                         {"QUAXProcessLog-*.txt", "quaxprocesslog-20261208.TXT", true},
                                         {"QUAXProcessLog-*.txt", "QUAXProcessLog-20261208.txt.bak", false},
                                         {"HOST?", "HOST1", true},
                                         {"HOST?", "HOST12", false},
                                         {"*a*b*c", "xxaybbzc", true},
                                         {"*a*b*c", "xxaybbzcd", false},
                                         {"NT AUTHORITY\\*", "nt authority\\SYSTEM", true},
                                         {"Window Manager\\DWM-*", "Window Manager\\UMFD-1", false}}) {
    EXPECT_EQ(MatchesWildcard(c.Pattern, c.Text), c.Matches) << c.Pattern << " " << c.Text;
  }
}

TEST(InputWildcards, PatternsExpandToTheFilesTheyMatchInSortedOrder) {
  const ScratchFolder folder;
  const std::string root = folder.Path();
  for (const char* file : {"host2/QUAXProcessLog-20261208.txt", "HOST1/QUAXProcessLog-20261209.txt",
                           "HOST1/QUAXProcessLog-20261208.txt", "HOST1/notes.doc", "other/QUAXProcessLog-20261208.txt"}) {
    std::filesystem::create_directories(std::filesystem::path(root + file).parent_path());
    WriteText(root + file, "x");
  }
  std::filesystem::create_directories(root + "HOST1/QUAXProcessLog-folder.txt");
  std::vector<std::string> inputs = {root + "HOST*/QUAXProcessLog-*.txt", "-", root + "HOST1/notes.doc"};
  ASSERT_EQ(ExpandWildcards(inputs), std::nullopt);
  EXPECT_EQ(inputs, (std::vector<std::string>{root + "HOST1/QUAXProcessLog-20261208.txt",
                                              root + "HOST1/QUAXProcessLog-20261209.txt",
                                              root + "host2/QUAXProcessLog-20261208.txt", "-",
                                              root + "HOST1/notes.doc"}));

  // A pattern that matches nothing is named, and the inputs stay as they were.
  std::vector<std::string> unmatched = {root + "HOST1/*.txt", root + "HOST3*/*.txt"};
  EXPECT_EQ(ExpandWildcards(unmatched), "no file matches '" + root + "HOST3*/*.txt'");
  EXPECT_EQ(unmatched.front(), root + "HOST1/*.txt");

  EXPECT_EQ(PathLengthProblem("C:\\logs\\x.txt", 259), std::nullopt);
  EXPECT_EQ(PathLengthProblem("x.txt", 300),
            "'x.txt' is 300 characters long as a full path; Windows opens at most 259 for this program: use a "
            "shorter path (a drive letter for a deep folder, subst X: FOLDER)");
}

TEST(DailyLogs, NamesAreRecognisedByPrefixAndDate) {
  std::int64_t day = 0;
  ASSERT_TRUE(DailyLogDay("QUAXProcessLog-20261208.txt", kDefaultLogPrefix, day));
  std::int64_t same = 0;
  ASSERT_TRUE(ParseDay("2026-12-08", same));
  EXPECT_EQ(day, same);
  EXPECT_TRUE(DailyLogDay("quaxprocesslog-20261208.TXT", kDefaultLogPrefix, day));
  EXPECT_TRUE(DailyLogDay("Acct-20240229.txt", "Acct-", day));
  for (const char* other : {"QUAXProcessLog-20261308.txt", "QUAXProcessLog-2026120.txt", "QUAXProcessLog-20261208.log",
                            "QUAXProcessLog-20261208.txt.bak", "Acct-20230229.txt"}) {
    EXPECT_FALSE(DailyLogDay(other, other[0] == 'A' ? "Acct-" : kDefaultLogPrefix, day)) << other;
  }
  EXPECT_FALSE(ParseDay("2026-12-8", day));
  EXPECT_FALSE(ParseDay("20261208", day));
}

}  // namespace
}  // namespace quax::agg::tools
