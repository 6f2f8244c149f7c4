// quaxcolsvc.exe as a real service under the service control manager of the
// private Wine prefix, and its command line.
#include <gtest/gtest.h>

#include <string>

#include "diagnostics.h"
#include "process_control.h"
#include "test_support.h"

namespace quax {
namespace {

using test::ScratchDirectory;

std::string ServiceProgram() { return "\"" + test::BinaryDirectory() + "\\quaxcolsvc.exe\""; }

void SetSetting(const char* name, const std::string& value) {
  unique_hkey key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
}

// Polls the service until it reaches the state (or the time-out).
bool WaitForState(SC_HANDLE service, DWORD state, SERVICE_STATUS* status, DWORD timeoutMilliseconds) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
  while (QueryServiceStatus(service, status) && status->dwCurrentState != state) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(100);
  }
  return status->dwCurrentState == state;
}

class InstalledService : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
    std::string output;
    ASSERT_EQ(test::RunAndCapture(ServiceProgram() + " -install", &output), 0u) << output;
    EXPECT_EQ(output, "QUAX Process Collector with Debug Logging installed.\n");
    manager.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    service.reset(OpenServiceA(manager.get(), "QUAXWinProcess", SERVICE_ALL_ACCESS));
    ASSERT_TRUE(service);
  }

  void TearDown() override {
    SERVICE_STATUS status;
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    WaitForState(service.get(), SERVICE_STOPPED, &status, 30000);
    service.reset();
    std::string output;
    test::RunAndCapture(ServiceProgram() + " -remove", &output);
    EXPECT_EQ(output.substr(output.size() - 51), "QUAX Process Collector with Debug Logging removed.\n");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
  }

  unique_service_handle manager;
  unique_service_handle service;
};

TEST_F(InstalledService, RunsUnderTheServiceControlManagerAndRecordsEndedProcesses) {
  ScratchDirectory logs("service");
  SetSetting("LogFilePath", logs.Path());
  SetSetting("AccountingInterval", "0");
  ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr));
  SERVICE_STATUS status;
  ASSERT_TRUE(WaitForState(service.get(), SERVICE_RUNNING, &status, 30000));
  EXPECT_EQ(status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
  Sleep(1500);  // the first full refresh is done

  // Long enough to be seen by a sampling (every second) before it ends.
  std::string output;
  const DWORD exitCode = test::RunAndCapture("\"" + test::BinaryDirectory() + "\\quax_test_child.exe\" sleep 2500", &output);
  EXPECT_EQ(exitCode, 0u);
  // The child's end is written at once or, had it not been waited on yet,
  // at the next sampling.
  const auto childEnded = [&](const std::vector<std::string>& lines) {
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const std::vector<std::string> fields = test::SplitFields(lines[i], '\t');
      if (fields.size() > 10 && fields[3] == "quax_test_child.exe" && fields[10] == "0") return true;
    }
    return false;
  };
  std::vector<std::string> lines;
  const ULONGLONG deadline = GetTickCount64() + 10000;
  while (!childEnded(lines) && GetTickCount64() < deadline) {
    Sleep(100);
    const std::vector<std::string> files = logs.FileNames();
    if (!files.empty()) lines = test::ReadLines(logs.Path() + "\\" + files.front());
  }
  ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
  ASSERT_TRUE(WaitForState(service.get(), SERVICE_STOPPED, &status, 30000));
  EXPECT_EQ(status.dwWin32ExitCode, 0u);

  EXPECT_TRUE(childEnded(lines));
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> fields = test::SplitFields(lines[i], '\t');
    ASSERT_EQ(fields.size(), 32u);
    EXPECT_EQ(fields[0], "E");  // no interval accounting: end records only
  }
}

TEST_F(InstalledService, InvalidLogFilePathStopsTheServiceWithExitCode3) {
  SetSetting("LogFilePath", "C:\\quax-no-such-directory");
  ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr));
  SERVICE_STATUS status;
  ASSERT_TRUE(WaitForState(service.get(), SERVICE_STOPPED, &status, 30000));
  EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(ServiceCommandLine, InstalledFromAFolderWithASpaceTheImagePathIsQuotedAndStarts) {
  // Unquoted, C:\Program Files\QUAX\quaxcolsvc.exe could start C:\Program.exe instead.
  ScratchDirectory folder("service path");
  ScratchDirectory logs("service-quoted");
  const std::string program = folder.Path() + "\\quaxcolsvc.exe";
  ASSERT_NE(program.find(' '), std::string::npos);
  ASSERT_TRUE(CopyFileA((test::BinaryDirectory() + "\\quaxcolsvc.exe").c_str(), program.c_str(), FALSE));
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
  SetSetting("LogFilePath", logs.Path());
  SetSetting("AccountingInterval", "0");
  std::string output;
  ASSERT_EQ(test::RunAndCapture("\"" + program + "\" -install", &output), 0u) << output;

  unique_service_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  unique_service_handle service(OpenServiceA(manager.get(), "QUAXWinProcess", SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service);
  union {
    QUERY_SERVICE_CONFIGA config;
    char bytes[8192];
  } answer;
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfigA(service.get(), &answer.config, sizeof answer, &needed));
  EXPECT_EQ(std::string(answer.config.lpBinaryPathName), "\"" + program + "\"");

  SERVICE_STATUS status;
  EXPECT_TRUE(StartServiceA(service.get(), 0, nullptr));
  EXPECT_TRUE(WaitForState(service.get(), SERVICE_RUNNING, &status, 30000));
  ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
  EXPECT_TRUE(WaitForState(service.get(), SERVICE_STOPPED, &status, 30000));
  service.reset();
  test::RunAndCapture("\"" + program + "\" -remove", &output);
  EXPECT_EQ(output, "QUAX Process Collector with Debug Logging removed.\n");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
}

TEST(ServiceCommandLine, DebugRunThatCannotStartSaysWhyAndExitsWithItsCode) {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
  SetSetting("LogFilePath", "C:\\quax-no-such-directory");
  std::string output;
  EXPECT_EQ(test::RunAndCapture(ServiceProgram() + " -debug", &output), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(output,
            "Debugging QUAX Process Collector with Debug Logging...Press Ctrl+C to stop.\n"
            "Use DebugView or other debug output viewer to see trace details.\n\n"
            "ERROR: QUAXWINPROCESS: The log file path 'C:\\quax-no-such-directory' is not valid.\n");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
}

TEST(ServiceCommandLine, UnknownCommandPrintsUsageAndFailsOutsideTheManager) {
  std::string output;
  EXPECT_EQ(test::RunAndCapture(ServiceProgram() + " install", &output), 1u);
  EXPECT_EQ(output,
            "QUAXWinProcess -install          to install the service\n"
            "QUAXWinProcess -remove           to remove the service\n"
            "QUAXWinProcess -debug <params>   to run as a console app for debugging\n"
            "\n\nStarting service...\n");
}

TEST(ServiceCommandLine, RemoveWithoutTheServiceSaysSo) {
  std::string output;
  EXPECT_EQ(test::RunAndCapture(ServiceProgram() + " /REMOVE", &output), 0u);
  EXPECT_EQ(output.rfind("OpenService failed - ", 0), 0u) << output;
}

TEST(ServiceCommandLine, InstallIsCaseInsensitiveAndRefusedTwice) {
  std::string output;
  ASSERT_EQ(test::RunAndCapture(ServiceProgram() + " /INSTALL", &output), 0u) << output;
  EXPECT_EQ(test::RunAndCapture(ServiceProgram() + " -Install", &output), 1u);
  EXPECT_EQ(output.rfind("CreateService failed - ", 0), 0u) << output;
  // Removing a service that is not running prints neither stopping line.
  test::RunAndCapture(ServiceProgram() + " -remove", &output);
  EXPECT_EQ(output, "QUAX Process Collector with Debug Logging removed.\n");
}

}  // namespace
}  // namespace quax
