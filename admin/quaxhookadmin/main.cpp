// quaxhookadmin: the in-process collector's settings and its registration in
// AppInit_DLLs.
#include <windows.h>

#include "control_ids.h"
#include "hookadmin_window.h"
#include "shell_components.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  using namespace quax;
  try {
    SetProgramTitle(kHookEditorTitle);
    FMain main;
    return RunMainDialog(main, IDD_FMain_User32, show);
  } catch (...) {
    return 1;
  }
}
