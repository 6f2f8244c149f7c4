// One named service as the service control window sees it. CServiceControl
// implements it over the Windows service control manager.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quax {

// The current state of a service, as the service control manager numbers it.
enum ServiceCurrentState : std::uint32_t {
  kServiceStopped = 1,
  kServiceStartPending = 2,
  kServiceStopPending = 3,
  kServiceRunning = 4,
  kServiceContinuePending = 5,
  kServicePausePending = 6,
  kServicePaused = 7,
};

// "The service is stopped." ... "The service is an unknown state."
const char* ServiceStateText(std::uint32_t state) noexcept;

// Whether a status text says the service runs ("RUNNING" in any case).
bool StatusSaysRunning(std::string_view statusText) noexcept;

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  virtual const std::string& LastErrorMessage() const = 0;
  virtual bool AutoStart() const = 0;
  virtual const std::string& DisplayName() const = 0;
  virtual const std::string& ServiceName() const = 0;
  virtual void SetServiceName(std::string name) = 0;
  virtual const std::string& ServicePath() const = 0;
  // The state text, or LastErrorMessage when there is none.
  virtual const std::string& ServiceStatus() const = 0;
  virtual bool IsRunning() const = 0;
  virtual bool RefreshServiceStatus() = 0;
  virtual bool ServiceSetAutoStart(bool on) = 0;
  virtual bool ServiceStart() = 0;
  virtual bool ServiceStop() = 0;
};

}  // namespace quax
