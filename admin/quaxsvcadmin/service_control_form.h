// The rules of the service control window: what it shows after each refresh
// and what its buttons, check box and menu do. The window only forwards its
// events here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "form_view.h"
#include "service_manager.h"

namespace quax {

inline constexpr char kServiceControlTitle[] = "Service Control";
inline constexpr std::uint32_t kIndicatorGreen = 0x00FF00;  // as COLORREF: 0x00BBGGRR
inline constexpr std::uint32_t kIndicatorRed = 0x0000FF;

class ServiceControlView : public FormView {
 public:
  virtual void SetIndicatorColour(std::uint32_t colorRef) = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  virtual void Hide() = 0;
  // Starts a program in a normal window; false when it could not be started.
  virtual bool RunProgram(const std::string& commandLine) = 0;
  // Expands %NAME% references; nothing when the expansion failed.
  virtual std::optional<std::string> ExpandEnvironment(const std::string& text) = 0;
};

// The services console: the Control Panel applet before Windows 2000, else
// the management console.
std::string ServicesManagerCommand(bool ntBeforeVersion5);

// Stops and starts the service so that it reads its settings again
// ("Restarting service..." meanwhile); a failure is shown in a message box
// "Restart Service". False when it failed.
bool RestartService(ServiceManager& service, FormView& view);

class ServiceControlForm {
 public:
  ServiceControlForm(ServiceControlView& view, ServiceManager& service, std::string applicationTitle) noexcept
      : view_(view), service_(service), applicationTitle_(std::move(applicationTitle)) {}

  // Passes the name on and refreshes at once.
  void SetServiceName(std::string name);
  void RefreshDisplay();
  void OnStart();
  void OnStop();
  void OnAutoStartClicked();
  void OnServicesManager(bool ntBeforeVersion5);
  void OnEventViewer();
  void OnClose() { view_.Hide(); }

 private:
  void StartOrStop(bool start);

  ServiceControlView& view_;
  ServiceManager& service_;
  std::string applicationTitle_;
  bool refreshing_ = false;
  bool changingAutoStart_ = false;
  // A start or stop is waiting for the service; further clicks are ignored.
  bool busy_ = false;
};

}  // namespace quax
