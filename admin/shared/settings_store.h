// The registry as the settings editors use it: text values under
// HKEY_LOCAL_MACHINE, read and written through a small interface so that the
// editors' rules are tested without a registry. The Win32 implementation is
// RegistrySettingsStore.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "settings_text.h"

namespace quax {

inline constexpr char kAppInitKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

struct RegistryValueRef {
  const char* SubKey;
  const char* Name;
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual bool KeyExists(const char* subKey) = 0;
  // The value as text (numbers in decimal); nothing when missing or
  // unreadable.
  virtual std::optional<std::string> Read(const RegistryValueRef& value) = 0;
  // The value exactly as the collectors read it: its bytes whatever their
  // registry type, terminated; false when it is missing or does not fit the
  // collectors' buffer.
  virtual bool ReadLikeCollector(const RegistryValueRef& value, SettingText& text) noexcept = 0;
  // Writes text, creating the key when it is missing. A failure has been
  // reported to the administrator already.
  virtual bool Write(const RegistryValueRef& value, const std::string& text) = 0;
  virtual bool Remove(const RegistryValueRef& value) = 0;
};

struct PendingValue {
  RegistryValueRef Value;
  std::string Text;
};

// Writes every value in order. When one write fails, the values written
// before it get their earlier contents back (or are removed again when they
// did not exist), so that a failed save leaves the settings as they were.
bool WriteAllOrNothing(SettingsStore& store, std::span<const PendingValue> values);

// The collector settings as the given collector reads them from the store:
// its defaults and, when the key exists, every value it reads, by its own
// rules. False when the key does not exist.
bool LoadCollectorSettings(SettingsStore& store, SettingsReader reader, CollectorSettings& settings);

// The text as stored; empty when missing.
std::string ReadText(SettingsStore& store, const RegistryValueRef& value);

// Log path as written: without any trailing backslash.
std::string WithoutTrailingBackslashes(std::string_view path);

// Files and folders the editors look at, and the environment.
class AdminSystem {
 public:
  virtual ~AdminSystem() = default;
  virtual bool FolderExists(const std::string& path) = 0;
  // One level: the parent must exist.
  virtual bool CreateFolder(const std::string& path) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  virtual std::optional<std::string> EnvironmentVariable(const char* name) = 0;
};

}  // namespace quax
