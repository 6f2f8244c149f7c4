// The service control window against quaxcolsvc installed under the service
// control manager of the window tests' Wine prefix.
#include <gtest/gtest.h>

#include <memory>

#include "control_ids.h"
#include "service_control.h"
#include "test_support.h"
#include "unique_handle.h"
#include "window_driver.h"

namespace quax {
namespace {

using namespace quax::test;

constexpr char kTitle[] = "QUAX Windows Process Collector Configuration - Service";
constexpr char kKey[] = "SOFTWARE\\QUAX\\Collectors\\QUAXWinProcess";

std::string ServiceCommand(const std::string& arguments) {
  std::string output;
  RunAndCapture(ProgramBeside("quaxcolsvc.exe") + " " + arguments, &output);
  return output;
}

DWORD StartType() {
  const unique_service_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  const unique_service_handle service(OpenServiceA(manager.get(), "QUAXWinProcess", SERVICE_QUERY_CONFIG));
  union {
    QUERY_SERVICE_CONFIGA Config;
    BYTE Bytes[8192];
  } buffer;
  DWORD needed = 0;
  if (!QueryServiceConfigA(service.get(), &buffer.Config, sizeof buffer, &needed)) return 0;
  return buffer.Config.dwStartType;
}

class ServiceControlWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ServiceCommand("-remove");
    DeleteMachineTree(kKey);
  }
  void TearDown() override {
    program.reset();
    ServiceCommand("-remove");
    DeleteMachineTree(kKey);
  }
  // quaxsvcadmin's "Control Service"; the information box (if any) is
  // left for the test.
  void OpenServiceControl() {
    program = std::make_unique<RunningProgram>(ProgramBeside("quaxsvcadmin.exe"));
    main = WaitForWindow(kTitle, program->ProcessId());
    ASSERT_NE(main, nullptr);
    Click(main, IDC_btnServiceControl);
  }
  HWND Window() { return WaitForWindow("Service Control", program->ProcessId()); }
  HWND Box(const char* caption) { return WaitForWindow(caption, program->ProcessId(), 30000, main); }
  bool StatusBecomes(HWND window, const std::string& text) {
    return WaitFor([&] { return Text(window, IDC_lblServiceStatus) == text; }, 30000);
  }

  ScratchDirectory logs{"svccontrol"};
  std::unique_ptr<RunningProgram> program;
  HWND main = nullptr;
};

TEST_F(ServiceControlWindow, ServiceNotInstalledIsReportedAndOffersNothing) {
  OpenServiceControl();
  HWND box = Box("Service Information");
  ASSERT_NE(box, nullptr);
  const std::string text = MessageBoxText(box);
  EXPECT_EQ(text.rfind("Unable to get service information: Error opening service: ", 0), 0u) << text;
  Screenshot(box, "service-control-not-installed");
  Click(box, IDOK);
  HWND window = Window();
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(Enabled(window, IDC_btnServiceStart));
  EXPECT_FALSE(Enabled(window, IDC_btnServiceStop));
  EXPECT_FALSE(Checked(window, IDC_chkAutoStart));
  EXPECT_EQ(Text(window, IDC_lblServiceName), "QUAXWinProcess");
  EXPECT_EQ(Text(window, IDC_lblServicePath), "");
  Screenshot(window, "service-control-unknown");

  // Wine has no management console: starting it fails with a message.
  ChooseMenu(window, IDM_mnuViewServicesMgr);
  HWND noConsole = Box(kTitle);
  ASSERT_NE(noConsole, nullptr);
  EXPECT_EQ(MessageBoxText(noConsole), "Unable to start Windows Services application.");
  Screenshot(noConsole, "service-control-no-console");
  Click(noConsole, IDOK);
  ASSERT_TRUE(WaitUntilGone(noConsole));

  Click(window, IDC_btnClose);
  ASSERT_TRUE(WaitUntilGone(window));
  EXPECT_TRUE(IsWindowEnabled(main));  // the editor is usable again
}

TEST_F(ServiceControlWindow, StartsStopsAndSwitchesAutomaticStart) {
  // Installed from where the package puts it, as the window then shows it.
  const std::string folder = "C:\\Program Files\\QUAX";
  const std::string installed = folder + "\\quaxcolsvc.exe";
  const std::string built = ProgramBeside("quaxcolsvc.exe");
  CreateDirectoryA(folder.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(built.substr(1, built.size() - 2).c_str(), installed.c_str(), FALSE));
  struct RemoveCopy {
    const std::string& Program;
    const std::string& Folder;
    ~RemoveCopy() {
      ServiceCommand("-remove");
      WaitFor([&] { return DeleteFileA(Program.c_str()) != FALSE; });
      RemoveDirectoryA(Folder.c_str());
    }
  } removeCopy{installed, folder};
  std::string output;
  RunAndCapture("\"" + installed + "\" -install", &output);
  ASSERT_EQ(output, "QUAX Process Collector with Debug Logging installed.\n");
  SetMachineValue(kKey, "LogFilePath", logs.Path());
  SetMachineValue(kKey, "AccountingInterval", "0");
  OpenServiceControl();
  HWND window = Window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(Text(window, IDC_lblServiceName), "QUAXWinProcess - QUAX Process Collector with Debug Logging");
  EXPECT_EQ(Text(window, IDC_lblServiceStatus), "The service is stopped.");
  EXPECT_EQ(Text(window, IDC_lblServicePath), "\"" + installed + "\"");
  EXPECT_TRUE(Enabled(window, IDC_btnServiceStart));
  EXPECT_FALSE(Enabled(window, IDC_btnServiceStop));
  EXPECT_FALSE(IsWindowEnabled(main));  // shown modally over the editor
  // Not on the check box, where a stray Space would change the start type.
  EXPECT_EQ(FocusedControl(window), GetDlgItem(window, IDC_btnClose));

  Click(window, IDC_btnServiceStart);
  ASSERT_TRUE(StatusBecomes(window, "The service is running."));
  EXPECT_TRUE(WaitFor([&] { return Enabled(window, IDC_btnServiceStop); }));
  // The clicked button is disabled now: the keyboard moves on with it.
  EXPECT_TRUE(WaitFor([&] { return FocusedControl(window) == GetDlgItem(window, IDC_btnServiceStop); }));
  EXPECT_FALSE(Enabled(window, IDC_btnServiceStart));
  EXPECT_FALSE(Checked(window, IDC_chkAutoStart));  // installed for demand start
  Screenshot(window, "service-control");

  Click(window, IDC_chkAutoStart);
  EXPECT_TRUE(WaitFor([] { return StartType() == SERVICE_AUTO_START; }));
  Click(window, IDC_chkAutoStart);
  EXPECT_TRUE(WaitFor([] { return StartType() == SERVICE_DEMAND_START; }));

  Click(window, IDC_btnServiceStop);
  ASSERT_TRUE(StatusBecomes(window, "The service is stopped."));
  EXPECT_TRUE(WaitFor([&] { return Enabled(window, IDC_btnServiceStart); }));
  EXPECT_FALSE(Enabled(window, IDC_btnServiceStop));

  EXPECT_TRUE(WaitFor([&] { return FocusedControl(window) == GetDlgItem(window, IDC_btnServiceStart); }));

  // The view menu's refresh reads the state again.
  SetMachineValue(kKey, "LogFilePath", logs.Path());
  ChooseMenu(window, IDM_mnuViewRefresh);
  EXPECT_TRUE(StatusBecomes(window, "The service is stopped."));
  // Esc reaches the window from the focused button and closes it.
  PressKey(window, GetDlgCtrlID(FocusedControl(window)), VK_ESCAPE);
  ASSERT_TRUE(WaitUntilGone(window));
}

TEST_F(ServiceControlWindow, SavingWhileTheServiceRunsOffersARestart) {
  ASSERT_EQ(ServiceCommand("-install"), "QUAX Process Collector with Debug Logging installed.\n");
  SetMachineValue(kKey, "LogFilePath", logs.Path());
  SetMachineValue(kKey, "AccountingInterval", "0");
  CServiceControl service;
  service.SetServiceName("QUAXWinProcess");
  ASSERT_TRUE(service.ServiceStart()) << service.LastErrorMessage();
  const auto processId = [] {
    const unique_service_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    const unique_service_handle running(OpenServiceA(manager.get(), "QUAXWinProcess", SERVICE_QUERY_STATUS));
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    QueryServiceStatusEx(running.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                         &needed);
    return status.dwProcessId;
  };
  const DWORD before = processId();

  program = std::make_unique<RunningProgram>(ProgramBeside("quaxsvcadmin.exe"));
  main = WaitForWindow(kTitle, program->ProcessId());
  ASSERT_NE(main, nullptr);
  Type(main, IDC_txtLogFilePrefix, "Restarted-");
  Click(main, IDC_btnApply);
  HWND ask = Box(kTitle);
  ASSERT_NE(ask, nullptr);
  EXPECT_EQ(MessageBoxText(ask),
            "The collector service is running with the settings it read when it started. Restart it now so that it "
            "uses the saved settings?");
  Screenshot(ask, "quaxsvcadmin-restart-service");
  Click(ask, IDYES);
  // The status bar said "Ready." before the question too: the restart is
  // over when another process of the service runs and it says so again.
  ASSERT_TRUE(WaitFor(
      [&] {
        const DWORD now = processId();
        return now != 0 && now != before && StatusText(main, IDC_StatusBar1) == "Ready.";
      },
      30000));
  EXPECT_EQ(MachineValue(kKey, "LogFilePrefix"), "Restarted-");
  ASSERT_TRUE(service.RefreshServiceStatus());
  EXPECT_TRUE(service.IsRunning());

  // Declined: the status bar says when the settings take effect.
  Type(main, IDC_txtLogFilePrefix, "Later-");
  Click(main, IDC_btnApply);
  ask = Box(kTitle);
  ASSERT_NE(ask, nullptr);
  Click(ask, IDNO);
  EXPECT_TRUE(WaitFor([&] {
    return StatusText(main, IDC_StatusBar1) == "Saved. The service uses the new settings when it next starts.";
  }));
  Click(main, IDC_btnCancel);
  EXPECT_EQ(program->WaitForExit(10000), 0u);
}

TEST_F(ServiceControlWindow, StartThatEndsBecauseOfAnInvalidLogFolderIsReported) {
  ASSERT_EQ(ServiceCommand("-install"), "QUAX Process Collector with Debug Logging installed.\n");
  SetMachineValue(kKey, "LogFilePath", "C:\\quax-no-such-directory");
  OpenServiceControl();
  HWND window = Window();
  ASSERT_NE(window, nullptr);
  Click(window, IDC_btnServiceStart);
  HWND box = Box("Start Service");
  ASSERT_NE(box, nullptr);
  // The service's own exit code says why it stopped.
  char reason[512];
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_PATH_NOT_FOUND, 0, reason,
                 sizeof reason, nullptr);
  std::string sentence = reason;
  while (!sentence.empty() && (sentence.back() == '\r' || sentence.back() == '\n')) sentence.pop_back();
  EXPECT_EQ(MessageBoxText(box), "Error starting service: " + sentence +
                                     "\r\n\r\nPlease see the Windows Event Log for more information.");
  Screenshot(box, "service-control-start-failed");
  Click(box, IDOK);
  EXPECT_TRUE(StatusBecomes(window, "The service is stopped."));
  EXPECT_TRUE(Enabled(window, IDC_btnServiceStart));
  Click(window, IDC_btnClose);
}

}  // namespace
}  // namespace quax

namespace quax {
namespace {

// A service that stays start-pending: the wait gives up after its time-out,
// and the window's events are processed meanwhile.
TEST(ServiceControlManager, StartOfAServiceThatHangsPendingEndsWithATimeOut) {
  const unique_service_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(manager);
  const std::string program = test::ProgramBeside("quax_pending_service.exe");
  unique_service_handle service(CreateServiceA(manager.get(), "QUAXAdminPendingTest", "QUAX pending test",
                                               SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                               SERVICE_ERROR_IGNORE, program.c_str(), nullptr, nullptr, nullptr,
                                               nullptr, nullptr));
  ASSERT_TRUE(service) << GetLastError();
  struct RemoveService {
    SC_HANDLE Service;
    ~RemoveService() {
      SERVICE_STATUS status;
      ControlService(Service, SERVICE_CONTROL_STOP, &status);
      DeleteService(Service);
    }
  } removeService{service.get()};

  CServiceControl control;
  control.SetServiceName("QUAXAdminPendingTest");
  control.SetPendingTimeout(2000);
  int pumps = 0;
  control.SetPendingPump([&] {
    ++pumps;
    PumpWindowMessages(100);
  });
  const ULONGLONG started = GetTickCount64();
  EXPECT_FALSE(control.ServiceStart());
  const ULONGLONG waited = GetTickCount64() - started;
  EXPECT_EQ(control.LastErrorMessage(), "The service did not finish starting within 2 seconds.");
  EXPECT_GE(waited, 2000u);
  EXPECT_LT(waited, 10000u);
  EXPECT_GT(pumps, 3);
  ASSERT_TRUE(control.RefreshServiceStatus());
  EXPECT_EQ(control.ServiceStatus(), "The service is being started.");
  EXPECT_FALSE(control.IsRunning());
}

}  // namespace
}  // namespace quax
