#include "appinit_list.h"

#include <gtest/gtest.h>

namespace quax {
namespace {

TEST(AppInitList, RegisteringPlacesTheCollectorLastAndOnce) {
  EXPECT_EQ(RebuildAppInitList("a.dll, b.dll", true), "a.dll,b.dll,quaxcolhook.dll");
  EXPECT_EQ(RebuildAppInitList("other.dll", true), "other.dll,quaxcolhook.dll");
  EXPECT_EQ(RebuildAppInitList("", true), "quaxcolhook.dll");
  EXPECT_EQ(RebuildAppInitList("QuaxColHook.dll,a.dll", true), "a.dll,quaxcolhook.dll");
  EXPECT_EQ(RebuildAppInitList("quaxcolhook.dll", true), "quaxcolhook.dll");
}

TEST(AppInitList, UnregisteringRemovesEveryOccurrence) {
  EXPECT_EQ(RebuildAppInitList("a.dll b.dll QUAXCOLHOOK.DLL", false), "a.dll,b.dll");
  EXPECT_EQ(RebuildAppInitList("other.dll", false), "other.dll");
  EXPECT_EQ(RebuildAppInitList("quaxcolhook.dll", false), "");
  EXPECT_EQ(RebuildAppInitList("quaxcolhook.dll,x.dll,quaxcolhook.dll", false), "x.dll");
  EXPECT_EQ(RebuildAppInitList("", false), "");
}

TEST(AppInitList, EntriesNamingTheCollectorWithAFolderCount) {
  EXPECT_EQ(RebuildAppInitList("C:\\Windows\\System32\\quaxcolhook.dll,a.dll", false), "a.dll");
  EXPECT_EQ(RebuildAppInitList("a.dll,C:/tools/QUAXCOLHOOK.dll", true), "a.dll,quaxcolhook.dll");
  // A name that merely contains the library's name is another library.
  EXPECT_EQ(RebuildAppInitList("myquaxcolhook.dll", true), "myquaxcolhook.dll,quaxcolhook.dll");
  EXPECT_TRUE(ListNamesCollector("a.dll,C:\\Windows\\System32\\QuaxColHook.DLL"));
  EXPECT_TRUE(ListNamesCollector(" quaxcolhook.dll "));
  EXPECT_FALSE(ListNamesCollector("myquaxcolhook.dll"));
  EXPECT_FALSE(ListNamesCollector("quaxcolhook.dll.bak"));
  EXPECT_FALSE(ListNamesCollector(""));
}

TEST(AppInitList, SeparatorsBecomeSingleCommasAndEmptyEntriesGo) {
  EXPECT_EQ(RebuildAppInitList("a.dll,,b.dll", false), "a.dll,b.dll");
  EXPECT_EQ(RebuildAppInitList("  a.dll   b.dll  ", false), "a.dll,b.dll");
  EXPECT_EQ(RebuildAppInitList("a.dll\tb.dll", true), "a.dll,b.dll,quaxcolhook.dll");
  EXPECT_EQ(RebuildAppInitList(" , ", true), "quaxcolhook.dll");
  // With commas, blanks inside an entry stay (a folder with a space).
  EXPECT_EQ(RebuildAppInitList("C:\\My Dlls\\a.dll, b.dll", false), "C:\\My Dlls\\a.dll,b.dll");
}

TEST(AppInitList, LoadingIsTurnedOffOnlyByWhoTurnedItOnAndOnlyForAnEmptyList) {
  struct Case {
    AppInitState Now;
    bool Register;
    AppInitChange Expected;
  };
  const std::optional<bool> leave;
  const Case cases[] = {
      {{"", false, false}, true, {"quaxcolhook.dll", true, true}},
      {{"a.dll", true, false}, true, {"a.dll,quaxcolhook.dll", leave, leave}},    // someone else's
      {{"quaxcolhook.dll", true, true}, true, {"quaxcolhook.dll", leave, leave}},  // still ours
      {{"quaxcolhook.dll", true, true}, false, {"", false, false}},
      {{"quaxcolhook.dll", false, true}, false, {"", false, false}},
      {{"a.dll,quaxcolhook.dll", true, true}, false, {"a.dll", leave, leave}},  // a.dll still wants it
      {{"quaxcolhook.dll", true, false}, false, {"", leave, leave}},
      {{"", false, false}, false, {"", leave, leave}},
  };
  for (const Case& c : cases) {
    const AppInitChange change = PlanAppInitChange(c.Now, c.Register);
    EXPECT_EQ(change.List, c.Expected.List) << c.Now.List << " " << c.Register;
    EXPECT_EQ(change.Loading, c.Expected.Loading) << c.Now.List << " " << c.Register;
    EXPECT_EQ(change.Ours, c.Expected.Ours) << c.Now.List << " " << c.Register;
  }
}

}  // namespace
}  // namespace quax
