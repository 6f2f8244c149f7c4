#include "settings_store.h"

#include <vector>

namespace quax {

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
  std::vector<std::optional<std::string>> earlier;
  earlier.reserve(values.size());
  for (const PendingValue& pending : values) earlier.push_back(store.Read(pending.Value));
  for (std::size_t written = 0; written < values.size(); ++written) {
    if (store.Write(values[written].Value, values[written].Text)) continue;
    while (written-- > 0) {
      const std::optional<std::string>& before = earlier[written];
      if (before) {
        store.Write(values[written].Value, *before);
      } else {
        store.Remove(values[written].Value);
      }
    }
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
