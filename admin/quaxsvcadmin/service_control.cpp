#include "service_control.h"

#include <memory>
#include <new>

#include "unique_handle.h"
#include "win32/registry.h"

namespace quax {

namespace {

constexpr char kManagerFailed[] = "Error opening service control manager: ";
constexpr char kServiceFailed[] = "Error opening service: ";
constexpr char kStatusFailed[] = "Error querying service status: ";
constexpr char kConfigFailed[] = "Error querying service configuration: ";
constexpr char kLockFailed[] = "Error locking service control database: ";
constexpr char kChangeFailed[] = "Error changing service configuration: ";
constexpr char kNoServiceName[] = "The service name was not specified.";
constexpr std::size_t kConfigTextLimit = 255;

std::string LastErrorText() { return CSysMessage::GetMessage(GetLastError()); }

// A configuration text: at most 255 characters, ending at its first NUL.
std::string ConfigText(const char* text) {
  if (text == nullptr) return {};
  return std::string(text, strnlen(text, kConfigTextLimit));
}

std::string TimeoutText(bool starting, DWORD milliseconds) {
  return std::string("The service did not finish ") + (starting ? "starting" : "stopping") + " within " +
         std::to_string(milliseconds / 1000) + " seconds.";
}

}  // namespace

void PumpWindowMessages(DWORD waitMilliseconds) {
  MsgWaitForMultipleObjects(0, nullptr, FALSE, waitMilliseconds, QS_ALLINPUT);
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Leave the program's ending to its message loop.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    const HWND active = GetActiveWindow();
    if (active != nullptr && IsDialogMessageA(active, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

CServiceControl::CServiceControl() : pump_([] { PumpWindowMessages(100); }) {}

bool CServiceControl::RefreshServiceStatus() {
  displayName_.clear();
  servicePath_.clear();
  statusText_.clear();
  lastErrorMessage_.clear();
  autoStart_ = false;

  unique_service_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    lastErrorMessage_ = kManagerFailed + LastErrorText();
    return false;
  }
  unique_service_handle service(OpenServiceA(manager.get(), serviceName_.c_str(), GENERIC_READ));
  if (!service) {
    lastErrorMessage_ = kServiceFailed + LastErrorText();
    return false;
  }
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service.get(), &status)) {
    lastErrorMessage_ = kStatusFailed + LastErrorText();
    return false;
  }
  statusText_ = ServiceStateText(status.dwCurrentState);

  DWORD neededBytes = 0;
  if (QueryServiceConfigA(service.get(), nullptr, 0, &neededBytes) || GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[neededBytes]());
    if (buffer == nullptr) {
      lastErrorMessage_ = "Unable to allocate " + std::to_string(neededBytes) + " bytes for QueryServiceConfig.";
      return false;
    }
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.get());
    if (QueryServiceConfigA(service.get(), config, neededBytes, &neededBytes)) {
      displayName_ = ConfigText(config->lpDisplayName);
      servicePath_ = ConfigText(config->lpBinaryPathName);
      autoStart_ = config->dwStartType == SERVICE_AUTO_START;
      return true;
    }
  }
  lastErrorMessage_ = kConfigFailed + LastErrorText();
  return false;
}

bool CServiceControl::ServiceSetAutoStart(bool on) {
  lastErrorMessage_.clear();
  unique_service_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_LOCK));
  if (!manager) {
    lastErrorMessage_ = kManagerFailed + LastErrorText();
    return false;
  }
  const unique_service_lock lock(LockServiceDatabase(manager.get()));
  if (!lock) {
    lastErrorMessage_ = kLockFailed + LastErrorText();
    return false;
  }
  unique_service_handle service(OpenServiceA(manager.get(), serviceName_.c_str(), SERVICE_CHANGE_CONFIG));
  if (!service) {
    lastErrorMessage_ = kServiceFailed + LastErrorText();
    return false;
  }
  if (!ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, on ? SERVICE_AUTO_START : SERVICE_DEMAND_START,
                            SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
    lastErrorMessage_ = kChangeFailed + LastErrorText();
    return false;
  }
  autoStart_ = on;
  return true;
}

bool CServiceControl::OpenForControl(DWORD access, unique_service_handle& manager, unique_service_handle& service) {
  if (serviceName_.empty()) {
    lastErrorMessage_ = kNoServiceName;
    return false;
  }
  lastErrorMessage_.clear();
  manager.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    lastErrorMessage_ = kManagerFailed + LastErrorText();
    return false;
  }
  service.reset(OpenServiceA(manager.get(), serviceName_.c_str(), access));
  if (!service) {
    lastErrorMessage_ = kServiceFailed + LastErrorText();
    return false;
  }
  return true;
}

bool CServiceControl::WaitWhilePending(SC_HANDLE service, DWORD pendingState, SERVICE_STATUS& status) {
  const ULONGLONG deadline = GetTickCount64() + pendingTimeoutMilliseconds_;
  for (;;) {
    if (!QueryServiceStatus(service, &status)) {
      lastErrorMessage_ = LastErrorText();
      return false;
    }
    if (status.dwCurrentState != pendingState) return true;
    if (GetTickCount64() >= deadline) {
      lastErrorMessage_ = TimeoutText(pendingState == SERVICE_START_PENDING, pendingTimeoutMilliseconds_);
      return false;
    }
    pump_();
  }
}

void CServiceControl::FailWithFinalState(const SERVICE_STATUS& status) {
  if (!lastErrorMessage_.empty()) return;
  // A service that stopped on its own says why in its exit code.
  const DWORD error = status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ? status.dwServiceSpecificExitCode
                                                                              : status.dwWin32ExitCode;
  lastErrorMessage_ = error != NO_ERROR ? CSysMessage::GetMessage(error) : LastErrorText();
}

bool CServiceControl::ServiceStart() {
  unique_service_handle manager;
  unique_service_handle service;
  if (!OpenForControl(GENERIC_READ | GENERIC_EXECUTE, manager, service)) return false;
  if (!StartServiceA(service.get(), 0, nullptr)) {
    lastErrorMessage_ = LastErrorText();
    return false;
  }
  SERVICE_STATUS status{};
  WaitWhilePending(service.get(), SERVICE_START_PENDING, status);
  if (status.dwCurrentState == SERVICE_RUNNING && lastErrorMessage_.empty()) return true;
  FailWithFinalState(status);
  return false;
}

bool CServiceControl::ServiceStop() {
  unique_service_handle manager;
  unique_service_handle service;
  if (!OpenForControl(GENERIC_READ | GENERIC_EXECUTE, manager, service)) return false;
  SERVICE_STATUS status{};
  if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    lastErrorMessage_ = LastErrorText();
    return false;
  }
  WaitWhilePending(service.get(), SERVICE_STOP_PENDING, status);
  if (status.dwCurrentState == SERVICE_STOPPED && lastErrorMessage_.empty()) return true;
  if (lastErrorMessage_.empty()) lastErrorMessage_ = LastErrorText();
  return false;
}

}  // namespace quax
