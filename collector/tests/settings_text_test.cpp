#include "settings_text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace quax {
namespace {

TEST(SettingsText, YesFlagIsYesInAnyCaseOnly) {
  EXPECT_TRUE(ParseYesFlag("YES"));
  EXPECT_TRUE(ParseYesFlag("Yes"));
  EXPECT_TRUE(ParseYesFlag("yes"));
  for (const char* text : {"no", "Y", "1", "true", "YES ", " YES", "YESS", ""}) {
    EXPECT_FALSE(ParseYesFlag(text)) << text;
  }
  EXPECT_FALSE(ParseYesFlag(nullptr));
}

TEST(SettingsText, DecimalNumberFollowsTheAtolRule) {
  EXPECT_EQ(ParseDecimalNumber("86400"), 86400);
  EXPECT_EQ(ParseDecimalNumber("15s"), 15);
  EXPECT_EQ(ParseDecimalNumber("  \t-5"), -5);
  EXPECT_EQ(ParseDecimalNumber("+44"), 44);
  EXPECT_EQ(ParseDecimalNumber("abc"), 0);
  EXPECT_EQ(ParseDecimalNumber(""), 0);
  EXPECT_EQ(ParseDecimalNumber("- 5"), 0);
  EXPECT_EQ(ParseDecimalNumber(nullptr), 0);
}

TEST(SettingsText, DecimalNumberHoldsAtThe32BitLimits) {
  EXPECT_EQ(ParseDecimalNumber("2147483647"), 2147483647);
  EXPECT_EQ(ParseDecimalNumber("2147483648"), 2147483647);
  EXPECT_EQ(ParseDecimalNumber("99999999999999999999999"), 2147483647);
  EXPECT_EQ(ParseDecimalNumber("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(ParseDecimalNumber("-99999999999999999999"), -2147483647 - 1);
}

TEST(SettingsText, TimeOfDayNeedsExactlyFiveCharacters) {
  EXPECT_EQ(ParseTimeOfDay("23:45").Hour, 23);
  EXPECT_EQ(ParseTimeOfDay("23:45").Minute, 45);
  EXPECT_EQ(ParseTimeOfDay("07.30").Hour, 7);  // the separator is not examined
  EXPECT_EQ(ParseTimeOfDay("07.30").Minute, 30);
  EXPECT_EQ(ParseTimeOfDay("7:30").Hour, 0);  // four characters
  EXPECT_EQ(ParseTimeOfDay("7:30").Minute, 0);
  EXPECT_EQ(ParseTimeOfDay("07:300").Minute, 0);
  EXPECT_EQ(ParseTimeOfDay("99:99").Hour, 99);  // range is the caller's business
  EXPECT_EQ(ParseTimeOfDay("ab:cd").Minute, 0);
  EXPECT_EQ(ParseTimeOfDay(nullptr).Hour, 0);
}

// Stored texts by name; remembers the names asked for, in order.
class StoredTexts final : public SettingTextSource {
 public:
  bool ReadSettingText(const char* name, SettingText& text) noexcept override {
    asked.emplace_back(name);
    const auto found = texts.find(name);
    if (found == texts.end()) return false;
    CopyText(text, found->second.c_str());
    return true;
  }
  std::map<std::string, std::string> texts;
  std::vector<std::string> asked;
};

TEST(SettingsRecord, EachReaderAsksForItsValuesInItsOrder) {
  StoredTexts stored;
  CollectorSettings settings;
  SetDefaultSettings(settings, SettingsReader::Service);
  ReadSettingValues(stored, SettingsReader::Service, settings);
  EXPECT_EQ(stored.asked, (std::vector<std::string>{"LogFilePath", "LogFileExtension", "LogFilePrefix", "UseLocalTime",
                                                    "AccountingInterval", "UseAccountingIntervalTime",
                                                    "AccountingIntervalTime", "AccountingIntervalCommand",
                                                    "SamplingInterval", "WriteIntervalEndRecords",
                                                    "LogFileFieldDelimiter"}));
  stored.asked.clear();
  ReadSettingValues(stored, SettingsReader::InProcess, settings);
  EXPECT_EQ(stored.asked, (std::vector<std::string>{"LogFilePath", "LogFileExtension", "LogFilePrefix", "UseLocalTime",
                                                    "AccountingInterval", "SamplingInterval",
                                                    "WriteIntervalEndRecords", "LogFileFieldDelimiter"}));
}

TEST(SettingsRecord, DefaultsAndReadsDifferByReader) {
  StoredTexts stored;
  stored.texts = {{"SamplingInterval", "0"}, {"LogFileFieldDelimiter", "300"}, {"AccountingIntervalTime", "23:45"}};
  CollectorSettings service;
  SetDefaultSettings(service, SettingsReader::Service);
  EXPECT_EQ(service.AccountingInterval, 86400);
  ReadSettingValues(stored, SettingsReader::Service, service);
  EXPECT_EQ(service.SamplingInterval, 1);
  EXPECT_EQ(service.LogFileFieldDelimiter, ',');  // the low 8 bits of 300
  EXPECT_EQ(service.AccountingIntervalTime.Hour, 23);
  EXPECT_EQ(service.AccountingInterval, 86400);  // missing: kept

  CollectorSettings inProcess;
  SetDefaultSettings(inProcess, SettingsReader::InProcess);
  EXPECT_EQ(inProcess.AccountingInterval, 60);
  ReadSettingValues(stored, SettingsReader::InProcess, inProcess);
  EXPECT_EQ(inProcess.SamplingInterval, 60);
  EXPECT_EQ(inProcess.AccountingIntervalTime.Hour, 0);

  // A new read starts from the defaults, except for what is not reset.
  ResetReadSettings(service, SettingsReader::Service);
  EXPECT_EQ(service.AccountingIntervalTime.Hour, 0);
  EXPECT_EQ(service.SamplingInterval, 1);
  EXPECT_EQ(service.LogFileFieldDelimiter, ',');
}

TEST(SettingsRecord, WhatTheCollectorsMakeOfUnusableValues) {
  EXPECT_EQ(UsableSamplingInterval(0), 1);
  EXPECT_EQ(UsableSamplingInterval(-30), 1);
  EXPECT_EQ(UsableSamplingInterval(15), 15);
  EXPECT_TRUE(IsTimeOfDay({0, 0}));
  EXPECT_TRUE(IsTimeOfDay({23, 59}));
  for (const TimeOfDay time : {TimeOfDay{24, 0}, TimeOfDay{7, 60}, TimeOfDay{-1, 0}, TimeOfDay{0, -5}}) {
    EXPECT_FALSE(IsTimeOfDay(time)) << time.Hour << ":" << time.Minute;
  }
  EXPECT_STREQ(UsableLogFilePrefix("acct-"), "acct-");
  EXPECT_STREQ(UsableLogFilePrefix(""), "QUAXProcessLog-");
  EXPECT_STREQ(UsableLogFilePrefix(nullptr), "QUAXProcessLog-");
}

}  // namespace
}  // namespace quax
