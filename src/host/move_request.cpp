// Rovane_PostMoveDisc: the host's request to move one disc. The request moves nothing itself: it
// turns the action code into a fixed sequence of queue commands, marks the recorder's move as
// pending and starts the send thread when none runs.
#include <stdio.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "host/move_request.h"
#include "printer/printer_state.h"
#include "rovane.h"
#include "sequencer/command_queue.h"
#include "sequencer/send_thread.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"

#define REJECT_CAPACITY 25  // discs one reject position holds

// The actions a request may carry.
#define MOVE_LOAD 100
#define MOVE_LOAD_FOR_STREAM 101
#define MOVE_UNLOAD 200
#define MOVE_UNLOAD_NO_ERROR 201
#define MOVE_REJECT 300
#define MOVE_REJECT_NO_ERROR 301
#define MOVE_RECORDER_TO_PRINTER 400
#define MOVE_PRINTER_TO_RECORDER 410
#define MOVE_PRINTER_TO_REJECT 420
#define MOVE_UNSUPPORTED_500 500
#define MOVE_UNSUPPORTED_600 600
#define MOVE_PRINTER_TO_OUTPUT 700
#define MOVE_INPUT_TO_PRINTER 1000
#define MOVE_INPUT_TO_PRINTER_2 1001

typedef void (*QueueFunction)(const char* pszPrefix, const char* pszSuffix, char cLetter);

// One request's view of its recorder: its row, position text, return bin and "DONE:" character.
typedef struct MoveTarget {
    int nRow;
    char szPosition[2];
    char szReturnBin[2];
    char cDoneDigit;
} MoveTarget;

static void SetNoErrorMode(LONG fOn) {
    EnterCriticalSection(&g_csModule);
    g_fNoErrorMode = fOn;
    LeaveCriticalSection(&g_csModule);
}

// The single-recorder unit gives its one recorder no position text; its drive index for "A"
// points at it, so its requests go to "A".
void TargetPosition(int nRow, char* pszPosition) {
    pszPosition[0] = g_szPosition[nRow].szPosition[0];
    pszPosition[1] = '\0';
    if (pszPosition[0] == '\0') {
        DebugLogF("NOTE: Recorder %d has no position of its own - it is reached at A", nRow);
        pszPosition[0] = 'A';
    }
}

// A recorder whose load was never confirmed has no return bin; its disc goes to the output bin
// of the input bin in use rather than back onto a stack of blanks.
void RecorderReturnBin(int nRow, char* pszBin) {
    pszBin[0] = (char)g_szPosition[nRow].bReturnBin;
    pszBin[1] = '\0';
    if (pszBin[0] == '\0') {
        const BYTE bBin = g_bInputBinIndex < 4 ? g_bInputBinIndex : 0;
        pszBin[0] = g_szOutputBins[bBin];
        DebugLogF("WARNING: Recorder %d has no return bin - its disc goes to %c", nRow, pszBin[0]);
    }
}

static void ResolveReturnBin(MoveTarget* pTarget) { RecorderReturnBin(pTarget->nRow, pTarget->szReturnBin); }

const char* TrayInStep(void) {
    if (PrinterNameBegins(g_szPrinterName, MODEL_TESSIK_6)) {
        DebugLog("Queueing z6 Move Printer tray and wait");
        return "_PTI";
    }
    return "_TRAYIN";
}

// The reject position of actions 300 and 301: "G", then "H" (not with the laminator, whose
// tray stands there), each holding 25 discs. A full position asks the operator; 0 when the job
// was aborted instead, else 1 with *pszReject filled.
static int ChooseRejectPosition(char* pszReject) {
    pszReject[1] = '\0';
    if (g_bRejectCount < REJECT_CAPACITY) {
        ++g_bRejectCount;
        pszReject[0] = 'G';
        return 1;
    }
    if (!g_fLaminator && g_bReject2Count < REJECT_CAPACITY) {
        ++g_bReject2Count;
        pszReject[0] = 'H';
        return 1;
    }
    const char* pszText = g_fLaminator
                              ? "The reject position is full.\nClick Retry after clearing or Cancel to abort job."
                              : "The reject positions are full.\nClick Retry after clearing or Cancel to abort job.";
    if (MessageBoxA(NULL, pszText, g_szHostTitle, MB_RETRYCANCEL) != IDRETRY) {
        DebugLog("Reject position full - job aborted");
        MarkJobAborted(NULL);
        return 0;
    }
    // The operator has emptied the full position(s).
    g_bRejectCount = 0;
    if (!g_fLaminator) g_bReject2Count = 0;
    ++g_bRejectCount;
    pszReject[0] = 'G';
    return 1;
}

// A recorder whose tray was closed empty is marked closed with its disc, so that the send
// thread opens it again, after its settle time, before the pick.
static void PrepareRejectTray(int nRow) {
    if (g_Recorders[nRow].bTrayState == TRAY_STATE_CLOSED_EMPTY) {
        g_Recorders[nRow].bTrayState = TRAY_STATE_CLOSED_WITH_DISC;
        g_dwTrayTick[nRow] = GetTickCount();
    }
}

// One disc carried from one position to another, then the request is done.
static void QueueCarry(QueueFunction Queue, const char* pszFrom, const char* pszTo, char cDoneDigit) {
    Queue("_MOVE:", pszFrom, 0);
    Queue("PICKUP", NULL, 0);
    Queue("_MOVE:", pszTo, 0);
    Queue("DROPOFF", NULL, 0);
    Queue("DONE:", NULL, cDoneDigit);
}

void QueueCarryToPrinter(const char* pszFrom, const char* pszPrinter) {
    Queue_Cmd("_MOVE:", pszFrom, 0);
    Queue_Cmd("PICKUP", NULL, 0);
    Queue_Cmd("_TRAYOUT", NULL, 0);
    Queue_Cmd("_MOVE:", pszPrinter, 0);
    Queue_Cmd("DROPOFF", NULL, 0);
    Queue_Cmd(TrayInStep(), NULL, 0);
}

// One disc carried onto the printer's tray, then the request is done.
static void QueueToPrinter(const char* pszFrom, const char* pszPrinter, char cDoneDigit) {
    QueueCarryToPrinter(pszFrom, pszPrinter);
    Queue_Cmd("DONE:", NULL, cDoneDigit);
}

// Queues the action's sequence; returns its log name (NULL for none) and whether it sets the
// no-error mode.
static const char* QueueAction(LONG lAction, MoveTarget* pTarget, QueueFunction Either, LONG* pfNoError) {
    const char szPrinter[2] = {g_szPrinterPosition[0], '\0'};
    *pfNoError = 0;
    switch (lAction) {
        case MOVE_LOAD:
        case MOVE_LOAD_FOR_STREAM:
            // The recorder's letter alone opens its tray while the arm fetches a blank disc.
            Either(pTarget->szPosition, NULL, 0);
            Either("_MOVE:", NULL, 0);
            Either("PICKUP", NULL, 0);
            Either("_MOVE:", pTarget->szPosition, 0);
            Either("DROPOFF", NULL, 0);
            Either("DONE:", NULL, pTarget->cDoneDigit);
            *pfNoError = lAction == MOVE_LOAD_FOR_STREAM;
            return lAction == MOVE_LOAD ? "Load" : "Load for Stream";
        case MOVE_UNLOAD:
        case MOVE_UNLOAD_NO_ERROR:
            ResolveReturnBin(pTarget);
            QueueCarry(Queue_Cmd, pTarget->szPosition, pTarget->szReturnBin, pTarget->cDoneDigit);
            *pfNoError = lAction == MOVE_UNLOAD_NO_ERROR;
            return lAction == MOVE_UNLOAD ? "Unload" : "Unload (no error)";
        case MOVE_REJECT:
        case MOVE_REJECT_NO_ERROR: {
            PrepareRejectTray(pTarget->nRow);
            char szReject[2];
            if (ChooseRejectPosition(szReject)) QueueCarry(Either, pTarget->szPosition, szReject, pTarget->cDoneDigit);
            *pfNoError = lAction == MOVE_REJECT_NO_ERROR;
            return lAction == MOVE_REJECT ? "Reject" : "Reject (no error)";
        }
        case MOVE_RECORDER_TO_PRINTER:
            ResolveReturnBin(pTarget);
            g_bOutputPosition = pTarget->szReturnBin[0];
            QueueToPrinter(pTarget->szPosition, szPrinter, pTarget->cDoneDigit);
            return "Unload";
        case MOVE_PRINTER_TO_RECORDER:
            ResolveReturnBin(pTarget);
            g_bOutputPosition = pTarget->szReturnBin[0];
            Queue_Cmd(pTarget->szPosition, NULL, 0);
            Queue_Cmd("_TRAYOUT", NULL, 0);
            Queue_Cmd("_MOVE:", szPrinter, 0);
            Queue_Cmd("PICKUP", NULL, 0);
            Queue_Cmd(TrayInStep(), NULL, 0);
            Queue_Cmd("_MOVE:", pTarget->szPosition, 0);
            Queue_Cmd("DROPOFF", NULL, 0);
            Queue_Cmd("DONE:", NULL, pTarget->cDoneDigit);
            return "Unload";
        case MOVE_PRINTER_TO_REJECT: {
            // No full-position question here: "H" takes over once "G" holds 25.
            const char* pszReject = "G";
            if (g_bRejectCount < REJECT_CAPACITY) {
                ++g_bRejectCount;
            } else {
                pszReject = "H";
                ++g_bReject2Count;
            }
            Either("_TRAYOUT", NULL, 0);
            Either("_MOVE:", szPrinter, 0);
            Either("PICKUP", NULL, 0);
            Either("_PTI", NULL, 0);
            Either("_MOVE:", pszReject, 0);
            Either("DROPOFF", NULL, 0);
            Either("DONE:", NULL, pTarget->cDoneDigit);
            return NULL;
        }
        case MOVE_UNSUPPORTED_500:
        case MOVE_UNSUPPORTED_600: {
            char szText[64];
            snprintf(szText, sizeof szText, "PostMoveDisc %lu is not supported!", (unsigned long)lAction);
            MessageBoxA(NULL, szText, g_szHostTitle, MB_OK);
            return NULL;
        }
        case MOVE_PRINTER_TO_OUTPUT: {
            const char szOutput[2] = {g_bOutputPosition, '\0'};
            QueueCarry(Queue_Cmd, szPrinter, szOutput, pTarget->cDoneDigit);
            return NULL;
        }
        case MOVE_INPUT_TO_PRINTER:
        case MOVE_INPUT_TO_PRINTER_2:
            QueueToPrinter(NULL, szPrinter, pTarget->cDoneDigit);
            return NULL;
        default:
            // Not an action of the module: nothing is queued, and the host's poll reports 4 once
            // the send thread has nothing left to do.
            DebugLogF("WARNING: PostMoveDisc %ld is not an action - nothing queued", (long)lAction);
            return NULL;
    }
}

/*
 * Rovane_PostMoveDisc: see rovane.h. 0 when dwUnit is not a recorder of the table (nothing
 * changes); 1 otherwise, also for actions that queue nothing.
 */
extern "C" LONG ROVANE_API Rovane_PostMoveDisc(DWORD dwUnit, LONG dwAction, DWORD dwIgnored1, DWORD dwIgnored2) {
    (void)dwIgnored1;
    (void)dwIgnored2;
    const int nRow = FindRecorderRow((LONG)dwUnit);
    if (nRow < 0) return 0;

    SetNoErrorMode(0);
    DebugLogF("** PostMoveDisc %lu  u=%d  dwUnit=%lu", (unsigned long)dwAction, nRow, (unsigned long)dwUnit);

    MoveTarget target;
    target.nRow = nRow;
    TargetPosition(nRow, target.szPosition);
    target.szReturnBin[0] = '\0';
    // The row as the character "0" plus the row: a digit for the rows the robot serves.
    target.cDoneDigit = (char)('0' + nRow);

    EnterCriticalSection(&g_csModule);
    const QueueFunction Either = g_fUsePrinterQueue ? PRN_Queue : Queue_Cmd;
    LeaveCriticalSection(&g_csModule);

    LONG fNoError = 0;
    const char* pszLogName = QueueAction(dwAction, &target, Either, &fNoError);
    if (pszLogName != NULL) {
        DebugLog(pszLogName);
        SetNoErrorMode(fNoError);
    }

    EnterCriticalSection(&g_csModule);
    g_Recorders[nRow].dwMoveState = MOVE_STATE_POSTED;
    LeaveCriticalSection(&g_csModule);
    StartSendThread("Post_move now calling SendQueueThread");
    return 1;
}
