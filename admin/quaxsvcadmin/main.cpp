// quaxsvcadmin: the collector service's settings and service control.
#include <windows.h>

#include "control_ids.h"
#include "shell_components.h"
#include "svcadmin_windows.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  using namespace quax;
  try {
    SetProgramTitle(kServiceEditorTitle);
    Win32InstanceSystem instances("Local\\QUAX.quaxsvcadmin");
    if (!ContinueAsOnlyInstance(instances, kServiceEditorTitle)) return 0;
    FMain main;
    return RunMainDialog(main, IDD_FMain_Service, show);
  } catch (...) {
    return 1;
  }
}
