#include "about_text.h"

#include <algorithm>
#include <cctype>

namespace quax {

namespace {

// "1.0, Build 7"
std::string MajorMinorBuild(const FileVersion& version, std::uint16_t build) {
  return std::to_string(version.Major) + "." + std::to_string(version.Minor) + ", Build " + std::to_string(build);
}

constexpr char kVendorContact[] =
    "QUAX Process Accounting\r\n"
    "For support, contact the QUAX administrator of your organisation.";

}  // namespace

std::string GuiVersionText(const FileVersion& version) {
  return "GUI Version " + MajorMinorBuild(version, version.Revision);
}

std::string ServiceVersionText(bool installed, const std::optional<FileVersion>& version) {
  if (!installed) return "Service Version - not installed";
  if (!version) return "Service Version - unknown";
  return "Service Version " + MajorMinorBuild(*version, version->Build);
}

std::string ServiceProgramPath(std::string_view imagePath) {
  while (!imagePath.empty() && imagePath.front() == ' ') imagePath.remove_prefix(1);
  if (!imagePath.empty() && imagePath.front() == '"') {
    imagePath.remove_prefix(1);
    return std::string(imagePath.substr(0, imagePath.find('"')));
  }
  std::string lower(imagePath);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::size_t exe = lower.find(".exe");
  return std::string(exe == std::string::npos ? imagePath : imagePath.substr(0, exe + 4));
}

std::string AboutDescriptionText(std::string_view fileDescription, std::string_view applicationFolder,
                                 std::string_view currentFolder) {
  return std::string(fileDescription) + "\r\n\r\nApplication Path = '" + std::string(applicationFolder) +
         "'\r\nCurrent Path = '" + std::string(currentFolder) + "'";
}

std::string AboutDisclaimerText(std::string_view legalCopyright, std::string_view legalTrademarks) {
  std::string text;
  for (const std::string_view line : {legalCopyright, legalTrademarks}) {
    if (!line.empty()) text += std::string(line) + "\r\n";
  }
  return text + kVendorContact;
}

bool IsWinNT(const OsVersion& os) noexcept { return os.PlatformId == kPlatformNT; }
bool IsWin9x(const OsVersion& os) noexcept { return os.PlatformId == kPlatformWin9x; }
bool IsWin95(const OsVersion& os) noexcept { return IsWin9x(os) && os.Major == 4 && os.Minor == 0; }
bool IsWin98(const OsVersion& os) noexcept { return IsWin9x(os) && os.Major == 4 && os.Minor >= 10; }
bool IsWin2K(const OsVersion& os) noexcept { return IsWinNT(os) && os.Major == 5 && os.Minor == 0; }

std::string PlatformName(const OsVersion& os) {
  if (IsWin95(os)) return "Windows 95";
  if (IsWin98(os)) return "Windows 98";
  if (IsWin2K(os)) return "Windows 2000";
  return "Windows NT";
}

std::string OsVersionText(const OsVersion& os) {
  return PlatformName(os) + " v" + std::to_string(os.Major) + "." + std::to_string(os.Minor) + ", Build " +
         std::to_string(os.Build);
}

std::string AboutOperatingSystemText(const OsVersion& os) {
  std::string text = OsVersionText(os);
  if (!os.CSDVersion.empty()) text += " (" + os.CSDVersion + ")";
  return text;
}

std::string HelpBaseAddress(std::string_view currentFolder) {
  std::string root(currentFolder);
  if (root.empty() || root.back() != '\\') root += '\\';
  std::string address = "file:///" + root + "Help\\wwhelp.htm";
  std::replace(address.begin(), address.end(), '\\', '/');
  return address;
}

std::string HelpStartFailedText(std::string_view address, std::string_view context, std::string_view topic) {
  return "Unable to start help: \r\nBase URL: '" + std::string(address) + "'\r\nContext: '" + std::string(context) +
         "'\r\nTopic: '" + std::string(topic) + "'";
}

}  // namespace quax

namespace quax {

std::optional<std::string> SystemInfoProgram(const std::optional<std::string>& msinfoPath,
                                             const std::optional<std::string>& sharedToolsLocation,
                                             bool (*fileExists)(const std::string& path)) {
  if (msinfoPath && !msinfoPath->empty() && fileExists(*msinfoPath)) return msinfoPath;
  if (sharedToolsLocation && !sharedToolsLocation->empty()) {
    const std::string program = *sharedToolsLocation + "\\MSINFO32.EXE";
    if (fileExists(program)) return program;
  }
  return std::nullopt;
}

}  // namespace quax
