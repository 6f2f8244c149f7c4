// quaxsvcadmin as an administrator uses it: its settings window, the about
// box and the single-instance guard, checked through the registry values it
// writes.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "control_ids.h"
#include "test_support.h"
#include "window_driver.h"

namespace quax {
namespace {

using namespace quax::test;

constexpr char kTitle[] = "QUAX Windows Process Collector Configuration - Service";
constexpr char kKey[] = "SOFTWARE\\QUAX\\Collectors\\QUAXWinProcess";
constexpr char kInstallKey[] = "SOFTWARE\\QUAX\\Admin";

class ServiceAdminWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteMachineTree(kKey);
    DeleteMachineTree(kInstallKey);
  }
  void TearDown() override {
    DeleteMachineTree(kKey);
    DeleteMachineTree(kInstallKey);
  }
  HWND Start() {
    program = std::make_unique<RunningProgram>(ProgramBeside("quaxsvcadmin.exe"));
    main = WaitForWindow(kTitle, program->ProcessId());
    EXPECT_NE(main, nullptr) << "no window titled " << kTitle;
    return main;
  }
  // A message box or dialog of the program (never its main window).
  HWND Box(const char* caption) { return WaitForWindow(caption, program->ProcessId(), 10000, main); }

  ScratchDirectory scratch{"svcadmin"};
  std::unique_ptr<RunningProgram> program;
  HWND main = nullptr;
};

TEST_F(ServiceAdminWindow, NewInstallationSavesItsDefaultsAfterCreatingTheLogFolder) {
  // An installation folder as the installer makes it (this prefix is the
  // window tests' own).
  const std::string installation = "C:\\Program Files\\QUAX";
  const std::string logFolder = installation + "\\QUAXWinProcessLogs";
  CreateDirectoryA(installation.c_str(), nullptr);
  struct RemoveFolders {
    const std::string& Logs;
    const std::string& Installation;
    ~RemoveFolders() {
      RemoveDirectoryA(Logs.c_str());
      RemoveDirectoryA(Installation.c_str());
    }
  } removeFolders{logFolder, installation};
  SetMachineValue(kInstallKey, "InstallLocation", installation + "\\");
  HWND window = Start();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(Text(window, IDC_txtLogFilePath), logFolder);
  EXPECT_EQ(Text(window, IDC_txtLogFilePrefix), "QUAXProcessLog-");
  EXPECT_EQ(Text(window, IDC_txtAccountingInterval), "24");
  EXPECT_EQ(SelectedText(window, IDC_cmbTimeScaleAccounting), "Hours");
  EXPECT_EQ(Text(window, IDC_txtSamplingInterval), "1");
  EXPECT_EQ(SelectedText(window, IDC_cmbTimeScaleSampling), "Seconds");
  EXPECT_TRUE(Checked(window, IDC_chkEnableIntervalAccounting));
  EXPECT_TRUE(Checked(window, IDC_optWriteAccountingRecords0));
  EXPECT_TRUE(Checked(window, IDC_chkUseLocalTime));
  EXPECT_FALSE(Enabled(window, IDC_dtpAccountingInterval));
  EXPECT_TRUE(Enabled(window, IDC_btnApply));
  Screenshot(window, "quaxsvcadmin");

  Click(window, IDC_btnApply);
  HWND question = Box(kTitle);
  ASSERT_NE(question, window);
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(MessageBoxText(question),
            "The log file path '" + logFolder + "' does not exist.\r\n\r\nWould you like to create it?");
  Screenshot(question, "quaxsvcadmin-create-log-folder");
  Click(question, IDYES);
  ASSERT_TRUE(WaitUntilGone(question));
  HWND created = Box(kTitle);
  ASSERT_NE(created, window);
  EXPECT_EQ(MessageBoxText(created), "Log file path created.");
  Screenshot(created, "quaxsvcadmin-log-folder-created");
  Click(created, IDOK);
  ASSERT_TRUE(WaitFor([&] { return !Enabled(window, IDC_btnApply); }));

  EXPECT_EQ(GetFileAttributesA(logFolder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, DWORD{FILE_ATTRIBUTE_DIRECTORY});
  EXPECT_EQ(MachineValue(kKey, "LogFilePath"), logFolder);
  EXPECT_EQ(MachineValue(kKey, "LogFilePrefix"), "QUAXProcessLog-");
  EXPECT_EQ(MachineValue(kKey, "AccountingInterval"), "86400");
  EXPECT_EQ(MachineValue(kKey, "AccountingIntervalCommand"), "");
  EXPECT_EQ(MachineValue(kKey, "AccountingIntervalTime"), "00:00");
  EXPECT_EQ(MachineValue(kKey, "UseAccountingIntervalTime"), "No");
  EXPECT_EQ(MachineValue(kKey, "WriteIntervalEndRecords"), "No");
  EXPECT_EQ(MachineValue(kKey, "UseLocalTime"), "Yes");
  EXPECT_EQ(MachineValue(kKey, "SamplingInterval"), "1");
  EXPECT_EQ(StatusText(window, IDC_StatusBar1), "Ready.");

  // Nothing left unsaved: Cancel closes at once.
  Click(window, IDC_btnCancel);
  EXPECT_EQ(program->WaitForExit(10000), 0u);
}

TEST_F(ServiceAdminWindow, EditedIntervalsAreCheckedThenSaved) {
  SetMachineValue(kKey, "LogFilePath", scratch.Path());
  SetMachineValue(kKey, "AccountingInterval", "-3600");
  SetMachineValue(kKey, "SamplingInterval", "60");
  SetMachineValue(kKey, "WriteIntervalEndRecords", "YES");
  SetMachineValue(kKey, "LogFileExtension", ".log");
  HWND window = Start();
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(Checked(window, IDC_chkEnableIntervalAccounting));
  EXPECT_EQ(Text(window, IDC_txtAccountingInterval), "1");
  EXPECT_EQ(SelectedText(window, IDC_cmbTimeScaleAccounting), "Hours");
  EXPECT_FALSE(Enabled(window, IDC_txtAccountingInterval));
  EXPECT_FALSE(Enabled(window, IDC_optWriteAccountingRecords1));
  EXPECT_EQ(Text(window, IDC_txtSamplingInterval), "1");
  EXPECT_EQ(SelectedText(window, IDC_cmbTimeScaleSampling), "Minutes");
  EXPECT_TRUE(Checked(window, IDC_chkWriteIntervalEndRecords));  // YES counts, as for the collector
  EXPECT_FALSE(Enabled(window, IDC_btnApply));

  Click(window, IDC_chkEnableIntervalAccounting);
  ASSERT_TRUE(WaitFor([&] { return Enabled(window, IDC_txtAccountingInterval); }));
  EXPECT_TRUE(Enabled(window, IDC_btnApply));
  Type(window, IDC_txtSamplingInterval, "2");
  Type(window, IDC_txtAccountingInterval, "60");
  Select(window, IDC_cmbTimeScaleAccounting, 0);
  Click(window, IDC_btnOK);
  HWND refused = Box(kTitle);
  ASSERT_NE(refused, window);
  EXPECT_EQ(MessageBoxText(refused), "The accounting interval is less than the sampling interval.");
  Screenshot(refused, "quaxsvcadmin-interval-refused");
  Click(refused, IDOK);
  ASSERT_TRUE(WaitUntilGone(refused));
  EXPECT_EQ(MachineValue(kKey, "AccountingInterval"), "-3600");  // nothing written

  // A product beyond a 32-bit setting is refused as well.
  Type(window, IDC_txtSamplingInterval, "999999");
  Select(window, IDC_cmbTimeScaleSampling, 2);
  Click(window, IDC_btnApply);
  refused = Box(kTitle);
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(MessageBoxText(refused), "Sampling Interval cannot be more than 2147483647 seconds.");
  Screenshot(refused, "quaxsvcadmin-interval-too-large");
  Click(refused, IDOK);
  ASSERT_TRUE(WaitUntilGone(refused));
  EXPECT_EQ(MachineValue(kKey, "SamplingInterval"), "60");
  Type(window, IDC_txtSamplingInterval, "2");
  Select(window, IDC_cmbTimeScaleSampling, 1);

  // Only digits reach an interval box.
  TypeCharacter(window, IDC_txtAccountingInterval, 'x');
  EXPECT_EQ(Text(window, IDC_txtAccountingInterval), "60");
  Type(window, IDC_txtAccountingInterval, "3");
  Select(window, IDC_cmbTimeScaleAccounting, 1);
  Click(window, IDC_optWriteAccountingRecords1);
  ASSERT_TRUE(WaitFor([&] { return Enabled(window, IDC_dtpAccountingInterval); }));
  EXPECT_FALSE(Enabled(window, IDC_txtAccountingInterval));
  Type(window, IDC_txtAccountingIntervalCommand, "cmd /c echo %QUAXDATE%");
  Type(window, IDC_txtLogFilePath, scratch.Path() + "\\\\");
  Screenshot(window, "quaxsvcadmin-time-of-day");
  PressKey(window, IDC_txtAccountingIntervalCommand, VK_RETURN);  // Enter is OK
  EXPECT_EQ(program->WaitForExit(10000), 0u);

  EXPECT_EQ(MachineValue(kKey, "LogFilePath"), scratch.Path());
  EXPECT_EQ(MachineValue(kKey, "AccountingInterval"), "180");
  EXPECT_EQ(MachineValue(kKey, "UseAccountingIntervalTime"), "Yes");
  EXPECT_EQ(MachineValue(kKey, "AccountingIntervalCommand"), "cmd /c echo %QUAXDATE%");
  EXPECT_EQ(MachineValue(kKey, "SamplingInterval"), "120");
  EXPECT_EQ(MachineValue(kKey, "WriteIntervalEndRecords"), "Yes");
  EXPECT_EQ(MachineValue(kKey, "LogFileExtension"), ".log");  // not the editor's
}

TEST_F(ServiceAdminWindow, UntouchedFormSavesWhatTheServiceAlreadyReads) {
  // A key without an accounting interval or prefix, sampling 0, and a time
  // of day kept while intervals run by length.
  SetMachineValue(kKey, "SamplingInterval", "0");
  SetMachineValue(kKey, "UseAccountingIntervalTime", "No");
  SetMachineValue(kKey, "AccountingIntervalTime", "23:45");
  const std::string before = CollectorReads(SettingsReader::Service);
  HWND window = Start();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(Checked(window, IDC_chkEnableIntervalAccounting));
  EXPECT_EQ(Text(window, IDC_txtAccountingInterval), "24");
  EXPECT_EQ(SelectedText(window, IDC_cmbTimeScaleAccounting), "Hours");
  EXPECT_EQ(Text(window, IDC_txtSamplingInterval), "1");
  EXPECT_EQ(SelectedText(window, IDC_cmbTimeScaleSampling), "Seconds");
  EXPECT_EQ(Text(window, IDC_txtLogFilePrefix), "QUAXProcessLog-");
  EXPECT_FALSE(Enabled(window, IDC_btnApply));
  Click(window, IDC_btnOK);
  EXPECT_EQ(program->WaitForExit(10000), 0u);

  EXPECT_EQ(MachineValue(kKey, "AccountingInterval"), "86400");
  EXPECT_EQ(MachineValue(kKey, "SamplingInterval"), "1");
  EXPECT_EQ(MachineValue(kKey, "LogFilePrefix"), "QUAXProcessLog-");
  EXPECT_EQ(MachineValue(kKey, "AccountingIntervalTime"), "23:45");
  EXPECT_EQ(CollectorReads(SettingsReader::Service), before);
}

TEST_F(ServiceAdminWindow, UnsavedChangesAreOfferedForSavingOnClose) {
  SetMachineValue(kKey, "LogFilePath", scratch.Path());
  SetMachineValue(kKey, "LogFilePrefix", "Before-");
  HWND window = Start();
  ASSERT_NE(window, nullptr);
  Type(window, IDC_txtLogFilePrefix, "After-");
  // The close box asks as Cancel does.
  PostMessageA(window, WM_CLOSE, 0, 0);
  HWND ask = Box("Save Changes");
  ASSERT_NE(ask, nullptr);
  EXPECT_EQ(MessageBoxText(ask), "Save changes before exiting?");
  Screenshot(ask, "quaxsvcadmin-save-changes");
  Click(ask, IDCANCEL);
  ASSERT_TRUE(WaitUntilGone(ask));
  EXPECT_TRUE(IsWindow(window));

  Click(window, IDC_btnCancel);
  ask = Box("Save Changes");
  ASSERT_NE(ask, nullptr);
  Click(ask, IDNO);
  EXPECT_EQ(program->WaitForExit(10000), 0u);
  EXPECT_EQ(MachineValue(kKey, "LogFilePrefix"), "Before-");

  window = Start();
  ASSERT_NE(window, nullptr);
  Type(window, IDC_txtLogFilePrefix, "After-");
  ChooseMenu(window, IDM_FileExit);
  ask = Box("Save Changes");
  ASSERT_NE(ask, nullptr);
  Click(ask, IDYES);
  EXPECT_EQ(program->WaitForExit(10000), 0u);
  EXPECT_EQ(MachineValue(kKey, "LogFilePrefix"), "After-");
}

TEST_F(ServiceAdminWindow, SecondStartShowsTheRunningWindowAndEnds) {
  HWND window = Start();
  ASSERT_NE(window, nullptr);
  RunningProgram second(ProgramBeside("quaxsvcadmin.exe"));
  EXPECT_EQ(second.WaitForExit(10000), 0u);
  EXPECT_EQ(CountWindows(kTitle), 1);
  EXPECT_TRUE(IsWindow(window));
}

TEST_F(ServiceAdminWindow, AboutBoxShowsTheVersionsAndTheSystem) {
  HWND window = Start();
  ASSERT_NE(window, nullptr);
  ChooseMenu(window, IDM_HelpAbout);
  HWND about = Box((std::string("About ") + kTitle).c_str());
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(Text(about, IDC_lblTitle), kTitle);
  EXPECT_EQ(Text(about, IDC_lblVersion), "GUI Version 1.0, Build 0");
  EXPECT_EQ(Text(about, IDC_lblServiceVersion), "Service Version - not installed");
  const std::string description = Text(about, IDC_lblDescription);
  EXPECT_EQ(description.rfind("QUAX collector service administration\r\n\r\nApplication Path = '", 0), 0u)
      << description;
  EXPECT_EQ(Text(about, IDC_lblOperatingSystem).rfind("Windows NT v", 0), 0u) << Text(about, IDC_lblOperatingSystem);
  EXPECT_EQ(Text(about, IDC_lblDisclaimer).rfind("Copyright (C) QUAX. All rights reserved.\r\n", 0), 0u);
  EXPECT_NE(SendDlgItemMessageA(about, IDC_picIcon, STM_GETICON, 0, 0), 0);
  Screenshot(about, "quaxsvcadmin-about");
  Click(about, IDC_btnSysInfo);
  HWND unavailable = Box(kTitle);
  ASSERT_NE(unavailable, nullptr);
  ASSERT_NE(unavailable, window);
  EXPECT_EQ(MessageBoxText(unavailable), "System Information Is Unavailable At This Time");
  Screenshot(unavailable, "quaxsvcadmin-system-info-unavailable");
  Click(unavailable, IDOK);
  ASSERT_TRUE(WaitUntilGone(unavailable));
  Click(about, IDCANCEL);
  ASSERT_TRUE(WaitUntilGone(about));

  // With the service installed its program's version is shown.
  std::string output;
  ASSERT_EQ(RunAndCapture(ProgramBeside("quaxcolsvc.exe") + " -install", &output), 0u) << output;
  ChooseMenu(window, IDM_HelpAbout);
  about = Box((std::string("About ") + kTitle).c_str());
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(Text(about, IDC_lblServiceVersion), "Service Version 1.0, Build 0");
  Click(about, IDCANCEL);
  RunAndCapture(ProgramBeside("quaxcolsvc.exe") + " -remove", &output);
}

TEST_F(ServiceAdminWindow, KeyboardReachesBothAccountingOptionsAndF1ShowsTheHelp) {
  SetMachineValue(kKey, "LogFilePath", scratch.Path());
  HWND window = Start();
  ASSERT_NE(window, nullptr);
  PressKey(window, IDC_optWriteAccountingRecords0, VK_DOWN);
  ASSERT_TRUE(WaitFor([&] { return FocusedControl(window) == GetDlgItem(window, IDC_optWriteAccountingRecords1); }));
  EXPECT_TRUE(WaitFor([&] { return Checked(window, IDC_optWriteAccountingRecords1); }));
  PressKey(window, IDC_optWriteAccountingRecords1, VK_UP);
  EXPECT_TRUE(WaitFor([&] { return Checked(window, IDC_optWriteAccountingRecords0); }));

  // No help library is installed here: F1 and the menu say so.
  for (const bool menu : {false, true}) {
    if (menu) {
      ChooseMenu(window, IDM_HelpTopics);
    } else {
      PressKey(window, IDC_txtLogFilePath, VK_F1);
    }
    HWND help = Box(kTitle);
    ASSERT_NE(help, nullptr) << menu;
    EXPECT_EQ(MessageBoxText(help).rfind("Unable to start help: the help library QuaxHelp.dll could not be loaded: ", 0),
              0u)
        << MessageBoxText(help);
    Click(help, IDOK);
    ASSERT_TRUE(WaitUntilGone(help));
  }
}

TEST_F(ServiceAdminWindow, FolderBrowserCanBeCancelled) {
  SetMachineValue(kKey, "LogFilePath", scratch.Path());
  HWND window = Start();
  ASSERT_NE(window, nullptr);
  Click(window, IDC_btnLogFilePathBrowse);
  HWND browser = Box("Browse for Folder");
  ASSERT_NE(browser, nullptr);
  Screenshot(browser, "quaxsvcadmin-browse");
  Click(browser, IDCANCEL);
  ASSERT_TRUE(WaitUntilGone(browser));
  EXPECT_EQ(Text(window, IDC_txtLogFilePath), scratch.Path());
  EXPECT_FALSE(Enabled(window, IDC_btnApply));
}

}  // namespace
}  // namespace quax

namespace quax {
namespace {

RECT ControlRect(HWND dialog, int control) {
  RECT rect;
  GetWindowRect(GetDlgItem(dialog, control), &rect);
  return rect;
}

TEST_F(ServiceAdminWindow, ControlsFollowTheWindowsEdgesAndItKeepsItsSmallestSize) {
  HWND window = Start();
  ASSERT_NE(window, nullptr);
  RECT frame;
  GetWindowRect(window, &frame);
  const RECT path = ControlRect(window, IDC_txtLogFilePath);
  const RECT browse = ControlRect(window, IDC_btnLogFilePathBrowse);
  const RECT ok = ControlRect(window, IDC_btnOK);
  const RECT control = ControlRect(window, IDC_btnServiceControl);
  const RECT prefix = ControlRect(window, IDC_txtLogFilePrefix);

  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left + 200, frame.bottom - frame.top + 100,
               SWP_NOMOVE | SWP_NOZORDER);
  ASSERT_TRUE(WaitFor([&] { return ControlRect(window, IDC_btnOK).left != ok.left; }));
  const auto moved = [&](int id, const RECT& before) {
    const RECT now = ControlRect(window, id);
    return std::vector<LONG>{now.left - before.left, now.top - before.top, now.right - before.right,
                             now.bottom - before.bottom};
  };
  EXPECT_EQ(moved(IDC_txtLogFilePath, path), (std::vector<LONG>{0, 0, 200, 0}));       // stretches
  EXPECT_EQ(moved(IDC_btnLogFilePathBrowse, browse), (std::vector<LONG>{200, 0, 200, 0}));
  EXPECT_EQ(moved(IDC_btnOK, ok), (std::vector<LONG>{200, 100, 200, 100}));           // bottom right
  EXPECT_EQ(moved(IDC_btnServiceControl, control), (std::vector<LONG>{0, 100, 0, 100}));  // bottom left
  EXPECT_EQ(moved(IDC_txtLogFilePrefix, prefix), (std::vector<LONG>{0, 0, 0, 0}));
  RECT client;
  GetClientRect(window, &client);
  RECT status = ControlRect(window, IDC_StatusBar1);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&status), 2);
  EXPECT_EQ(status.bottom, client.bottom);
  EXPECT_EQ(status.right - status.left, client.right);

  SetWindowPos(window, nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER);
  RECT smallest;
  GetWindowRect(window, &smallest);
  EXPECT_EQ(smallest.right - smallest.left, frame.right - frame.left);
  EXPECT_EQ(smallest.bottom - smallest.top, frame.bottom - frame.top);
  Screenshot(window, "quaxsvcadmin-smallest");
}

}  // namespace
}  // namespace quax
