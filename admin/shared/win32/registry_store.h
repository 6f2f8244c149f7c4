// The settings editors' registry and file system: the administration
// programs' registry value class under one root key (HKEY_LOCAL_MACHINE in
// the programs), and the real folders, files and environment.
#pragma once

#include <windows.h>

#include "settings_store.h"

namespace quax {

class RegistrySettingsStore : public SettingsStore {
 public:
  explicit RegistrySettingsStore(HKEY root = HKEY_LOCAL_MACHINE) noexcept : root_(root) {}
  bool KeyExists(const char* subKey) override;
  std::optional<std::string> Read(const RegistryValueRef& value) override;
  bool Write(const RegistryValueRef& value, const std::string& text) override;
  bool Remove(const RegistryValueRef& value) override;

 private:
  HKEY root_;
};

class Win32AdminSystem : public AdminSystem {
 public:
  bool FolderExists(const std::string& path) override;
  bool CreateFolder(const std::string& path) override;
  bool FileExists(const std::string& path) override;
  std::optional<std::string> EnvironmentVariable(const char* name) override;
};

// Shows the registry value class's failures owned by the active window, so
// that the form behind waits for the answer.
void ShowRegistryFailuresOverActiveWindow();

}  // namespace quax
