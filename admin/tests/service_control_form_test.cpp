#include "service_control_form.h"

#include <gtest/gtest.h>

#include "control_ids.h"
#include "fake_form.h"

namespace quax {
namespace {

using test::FakeForm;
using test::FakeService;

class ServiceControlWindow : public ::testing::Test {
 protected:
  FakeForm form;
  FakeService service;
  ServiceControlForm control{form, service, "QUAX Windows Process Collector Configuration - Service"};
};

TEST(ServiceStates, EveryStateHasItsText) {
  EXPECT_STREQ(ServiceStateText(1), "The service is stopped.");
  EXPECT_STREQ(ServiceStateText(2), "The service is being started.");
  EXPECT_STREQ(ServiceStateText(3), "The service is in the process of being stopped.");
  EXPECT_STREQ(ServiceStateText(4), "The service is running.");
  EXPECT_STREQ(ServiceStateText(5), "The service is in the process of being continued.");
  EXPECT_STREQ(ServiceStateText(6), "The service is in the process of being paused.");
  EXPECT_STREQ(ServiceStateText(7), "The service is paused.");
  EXPECT_STREQ(ServiceStateText(0), "The service is an unknown state.");
  EXPECT_STREQ(ServiceStateText(8), "The service is an unknown state.");
  EXPECT_TRUE(StatusSaysRunning("The service is running."));
  EXPECT_TRUE(StatusSaysRunning("RuNnInG"));
  EXPECT_FALSE(StatusSaysRunning("The service is paused."));
  EXPECT_FALSE(StatusSaysRunning("The service is being started."));
  EXPECT_FALSE(StatusSaysRunning("RUNNIN"));
}

TEST_F(ServiceControlWindow, StoppedServiceOffersStartOnly) {
  service.autoStart = true;
  control.SetServiceName("QUAXWinProcess");
  EXPECT_EQ(service.refreshes, 1);
  EXPECT_TRUE(form.Enabled(IDC_btnServiceStart));
  EXPECT_FALSE(form.Enabled(IDC_btnServiceStop));
  EXPECT_EQ(form.indicator, kIndicatorRed);
  EXPECT_TRUE(form.Checked(IDC_chkAutoStart));
  EXPECT_EQ(form.Text(IDC_lblServiceName), "QUAXWinProcess - QUAX Process Collector with Debug Logging");
  EXPECT_EQ(form.Text(IDC_lblServiceStatus), "The service is stopped.");
  EXPECT_EQ(form.Text(IDC_lblServicePath), "C:\\QUAX\\quaxcolsvc.exe");
  EXPECT_EQ(form.status, (std::vector<std::string>{"Refreshing...", "Ready."}));
  EXPECT_TRUE(form.messages.empty());
}

TEST_F(ServiceControlWindow, RunningDemandStartServiceOffersStopOnly) {
  service.state = kServiceRunning;
  control.SetServiceName("QUAXWinProcess");
  EXPECT_FALSE(form.Enabled(IDC_btnServiceStart));
  EXPECT_TRUE(form.Enabled(IDC_btnServiceStop));
  EXPECT_EQ(form.indicator, kIndicatorGreen);
  EXPECT_FALSE(form.Checked(IDC_chkAutoStart));
}

TEST_F(ServiceControlWindow, PausedServiceIsNotRunning) {
  service.state = kServicePaused;
  control.SetServiceName("QUAXWinProcess");
  EXPECT_EQ(form.Text(IDC_lblServiceStatus), "The service is paused.");
  EXPECT_TRUE(form.Enabled(IDC_btnServiceStart));
  EXPECT_EQ(form.indicator, kIndicatorRed);
}

TEST_F(ServiceControlWindow, ServiceNotInstalledDisablesBothButtonsAndSaysWhy) {
  service.refreshSucceeds = false;
  service.display.clear();
  form.SetChecked(IDC_chkAutoStart, true);
  control.SetServiceName("QUAXWinProcess");
  EXPECT_FALSE(form.Enabled(IDC_btnServiceStart));
  EXPECT_FALSE(form.Enabled(IDC_btnServiceStop));
  EXPECT_EQ(form.indicator, kIndicatorRed);
  EXPECT_FALSE(form.Checked(IDC_chkAutoStart));
  ASSERT_EQ(form.messages.size(), 1u);
  EXPECT_EQ(form.messages[0].Caption, "Service Information");
  EXPECT_EQ(form.messages[0].Text, "Unable to get service information: Error opening service: The specified service "
                                   "does not exist as an installed service.\r\n");
  EXPECT_EQ(form.Text(IDC_lblServiceName), "QUAXWinProcess");
  EXPECT_EQ(form.Text(IDC_lblServiceStatus), service.lastError);  // no state: the error instead
  EXPECT_EQ(form.Text(IDC_lblServicePath), "");
}

TEST_F(ServiceControlWindow, StartAndStopRefreshAfterwards) {
  control.SetServiceName("QUAXWinProcess");
  form.status.clear();
  control.OnStart();
  EXPECT_EQ(service.starts, 1);
  EXPECT_EQ(form.status.front(), "Starting service...");
  EXPECT_EQ(form.LastStatus(), "Ready.");
  EXPECT_FALSE(form.busyCursor);
  EXPECT_TRUE(form.messages.empty());
  EXPECT_EQ(form.Text(IDC_lblServiceStatus), "The service is running.");
  EXPECT_TRUE(form.Enabled(IDC_btnServiceStop));
  EXPECT_EQ(form.focused, IDC_btnServiceStop);  // the clicked button is disabled now

  form.status.clear();
  control.OnStop();
  EXPECT_EQ(service.stops, 1);
  EXPECT_EQ(form.status.front(), "Stopping service...");
  EXPECT_EQ(form.Text(IDC_lblServiceStatus), "The service is stopped.");
  EXPECT_TRUE(form.Enabled(IDC_btnServiceStart));
  EXPECT_EQ(form.focused, IDC_btnServiceStart);
}

TEST_F(ServiceControlWindow, FailedStartIsReportedWithTheEventLogHint) {
  service.startEndsIn = kServiceStopped;
  control.SetServiceName("QUAXWinProcess");
  control.OnStart();
  ASSERT_EQ(form.messages.size(), 1u);
  EXPECT_EQ(form.messages[0].Caption, "Start Service");
  EXPECT_EQ(form.messages[0].Icon, MessageIcon::Error);
  EXPECT_EQ(form.messages[0].Text,
            "Error starting service: The system cannot find the path specified.\r\n\r\n"
            "Please see the Windows Event Log for more information.");
  EXPECT_EQ(form.Text(IDC_lblServiceStatus), "The service is stopped.");
  EXPECT_EQ(form.focused, IDC_btnServiceStart);
}

TEST_F(ServiceControlWindow, ClicksDuringAStartAreIgnored) {
  control.SetServiceName("QUAXWinProcess");
  service.duringStart = [&] {
    control.OnStart();
    control.OnStop();
    form.SetChecked(IDC_chkAutoStart, true);
    control.OnAutoStartClicked();
    EXPECT_TRUE(form.busyCursor);
  };
  control.OnStart();
  EXPECT_EQ(service.starts, 1);
  EXPECT_EQ(service.stops, 0);
  EXPECT_TRUE(service.autoStartCalls.empty());
}

TEST_F(ServiceControlWindow, AutoStartFollowsTheCheckBoxOrIsPutBack) {
  control.SetServiceName("QUAXWinProcess");
  form.SetChecked(IDC_chkAutoStart, true);
  control.OnAutoStartClicked();
  EXPECT_EQ(service.autoStartCalls, std::vector<bool>{true});
  EXPECT_TRUE(form.messages.empty());

  service.changeSucceeds = false;
  form.SetChecked(IDC_chkAutoStart, false);
  control.OnAutoStartClicked();
  EXPECT_EQ(service.autoStartCalls, (std::vector<bool>{true, false}));
  ASSERT_EQ(form.messages.size(), 1u);
  EXPECT_EQ(form.messages[0].Caption, "Auto Start Service");
  EXPECT_EQ(form.messages[0].Text, "Error changing service configuration: Access is denied.\r\n");
  EXPECT_TRUE(form.Checked(IDC_chkAutoStart));  // back as it was, without a second change
}

TEST_F(ServiceControlWindow, ServicesManagerAndEventViewerStartTheirPrograms) {
  control.OnServicesManager(false);
  control.OnServicesManager(true);
  control.OnEventViewer();
  EXPECT_EQ(form.programs, (std::vector<std::string>{
                               "C:\\windows\\System32\\mmc.exe C:\\windows\\System32\\services.msc",
                               "rundll32.exe shell32.dll,Control_RunDLL srvmgr.cpl services",
                               "eventvwr.exe",
                           }));
  EXPECT_TRUE(form.messages.empty());

  form.expands = false;  // nothing runs when the expansion fails
  control.OnServicesManager(false);
  EXPECT_EQ(form.programs.size(), 3u);
  form.expands = true;
  form.programsStart = false;
  control.OnServicesManager(false);
  ASSERT_EQ(form.messages.size(), 1u);
  EXPECT_EQ(form.messages[0].Text, "Unable to start Windows Services application.");
  EXPECT_EQ(form.messages[0].Caption, "QUAX Windows Process Collector Configuration - Service");
  control.OnClose();
  EXPECT_TRUE(form.hidden);
}

}  // namespace
}  // namespace quax
