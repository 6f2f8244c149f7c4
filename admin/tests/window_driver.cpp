#include "window_driver.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <sstream>
#include <vector>

#include "process_control.h"

namespace quax::test {

RunningProgram::RunningProgram(const std::string& commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  std::string mutableLine = commandLine;
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    ADD_FAILURE() << "cannot start " << commandLine << ": " << GetLastError();
    return;
  }
  process_.reset(started.hProcess);
  unique_handle thread(started.hThread);
  processId_ = started.dwProcessId;
}

RunningProgram::~RunningProgram() {
  if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.get(), 99);
    WaitForSingleObject(process_.get(), 5000);
  }
}

DWORD RunningProgram::WaitForExit(DWORD milliseconds) const {
  if (!process_) return STILL_ACTIVE;
  WaitForSingleObject(process_.get(), milliseconds);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process_.get(), &code);
  return code;
}

std::string ProgramBeside(const char* fileName) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path, length);
  folder.resize(folder.find_last_of('\\') + 1);
  return "\"" + folder + fileName + "\"";
}

namespace {

struct WindowSearch {
  std::string Title;
  DWORD ProcessId;
  std::vector<HWND> Found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<WindowSearch*>(data);
  if (!IsWindowVisible(window)) return TRUE;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (search->ProcessId != 0 && owner != search->ProcessId) return TRUE;
  char title[512];
  const int length = GetWindowTextA(window, title, sizeof title);
  if (search->Title == std::string(title, length > 0 ? static_cast<std::size_t>(length) : 0)) {
    search->Found.push_back(window);
  }
  return TRUE;
}

std::vector<HWND> FindWindows(const std::string& title, DWORD processId) {
  WindowSearch search{title, processId, {}};
  EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

}  // namespace

bool WaitFor(const std::function<bool()>& condition, DWORD milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  while (!condition()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(50);
  }
  return true;
}

HWND WaitForWindow(const std::string& title, DWORD processId, DWORD milliseconds, HWND except) {
  HWND found = nullptr;
  WaitFor(
      [&] {
        for (const HWND window : FindWindows(title, processId)) {
          if (window != except) found = window;
        }
        return found != nullptr;
      },
      milliseconds);
  if (found != nullptr) Sleep(200);  // let it finish painting
  return found;
}

bool WaitUntilGone(HWND window, DWORD milliseconds) {
  return WaitFor([&] { return !IsWindow(window) || !IsWindowVisible(window); }, milliseconds);
}

int CountWindows(const std::string& title) { return static_cast<int>(FindWindows(title, 0).size()); }

std::string MessageBoxText(HWND box) { return Text(box, 0xFFFF); }

void Click(HWND dialog, int control) { PostMessageA(GetDlgItem(dialog, control), BM_CLICK, 0, 0); }

std::string Text(HWND dialog, int control) {
  char text[4096];
  const LRESULT length =
      SendMessageA(GetDlgItem(dialog, control), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

void Type(HWND dialog, int control, const std::string& text) {
  SendMessageA(GetDlgItem(dialog, control), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void TypeCharacter(HWND dialog, int control, char character) {
  SendMessageA(GetDlgItem(dialog, control), WM_CHAR, static_cast<unsigned char>(character), 1);
}

bool Checked(HWND dialog, int control) {
  return SendMessageA(GetDlgItem(dialog, control), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool Enabled(HWND dialog, int control) { return IsWindowEnabled(GetDlgItem(dialog, control)) != FALSE; }

void Select(HWND dialog, int control, int index) {
  const HWND list = GetDlgItem(dialog, control);
  SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(control, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

int Selection(HWND dialog, int control) {
  return static_cast<int>(SendMessageA(GetDlgItem(dialog, control), CB_GETCURSEL, 0, 0));
}

std::string SelectedText(HWND dialog, int control) {
  const HWND list = GetDlgItem(dialog, control);
  const LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
  if (index < 0) return "<none>";
  // Wine hands list texts to another process as Unicode whatever was asked.
  wchar_t wide[256];
  const LRESULT length = SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(wide));
  if (length <= 0 || length >= 256) return {};
  char text[512];
  const int converted =
      WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(length), text, sizeof text, nullptr, nullptr);
  return std::string(text, converted > 0 ? static_cast<std::size_t>(converted) : 0);
}

void PressKey(HWND dialog, int control, int virtualKey) {
  const HWND target = GetDlgItem(dialog, control);
  PostMessageA(target, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 1);
  PostMessageA(target, WM_KEYUP, static_cast<WPARAM>(virtualKey), 0xC0000001);
}

void ChooseMenu(HWND window, int command) { PostMessageA(window, WM_COMMAND, MAKEWPARAM(command, 0), 0); }

HWND FocusedControl(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

std::string StatusText(HWND dialog, int statusBar) {
  const HWND bar = GetDlgItem(dialog, statusBar);
  char text[512];
  // A status bar's window text is the text of its first part.
  const LRESULT length = SendMessageA(bar, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

void Screenshot(HWND window, const std::string& name) {
  char folder[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("QUAX_SCREENSHOTS", folder, sizeof folder);
  if (length == 0 || length >= sizeof folder) return;
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(300);
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return;
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  unique_gdi_object bitmap(CreateCompatibleBitmap(screen, width, height));
  const HGDIOBJ previous = SelectObject(memory, bitmap.get());
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, previous);
  BITMAPINFOHEADER header{sizeof header, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  const int stride = (width * 3 + 3) & ~3;
  std::vector<char> pixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
  GetDIBits(memory, static_cast<HBITMAP>(bitmap.get()), 0, static_cast<UINT>(height), pixels.data(),
            reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof file + sizeof header + pixels.size()), 0, 0,
                        static_cast<DWORD>(sizeof file + sizeof header)};
  const std::string path = std::string(folder) + "\\" + name + ".bmp";
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&header, sizeof header, 1, out);
    std::fwrite(pixels.data(), 1, pixels.size(), out);
    std::fclose(out);
  }
}

std::string MachineValue(const char* subKey, const char* name) {
  char text[2048];
  DWORD size = sizeof text;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, subKey, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
    return "<missing>";
  }
  return text;
}

void SetMachineValue(const char* subKey, const char* name, const std::string& text) {
  RegSetKeyValueA(HKEY_LOCAL_MACHINE, subKey, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

long long MachineNumber(const char* subKey, const char* name) {
  DWORD number = 0;
  DWORD size = sizeof number;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, subKey, name, RRF_RT_REG_DWORD, nullptr, &number, &size) != ERROR_SUCCESS) {
    return -1;
  }
  return number;
}

void SetMachineNumber(const char* subKey, const char* name, DWORD number) {
  RegSetKeyValueA(HKEY_LOCAL_MACHINE, subKey, name, REG_DWORD, &number, sizeof number);
}

void DeleteMachineValue(const char* subKey, const char* name) { RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, subKey, name); }

void DeleteMachineTree(const char* subKey) { RegDeleteTreeA(HKEY_LOCAL_MACHINE, subKey); }

std::string CollectorReads(SettingsReader reader) {
  CProcessControlRegistry settings(reader);
  settings.ReadSettings();
  const SYSTEMTIME& time = *settings.GetAccountingIntervalTime();
  std::ostringstream out;
  out << "path '" << settings.GetLogFilePath() << "', prefix '" << settings.GetLogFilePrefix() << "', extension '"
      << settings.GetLogFileExtension() << "', delimiter " << int{settings.GetLogFileFieldDelimiter()}
      << ", local time " << settings.GetUseLocalTime() << ", accounting interval " << settings.GetAccountingInterval()
      << ", at time " << settings.GetUseAccountingIntervalTime() << " " << time.wHour << ":" << time.wMinute
      << ", command '" << settings.GetAccountingIntervalCommand() << "', end records "
      << settings.GetWriteIntervalEndRecords() << ", sampling interval " << settings.GetSamplingInterval();
  return out.str();
}

}  // namespace quax::test
