#include "settings_store.h"

#include <gtest/gtest.h>

#include "fake_form.h"

namespace quax {
namespace {

constexpr RegistryValueRef kA{kSettingsKey, "A"};
constexpr RegistryValueRef kB{kSettingsKey, "B"};
constexpr RegistryValueRef kC{kAppInitKey, "C"};
constexpr RegistryValueRef kD{kSettingsKey, "D"};

TEST(SettingsStore, AFailedWriteRestoresWhatWasChangedBeforeItWithItsType) {
  test::FakeStore store;
  // A number stored as such: the collectors read its bytes, not "60".
  store.numbers[test::FakeStore::Name(kA)] = 60;
  store.Set("D", "old d");
  store.failWrites["C"] = true;
  const PendingValue values[] = {{kA, "new a"}, {kB, "new b"}, {kD, std::nullopt}, {kC, "new c"}};
  EXPECT_FALSE(WriteAllOrNothing(store, values));
  EXPECT_EQ(store.ReadData(kA), RegistryData::Number(60));
  EXPECT_FALSE(store.Get("B").has_value());
  EXPECT_EQ(store.Get("D"), "old d");
  EXPECT_EQ(store.log, (std::vector<std::string>{"write A=new a", "write B=new b", "remove D", "write C=new c",
                                                 "write D=old d", "remove B", "write A=dword:60"}));

  store.failWrites.clear();
  store.log.clear();
  EXPECT_TRUE(WriteAllOrNothing(store, values));
  EXPECT_EQ(store.Get("A"), "new a");
  EXPECT_FALSE(store.Get("D").has_value());
  // Removing what is not there changes nothing.
  store.log.clear();
  EXPECT_TRUE(WriteAllOrNothing(store, std::span(values).subspan(2, 1)));
  EXPECT_TRUE(store.log.empty());
}

TEST(SettingsStore, ValuesAsText) {
  EXPECT_EQ(DataText(RegistryData::Text("a.dll")), "a.dll");
  EXPECT_EQ(RegistryData::Text("ab").Bytes, std::string("ab\0", 3));
  EXPECT_EQ(DataText(RegistryData::Number(0xFFFFFC7C)), "-900");
  EXPECT_EQ(RegistryData::Number(0x0102).Bytes, std::string("\x02\x01\0\0", 4));
  EXPECT_EQ(DataNumber(RegistryData::Number(7)), 7u);
  EXPECT_EQ(DataText({kRegExpandText, std::string("%a%\0junk", 8)}), "%a%");
  EXPECT_EQ(DataText({kRegMultiText, std::string("a\0b\0\0", 5)}), "a");
  EXPECT_FALSE(DataText({3, "\x01\x02"}).has_value());   // binary
  EXPECT_FALSE(DataNumber({kRegNumber, "\x01\x02"}).has_value());
  EXPECT_FALSE(DataNumber(RegistryData::Text("1")).has_value());
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
