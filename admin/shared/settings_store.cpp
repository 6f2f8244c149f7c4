#include "settings_store.h"

#include <vector>

namespace quax {

RegistryData RegistryData::Text(std::string_view text) {
  RegistryData data{kRegText, std::string(text)};
  data.Bytes.push_back('\0');
  return data;
}

RegistryData RegistryData::Number(std::uint32_t number) {
  RegistryData data{kRegNumber, std::string(4, '\0')};
  for (char& byte : data.Bytes) {
    byte = static_cast<char>(number & 0xFF);
    number >>= 8;
  }
  return data;
}

std::optional<std::uint32_t> DataNumber(const RegistryData& data) {
  if (data.Type != kRegNumber || data.Bytes.size() != 4) return std::nullopt;
  std::uint32_t number = 0;
  for (std::size_t i = 4; i-- > 0;) number = (number << 8) | static_cast<unsigned char>(data.Bytes[i]);
  return number;
}

std::optional<std::string> DataText(const RegistryData& data) {
  if (const std::optional<std::uint32_t> number = DataNumber(data)) {
    return std::to_string(static_cast<std::int32_t>(*number));
  }
  if (data.Type != kRegText && data.Type != kRegExpandText && data.Type != kRegMultiText) return std::nullopt;
  return data.Bytes.substr(0, data.Bytes.find('\0'));
}

std::optional<std::string> SettingsStore::Read(const RegistryValueRef& value) {
  const std::optional<RegistryData> data = ReadData(value);
  if (!data) return std::nullopt;
  return DataText(*data);
}

namespace {

// The collector settings key's values in the store.
class StoredSettingTexts final : public SettingTextSource {
 public:
  explicit StoredSettingTexts(SettingsStore& store) noexcept : store_(store) {}
  bool ReadSettingText(const char* name, SettingText& text) noexcept override {
    return store_.ReadLikeCollector({kSettingsKey, name}, text);
  }

 private:
  SettingsStore& store_;
};

}  // namespace

bool WriteAllOrNothing(SettingsStore& store, std::span<const PendingValue> values) {
  std::vector<std::optional<RegistryData>> earlier;
  earlier.reserve(values.size());
  for (const PendingValue& pending : values) earlier.push_back(store.ReadData(pending.Value));
  const auto put = [&store](const RegistryValueRef& value, const std::optional<RegistryData>& data,
                            const std::optional<RegistryData>& before) {
    if (data) return store.WriteData(value, *data);
    // Removing what is not there changes nothing.
    return !before || store.Remove(value);
  };
  for (std::size_t written = 0; written < values.size(); ++written) {
    if (put(values[written].Value, values[written].Data, earlier[written])) continue;
    while (written-- > 0) put(values[written].Value, earlier[written], values[written].Data);
    return false;
  }
  return true;
}

bool LoadCollectorSettings(SettingsStore& store, SettingsReader reader, CollectorSettings& settings) {
  SetDefaultSettings(settings, reader);
  if (!store.KeyExists(kSettingsKey)) return false;
  StoredSettingTexts texts(store);
  ReadSettingValues(texts, reader, settings);
  return true;
}

std::string ReadText(SettingsStore& store, const RegistryValueRef& value) {
  return store.Read(value).value_or(std::string());
}

std::string WithoutTrailingBackslashes(std::string_view path) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return std::string(path);
}

}  // namespace quax
