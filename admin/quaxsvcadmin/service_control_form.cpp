#include "service_control_form.h"

#include <cctype>

#include "control_ids.h"
#include "editor_common.h"

namespace quax {

namespace {

constexpr char kRefreshing[] = "Refreshing...";
constexpr char kInformationCaption[] = "Service Information";
constexpr char kInformationFailed[] = "Unable to get service information: ";
constexpr char kEventLogHint[] = "\r\n\r\nPlease see the Windows Event Log for more information.";
constexpr char kAutoStartCaption[] = "Auto Start Service";
constexpr char kServicesManagerFailed[] = "Unable to start Windows Services application.";

}  // namespace

const char* ServiceStateText(std::uint32_t state) noexcept {
  switch (state) {
    case kServiceStopped:
      return "The service is stopped.";
    case kServiceStartPending:
      return "The service is being started.";
    case kServiceStopPending:
      return "The service is in the process of being stopped.";
    case kServiceRunning:
      return "The service is running.";
    case kServiceContinuePending:
      return "The service is in the process of being continued.";
    case kServicePausePending:
      return "The service is in the process of being paused.";
    case kServicePaused:
      return "The service is paused.";
    default:
      return "The service is an unknown state.";
  }
}

bool StatusSaysRunning(std::string_view statusText) noexcept {
  constexpr std::string_view kRunning = "RUNNING";
  for (std::size_t start = 0; start + kRunning.size() <= statusText.size(); ++start) {
    std::size_t i = 0;
    while (i < kRunning.size() &&
           std::toupper(static_cast<unsigned char>(statusText[start + i])) == kRunning[i]) {
      ++i;
    }
    if (i == kRunning.size()) return true;
  }
  return false;
}

std::string ServicesManagerCommand(bool ntBeforeVersion5) {
  return ntBeforeVersion5 ? "rundll32.exe shell32.dll,Control_RunDLL srvmgr.cpl services"
                          : "%SystemRoot%\\System32\\mmc.exe %SystemRoot%\\System32\\services.msc";
}

void ServiceControlForm::SetServiceName(std::string name) {
  service_.SetServiceName(std::move(name));
  RefreshDisplay();
}

void ServiceControlForm::RefreshDisplay() {
  view_.SetStatus(kRefreshing);
  refreshing_ = true;
  if (service_.RefreshServiceStatus()) {
    const bool running = service_.IsRunning();
    view_.SetEnabled(IDC_btnServiceStart, !running);
    view_.SetEnabled(IDC_btnServiceStop, running);
    view_.SetIndicatorColour(running ? kIndicatorGreen : kIndicatorRed);
    view_.SetChecked(IDC_chkAutoStart, service_.AutoStart());
  } else {
    view_.SetEnabled(IDC_btnServiceStart, false);
    view_.SetEnabled(IDC_btnServiceStop, false);
    view_.SetIndicatorColour(kIndicatorRed);
    view_.SetChecked(IDC_chkAutoStart, false);
    view_.ShowMessage(kInformationFailed + service_.LastErrorMessage(), kInformationCaption, MessageIcon::Error,
                      MessageButtons::Ok);
  }
  const std::string& display = service_.DisplayName();
  view_.SetText(IDC_lblServiceName, display.empty() ? service_.ServiceName() : service_.ServiceName() + " - " + display);
  view_.SetText(IDC_lblServiceStatus, service_.ServiceStatus());
  view_.SetText(IDC_lblServicePath, service_.ServicePath());
  view_.SetStatus(kStatusReady);
  refreshing_ = false;
}

void ServiceControlForm::OnStart() { StartOrStop(true); }
void ServiceControlForm::OnStop() { StartOrStop(false); }

void ServiceControlForm::StartOrStop(bool start) {
  if (busy_) return;
  busy_ = true;
  view_.SetBusyCursor(true);
  view_.SetStatus(start ? "Starting service..." : "Stopping service...");
  if (!(start ? service_.ServiceStart() : service_.ServiceStop())) {
    view_.ShowMessage((start ? "Error starting service: " : "Error stopping service: ") +
                          WithoutLineEnd(service_.LastErrorMessage()) + kEventLogHint,
                      start ? "Start Service" : "Stop Service", MessageIcon::Error, MessageButtons::Ok);
  }
  RefreshDisplay();
  // The clicked button may be disabled now: the keyboard stays in the window.
  view_.Focus(view_.Enabled(IDC_btnServiceStop)    ? IDC_btnServiceStop
              : view_.Enabled(IDC_btnServiceStart) ? IDC_btnServiceStart
                                                   : IDC_btnClose);
  view_.SetStatus(kStatusReady);
  view_.SetBusyCursor(false);
  busy_ = false;
}

void ServiceControlForm::OnAutoStartClicked() {
  if (refreshing_ || changingAutoStart_ || busy_) return;
  changingAutoStart_ = true;
  const bool on = view_.Checked(IDC_chkAutoStart);
  if (!service_.ServiceSetAutoStart(on)) {
    view_.ShowMessage(service_.LastErrorMessage(), kAutoStartCaption, MessageIcon::Error, MessageButtons::Ok);
    view_.SetChecked(IDC_chkAutoStart, !on);
  }
  changingAutoStart_ = false;
}

void ServiceControlForm::OnServicesManager(bool ntBeforeVersion5) {
  const std::string command = ServicesManagerCommand(ntBeforeVersion5);
  std::optional<std::string> line = command;
  if (!ntBeforeVersion5) line = view_.ExpandEnvironment(command);
  if (!line) return;
  if (!view_.RunProgram(*line)) {
    view_.ShowMessage(kServicesManagerFailed, applicationTitle_, MessageIcon::Error, MessageButtons::Ok);
  }
}

void ServiceControlForm::OnEventViewer() { view_.RunProgram("eventvwr.exe"); }

bool RestartService(ServiceManager& service, FormView& view) {
  view.SetStatus("Restarting service...");
  const bool restarted = service.ServiceStop() && service.ServiceStart();
  if (!restarted) {
    view.ShowMessage("Error restarting service: " + WithoutLineEnd(service.LastErrorMessage()) + kEventLogHint,
                     "Restart Service", MessageIcon::Error, MessageButtons::Ok);
  }
  view.SetStatus(kStatusReady);
  return restarted;
}

}  // namespace quax
