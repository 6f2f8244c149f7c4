#include "shell_components.h"

#include <shlobj.h>

#include <vector>

#include "win32/registry.h"

namespace quax {

// ---- Folder browser ------------------------------------------------------

namespace {

int CALLBACK SelectInitialFolder(HWND dialog, UINT message, LPARAM /*l*/, LPARAM data) {
  if (message == BFFM_INITIALIZED && data != 0) SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, data);
  return 0;
}

}  // namespace

void CDlgBrowseForFolder::ShowBrowseForFolder() {
  folderName_.clear();
  BROWSEINFOA info{};
  info.hwndOwner = owner_;
  info.lpszTitle = dialogTitle_.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = &SelectInitialFolder;
  info.lParam = reinterpret_cast<LPARAM>(initDir_.c_str());
  unique_co_task_memory chosen(SHBrowseForFolderA(&info));
  if (!chosen) return;
  char path[MAX_PATH];
  if (SHGetPathFromIDListA(static_cast<PCIDLIST_ABSOLUTE>(chosen.get()), path)) folderName_ = path;
}

// ---- Help ------------------------------------------------------------------

namespace {

using HelpShowFunction = int(WINAPI*)(const char* baseAddress, const char* context, const char* topic);
using HelpCloseFunction = void(WINAPI*)();

constexpr char kHelpLibrary[] = "QuaxHelp.dll";

template <class Function>
Function HelpFunction(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace

CQuaxHelp::~CQuaxHelp() {
  if (!library_) return;
  if (const auto close = HelpFunction<HelpCloseFunction>(library_.get(), "QuaxHelpClose")) close();
}

bool CQuaxHelp::ShowHelp() {
  lastErrorMessage_.clear();
  if (!library_) library_.reset(LoadLibraryA(kHelpLibrary));
  if (!library_) {
    lastErrorMessage_ = std::string("Unable to start help: the help library ") + kHelpLibrary +
                        " could not be loaded: " + CSysMessage::GetMessage(GetLastError());
    return false;
  }
  const auto show = HelpFunction<HelpShowFunction>(library_.get(), "QuaxHelpShow");
  if (show == nullptr) {
    lastErrorMessage_ = std::string("Unable to start help: ") + kHelpLibrary + " has no QuaxHelpShow function.";
    return false;
  }
  const std::string address = HelpBaseAddress(CurrentFolder());
  if (show(address.c_str(), helpContext_.c_str(), helpTopic_.c_str()) != 0) {
    lastErrorMessage_ = HelpStartFailedText(address, helpContext_, helpTopic_);
    return false;
  }
  return true;
}

CQuaxHelp& ProgramHelp() {
  static CQuaxHelp help;
  return help;
}

// ---- File versions ---------------------------------------------------------

void CVerInfo::SetFilename(std::string filename) {
  filename_ = std::move(filename);
  Refresh();
}

void CVerInfo::SetClassName(const std::string& className) {
  std::string classId = className;
  if (className.empty() || className.front() != '{') {
    CAdminRegValue progId;
    progId.SetKey(HKEY_CLASSES_ROOT);
    progId.SetSubKey(className + "\\CLSID");
    progId.Refresh();
    const auto* text = std::get_if<std::string>(&progId.Value());
    classId = text != nullptr ? *text : std::string();
  }
  CAdminRegValue server;
  server.SetKey(HKEY_CLASSES_ROOT);
  server.SetSubKey("CLSID\\" + classId + "\\InProcServer32");
  server.Refresh();
  const auto* file = std::get_if<std::string>(&server.Value());
  SetFilename(file != nullptr ? *file : std::string());
}

void CVerInfo::Refresh() {
  fileVersion_.clear();
  productVersion_.clear();
  fileNumbers_.reset();
  data_.clear();
  DWORD ignored = 0;
  const DWORD sizeBytes = GetFileVersionInfoSizeA(filename_.c_str(), &ignored);
  if (sizeBytes == 0) return;
  std::string data(sizeBytes, '\0');
  if (!GetFileVersionInfoA(filename_.c_str(), 0, sizeBytes, data.data())) return;
  data_ = std::move(data);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedBytes = 0;
  char root[] = "\\";
  if (!VerQueryValueA(data_.data(), root, reinterpret_cast<void**>(&fixed), &fixedBytes) || fixed == nullptr ||
      fixedBytes < sizeof *fixed) {
    return;
  }
  const auto numbers = [](DWORD high, DWORD low) {
    return quax::FileVersion{HIWORD(high), LOWORD(high), HIWORD(low), LOWORD(low)};
  };
  const auto text = [](const quax::FileVersion& v) {
    return std::to_string(v.Major) + "." + std::to_string(v.Minor) + "." + std::to_string(v.Build) + "." +
           std::to_string(v.Revision);
  };
  fileNumbers_ = numbers(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
  fileVersion_ = text(*fileNumbers_);
  productVersion_ = text(numbers(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
}

std::string CVerInfo::StringValue(const char* name) const {
  if (data_.empty()) return {};
  struct Translation {
    WORD Language;
    WORD CodePage;
  };
  Translation* translations = nullptr;
  UINT bytes = 0;
  char query[] = "\\VarFileInfo\\Translation";
  std::string block = "040904B0";
  std::string mutableData = data_;
  if (VerQueryValueA(mutableData.data(), query, reinterpret_cast<void**>(&translations), &bytes) &&
      translations != nullptr && bytes >= sizeof *translations) {
    char code[9];
    wsprintfA(code, "%04X%04X", translations->Language, translations->CodePage);
    block = code;
  }
  std::string path = "\\StringFileInfo\\" + block + "\\" + name;
  char* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(mutableData.data(), path.data(), reinterpret_cast<void**>(&value), &length) ||
      value == nullptr || length == 0) {
    return {};
  }
  return std::string(value, strnlen(value, length));
}

// ---- Windows version -------------------------------------------------------

COpSysInfo::COpSysInfo() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info)) return;
#pragma GCC diagnostic pop
  version_ = {info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber, info.dwPlatformId,
              std::string(info.szCSDVersion, strnlen(info.szCSDVersion, sizeof info.szCSDVersion))};
}

// ---- Single instance -------------------------------------------------------

bool Win32InstanceSystem::ClaimInstance() {
  mutex_.reset(CreateMutexA(nullptr, TRUE, instanceName_.c_str()));
  return mutex_ && GetLastError() != ERROR_ALREADY_EXISTS;
}

WindowRef Win32InstanceSystem::FindTopLevelWindow(const std::string& title) {
  return reinterpret_cast<WindowRef>(FindWindowA(nullptr, title.c_str()));
}

bool Win32InstanceSystem::IsMinimised(WindowRef window) { return IsIconic(reinterpret_cast<HWND>(window)) != FALSE; }

void Win32InstanceSystem::Restore(WindowRef window) { OpenIcon(reinterpret_cast<HWND>(window)); }

void Win32InstanceSystem::BringToFront(WindowRef window) { SetForegroundWindow(reinterpret_cast<HWND>(window)); }

// ---- Paths -----------------------------------------------------------------

std::string ProgramFile() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, length < sizeof path ? length : 0);
}

std::string FolderOf(const std::string& path) {
  const std::size_t end = path.find_last_of('\\');
  return end == std::string::npos ? std::string() : path.substr(0, end);
}

std::string CurrentFolder() {
  char folder[MAX_PATH];
  const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
  return std::string(folder, length < sizeof folder ? length : 0);
}

}  // namespace quax

namespace quax {

namespace {
std::string& Title() {
  static std::string title;
  return title;
}
}  // namespace

const std::string& ProgramTitle() { return Title(); }
void SetProgramTitle(std::string title) { Title() = std::move(title); }

void ShowHelpOrWhyNot(HWND owner) {
  CQuaxHelp& help = ProgramHelp();
  help.SetHelpTopic("quax_admin");
  if (!help.ShowHelp()) {
    MessageBoxA(owner, help.LastErrorMessage().c_str(), ProgramTitle().c_str(), MB_OK | MB_ICONERROR);
  }
}

}  // namespace quax
