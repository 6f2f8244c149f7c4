// The classes of the server. One table drives the class factory,
// DllRegisterServer and DllUnregisterServer: a class is one object file
// and one line in ServerClasses().
#pragma once

#include <windows.h>

#include <span>

namespace quax::com {

using CreateInstance = HRESULT (*)(REFIID iid, void** out) noexcept;

struct ServerClass {
  const CLSID& ClassId;
  const char* ProgId;  // version-independent: "quaxagg." + the class name
  const char* Description;
  CreateInstance Create;
};

extern const ServerClass kTypedEngineClass;
extern const ServerClass kScriptingEngineClass;
extern const ServerClass kVTXAggregatorClass;
extern const ServerClass kStringBuilderClass;
extern const ServerClass kExceptionFileClass;
extern const ServerClass kWinEventLogClass;
extern const ServerClass kQuaxEventLogClass;
extern const ServerClass kWin32ProcessClass;

std::span<const ServerClass* const> ServerClasses() noexcept;
const ServerClass* FindServerClass(REFCLSID classId) noexcept;

// The class factory of one class: the same object for every call, living as
// long as the DLL (its references are not counted).
HRESULT GetClassFactory(const ServerClass& serverClass, REFIID iid, void** out) noexcept;

}  // namespace quax::com
