// quaxsvcadmin: the collector service's settings and service control.
#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include "control_ids.h"
#include "registry_store.h"
#include "shell_components.h"
#include "svcadmin_windows.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  using namespace quax;
  try {
    SetProgramTitle(kServiceEditorTitle);
    Win32InstanceSystem instances("Local\\QUAX.quaxsvcadmin");
    if (!ContinueAsOnlyInstance(instances, kServiceEditorTitle)) return 0;

    const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_DATE_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    // The folder browser needs an apartment.
    const HRESULT ole = OleInitialize(nullptr);
    ShowRegistryFailuresOverActiveWindow();

    int exitCode = 1;
    {
      FMain main;
      if (main.Create(IDD_FMain_Service, nullptr)) {
        ShowWindow(main.Window(), show);
        exitCode = RunDialogMessageLoop(main.Window());
      }
    }
    if (SUCCEEDED(ole)) OleUninitialize();
    return exitCode;
  } catch (...) {
    return 1;
  }
}
