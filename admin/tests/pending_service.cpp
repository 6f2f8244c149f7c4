// A service that never finishes starting: it stays in the start-pending state
// until it is told to stop. The window tests start it to see the service
// control wrapper give up waiting.
#include <windows.h>

namespace {

constexpr char kServiceName[] = "QUAXAdminPendingTest";
SERVICE_STATUS_HANDLE g_status = nullptr;

void Report(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_STOPPED ? 0 : SERVICE_ACCEPT_STOP;
  status.dwWaitHint = 60000;
  SetServiceStatus(g_status, &status);
}

void WINAPI Control(DWORD control) {
  if (control != SERVICE_CONTROL_STOP) return;
  Report(SERVICE_STOPPED);
  ExitProcess(0);
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  g_status = RegisterServiceCtrlHandlerA(kServiceName, &Control);
  if (g_status == nullptr) return;
  Report(SERVICE_START_PENDING);
  Sleep(INFINITE);
}

}  // namespace

int main() {
  char name[] = "QUAXAdminPendingTest";
  SERVICE_TABLE_ENTRYA services[] = {{name, &ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(services) ? 0 : 1;
}
