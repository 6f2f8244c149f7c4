// Texts of the about box, the operating-system description and the help
// launcher, built from facts that the Win32 layer reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quax {

// The four numbers of a fixed file version, most significant first.
struct FileVersion {
  std::uint16_t Major = 0;
  std::uint16_t Minor = 0;
  std::uint16_t Build = 0;
  std::uint16_t Revision = 0;
};

// "GUI Version 1.0, Build 0": the program's major, minor and revision.
std::string GuiVersionText(const FileVersion& version);
// "Service Version 1.0, Build 0": major, minor and build; "Service Version - not installed" when the
// service is not registered; "Service Version - unknown" when its program
// has no readable version.
std::string ServiceVersionText(bool installed, const std::optional<FileVersion>& version);
// The program file of a service's ImagePath: the quoted part when it is
// quoted, else everything up to the end of ".exe" (arguments dropped).
std::string ServiceProgramPath(std::string_view imagePath);

// description CR LF CR LF "Application Path = '...'" CR LF "Current Path = '...'"
std::string AboutDescriptionText(std::string_view fileDescription, std::string_view applicationFolder,
                                 std::string_view currentFolder);
// The legal notice and trademark lines that are present, then the vendor's
// contact lines.
std::string AboutDisclaimerText(std::string_view legalCopyright, std::string_view legalTrademarks);

// Windows as GetVersionEx describes it.
struct OsVersion {
  std::uint32_t Major = 0;
  std::uint32_t Minor = 0;
  std::uint32_t Build = 0;
  std::uint32_t PlatformId = 0;  // 1: Windows 9x, 2: Windows NT
  std::string CSDVersion;
};
inline constexpr std::uint32_t kPlatformWin9x = 1;
inline constexpr std::uint32_t kPlatformNT = 2;

bool IsWinNT(const OsVersion& os) noexcept;
bool IsWin9x(const OsVersion& os) noexcept;
bool IsWin95(const OsVersion& os) noexcept;
bool IsWin98(const OsVersion& os) noexcept;
bool IsWin2K(const OsVersion& os) noexcept;
// "Windows 95", "Windows 98", "Windows 2000" or "Windows NT".
std::string PlatformName(const OsVersion& os);
// "Windows NT v10.0, Build 19045"
std::string OsVersionText(const OsVersion& os);
// OsVersionText and " (" service pack ")" when there is one.
std::string AboutOperatingSystemText(const OsVersion& os);

// "file:///C:/Program Files/QUAX/Help/wwhelp.htm" for that current folder.
std::string HelpBaseAddress(std::string_view currentFolder);
std::string HelpStartFailedText(std::string_view address, std::string_view context, std::string_view topic);

}  // namespace quax

namespace quax {

// The system information program: the "PATH" of MSINFO, else the shared
// tools location's MSINFO32.EXE; nothing when neither names a file that
// exists.
std::optional<std::string> SystemInfoProgram(const std::optional<std::string>& msinfoPath,
                                             const std::optional<std::string>& sharedToolsLocation,
                                             bool (*fileExists)(const std::string& path));
inline constexpr char kSystemInfoUnavailable[] = "System Information Is Unavailable At This Time";

}  // namespace quax
