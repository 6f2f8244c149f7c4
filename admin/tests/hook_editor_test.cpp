#include "hook_editor.h"

#include <gtest/gtest.h>

#include "control_ids.h"
#include "fake_form.h"

namespace quax {
namespace {

using test::ExpectUntouchedSavesChangeNothing;
using test::FakeForm;
using test::FakeStore;
using test::FakeSystem;
using test::StoredKey;

constexpr char kAppInit[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs";
constexpr char kLoadAppInit[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\LoadAppInit_DLLs";
constexpr char kTurnedOn[] = "SOFTWARE\\QUAX\\Admin\\TurnedOnLoadAppInit_DLLs";
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

TEST_F(HookEditor, AccountingIsOnExactlyWhenTheCollectorAccounts) {
  // Missing: the in-process collector's default of one minute.
  store.Set("LogFilePath", "C:\\Logs");
  Load();
  EXPECT_TRUE(form.Checked(IDC_chkEnableIntervalAccounting));
  EXPECT_EQ(form.Text(IDC_txtAccountingInterval), "1");
  EXPECT_EQ(form.Selection(IDC_cmbTimeScaleAccounting), 1);
  EXPECT_TRUE(form.Enabled(IDC_txtAccountingInterval));
  EXPECT_TRUE(form.Enabled(IDC_cmbTimeScaleAccounting));

  // 0 and below: end records only.
  store.Set("AccountingInterval", "0");
  Load();
  EXPECT_FALSE(form.Checked(IDC_chkEnableIntervalAccounting));
  EXPECT_EQ(form.Text(IDC_txtAccountingInterval), "0");
  EXPECT_FALSE(form.Enabled(IDC_txtAccountingInterval));

  store.Set("AccountingInterval", "-120");
  Load();
  EXPECT_FALSE(form.Checked(IDC_chkEnableIntervalAccounting));
  EXPECT_EQ(form.Text(IDC_txtAccountingInterval), "2");
  EXPECT_EQ(form.Selection(IDC_cmbTimeScaleAccounting), 1);
  EXPECT_FALSE(form.Enabled(IDC_txtAccountingInterval));
  EXPECT_FALSE(form.Enabled(IDC_cmbTimeScaleAccounting));

  // The collector reads the leading number of any text.
  store.Set("AccountingInterval", "15s");
  Load();
  EXPECT_TRUE(form.Checked(IDC_chkEnableIntervalAccounting));
  EXPECT_EQ(form.Text(IDC_txtAccountingInterval), "15");
  EXPECT_EQ(form.Selection(IDC_cmbTimeScaleAccounting), 0);
  store.Set("AccountingInterval", "-3600 s");
  Load();
  EXPECT_FALSE(form.Checked(IDC_chkEnableIntervalAccounting));
  EXPECT_EQ(form.Text(IDC_txtAccountingInterval), "1");
  EXPECT_EQ(form.Selection(IDC_cmbTimeScaleAccounting), 2);

  form.SetChecked(IDC_chkEnableIntervalAccounting, true);
  editor.OnEnableAccountingClicked();
  EXPECT_TRUE(form.Enabled(IDC_btnApply));
  EXPECT_TRUE(form.Enabled(IDC_txtAccountingInterval));
  EXPECT_TRUE(form.Enabled(IDC_cmbTimeScaleAccounting));
}

TEST_F(HookEditor, MissingValuesShowWhatTheCollectorUsesInstead) {
  // Without the key, and with a key that holds none of the form's values.
  for (const bool keyExists : {false, true}) {
    store.values.clear();
    if (keyExists) store.Set("SamplingInterval", "5");
    Load();
    EXPECT_EQ(form.Text(IDC_txtLogFilePath), "") << keyExists;
    EXPECT_EQ(form.Text(IDC_txtLogFilePrefix), "QUAXProcessLog-") << keyExists;
    EXPECT_TRUE(form.Checked(IDC_chkEnableIntervalAccounting)) << keyExists;
    EXPECT_EQ(form.Text(IDC_txtAccountingInterval), "1") << keyExists;
    EXPECT_EQ(form.Selection(IDC_cmbTimeScaleAccounting), 1) << keyExists;
    EXPECT_TRUE(form.Checked(IDC_chkUseLocalTime)) << keyExists;
    EXPECT_FALSE(form.Enabled(IDC_btnApply)) << keyExists;
  }
  // An empty prefix names the files like a missing one.
  store.Set("LogFilePrefix", "");
  Load();
  EXPECT_EQ(form.Text(IDC_txtLogFilePrefix), "QUAXProcessLog-");
  ASSERT_TRUE(editor.SaveSettings());
  EXPECT_EQ(store.Get("LogFilePrefix"), "QUAXProcessLog-");
  EXPECT_EQ(store.Get("AccountingInterval"), "60");
}

TEST_F(HookEditor, SavingAnUntouchedFormChangesNothingTheCollectorDoes) {
  const std::vector<StoredKey> keys = {
      {{"LogFilePath", "C:\\Logs"}},
      {{"AccountingInterval", "0"}, {"LogFilePrefix", ""}},
      {{"AccountingInterval", "15s"}, {"UseLocalTime", "Y"}, {"WriteIntervalEndRecords", "yes"}},
      {{"AccountingInterval", "99999999999"}},
      {{"AccountingInterval", "-99999999999"}},
      {{"AccountingInterval", "abc"}, {"LogFileExtension", ".csv"}, {"LogFileFieldDelimiter", "44"}},
  };
  ExpectUntouchedSavesChangeNothing(store, form, SettingsReader::InProcess, keys, [&] { Load(); },
                                    [&] { editor.OnOk(); });
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

TEST_F(HookEditor, SavesInOrderAndRegistersTheCollectorLastWithLoadingOn) {
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
                           "write LoadAppInit_DLLs=dword:1",
                           "write TurnedOnLoadAppInit_DLLs=Yes",
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
  // Loading stays on for the libraries still listed.
  EXPECT_EQ(store.numbers[kLoadAppInit], 1u);
  EXPECT_EQ(store.values[kTurnedOn], "Yes");
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

TEST_F(HookEditor, WhatTheCollectorCannotUseIsRefusedBeforeAnythingIsWritten) {
  struct Refusal {
    int Box;
    const char* Typed;
    int Scale;
    const char* Message;
    const char* Left;  // the box's text afterwards
  };
  const Refusal refusals[] = {
      {IDC_txtAccountingInterval, "35791395", 1, "Accounting Interval cannot be more than 2147483647 seconds.",
       "35791395"},
      // Enter saves without leaving the box: its rule holds all the same.
      {IDC_txtAccountingInterval, "0", 1, "Accounting Interval cannot be less than 1 second.", "1"},
      {IDC_txtAccountingInterval, "-5", 2, "Accounting Interval cannot be less than 1 second.", "1"},
      {IDC_txtLogFilePath, "RelLogs", 0,
       "The log file path 'RelLogs' is not a full path (such as C:\\QUAX\\Logs). Give the whole path, or leave "
       "the box empty for the default folder.",
       "RelLogs"},
      {IDC_txtLogFilePrefix, "", 0, "The log file prefix is 260 characters long; the collectors use at most 259.",
       nullptr},
  };
  for (const Refusal& refusal : refusals) {
    form = FakeForm();
    Load();
    form.SetChecked(IDC_chkEnableIntervalAccounting, true);
    const std::string typed = refusal.Left != nullptr ? refusal.Typed : std::string(260, 'x');
    form.SetText(refusal.Box, typed);
    form.SetSelection(IDC_cmbTimeScaleAccounting, refusal.Scale);
    editor.OnOk();
    EXPECT_FALSE(form.closed) << refusal.Message;
    ASSERT_EQ(form.messages.size(), 1u) << refusal.Message;
    EXPECT_EQ(form.messages[0].Text, refusal.Message);
    EXPECT_EQ(form.messages[0].Caption, kHookEditorTitle);
    EXPECT_EQ(form.Text(refusal.Box), refusal.Left != nullptr ? refusal.Left : typed);
    EXPECT_EQ(form.focused, refusal.Box);
    EXPECT_TRUE(store.log.empty()) << refusal.Message;
  }
  // Full paths pass: a drive's root and a share.
  form.SetText(IDC_txtLogFilePrefix, "P-");
  for (const char* path : {"C:\\", "\\\\server\\logs"}) {
    form.SetText(IDC_txtLogFilePath, path);
    form.SetText(IDC_txtAccountingInterval, "1");
    EXPECT_TRUE(editor.SaveSettings()) << path;
  }
}

TEST_F(HookEditor, BoxesTakeWhatTheCollectorUsesAndLongerStoredValuesAreShownWhole) {
  store.Set("LogFilePath", std::string(1103, 'p'));
  store.Set("LogFilePrefix", std::string(300, 'x'));
  Load();
  EXPECT_EQ(form.limits, (std::map<int, std::size_t>{
                             {IDC_txtLogFilePath, 259}, {IDC_txtLogFilePrefix, 259}, {IDC_txtAccountingInterval, 10}}));
  EXPECT_EQ(form.Text(IDC_txtLogFilePath), std::string(1103, 'p'));
  EXPECT_EQ(form.Text(IDC_txtLogFilePrefix), std::string(300, 'x'));
  ASSERT_EQ(form.messages.size(), 1u);
  EXPECT_EQ(form.messages[0].Icon, MessageIcon::Warning);
  EXPECT_EQ(form.messages[0].Text,
            "The stored LogFilePath is 1103 characters long. That is too long for the collectors to read: they run "
            "as if it were not set. The box shows the whole value: shorten it to 259 characters before saving."
            "\r\n\r\n"
            "The stored LogFilePrefix is 300 characters long. The collectors use only its first 259 characters. The "
            "box shows the whole value: shorten it to 259 characters before saving.");
  form.messages.clear();
  editor.OnOk();
  EXPECT_FALSE(form.closed);
  EXPECT_EQ(form.messages.at(0).Text, "The log file path is 1103 characters long; the collectors use at most 259.");
  EXPECT_TRUE(store.log.empty());
}

// On 64-bit Windows 32-bit processes read the 32-bit view and load from
// SysWOW64: the collector is registered there as well.
TEST_F(HookEditor, RegistersInBothViewsAndTurnsLoadingOffOnlyWhenItTurnedItOn) {
  store.wow32View = true;
  system.files["C:\\windows\\SysWOW64\\quaxcolhook.dll"] = true;
  store.values["WOW32:" + std::string(kAppInit)] = "other32.dll";
  store.numbers["WOW32:" + std::string(kLoadAppInit)] = 1;  // someone else's
  Load();
  form.SetChecked(IDC_chkAppInitDlls, true);
  ASSERT_TRUE(editor.SaveSettings());
  EXPECT_TRUE(form.messages.empty());
  EXPECT_EQ(AppInit(), "quaxcolhook.dll");
  EXPECT_EQ(store.values["WOW32:" + std::string(kAppInit)], "other32.dll,quaxcolhook.dll");
  EXPECT_EQ(store.numbers[kLoadAppInit], 1u);
  EXPECT_EQ(store.values[kTurnedOn], "Yes");
  EXPECT_EQ(store.values.count(std::string(kTurnedOn) + "32"), 0u);

  // Loaded as registered: saving again changes neither mark.
  Load();
  EXPECT_TRUE(form.Checked(IDC_chkAppInitDlls));
  store.log.clear();
  ASSERT_TRUE(editor.SaveSettings());
  EXPECT_EQ(store.log, (std::vector<std::string>{"write LogFilePath=", "write LogFilePrefix=QUAXProcessLog-",
                                                 "write AccountingInterval=60",
                                                 "write AppInit_DLLs=quaxcolhook.dll",
                                                 "write WOW32:AppInit_DLLs=other32.dll,quaxcolhook.dll",
                                                 "write UseLocalTime=Yes"}));

  // Unregistered: loading goes off where the list is empty and it was ours.
  form.SetChecked(IDC_chkAppInitDlls, false);
  ASSERT_TRUE(editor.SaveSettings());
  EXPECT_EQ(AppInit(), "");
  EXPECT_EQ(store.numbers[kLoadAppInit], 0u);
  EXPECT_EQ(store.values.count(kTurnedOn), 0u);
  EXPECT_EQ(store.values["WOW32:" + std::string(kAppInit)], "other32.dll");
  EXPECT_EQ(store.numbers["WOW32:" + std::string(kLoadAppInit)], 1u);

  // The 32-bit library missing is warned about like the 64-bit one.
  system.files.erase("C:\\windows\\SysWOW64\\quaxcolhook.dll");
  editor.CheckCollectorFile();
  ASSERT_EQ(form.messages.size(), 1u);
  EXPECT_NE(form.messages[0].Text.find("Path checked: 'C:\\windows\\SysWOW64\\quaxcolhook.dll'"), std::string::npos);
  EXPECT_NE(form.messages[0].Text.find("copied to the SysWOW64 directory."), std::string::npos);
}

TEST_F(HookEditor, SaysWhenWindowsWillNotLoadTheCollector) {
  const char* secureBoot = "SYSTEM\\CurrentControlSet\\Control\\SecureBoot\\State\\UEFISecureBootEnabled";
  const std::string signing = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\RequireSignedAppInit_DLLs";
  Load();
  EXPECT_EQ(form.Text(IDC_lblAppInitWarning), "");
  store.numbers[secureBoot] = 0;
  store.numbers[signing] = 0;
  Load();
  EXPECT_EQ(form.Text(IDC_lblAppInitWarning), "");

  store.wow32View = true;
  store.numbers["WOW32:" + signing] = 1;
  Load();
  EXPECT_EQ(form.Text(IDC_lblAppInitWarning),
            "Windows will not load the collector: RequireSignedAppInit_DLLs is 1, so Windows loads only signed "
            "libraries from AppInit_DLLs, and quaxcolhook.dll is not signed. The collector service records every "
            "process either way.");
  store.numbers[secureBoot] = 1;
  Load();
  EXPECT_EQ(form.Text(IDC_lblAppInitWarning),
            "Windows will not load the collector: Secure Boot is on, and while it is on Windows ignores "
            "AppInit_DLLs. The collector service records every process either way.");
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
