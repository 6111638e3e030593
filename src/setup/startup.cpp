// Rovane_Init and Rovane_End: the module's start and stop as the host sees them.
//
// Start-up identifies the host, places the settings file and the log, creates the label
// application's object and the module lock, finds the robot on its serial port and checks its
// model, reads the host's recorders and maps them to robot positions, chooses the disc printer,
// starts the laminator and hands the host the recorders the robot serves. Shutdown stops the
// worker threads, resets the robot and closes the port.
#include <stdio.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "foundation/settings.h"
#include "printer/label_app.h"
#include "printer/laminator_channel.h"
#include "printer/laminator_ops.h"
#include "printer/printer_select.h"
#include "printer/printer_state.h"
#include "resources/resource.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "rovane.h"
#include "setup/options_dialog.h"
#include "setup/recorder_list.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"

#define ROVANE_PRODUCT_NAME "DuplicatorQIX"
#define ROVANE_END_TEXT "Rovane Registry string"
#define SELECTED_TEXT_SIZE ROVANE_RECORDER_TEXT_SIZE
#define DVD_R_DRIVE_NAME "Pioneer DVD-RW "
#define VERSION_TIMEOUT_MS 1500

#define SHUTDOWN_WAITS 10
#define SHUTDOWN_WAIT_MS 1000
#define DIALOG_CLOSE_WAITS 40    // polls for the progress dialogs to go at shutdown
#define DIALOG_CLOSE_WAIT_MS 50

// The host's second text: kept, not used.
static char g_szHostText[MAX_HOST_TITLE + 1];

// Copies at most cbOut - 1 characters and always terminates.
static void CopyBounded(char* pszOut, size_t cbOut, const char* pszIn) {
    if (pszOut == NULL || cbOut == 0) return;
    snprintf(pszOut, cbOut, "%s", pszIn != NULL ? pszIn : "");
}

// Opens the robot's port, offering the options dialog (another port) while it fails.
// 0 when the user cancelled.
static int OpenRobotPort(void) {
    while (!PortOpen(g_szPortName, TRUE)) {
        if (ShowStringMessage(g_hOwnerWnd, IDS_PORT_OPEN_PROBLEM, IDS_TITLE, MB_RETRYCANCEL | MB_ICONINFORMATION) ==
            IDCANCEL)
            return 0;
        RunOptionsDialog();
    }
    return 1;
}

// Asks the robot for its version until a unit of the supported model answers, offering the
// options dialog while it does not. 0 when the user cancelled.
static int FindSupportedRobot(void) {
    WORD wModel = 0;
    while (!GetRoboVersion(VERSION_TIMEOUT_MS, &wModel)) {
        if (ShowStringMessage(g_hOwnerWnd, IDS_NO_RESPONSE, IDS_TITLE, MB_RETRYCANCEL | MB_ICONINFORMATION) ==
            IDCANCEL)
            return 0;
        RunOptionsDialog();
    }
    return 1;
}

// Maps the recorders to robot positions by the number the robot reports. 0 when the user
// cancelled a drive-choice dialog.
static int MapRecorders(void) {
    if (g_bRecorderCount == 4) {
        if (CountExternalDrives() == 0) {
            // The robot stays without recorders until the software is started again.
            ShowStringMessage(NULL, IDS_NO_EXTERNAL_DRIVES, IDS_TITLE, MB_SETFOREGROUND);
            return 1;
        }
        if (MapFourDrivesAutomatically()) return 1;
        return ChooseFourDrives();
    }
    if (g_wRecorderRows > g_bRecorderCount || g_bRecorderCount > 1) return ChooseTwoDrives();
    AssignPosition(0, '\0', "Duplicator Drive");
    return 1;
}

// The stored printer when it is still installed, else the selection dialog; then the robot is
// asked whether it sees the printer.
static void ChoosePrinterAtStartup(void) {
    g_szPrinterName[0] = '\0';
    GetPrivateProfileStringA(SETTINGS_SECTION, KEY_PRINTER, "", g_szPrinterName, PRINTER_VALUE_SIZE,
                             g_szSettingsPath);
    if (g_szPrinterName[0] != '\0' && PrinterExists(g_szPrinterName)) {
        g_szPrinterPosition[0] = PrinterPositionFor(g_szPrinterName);
        g_szPrinterPosition[1] = '\0';
        g_fPrinterSelected = TRUE;
        FindPrinter();
        return;
    }
    RunSelectPrinterDialog();
    if (g_fPrinterSelected) FindPrinter();
}

// The selected-recorder text: one line per selected recorder, in table order. Returns the
// number of lines; counts the DVD-R drives among them.
static int BuildSelectedText(char* pszText, size_t cbText, int* pnDvdR) {
    size_t cch = 0;
    int nLines = 0;
    *pnDvdR = 0;
    pszText[0] = '\0';
    for (int nRow = 0; nRow < (int)g_wRecorderRows && nRow < MAX_RECORDERS; ++nRow) {
        const RecorderEntry* pRow = &g_Recorders[nRow];
        if (!pRow->fSelected) continue;
        char szLine[96];
        const int cchLine = snprintf(szLine, sizeof szLine, g_fPrinterSelected ? "%d,1,%s,16\r\n" : "%d,1,%s,0\r\n",
                                     (int)pRow->dwUnit, pRow->szDescription);
        if (cchLine > 0 && cch + (size_t)cchLine < cbText) {
            memcpy(pszText + cch, szLine, (size_t)cchLine + 1);
            cch += (size_t)cchLine;
        } else {
            DebugLogF("ERROR: The selected-recorder text is full; unit %d is not reported", (int)pRow->dwUnit);
        }
        ++nLines;
        if (strncmp(pRow->szName, DVD_R_DRIVE_NAME, strlen(DVD_R_DRIVE_NAME)) == 0) ++*pnDvdR;
        DebugLogF("u=%d dwUnit=%d %s", nRow, (int)pRow->dwUnit, pRow->szDescription);
    }
    return nLines;
}

/*
 * Rovane_Init: see rovane.h. The steps run in a fixed order; each refusal on the way tells the
 * user why and returns 0. A second call repeats every step.
 */
extern "C" LONG ROVANE_API Rovane_Init(DWORD dwHostEngine, HWND hOwner, LPCSTR pszHostName, LPCSTR pszHostText,
                                       LPCSTR pszRecorderList, LPSTR pszSelected, LPBYTE pbError,
                                       LPSTR pszProductName) {
    const char* pszKeyword = SetHostFacts(pszHostName, hOwner, dwHostEngine);
    CopyBounded(g_szHostText, sizeof g_szHostText, pszHostText);
    g_fInitialized = TRUE;
    // A host that starts the module again after ending it gets working threads again.
    g_fShutdown = 0;

    CreateLabelApp();
    // The lock is made once for the module's life: a second start-up must not re-create a lock
    // that a worker of the first may still hold.
    CreateModuleLock();
    SetModulePaths(pszKeyword);
    DebugLogF("Rovane_b.ini path: %s", g_szSettingsPath);
    DebugLog("********************* RovaneInit ***************************************");
    DebugLog("Rovane.dll Version " ROVANE_VERSION_TEXT);

    EnterCriticalSection(&g_csModule);
    g_dwJobCount = 0;
    g_dwLastJobEndTick = 0;
    g_bInputBinIndex = 0;
    LeaveCriticalSection(&g_csModule);

    CopyBounded(g_szPortName, sizeof g_szPortName, g_aszPortNames[ReadPortChoice()]);
    CopyBounded(g_szLaminatorName, sizeof g_szLaminatorName, LAMINATOR_PRINTER_NAME);

    if (g_fPrintOnlyApp) {
        // The print-only host records nothing: no recorder is read, none reported.
        ClearRecorders();
    } else {
        const int nRead = ReadRecorderList(pszRecorderList);
        if (nRead == RECORDER_LIST_INVALID) return 0;
        if (nRead == 0) {
            DebugLog("ERROR: No recorders in the host's list");
            ShowStringMessage(g_hOwnerWnd, IDS_NO_RECORDERS, IDS_TITLE, MB_ICONINFORMATION);
            return 0;
        }
        CloseTraysAtStartup();
    }

    if (!OpenRobotPort()) return 0;
    if (!FindSupportedRobot()) return 0;

    if (g_fPrintOnlyApp) {
        RunSelectPrinterDialog();
        if (g_fPrinterSelected) FindPrinter();
    } else {
        if (g_bRecorderCount == 0) {
            ShowStringMessage(g_hOwnerWnd, IDS_NO_RECORDING_DRIVES, IDS_TITLE, MB_ICONINFORMATION);
            return 0;
        }
        if (!MapRecorders()) return 0;
        ChoosePrinterAtStartup();
    }

    char szSelected[SELECTED_TEXT_SIZE];
    int nDvdR = 0;
    const int nSelected = BuildSelectedText(szSelected, sizeof szSelected, &nDvdR);
    if (nDvdR > (int)g_bApprovedDvdR) {
        char szText[160];
        snprintf(szText, sizeof szText, "This Duplicator is approved for %hu DVD-R drives.\nYou selected %hu DVD-R drives.",
                 (unsigned short)g_bApprovedDvdR, (unsigned short)nDvdR);
        DebugLog(szText);
        MessageBoxA(g_hOwnerWnd, szText, "ROVANE", MB_ICONEXCLAMATION | MB_SYSTEMMODAL);
        return 0;
    }

    CopyBounded(pszSelected, SELECTED_TEXT_SIZE, szSelected);
    if (pbError != NULL) *pbError = 0;
    CopyBounded(pszProductName, ROVANE_PRODUCT_NAME_SIZE, ROVANE_PRODUCT_NAME);

    if (g_fLaminator) {
        // The tray goes out first: it stands where the robot sets discs down at "E".
        MoveLaminatorTray(LAM_TRAY_OUT);
        DebugLog("Laminator Heater starting...");
        SendLaminatorCMD(LamHeaterCMD, LAM_COMMAND_SIZE, FALSE);
    }
    if (!g_fSureThing) ShowStringMessage(NULL, IDS_SURETHING_MISSING, IDS_TITLE, MB_SETFOREGROUND);

    const LONG lResult = (g_fPrintOnlyApp && nSelected == 0) ? ROVANE_INIT_PRINT_ONLY : (LONG)nSelected;
    DebugLogF("return %i", (int)lResult);
    return lResult;
}

// The progress dialogs (printing, laminating, the robot's status message) run on threads of
// their own that the workers' bookkeeping does not count. Left open at shutdown, such a thread
// would go on running in a library the host is about to unload, so shutdown tells them to close
// as a job's end does. The handles are read without the lock (shutdown never waits for it; a
// stale handle only makes the post fail). Returns 1 when none is open any more.
static int CancelProgressDialogs(void) {
    const HWND ahDialogs[3] = {g_hLaminatingDlg, g_hPrintingDlg, g_hMessageDlg};
    int fNoneOpen = 1;
    for (int i = 0; i < 3; ++i) {
        if (ahDialogs[i] == NULL) continue;
        fNoneOpen = 0;
        PostMessageA(ahDialogs[i], WM_COMMAND, IDCANCEL, 0);
    }
    return fNoneOpen;
}

// Waits up to ten seconds for the workers to finish, then ends those still running. The
// progress dialogs are told to close first, while no worker can yet have been ended holding the
// lock their closing takes, and again while they go (a worker may open one before it sees the
// shutdown): shutdown waits two seconds at most for them.
static void StopWorkers(void) {
    g_fShutdown = 1;
    CancelProgressDialogs();
    for (int nWait = 0; nWait < SHUTDOWN_WAITS && !AllWorkersFinished(); ++nWait) Sleep(SHUTDOWN_WAIT_MS);
    if (AllWorkersFinished()) return;
    for (int nKind = 0; nKind < WORKER_COUNT; ++nKind) {
        volatile LONG* pfDone = WorkerDoneFlag(nKind);
        if (*pfDone) continue;
        char szLine[64];
        snprintf(szLine, sizeof szLine, "WARNING: Worker thread %d did not finish; ending it", nKind);
        DebugLogNoWait(szLine);
        if (g_hWorkerThread[nKind] != NULL) TerminateThread(g_hWorkerThread[nKind], 0);
        // It cannot say so itself any more.
        *pfDone = 1;
    }
}

static void WaitForProgressDialogs(void) {
    for (int nWait = 0; nWait < DIALOG_CLOSE_WAITS && !CancelProgressDialogs(); ++nWait) Sleep(DIALOG_CLOSE_WAIT_MS);
}

/*
 * Rovane_End: see rovane.h. A worker may hold the module lock for as long as a recorder tray keeps
 * failing (and then behind the operator's box), and one ended forcibly may hold it for good, so
 * Rovane_End never waits for the lock: its own lines are written without waiting, and nothing
 * after the wait takes the lock (the robot's reset and the port's closing take none).
 */
extern "C" DWORD ROVANE_API Rovane_End(LPSTR pszText) {
    DebugLogNoWait("********************* RovaneEnd ***************************************");
    if (g_fLaminator) MoveLaminatorTray(LAM_TRAY_OUT);
    CopyBounded(pszText, ROVANE_END_TEXT_SIZE, ROVANE_END_TEXT);
    if (g_fInitialized) {
        StopWorkers();
        WaitForProgressDialogs();
    }
    if (g_hPort != INVALID_HANDLE_VALUE) {
        PortWrite("_RESET", FALSE);
        PortClose();
    }
    return 1;
}
