#include "registry_store.h"

#include "win32/registry.h"

namespace quax {

namespace {

void PrepareValue(CAdminRegValue& reg, HKEY root, const RegistryValueRef& value) {
  reg.SetKey(root);
  reg.SetSubKey(value.SubKey);
  reg.SetValueName(value.Name);
}

void ShowOverActiveWindow(const char* text, const char* caption) {
  MessageBoxA(GetActiveWindow(), text, caption, MB_OK | MB_ICONERROR);
}

}  // namespace

bool RegistrySettingsStore::KeyExists(const char* subKey) {
  // The key class opens parent + "\" + name.
  const std::string path = subKey;
  const std::size_t split = path.find_last_of('\\');
  CRegKey key;
  key.SetKey(root_);
  key.SetParentKey(split == std::string::npos ? std::string() : path.substr(0, split));
  key.SetSubKey(split == std::string::npos ? path : path.substr(split + 1));
  return key.Exists();
}

std::optional<std::string> RegistrySettingsStore::Read(const RegistryValueRef& value) {
  CAdminRegValue reg;
  PrepareValue(reg, root_, value);
  reg.Refresh();
  if (const auto* text = std::get_if<std::string>(&reg.Value())) return *text;
  if (const auto* number = std::get_if<std::uint32_t>(&reg.Value())) {
    return std::to_string(static_cast<std::int32_t>(*number));
  }
  return std::nullopt;
}

bool RegistrySettingsStore::Write(const RegistryValueRef& value, const std::string& text) {
  CAdminRegValue reg;
  PrepareValue(reg, root_, value);
  reg.SetDataType(REG_SZ);
  reg.SetValue(text);
  return reg.Update();
}

bool RegistrySettingsStore::Remove(const RegistryValueRef& value) {
  CAdminRegValue reg;
  PrepareValue(reg, root_, value);
  return reg.Delete();
}

bool Win32AdminSystem::FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32AdminSystem::CreateFolder(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != FALSE; }

bool Win32AdminSystem::FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<std::string> Win32AdminSystem::EnvironmentVariable(const char* name) {
  char value[2048];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  if (length == 0 || length >= sizeof value) return std::nullopt;
  return std::string(value, length);
}

void ShowRegistryFailuresOverActiveWindow() { SetMessageBoxSink(&ShowOverActiveWindow); }

}  // namespace quax
