// The multiple-disc move test: its dialog, the thread that runs it, and the wait for each part
// of it that the send thread plays.
//
// Each round loads a disc from the input stack into every recorder, then takes the discs out
// again one at a time (through the printer and the laminator when they are included) to the
// output bin paired with the bin each came from. The test queues no "DONE:" and changes no
// recorder move state; it does not look for discs left in the machine, so the operator is asked
// to clear them first.
#include "host/move_test.h"

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "foundation/status_message.h"
#include "host/job_reset.h"
#include "host/move_request.h"
#include "printer/printer_state.h"
#include "resources/resource.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "sequencer/command_queue.h"
#include "sequencer/error_recovery.h"
#include "sequencer/send_thread.h"
#include "setup/recorders.h"

#define TEST_POLL_INTERVAL 300  // ms between the looks at the send thread
#define MAX_DRIVE_POSITIONS 4   // "A" to "D"

WORD g_wTestDiscs = 0;

// What one test run includes, fixed when it starts.
typedef struct MoveTestPlan {
    BOOL fPrinter;
    BOOL fLaminator;
    char szPrinter[2];  // the printer tray's position letter
} MoveTestPlan;

int MoveTestRunning(void) {
    EnterCriticalSection(&g_csModule);
    const int nRunning = g_hTestDlg != NULL || g_fTestThreadDone == 0 ? 1 : 0;
    LeaveCriticalSection(&g_csModule);
    return nRunning;
}

// ---------------------------------------------------------------------------------------------
// Playing the queue.

// Starts a send thread for what is queued and waits for it to end. 1 when everything was
// played; 0 when the test dialog was closed or the job was aborted meanwhile (the job is then
// marked aborted, so that the send thread stops too).
static int RunTestQueue(void) {
    StartSendThread();
    Sleep(TEST_POLL_INTERVAL);
    EnterCriticalSection(&g_csModule);
    if (!g_fSendQueueRunning) {
        LeaveCriticalSection(&g_csModule);
        return 1;
    }
    while (g_hTestDlg != NULL && !g_fJobAborted) {
        LeaveCriticalSection(&g_csModule);
        Sleep(TEST_POLL_INTERVAL);
        EnterCriticalSection(&g_csModule);
        if (!g_fSendQueueRunning) {
            LeaveCriticalSection(&g_csModule);
            return 1;
        }
    }
    g_fJobAborted = 1;
    LeaveCriticalSection(&g_csModule);
    DebugLog("SendQueue STOPPED by user.");
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The rounds.

// Drive position i ("A", "B", "C", "D") as the recorder row there.
static int RowAtDrivePosition(int nPosition) { return (int)g_bDriveIndex[nPosition]; }

// A blank disc from the input bin in use into each of the first nDrives recorders.
static int LoadPhase(int nDrives) {
    for (int i = 0; i < nDrives; ++i) {
        char szTarget[2];
        TargetPosition(RowAtDrivePosition(i), szTarget);
        Queue_Cmd(szTarget, NULL, 0);  // the recorder's letter alone opens its tray
        Queue_Cmd("_MOVE:", NULL, 0);
        Queue_Cmd("PICKUP", NULL, 0);
        Queue_Cmd("_MOVE:", szTarget, 0);
        Queue_Cmd("DROPOFF", NULL, 0);
    }
    return RunTestQueue();
}

// The printer's part of an unload: onto the tray, tray in and out again, off the tray.
static void QueueThroughPrinter(const MoveTestPlan* pPlan) {
    Queue_Cmd("_TRAYOUT", NULL, 0);
    Queue_Cmd("_MOVE:", pPlan->szPrinter, 0);
    Queue_Cmd("DROPOFF", NULL, 0);
    Queue_Cmd("_TRAYIN", NULL, 0);
    Queue_Cmd("_PTO", NULL, 0);
    Queue_Cmd("_MOVE:", pPlan->szPrinter, 0);
    Queue_Cmd("PICKUP", NULL, 0);
    Queue_Cmd("_TRAYIN", NULL, 0);
}

// The laminator's part of an unload: onto its tray, tray in and out again, off the tray.
static void QueueThroughLaminator(void) {
    Queue_Cmd("_LAMOUT", NULL, 0);
    Queue_Cmd("_MOVE:", "E", 0);
    Queue_Cmd("DROPOFF", NULL, 0);
    Queue_Cmd("_LAMIN", NULL, 0);
    Queue_Cmd("_LAMOUT", NULL, 0);
    Queue_Cmd("PICKUP", NULL, 0);
}

// One recorder's disc to its output bin, by way of what the plan includes.
static void QueueUnload(int nRow, const MoveTestPlan* pPlan) {
    char szTarget[2];
    char szReturnBin[2];
    TargetPosition(nRow, szTarget);
    RecorderReturnBin(nRow, szReturnBin);
    Queue_Cmd("_MOVE:", szTarget, 0);
    Queue_Cmd("PICKUP", NULL, 0);
    if (pPlan->fPrinter) QueueThroughPrinter(pPlan);
    if (pPlan->fLaminator) QueueThroughLaminator();
    Queue_Cmd("_MOVE:", szReturnBin, 0);
    Queue_Cmd("DROPOFF", NULL, 0);
}

static void PostRemaining(WORD wRemaining) {
    EnterCriticalSection(&g_csModule);
    if (g_hTestDlg != NULL) PostMessageA(g_hTestDlg, WM_COMMAND, IDC_TEST_REMAINING, (LPARAM)wRemaining);
    LeaveCriticalSection(&g_csModule);
}

// The discs of the first nDrives recorders out, one disc at a time, counting each one down.
static int UnloadPhase(int nDrives, const MoveTestPlan* pPlan, WORD* pwRemaining) {
    for (int i = 0; i < nDrives; ++i) {
        QueueUnload(RowAtDrivePosition(i), pPlan);
        --*pwRemaining;
        if (!RunTestQueue()) return 0;
        PostRemaining(*pwRemaining);
    }
    return 1;
}

static const char* ClearTheMachineText(const MoveTestPlan* pPlan) {
    if (pPlan->fPrinter && pPlan->fLaminator)
        return "Before you click OK, you must remove any discs left in the Recorders, Printer, or Laminator";
    if (pPlan->fPrinter) return "Before you click OK, you must remove any discs left in the Recorders or Printer";
    if (pPlan->fLaminator) return "Before you click OK, you must remove any discs left in the Recorders or Laminator";
    return "Before you click OK, you must remove any discs left in the Recorders";
}

// Rounds until the count is reached, the test is stopped or the module shuts down. The last
// round uses only as many recorders as discs remain, so that a count that is not a multiple of
// the drive count ends exactly.
static void RunRounds(const MoveTestPlan* pPlan, WORD wRemaining) {
    int nDrives = (int)g_bRecorderCount;
    if (nDrives > MAX_DRIVE_POSITIONS) nDrives = MAX_DRIVE_POSITIONS;
    if (nDrives == 0 && wRemaining != 0) {
        DebugLog("WARNING: The robot's drive count is not known - no discs moved");
        return;
    }
    while (wRemaining != 0) {
        if (g_fShutdown) return;
        const int nRound = wRemaining < nDrives ? (int)wRemaining : nDrives;
        if (!LoadPhase(nRound)) return;
        if (!UnloadPhase(nRound, pPlan, &wRemaining)) return;
    }
}

static DWORD WINAPI MoveDiscsThread(LPVOID lpParameter) {
    (void)lpParameter;
    MoveTestPlan plan;
    EnterCriticalSection(&g_csModule);
    const WORD wRemaining = g_wTestDiscs;
    plan.fPrinter = g_fPrinterSelected;
    plan.fLaminator = g_fLaminator;
    plan.szPrinter[0] = g_szPrinterPosition[0];
    plan.szPrinter[1] = '\0';
    WorkerBegins(WORKER_TEST);
    LeaveCriticalSection(&g_csModule);

    InitGlobals();
    MessageBoxA(NULL, ClearTheMachineText(&plan), "IMPORTANT", MB_OK);
    RunRounds(&plan, wRemaining);

    DebugLog("Exiting MoveDiscsThread");
    PortWrite("_RESET", FALSE);

    // Closing the dialog this way also marks the job aborted; the next job begin resets it.
    EnterCriticalSection(&g_csModule);
    if (g_hTestDlg != NULL) PostMessageA(g_hTestDlg, WM_COMMAND, IDCANCEL, 0);
    WorkerEnds(WORKER_TEST);
    LeaveCriticalSection(&g_csModule);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The dialog.

static void InitMoveTestDialog(HWND hDlg) {
    EnterCriticalSection(&g_csModule);
    const WORD wDiscs = g_wTestDiscs;
    g_bInputBinIndex = 0;
    g_hTestDlg = hDlg;
    LeaveCriticalSection(&g_csModule);
    SetDlgItemInt(hDlg, IDC_TEST_TOTAL, wDiscs, FALSE);
    SetDlgItemInt(hDlg, IDC_TEST_REMAINING, wDiscs, FALSE);

    HANDLE hThread = CreateThread(NULL, 0, MoveDiscsThread, NULL, 0, NULL);
    if (hThread == NULL) {
        DebugLogF("ERROR: Unable to start the move test thread. Error=%lu", (unsigned long)GetLastError());
        return;
    }
    EnterCriticalSection(&g_csModule);
    WorkerStarted(WORKER_TEST, hThread);
    LeaveCriticalSection(&g_csModule);
}

// "Stop Test", or the test thread's own Cancel at its end.
static void StopMoveTest(HWND hDlg) {
    EnterCriticalSection(&g_csModule);
    g_hTestDlg = NULL;
    g_fJobAborted = 1;
    if (g_hMessageDlg != NULL) g_fCloseMessage = 1;
    LeaveCriticalSection(&g_csModule);
    EndDialog(hDlg, IDCANCEL);
}

static INT_PTR CALLBACK MoveTestDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
        case WM_INITDIALOG:
            InitMoveTestDialog(hDlg);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_TEST_REMAINING:
                    // The test thread's count after each disc.
                    SetDlgItemInt(hDlg, IDC_TEST_REMAINING, (UINT)lParam, FALSE);
                    return TRUE;
                case IDCANCEL: StopMoveTest(hDlg); return TRUE;
            }
            return FALSE;
    }
    return FALSE;
}

void RunMoveTestDialog(void) {
    DebugLogF("Multiple disc move test: %u discs", (unsigned)g_wTestDiscs);
    const INT_PTR nResult =
        DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_MOVE_TEST), g_hOwnerWnd, MoveTestDlgProc, 0);
    if (nResult == -1)
        DebugLogF("ERROR: The move test dialog could not be shown (%lu)", (unsigned long)GetLastError());
}
