// One named service through the Windows service control manager. Starting
// and stopping wait for the service to leave its pending state, processing
// the window's events meanwhile, and give up after a time-out.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "service_manager.h"
#include "unique_handle.h"

namespace quax {

class CServiceControl : public ServiceManager {
 public:
  // Waits of start and stop end after this long in a pending state.
  static constexpr DWORD kDefaultPendingTimeoutMilliseconds = 30000;

  CServiceControl();

  const std::string& LastErrorMessage() const override { return lastErrorMessage_; }
  bool AutoStart() const override { return autoStart_; }
  const std::string& DisplayName() const override { return displayName_; }
  const std::string& ServiceName() const override { return serviceName_; }
  void SetServiceName(std::string name) override { serviceName_ = std::move(name); }
  const std::string& ServicePath() const override { return servicePath_; }
  const std::string& ServiceStatus() const override {
    return statusText_.empty() ? lastErrorMessage_ : statusText_;
  }
  bool IsRunning() const override { return !serviceName_.empty() && StatusSaysRunning(statusText_); }
  bool RefreshServiceStatus() override;
  bool ServiceSetAutoStart(bool on) override;
  bool ServiceStart() override;
  bool ServiceStop() override;

  // Runs between two looks at a pending service; by default it processes the
  // thread's window messages and waits up to a tenth of a second for more.
  void SetPendingPump(std::function<void()> pump) { pump_ = std::move(pump); }
  void SetPendingTimeout(DWORD milliseconds) noexcept { pendingTimeoutMilliseconds_ = milliseconds; }

 private:
  bool OpenForControl(DWORD access, unique_service_handle& manager, unique_service_handle& service);
  // Polls while the service is in the pending state; false (with the
  // reason) when a query fails or the time-out passes.
  bool WaitWhilePending(SC_HANDLE service, DWORD pendingState, SERVICE_STATUS& status);
  // The reason a start or stop ended in the wrong state.
  void FailWithFinalState(const SERVICE_STATUS& status);

  std::string serviceName_;
  std::string displayName_;
  std::string servicePath_;
  std::string statusText_;
  std::string lastErrorMessage_;
  bool autoStart_ = false;
  std::function<void()> pump_;
  DWORD pendingTimeoutMilliseconds_ = kDefaultPendingTimeoutMilliseconds;
};

// Processes the thread's pending window messages (dialog keys included) and
// waits up to the given time for more to arrive.
void PumpWindowMessages(DWORD waitMilliseconds);

}  // namespace quax
