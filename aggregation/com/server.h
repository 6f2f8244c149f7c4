// The state of the in-process server as a whole: its module, the count of
// live objects and LockServer locks (DllCanUnloadNow), and
// the type library it carries as its TYPELIB resource, loaded once with the
// type information of each interface and class cached until the server may
// unload.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace quax::com {

void SetServerModule(HMODULE module) noexcept;
// The full path of quaxagg.dll (ANSI).
std::string ServerPath();
std::wstring ServerPathWide();

void AddServerReference() noexcept;
void ReleaseServerReference() noexcept;
// True while an object lives or LockServer holds a lock.
bool ServerInUse() noexcept;

// The server's type library; the caller owns the reference it gets.
HRESULT LoadServerTypeLibrary(ITypeLib** out) noexcept;
// Type information of an interface or class of the library, cached: the
// pointer stays valid while any object of the server lives.
ITypeInfo* ServerTypeInfo(REFGUID guid) noexcept;
// Drops the cache (when nothing of the server is in use any more).
void ReleaseServerTypeInfo() noexcept;

}  // namespace quax::com
