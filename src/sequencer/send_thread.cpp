// The send thread: one background thread that plays the global and the printer queue out to the
// robot. Every pass (at least 300 ms apart) it asks the robot for its status; only when the robot
// is idle without error does it verify the previous command, take the next one, prepare it and
// send it. It ends by itself once both queues are used up, after the abort sequence when the job
// was aborted, or at module shutdown.
#include "sequencer/send_thread.h"

#include <stdio.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "foundation/status_message.h"
#include "printer/laminator_channel.h"
#include "printer/laminator_ops.h"
#include "printer/printer_state.h"
#include "robot/serial_port.h"
#include "sequencer/arm_state.h"
#include "sequencer/command_queue.h"
#include "sequencer/command_steps.h"
#include "sequencer/error_recovery.h"
#include "setup/tray_control.h"

#define SEND_PASS_INTERVAL 300  // ms between two passes

int StartSendThread(const char* pszStartLog) {
    int nStarted = 0;
    EnterCriticalSection(&g_csModule);
    if (!g_fSendQueueRunning) {
        g_fSendQueueRunning = 1;
        if (pszStartLog != NULL) DebugLog(pszStartLog);
        HANDLE hThread = CreateThread(NULL, 0, SendQueueThread, NULL, 0, NULL);
        if (hThread != NULL) {
            WorkerStarted(WORKER_SEND, hThread);
            nStarted = 1;
        } else {
            // Without a thread nothing would ever clear the running flag and no later request
            // could start one; leave it clear so that the next request tries again.
            g_fSendQueueRunning = 0;
            DebugLogF("ERROR: Unable to start the send thread. Error=%lu", (unsigned long)GetLastError());
        }
    }
    LeaveCriticalSection(&g_csModule);
    return nStarted;
}

// Ends the thread's life under the lock: the queues are emptied (their write indexes back to 0)
// and the flags say that no send thread runs. The caller holds the lock.
static void EndOfQueuesLocked(void) {
    g_bCmdIndex = 0;
    g_bPRN_Index = 0;
    g_fSendQueueRunning = 0;
    g_fUsePrinterQueue = 0;
    WorkerEnds(WORKER_SEND);
}

// While the laminator is in use, every command waits until it is ready too: its status is read
// into *pLamStatus (for the preparation and verification of this pass) and judged, which shows
// a laminator error or an open cover. Without the laminator the answer is always yes.
static int LaminatorReady(LamStatus* pLamStatus) {
    if (!g_fLaminator) return 1;
    return GetLaminatorStatus(pLamStatus, TRUE, TRUE) && CheckLamStatus(pLamStatus);
}

DWORD WINAPI SendQueueThread(LPVOID lpParameter) {
    (void)lpParameter;
    DebugLog("-->SendQueueThread() called");
    EnterCriticalSection(&g_csModule);
    const BYTE bStartGlobal = g_bCmdIndex;
    const BYTE bStartPrinter = g_bPRN_Index;
    WorkerBegins(WORKER_SEND);
    LeaveCriticalSection(&g_csModule);
    DebugLogF("g_bCmdIndex=%hu  g_bPRN_Index=%hu", (unsigned short)bStartGlobal, (unsigned short)bStartPrinter);

    BYTE bGlobalCursor = 0;
    BYTE bPrinterCursor = 0;
    char szCommand[COMMAND_BUFFER_SIZE] = "";
    int nSource = QUEUE_GLOBAL;
    int nPrepared = PREPARED_FOR_ROBOT;
    BOOL fVerify = TRUE;
    int nResend = 0;
    RoboStatus status;
    memset(&status, 0, sizeof status);
    status.bRoboState = 'B';
    LamStatus lamStatus;
    memset(&lamStatus, 0, sizeof lamStatus);
    lamStatus.bLamState = 'B';

    BOOL fAbort = FALSE;
    BOOL fEnded = FALSE;  // the lock-held end of step "queues used up" already ran
    if (g_fShutdown) goto end;

    for (;;) {
        BYTE* pbSourceCursor = nSource == QUEUE_PRINTER ? &bPrinterCursor : &bGlobalCursor;
        if (GetSystemStatus(&status) && RoboErrorCheck(&status, &fVerify, pbSourceCursor) &&
            LaminatorReady(&lamStatus)) {
            // The robot is idle without error: a self-closing status message has done its job.
            EnterCriticalSection(&g_csModule);
            if (MessageIsSelfClosing()) g_fCloseMessage = 1;
            LeaveCriticalSection(&g_csModule);

            // The cursor may have been moved back by recovery; verification works on the same one.
            pbSourceCursor = nSource == QUEUE_PRINTER ? &bPrinterCursor : &bGlobalCursor;
            if (szCommand[0] != '\0' && fVerify && nPrepared != PREPARED_NOTHING_TO_SEND)
                nResend = POSTCommandProcess(status, &lamStatus, pbSourceCursor);

            // Choose what to send. Reading the write indexes, deciding that both queues are used
            // up and emptying them happen in one hold of the lock, so that a command appended
            // meanwhile is either seen here or finds the running flag cleared and starts a new
            // thread.
            BOOL fPrepare = FALSE;
            EnterCriticalSection(&g_csModule);
            const BYTE bGlobalCount = g_bCmdIndex;
            const BYTE bPrinterCount = g_bPRN_Index;
            if (bGlobalCursor >= bGlobalCount && bPrinterCursor < bPrinterCount) g_fUsePrinterQueue = 1;
            if (nResend) {
                nResend = 0;  // the command buffer goes out again as it is
            } else if (bGlobalCursor < bGlobalCount) {
                memcpy(szCommand, g_szGlobalQueue[bGlobalCursor], QUEUE_ENTRY_SIZE);
                szCommand[QUEUE_ENTRY_SIZE - 1] = '\0';
                ++bGlobalCursor;
                nSource = QUEUE_GLOBAL;
                fPrepare = TRUE;
            } else if (bPrinterCursor < bPrinterCount) {
                memcpy(szCommand, g_szPrinterQueue[bPrinterCursor], QUEUE_ENTRY_SIZE);
                szCommand[QUEUE_ENTRY_SIZE - 1] = '\0';
                ++bPrinterCursor;
                nSource = QUEUE_PRINTER;
                fPrepare = TRUE;
            } else {
                EndOfQueuesLocked();
                fEnded = TRUE;
            }
            LeaveCriticalSection(&g_csModule);
            if (fEnded) goto end;

            if (fPrepare) {
                if (nSource == QUEUE_GLOBAL) {
                    DebugLogF("Next GLOBAL CMD = %s   bIndex=%hu", szCommand, (unsigned short)bGlobalCursor);
                    nPrepared = PreCommandProcess(szCommand, &status, &bGlobalCursor, QUEUE_GLOBAL, &lamStatus);
                } else {
                    DebugLogF("Next PRINT CMD = %s   bIndex2=%hu", szCommand, (unsigned short)bPrinterCursor);
                    nPrepared = PreCommandProcess(szCommand, &status, &bPrinterCursor, QUEUE_PRINTER, &lamStatus);
                }
            }

            // An abort asked for while the command was prepared stops it from going out.
            EnterCriticalSection(&g_csModule);
            fAbort = g_fJobAborted ? TRUE : FALSE;
            LeaveCriticalSection(&g_csModule);
            if (fAbort) break;

            if (nPrepared == PREPARED_FOR_ROBOT) {
                PortWrite(szCommand, TRUE);
                DebugLogF(">>Sent CMD = %s", szCommand);
            } else if (nPrepared == PREPARED_FOR_LAMINATOR) {
                SendLaminatorCMD((const BYTE*)szCommand, LAM_COMMAND_SIZE, TRUE);
            }
        }

        Sleep(SEND_PASS_INTERVAL);
        EnterCriticalSection(&g_csModule);
        fAbort = g_fJobAborted ? TRUE : FALSE;
        const BOOL fShutdown = g_fShutdown ? TRUE : FALSE;
        LeaveCriticalSection(&g_csModule);
        if (fAbort || fShutdown) break;
    }

    if (fAbort) AbortJob(&status);

end:
    if (!fEnded) {
        EnterCriticalSection(&g_csModule);
        EndOfQueuesLocked();
        LeaveCriticalSection(&g_csModule);
    }
    DebugLog("SendQueueThread() RETURNING-->");
    return 0;
}
