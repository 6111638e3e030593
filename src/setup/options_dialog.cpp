// The options and services dialog, and the export that opens it for the host.
#include "setup/options_dialog.h"

#include <stdio.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "foundation/settings.h"
#include "printer/laminator_channel.h"
#include "printer/printer_select.h"
#include "printer/printer_state.h"
#include "resources/resource.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "rovane.h"

#define VERSION_REPLY_LIMIT_MS 1500
#define PORT_COUNT 4

static const char g_szRestartNeeded[] =
    "In order for this setting to take effect you must shutdown and restart VeltoDVD.";

static int IsChecked(HWND hDlg, int nId) { return IsDlgButtonChecked(hDlg, nId) == BST_CHECKED; }

// The port chosen in the list, 0 to 3. The list always has a choice once the dialog is open;
// should it have none, the stored port stands.
static int ChosenPortIndex(HWND hDlg) {
    const LRESULT lIndex = SendDlgItemMessageA(hDlg, IDC_CONTROL_PORT, CB_GETCURSEL, 0, 0);
    return lIndex >= 0 && lIndex < PORT_COUNT ? (int)lIndex : ReadPortChoice();
}

// Makes the chosen port the open one: another name closes the port and opens the new one; the
// same name opens it only when it is not open. The result is the operator's to see (the open
// shows its own errors).
static void ReopenPort(int nPortIndex) {
    const char* pszName = g_aszPortNames[nPortIndex];
    if (strcmp(pszName, g_szPortName) != 0) {
        PortClose();
        snprintf(g_szPortName, sizeof g_szPortName, "%s", pszName);
        PortOpen(g_szPortName, TRUE);
    } else if (g_hPort == INVALID_HANDLE_VALUE) {
        PortOpen(g_szPortName, TRUE);
    }
}

static int QueryRobotVersion(void) {
    WORD wModel = 0;
    return GetRoboVersion(VERSION_REPLY_LIMIT_MS, &wModel);
}

// ---------------------------------------------------------------------------------------------
// The buttons.

// The message that reports a robot state and error; 0 for a combination that has none.
static UINT CommunicationsMessage(const RoboStatus* pStatus) {
    switch (pStatus->bRoboState) {
        case 'I':
            switch (pStatus->bError) {
                case '.': return IDS_COMM_IDLE;
                case 'A': return IDS_COMM_INPUT_EMPTY;
                case 'B': return IDS_COMM_PRINTER_ERROR;
                case 'D': return IDS_COMM_INVALID_COMMAND;
                case 'E': return IDS_COMM_SYSTEM_ERROR;
                case 'F': return IDS_COMM_NOT_PICKED;
            }
            return 0;
        case 'B': return IDS_COMM_BUSY;
        case 'W': return IDS_COMM_WAITING_FOR_PRINTER;
        case 'P': return IDS_COMM_PAUSED;
    }
    return 0;
}

static void CheckCommunications(HWND hDlg) {
    ReopenPort(ChosenPortIndex(hDlg));

    HCURSOR hPrevious = NULL;
    HCURSOR hWait = LoadCursorA(NULL, IDC_WAIT);
    if (hWait != NULL) hPrevious = SetCursor(hWait);
    RoboStatus status;
    memset(&status, 0, sizeof status);
    const int fAnswered = QueryRobotVersion() && GetSystemStatus(&status);
    if (hWait != NULL) SetCursor(hPrevious);

    if (!fAnswered) {
        DebugLog("Check Communications: no response");
        ShowStringMessage(hDlg, IDS_NO_RESPONSE, IDS_TITLE, MB_ICONINFORMATION);
        return;
    }
    DebugLogF("Check Communications: state %c error %c", status.bRoboState, status.bError);
    const UINT uMessage = CommunicationsMessage(&status);
    if (uMessage != 0) ShowStringMessage(hDlg, uMessage, IDS_TITLE, MB_ICONINFORMATION);
}

// A click on "Use Laminator": the robot must answer (its firmware is read again), then the
// laminator, then the firmware must be recent enough; each failure unticks the box. The
// laminator's own Retry/Cancel question is allowed, so the operator can switch it on and try
// again; giving up there unticks the box without a message of this dialog's own.
static void UseLaminatorClicked(HWND hDlg) {
    if (!IsChecked(hDlg, IDC_USE_LAMINATOR)) return;
    if (!QueryRobotVersion()) {
        CheckDlgButton(hDlg, IDC_USE_LAMINATOR, BST_UNCHECKED);
        ShowStringMessage(hDlg, IDS_NO_RESPONSE, IDS_TITLE, MB_ICONINFORMATION);
        return;
    }
    VerifyLaminatorCheck(hDlg, IDC_USE_LAMINATOR);
}

static void MoveToLaminator(HWND hDlg) {
    if (!IsChecked(hDlg, IDC_USE_LAMINATOR)) return;
    DebugLog("Moving to the laminator (calibrate)");
    PortWrite("_MOVE:E", FALSE);
}

static void ReselectDrives(void) {
    WritePrivateProfileStringA(SETTINGS_SECTION, KEY_DRIVE1_SERIAL, "", g_szSettingsPath);
    WritePrivateProfileStringA(SETTINGS_SECTION, KEY_DRIVE2_SERIAL, "", g_szSettingsPath);
    WritePrivateProfileStringA(SETTINGS_SECTION, KEY_DRIVE3_SERIAL, "", g_szSettingsPath);
    WritePrivateProfileStringA(SETTINGS_SECTION, KEY_DRIVE4_SERIAL, "", g_szSettingsPath);
    DebugLog("Drive serial numbers cleared: the drives are chosen again at the next start");
    MessageBoxA(NULL, g_szRestartNeeded, "Warning", MB_OK);
}

static void ShowAbout(HWND hDlg) {
    char szText[400];
    if (g_fLaminator) {
        // Asked once, without the laminator's Retry/Cancel question: the About box only reports.
        char szLamFirmware[LAM_FIRMWARE_SIZE + 1];
        LamStatus lam;
        memset(&lam, 0, sizeof lam);
        if (GetLaminatorStatus(&lam, FALSE, FALSE)) {
            memcpy(szLamFirmware, lam.szLamFirmware, LAM_FIRMWARE_SIZE);
            szLamFirmware[LAM_FIRMWARE_SIZE] = '\0';
        } else {
            snprintf(szLamFirmware, sizeof szLamFirmware, "%s", "?.?");
        }
        snprintf(szText, sizeof szText, "Rovane.dll for ZorvikQIX Version %s\nZorvik Firmware: %s\nLaminator Firmware: %s",
                 ROVANE_VERSION_TEXT, g_szFirmware, szLamFirmware);
    } else {
        snprintf(szText, sizeof szText, "Rovane.dll for ZorvikQIX Version %s\nZorvik Firmware: %s", ROVANE_VERSION_TEXT,
                 g_szFirmware);
    }
    MessageBoxA(hDlg, szText, "About Rovane...", MB_OK);
}

// ---------------------------------------------------------------------------------------------
// Opening, OK and Cancel.

static void InitOptionsDialog(HWND hDlg) {
    for (int i = 0; i < PORT_COUNT; ++i)
        SendDlgItemMessageA(hDlg, IDC_CONTROL_PORT, CB_ADDSTRING, 0, (LPARAM)g_aszPortNames[i]);
    SendDlgItemMessageA(hDlg, IDC_CONTROL_PORT, CB_SETCURSEL, (WPARAM)ReadPortChoice(), 0);

    // The hidden "Record and Print Simultaneously" box carries its key through the dialog.
    if (GetPrivateProfileIntA(SETTINGS_SECTION, KEY_RECORD_PRINT, 1, g_szSettingsPath) != 0)
        CheckDlgButton(hDlg, IDC_RECORD_PRINT, BST_CHECKED);
    if (GetPrivateProfileIntA(SETTINGS_SECTION, KEY_MINIMIZE_PRINTDLG, 1, g_szSettingsPath) != 0)
        CheckDlgButton(hDlg, IDC_MINIMIZE_PRINT_DIALOG, BST_CHECKED);

    g_bPrinterCount = 0;
    g_fPrinterSelected = TRUE;
    InitLaminatorCheck(hDlg, IDC_USE_LAMINATOR);
    FillPrinterList(hDlg, IDC_OPTIONS_PRINTER);
    SelectCurrentPrinter(hDlg, IDC_OPTIONS_PRINTER);
}

static void AcceptOptions(HWND hDlg) {
    const int nPortIndex = ChosenPortIndex(hDlg);
    WritePortChoice(nPortIndex);
    ReopenPort(nPortIndex);

    WritePrivateProfileStringA(SETTINGS_SECTION, KEY_RECORD_PRINT, IsChecked(hDlg, IDC_RECORD_PRINT) ? "1" : "0",
                               g_szSettingsPath);
    WritePrivateProfileStringA(SETTINGS_SECTION, KEY_MINIMIZE_PRINTDLG,
                               IsChecked(hDlg, IDC_MINIMIZE_PRINT_DIALOG) ? "1" : "0", g_szSettingsPath);

    ApplyPrinterChoice(hDlg, IDC_OPTIONS_PRINTER);
    ApplyLaminatorChoice(hDlg, IDC_USE_LAMINATOR);
    DebugLogF("Options accepted: port %s, printer %s, laminator %s", g_szPortName, g_szPrinterName,
              g_fLaminator ? "on" : "off");
    EndDialog(hDlg, 0);
}

// Only the port name goes back to the stored choice. A port that Check Communications opened
// stays open, and the printer variables keep what the opening set.
static void CancelOptions(HWND hDlg) {
    snprintf(g_szPortName, sizeof g_szPortName, "%s", g_aszPortNames[ReadPortChoice()]);
    EndDialog(hDlg, 0);
}

static INT_PTR CALLBACK OptionsDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (uMsg) {
        case WM_INITDIALOG:
            InitOptionsDialog(hDlg);
            return TRUE;
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) return FALSE;
            switch (LOWORD(wParam)) {
                case IDC_CHECK_COMMUNICATIONS: CheckCommunications(hDlg); return TRUE;
                case IDC_USE_LAMINATOR: UseLaminatorClicked(hDlg); return TRUE;
                case IDC_MOVE_TO_LAMINATOR: MoveToLaminator(hDlg); return TRUE;
                case IDC_RESELECT_DRIVES: ReselectDrives(); return TRUE;
                case IDC_ABOUT: ShowAbout(hDlg); return TRUE;
                case IDOK: AcceptOptions(hDlg); return TRUE;
                case IDCANCEL: CancelOptions(hDlg); return TRUE;
            }
            return FALSE;
    }
    return FALSE;
}

void RunOptionsDialog(void) {
    DebugLog("Options dialog opened");
    const INT_PTR nResult = DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_OPTIONS), g_hOwnerWnd, OptionsDlgProc, 0);
    if (nResult == -1)
        DebugLogF("ERROR: The options dialog could not be shown (%lu)", (unsigned long)GetLastError());
}

extern "C" DWORD ROVANE_API Rovane_Options(void) {
    // Before start-up there is no lock and no job.
    DWORD dwJobs = 0;
    if (ModuleLockExists()) {
        EnterCriticalSection(&g_csModule);
        dwJobs = g_dwJobCount;
        LeaveCriticalSection(&g_csModule);
    }
    if (dwJobs != 0) {
        DebugLog("Options dialog refused: a job is running");
        MessageBoxA(NULL, "Cannot display Options dialog while jobs are running", "Rovane", MB_OK);
        return 1;
    }
    RunOptionsDialog();
    return 1;
}
