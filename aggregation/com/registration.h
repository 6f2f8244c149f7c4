// Self-registration of the server. What registration writes is worked out
// by plain functions (the keys and values below HKEY_CLASSES_ROOT for every
// class of the table); the type library is registered by the platform.
// Unregistration removes exactly the keys registration creates and the type
// library's registration.
#pragma once

#include <windows.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "com/server_classes.h"

namespace quax::com {

// Text form of a GUID: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper case.
std::string GuidText(const GUID& guid);

struct RegistryEntry {
  std::string Key;  // below HKEY_CLASSES_ROOT
  std::string ValueName;  // empty: the key's default value
  std::string Value;
};

inline constexpr char kThreadingModel[] = "Apartment";
inline constexpr char kTypeLibraryVersion[] = "1.0";
// The version-dependent ProgID is the ProgID + "." + this.
inline constexpr char kProgIdVersion[] = "1";

// Every value registration writes, for a server at serverPath.
std::vector<RegistryEntry> RegistrationEntries(std::span<const ServerClass* const> classes,
                                               std::string_view serverPath, const GUID& libraryId);
// The keys registration creates at the top (each removed with what is below).
std::vector<std::string> RegistrationRoots(std::span<const ServerClass* const> classes);

// DllRegisterServer and DllUnregisterServer.
HRESULT RegisterServer() noexcept;
HRESULT UnregisterServer() noexcept;

}  // namespace quax::com
