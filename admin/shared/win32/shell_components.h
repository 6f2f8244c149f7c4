// The administration programs' small shared pieces over the shell and the
// system: the folder browser, the help launcher, file versions, the Windows
// version and the single-instance guard.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "about_text.h"
#include "single_instance.h"
#include "unique_handle.h"

namespace quax {

class CDlgBrowseForFolder {
 public:
  const std::string& DialogTitle() const noexcept { return dialogTitle_; }
  void SetDialogTitle(std::string title) { dialogTitle_ = std::move(title); }
  const std::string& InitDir() const noexcept { return initDir_; }
  void SetInitDir(std::string folder) { initDir_ = std::move(folder); }
  HWND WindowHandle() const noexcept { return owner_; }
  void SetWindowHandle(HWND owner) noexcept { owner_ = owner; }
  // The chosen folder; empty when the user cancelled.
  const std::string& FolderName() const noexcept { return folderName_; }

  void ShowBrowseForFolder();

 private:
  std::string dialogTitle_ = "Please select a folder:";
  std::string initDir_;
  HWND owner_ = nullptr;
  std::string folderName_;
};

// The product's help through the external help library QuaxHelp.dll, which
// exports QuaxHelpShow(base address, context, topic) -> 0 on success and
// QuaxHelpClose().
class CQuaxHelp {
 public:
  CQuaxHelp() = default;
  ~CQuaxHelp();
  CQuaxHelp(const CQuaxHelp&) = delete;
  CQuaxHelp& operator=(const CQuaxHelp&) = delete;

  const std::string& HelpContext() const noexcept { return helpContext_; }
  void SetHelpContext(std::string context) { helpContext_ = std::move(context); }
  const std::string& HelpTopic() const noexcept { return helpTopic_; }
  void SetHelpTopic(std::string topic) { helpTopic_ = std::move(topic); }
  const std::string& LastErrorMessage() const noexcept { return lastErrorMessage_; }

  bool ShowHelp();

 private:
  std::string helpContext_ = "QUAX_Server_Administrator";
  std::string helpTopic_ = "quax_admin";
  std::string lastErrorMessage_;
  unique_module library_;
};

// The program's one help object, created on first use.
CQuaxHelp& ProgramHelp();

class CVerInfo {
 public:
  const std::string& Filename() const noexcept { return filename_; }
  // Reads the file's version resource.
  void SetFilename(std::string filename);
  // A registered COM class (ProgID or class id): its in-process server file
  // becomes Filename.
  void SetClassName(const std::string& className);
  // "1.0.0.0"; empty when the file has no version resource.
  const std::string& FileVersion() const noexcept { return fileVersion_; }
  const std::string& ProductVersion() const noexcept { return productVersion_; }
  // The fixed file version's numbers; nothing without a version resource.
  const std::optional<quax::FileVersion>& FileVersionNumbers() const noexcept { return fileNumbers_; }
  // A text of the version record ("FileDescription", "LegalCopyright", ...).
  std::string StringValue(const char* name) const;
  void Refresh();

 private:
  std::string filename_;
  std::string fileVersion_;
  std::string productVersion_;
  std::optional<quax::FileVersion> fileNumbers_;
  std::string data_;
};

// The running Windows. The programs' manifest declares the Windows versions
// they support, so GetVersionExA reports the real version, not Windows 8's.
class COpSysInfo {
 public:
  COpSysInfo();
  std::uint32_t MajorVersion() const noexcept { return version_.Major; }
  std::uint32_t MinorVersion() const noexcept { return version_.Minor; }
  std::uint32_t BuildNumber() const noexcept { return version_.Build; }
  std::uint32_t PlatformID() const noexcept { return version_.PlatformId; }
  const std::string& CSDVersion() const noexcept { return version_.CSDVersion; }
  bool IsWinNT() const noexcept { return quax::IsWinNT(version_); }
  bool IsWin9x() const noexcept { return quax::IsWin9x(version_); }
  bool IsWin95() const noexcept { return quax::IsWin95(version_); }
  bool IsWin98() const noexcept { return quax::IsWin98(version_); }
  bool IsWin2K() const noexcept { return quax::IsWin2K(version_); }
  std::string Platform() const { return PlatformName(version_); }
  std::string Version() const { return OsVersionText(version_); }
  const OsVersion& Details() const noexcept { return version_; }

 private:
  OsVersion version_;
};

// The single-instance guard over a named mutex and the top-level windows.
class Win32InstanceSystem : public InstanceSystem {
 public:
  explicit Win32InstanceSystem(std::string instanceName) : instanceName_(std::move(instanceName)) {}
  bool ClaimInstance() override;
  WindowRef FindTopLevelWindow(const std::string& title) override;
  bool IsMinimised(WindowRef window) override;
  void Restore(WindowRef window) override;
  void BringToFront(WindowRef window) override;

 private:
  std::string instanceName_;
  unique_handle mutex_;  // held for the life of the program
};

// This program's file and folder, and the current folder.
std::string ProgramFile();
std::string FolderOf(const std::string& path);
std::string CurrentFolder();

}  // namespace quax

namespace quax {

// The program's title (its main window's caption), the caption of its
// general messages.
const std::string& ProgramTitle();
void SetProgramTitle(std::string title);

// F1: the help topic "quax_admin"; a failure is shown with the program title.
void ShowHelpOrWhyNot(HWND owner);

}  // namespace quax
