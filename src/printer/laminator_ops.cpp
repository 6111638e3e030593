// The laminator's operations for a job, on top of its channel: judging a status record and
// telling the user about laminator errors through the self-closing status message, bringing the
// laminator tray in or out, and waiting until a disc has been laminated.
//
// MoveLaminatorTray and WaitForLaminating run on the send thread (MoveLaminatorTray also on the
// host's thread at start-up and shutdown). They take the module lock only for short tests and
// assignments, never across a status read, a sleep or a message box.
#include "printer/laminator_ops.h"

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "foundation/status_message.h"
#include "printer/printer_state.h"
#include "resources/resource.h"

#define LAM_TRAY_POLL 200             // ms between two looks while the tray moves
#define LAM_WAIT_POLL 1000            // ms between two looks while a disc is laminated
#define LAM_WAIT_LIMIT 30000          // ms the tray may stay in before the operator is asked
#define LAM_WAIT_END_PAUSE 1000       // ms of rest after the wait, before the next command

#define LAM_MESSAGE_CAPTION "Rovane"

DWORD g_dwLaminationsLeft = 0;

// What a laminator error looks like in the log and to the operator. Only these single values
// are recognised; two errors at once match none of them.
typedef struct LamErrorReport {
    BYTE bError;
    const char* pszLogLine;
    UINT uMessageId;
} LamErrorReport;

static const LamErrorReport g_LamErrorReports[] = {
    {LAMERR_DISK_OUT, "ERROR: LAMERR_DISK_OUT", IDS_LAM_DISC_OUT},
    {LAMERR_RIBBON_OUT, "ERROR: LAMERR_RIBBON_OUT", IDS_LAM_RIBBON_EMPTY},
    {LAMERR_RIBBON_MOVE, "ERROR: LAMERR_RIBBON_MOVE", IDS_LAM_RIBBON_MOVE_ERROR},
    {LAMERR_DISK_JAM, "ERROR: LAMERR_DISK_JAM", IDS_LAM_DISC_JAM},
    {LAMERR_RIBBON_ID, "ERROR: LAMERR_RIBBON_ID", IDS_LAM_RIBBON_INVALID},
    {LAMERR_TRAY_MOVE, "ERROR: LAMERR_TRAY_MOVE", IDS_LAM_TRAY_ERROR},
    {LAMERR_ROLLER_LIFTER, "ERROR: LAMERR_ROLLER_LIFTER", IDS_LAM_ROLLER_ERROR},
    {LAMERR_HEATER_CTRL, "ERROR: LAMERR_HEATER_CTRL", IDS_LAM_HEATER_ERROR},
};

// Logs the line only while no status message is open (a persisting error is logged once), then
// shows the message; it closes by itself once the laminator is next found ready.
static void ReportLaminator(const char* pszLogLine, UINT uMessageId) {
    EnterCriticalSection(&g_csModule);
    if (g_hMessageDlg == NULL) DebugLog(pszLogLine);
    LeaveCriticalSection(&g_csModule);
    ShowRobotMessage(uMessageId, TRUE);
}

int CheckLamStatus(const LamStatus* pStatus) {
    int nReady = 0;
    if (pStatus->bLamState == 'I') {
        if (pStatus->bLamError == 0) {
            nReady = 1;
        } else {
            for (size_t i = 0; i < sizeof g_LamErrorReports / sizeof g_LamErrorReports[0]; ++i) {
                if (g_LamErrorReports[i].bError == pStatus->bLamError) {
                    ReportLaminator(g_LamErrorReports[i].pszLogLine, g_LamErrorReports[i].uMessageId);
                    break;
                }
            }
        }
    } else if (pStatus->bLamState == 'C' && pStatus->bLamError == 0) {
        ReportLaminator("COVER OPEN", IDS_LAM_COVER_OPEN);
    }
    // Busy, or the cover open with an error: nothing to tell until that changes.

    EnterCriticalSection(&g_csModule);
    if (g_hLaminatingDlg != NULL)
        SendNotifyMessageA(g_hLaminatingDlg, WM_COMMAND, IDC_LAMINATING_STATUS, (LPARAM)pStatus->bHeater);
    LeaveCriticalSection(&g_csModule);
    return nReady;
}

static int JobAborted(void) {
    EnterCriticalSection(&g_csModule);
    const int nAborted = g_fJobAborted ? 1 : 0;
    LeaveCriticalSection(&g_csModule);
    return nAborted;
}

// The tray is where cDirection wants it: in ("I" or "D") or out (empty "O" or with a disc "W").
static int LamTrayIsThere(char cDirection, BYTE bTrayStatus) {
    if (cDirection == LAM_TRAY_IN) return bTrayStatus == 'I' || bTrayStatus == 'D';
    return bTrayStatus == 'O' || bTrayStatus == 'W';
}

void MoveLaminatorTray(char cDirection) {
    if (!g_fLaminator) {
        DebugLog("MoveLaminatorTray - NO LAMINATOR - returning");
        return;
    }
    DebugLog(cDirection == LAM_TRAY_IN ? "Moving Laminator Tray IN, " : "Moving Laminator Tray OUT, ");

    LamStatus status;
    // The command goes again on every pass in which the laminator is ready and the tray is still
    // on the wrong side; a laminator that is busy or in error is only watched.
    for (;;) {
        if (GetLaminatorStatus(&status, TRUE, TRUE) && CheckLamStatus(&status)) {
            if (LamTrayIsThere(cDirection, status.bTrayStatus)) break;
            SendLaminatorCMD(cDirection == LAM_TRAY_IN ? LamTrayInCMD : LamTrayOutCMD, LAM_COMMAND_SIZE, FALSE);
        }
        if (JobAborted()) break;
        Sleep(LAM_TRAY_POLL);
    }

    // A laminator error the move has outlived closes its message.
    EnterCriticalSection(&g_csModule);
    if (MessageIsSelfClosing()) g_fCloseMessage = 1;
    LeaveCriticalSection(&g_csModule);
    DebugLog(" MoveLaminatorTray returning");
}

// Asks the operator about a lamination that went wrong: 1 for Retry, else the job is aborted.
static int AskRetryLamination(const char* pszText) {
    if (MessageBoxA(NULL, pszText, LAM_MESSAGE_CAPTION, MB_RETRYCANCEL) == IDRETRY) return 1;
    g_fJobAborted = 1;
    return 0;
}

void WaitForLaminating(LamStatus* pStatus) {
    DebugLog("->WaitForLaminating() started");
    DWORD dwStart = GetTickCount();

    // The 30 seconds run only while the laminator is ready with its tray still in; busy or in
    // error it is waited for until it recovers or the job is aborted.
    for (;;) {
        Sleep(LAM_WAIT_POLL);
        if (GetLaminatorStatus(pStatus, TRUE, TRUE) && CheckLamStatus(pStatus)) {
            if (pStatus->bTrayStatus == 'W') {
                DebugLog("===COMPLETED LAMINATING===");
                break;
            }
            if (pStatus->bTrayStatus == 'O') {
                DebugLog("Lam tray out but no disc - probably fell off");
                if (!AskRetryLamination("The disc must have fallen out of the laminator tray.\n"
                                        "Put the disc back into the laminator tray and click 'Retry'.\n"
                                        "Or click 'Cancel' to Abort the job"))
                    break;
                dwStart = GetTickCount();
            } else if (GetTickCount() - dwStart > LAM_WAIT_LIMIT) {
                DebugLog("More than 30 seconds of waiting for laminator - send Tray Out");
                if (!AskRetryLamination("Wait for lamination timed out.\n"
                                        "The lamination may or may not have completed.\n"
                                        "Click 'Retry' to continue or 'Cancel' to Abort"))
                    break;
                MoveLaminatorTray(LAM_TRAY_OUT);
                dwStart = GetTickCount();
            }
        }
        if (JobAborted()) break;
    }

    EnterCriticalSection(&g_csModule);
    if (g_hLaminatingDlg != NULL) SendNotifyMessageA(g_hLaminatingDlg, WM_COMMAND, IDCANCEL, 0);
    // A laminate-only request has nothing more in the printer: its print is over.
    if (g_fLaminateOnly) {
        DebugLog("**&&** PIP is set to FALSE (WaitForLaminating)");
        g_fPIP = 0;
    }
    LeaveCriticalSection(&g_csModule);

    DebugLog("<-WaitForLaminating returning in 1 second");
    Sleep(LAM_WAIT_END_PAUSE);
}
