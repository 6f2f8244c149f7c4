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
// The same key as 32-bit processes see it.
constexpr char kAppInitKey32[] = "Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
constexpr char kAdminKey[] = "SOFTWARE\\QUAX\\Admin";
constexpr char kSecureBootKey[] = "SYSTEM\\CurrentControlSet\\Control\\SecureBoot\\State";

// Where quaxhookadmin looks for the library: %SystemRoot%\System32, and
// SysWOW64 for 32-bit processes.
std::string InstalledLibrary(const char* folder = "System32") {
  char root[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("SystemRoot", root, sizeof root);
  return std::string(root, length) + "\\" + folder + "\\quaxcolhook.dll";
}

class HookAdminWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    earlierAppInit = MachineValue(kAppInitKey, "AppInit_DLLs");
    Clean();
  }
  void TearDown() override {
    program.reset();
    Clean();
    if (earlierAppInit != "<missing>") SetMachineValue(kAppInitKey, "AppInit_DLLs", earlierAppInit);
  }
  void Clean() {
    DeleteMachineTree(kKey);
    DeleteMachineTree(kAdminKey);
    DeleteMachineTree(kSecureBootKey);
    for (const char* key : {kAppInitKey, kAppInitKey32}) {
      for (const char* name : {"AppInit_DLLs", "LoadAppInit_DLLs", "RequireSignedAppInit_DLLs"}) {
        DeleteMachineValue(key, name);
      }
    }
    for (const char* folder : {"System32", "SysWOW64"}) DeleteFileA(InstalledLibrary(folder).c_str());
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
  EXPECT_EQ(MachineValue(kAppInitKey32, "AppInit_DLLs"), "quaxcolhook.dll");
  // Since Windows 7 the list is loaded only with LoadAppInit_DLLs on.
  EXPECT_EQ(MachineNumber(kAppInitKey, "LoadAppInit_DLLs"), 1);
  EXPECT_EQ(MachineNumber(kAppInitKey32, "LoadAppInit_DLLs"), 1);
  EXPECT_EQ(MachineValue(kAdminKey, "TurnedOnLoadAppInit_DLLs"), "Yes");
  EXPECT_EQ(MachineValue(kAdminKey, "TurnedOnLoadAppInit_DLLs32"), "Yes");
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

  // With the library in System32 and SysWOW64 the window opens without a
  // warning and unregistering keeps the other entries in their order.
  const std::string library = ProgramBeside("quaxcolhook.dll");
  for (const char* folder : {"System32", "SysWOW64"}) {
    ASSERT_TRUE(CopyFileA(library.substr(1, library.size() - 2).c_str(), InstalledLibrary(folder).c_str(), FALSE));
  }
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
  // Loading stays on for a.dll and b.dll; the emptied 32-bit list has it
  // turned off again by whom turned it on.
  EXPECT_EQ(MachineNumber(kAppInitKey, "LoadAppInit_DLLs"), 1);
  EXPECT_EQ(MachineValue(kAppInitKey32, "AppInit_DLLs"), "");
  EXPECT_EQ(MachineNumber(kAppInitKey32, "LoadAppInit_DLLs"), 0);
  EXPECT_EQ(MachineValue(kAdminKey, "TurnedOnLoadAppInit_DLLs32"), "<missing>");
}

TEST_F(HookAdminWindow, UntouchedFormSavesWhatTheCollectorAlreadyReads) {
  // A key without an accounting interval or prefix.
  SetMachineValue(kAppInitKey, "AppInit_DLLs", "");
  SetMachineValue(kKey, "UseLocalTime", "No");
  const std::string before = CollectorReads(SettingsReader::InProcess);
  HWND window = Start();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(Checked(window, IDC_chkEnableIntervalAccounting));
  EXPECT_EQ(Text(window, IDC_txtAccountingInterval), "1");
  EXPECT_EQ(SelectedText(window, IDC_cmbTimeScaleAccounting), "Minutes");
  EXPECT_EQ(Text(window, IDC_txtLogFilePrefix), "QUAXProcessLog-");
  EXPECT_FALSE(Checked(window, IDC_chkUseLocalTime));
  EXPECT_FALSE(Enabled(window, IDC_btnApply));
  Click(window, IDC_btnOK);
  EXPECT_EQ(program->WaitForExit(10000), 0u);

  EXPECT_EQ(MachineValue(kKey, "AccountingInterval"), "60");
  EXPECT_EQ(MachineValue(kKey, "LogFilePrefix"), "QUAXProcessLog-");
  EXPECT_EQ(CollectorReads(SettingsReader::InProcess), before);
}

TEST_F(HookAdminWindow, CancelOffersToSaveUnsavedChanges) {
  SetMachineValue(kAppInitKey, "AppInit_DLLs", "");
  SetMachineValue(kKey, "AccountingInterval", "-900");
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

TEST_F(HookAdminWindow, SaysWhyWindowsWillNotLoadTheCollector) {
  HWND window = Start();
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(window, IDC_lblAppInitWarning)));
  RECT plain;
  GetWindowRect(window, &plain);
  Click(window, IDC_btnCancel);
  EXPECT_EQ(program->WaitForExit(10000), 0u);

  const auto expectWarning = [&](const std::string& text, const char* screenshot) {
    HWND warned = Start();
    ASSERT_NE(warned, nullptr);
    EXPECT_EQ(Text(warned, IDC_lblAppInitWarning), text);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(warned, IDC_lblAppInitWarning)));
    RECT frame;
    GetWindowRect(warned, &frame);
    EXPECT_GT(frame.bottom - frame.top, plain.bottom - plain.top);
    Screenshot(warned, screenshot);
    Click(warned, IDC_btnCancel);
    EXPECT_EQ(program->WaitForExit(10000), 0u);
  };
  SetMachineNumber(kAppInitKey32, "RequireSignedAppInit_DLLs", 1);
  expectWarning(
      "Windows will not load the collector: RequireSignedAppInit_DLLs is 1, so Windows loads only signed libraries "
      "from AppInit_DLLs, and quaxcolhook.dll is not signed. The collector service records every process either way.",
      "quaxhookadmin-signature-required");
  SetMachineNumber(kSecureBootKey, "UEFISecureBootEnabled", 1);
  expectWarning(
      "Windows will not load the collector: Secure Boot is on, and while it is on Windows ignores AppInit_DLLs. The "
      "collector service records every process either way.",
      "quaxhookadmin-secure-boot");
}

TEST_F(HookAdminWindow, EnterKeepsTheIntervalRuleAndBoxesTakeWhatTheCollectorUses) {
  SetMachineValue(kKey, "AccountingInterval", "3600");
  SetMachineValue(kKey, "LogFilePrefix", std::string(300, 'x'));
  program = std::make_unique<RunningProgram>(ProgramBeside("quaxhookadmin.exe"));
  // The over-long prefix is shown whole, with a warning, before the window.
  HWND warning = WaitForWindow(kTitle, program->ProcessId());
  ASSERT_NE(warning, nullptr);
  EXPECT_EQ(MessageBoxText(warning).rfind("The stored LogFilePrefix is 300 characters long.", 0), 0u);
  Click(warning, IDOK);
  ASSERT_TRUE(WaitUntilGone(warning));
  main = WaitForWindow(kTitle, program->ProcessId());
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(Text(main, IDC_txtLogFilePrefix), std::string(300, 'x'));
  const auto limit = [&](int box) { return SendMessageA(GetDlgItem(main, box), EM_GETLIMITTEXT, 0, 0); };
  EXPECT_EQ(limit(IDC_txtLogFilePath), 259);
  EXPECT_EQ(limit(IDC_txtLogFilePrefix), 259);
  EXPECT_EQ(limit(IDC_txtAccountingInterval), 10);

  Type(main, IDC_txtLogFilePrefix, "Hook-");
  Type(main, IDC_txtAccountingInterval, "0");
  PressKey(main, IDC_txtAccountingInterval, VK_RETURN);  // OK without leaving the box
  HWND refused = Box(kTitle);
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(MessageBoxText(refused), "Accounting Interval cannot be less than 1 second.");
  Click(refused, IDOK);
  ASSERT_TRUE(WaitUntilGone(refused));
  EXPECT_EQ(Text(main, IDC_txtAccountingInterval), "1");
  EXPECT_EQ(MachineValue(kKey, "AccountingInterval"), "3600");  // nothing written
  EXPECT_TRUE(IsWindow(main));
}

}  // namespace
}  // namespace quax
