#include "com/registration.h"

#include <olectl.h>
#include <oleauto.h>

#include <cstdio>

#include "com/interfaces.h"
#include "com/server.h"
#include "unique_com.h"

namespace quax::com {
namespace {

std::string VersionedProgId(const ServerClass& serverClass) {
  return std::string(serverClass.ProgId) + "." + kProgIdVersion;
}

LONG WriteEntry(const RegistryEntry& entry) {
  unique_hkey key;
  LONG status = RegCreateKeyExA(HKEY_CLASSES_ROOT, entry.Key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  return RegSetValueExA(key.get(), entry.ValueName.empty() ? nullptr : entry.ValueName.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(entry.Value.c_str()),
                        static_cast<DWORD>(entry.Value.size() + 1));
}

// Runs `use` with the attributes of the server's type library.
template <class Use>
HRESULT WithLibrary(Use use) noexcept {
  unique_com<ITypeLib> library;
  HRESULT hr = LoadServerTypeLibrary(library.put());
  if (FAILED(hr)) return hr;
  TLIBATTR* attributes = nullptr;
  hr = library.get()->GetLibAttr(&attributes);
  if (FAILED(hr)) return hr;
  hr = use(library.get(), *attributes);
  library.get()->ReleaseTLibAttr(attributes);
  return hr;
}

}  // namespace

std::string GuidText(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

std::vector<RegistryEntry> RegistrationEntries(std::span<const ServerClass* const> classes,
                                               std::string_view serverPath, const GUID& libraryId) {
  std::vector<RegistryEntry> entries;
  for (const ServerClass* serverClass : classes) {
    const std::string classKey = "CLSID\\" + GuidText(serverClass->ClassId);
    const std::string classId = GuidText(serverClass->ClassId);
    const std::string progId = serverClass->ProgId;
    const std::string versioned = VersionedProgId(*serverClass);
    const std::string description = serverClass->Description;
    entries.push_back({classKey, "", description});
    entries.push_back({classKey + "\\InprocServer32", "", std::string(serverPath)});
    entries.push_back({classKey + "\\InprocServer32", "ThreadingModel", kThreadingModel});
    entries.push_back({classKey + "\\ProgID", "", versioned});
    entries.push_back({classKey + "\\VersionIndependentProgID", "", progId});
    entries.push_back({classKey + "\\TypeLib", "", GuidText(libraryId)});
    entries.push_back({classKey + "\\Version", "", kTypeLibraryVersion});
    entries.push_back({progId, "", description});
    entries.push_back({progId + "\\CLSID", "", classId});
    entries.push_back({progId + "\\CurVer", "", versioned});
    entries.push_back({versioned, "", description});
    entries.push_back({versioned + "\\CLSID", "", classId});
  }
  return entries;
}

std::vector<std::string> RegistrationRoots(std::span<const ServerClass* const> classes) {
  std::vector<std::string> roots;
  for (const ServerClass* serverClass : classes) {
    roots.push_back("CLSID\\" + GuidText(serverClass->ClassId));
    roots.push_back(serverClass->ProgId);
    roots.push_back(VersionedProgId(*serverClass));
  }
  return roots;
}

HRESULT RegisterServer() noexcept {
  try {
    const std::string path = ServerPath();
    if (path.empty()) return SELFREG_E_CLASS;
    for (const RegistryEntry& entry : RegistrationEntries(ServerClasses(), path, LIBID_quaxagg)) {
      if (WriteEntry(entry) != ERROR_SUCCESS) {
        UnregisterServer();
        return SELFREG_E_CLASS;
      }
    }
    const std::wstring widePath = ServerPathWide();
    const HRESULT hr = WithLibrary([&widePath](ITypeLib* library, const TLIBATTR&) {
      return RegisterTypeLib(library, const_cast<LPOLESTR>(widePath.c_str()), nullptr);
    });
    if (FAILED(hr)) {
      UnregisterServer();
      return SELFREG_E_TYPELIB;
    }
    return S_OK;
  } catch (...) {
    UnregisterServer();
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterServer() noexcept {
  HRESULT result = S_OK;
  try {
    for (const std::string& root : RegistrationRoots(ServerClasses())) {
      const LONG status = RegDeleteTreeA(HKEY_CLASSES_ROOT, root.c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) result = SELFREG_E_CLASS;
    }
  } catch (...) {
    result = E_OUTOFMEMORY;
  }
  // The attributes (including 32- or 64-bit) come from the library itself.
  // A library that is not registered (any more) is left alone: nothing to
  // remove is no failure.
  const HRESULT hr = WithLibrary([](ITypeLib*, const TLIBATTR& attributes) {
    unique_bstr registeredPath;
    if (FAILED(QueryPathOfRegTypeLib(attributes.guid, attributes.wMajorVerNum, attributes.wMinorVerNum,
                                     attributes.lcid, registeredPath.put()))) {
      return S_OK;
    }
    return UnRegisterTypeLib(attributes.guid, attributes.wMajorVerNum, attributes.wMinorVerNum, attributes.lcid,
                             attributes.syskind);
  });
  if (FAILED(hr) && result == S_OK) result = SELFREG_E_TYPELIB;
  return result;
}

}  // namespace quax::com
