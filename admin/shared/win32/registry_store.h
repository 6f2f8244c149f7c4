// The settings editors' registry and file system: values under one root key
// (HKEY_LOCAL_MACHINE in the programs) in either registry view, and the real
// folders, files and environment.
#pragma once

#include <windows.h>

#include "settings_store.h"

namespace quax {

// Shows a failure to the administrator: its text and caption.
using RegistryFailureSink = void (*)(const char* text, const char* caption);

class RegistrySettingsStore : public SettingsStore {
 public:
  // Failures are shown in a message box owned by the active window (so that
  // the form behind waits for the answer) unless a sink is given.
  explicit RegistrySettingsStore(HKEY root = HKEY_LOCAL_MACHINE, RegistryFailureSink sink = nullptr) noexcept;
  bool KeyExists(const char* subKey) override;
  std::optional<RegistryData> ReadData(const RegistryValueRef& value) override;
  bool ReadLikeCollector(const RegistryValueRef& value, SettingText& text) noexcept override;
  bool WriteData(const RegistryValueRef& value, const RegistryData& data) override;
  bool Remove(const RegistryValueRef& value) override;
  bool HasWow32View() override;

 private:
  HKEY root_;
  RegistryFailureSink sink_;
};

class Win32AdminSystem : public AdminSystem {
 public:
  bool FolderExists(const std::string& path) override;
  bool CreateFolder(const std::string& path) override;
  bool FileExists(const std::string& path) override;
  std::optional<std::string> EnvironmentVariable(const char* name) override;
};

}  // namespace quax
