// Rovane_JobBeginsOrEnds: the bracket around every job of the host. A begin waits for the
// previous job's commands, makes sure robot and laminator are ready, decides whether the job
// continues the previous one, resets the job state, closes the recorder trays and queues the
// clearing of discs left behind. An end waits for the queued commands, closes the progress
// dialogs and resets the robot when no job is left; an abort stops everything at once.
#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "foundation/status_message.h"
#include "host/job_reset.h"
#include "printer/laminator_channel.h"
#include "printer/printer_select.h"
#include "printer/printer_state.h"
#include "printer/printer_tray.h"
#include "resources/resource.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "rovane.h"
#include "sequencer/command_queue.h"
#include "sequencer/error_recovery.h"
#include "setup/options_dialog.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"

#define JOB_WAIT_POLL_MS 250       // polls of the previous job's send thread and dialogs
#define ROBOT_READY_POLL_MS 300    // polls of the robot at a begin
#define ROBOT_READY_GRACE_MS 10000 // how long a begin waits for a busy or silent robot
#define CONCURRENT_JOB_MS 5000     // a begin this soon after an end continues the job

static const char g_szReturningOk[] = "JobBeginsOrEnds returning OK";

static int AskRetryCancel(UINT uMessageId) {
    return ShowStringMessage(g_hOwnerWnd, uMessageId, IDS_TITLE, MB_RETRYCANCEL | MB_ICONINFORMATION);
}

// Closes the recorder trays at A and B, and at C and D on a unit with more than two drives.
static void CloseJobTrays(void) {
    const int nPositions = g_bRecorderCount > 2 ? 4 : 2;
    for (int nPos = 0; nPos < nPositions; ++nPos) {
        const int nRow = RecorderRowAt((char)('A' + nPos));
        if (nRow >= 0 && nRow < (int)g_wRecorderRows) OpenCloseTray(1, (DWORD)nRow, TRAY_STATE_CLOSED_EMPTY);
    }
}

// Ends the dialogs of a job: each that is open gets the Cancel command. The caller holds the
// lock.
static void CancelJobDialogsLocked(void) {
    HWND ahDialogs[3] = {g_hLaminatingDlg, g_hPrintingDlg, g_hMessageDlg};
    for (int i = 0; i < 3; ++i)
        if (ahDialogs[i] != NULL) PostMessageA(ahDialogs[i], WM_COMMAND, IDCANCEL, 0);
}

// One job less; the robot is reset when none is left.
static void CountJobDown(void) {
    if (g_dwJobCount != 0) --g_dwJobCount;
    if (g_dwJobCount == 0) PortWrite("_RESET", FALSE);
}

// Waits until the robot is idle without error, asking the operator when it is not. 1 when it is
// ready, 0 when the operator cancelled.
static int WaitForRobotReady(DWORD dwStart, RoboStatus* pStatus) {
    for (;;) {
        if (!GetSystemStatus(pStatus)) {
            if (GetTickCount() - dwStart <= ROBOT_READY_GRACE_MS) {
                Sleep(ROBOT_READY_POLL_MS);
                continue;
            }
            if (AskRetryCancel(IDS_NO_RESPONSE) == IDCANCEL) return 0;
            RunOptionsDialog();
            Sleep(ROBOT_READY_POLL_MS);
            continue;
        }
        if (pStatus->bRoboState == 'I') {
            if (pStatus->bError == '.') return 1;
            // An error is the operator's to clear at the robot: ask at once.
            if (AskRetryCancel(IDS_ROBOT_ERROR_AT_JOB_BEGIN) == IDCANCEL) return 0;
            Sleep(ROBOT_READY_POLL_MS);
            continue;
        }
        if (GetTickCount() - dwStart <= ROBOT_READY_GRACE_MS) {
            Sleep(ROBOT_READY_POLL_MS);
            continue;
        }
        UINT uMessage = IDS_ROBOT_NOT_READY;
        if (pStatus->bRoboState == 'B') uMessage = IDS_COMM_BUSY;
        if (pStatus->bRoboState == 'W') uMessage = IDS_COMM_WAITING_FOR_PRINTER;
        if (pStatus->bRoboState == 'P') uMessage = IDS_COMM_PAUSED;
        if (AskRetryCancel(uMessage) == IDCANCEL) return 0;
        if (uMessage == IDS_ROBOT_NOT_READY) RunOptionsDialog();
        Sleep(ROBOT_READY_POLL_MS);
    }
}

// The laminator and the bins. 0 when the laminator is in use but cannot be reached.
static int CheckLaminatorAndBins(BOOL fConcurrentJob) {
    LamStatus lam;
    if (g_fLaminator) {
        if (!GetLaminatorStatus(&lam, FALSE, TRUE)) {
            DebugLog("Problem talking to laminator - User ABORTED");
            return 0;
        }
        if (lam.bTrayStatus == 'D' || lam.bTrayStatus == 'W') {
            DebugLog("Disc left in laminator - queue commands to remove");
            if (lam.bTrayStatus == 'D') Queue_Cmd("_LAMOUT", NULL, 0);
            Queue_Cmd("_MOVE:", "E", 0);
            Queue_Cmd("PICKUP", NULL, 0);
            Queue_Cmd("_MOVE:", "G", 0);
            Queue_Cmd("DROPOFF", NULL, 0);
            ++g_bRejectCount;
        }
        return 1;
    }
    if (!PrinterExists(LAMINATOR_PRINTER_NAME)) return 1;
    if (GetLaminatorStatus(&lam, FALSE, FALSE)) {
        if (lam.bTrayStatus != 'I' && lam.bTrayStatus != 'D') {
            DebugLog("Laminator tray out - send it IN");
            SendLaminatorCMD(LamTrayInCMD, LAM_COMMAND_SIZE, FALSE);
        }
        return 1;
    }
    // Installed but silent: its tray may stand where the fourth input bin is.
    if (!fConcurrentJob &&
        ShowStringMessage(g_hOwnerWnd, IDS_USE_ALL_FOUR_BINS, IDS_TITLE, MB_YESNO | MB_ICONINFORMATION) == IDNO) {
        DebugLog("User selected to use only 3 bins");
        LoadBinTables(TRUE);
    }
    return 1;
}

static LONG BeginJob(DWORD dwHowMany) {
    const DWORD dwStart = GetTickCount();
    DebugLog("+++++++++++ Job Begins +++++++++++++++++++");
    for (;;) {
        DebugLog("Wait for previous job");
        EnterCriticalSection(&g_csModule);
        const BOOL fBusy = g_fSendQueueRunning || g_hMessageDlg != NULL;
        LeaveCriticalSection(&g_csModule);
        if (!fBusy) break;
        Sleep(JOB_WAIT_POLL_MS);
    }
    DebugLog("Previous jobs done");

    if (g_fLaminator) {
        DebugLog("Laminator is selected - make sure we can talk to it.");
        LamStatus lam;
        if (!GetLaminatorStatus(&lam, FALSE, TRUE)) {
            DebugLog("Can't talk to laminator - User ABORTED");
            return ROVANE_JOB_CANNOT_START;
        }
        DebugLog("Laminator Heater starting...");
        SendLaminatorCMD(LamHeaterCMD, LAM_COMMAND_SIZE, FALSE);
    }

    const BOOL fConcurrentJob = g_dwJobCount != 0 || GetTickCount() - g_dwLastJobEndTick < CONCURRENT_JOB_MS;
    DebugLog(fConcurrentJob ? "ConcurrentJob = TRUE" : "ConcurrentJob = FALSE");
    ++g_dwJobCount;
    if (!fConcurrentJob) {
        if (g_bInputBinIndex != 0 &&
            ShowStringMessage(g_hOwnerWnd, IDS_START_AT_INITIAL_BIN, IDS_TITLE, MB_YESNO | MB_ICONINFORMATION) == IDYES)
            g_bInputBinIndex = 0;
        g_bRejectCount = 0;
        g_bReject2Count = 0;
    }
    g_dwHowMany = dwHowMany;

    RoboStatus status;
    if (!WaitForRobotReady(dwStart, &status)) return ROVANE_JOB_CANNOT_START;
    DebugLog("Robot IDLE with NO_ERRORS");
    InitGlobals();

    if (!g_fPrintOnlyApp) {
        DebugLog("Closing the drives");
        CloseJobTrays();
    }
    if (!CheckLaminatorAndBins(fConcurrentJob)) return ROVANE_JOB_CANNOT_START;

    // The clearing commands below are played before the job's first move, when its request
    // starts the send thread.
    DebugLog("Move Printer tray in to look for disc");
    MovePrinterTray(TRAY_IN, &status);
    if (status.bPicker == 'O') {
        DebugLog("Disc left on picker - we must queue command to reject");
        if (g_fLaminator) {
            Queue_Cmd("_MOVE:", "G", 0);
            ++g_bRejectCount;
        }
        Queue_Cmd("DROPOFF", NULL, 0);
    }
    if (status.bPrinterTray == 'D') {
        DebugLog("Disc left in printer - queue commands to reject");
        Queue_Cmd("_TRAYOUT", NULL, 0);
        Queue_Cmd("_MOVE:", g_szPrinterPosition, 0);
        Queue_Cmd("PICKUP", NULL, 0);
        Queue_Cmd("_PTI", NULL, 0);
        Queue_Cmd("_MOVE:", "G", 0);
        Queue_Cmd("DROPOFF", NULL, 0);
        ++g_bRejectCount;
    }
    DebugLog(g_szReturningOk);
    return ROVANE_JOB_OK;
}

static LONG EndJob(void) {
    EnterCriticalSection(&g_csModule);
    if (!g_fPrintOnlyApp && g_hMessageDlg == NULL && g_fSendQueueRunning) ShowRobotMessage(IDS_WAITING_FOR_PRINTING, TRUE);
    while (g_fSendQueueRunning) {
        LeaveCriticalSection(&g_csModule);
        Sleep(JOB_WAIT_POLL_MS);
        EnterCriticalSection(&g_csModule);
    }
    if (g_hMessageDlg != NULL) g_fCloseMessage = 1;
    LeaveCriticalSection(&g_csModule);

    EnterCriticalSection(&g_csModule);
    CancelJobDialogsLocked();
    LeaveCriticalSection(&g_csModule);

    CountJobDown();
    g_dwLastJobEndTick = GetTickCount();
    DebugLog("Closing the drives");
    CloseJobTrays();
    DebugLog(g_szReturningOk);
    return ROVANE_JOB_OK;
}

static LONG AbortJobRequest(void) {
    EnterCriticalSection(&g_csModule);
    g_fJobAborted = 1;
    CountJobDown();
    g_dwLastJobEndTick = GetTickCount();
    CancelJobDialogsLocked();
    LeaveCriticalSection(&g_csModule);
    DebugLog(g_szReturningOk);
    return ROVANE_JOB_OK;
}

/*
 * Rovane_JobBeginsOrEnds: see rovane.h. Any other code logs its call and returns 1.
 */
extern "C" LONG ROVANE_API Rovane_JobBeginsOrEnds(DWORD dwIgnored, DWORD dwHowMany, LONG dwCode) {
    (void)dwIgnored;
    DebugLogF("JobBeginsOrEnds %lu   dwHowMany=%lu", (unsigned long)dwCode, (unsigned long)dwHowMany);
    // Before start-up the module lock does not exist yet, and entering a section nobody
    // initialized waits for ever on Windows: a begin then cannot start, and an end or an abort
    // has nothing to end.
    if (!ModuleLockExists() && (dwCode == ROVANE_JOB_BEGIN || dwCode == ROVANE_JOB_END || dwCode == ROVANE_JOB_ABORT)) {
        DebugLog("JobBeginsOrEnds before Rovane_Init: nothing done");
        return dwCode == ROVANE_JOB_BEGIN ? ROVANE_JOB_CANNOT_START : ROVANE_JOB_OK;
    }
    switch (dwCode) {
        case ROVANE_JOB_BEGIN: return BeginJob(dwHowMany);
        case ROVANE_JOB_END: return EndJob();
        case ROVANE_JOB_ABORT: return AbortJobRequest();
        default:
            DebugLog(g_szReturningOk);
            return ROVANE_JOB_OK;
    }
}
