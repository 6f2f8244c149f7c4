#include "settings_store.h"

#include <vector>

#include "interval_text.h"
#include "settings_text.h"

namespace quax {

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

bool ReadFlag(SettingsStore& store, const RegistryValueRef& value, bool missing) {
  const std::optional<std::string> text = store.Read(value);
  return text ? ParseYesFlag(text->c_str()) : missing;
}

std::int64_t ReadNumber(SettingsStore& store, const RegistryValueRef& value, std::int64_t otherwise) {
  const std::optional<std::string> text = store.Read(value);
  const std::optional<std::int64_t> number = text ? WholeNumber(*text) : std::nullopt;
  return number ? *number : otherwise;
}

std::string ReadText(SettingsStore& store, const RegistryValueRef& value) {
  return store.Read(value).value_or(std::string());
}

std::string WithoutTrailingBackslashes(std::string_view path) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return std::string(path);
}

}  // namespace quax
