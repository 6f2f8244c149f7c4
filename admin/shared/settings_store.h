// The registry as the settings editors use it: text values under
// HKEY_LOCAL_MACHINE, read and written through a small interface so that the
// editors' rules are tested without a registry. The Win32 implementation is
// RegistrySettingsStore.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quax {

inline constexpr char kCollectorSettingsKey[] = "SOFTWARE\\QUAX\\Collectors\\QUAXWinProcess";
inline constexpr char kInstallKey[] = "SOFTWARE\\QUAX\\Admin";
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

// A collector flag as the collectors read it: "YES" in any case is true, any
// other text false; a missing value gives the collector's default.
bool ReadFlag(SettingsStore& store, const RegistryValueRef& value, bool missing);

// A signed whole number when the text is numeric, else the default.
std::int64_t ReadNumber(SettingsStore& store, const RegistryValueRef& value, std::int64_t otherwise);

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
