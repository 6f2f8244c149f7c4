// quaxcolsvc: installs and removes the "QUAXWinProcess" service, runs the
// collector under the service control manager, or in a console with -debug.
#include <windows.h>

#include <cstdio>

#include "diagnostics.h"
#include "event_loop.h"
#include "fixed_text.h"
#include "unique_handle.h"

namespace quax {
namespace {

constexpr DWORD kStartWaitHint = 3000;

int InstallService(const char* account, const char* password) {
  char path[512];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) {
    std::printf("Unable to install %s - %s\n", kServiceDisplayName, ConsoleErrorText());
    return 1;
  }
  unique_service_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    std::printf("OpenSCManager failed - %s\n", ConsoleErrorText());
    return 1;
  }
  // Quoted, so that a folder with a space (C:\Program Files\...) is never
  // read as a shorter program path followed by arguments.
  char quotedPath[sizeof path + 2];
  FormatText(quotedPath, sizeof quotedPath, "\"%s\"", path);
  unique_service_handle service(CreateServiceA(manager.get(), kServiceName, kServiceDisplayName,
                                               SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                               SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, quotedPath, nullptr,
                                               nullptr, "\0\0", account, password));
  if (service) {
    std::printf("%s installed.\n", kServiceDisplayName);
    return 0;
  }
  std::printf("CreateService failed - %s\n", ConsoleErrorText());
  if (account != nullptr) std::printf("Account:  '%s'\n", account);
  if (password != nullptr) std::printf("Password: '%s'\n", password);
  return 1;
}

void RemoveService() {
  unique_service_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    std::printf("OpenSCManager failed - %s\n", ConsoleErrorText());
    return;
  }
  unique_service_handle service(OpenServiceA(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
  if (!service) {
    std::printf("OpenService failed - %s\n", ConsoleErrorText());
    return;
  }
  SERVICE_STATUS status;
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    std::printf("Stopping %s.", kServiceDisplayName);
    for (;;) {
      Sleep(1000);
      if (!QueryServiceStatus(service.get(), &status) || status.dwCurrentState != SERVICE_STOP_PENDING) break;
      std::printf(".");
    }
    std::printf(status.dwCurrentState == SERVICE_STOPPED ? "\n%s stopped.\n" : "\n%s failed to stop.\n",
                kServiceDisplayName);
  }
  if (DeleteService(service.get())) {
    std::printf("%s removed.\n", kServiceDisplayName);
  } else {
    std::printf("DeleteService failed - %s\n", ConsoleErrorText());
  }
}

void WINAPI ControlHandler(DWORD control) {
  if (control == SERVICE_CONTROL_STOP) {
    ReportServiceStatus(SERVICE_STOP_PENDING, NO_ERROR, 0);
    RequestStop();
    return;
  }
  ReportServiceStatus(Service().Status.dwCurrentState, NO_ERROR, 0);
}

void WINAPI ServiceMain(DWORD argumentCount, char** arguments) {
  ServiceState& service = Service();
  service.StatusHandle = RegisterServiceCtrlHandlerA(kServiceName, &ControlHandler);
  if (service.StatusHandle == nullptr) return;
  service.Status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  service.Status.dwServiceSpecificExitCode = 0;
  if (ReportServiceStatus(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint)) {
    RunCollector(argumentCount, arguments, &service.serviceExitCode);
  }
  ReportServiceStatus(SERVICE_STOPPED, service.serviceExitCode, 0);
}

BOOL WINAPI ConsoleHandler(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  std::printf("Stopping %s.\n", kServiceDisplayName);
  std::fflush(stdout);
  RequestStop();
  return TRUE;
}

void RunAsConsole(int argumentCount, char** arguments) {
  std::printf("Debugging %s...Press Ctrl+C to stop.\n", kServiceDisplayName);
  std::printf("Use DebugView or other debug output viewer to see trace details.\n\n");
  std::fflush(stdout);
  SetConsoleCtrlHandler(&ConsoleHandler, TRUE);
  RunCollector(static_cast<DWORD>(argumentCount), arguments, &Service().serviceExitCode);
}

int StartAsService() {
  std::printf("%s -install          to install the service\n", kServiceName);
  std::printf("%s -remove           to remove the service\n", kServiceName);
  std::printf("%s -debug <params>   to run as a console app for debugging\n", kServiceName);
  std::printf("\n\nStarting service...\n");
  std::fflush(stdout);
  char name[sizeof kServiceName];
  CopyText(name, kServiceName);
  const SERVICE_TABLE_ENTRYA dispatchTable[] = {{name, &ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(dispatchTable)) {
    ReportServiceError("StartServiceCtrlDispatcher failed.");
    return 1;
  }
  return 0;
}

int Main(int argumentCount, char** arguments) {
  GlobalTrace();  // the run's first trace line: "Entered"
  const char* command = argumentCount > 1 ? arguments[1] : "";
  if (command[0] == '-' || command[0] == '/') {
    const char* word = command + 1;
    if (EqualsIgnoreCase(word, "install")) {
      const bool withAccount = argumentCount > 3;
      return InstallService(withAccount ? arguments[2] : nullptr, withAccount ? arguments[3] : nullptr);
    }
    if (EqualsIgnoreCase(word, "remove")) {
      RemoveService();
      return 0;
    }
    if (EqualsIgnoreCase(word, "debug")) {
      Service().ConsoleMode = true;
      RunAsConsole(argumentCount, arguments);
      // The code the service would stop with: 0, 3 for a log directory that
      // is not valid, or the service-specific code of an internal error.
      const DWORD exitCode = Service().serviceExitCode;
      return static_cast<int>(exitCode == ERROR_SERVICE_SPECIFIC_ERROR ? kInternalErrorExitCode : exitCode);
    }
  }
  return StartAsService();
}

}  // namespace
}  // namespace quax

int main(int argumentCount, char** arguments) { return quax::Main(argumentCount, arguments); }
