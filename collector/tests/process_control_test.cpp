#include "process_control.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace quax {
namespace {

using test::CapturedTrace;

// Writes the settings key of the test's private Wine prefix and removes it
// afterwards.
class SettingsKey {
 public:
  SettingsKey() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey); }
  ~SettingsKey() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey); }
  void Set(const char* name, const std::string& value) {
    unique_hkey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)),
              ERROR_SUCCESS);
  }
};

void ExpectServiceDefaults(const CProcessControl& settings) {
  EXPECT_EQ(settings.GetAccountingInterval(), 86400);
  EXPECT_EQ(settings.GetSamplingInterval(), 1);
  EXPECT_TRUE(settings.GetUseLocalTime());
  EXPECT_FALSE(settings.GetUseAccountingIntervalTime());
  EXPECT_FALSE(settings.GetWriteIntervalEndRecords());
  EXPECT_STREQ(settings.GetLogFilePrefix(), "QUAXProcessLog-");
  EXPECT_STREQ(settings.GetLogFileExtension(), ".txt");
  EXPECT_EQ(settings.GetLogFileFieldDelimiter(), '\t');
  EXPECT_STREQ(settings.GetLogFilePath(), "");
  EXPECT_STREQ(settings.GetAccountingIntervalCommand(), "");
  EXPECT_EQ(settings.GetAccountingIntervalTime()->wHour, 0);
  EXPECT_EQ(settings.GetAccountingIntervalTime()->wMinute, 0);
}

TEST(Settings, WithoutTheKeyTheDefaultsHoldAndTheFailureIsTraced) {
  SettingsKey absent;
  CapturedTrace trace;
  CProcessControlRegistry settings;
  EXPECT_FALSE(settings.ReadSettings());
  ExpectServiceDefaults(settings);
  ASSERT_EQ(trace.Lines().size(), 3u);
  EXPECT_EQ(trace.Lines()[0], "\nQUAXWINPROCESS: CProcessControlRegistry::ReadSettings: Entered");
  EXPECT_EQ(trace.Lines()[1].rfind("\nQUAXWINPROCESS: CProcessControlRegistry::ReadSettings: RegOpenKeyEx failed: ", 0),
            0u);
  EXPECT_EQ(trace.Lines()[2], "\nQUAXWINPROCESS: CProcessControlRegistry::ReadSettings: Exited");
}

TEST(Settings, EveryValueIsReadFromItsText) {
  SettingsKey key;
  key.Set("LogFilePath", "C:\\Logs\\");
  key.Set("LogFileExtension", ".csv");
  key.Set("LogFilePrefix", "acct-");
  key.Set("UseLocalTime", "no");
  key.Set("AccountingInterval", "3600");
  key.Set("UseAccountingIntervalTime", "Yes");
  key.Set("AccountingIntervalTime", "23:45");
  key.Set("AccountingIntervalCommand", "collect.cmd %QUAXDATE%");
  key.Set("SamplingInterval", "15s");
  key.Set("WriteIntervalEndRecords", "YES");
  key.Set("LogFileFieldDelimiter", "44");
  CProcessControlRegistry settings;
  EXPECT_TRUE(settings.ReadSettings());
  EXPECT_STREQ(settings.GetLogFilePath(), "C:\\Logs\\");
  EXPECT_STREQ(settings.GetLogFileExtension(), ".csv");
  EXPECT_STREQ(settings.GetLogFilePrefix(), "acct-");
  EXPECT_FALSE(settings.GetUseLocalTime());
  EXPECT_EQ(settings.GetAccountingInterval(), 3600);
  EXPECT_TRUE(settings.GetUseAccountingIntervalTime());
  EXPECT_EQ(settings.GetAccountingIntervalTime()->wHour, 23);
  EXPECT_EQ(settings.GetAccountingIntervalTime()->wMinute, 45);
  EXPECT_EQ(settings.GetAccountingIntervalTime()->wSecond, 0);
  EXPECT_STREQ(settings.GetAccountingIntervalCommand(), "collect.cmd %QUAXDATE%");
  EXPECT_EQ(settings.GetSamplingInterval(), 15);
  EXPECT_TRUE(settings.GetWriteIntervalEndRecords());
  EXPECT_EQ(settings.GetLogFileFieldDelimiter(), ',');
}

TEST(Settings, EdgeTexts) {
  SettingsKey key;
  key.Set("SamplingInterval", "0");
  key.Set("AccountingInterval", "-5");
  key.Set("AccountingIntervalTime", "7:30");
  key.Set("LogFileFieldDelimiter", "");
  key.Set("UseLocalTime", "Y");
  CProcessControlRegistry settings;
  EXPECT_TRUE(settings.ReadSettings());
  EXPECT_EQ(settings.GetSamplingInterval(), 1);
  EXPECT_EQ(settings.GetAccountingInterval(), -5);
  EXPECT_EQ(settings.GetAccountingIntervalTime()->wHour, 0);
  EXPECT_EQ(settings.GetLogFileFieldDelimiter(), '\0');
  EXPECT_FALSE(settings.GetUseLocalTime());

  key.Set("SamplingInterval", "abc");
  key.Set("AccountingIntervalTime", "07.30");
  EXPECT_TRUE(settings.ReadSettings());
  EXPECT_EQ(settings.GetSamplingInterval(), 1);
  EXPECT_EQ(settings.GetAccountingIntervalTime()->wHour, 7);
  EXPECT_EQ(settings.GetAccountingIntervalTime()->wMinute, 30);
}

TEST(Settings, OverlongTextsAreCutToTheirFields) {
  SettingsKey key;
  key.Set("LogFilePath", std::string(1000, 'p'));
  key.Set("AccountingIntervalCommand", std::string(1023, 'c'));
  key.Set("LogFilePrefix", std::string(2000, 'x'));  // beyond the 1024-byte read: not readable
  CProcessControlRegistry settings;
  EXPECT_TRUE(settings.ReadSettings());
  EXPECT_EQ(std::string(settings.GetLogFilePath()), std::string(kTextFieldSize - 1, 'p'));
  EXPECT_EQ(std::string(settings.GetAccountingIntervalCommand()), std::string(1023, 'c'));
  EXPECT_STREQ(settings.GetLogFilePrefix(), "QUAXProcessLog-");
}

TEST(Settings, ValuesAreReadAsTheirBytesWhateverTheirType) {
  SettingsKey key;
  key.Set("SamplingInterval", "5");
  unique_hkey settingsKey;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_SET_VALUE, settingsKey.put()), ERROR_SUCCESS);
  // 3600 as a number is the bytes 10 0E 00 00: no decimal digits.
  const DWORD hour = 3600;
  ASSERT_EQ(RegSetValueExA(settingsKey.get(), "AccountingInterval", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&hour),
                           sizeof hour),
            ERROR_SUCCESS);
  const char prefix[] = "acct-\0second\0";
  ASSERT_EQ(RegSetValueExA(settingsKey.get(), "LogFilePrefix", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(prefix),
                           sizeof prefix),
            ERROR_SUCCESS);
  CProcessControlRegistry settings;
  EXPECT_TRUE(settings.ReadSettings());
  EXPECT_EQ(settings.GetAccountingInterval(), 0);
  EXPECT_STREQ(settings.GetLogFilePrefix(), "acct-");
  EXPECT_EQ(settings.GetSamplingInterval(), 5);
}

TEST(Settings, ReadingAgainResetsWhatIsNoLongerStored) {
  SettingsKey key;
  key.Set("LogFilePath", "C:\\Logs");
  key.Set("LogFileExtension", ".csv");
  CProcessControlRegistry settings;
  EXPECT_TRUE(settings.ReadSettings());
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
  key.Set("SamplingInterval", "5");
  EXPECT_TRUE(settings.ReadSettings());
  EXPECT_STREQ(settings.GetLogFilePath(), "");
  EXPECT_STREQ(settings.GetLogFileExtension(), ".csv");  // not reset by a read
  settings.SetDefaults();
  EXPECT_STREQ(settings.GetLogFileExtension(), ".txt");
}

TEST(Settings, InProcessReaderHasItsOwnDefaultsAndSubset) {
  SettingsKey key;
  CapturedTrace trace;
  CProcessControlRegistry absent(SettingsReader::InProcess);
  EXPECT_FALSE(absent.ReadSettings());
  EXPECT_EQ(absent.GetAccountingInterval(), 60);
  EXPECT_EQ(absent.GetSamplingInterval(), 60);
  EXPECT_TRUE(trace.Lines().empty());

  key.Set("SamplingInterval", "0");
  key.Set("UseAccountingIntervalTime", "YES");
  key.Set("AccountingIntervalCommand", "never.cmd");
  key.Set("WriteIntervalEndRecords", "yes");
  CProcessControlRegistry settings(SettingsReader::InProcess);
  EXPECT_TRUE(settings.ReadSettings());
  EXPECT_EQ(settings.GetSamplingInterval(), 60);
  EXPECT_FALSE(settings.GetUseAccountingIntervalTime());
  EXPECT_STREQ(settings.GetAccountingIntervalCommand(), "");
  EXPECT_TRUE(settings.GetWriteIntervalEndRecords());
  EXPECT_TRUE(trace.Lines().empty());
}

TEST(DefaultLogDirectory, FollowsTheInstallLocation) {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kAdminKey);
  TextField directory;
  DefaultLogDirectory(directory);
  EXPECT_STREQ(directory, "QUAXWinProcessLogs");

  unique_hkey key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kAdminKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                            nullptr),
            ERROR_SUCCESS);
  const char location[] = "C:\\Program Files\\QUAX\\";
  RegSetValueExA(key.get(), "InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(location), sizeof location);
  DefaultLogDirectory(directory);
  EXPECT_STREQ(directory, "C:\\Program Files\\QUAX\\QUAXWinProcessLogs");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kAdminKey);
}

}  // namespace
}  // namespace quax
