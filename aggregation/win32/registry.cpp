#include "win32/registry.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <optional>

namespace quax {

// ---- Error texts -------------------------------------------------------

std::string CSysMessage::GetMessage(DWORD win32Erc) {
  char text[1024];
  // Inserts are ignored: without arguments a message with %1 would fail.
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, win32Erc, 0, text, sizeof text, nullptr);
  if (length == 0) return "Unknown Win32 Error#" + std::to_string(win32Erc);
  return std::string(text, length);
}

std::string NumberedErrorText(std::string_view prefix, DWORD code) {
  return std::string(prefix) + std::to_string(code) + ": " + CSysMessage::GetMessage(code);
}

// ---- Connecting --------------------------------------------------------

std::string NormalizeTargetMachine(std::string_view machine) {
  if (machine.empty() || machine.starts_with("\\\\")) return std::string(machine);
  if (machine.starts_with('\\')) return "\\" + std::string(machine);
  return "\\\\" + std::string(machine);
}

LONG ConnectToRegistry(const std::string& targetMachine, HKEY root, unique_hkey& connected) {
  return RegConnectRegistryA(targetMachine.empty() ? nullptr : targetMachine.c_str(), root,
                             connected.put());
}

// ---- Message box seam --------------------------------------------------

namespace {

void ShowErrorBox(const char* text, const char* caption) {
  MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONERROR);
}

MessageBoxSink g_messageBoxSink = &ShowErrorBox;

}  // namespace

void SetMessageBoxSink(MessageBoxSink sink) noexcept {
  g_messageBoxSink = sink ? sink : &ShowErrorBox;
}

// ---- Value data --------------------------------------------------------

namespace {

constexpr char kConnectFailed[] = "CRegValue::ConnectToRegistry(): Unable to connect to registry: ";
constexpr char kRefreshOpenFailed[] = "CRegValue::Refresh(): Unable to open key: ";
constexpr char kRefreshQueryFailed[] = "CRegValue::Refresh(): Unable to query key: ";
constexpr char kUpdateCreateFailed[] = "CRegValue::Update(): Error calling RegCreateKeyEx: ";
constexpr char kUpdateSetFailed[] = "CRegValue::Update(): Error setting registry value: ";
constexpr char kDeleteOpenFailed[] = "CRegValue::Delete(): Unable to open key: ";
constexpr char kDeleteValueFailed[] = "CRegValue::Delete(): Unable to delete value: ";

// What the administration programs' message boxes say before the error.
constexpr char kAdminConnectFailed[] = "Unable to connect to registry.";
constexpr char kAdminCreateFailed[] = "Error calling RegCreateKeyEx.";
constexpr char kAdminSetFailed[] = "Error setting registry value.";

std::string AsText(const RegData& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* number = std::get_if<std::uint32_t>(&value)) return std::to_string(*number);
  return {};
}

// A 32-bit whole number from the value: numbers as they are, text in decimal
// (negative numbers wrap as a signed 32-bit value would), Empty as 0.
std::optional<std::uint32_t> AsNumber(const RegData& value) {
  if (const auto* number = std::get_if<std::uint32_t>(&value)) return *number;
  const auto* text = std::get_if<std::string>(&value);
  if (text == nullptr) return 0u;
  std::string_view digits = *text;
  while (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
  while (!digits.empty() && digits.back() == ' ') digits.remove_suffix(1);
  std::int64_t parsed = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
  if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()) return std::nullopt;
  if (parsed < std::numeric_limits<std::int32_t>::min() || parsed > std::numeric_limits<std::uint32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(parsed);
}

// REG_MULTI_SZ data up to and including the first zero of the first pair of
// zeros; all of it when there is no pair.
std::string MultiStringText(std::string_view data) {
  const std::size_t pair = data.find(std::string_view("\0\0", 2));
  return std::string(pair == std::string_view::npos ? data : data.substr(0, pair + 1));
}

// Text data up to its first zero (the platform does not guarantee one).
std::string TerminatedText(std::string_view data) { return std::string(data.substr(0, data.find('\0'))); }

}  // namespace

// ---- CRegValue ---------------------------------------------------------

void CRegValue::SetTargetMachine(std::string_view machine) {
  targetMachine_ = NormalizeTargetMachine(machine);
  changed_ = true;
}

void CRegValue::SetValue(RegData value) {
  value_ = std::move(value);
  changed_ = true;
}

void CRegValue::Fail(const char* message, const char* adminText, LONG code) {
  const auto error = static_cast<DWORD>(code);
  if (reporting_ == FailureReporting::LastErrorMessage) {
    lastErrorMessage_ = message + CSysMessage::GetMessage(error);
  } else if (adminText != nullptr) {
    const std::string text = std::string(adminText) + " " + NumberedErrorText("Error #", error);
    g_messageBoxSink(text.c_str(), kRegValueCaption);
  }
}

bool CRegValue::Succeeded(bool succeeded) const noexcept {
  return reporting_ == FailureReporting::LastErrorMessage ? lastErrorMessage_.empty() : succeeded;
}

bool CRegValue::Connect(unique_hkey& root, const char* adminText) {
  lastErrorMessage_.clear();
  const LONG result = ConnectToRegistry(targetMachine_, rootKey_, root);
  if (result == ERROR_SUCCESS) return true;
  Fail(kConnectFailed, adminText, result);
  return false;
}

bool CRegValue::Refresh() {
  lastErrorMessage_.clear();
  value_ = std::monostate{};
  unique_hkey root;
  if (!Connect(root, nullptr)) return Succeeded(false);

  unique_hkey key;
  LONG result = RegOpenKeyExA(root.get(), subKey_.c_str(), 0, KEY_QUERY_VALUE, key.put());
  if (result != ERROR_SUCCESS) {
    Fail(kRefreshOpenFailed, nullptr, result);
    return Succeeded(false);
  }
  DWORD type = 0;
  DWORD sizeBytes = 0;
  result = RegQueryValueExA(key.get(), valueName_.c_str(), nullptr, &type, nullptr, &sizeBytes);
  if (result != ERROR_SUCCESS) {
    Fail(kRefreshQueryFailed, nullptr, result);
    return Succeeded(false);
  }
  dataType_ = type;
  ReadValue(key.get(), type, sizeBytes);
  changed_ = false;
  return Succeeded(true);
}

void CRegValue::ReadValue(HKEY key, DWORD type, DWORD sizeBytes) {
  if (type == REG_DWORD) {
    DWORD number = 0;
    DWORD numberSize = sizeof number;
    if (RegQueryValueExA(key, valueName_.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&number),
                         &numberSize) == ERROR_SUCCESS &&
        numberSize == sizeof number) {
      value_ = std::uint32_t{number};
    }
    return;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return;

  std::string data(sizeBytes, '\0');
  DWORD readBytes = sizeBytes;
  const bool read = sizeBytes >= 1 &&
                    RegQueryValueExA(key, valueName_.c_str(), nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(data.data()), &readBytes) == ERROR_SUCCESS;
  if (!read) {
    value_ = std::string();
    return;
  }
  data.resize(std::min<std::size_t>(readBytes, data.size()));
  value_ = type == REG_MULTI_SZ ? MultiStringText(data) : TerminatedText(data);
}

bool CRegValue::Update() {
  if (!changed_) return Succeeded(true);
  unique_hkey root;
  if (!Connect(root, kAdminConnectFailed)) return Succeeded(false);

  unique_hkey key;
  char emptyClass[] = "";
  LONG result = RegCreateKeyExA(root.get(), subKey_.c_str(), 0, emptyClass, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE, nullptr, key.put(), nullptr);
  if (result != ERROR_SUCCESS) {
    Fail(kUpdateCreateFailed, kAdminCreateFailed, result);
    return Succeeded(false);
  }

  std::string bytes;
  switch (dataType_) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      bytes = AsText(value_);
      bytes.push_back('\0');
      break;
    case REG_MULTI_SZ:
      bytes = AsText(value_);
      bytes.append(2, '\0');
      break;
    case REG_DWORD: {
      const std::optional<std::uint32_t> number = AsNumber(value_);
      if (!number) {
        Fail(kUpdateSetFailed, kAdminSetFailed, ERROR_INVALID_DATA);
        return Succeeded(false);
      }
      bytes.assign(sizeof *number, '\0');
      std::memcpy(bytes.data(), &*number, sizeof *number);
      break;
    }
    default:
      // Types the classes do not handle are left alone.
      changed_ = false;
      return Succeeded(true);
  }
  result = RegSetValueExA(key.get(), valueName_.c_str(), 0, dataType_, reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size()));
  if (result != ERROR_SUCCESS) {
    Fail(kUpdateSetFailed, kAdminSetFailed, result);
    return Succeeded(false);
  }
  changed_ = false;
  return Succeeded(true);
}

bool CRegValue::Delete() {
  lastErrorMessage_.clear();
  unique_hkey root;
  if (!Connect(root, nullptr)) return Succeeded(false);
  unique_hkey key;
  // Deleting a value is a change of the key's values.
  LONG result = RegOpenKeyExA(root.get(), subKey_.c_str(), 0, KEY_SET_VALUE, key.put());
  if (result != ERROR_SUCCESS) {
    Fail(kDeleteOpenFailed, nullptr, result);
    return Succeeded(false);
  }
  result = RegDeleteValueA(key.get(), valueName_.c_str());
  if (result != ERROR_SUCCESS) {
    Fail(kDeleteValueFailed, nullptr, result);
    return Succeeded(false);
  }
  return Succeeded(true);
}

// ---- CRegKey -----------------------------------------------------------

void CRegKey::SetTargetMachine(std::string_view machine) { targetMachine_ = NormalizeTargetMachine(machine); }

bool CRegKey::Exists() const {
  unique_hkey root;
  if (ConnectToRegistry(targetMachine_, rootKey_, root) != ERROR_SUCCESS) return false;
  unique_hkey key;
  return RegOpenKeyExA(root.get(), Path().c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS;
}

bool CRegKey::Create() const {
  unique_hkey root;
  if (ConnectToRegistry(targetMachine_, rootKey_, root) != ERROR_SUCCESS) return false;
  unique_hkey key;
  char emptyClass[] = "";
  // The new key is not used through this handle: the least access will do.
  return RegCreateKeyExA(root.get(), Path().c_str(), 0, emptyClass, REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE,
                         nullptr, key.put(), nullptr) == ERROR_SUCCESS;
}

bool CRegKey::Delete() const {
  unique_hkey root;
  if (ConnectToRegistry(targetMachine_, rootKey_, root) != ERROR_SUCCESS) return false;
  unique_hkey parent;
  // The parent handle's rights do not matter to the deletion; the key itself
  // must grant DELETE.
  if (RegOpenKeyExA(root.get(), parentKey_.c_str(), 0, KEY_QUERY_VALUE, parent.put()) != ERROR_SUCCESS) {
    return false;
  }
  return RegDeleteKeyA(parent.get(), subKey_.c_str()) == ERROR_SUCCESS;
}

}  // namespace quax
