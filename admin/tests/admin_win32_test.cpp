// The Win32 pieces of the administration programs that need no window: the
// registry store, files and environment, versions, the Windows version, the
// help launcher, the single-instance claim and the service manager's
// failures for a service that does not exist.
#include <gtest/gtest.h>

#include "registry_store.h"
#include "service_control.h"
#include "shell_components.h"
#include "test_support.h"
#include "win32/registry.h"

#include <shellapi.h>

namespace quax {
namespace {

using namespace std::string_literals;

std::vector<std::pair<std::string, std::string>> g_boxes;
void CollectBox(const char* text, const char* caption) { g_boxes.emplace_back(text, caption); }

// The store under a private key of HKEY_CURRENT_USER, so that nothing of the
// machine's settings is touched.
class RegistryStore : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, kRoot.c_str());
    g_boxes.clear();
  }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kRoot.c_str()); }

  const std::string kRoot = "Software\\QUAXAdminTest-" + std::to_string(GetCurrentProcessId());
  const std::string kSubKey = kRoot + "\\Collectors\\QUAXWinProcess";
  RegistrySettingsStore store{HKEY_CURRENT_USER, &CollectBox};
};

TEST_F(RegistryStore, WritesReadsAndRemovesTextValues) {
  const RegistryValueRef prefix{kSubKey.c_str(), "LogFilePrefix"};
  EXPECT_FALSE(store.KeyExists(kSubKey.c_str()));
  EXPECT_FALSE(store.Read(prefix).has_value());
  ASSERT_TRUE(store.Write(prefix, "Proc-"));  // creates the key
  EXPECT_TRUE(store.KeyExists(kSubKey.c_str()));
  EXPECT_EQ(store.Read(prefix), "Proc-");

  char stored[64];
  DWORD size = sizeof stored;
  DWORD type = 0;
  ASSERT_EQ(RegGetValueA(HKEY_CURRENT_USER, kSubKey.c_str(), "LogFilePrefix", RRF_RT_ANY, &type, stored, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::string(stored, size), "Proc-\0"s);

  ASSERT_TRUE(store.Remove(prefix));
  EXPECT_FALSE(store.Read(prefix).has_value());
  EXPECT_FALSE(store.Remove(prefix));
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(RegistryStore, NumbersStoredAsDwordsReadAsSignedText) {
  const RegistryValueRef interval{kSubKey.c_str(), "AccountingInterval"};
  const DWORD minus900 = static_cast<DWORD>(-900);
  ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kSubKey.c_str(), "AccountingInterval", REG_DWORD, &minus900,
                            sizeof minus900),
            ERROR_SUCCESS);
  EXPECT_EQ(store.Read(interval), "-900");
}

TEST_F(RegistryStore, CollectorsViewIsTheStoredBytesWithinTheirBuffer) {
  const RegistryValueRef interval{kSubKey.c_str(), "AccountingInterval"};
  SettingText text;
  EXPECT_FALSE(store.ReadLikeCollector(interval, text));
  // A number stored as such is no decimal text to the collectors.
  const DWORD hour = 3600;
  ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kSubKey.c_str(), "AccountingInterval", REG_DWORD, &hour, sizeof hour),
            ERROR_SUCCESS);
  EXPECT_EQ(store.Read(interval), "3600");
  ASSERT_TRUE(store.ReadLikeCollector(interval, text));
  EXPECT_EQ(std::string(text), "\x10\x0E");

  // The text and its terminator must fit the collectors' 1024 bytes.
  ASSERT_TRUE(store.Write(interval, std::string(1023, '7')));
  ASSERT_TRUE(store.ReadLikeCollector(interval, text));
  EXPECT_EQ(std::string(text), std::string(1023, '7'));
  ASSERT_TRUE(store.Write(interval, std::string(1024, '7')));
  EXPECT_FALSE(store.ReadLikeCollector(interval, text));
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(RegistryStore, RefusedWriteIsShownOnceAndReported) {
  const std::string tooDeep = kRoot + "\\" + std::string(300, 'k');
  EXPECT_FALSE(store.Write({tooDeep.c_str(), "Value"}, "text"));
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].second, "CRegValue");
  EXPECT_EQ(g_boxes[0].first.rfind("Error calling RegCreateKeyEx. Error #", 0), 0u) << g_boxes[0].first;

  // All or nothing: the values written before the refusal are taken back
  // with their types.
  const RegistryValueRef first{kSubKey.c_str(), "LogFilePath"};
  const RegistryValueRef second{kSubKey.c_str(), "AccountingInterval"};
  ASSERT_TRUE(store.Write(first, "C:\\Before"));
  const DWORD minute = 60;
  ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kSubKey.c_str(), "AccountingInterval", REG_DWORD, &minute,
                            sizeof minute),
            ERROR_SUCCESS);
  const PendingValue values[] = {{first, "C:\\After"}, {second, "-60"}, {{tooDeep.c_str(), "Value"}, "text"}};
  EXPECT_FALSE(WriteAllOrNothing(store, values));
  EXPECT_EQ(store.Read(first), "C:\\Before");
  EXPECT_EQ(store.ReadData(second), RegistryData::Number(60));
}

TEST(RegistryViews, TheThirtyTwoBitViewIsAValueOfItsOwn) {
  const std::string key = "Software\\QUAXAdminTest-" + std::to_string(GetCurrentProcessId());
  RegistrySettingsStore store(HKEY_LOCAL_MACHINE, &CollectBox);
  EXPECT_TRUE(store.HasWow32View());
  const RegistryValueRef main{key.c_str(), "AppInit_DLLs"};
  const RegistryValueRef wow32{key.c_str(), "AppInit_DLLs", RegistryView::Wow32};
  ASSERT_TRUE(store.Write(main, "a64.dll"));
  ASSERT_TRUE(store.WriteData(wow32, RegistryData::Number(32)));
  EXPECT_EQ(store.Read(main), "a64.dll");
  EXPECT_EQ(store.ReadData(wow32), RegistryData::Number(32));
  char text[64];
  DWORD size = sizeof text;
  ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, ("Software\\Wow6432Node\\" + key.substr(9)).c_str(), "AppInit_DLLs",
                         RRF_RT_REG_DWORD, nullptr, text, &size),
            ERROR_SUCCESS);
  EXPECT_TRUE(store.Remove(wow32));
  EXPECT_FALSE(store.ReadData(wow32).has_value());
  EXPECT_EQ(store.Read(main), "a64.dll");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_32KEY, 0);
}

TEST(AdminSystemFiles, FoldersFilesAndEnvironment) {
  test::ScratchDirectory scratch("adminfiles");
  Win32AdminSystem system;
  EXPECT_TRUE(system.FolderExists(scratch.Path()));
  EXPECT_TRUE(system.FolderExists(scratch.Path() + "\\"));
  const std::string folder = scratch.Path() + "\\Logs";
  EXPECT_FALSE(system.FolderExists(folder));
  EXPECT_TRUE(system.CreateFolder(folder));
  EXPECT_TRUE(system.FolderExists(folder));
  EXPECT_FALSE(system.FileExists(folder));
  EXPECT_FALSE(system.CreateFolder(scratch.Path() + "\\No\\Deeper"));  // one level only
  const std::string program = test::BinaryDirectory() + "\\quaxcolsvc.exe";
  EXPECT_TRUE(system.FileExists(program));
  EXPECT_FALSE(system.FolderExists(program));
  RemoveDirectoryA(folder.c_str());

  SetEnvironmentVariableA("QUAX_ADMIN_TEST", "value");
  EXPECT_EQ(system.EnvironmentVariable("QUAX_ADMIN_TEST"), "value");
  SetEnvironmentVariableA("QUAX_ADMIN_TEST", nullptr);
  EXPECT_FALSE(system.EnvironmentVariable("QUAX_ADMIN_TEST").has_value());
}

TEST(VersionInfo, ReadsTheVersionResourceOfTheServiceProgram) {
  CVerInfo info;
  info.SetFilename(test::BinaryDirectory() + "\\quaxcolsvc.exe");
  EXPECT_EQ(info.FileVersion(), "1.0.0.0");
  EXPECT_EQ(info.ProductVersion(), "1.0.0.0");
  ASSERT_TRUE(info.FileVersionNumbers().has_value());
  EXPECT_EQ(GuiVersionText(*info.FileVersionNumbers()), "GUI Version 1.0, Build 0");
  EXPECT_EQ(info.StringValue("FileDescription"), "QUAX Process Collector service");
  EXPECT_EQ(info.StringValue("LegalCopyright"), "Copyright (C) QUAX. All rights reserved.");
  EXPECT_EQ(info.StringValue("NoSuchField"), "");

  info.SetFilename(test::BinaryDirectory() + "\\no-such-file.exe");
  EXPECT_EQ(info.FileVersion(), "");
  EXPECT_FALSE(info.FileVersionNumbers().has_value());
  EXPECT_EQ(info.StringValue("FileDescription"), "");

  info.SetClassName("QUAX.NoSuchClass");
  EXPECT_EQ(info.Filename(), "");
  EXPECT_EQ(info.FileVersion(), "");
}

TEST(VersionInfo, BothProgramsCarryTheirIcon) {
  for (const char* program : {"quaxsvcadmin.exe", "quaxhookadmin.exe"}) {
    const std::string path = test::BinaryDirectory() + "\\" + program;
    EXPECT_EQ(ExtractIconExA(path.c_str(), -1, nullptr, nullptr, 0), 1u) << program;
  }
}

TEST(OperatingSystemInfo, ReportsTheRealWindowsVersion) {
  // The test binary has no manifest, so ask the kernel directly.
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
  ASSERT_NE(rtlGetVersion, nullptr);
  OSVERSIONINFOW real{};
  real.dwOSVersionInfoSize = sizeof real;
  ASSERT_EQ(rtlGetVersion(&real), 0);
  const COpSysInfo os;
  EXPECT_TRUE(os.IsWinNT());
  EXPECT_FALSE(os.IsWin9x());
  EXPECT_EQ(os.PlatformID(), 2u);
  EXPECT_EQ(os.BuildNumber(), real.dwBuildNumber);
  EXPECT_EQ(os.Version(), OsVersionText(os.Details()));
  EXPECT_EQ(os.Version().rfind(os.Platform() + " v", 0), 0u);
}

TEST(Help, MissingHelpLibraryIsExplained) {
  CQuaxHelp help;
  EXPECT_EQ(help.HelpContext(), "QUAX_Server_Administrator");
  EXPECT_EQ(help.HelpTopic(), "quax_admin");
  EXPECT_FALSE(help.ShowHelp());
  EXPECT_EQ(help.LastErrorMessage(), "Unable to start help: the help library QuaxHelp.dll could not be loaded: " +
                                         CSysMessage::GetMessage(ERROR_MOD_NOT_FOUND));
}

TEST(SingleInstanceClaim, OnlyTheFirstClaimSucceeds) {
  const std::string name = "Local\\QUAXAdminTest-" + std::to_string(GetCurrentProcessId());
  Win32InstanceSystem first(name);
  Win32InstanceSystem second(name);
  EXPECT_TRUE(first.ClaimInstance());
  EXPECT_FALSE(second.ClaimInstance());
  EXPECT_EQ(first.FindTopLevelWindow("QUAX no window has this title"), 0u);
}

TEST(ServiceManager, ServiceThatDoesNotExistFailsWithItsReason) {
  CServiceControl control;
  EXPECT_FALSE(control.ServiceStart());
  EXPECT_EQ(control.LastErrorMessage(), "The service name was not specified.");
  EXPECT_FALSE(control.ServiceStop());
  EXPECT_FALSE(control.IsRunning());

  control.SetServiceName("QUAXAdminTestNoSuchService");
  const std::string notInstalled = "Error opening service: " + CSysMessage::GetMessage(ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_FALSE(control.RefreshServiceStatus());
  EXPECT_EQ(control.LastErrorMessage(), notInstalled);
  EXPECT_EQ(control.ServiceStatus(), notInstalled);  // no state: the reason instead
  EXPECT_EQ(control.DisplayName(), "");
  EXPECT_FALSE(control.AutoStart());
  EXPECT_FALSE(control.ServiceStart());
  EXPECT_EQ(control.LastErrorMessage(), notInstalled);
  EXPECT_FALSE(control.ServiceSetAutoStart(true));
  EXPECT_EQ(control.LastErrorMessage(), notInstalled);
  EXPECT_FALSE(control.AutoStart());
}

}  // namespace
}  // namespace quax
