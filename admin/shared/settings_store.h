// The registry as the settings editors use it: values under
// HKEY_LOCAL_MACHINE, read and written through a small interface so that the
// editors' rules are tested without a registry. The Win32 implementation is
// RegistrySettingsStore.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "settings_text.h"

namespace quax {

inline constexpr char kAppInitKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

// Which view of HKEY_LOCAL_MACHINE\Software a value lives in. Main is the
// 64-bit view on 64-bit Windows (the collector settings, which both
// collectors read there, and the AppInit_DLLs of 64-bit processes) and the
// only view on 32-bit Windows; Wow32 is the 32-bit view of 64-bit Windows
// (Wow6432Node), from which 32-bit processes take their AppInit_DLLs.
enum class RegistryView { Main, Wow32 };

struct RegistryValueRef {
  const char* SubKey;
  const char* Name;
  RegistryView View = RegistryView::Main;
};

// Registry value types as Windows numbers them.
inline constexpr std::uint32_t kRegText = 1;          // REG_SZ
inline constexpr std::uint32_t kRegExpandText = 2;    // REG_EXPAND_SZ
inline constexpr std::uint32_t kRegNumber = 4;        // REG_DWORD
inline constexpr std::uint32_t kRegMultiText = 7;     // REG_MULTI_SZ

// A value exactly as the registry holds it: its type and its bytes.
struct RegistryData {
  std::uint32_t Type = kRegText;
  std::string Bytes;

  // REG_SZ with its terminator.
  static RegistryData Text(std::string_view text);
  // REG_DWORD, least significant byte first.
  static RegistryData Number(std::uint32_t number);
  bool operator==(const RegistryData&) const = default;
};

// The text of a value: a text type up to its first NUL, a REG_DWORD as a
// signed decimal number; nothing for any other type.
std::optional<std::string> DataText(const RegistryData& data);
// The number of a REG_DWORD; nothing for any other type.
std::optional<std::uint32_t> DataNumber(const RegistryData& data);

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // Whether the key exists in the main view.
  virtual bool KeyExists(const char* subKey) = 0;
  // The value's type and bytes; nothing when it is missing or unreadable.
  virtual std::optional<RegistryData> ReadData(const RegistryValueRef& value) = 0;
  // The value exactly as the collectors read it: its bytes whatever their
  // registry type, terminated; false when it is missing or does not fit the
  // collectors' buffer.
  virtual bool ReadLikeCollector(const RegistryValueRef& value, SettingText& text) noexcept = 0;
  // Writes the value, creating the key when it is missing. A failure has
  // been reported to the administrator already.
  virtual bool WriteData(const RegistryValueRef& value, const RegistryData& data) = 0;
  // False when the value could not be removed (or was not there).
  virtual bool Remove(const RegistryValueRef& value) = 0;
  // Whether 64-bit Windows keeps a 32-bit view beside the main one.
  virtual bool HasWow32View() = 0;

  // The value as text (DataText); nothing when missing or of another type.
  std::optional<std::string> Read(const RegistryValueRef& value);
  // Writes text as REG_SZ.
  bool Write(const RegistryValueRef& value, const std::string& text) {
    return WriteData(value, RegistryData::Text(text));
  }
};

// A value to write, or to remove when it has no data.
struct PendingValue {
  PendingValue(const RegistryValueRef& value, std::string text)
      : Value(value), Data(RegistryData::Text(text)) {}
  PendingValue(const RegistryValueRef& value, std::optional<RegistryData> data)
      : Value(value), Data(std::move(data)) {}

  RegistryValueRef Value;
  std::optional<RegistryData> Data;
};

// Writes (or removes) every value in order. When one write fails, the
// values changed before it get their earlier type and data back (or are
// removed again when they did not exist), so that a failed save leaves the
// settings as they were.
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
