#include "about_text.h"

#include <gtest/gtest.h>

#include "single_instance.h"

namespace quax {
namespace {

TEST(AboutText, ProgramShowsItsRevisionAndServiceItsBuild) {
  EXPECT_EQ(GuiVersionText({1, 0, 3, 9}), "GUI Version 1.0, Build 9");
  EXPECT_EQ(ServiceVersionText(true, FileVersion{2, 5, 17, 0}), "Service Version 2.5, Build 17");
  EXPECT_EQ(ServiceVersionText(false, std::nullopt), "Service Version - not installed");
  EXPECT_EQ(ServiceVersionText(true, std::nullopt), "Service Version - unknown");
}

TEST(AboutText, ServiceProgramIsTakenFromItsImagePath) {
  EXPECT_EQ(ServiceProgramPath("\"C:\\Program Files\\QUAX\\quaxcolsvc.exe\" -service"),
            "C:\\Program Files\\QUAX\\quaxcolsvc.exe");
  EXPECT_EQ(ServiceProgramPath("C:\\QUAX\\quaxcolsvc.EXE -x"), "C:\\QUAX\\quaxcolsvc.EXE");
  EXPECT_EQ(ServiceProgramPath("C:\\QUAX\\quaxcolsvc.exe"), "C:\\QUAX\\quaxcolsvc.exe");
  EXPECT_EQ(ServiceProgramPath("\"unterminated"), "unterminated");
  EXPECT_EQ(ServiceProgramPath(""), "");
}

TEST(AboutText, DescriptionAndDisclaimer) {
  EXPECT_EQ(AboutDescriptionText("QUAX service administration", "C:\\QUAX", "C:\\Work"),
            "QUAX service administration\r\n\r\nApplication Path = 'C:\\QUAX'\r\nCurrent Path = 'C:\\Work'");
  const std::string both = AboutDisclaimerText("Copyright notice", "Trademarks");
  EXPECT_EQ(both.rfind("Copyright notice\r\nTrademarks\r\nQUAX Process Accounting\r\n", 0), 0u) << both;
  EXPECT_EQ(AboutDisclaimerText("", "").rfind("QUAX Process Accounting\r\n", 0), 0u);
}

TEST(OperatingSystem, PlatformsAndVersionText) {
  const OsVersion win95{4, 0, 950, kPlatformWin9x, ""};
  const OsVersion win98{4, 10, 1998, kPlatformWin9x, ""};
  const OsVersion nt4{4, 0, 1381, kPlatformNT, "Service Pack 6"};
  const OsVersion win2k{5, 0, 2195, kPlatformNT, "Service Pack 4"};
  const OsVersion win10{10, 0, 19045, kPlatformNT, ""};
  EXPECT_EQ(PlatformName(win95), "Windows 95");
  EXPECT_EQ(PlatformName(win98), "Windows 98");
  EXPECT_EQ(PlatformName(nt4), "Windows NT");
  EXPECT_EQ(PlatformName(win2k), "Windows 2000");
  EXPECT_EQ(PlatformName(win10), "Windows NT");
  EXPECT_TRUE(IsWin9x(win95) && IsWin95(win95) && !IsWin98(win95) && !IsWinNT(win95));
  EXPECT_TRUE(IsWin98(win98) && !IsWin95(win98));
  EXPECT_TRUE(IsWinNT(nt4) && !IsWin2K(nt4) && !IsWin9x(nt4));
  EXPECT_TRUE(IsWin2K(win2k));
  EXPECT_EQ(OsVersionText(win10), "Windows NT v10.0, Build 19045");
  EXPECT_EQ(AboutOperatingSystemText(win10), "Windows NT v10.0, Build 19045");
  EXPECT_EQ(AboutOperatingSystemText(win2k), "Windows 2000 v5.0, Build 2195 (Service Pack 4)");
}

TEST(Help, BaseAddressAndFailureText) {
  EXPECT_EQ(HelpBaseAddress("C:\\Program Files\\QUAX"), "file:///C:/Program Files/QUAX/Help/wwhelp.htm");
  EXPECT_EQ(HelpBaseAddress("C:\\"), "file:///C:/Help/wwhelp.htm");
  EXPECT_EQ(HelpStartFailedText("file:///C:/Help/wwhelp.htm", "QUAX_Server_Administrator", "quax_admin"),
            "Unable to start help: \r\nBase URL: 'file:///C:/Help/wwhelp.htm'\r\n"
            "Context: 'QUAX_Server_Administrator'\r\nTopic: 'quax_admin'");
}

class FakeInstances : public InstanceSystem {
 public:
  bool ClaimInstance() override { return first; }
  WindowRef FindTopLevelWindow(const std::string& title) override {
    searched = title;
    return window;
  }
  bool IsMinimised(WindowRef) override { return minimised; }
  void Restore(WindowRef found) override { restored = found; }
  void BringToFront(WindowRef found) override { front = found; }

  bool first = true;
  WindowRef window = 0;
  bool minimised = false;
  std::string searched;
  WindowRef restored = 0;
  WindowRef front = 0;
};

TEST(SingleInstance, SecondInstanceShowsTheFirstAndEnds) {
  FakeInstances system;
  EXPECT_TRUE(ContinueAsOnlyInstance(system, "Title"));
  EXPECT_EQ(system.searched, "");

  system.first = false;
  system.window = 42;
  EXPECT_FALSE(ContinueAsOnlyInstance(system, "Title"));
  EXPECT_EQ(system.searched, "Title");
  EXPECT_EQ(system.front, 42u);
  EXPECT_EQ(system.restored, 0u);

  system.minimised = true;
  EXPECT_FALSE(ContinueAsOnlyInstance(system, "Title"));
  EXPECT_EQ(system.restored, 42u);

  // The first instance has no window yet: this one still ends.
  FakeInstances early;
  early.first = false;
  EXPECT_FALSE(ContinueAsOnlyInstance(early, "Title"));
  EXPECT_EQ(early.front, 0u);
}

}  // namespace
}  // namespace quax

namespace quax {
namespace {

bool OnlyKnownFilesExist(const std::string& path) {
  return path == "C:\\Program Files\\Common Files\\msinfo32.exe" || path == "C:\\Tools\\MSINFO32.EXE";
}

TEST(AboutText, SystemInformationProgramIsLookedForInTwoPlaces) {
  const std::string registered = "C:\\Program Files\\Common Files\\msinfo32.exe";
  EXPECT_EQ(SystemInfoProgram(registered, std::string("C:\\Tools"), &OnlyKnownFilesExist), registered);
  EXPECT_EQ(SystemInfoProgram(std::string("C:\\gone.exe"), std::string("C:\\Tools"), &OnlyKnownFilesExist),
            "C:\\Tools\\MSINFO32.EXE");
  EXPECT_EQ(SystemInfoProgram(std::nullopt, std::string("C:\\Tools"), &OnlyKnownFilesExist), "C:\\Tools\\MSINFO32.EXE");
  EXPECT_FALSE(SystemInfoProgram(std::nullopt, std::string("C:\\Elsewhere"), &OnlyKnownFilesExist).has_value());
  EXPECT_FALSE(SystemInfoProgram(std::nullopt, std::nullopt, &OnlyKnownFilesExist).has_value());
  EXPECT_STREQ(kSystemInfoUnavailable, "System Information Is Unavailable At This Time");
}

}  // namespace
}  // namespace quax
