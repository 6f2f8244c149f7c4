// quaxhookadmin: the in-process collector's settings and its registration in
// AppInit_DLLs.
#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include "control_ids.h"
#include "hookadmin_window.h"
#include "shell_components.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  using namespace quax;
  try {
    SetProgramTitle(kHookEditorTitle);
    const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    // The folder browser needs an apartment.
    const HRESULT ole = OleInitialize(nullptr);
    ShowRegistryFailuresOverActiveWindow();

    int exitCode = 1;
    {
      FMain main;
      if (main.Create(IDD_FMain_User32, nullptr)) {
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
