#include "registry_store.h"

#include "process_control.h"
#include "unique_handle.h"
#include "win32/registry.h"

namespace quax {

namespace {

// The administration programs' registry failures: caption and the start of
// the text, followed by the error's number and system text.
constexpr char kFailureCaption[] = "CRegValue";
constexpr char kCreateFailed[] = "Error calling RegCreateKeyEx.";
constexpr char kSetFailed[] = "Error setting registry value.";

void ShowOverActiveWindow(const char* text, const char* caption) {
  MessageBoxA(GetActiveWindow(), text, caption, MB_OK | MB_ICONERROR);
}

// 32-bit Windows ignores both flags: its one view is the main one.
REGSAM ViewAccess(RegistryView view) noexcept {
  return view == RegistryView::Wow32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

}  // namespace

RegistrySettingsStore::RegistrySettingsStore(HKEY root, RegistryFailureSink sink) noexcept
    : root_(root), sink_(sink != nullptr ? sink : &ShowOverActiveWindow) {}

bool RegistrySettingsStore::KeyExists(const char* subKey) {
  unique_hkey key;
  return RegOpenKeyExA(root_, subKey, 0, KEY_QUERY_VALUE | ViewAccess(RegistryView::Main), key.put()) ==
         ERROR_SUCCESS;
}

std::optional<RegistryData> RegistrySettingsStore::ReadData(const RegistryValueRef& value) {
  unique_hkey key;
  if (RegOpenKeyExA(root_, value.SubKey, 0, KEY_QUERY_VALUE | ViewAccess(value.View), key.put()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  // Another program may change the value between asking its size and
  // reading it.
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD type = 0;
    DWORD sizeBytes = 0;
    if (RegQueryValueExA(key.get(), value.Name, nullptr, &type, nullptr, &sizeBytes) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    RegistryData data{type, std::string(sizeBytes, '\0')};
    const LONG read = RegQueryValueExA(key.get(), value.Name, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data.Bytes.data()), &sizeBytes);
    if (read == ERROR_MORE_DATA) continue;
    if (read != ERROR_SUCCESS) return std::nullopt;
    data.Type = type;
    data.Bytes.resize(sizeBytes);
    return data;
  }
  return std::nullopt;
}

bool RegistrySettingsStore::ReadLikeCollector(const RegistryValueRef& value, SettingText& text) noexcept {
  unique_hkey key;
  if (RegOpenKeyExA(root_, value.SubKey, 0, KEY_QUERY_VALUE | ViewAccess(value.View), key.put()) != ERROR_SUCCESS) {
    return false;
  }
  return ReadSettingValue(key.get(), value.Name, text);
}

bool RegistrySettingsStore::WriteData(const RegistryValueRef& value, const RegistryData& data) {
  const auto fail = [this](const char* what, LONG code) {
    const std::string text = std::string(what) + " " + NumberedErrorText("Error #", static_cast<DWORD>(code));
    sink_(text.c_str(), kFailureCaption);
    return false;
  };
  unique_hkey key;
  char emptyClass[] = "";
  LONG result = RegCreateKeyExA(root_, value.SubKey, 0, emptyClass, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE | ViewAccess(value.View), nullptr, key.put(), nullptr);
  if (result != ERROR_SUCCESS) return fail(kCreateFailed, result);
  result = RegSetValueExA(key.get(), value.Name, 0, data.Type, reinterpret_cast<const BYTE*>(data.Bytes.data()),
                          static_cast<DWORD>(data.Bytes.size()));
  if (result != ERROR_SUCCESS) return fail(kSetFailed, result);
  return true;
}

bool RegistrySettingsStore::Remove(const RegistryValueRef& value) {
  unique_hkey key;
  if (RegOpenKeyExA(root_, value.SubKey, 0, KEY_SET_VALUE | ViewAccess(value.View), key.put()) != ERROR_SUCCESS) {
    return false;
  }
  return RegDeleteValueA(key.get(), value.Name) == ERROR_SUCCESS;
}

bool RegistrySettingsStore::HasWow32View() {
#if defined(_WIN64)
  return true;
#else
  // A 32-bit program sees the 32-bit view only on 64-bit Windows.
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
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

}  // namespace quax
