#include "settings_store.h"

#include <gtest/gtest.h>

#include "fake_form.h"

namespace quax {
namespace {

constexpr RegistryValueRef kA{kSettingsKey, "A"};
constexpr RegistryValueRef kB{kSettingsKey, "B"};
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

TEST(SettingsStore, CollectorSettingsAreLoadedByTheReadingCollectorsRules) {
  test::FakeStore store;
  CollectorSettings settings;
  // Without the key: each collector's defaults.
  EXPECT_FALSE(LoadCollectorSettings(store, SettingsReader::Service, settings));
  EXPECT_EQ(settings.AccountingInterval, 86400);
  EXPECT_EQ(settings.SamplingInterval, 1);
  EXPECT_STREQ(settings.LogFilePrefix, "QUAXProcessLog-");
  EXPECT_TRUE(settings.UseLocalTime);
  EXPECT_FALSE(LoadCollectorSettings(store, SettingsReader::InProcess, settings));
  EXPECT_EQ(settings.AccountingInterval, 60);
  EXPECT_EQ(settings.SamplingInterval, 60);

  store.Set("AccountingInterval", "15s");
  store.Set("SamplingInterval", "0");
  store.Set("UseLocalTime", "yEs");
  store.Set("AccountingIntervalCommand", "run.cmd");
  store.Set("AccountingIntervalTime", "07.30");
  store.Set("LogFilePath", std::string(300, 'p'));
  store.Set("LogFilePrefix", std::string(1024, 'x'));  // too long for the collectors' read
  EXPECT_TRUE(LoadCollectorSettings(store, SettingsReader::Service, settings));
  EXPECT_EQ(settings.AccountingInterval, 15);
  EXPECT_EQ(settings.SamplingInterval, 1);
  EXPECT_TRUE(settings.UseLocalTime);
  EXPECT_STREQ(settings.AccountingIntervalCommand, "run.cmd");
  EXPECT_EQ(settings.AccountingIntervalTime.Hour, 7);
  EXPECT_EQ(settings.AccountingIntervalTime.Minute, 30);
  EXPECT_EQ(std::string(settings.LogFilePath), std::string(259, 'p'));
  EXPECT_STREQ(settings.LogFilePrefix, "QUAXProcessLog-");

  // The in-process collector reads neither the command nor the time.
  EXPECT_TRUE(LoadCollectorSettings(store, SettingsReader::InProcess, settings));
  EXPECT_EQ(settings.AccountingInterval, 15);
  EXPECT_EQ(settings.SamplingInterval, 60);
  EXPECT_STREQ(settings.AccountingIntervalCommand, "");
  EXPECT_EQ(settings.AccountingIntervalTime.Hour, 0);
}

TEST(SettingsStore, TextsAndLogPaths) {
  test::FakeStore store;
  EXPECT_EQ(ReadText(store, kC), "");
  store.values[test::FakeStore::Name(kC)] = "a.dll";
  EXPECT_EQ(ReadText(store, kC), "a.dll");
  EXPECT_EQ(WithoutTrailingBackslashes("C:\\Logs\\\\"), "C:\\Logs");
  EXPECT_EQ(WithoutTrailingBackslashes("C:\\"), "C:");
  EXPECT_EQ(WithoutTrailingBackslashes("\\\\"), "");
}

}  // namespace
}  // namespace quax
