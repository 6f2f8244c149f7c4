// Finds a program's main window by its exact title, prints the image path
// of the process that shows it, closes the window and waits for the process
// to end. The installer's tests start a program through its Start-menu
// shortcut and check with this that the installed program came up.
//   quax_window_probe TITLE [--decline CAPTION] [--seconds N]
// --decline: a message box with this caption that the program shows when
// asked to close (a question whether to save) is answered No; its text is
// printed. Output lines: "image <path>", "declined <text>".
// Exit code 0 when the window came, closed and its process ended with 0;
// 1 when no such window came within N seconds (default 20); 2 when the
// program did not end within 10 seconds of being closed, or ended with
// another code; 3 for wrong arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "unique_handle.h"
#include "window_driver.h"

namespace {

struct Arguments {
  std::string Title;
  std::string DeclineCaption;
  long Seconds = 20;
};

bool Parse(int argc, char** argv, Arguments& parsed) {
  if (argc < 2) return false;
  parsed.Title = argv[1];
  for (int index = 2; index < argc; index += 2) {
    if (index + 1 >= argc) return false;
    const std::string_view option = argv[index];
    if (option == "--decline") {
      parsed.DeclineCaption = argv[index + 1];
    } else if (option == "--seconds") {
      char* end = nullptr;
      parsed.Seconds = std::strtol(argv[index + 1], &end, 10);
      if (*end != '\0' || parsed.Seconds <= 0 || parsed.Seconds > 600) return false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  if (!Parse(argc, argv, arguments)) {
    std::fprintf(stderr, "usage: quax_window_probe TITLE [--decline CAPTION] [--seconds 1..600]\n");
    return 3;
  }
  const HWND window =
      quax::test::WaitForWindow(arguments.Title, 0, static_cast<DWORD>(arguments.Seconds) * 1000);
  if (window == nullptr) {
    std::fprintf(stderr, "no window titled \"%s\" within %ld s\n", arguments.Title.c_str(), arguments.Seconds);
    return 1;
  }
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  quax::unique_handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId));
  if (!process) {
    std::fprintf(stderr, "cannot open the process of \"%s\": %lu\n", arguments.Title.c_str(), GetLastError());
    return 2;
  }
  char image[MAX_PATH] = "";
  DWORD imageLength = sizeof image;
  if (!QueryFullProcessImageNameA(process.get(), 0, image, &imageLength)) imageLength = 0;
  std::printf("image %s\n", std::string(image, imageLength).c_str());

  PostMessageA(window, WM_CLOSE, 0, 0);
  bool declined = false;
  const ULONGLONG deadline = GetTickCount64() + 10000;
  while (WaitForSingleObject(process.get(), 100) == WAIT_TIMEOUT) {
    if (GetTickCount64() >= deadline) {
      std::fprintf(stderr, "\"%s\" did not end after WM_CLOSE\n", arguments.Title.c_str());
      return 2;
    }
    if (declined || arguments.DeclineCaption.empty()) continue;
    if (const HWND box = quax::test::WaitForWindow(arguments.DeclineCaption, processId, 0)) {
      std::printf("declined %s\n", quax::test::MessageBoxText(box).c_str());
      quax::test::Click(box, IDNO);
      declined = true;
    }
  }
  DWORD exitCode = STILL_ACTIVE;
  GetExitCodeProcess(process.get(), &exitCode);
  if (exitCode != 0) {
    std::fprintf(stderr, "\"%s\" ended with %lu\n", arguments.Title.c_str(), static_cast<unsigned long>(exitCode));
    return 2;
  }
  return 0;
}
