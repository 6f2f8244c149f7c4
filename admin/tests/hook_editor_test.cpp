#include "hook_editor.h"

#include <gtest/gtest.h>

#include "control_ids.h"
#include "fake_form.h"

namespace quax {
namespace {

using test::FakeForm;
using test::FakeStore;
using test::FakeSystem;

constexpr char kAppInit[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs";
constexpr char kInstalledLibrary[] = "C:\\windows\\System32\\quaxcolhook.dll";

class HookEditor : public ::testing::Test {
 protected:
  void SetUp() override {
    system.environment["SystemRoot"] = "C:\\windows";
    system.files[kInstalledLibrary] = true;
  }
  void Load() {
    editor.Load();
    form.status.clear();
  }
  std::string AppInit() const {
    const auto found = store.values.find(kAppInit);
    return found == store.values.end() ? "<missing>" : found->second;
  }

  FakeForm form;
  FakeStore store;
  FakeSystem system;
  HookSettingsEditor editor{form, store, system};
};

TEST_F(HookEditor, LoadsTheInProcessCollectorsSettingsClean) {
  store.Set("LogFilePath", "C:\\Logs");
  store.Set("LogFilePrefix", "Hook-");
  store.Set("AccountingInterval", "5400");
  store.Set("UseLocalTime", "no");
  store.values[kAppInit] = "a.dll,QUAXCOLHOOK.DLL";
  Load();
  EXPECT_EQ(form.lists[IDC_cmbTimeScaleAccounting], (std::vector<std::string>{"Seconds", "Minutes", "Hours"}));
  EXPECT_EQ(form.Text(IDC_txtLogFilePath), "C:\\Logs");
  EXPECT_EQ(form.Text(IDC_txtLogFilePrefix), "Hook-");
  EXPECT_TRUE(form.Checked(IDC_chkEnableIntervalAccounting));
  EXPECT_EQ(form.Text(IDC_txtAccountingInterval), "90");
  EXPECT_EQ(form.Selection(IDC_cmbTimeScaleAccounting), 1);
  EXPECT_TRUE(form.Enabled(IDC_txtAccountingInterval));
  EXPECT_TRUE(form.Checked(IDC_chkAppInitDlls));
  EXPECT_FALSE(form.Checked(IDC_chkUseLocalTime));
  EXPECT_FALSE(form.Enabled(IDC_btnApply));
  EXPECT_TRUE(form.messages.empty());  // the library is in place
}

TEST_F(HookEditor, AccountingIntervalSignDecidesTheCheckBox) {
  store.Set("AccountingInterval", "0");  // enabled "0" "Hours"; the collector still reads 0 as off
  Load();
  EXPECT_TRUE(form.Checked(IDC_chkEnableIntervalAccounting));
  EXPECT_EQ(form.Text(IDC_txtAccountingInterval), "0");
  EXPECT_EQ(form.Selection(IDC_cmbTimeScaleAccounting), 2);

  store.Set("AccountingInterval", "-120");
  Load();
  EXPECT_FALSE(form.Checked(IDC_chkEnableIntervalAccounting));
  EXPECT_EQ(form.Text(IDC_txtAccountingInterval), "2");
  EXPECT_FALSE(form.Enabled(IDC_txtAccountingInterval));
  EXPECT_FALSE(form.Enabled(IDC_cmbTimeScaleAccounting));

  store.values.clear();
  Load();
  EXPECT_FALSE(form.Checked(IDC_chkEnableIntervalAccounting));
  EXPECT_EQ(form.Text(IDC_txtAccountingInterval), "15");
  EXPECT_EQ(form.Selection(IDC_cmbTimeScaleAccounting), 1);

  form.SetChecked(IDC_chkEnableIntervalAccounting, true);
  editor.OnEnableAccountingClicked();
  EXPECT_TRUE(form.Enabled(IDC_btnApply));
  EXPECT_TRUE(form.Enabled(IDC_txtAccountingInterval));
  EXPECT_TRUE(form.Enabled(IDC_cmbTimeScaleAccounting));
}

TEST_F(HookEditor, UseLocalTimeIsReadLikeTheCollectorReadsIt) {
  for (const char* yes : {"YES", "Yes", "yes"}) {
    store.Set("UseLocalTime", yes);
    Load();
    EXPECT_TRUE(form.Checked(IDC_chkUseLocalTime)) << yes;
  }
  for (const char* no : {"Y", "No", ""}) {
    store.Set("UseLocalTime", no);
    Load();
    EXPECT_FALSE(form.Checked(IDC_chkUseLocalTime)) << no;
  }
  // Missing: the collector writes local time, and saving keeps it that way.
  store.values.clear();
  Load();
  EXPECT_TRUE(form.Checked(IDC_chkUseLocalTime));
  ASSERT_TRUE(editor.SaveSettings());
  EXPECT_EQ(store.Get("UseLocalTime"), "Yes");
}

TEST_F(HookEditor, SavesFiveValuesInOrderAndRegistersTheCollectorLast) {
  store.values[kAppInit] = "a.dll, b.dll";
  Load();
  form.SetText(IDC_txtLogFilePath, "C:\\Logs\\\\");
  form.SetText(IDC_txtLogFilePrefix, "P-");
  form.SetChecked(IDC_chkEnableIntervalAccounting, true);
  form.SetText(IDC_txtAccountingInterval, "2");
  form.SetSelection(IDC_cmbTimeScaleAccounting, 2);
  form.SetChecked(IDC_chkAppInitDlls, true);
  form.SetChecked(IDC_chkUseLocalTime, false);
  editor.OnEdit();
  EXPECT_TRUE(editor.OnApply());
  EXPECT_EQ(store.log, (std::vector<std::string>{
                           "write LogFilePath=C:\\Logs",
                           "write LogFilePrefix=P-",
                           "write AccountingInterval=7200",
                           "write AppInit_DLLs=a.dll,b.dll,quaxcolhook.dll",
                           "write UseLocalTime=No",
                       }));
  EXPECT_EQ(form.status, (std::vector<std::string>{"Saving configuration...", "Ready."}));
  EXPECT_FALSE(form.Enabled(IDC_btnApply));
  EXPECT_EQ(form.focused, IDC_txtLogFilePath);

  // Unregistering removes it again; the other entries keep their order.
  form.SetChecked(IDC_chkAppInitDlls, false);
  form.SetChecked(IDC_chkEnableIntervalAccounting, false);
  form.SetText(IDC_txtAccountingInterval, "");
  editor.OnOk();
  EXPECT_EQ(AppInit(), "a.dll,b.dll");
  EXPECT_EQ(store.Get("AccountingInterval"), "-216000");  // an empty box is 60 of its unit
  EXPECT_TRUE(form.closed);
}

TEST_F(HookEditor, MissingLibraryIsWarnedAboutAtLoadAndAtEachSaveButSaved) {
  system.files.clear();
  store.values[kAppInit] = "quaxcolhook.dll";
  Load();
  ASSERT_EQ(form.messages.size(), 1u);
  EXPECT_EQ(form.messages[0].Caption, "Missing Collector File");
  EXPECT_EQ(form.messages[0].Icon, MessageIcon::Error);
  EXPECT_EQ(form.messages[0].Text,
            "Unable to locate the process collector file in the system path.\r\n\r\n"
            "Process collection will not occur.\r\n\r\n"
            "Path checked: 'C:\\windows\\System32\\quaxcolhook.dll'\r\n\r\n"
            "Please ensure that quaxcolhook.dll is copied to the System32 directory.");
  ASSERT_TRUE(editor.SaveSettings());
  EXPECT_EQ(form.messages.size(), 2u);
  ASSERT_TRUE(editor.SaveSettings());
  EXPECT_EQ(form.messages.size(), 3u);
  EXPECT_EQ(AppInit(), "quaxcolhook.dll");

  // Without SystemRoot the path checked is empty.
  system.environment.clear();
  editor.CheckCollectorFile();
  EXPECT_NE(form.messages.back().Text.find("Path checked: ''"), std::string::npos);
  // Not registered: no check at all.
  form.messages.clear();
  store.values[kAppInit] = "other.dll";
  Load();
  form.SetChecked(IDC_chkAppInitDlls, false);
  ASSERT_TRUE(editor.SaveSettings());
  EXPECT_TRUE(form.messages.empty());
}

TEST_F(HookEditor, DeniedAppInitListLeavesEverythingAsItWas) {
  store.Set("LogFilePath", "C:\\Old");
  store.values[kAppInit] = "a.dll";
  Load();
  form.SetText(IDC_txtLogFilePath, "C:\\New");
  form.SetChecked(IDC_chkAppInitDlls, true);
  editor.OnEdit();
  store.failWrites["AppInit_DLLs"] = true;
  editor.OnOk();
  EXPECT_FALSE(form.closed);
  EXPECT_EQ(store.Get("LogFilePath"), "C:\\Old");
  EXPECT_FALSE(store.Get("LogFilePrefix").has_value());
  EXPECT_FALSE(store.Get("AccountingInterval").has_value());
  EXPECT_EQ(AppInit(), "a.dll");
  EXPECT_TRUE(form.Enabled(IDC_btnApply));
  EXPECT_EQ(form.LastStatus(), "");
}

TEST_F(HookEditor, IntervalTooLargeIsRefusedWithAMessage) {
  Load();
  form.SetChecked(IDC_chkEnableIntervalAccounting, true);
  form.SetText(IDC_txtAccountingInterval, "35791395");
  form.SetSelection(IDC_cmbTimeScaleAccounting, 1);
  EXPECT_FALSE(editor.OnApply());
  ASSERT_EQ(form.messages.size(), 1u);
  EXPECT_EQ(form.messages[0].Text, "Accounting Interval cannot be more than 2147483647 seconds.");
  EXPECT_EQ(form.messages[0].Caption, kHookEditorTitle);
  EXPECT_TRUE(store.log.empty());
  EXPECT_EQ(form.focused, IDC_txtAccountingInterval);
}

TEST_F(HookEditor, CancelAsksOnlyWithUnsavedChanges) {
  Load();
  editor.OnCancel();
  EXPECT_TRUE(form.messages.empty());
  EXPECT_TRUE(form.closed);
  EXPECT_TRUE(store.log.empty());

  form.closed = false;
  form.SetText(IDC_txtLogFilePrefix, "X-");
  editor.OnEdit();
  form.answers = {MessageAnswer::No};
  editor.OnCancel();
  ASSERT_EQ(form.messages.size(), 1u);
  EXPECT_EQ(form.messages[0].Text, "Save changes before exiting?");
  EXPECT_EQ(form.messages[0].Caption, "Save Changes");
  EXPECT_EQ(form.messages[0].Buttons, MessageButtons::YesNo);
  EXPECT_TRUE(form.closed);
  EXPECT_TRUE(store.log.empty());

  form.closed = false;
  form.answers = {MessageAnswer::Yes};
  editor.OnCancel();
  EXPECT_TRUE(form.closed);
  EXPECT_EQ(store.Get("LogFilePrefix"), "X-");
}

TEST_F(HookEditor, IntervalBoxRulesApply) {
  Load();
  EXPECT_FALSE(editor.OnIntervalKey('-'));
  EXPECT_EQ(form.beeps, 1);
  form.SetText(IDC_txtAccountingInterval, "abc");
  editor.OnIntervalBoxLeft(IDC_txtAccountingInterval);
  EXPECT_EQ(form.Text(IDC_txtAccountingInterval), "1");
}

}  // namespace
}  // namespace quax
