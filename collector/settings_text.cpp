#include "settings_text.h"

#include <cstring>
#include <limits>

#include "fixed_text.h"

namespace quax {

bool ParseYesFlag(const char* text) noexcept { return text != nullptr && EqualsIgnoreCase(text, "YES"); }

std::int32_t ParseDecimalNumber(const char* text) noexcept {
  if (text == nullptr) return 0;
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  // Accumulate towards the limit of the sign, stopping there.
  const std::int64_t limit = negative ? -std::int64_t{std::numeric_limits<std::int32_t>::min()}
                                      : std::int64_t{std::numeric_limits<std::int32_t>::max()};
  std::int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > limit) value = limit;
  }
  return static_cast<std::int32_t>(negative ? -value : value);
}

TimeOfDay ParseTimeOfDay(const char* text) noexcept {
  TimeOfDay time;
  if (text == nullptr || std::strlen(text) != 5) return time;
  const char hour[3] = {text[0], text[1], '\0'};
  const char minute[3] = {text[3], text[4], '\0'};
  time.Hour = ParseDecimalNumber(hour);
  time.Minute = ParseDecimalNumber(minute);
  return time;
}

namespace {

std::int32_t DefaultAccountingInterval(SettingsReader reader) noexcept {
  return reader == SettingsReader::Service ? 86400 : 60;
}

std::int32_t DefaultSamplingInterval(SettingsReader reader) noexcept {
  return reader == SettingsReader::Service ? 1 : 60;
}

}  // namespace

void SetDefaultSettings(CollectorSettings& settings, SettingsReader reader) noexcept {
  ResetReadSettings(settings, reader);
  settings.AccountingIntervalCommand[0] = '\0';
  settings.LogFileFieldDelimiter = '\t';
  CopyText(settings.LogFileExtension, kDefaultLogFileExtension);
}

void ResetReadSettings(CollectorSettings& settings, SettingsReader reader) noexcept {
  settings.LogFilePath[0] = '\0';
  CopyText(settings.LogFilePrefix, kDefaultLogFilePrefix);
  settings.AccountingIntervalTime = {};
  settings.AccountingInterval = DefaultAccountingInterval(reader);
  settings.SamplingInterval = DefaultSamplingInterval(reader);
  settings.UseLocalTime = true;
  settings.UseAccountingIntervalTime = false;
  settings.WriteIntervalEndRecords = false;
}

void ReadSettingValues(SettingTextSource& source, SettingsReader reader, CollectorSettings& settings) noexcept {
  const bool service = reader == SettingsReader::Service;
  SettingText text;
  if (source.ReadSettingText("LogFilePath", text)) CopyText(settings.LogFilePath, text);
  if (source.ReadSettingText("LogFileExtension", text)) CopyText(settings.LogFileExtension, text);
  if (source.ReadSettingText("LogFilePrefix", text)) CopyText(settings.LogFilePrefix, text);
  if (source.ReadSettingText("UseLocalTime", text)) settings.UseLocalTime = ParseYesFlag(text);
  if (source.ReadSettingText("AccountingInterval", text)) settings.AccountingInterval = ParseDecimalNumber(text);
  if (service) {
    if (source.ReadSettingText("UseAccountingIntervalTime", text)) {
      settings.UseAccountingIntervalTime = ParseYesFlag(text);
    }
    if (source.ReadSettingText("AccountingIntervalTime", text)) settings.AccountingIntervalTime = ParseTimeOfDay(text);
    if (source.ReadSettingText("AccountingIntervalCommand", text)) {
      CopyText(settings.AccountingIntervalCommand, text);
    }
  }
  if (source.ReadSettingText("SamplingInterval", text)) {
    settings.SamplingInterval = ParseDecimalNumber(text);
    if (settings.SamplingInterval == 0) settings.SamplingInterval = DefaultSamplingInterval(reader);
  }
  if (source.ReadSettingText("WriteIntervalEndRecords", text)) settings.WriteIntervalEndRecords = ParseYesFlag(text);
  if (source.ReadSettingText("LogFileFieldDelimiter", text)) {
    settings.LogFileFieldDelimiter = static_cast<char>(ParseDecimalNumber(text) & 0xFF);
  }
}

std::int32_t UsableSamplingInterval(std::int32_t seconds) noexcept { return seconds < 1 ? 1 : seconds; }

bool IsTimeOfDay(TimeOfDay time) noexcept {
  return time.Hour >= 0 && time.Hour < 24 && time.Minute >= 0 && time.Minute < 60;
}

const char* UsableLogFilePrefix(const char* prefix) noexcept {
  return prefix != nullptr && prefix[0] != '\0' ? prefix : kDefaultLogFilePrefix;
}

}  // namespace quax
