// Robot error recovery and the job abort sequence. On every pass of the send thread the robot's
// fresh status comes here first: recovery fixes what it can by itself (the next input bin when
// one runs empty, a second chance for a recorder the arm found no disc in) and otherwise tells
// the operator through the status message dialog; the send thread waits meanwhile.
#include "sequencer/error_recovery.h"

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "foundation/status_message.h"
#include "printer/printer_tray.h"
#include "resources/resource.h"
#include "robot/serial_port.h"
#include "sequencer/arm_state.h"
#include "sequencer/command_queue.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"

#define RECORDER_RETRY_PAUSE 15000  // ms a recorder's tray stays closed before the second try
#define REJECT_MOVE_PAUSE 100       // ms after the move to the reject position is sent

static int MessageDialogOpen(void) {
    EnterCriticalSection(&g_csModule);
    const int nOpen = g_hMessageDlg != NULL ? 1 : 0;
    LeaveCriticalSection(&g_csModule);
    return nOpen;
}

// An error the operator has to see: logged once (not again while its message is up), then shown.
static void Report(const char* pszLog, UINT uMessageId) {
    if (!MessageDialogOpen()) DebugLog(pszLog);
    ShowRobotMessage(uMessageId, TRUE);
}

static int ValidRow(int nRow) { return nRow >= 0 && nRow < (int)g_wRecorderRows && nRow < MAX_RECORDERS; }

// The arm found no disc in the recorder it was sent to, right after a confirmed pick-up
// elsewhere: the disc may not have been seated. Close the tray, give the drive time, open it
// again and take the pick-up once more.
static void RetryRecorder(const char* pszLog, RoboStatus* pStatus, BOOL* pfVerify, BYTE* pbCursor) {
    DebugLogSecondary(pszLog);
    DebugLog(pszLog);
    KillError(pStatus);
    const int nRow = RecorderRowAt(g_bCurrentPosition);
    if (ValidRow(nRow)) {
        OpenCloseTray(1, (DWORD)nRow, TRAY_STATE_CLOSED_WITH_DISC);
        Sleep(RECORDER_RETRY_PAUSE);
        OpenCloseTray(0, (DWORD)nRow, TRAY_STATE_OPEN_WITH_DISC);
    } else {
        DebugLogF("ERROR: No recorder at position %c - its tray is not moved", g_bCurrentPosition);
    }
    g_fRecorderRetry = FALSE;
    RewindCursor(pbCursor, 1);
    *pfVerify = FALSE;
}

int RoboErrorCheck(RoboStatus* pStatus, BOOL* pfVerify, BYTE* pbCursor) {
    *pfVerify = TRUE;

    if (pStatus->bRoboState == 'P') {
        ShowRobotMessage(IDS_PAUSED, TRUE);
        return 0;
    }
    if (pStatus->bRoboState != 'I') return 0;
    if (pStatus->bError == '.') return 1;

    switch (pStatus->bError) {
        case 'A': {  // input empty
            int nResult = 0;
            const BYTE bBin = g_bInputBinIndex < 4 ? g_bInputBinIndex : 0;
            if (pStatus->bCurrentPosition == (BYTE)g_szInputBins[bBin]) {
                if ((DWORD)g_bInputBinIndex + 1 < g_dwBinCount) {
                    DebugLog("INPUT EMPTY: Going to Next Input Bin");
                    ++g_bInputBinIndex;
                    RewindCursor(pbCursor, 2);
                    *pfVerify = FALSE;
                    KillError(pStatus);
                    nResult = 1;
                } else {
                    if (!MessageDialogOpen()) DebugLog("ERROR: INPUT_EMPTY");
                    if (g_fNoErrorMode) {
                        DebugLog("No warning when empty - abort job");
                        MarkJobAborted(NULL);
                    } else {
                        ShowRobotMessage(IDS_INPUT_EMPTY, TRUE);
                    }
                }
            } else {
                ShowRobotMessage(IDS_NOT_PICKED, TRUE);
            }
            if (g_fRecorderRetry && IsRecorderPosition(g_bCurrentPosition)) {
                RetryRecorder("No Disc found in Recorder -> Retrying", pStatus, pfVerify, pbCursor);
                return 1;
            }
            return nResult;
        }
        case 'B':
            Report("ERROR: PRINTER_ERROR", IDS_PRINTER_ERROR);
            return 0;
        case 'C':
            Report("ERROR: MOVEMENT ERROR", IDS_MOVEMENT_ERROR);
            return 0;
        case 'D':
            // No message: the robot's own buttons clear an invalid command.
            if (!MessageDialogOpen()) DebugLog("ERROR: INVALID_CMD");
            *pfVerify = FALSE;
            return 0;
        case 'E':
            MarkJobAborted("ERROR: SYS_ERROR - job aborting");
            ShowRobotMessage(IDS_SYSTEM_ERROR, TRUE);
            return 0;
        case 'F': {  // disc not picked
            int nResult = 0;
            BOOL fRetried = FALSE;
            if (!MessageDialogOpen()) DebugLog("ERROR: NOT_PICKED");
            if (g_fRecorderRetry && IsRecorderPosition(g_bCurrentPosition)) {
                RetryRecorder("Mispick from Recorder -> Retrying", pStatus, pfVerify, pbCursor);
                fRetried = TRUE;
                nResult = 1;
            }
            if (g_fNoErrorMode) {
                DebugLog("Error: Not picked - no warning - Abort");
                MarkJobAborted(NULL);
                return nResult;
            }
            if (!fRetried) ShowRobotMessage(IDS_NOT_PICKED, TRUE);
            return nResult;
        }
        default:
            return 0;
    }
}

void AbortJob(RoboStatus* pStatus) {
    DebugLog("->AbortJob()");

    // A deliberate step ahead of the tray closing: a motion in progress is let finish first, for
    // at most ten seconds (WaitUntilIdle's bound). An abort that arrives while the arm sets a
    // disc down on a recorder's tray would otherwise close the tray under it and the disc would
    // fall. The cost is an abort up to ten seconds slower when the robot stays busy.
    WaitUntilIdle(pStatus);

    // The recorder trays are closed (empty as far as this job is concerned) so that nothing is
    // left sticking out of the machine.
    if (!g_fPrintOnlyApp) {
        const char szPositions[] = "ABCD";
        const int nPositions = g_bRecorderCount > 2 ? 4 : 2;
        int anClosed[4] = {-1, -1, -1, -1};
        for (int i = 0; i < nPositions; ++i) {
            const int nRow = RecorderRowAt(szPositions[i]);
            if (!ValidRow(nRow)) continue;
            // Positions that are not mapped share the default row; one close is enough.
            BOOL fDone = FALSE;
            for (int j = 0; j < i; ++j)
                if (anClosed[j] == nRow) fDone = TRUE;
            if (fDone) continue;
            anClosed[i] = nRow;
            OpenCloseTray(1, (DWORD)nRow, TRAY_STATE_CLOSED_EMPTY);
        }
    }

    KillError(pStatus);

    // A disc still in the picker goes to the reject position, never back into a stack or a
    // recorder where it could be mistaken for a good one.
    if (pStatus->bPicker == 'O') {
        PortWrite("_MOVE:G", FALSE);
        Sleep(REJECT_MOVE_PAUSE);
        if (pStatus->bPrinterTray == 'I')
            WaitUntilIdle(pStatus);
        else
            MovePrinterTray(TRAY_IN, pStatus);
        PortWrite("_PICK", FALSE);
    }

    PortWrite("_RESET", FALSE);
    DebugLog("<-AbortJob() exiting");
}
