// Identifiers of the administration windows' resources and controls, shared
// by the resource scripts and the code. Controls carry their form names.
// Plain #define lines: the resource compiler reads this file too.
#ifndef QUAX_ADMIN_CONTROL_IDS_H
#define QUAX_ADMIN_CONTROL_IDS_H

// Dialogs, menus, icons and the manifest.
#define IDD_FMain_Service 100
#define IDD_FMain_User32 101
#define IDD_FServiceControl 102
#define IDD_FAbout 103
#define IDD_FInputBox 104
#define IDM_FMain_Service 110
#define IDM_FServiceControl 111
#define IDI_Admin 120

// Settings editors (both programs use the same numbers for the same names).
#define IDC_StatusBar1 1000
#define IDC_txtLogFilePath 1001
#define IDC_btnLogFilePathBrowse 1002
#define IDC_txtLogFilePrefix 1003
#define IDC_chkUseLocalTime 1004
#define IDC_txtSamplingInterval 1005
#define IDC_cmbTimeScaleSampling 1006
#define IDC_chkEnableIntervalAccounting 1007
#define IDC_optWriteAccountingRecords0 1008
#define IDC_optWriteAccountingRecords1 1009
#define IDC_txtAccountingInterval 1010
#define IDC_cmbTimeScaleAccounting 1011
#define IDC_dtpAccountingInterval 1012
#define IDC_chkWriteIntervalEndRecords 1013
#define IDC_txtAccountingIntervalCommand 1014
#define IDC_btnServiceControl 1015
#define IDC_btnOK 1 /* IDOK: Enter */
#define IDC_btnCancel 2 /* IDCANCEL: Esc */
#define IDC_btnApply 1016
#define IDC_chkAppInitDlls 1017
#define IDC_fraLogFileOutput 1020
#define IDC_fraSampling 1021
#define IDC_fraAccounting 1022
#define IDC_fraRegistration 1023
#define IDC_lblLogFilePath 1024
#define IDC_lblLogFilePrefix 1025
#define IDC_lblSamplingInterval 1026
#define IDC_lblAccountingIntervalCommand 1027
#define IDC_lblAccountingInterval 1028
#define IDC_lblAppInitWarning 1029

// Menu commands of the service editor.
#define IDM_FileExit 1100
#define IDM_HelpAbout 1101
#define IDM_HelpTopics 1102

// Service control window.
#define IDC_lblServiceName 1200
#define IDC_lblServiceStatus 1201
#define IDC_lblServicePath 1202
#define IDC_lblServiceStatusIndicator 1203
#define IDC_chkAutoStart 1204
#define IDC_btnServiceStart 1205
#define IDC_btnServiceStop 1206
#define IDC_btnClose 2 /* IDCANCEL: Esc closes */
#define IDC_fraService 1208
#define IDM_mnuViewRefresh 1210
#define IDM_mnuViewWinEventViewer 1211
#define IDM_mnuViewServicesMgr 1212

// About box.
#define IDC_lblTitle 1300
#define IDC_lblVersion 1301
#define IDC_lblServiceVersion 1302
#define IDC_lblDescription 1303
#define IDC_lblOperatingSystem 1304
#define IDC_lblDisclaimer 1305
#define IDC_btnSysInfo 1306
#define IDC_picIcon 1307

// Input box.
#define IDC_lblPrompt 1400
#define IDC_txtValue 1401

#endif
