// Rovane_Movements and the "Duplicator Movements" dialog: resetting the robot by hand and
// starting the multiple-disc move test.
#include <stdlib.h>

#include <windows.h>
#include <commctrl.h>

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "host/move_test.h"
#include "printer/printer_state.h"
#include "resources/resource.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "rovane.h"

#define RESET_CURSOR_TIME 2500   // ms the hourglass shows after "Reset Robotics"
#define DISC_COUNT_TEXT_SIZE 10  // 9 characters and the terminator

// The up-down control steps by the drive count, twice that after 2 seconds of holding an arrow,
// five times that after 4 seconds; its range runs from the drive count to 400.
static void InitDiscCountSpin(HWND hDlg, int nDrives) {
    SendDlgItemMessageA(hDlg, IDC_TEST_DISC_SPIN, UDM_SETRANGE32, (WPARAM)nDrives, (LPARAM)MOVE_TEST_MAX_DISCS);
    UDACCEL accels[3];
    accels[0].nSec = 0;
    accels[0].nInc = (UINT)nDrives;
    accels[1].nSec = 2;
    accels[1].nInc = (UINT)(2 * nDrives);
    accels[2].nSec = 4;
    accels[2].nInc = (UINT)(5 * nDrives);
    SendDlgItemMessageA(hDlg, IDC_TEST_DISC_SPIN, UDM_SETACCEL, 3, (LPARAM)accels);
}

static void InitMovementsDialog(HWND hDlg) {
    const int nDrives = (int)g_bRecorderCount;
    SetDlgItemInt(hDlg, IDC_TEST_DISC_COUNT, (UINT)nDrives, FALSE);
    EnterCriticalSection(&g_csModule);
    g_bInputBinIndex = 0;
    const BOOL fPrinter = g_fPrinterSelected;
    const BOOL fLaminator = g_fLaminator;
    LeaveCriticalSection(&g_csModule);
    InitDiscCountSpin(hDlg, nDrives);
    CheckDlgButton(hDlg, IDC_TEST_RECORDER, BST_CHECKED);
    if (fPrinter) CheckDlgButton(hDlg, IDC_TEST_PRINTER, BST_CHECKED);
    if (fLaminator) CheckDlgButton(hDlg, IDC_TEST_LAMINATOR, BST_CHECKED);
}

// ---------------------------------------------------------------------------------------------
// The buttons.

static void StartTest(HWND hDlg) {
    // The test dialog is owned by the host window, so this dialog stays usable while a test
    // runs; a second test would drive the same queues, so it is refused.
    if (MoveTestRunning()) {
        DebugLog("NOTE: Start Test ignored - a test is already running");
        return;
    }
    char szCount[DISC_COUNT_TEXT_SIZE];
    if (GetDlgItemTextA(hDlg, IDC_TEST_DISC_COUNT, szCount, sizeof szCount) == 0 || szCount[0] == '\0') return;
    EnterCriticalSection(&g_csModule);
    g_wTestDiscs = (WORD)atoi(szCount);
    LeaveCriticalSection(&g_csModule);
    RunMoveTestDialog();
}

static void ResetRobotics(void) {
    DebugLog("Reset Robotics");
    PortWrite("_RESET", FALSE);
    HCURSOR hPrevious = NULL;
    HCURSOR hWait = LoadCursorA(NULL, IDC_WAIT);
    if (hWait != NULL) hPrevious = SetCursor(hWait);
    Sleep(RESET_CURSOR_TIME);
    if (hWait != NULL) SetCursor(hPrevious);
}

// "Printer" decides for the module, not only for the test. "Laminator" changes nothing: the
// test includes the laminator exactly when "Use Laminator" is on.
static void PrinterClicked(HWND hDlg) {
    const BOOL fTicked = IsDlgButtonChecked(hDlg, IDC_TEST_PRINTER) == BST_CHECKED;
    EnterCriticalSection(&g_csModule);
    g_fPrinterSelected = fTicked;
    LeaveCriticalSection(&g_csModule);
    DebugLogF("Movements: printer %s", fTicked ? "selected" : "not selected");
}

static void ExitMovements(HWND hDlg) {
    EnterCriticalSection(&g_csModule);
    g_bInputBinIndex = 0;
    LeaveCriticalSection(&g_csModule);
    EndDialog(hDlg, IDCANCEL);
}

static INT_PTR CALLBACK MovementsDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (uMsg) {
        case WM_INITDIALOG:
            InitMovementsDialog(hDlg);
            return TRUE;
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) return FALSE;
            switch (LOWORD(wParam)) {
                case IDC_START_TEST: StartTest(hDlg); return TRUE;
                case IDC_RESET_ROBOTICS: ResetRobotics(); return TRUE;
                case IDC_TEST_PRINTER: PrinterClicked(hDlg); return TRUE;
                case IDCANCEL: ExitMovements(hDlg); return TRUE;
            }
            return FALSE;
    }
    return FALSE;
}

/*
 * Rovane_Movements: see rovane.h. Always 1; while a job is counted only the refusal is shown.
 */
extern "C" DWORD ROVANE_API Rovane_Movements(DWORD dwIgnored) {
    (void)dwIgnored;
    // Before start-up there is no job; the dialog and the test still need the lock.
    CreateModuleLock();
    EnterCriticalSection(&g_csModule);
    const DWORD dwJobs = g_dwJobCount;
    LeaveCriticalSection(&g_csModule);
    if (dwJobs != 0) {
        DebugLog("Movements dialog refused: a job is running");
        MessageBoxA(NULL, "Cannot do Manual Movements while jobs are running", "Rovane", MB_OK);
        return 1;
    }

    // The disc-count spinner is a common control: its window class must be registered.
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_UPDOWN_CLASS;
    InitCommonControlsEx(&icc);

    DebugLog("Movements dialog opened");
    const INT_PTR nResult =
        DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_MOVEMENTS), g_hOwnerWnd, MovementsDlgProc, 0);
    if (nResult == -1)
        DebugLogF("ERROR: The movements dialog could not be shown (%lu)", (unsigned long)GetLastError());
    return 1;
}
