// quaxhookadmin as an administrator uses it: registering the in-process
// collector in AppInit_DLLs and editing its settings, checked through the
// registry values it writes.
#include <gtest/gtest.h>

#include <memory>

#include "control_ids.h"
#include "test_support.h"
#include "window_driver.h"

namespace quax {
namespace {

using namespace quax::test;

constexpr char kTitle[] = "QUAX Windows Process Collector Configuration - User32";
constexpr char kKey[] = "SOFTWARE\\QUAX\\Collectors\\QUAXWinProcess";
constexpr char kAppInitKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

// Where quaxhookadmin looks for the library: %SystemRoot%\System32.
std::string InstalledLibrary() {
  char root[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("SystemRoot", root, sizeof root);
  return std::string(root, length) + "\\System32\\quaxcolhook.dll";
}

class HookAdminWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteMachineTree(kKey);
    earlierAppInit = MachineValue(kAppInitKey, "AppInit_DLLs");
    DeleteFileA(InstalledLibrary().c_str());
  }
  void TearDown() override {
    program.reset();
    DeleteMachineTree(kKey);
    if (earlierAppInit != "<missing>") SetMachineValue(kAppInitKey, "AppInit_DLLs", earlierAppInit);
    DeleteFileA(InstalledLibrary().c_str());
  }
  HWND Start() {
    program = std::make_unique<RunningProgram>(ProgramBeside("quaxhookadmin.exe"));
    main = WaitForWindow(kTitle, program->ProcessId());
    EXPECT_NE(main, nullptr) << "no window titled " << kTitle;
    return main;
  }
  HWND Box(const char* caption) { return WaitForWindow(caption, program->ProcessId(), 10000, main); }

  std::string earlierAppInit;
  std::unique_ptr<RunningProgram> program;
  HWND main = nullptr;
};

TEST_F(HookAdminWindow, RegistersTheCollectorLastAndWarnsWhileItsFileIsMissing) {
  SetMachineValue(kAppInitKey, "AppInit_DLLs", "a.dll, b.dll");
  SetMachineValue(kKey, "AccountingInterval", "5400");
  SetMachineValue(kKey, "LogFilePath", "C:\\QUAX\\Logs");
  HWND window = Start();
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(Checked(window, IDC_chkAppInitDlls));
  EXPECT_TRUE(Checked(window, IDC_chkEnableIntervalAccounting));
  EXPECT_EQ(Text(window, IDC_txtAccountingInterval), "90");
  EXPECT_EQ(SelectedText(window, IDC_cmbTimeScaleAccounting), "Minutes");
  EXPECT_TRUE(Checked(window, IDC_chkUseLocalTime));  // missing: the collector's local time
  EXPECT_FALSE(Enabled(window, IDC_btnApply));
  EXPECT_EQ(StatusText(window, IDC_StatusBar1), "Ready.");

  Click(window, IDC_chkAppInitDlls);
  ASSERT_TRUE(WaitFor([&] { return Enabled(window, IDC_btnApply); }));
  Type(window, IDC_txtLogFilePrefix, "Hook-");
  Screenshot(window, "quaxhookadmin");
  Click(window, IDC_btnApply);
  HWND missing = Box("Missing Collector File");
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(MessageBoxText(missing),
            "Unable to locate the process collector file in the system path.\r\n\r\n"
            "Process collection will not occur.\r\n\r\n"
            "Path checked: '" + InstalledLibrary() + "'\r\n\r\n"
            "Please ensure that quaxcolhook.dll is copied to the System32 directory.");
  Screenshot(missing, "quaxhookadmin-missing-collector");
  Click(missing, IDOK);
  ASSERT_TRUE(WaitFor([&] { return !Enabled(window, IDC_btnApply); }));
  EXPECT_EQ(MachineValue(kAppInitKey, "AppInit_DLLs"), "a.dll,b.dll,quaxcolhook.dll");
  EXPECT_EQ(MachineValue(kKey, "LogFilePath"), "C:\\QUAX\\Logs");
  EXPECT_EQ(MachineValue(kKey, "LogFilePrefix"), "Hook-");
  EXPECT_EQ(MachineValue(kKey, "AccountingInterval"), "5400");
  EXPECT_EQ(MachineValue(kKey, "UseLocalTime"), "Yes");
  // Every save warns again.
  Click(window, IDC_btnOK);
  missing = Box("Missing Collector File");
  ASSERT_NE(missing, nullptr);
  Click(missing, IDOK);
  EXPECT_EQ(program->WaitForExit(10000), 0u);

  // With the library in System32 the window opens without a warning and
  // unregistering keeps the other entries in their order.
  ASSERT_TRUE(CopyFileA((ProgramBeside("quaxcolhook.dll").substr(1, ProgramBeside("quaxcolhook.dll").size() - 2)).c_str(),
                        InstalledLibrary().c_str(), FALSE));
  window = Start();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(Checked(window, IDC_chkAppInitDlls));
  EXPECT_EQ(WaitForWindow("Missing Collector File", program->ProcessId(), 1000), nullptr);
  Click(window, IDC_chkAppInitDlls);
  Click(window, IDC_chkEnableIntervalAccounting);
  ASSERT_TRUE(WaitFor([&] { return !Enabled(window, IDC_txtAccountingInterval); }));
  Click(window, IDC_btnOK);
  EXPECT_EQ(program->WaitForExit(10000), 0u);
  EXPECT_EQ(MachineValue(kAppInitKey, "AppInit_DLLs"), "a.dll,b.dll");
  EXPECT_EQ(MachineValue(kKey, "AccountingInterval"), "-5400");
}

TEST_F(HookAdminWindow, CancelOffersToSaveUnsavedChanges) {
  SetMachineValue(kAppInitKey, "AppInit_DLLs", "");
  HWND window = Start();
  ASSERT_NE(window, nullptr);
  Click(window, IDC_chkEnableIntervalAccounting);
  ASSERT_TRUE(WaitFor([&] { return Enabled(window, IDC_txtAccountingInterval); }));
  TypeCharacter(window, IDC_txtAccountingInterval, '-');
  EXPECT_EQ(Text(window, IDC_txtAccountingInterval), "15");
  Type(window, IDC_txtAccountingInterval, "2");
  Select(window, IDC_cmbTimeScaleAccounting, 2);
  PressKey(window, IDC_txtLogFilePath, VK_ESCAPE);  // Esc is Cancel
  HWND ask = Box("Save Changes");
  ASSERT_NE(ask, nullptr);
  EXPECT_EQ(MessageBoxText(ask), "Save changes before exiting?");
  Click(ask, IDYES);
  EXPECT_EQ(program->WaitForExit(10000), 0u);
  EXPECT_EQ(MachineValue(kKey, "AccountingInterval"), "7200");
  EXPECT_EQ(MachineValue(kAppInitKey, "AppInit_DLLs"), "");
  EXPECT_EQ(MachineValue(kKey, "UseLocalTime"), "Yes");
}

}  // namespace
}  // namespace quax
