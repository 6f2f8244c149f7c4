// Entry point of quaxcolhook.dll. Windows loads the library into every
// process that loads user32; the library records that process.
#include <windows.h>

#include "entry_platform.h"
#include "host_collector.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      quax::AttachHostCollector(quax::EntryWriterPlatform());
      break;
    case DLL_PROCESS_DETACH:
      // A non-null reserved pointer means the process is ending.
      quax::DetachHostCollector(reserved != nullptr);
      break;
    default:  // thread notifications: nothing to do
      break;
  }
  return TRUE;
}
