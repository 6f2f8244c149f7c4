// The input box, shown by this process on a thread of its own and driven
// from the test's thread.
#include <gtest/gtest.h>

#include <thread>

#include "control_ids.h"
#include "input_box.h"
#include "shell_components.h"
#include "window_driver.h"

namespace quax {
namespace {

using namespace quax::test;

TEST(InputBoxWindow, ReturnsTheEditedValueOrTheCancel) {
  SetProgramTitle("QUAX Input Test");
  CFInputBox box;
  box.SetTitle("Rename");
  box.SetPrompt("New name:");
  box.SetValue("old name");
  box.SetMaxValueLength(12);
  std::jthread shown([&] { box.ShowForm(nullptr); });
  // Whatever fails below, the prompt is closed so that its thread ends.
  struct CloseOnExit {
    CFInputBox& Box;
    ~CloseOnExit() {
      if (HWND open = FindWindowA(nullptr, "Rename")) PostMessageA(open, WM_COMMAND, IDCANCEL, 0);
    }
  } closeOnExit{box};
  HWND window = WaitForWindow("Rename", GetCurrentProcessId());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(Text(window, IDC_lblPrompt), "New name:");
  EXPECT_EQ(Text(window, IDC_txtValue), "old name");
  DWORD start = 0, end = 0;
  SendMessageA(GetDlgItem(window, IDC_txtValue), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
               reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(end, 8u);  // shown fully selected
  Screenshot(window, "input-box");

  // F1: the help library is not part of this system.
  PostMessageA(GetDlgItem(window, IDC_txtValue), WM_KEYDOWN, VK_F1, 0);
  HWND why = WaitForWindow("QUAX Input Test", GetCurrentProcessId());
  ASSERT_NE(why, nullptr);
  EXPECT_EQ(MessageBoxText(why).rfind("Unable to start help: the help library QuaxHelp.dll could not be loaded: ", 0), 0u)
      << MessageBoxText(why);
  Screenshot(why, "input-box-help-missing");
  Click(why, IDOK);
  ASSERT_TRUE(WaitUntilGone(why));

  SendMessageA(GetDlgItem(window, IDC_txtValue), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("a name far too long"));
  Click(window, IDOK);
  shown.join();
  EXPECT_FALSE(box.UserCancel());
  EXPECT_EQ(box.Value(), "a name far too long");  // WM_SETTEXT passes the typing limit

  std::jthread again([&] { box.ShowForm(nullptr); });
  window = WaitForWindow("Rename", GetCurrentProcessId());
  ASSERT_NE(window, nullptr);
  Click(window, IDCANCEL);
  again.join();
  EXPECT_TRUE(box.UserCancel());
}

}  // namespace
}  // namespace quax
