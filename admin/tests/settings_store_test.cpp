#include "settings_store.h"

#include <gtest/gtest.h>

#include "fake_form.h"

namespace quax {
namespace {

constexpr RegistryValueRef kA{kCollectorSettingsKey, "A"};
constexpr RegistryValueRef kB{kCollectorSettingsKey, "B"};
constexpr RegistryValueRef kC{kAppInitKey, "C"};

TEST(SettingsStore, AFailedWriteRestoresWhatWasWrittenBeforeIt) {
  test::FakeStore store;
  store.Set("A", "old a");
  store.failWrites["C"] = true;
  const PendingValue values[] = {{kA, "new a"}, {kB, "new b"}, {kC, "new c"}};
  EXPECT_FALSE(WriteAllOrNothing(store, values));
  EXPECT_EQ(store.Get("A"), "old a");
  EXPECT_FALSE(store.Get("B").has_value());
  EXPECT_EQ(store.log, (std::vector<std::string>{"write A=new a", "write B=new b", "write C=new c", "remove B",
                                                 "write A=old a"}));

  store.failWrites.clear();
  store.log.clear();
  EXPECT_TRUE(WriteAllOrNothing(store, values));
  EXPECT_EQ(store.Get("A"), "new a");
  EXPECT_EQ(store.Get("B"), "new b");
  EXPECT_EQ(store.log, (std::vector<std::string>{"write A=new a", "write B=new b", "write C=new c"}));
}

TEST(SettingsStore, FlagsNumbersAndTextsWithTheirDefaults) {
  test::FakeStore store;
  EXPECT_TRUE(ReadFlag(store, kA, true));
  EXPECT_FALSE(ReadFlag(store, kA, false));
  store.Set("A", "yEs");
  EXPECT_TRUE(ReadFlag(store, kA, false));
  store.Set("A", "Y");
  EXPECT_FALSE(ReadFlag(store, kA, true));

  EXPECT_EQ(ReadNumber(store, kB, -900), -900);
  store.Set("B", "-3600");
  EXPECT_EQ(ReadNumber(store, kB, -900), -3600);
  store.Set("B", "12abc");
  EXPECT_EQ(ReadNumber(store, kB, -900), -900);

  EXPECT_EQ(ReadText(store, kC), "");
  EXPECT_EQ(WithoutTrailingBackslashes("C:\\Logs\\\\"), "C:\\Logs");
  EXPECT_EQ(WithoutTrailingBackslashes("C:\\"), "C:");
  EXPECT_EQ(WithoutTrailingBackslashes("\\\\"), "");
}

}  // namespace
}  // namespace quax
