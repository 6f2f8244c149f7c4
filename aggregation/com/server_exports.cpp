// The four exports of an in-process server, and the DLL entry point (which
// only notes the module: no work under the loader lock, nothing on thread
// notifications, no clean-up at process exit).
#include <windows.h>
#include <objbase.h>

#include "com/registration.h"
#include "com/server.h"
#include "com/server_classes.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    quax::com::SetServerModule(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  const quax::com::ServerClass* serverClass = quax::com::FindServerClass(classId);
  if (serverClass == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  return quax::com::GetClassFactory(*serverClass, iid, out);
}

STDAPI DllCanUnloadNow() {
  if (quax::com::ServerInUse()) return S_FALSE;
  quax::com::ReleaseServerTypeInfo();
  return S_OK;
}

STDAPI DllRegisterServer() { return quax::com::RegisterServer(); }

STDAPI DllUnregisterServer() { return quax::com::UnregisterServer(); }
