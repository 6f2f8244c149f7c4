// Registry access for the aggregation library and the administration
// programs: one named value (CRegValue), one key (CRegKey), and the system
// text of a Win32 error code (CSysMessage). Both registry classes work on the
// local machine or on a remote one through RegConnectRegistryA.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "unique_handle.h"

namespace quax {

// windows.h maps the name GetMessage to GetMessageA; this header includes it
// first, so declaration and callers always agree on the mapped name.
class CSysMessage {
 public:
  // The system's text of the code, as the system returns it (with its line
  // end), or "Unknown Win32 Error#<code>".
  static std::string GetMessage(DWORD win32Erc);
};

// prefix + the code in decimal + ": " + the code's system text.
std::string NumberedErrorText(std::string_view prefix, DWORD code);

// "" stays empty, "\\name" stays, "\name" and "name" become "\\name".
std::string NormalizeTargetMachine(std::string_view machine);

// Opens root on the target machine (empty = local). Returns the platform
// error code; on success connected owns the key.
LONG ConnectToRegistry(const std::string& targetMachine, HKEY root, unique_hkey& connected);

// The data of a value as the classes hold it: nothing (Empty), text, or a
// 32-bit number. REG_MULTI_SZ text keeps its entries' zero separators.
using RegData = std::variant<std::monostate, std::string, std::uint32_t>;

// Receives the failures of the administration programs' registry value;
// null restores the real message box (error icon).
using MessageBoxSink = void (*)(const char* text, const char* caption);
void SetMessageBoxSink(MessageBoxSink sink) noexcept;

inline constexpr char kRegValueCaption[] = "CRegValue";

class CRegValue {
 public:
  CRegValue() noexcept : CRegValue(FailureReporting::LastErrorMessage) {}

  DWORD DataType() const noexcept { return dataType_; }
  void SetDataType(DWORD type) noexcept { dataType_ = type; }
  HKEY Key() const noexcept { return rootKey_; }
  void SetKey(HKEY root) noexcept { rootKey_ = root; }
  const std::string& LastErrorMessage() const noexcept { return lastErrorMessage_; }
  // Kept for callers that set it: every operation asks only for the access
  // it needs (query values to read, set values to write or delete), so a
  // reader is never refused for rights it does not use.
  bool ReadOnly() const noexcept { return readOnly_; }
  void SetReadOnly(bool readOnly) noexcept { readOnly_ = readOnly; }
  const std::string& SubKey() const noexcept { return subKey_; }
  void SetSubKey(std::string subKey) { subKey_ = std::move(subKey); }
  const std::string& TargetMachine() const noexcept { return targetMachine_; }
  void SetTargetMachine(std::string_view machine);
  const RegData& Value() const noexcept { return value_; }
  void SetValue(RegData value);
  const std::string& ValueName() const noexcept { return valueName_; }
  void SetValueName(std::string name) { valueName_ = std::move(name); }

  // Deletes the named value.
  bool Delete();
  // Reads the named value into Value and DataType.
  bool Refresh();
  // Writes Value as DataType, only when Value or TargetMachine was set since
  // the last Refresh or successful Update.
  bool Update();

 protected:
  // The library keeps each failure in LastErrorMessage; the administration
  // programs show Update's failures in a message box and nothing else.
  enum class FailureReporting { LastErrorMessage, MessageBox };
  explicit CRegValue(FailureReporting reporting) noexcept : reporting_(reporting) {}

 private:
  bool Connect(unique_hkey& root, const char* adminText);
  void Fail(const char* message, const char* adminText, LONG code);
  bool Succeeded(bool succeeded) const noexcept;
  void ReadValue(HKEY key, DWORD type, DWORD sizeBytes);

  FailureReporting reporting_;
  DWORD dataType_ = REG_SZ;
  HKEY rootKey_ = HKEY_LOCAL_MACHINE;
  std::string lastErrorMessage_;
  bool readOnly_ = false;
  std::string subKey_;
  std::string targetMachine_;
  RegData value_;
  std::string valueName_;
  bool changed_ = false;
};

// The administration programs' registry value: the same operations without
// LastErrorMessage and ReadOnly.
class CAdminRegValue : private CRegValue {
 public:
  CAdminRegValue() noexcept : CRegValue(FailureReporting::MessageBox) {}
  using CRegValue::DataType;
  using CRegValue::Delete;
  using CRegValue::Key;
  using CRegValue::Refresh;
  using CRegValue::SetDataType;
  using CRegValue::SetKey;
  using CRegValue::SetSubKey;
  using CRegValue::SetTargetMachine;
  using CRegValue::SetValue;
  using CRegValue::SetValueName;
  using CRegValue::SubKey;
  using CRegValue::TargetMachine;
  using CRegValue::Update;
  using CRegValue::Value;
  using CRegValue::ValueName;
};

// One key, ParentKey + "\" + SubKey below the root. Failures give false.
class CRegKey {
 public:
  HKEY Key() const noexcept { return rootKey_; }
  void SetKey(HKEY root) noexcept { rootKey_ = root; }
  const std::string& SubKey() const noexcept { return subKey_; }
  void SetSubKey(std::string subKey) { subKey_ = std::move(subKey); }
  const std::string& ParentKey() const noexcept { return parentKey_; }
  void SetParentKey(std::string parentKey) { parentKey_ = std::move(parentKey); }
  const std::string& TargetMachine() const noexcept { return targetMachine_; }
  void SetTargetMachine(std::string_view machine);

  // Whether the key itself can be opened for reading.
  bool Exists() const;
  bool Create() const;
  // Deletes the key (which must have no subkeys) below its parent.
  bool Delete() const;

 private:
  std::string Path() const { return parentKey_ + "\\" + subKey_; }

  HKEY rootKey_ = HKEY_LOCAL_MACHINE;
  std::string subKey_;
  std::string parentKey_;
  std::string targetMachine_;
};

}  // namespace quax
