#include "service_editor.h"

#include <gtest/gtest.h>

#include "control_ids.h"
#include "fake_form.h"

namespace quax {
namespace {

using test::ExpectUntouchedSavesChangeNothing;
using test::FakeForm;
using test::FakeService;
using test::FakeStore;
using test::FakeSystem;
using test::StoredKey;

class ServiceEditor : public ::testing::Test {
 protected:
  void Load() {
    editor.Load();
    form.messages.clear();
    form.status.clear();
  }
  // A key with the given values (and a log folder that exists).
  void Stored(std::initializer_list<std::pair<const char*, const char*>> settings) {
    store.emptyKeys[kSettingsKey] = true;
    for (const auto& [name, text] : settings) store.Set(name, text);
  }
  void Type(int control, const char* text) {
    form.SetText(control, text);
    editor.OnEdit();
  }
  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& message : form.messages) texts.push_back(message.Text);
    return texts;
  }

  FakeForm form;
  FakeStore store;
  FakeSystem system;
  FakeService service;
  ServiceSettingsEditor editor{form, store, system, service};
};

TEST_F(ServiceEditor, NewInstallationShowsUnsavedDefaults) {
  store.values["SOFTWARE\\QUAX\\Admin\\InstallLocation"] = "C:\\Program Files\\QUAX";
  Load();
  EXPECT_EQ(form.lists[IDC_cmbTimeScaleSampling], (std::vector<std::string>{"Seconds", "Minutes", "Hours"}));
  EXPECT_EQ(form.lists[IDC_cmbTimeScaleAccounting], (std::vector<std::string>{"Seconds", "Minutes", "Hours"}));
  EXPECT_EQ(form.Text(IDC_txtLogFilePath), "C:\\Program Files\\QUAX\\QUAXWinProcessLogs");
  EXPECT_EQ(form.Text(IDC_txtLogFilePrefix), "QUAXProcessLog-");
  EXPECT_TRUE(form.Checked(IDC_chkEnableIntervalAccounting));
  EXPECT_TRUE(form.Checked(IDC_optWriteAccountingRecords0));
  EXPECT_FALSE(form.Checked(IDC_optWriteAccountingRecords1));
  EXPECT_EQ(form.Text(IDC_txtAccountingInterval), "24");
  EXPECT_EQ(form.Selection(IDC_cmbTimeScaleAccounting), 2);
  EXPECT_EQ(form.Text(IDC_txtSamplingInterval), "1");
  EXPECT_EQ(form.Selection(IDC_cmbTimeScaleSampling), 0);
  EXPECT_EQ(form.Text(IDC_txtAccountingIntervalCommand), "");
  EXPECT_FALSE(form.Checked(IDC_chkWriteIntervalEndRecords));
  EXPECT_TRUE(form.Checked(IDC_chkUseLocalTime));
  EXPECT_EQ(form.Time(IDC_dtpAccountingInterval).Hour, 0);
  EXPECT_TRUE(form.Enabled(IDC_txtAccountingInterval));
  EXPECT_FALSE(form.Enabled(IDC_dtpAccountingInterval));
  EXPECT_TRUE(form.Enabled(IDC_btnApply));  // the defaults can be saved at once
}

TEST_F(ServiceEditor, NewInstallationLogFolderFollowsInstallLocation) {
  store.values["SOFTWARE\\QUAX\\Admin\\InstallLocation"] = "D:\\QUAX\\";
  Load();
  EXPECT_EQ(form.Text(IDC_txtLogFilePath), "D:\\QUAX\\QUAXWinProcessLogs");
  // Without an installation the collector's own default is kept (empty),
  // not a folder in the root of the current drive.
  store.values.clear();
  Load();
  EXPECT_EQ(form.Text(IDC_txtLogFilePath), "");
}

TEST_F(ServiceEditor, StoredIntervalsShowInTheirLargestUnit) {
  const struct {
    const char* Stored;
    const char* Number;
    int Scale;
  } cases[] = {{"5400", "90", 1}, {"86400", "24", 2}, {"61", "61", 0}};
  for (const auto& c : cases) {
    Stored({{"AccountingInterval", c.Stored}, {"SamplingInterval", c.Stored}});
    Load();
    EXPECT_EQ(form.Text(IDC_txtAccountingInterval), c.Number) << c.Stored;
    EXPECT_EQ(form.Selection(IDC_cmbTimeScaleAccounting), c.Scale) << c.Stored;
    EXPECT_EQ(form.Text(IDC_txtSamplingInterval), c.Number) << c.Stored;
    EXPECT_EQ(form.Selection(IDC_cmbTimeScaleSampling), c.Scale) << c.Stored;
    EXPECT_TRUE(form.Checked(IDC_chkEnableIntervalAccounting));
    EXPECT_FALSE(form.Enabled(IDC_btnApply));
  }
  // The service samples at least every second, and reads the leading
  // number of any text.
  for (const char* stored : {"0", "-5", "abc"}) {
    Stored({{"SamplingInterval", stored}});
    Load();
    EXPECT_EQ(form.Text(IDC_txtSamplingInterval), "1") << stored;
    EXPECT_EQ(form.Selection(IDC_cmbTimeScaleSampling), 0) << stored;
  }
  Stored({{"SamplingInterval", "15s"}});
  Load();
  EXPECT_EQ(form.Text(IDC_txtSamplingInterval), "15");
  EXPECT_EQ(form.Selection(IDC_cmbTimeScaleSampling), 0);
}

TEST_F(ServiceEditor, NegativeAccountingIntervalLoadsDisabledAndIsRestoredWhenEnabled) {
  Stored({{"AccountingInterval", "-3600"}, {"LogFilePath", "C:\\Logs"}});
  system.folders["C:\\Logs"] = true;
  Load();
  EXPECT_FALSE(form.Checked(IDC_chkEnableIntervalAccounting));
  EXPECT_EQ(form.Text(IDC_txtAccountingInterval), "1");
  EXPECT_EQ(form.Selection(IDC_cmbTimeScaleAccounting), 2);
  for (const int control : {IDC_txtAccountingInterval, IDC_cmbTimeScaleAccounting, IDC_chkWriteIntervalEndRecords,
                            IDC_optWriteAccountingRecords0, IDC_optWriteAccountingRecords1,
                            IDC_dtpAccountingInterval, IDC_txtAccountingIntervalCommand, IDC_btnApply}) {
    EXPECT_FALSE(form.Enabled(control)) << control;
  }
  EXPECT_TRUE(form.Greyed(IDC_txtAccountingInterval));
  EXPECT_TRUE(form.Greyed(IDC_txtAccountingIntervalCommand));

  form.SetChecked(IDC_chkEnableIntervalAccounting, true);
  editor.EnableAccountingControls();
  EXPECT_TRUE(form.Enabled(IDC_btnApply));
  EXPECT_TRUE(form.Enabled(IDC_txtAccountingInterval));
  EXPECT_FALSE(form.Greyed(IDC_txtAccountingInterval));
  EXPECT_FALSE(form.Greyed(IDC_txtAccountingIntervalCommand));
  EXPECT_FALSE(form.Enabled(IDC_dtpAccountingInterval));
  editor.OnApply();
  EXPECT_EQ(store.Get("AccountingInterval"), "3600");
}

TEST_F(ServiceEditor, AccountingIntervalIsReadAsTheServiceReadsIt) {
  const struct {
    const char* Stored;  // null: missing
    bool Enabled;
    const char* Number;
    int Scale;
  } cases[] = {{nullptr, true, "24", 2}, {"15s", true, "15", 0}, {" +90", true, "90", 0},
               {"", false, "0", 2},      {"abc", false, "0", 2}, {"-99999999999", false, "2147483648", 0}};
  for (const auto& c : cases) {
    const char* name = c.Stored ? c.Stored : "<missing>";
    store.values.clear();
    Stored({{"LogFilePath", "C:\\Logs"}});
    if (c.Stored != nullptr) store.Set("AccountingInterval", c.Stored);
    Load();
    EXPECT_EQ(form.Checked(IDC_chkEnableIntervalAccounting), c.Enabled) << name;
    EXPECT_EQ(form.Enabled(IDC_txtAccountingInterval), c.Enabled) << name;
    EXPECT_EQ(form.Text(IDC_txtAccountingInterval), c.Number) << name;
    EXPECT_EQ(form.Selection(IDC_cmbTimeScaleAccounting), c.Scale) << name;
  }
}

TEST_F(ServiceEditor, MissingOrEmptyPrefixShowsTheOneTheServiceUses) {
  Stored({{"LogFilePath", "C:\\Logs"}});
  Load();
  EXPECT_EQ(form.Text(IDC_txtLogFilePrefix), "QUAXProcessLog-");
  Stored({{"LogFilePrefix", ""}});
  Load();
  EXPECT_EQ(form.Text(IDC_txtLogFilePrefix), "QUAXProcessLog-");
}

TEST_F(ServiceEditor, SavingAnUntouchedFormChangesNothingTheServiceDoes) {
  const std::vector<StoredKey> keys = {
      {},
      {{"SamplingInterval", "0"}, {"LogFilePrefix", ""}},
      {{"SamplingInterval", "-5"}, {"AccountingInterval", "15s"}},
      {{"SamplingInterval", "99999999999"}, {"AccountingInterval", "-60"}},
      {{"AccountingInterval", "-99999999999"}, {"UseLocalTime", "y"}},
      {{"AccountingInterval", "abc"}, {"WriteIntervalEndRecords", "yes"}},
      {{"UseAccountingIntervalTime", "YES"}, {"AccountingIntervalTime", "25:00"}},
      {{"UseAccountingIntervalTime", "yes"}, {"AccountingIntervalTime", "07.30"}},
  };
  ExpectUntouchedSavesChangeNothing(store, form, SettingsReader::Service, keys, [&] { Load(); },
                                    [&] { editor.OnOk(); });
}

TEST_F(ServiceEditor, FlagsAreReadLikeTheCollectorReadsThem) {
  // "YES" in any case is true for every flag, anything else false.
  for (const char* yes : {"YES", "Yes", "yes"}) {
    Stored({{"WriteIntervalEndRecords", yes}, {"UseLocalTime", yes}, {"UseAccountingIntervalTime", yes}});
    Load();
    EXPECT_TRUE(form.Checked(IDC_chkWriteIntervalEndRecords)) << yes;
    EXPECT_TRUE(form.Checked(IDC_chkUseLocalTime)) << yes;
    EXPECT_TRUE(form.Checked(IDC_optWriteAccountingRecords1)) << yes;
  }
  for (const char* no : {"No", "Y", "y", "1", "true", ""}) {
    Stored({{"WriteIntervalEndRecords", no}, {"UseLocalTime", no}, {"UseAccountingIntervalTime", no}});
    Load();
    EXPECT_FALSE(form.Checked(IDC_chkWriteIntervalEndRecords)) << no;
    EXPECT_FALSE(form.Checked(IDC_chkUseLocalTime)) << no;
    EXPECT_TRUE(form.Checked(IDC_optWriteAccountingRecords0)) << no;
  }
  // Missing: the collector's defaults (local time on, the others off).
  store.values.clear();
  Stored({{"LogFilePath", "C:\\Logs"}});
  Load();
  EXPECT_TRUE(form.Checked(IDC_chkUseLocalTime));
  EXPECT_FALSE(form.Checked(IDC_chkWriteIntervalEndRecords));
  EXPECT_TRUE(form.Checked(IDC_optWriteAccountingRecords0));
}

TEST_F(ServiceEditor, TimeOfDayModeShowsTheStoredTime) {
  Stored({{"AccountingInterval", "3600"}, {"UseAccountingIntervalTime", "Yes"}, {"AccountingIntervalTime", "23:45"},
          {"AccountingIntervalCommand", "cmd /c echo %QUAXDATE%"}});
  Load();
  EXPECT_TRUE(form.Checked(IDC_optWriteAccountingRecords1));
  EXPECT_FALSE(form.Checked(IDC_optWriteAccountingRecords0));
  EXPECT_EQ(form.Time(IDC_dtpAccountingInterval).Hour, 23);
  EXPECT_EQ(form.Time(IDC_dtpAccountingInterval).Minute, 45);
  EXPECT_TRUE(form.Enabled(IDC_dtpAccountingInterval));
  EXPECT_FALSE(form.Enabled(IDC_txtAccountingInterval));
  EXPECT_TRUE(form.Greyed(IDC_txtAccountingInterval));
  EXPECT_EQ(form.Text(IDC_txtAccountingIntervalCommand), "cmd /c echo %QUAXDATE%");

  // Times the collector would not read as written, or out of range: 00:00.
  for (const char* text : {"7:30", "25:00", "12:60"}) {
    Stored({{"UseAccountingIntervalTime", "Yes"}, {"AccountingIntervalTime", text}});
    Load();
    EXPECT_EQ(form.Time(IDC_dtpAccountingInterval).Hour, 0) << text;
    EXPECT_EQ(form.Time(IDC_dtpAccountingInterval).Minute, 0) << text;
  }
  // In interval mode the stored time is kept for the picker, and saving
  // leaves it as it was.
  Stored({{"UseAccountingIntervalTime", "No"}, {"AccountingIntervalTime", "06:15"}});
  Load();
  EXPECT_EQ(form.Time(IDC_dtpAccountingInterval).Hour, 6);
  EXPECT_EQ(form.Time(IDC_dtpAccountingInterval).Minute, 15);
  EXPECT_FALSE(form.Enabled(IDC_dtpAccountingInterval));
  ASSERT_TRUE(editor.SaveSettings());
  EXPECT_EQ(store.Get("AccountingIntervalTime"), "06:15");
}

TEST_F(ServiceEditor, ModeSelectionSwitchesBetweenIntervalAndTimePicker) {
  Stored({{"AccountingInterval", "3600"}});
  Load();
  editor.SelectAccountingMode(1);
  EXPECT_TRUE(form.Enabled(IDC_btnApply));
  EXPECT_FALSE(form.Checked(IDC_optWriteAccountingRecords0));
  EXPECT_FALSE(form.Enabled(IDC_txtAccountingInterval));
  EXPECT_FALSE(form.Enabled(IDC_cmbTimeScaleAccounting));
  EXPECT_TRUE(form.Greyed(IDC_cmbTimeScaleAccounting));
  EXPECT_TRUE(form.Enabled(IDC_dtpAccountingInterval));
  editor.SelectAccountingMode(0);
  EXPECT_FALSE(form.Checked(IDC_optWriteAccountingRecords1));
  EXPECT_TRUE(form.Enabled(IDC_txtAccountingInterval));
  EXPECT_FALSE(form.Greyed(IDC_cmbTimeScaleAccounting));
  EXPECT_FALSE(form.Enabled(IDC_dtpAccountingInterval));
}

TEST_F(ServiceEditor, SavesTheNineValuesInOrderAsText) {
  Stored({{"LogFilePath", "C:\\Logs"}, {"LogFileExtension", ".log"}, {"LogFileFieldDelimiter", "44"}});
  system.folders["C:\\Logs\\\\"] = true;
  Load();
  Type(IDC_txtLogFilePath, "C:\\Logs\\\\");
  Type(IDC_txtLogFilePrefix, "Proc-");
  form.SetChecked(IDC_chkEnableIntervalAccounting, true);
  editor.EnableAccountingControls();
  editor.SelectAccountingMode(1);
  form.SetTime(IDC_dtpAccountingInterval, {7, 5});
  Type(IDC_txtAccountingInterval, "2");
  form.SetSelection(IDC_cmbTimeScaleAccounting, 2);
  Type(IDC_txtAccountingIntervalCommand, "run.cmd");
  form.SetChecked(IDC_chkWriteIntervalEndRecords, true);
  form.SetChecked(IDC_chkUseLocalTime, false);
  Type(IDC_txtSamplingInterval, "5");
  form.SetSelection(IDC_cmbTimeScaleSampling, 0);
  store.log.clear();

  editor.OnApply();
  EXPECT_TRUE(form.messages.empty());
  EXPECT_EQ(store.log, (std::vector<std::string>{
                           "write LogFilePath=C:\\Logs",
                           "write LogFilePrefix=Proc-",
                           "write AccountingInterval=7200",
                           "write AccountingIntervalCommand=run.cmd",
                           "write AccountingIntervalTime=07:05",
                           "write UseAccountingIntervalTime=Yes",
                           "write WriteIntervalEndRecords=Yes",
                           "write UseLocalTime=No",
                           "write SamplingInterval=5",
                       }));
  // The values the editor does not show are left alone.
  EXPECT_EQ(store.Get("LogFileExtension"), ".log");
  EXPECT_EQ(store.Get("LogFileFieldDelimiter"), "44");
  EXPECT_EQ(form.status, (std::vector<std::string>{"Saving configuration...", "Ready."}));
  EXPECT_FALSE(form.Enabled(IDC_btnApply));
  EXPECT_EQ(form.focused, IDC_txtLogFilePath);
  EXPECT_FALSE(form.closed);
}

TEST_F(ServiceEditor, DisabledAccountingIsSavedNegatedAndEmptyBoxesAsSixty) {
  Stored({{"AccountingInterval", "-60"}});
  Load();
  form.SetText(IDC_txtAccountingInterval, "");
  form.SetSelection(IDC_cmbTimeScaleAccounting, 1);
  ASSERT_TRUE(editor.SaveSettings());
  EXPECT_EQ(store.Get("AccountingInterval"), "-3600");
  EXPECT_EQ(store.Get("UseAccountingIntervalTime"), "No");
  EXPECT_EQ(store.Get("AccountingIntervalTime"), "00:00");
}

TEST_F(ServiceEditor, MissingLogFolderIsCreatedOnlyWhenTheAdministratorAgrees) {
  Stored({{"LogFilePath", "C:\\NewLogs"}});
  Load();
  form.answers = {MessageAnswer::No};
  editor.OnOk();
  ASSERT_EQ(form.messages.size(), 1u);
  EXPECT_EQ(form.messages[0].Text,
            "The log file path 'C:\\NewLogs' does not exist.\r\n\r\nWould you like to create it?");
  EXPECT_EQ(form.messages[0].Caption, kServiceEditorTitle);
  EXPECT_EQ(form.messages[0].Icon, MessageIcon::Question);
  EXPECT_EQ(form.messages[0].Buttons, MessageButtons::YesNo);
  EXPECT_TRUE(system.created.empty());
  EXPECT_EQ(form.focused, IDC_txtLogFilePath);
  EXPECT_FALSE(form.closed);
  EXPECT_EQ(form.LastStatus(), "");  // OK clears the status of a refused save

  form.messages.clear();
  form.answers = {MessageAnswer::Yes};
  editor.OnOk();
  EXPECT_EQ(system.created, std::vector<std::string>{"C:\\NewLogs"});
  ASSERT_EQ(form.messages.size(), 2u);
  EXPECT_EQ(form.messages[1].Text, "Log file path created.");
  EXPECT_EQ(form.messages[1].Icon, MessageIcon::Information);
  EXPECT_TRUE(form.closed);
  EXPECT_EQ(store.Get("LogFilePath"), "C:\\NewLogs");
}

TEST_F(ServiceEditor, LogFolderThatCannotBeCreatedIsRefused) {
  Stored({{"LogFilePath", "Q:\\No\\Such"}});
  Load();
  system.canCreate = false;
  form.answers = {MessageAnswer::Yes};
  store.log.clear();
  editor.OnApply();
  ASSERT_EQ(form.messages.size(), 2u);
  EXPECT_EQ(form.messages[1].Text, "The log file path 'Q:\\No\\Such' does not exist.");
  EXPECT_EQ(form.messages[1].Icon, MessageIcon::Error);
  EXPECT_TRUE(store.log.empty());
  EXPECT_EQ(form.focused, IDC_txtLogFilePath);
  EXPECT_EQ(form.LastStatus(), "Saving configuration...");  // Apply leaves the status of a refusal
}

TEST_F(ServiceEditor, IntervalsAreCheckedInOrderWithTheirMessages) {
  Stored({{"AccountingInterval", "60"}});
  Load();
  const auto validate = [&](const char* sampling, int samplingScale, const char* accounting, int accountingScale) {
    form.messages.clear();
    form.focused.reset();
    form.SetText(IDC_txtSamplingInterval, sampling);
    form.SetSelection(IDC_cmbTimeScaleSampling, samplingScale);
    form.SetText(IDC_txtAccountingInterval, accounting);
    form.SetSelection(IDC_cmbTimeScaleAccounting, accountingScale);
    return editor.ValidateSettings();
  };
  EXPECT_FALSE(validate("0", 0, "0", 0));
  ASSERT_EQ(form.messages.size(), 1u);
  EXPECT_EQ(form.messages[0].Text, "Sampling Interval cannot be less than 1 second.");
  EXPECT_EQ(form.Text(IDC_txtSamplingInterval), "1");
  EXPECT_EQ(form.focused, IDC_txtSamplingInterval);

  EXPECT_FALSE(validate("5", 0, "", 0));
  ASSERT_EQ(form.messages.size(), 1u);
  EXPECT_EQ(form.messages[0].Text, "Accounting Interval cannot be less than 1 second.");
  EXPECT_EQ(form.Text(IDC_txtAccountingInterval), "1");
  EXPECT_EQ(form.focused, IDC_txtAccountingInterval);

  EXPECT_FALSE(validate("2", 1, "60", 0));
  ASSERT_EQ(form.messages.size(), 1u);
  EXPECT_EQ(form.messages[0].Text, "The accounting interval is less than the sampling interval.");
  EXPECT_EQ(form.messages[0].Icon, MessageIcon::Error);
  EXPECT_EQ(form.Text(IDC_txtAccountingInterval), "60");
  EXPECT_EQ(form.focused, IDC_txtAccountingInterval);

  EXPECT_TRUE(validate("2", 1, "2", 1));
  EXPECT_TRUE(form.messages.empty());

  // Beyond a 32-bit setting: refused, nothing changed in the box.
  EXPECT_FALSE(validate("596524", 2, "1", 2));
  ASSERT_EQ(form.messages.size(), 1u);
  EXPECT_EQ(form.messages[0].Text, "Sampling Interval cannot be more than 2147483647 seconds.");
  EXPECT_EQ(form.Text(IDC_txtSamplingInterval), "596524");
  EXPECT_FALSE(validate("1", 0, "99999999999", 1));
  EXPECT_EQ(form.messages[0].Text, "Accounting Interval cannot be more than 2147483647 seconds.");

  // The time-of-day option still checks the (disabled) interval box...
  editor.SelectAccountingMode(1);
  EXPECT_FALSE(validate("2", 1, "60", 0));
  // ...but with interval accounting off only the sampling interval counts.
  form.SetChecked(IDC_chkEnableIntervalAccounting, false);
  EXPECT_TRUE(validate("2", 1, "60", 0));
}

TEST_F(ServiceEditor, IntervalTooLargeForASettingIsRefusedBeforeAnythingIsWritten) {
  Stored({{"AccountingInterval", "-60"}});
  Load();
  // Interval accounting is off, so validation passes the box; saving still
  // refuses a product beyond 32 bits.
  form.SetText(IDC_txtAccountingInterval, "600000");
  form.SetSelection(IDC_cmbTimeScaleAccounting, 2);
  store.log.clear();
  editor.OnOk();
  EXPECT_TRUE(store.log.empty());
  ASSERT_EQ(form.messages.size(), 1u);
  EXPECT_EQ(form.messages[0].Text, "Accounting Interval cannot be more than 2147483647 seconds.");
  EXPECT_EQ(form.messages[0].Caption, kServiceEditorTitle);
  EXPECT_FALSE(form.closed);
}

TEST_F(ServiceEditor, RegistryFailureLeavesTheSettingsAsTheyWereAndTheFormOpen) {
  Stored({{"LogFilePath", "C:\\Logs"}, {"LogFilePrefix", "Old-"}});
  system.folders["C:\\Logs"] = true;
  Load();
  Type(IDC_txtLogFilePrefix, "New-");
  store.failWrites["UseLocalTime"] = true;
  editor.OnOk();
  EXPECT_FALSE(form.closed);
  EXPECT_TRUE(form.Enabled(IDC_btnApply));
  EXPECT_EQ(store.Get("LogFilePrefix"), "Old-");
  EXPECT_EQ(store.Get("LogFilePath"), "C:\\Logs");
  for (const char* written : {"AccountingInterval", "AccountingIntervalCommand", "AccountingIntervalTime",
                              "UseAccountingIntervalTime", "WriteIntervalEndRecords", "SamplingInterval"}) {
    EXPECT_FALSE(store.Get(written).has_value()) << written;
  }
  EXPECT_EQ(form.LastStatus(), "");
}

TEST_F(ServiceEditor, ClosingAsksAboutUnsavedChanges) {
  Stored({{"LogFilePath", "C:\\Logs"}});
  system.folders["C:\\Logs"] = true;
  Load();
  editor.CloseWithPrompt();  // nothing changed: no question
  EXPECT_TRUE(form.messages.empty());
  EXPECT_TRUE(form.closed);

  form.closed = false;
  Type(IDC_txtLogFilePrefix, "Changed-");
  form.answers = {MessageAnswer::Cancel};
  editor.CloseWithPrompt();
  ASSERT_EQ(form.messages.size(), 1u);
  EXPECT_EQ(form.messages[0].Text, "Save changes before exiting?");
  EXPECT_EQ(form.messages[0].Caption, "Save Changes");
  EXPECT_EQ(form.messages[0].Buttons, MessageButtons::YesNoCancel);
  EXPECT_FALSE(form.closed);

  form.answers = {MessageAnswer::No};
  editor.CloseWithPrompt();
  EXPECT_TRUE(form.closed);
  EXPECT_FALSE(store.Get("LogFilePrefix").has_value());

  form.closed = false;
  form.SetText(IDC_txtSamplingInterval, "0");
  form.answers = {MessageAnswer::Yes};
  editor.CloseWithPrompt();
  EXPECT_FALSE(form.closed);  // refused by the checks: stays open
  EXPECT_EQ(form.messages.back().Text, "Sampling Interval cannot be less than 1 second.");

  form.answers = {MessageAnswer::Yes};
  editor.CloseWithPrompt();
  EXPECT_TRUE(form.closed);
  EXPECT_EQ(store.Get("LogFilePrefix"), "Changed-");
}

TEST_F(ServiceEditor, IntervalBoxesTakeDigitsOnlyAndFallBackToOne) {
  Stored({});
  Load();
  EXPECT_TRUE(editor.OnIntervalKey('7'));
  EXPECT_TRUE(editor.OnIntervalKey(8));
  EXPECT_EQ(form.beeps, 0);
  EXPECT_FALSE(editor.OnIntervalKey('x'));
  EXPECT_EQ(form.beeps, 1);
  form.SetText(IDC_txtSamplingInterval, "0");
  editor.OnIntervalBoxLeft(IDC_txtSamplingInterval);
  EXPECT_EQ(form.Text(IDC_txtSamplingInterval), "1");
  form.SetText(IDC_txtAccountingInterval, "45");
  editor.OnIntervalBoxLeft(IDC_txtAccountingInterval);
  EXPECT_EQ(form.Text(IDC_txtAccountingInterval), "45");
}

TEST_F(ServiceEditor, ChosenFolderReplacesThePath) {
  Stored({{"LogFilePath", "C:\\Logs"}});
  Load();
  EXPECT_EQ(editor.BrowseStartFolder(), "C:\\Logs");
  editor.OnFolderChosen(std::nullopt);
  EXPECT_EQ(form.Text(IDC_txtLogFilePath), "C:\\Logs");
  editor.OnFolderChosen(std::string("D:\\Other"));
  EXPECT_EQ(form.Text(IDC_txtLogFilePath), "D:\\Other");
  EXPECT_EQ(form.focused, IDC_txtLogFilePath);
}

TEST_F(ServiceEditor, BoxesTakeWhatTheServiceUsesAndPathsMustBeFull) {
  Stored({{"LogFilePath", "RelLogs"}});
  store.Set("AccountingIntervalCommand", std::string(1115, 'c'));
  editor.Load();
  EXPECT_EQ(form.limits, (std::map<int, std::size_t>{{IDC_txtLogFilePath, 259},
                                                     {IDC_txtLogFilePrefix, 259},
                                                     {IDC_txtAccountingIntervalCommand, 1023},
                                                     {IDC_txtSamplingInterval, 10},
                                                     {IDC_txtAccountingInterval, 10}}));
  // Shown whole with a warning, not dropped.
  EXPECT_EQ(form.Text(IDC_txtAccountingIntervalCommand), std::string(1115, 'c'));
  ASSERT_EQ(MessageTexts(), std::vector<std::string>{
                                "The stored AccountingIntervalCommand is 1115 characters long. That is too long for "
                                "the collectors to read: they run as if it were not set. The box shows the whole "
                                "value: shorten it to 1023 characters before saving."});
  form.messages.clear();
  editor.OnOk();
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{
                                "The accounting interval command is 1115 characters long; the collectors use at most "
                                "1023."});
  EXPECT_EQ(form.focused, IDC_txtAccountingIntervalCommand);

  // A relative folder is refused before anything is created.
  form.messages.clear();
  Type(IDC_txtAccountingIntervalCommand, "run.cmd");
  editor.OnOk();
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{
                                "The log file path 'RelLogs' is not a full path (such as C:\\QUAX\\Logs). Give the "
                                "whole path, or leave the box empty for the default folder."});
  EXPECT_EQ(form.focused, IDC_txtLogFilePath);
  EXPECT_TRUE(system.created.empty());
  EXPECT_FALSE(form.closed);
  EXPECT_EQ(store.Get("AccountingIntervalCommand"), std::string(1115, 'c'));
}

TEST_F(ServiceEditor, RunningServiceIsOfferedARestartAfterASave) {
  Stored({{"LogFilePath", "C:\\Logs"}});
  system.folders["C:\\Logs"] = true;
  service.name = "QUAXWinProcess";
  const auto apply = [&](std::deque<MessageAnswer> answers) {
    Load();
    Type(IDC_txtLogFilePrefix, "P-");
    form.answers = std::move(answers);
    editor.OnApply();
  };
  // Stopped: it reads the settings when it starts; nothing to ask.
  apply({});
  EXPECT_TRUE(form.messages.empty());
  EXPECT_EQ(form.LastStatus(), "Ready.");

  service.state = kServiceRunning;
  apply({MessageAnswer::No});
  ASSERT_EQ(MessageTexts(), std::vector<std::string>{
                                "The collector service is running with the settings it read when it started. Restart "
                                "it now so that it uses the saved settings?"});
  EXPECT_EQ(form.messages[0].Buttons, MessageButtons::YesNo);
  EXPECT_EQ(form.LastStatus(), "Saved. The service uses the new settings when it next starts.");
  EXPECT_EQ(service.stops + service.starts, 0);

  apply({MessageAnswer::Yes});
  EXPECT_EQ(service.stops, 1);
  EXPECT_EQ(service.starts, 1);
  EXPECT_EQ(form.status, (std::vector<std::string>{"Saving configuration...", "Ready.", "Restarting service...",
                                                   "Ready."}));

  // A start that fails says why; OK still closes, the settings are saved.
  service.startEndsIn = kServiceStopped;
  service.state = kServiceRunning;
  Load();
  Type(IDC_txtLogFilePrefix, "Q-");
  form.answers = {MessageAnswer::Yes};
  editor.OnOk();
  ASSERT_EQ(form.messages.size(), 2u);
  EXPECT_EQ(form.messages[1].Caption, "Restart Service");
  EXPECT_EQ(form.messages[1].Text,
            "Error restarting service: The system cannot find the path specified.\r\n\r\n"
            "Please see the Windows Event Log for more information.");
  EXPECT_TRUE(form.closed);
  EXPECT_EQ(store.Get("LogFilePrefix"), "Q-");
}

}  // namespace
}  // namespace quax
