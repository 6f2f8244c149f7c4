#include "wow64_path.h"

#include <cstring>

namespace quax {

bool SysnativePath(const char* path, const char* windowsFolder, TextField& out) noexcept {
  if (path == nullptr || windowsFolder == nullptr) return false;
  std::size_t folderLength = std::strlen(windowsFolder);
  while (folderLength > 0 && windowsFolder[folderLength - 1] == '\\') --folderLength;
  constexpr char kRedirected[] = "\\System32";
  constexpr std::size_t kRedirectedLength = sizeof kRedirected - 1;
  const std::size_t prefixLength = folderLength + kRedirectedLength;
  if (folderLength == 0 || std::strlen(path) < prefixLength || !EqualsIgnoreCase(path, windowsFolder, folderLength) ||
      !EqualsIgnoreCase(path + folderLength, kRedirected, kRedirectedLength) ||
      (path[prefixLength] != '\0' && path[prefixLength] != '\\')) {
    return false;
  }
  TextField native;
  const std::size_t length = FormatText(native, sizeof native, "%.*s\\Sysnative%s", static_cast<int>(folderLength),
                                        windowsFolder, path + prefixLength);
  if (length != std::strlen(path) + 1) return false;  // cut
  CopyText(out, native);
  return true;
}

}  // namespace quax
