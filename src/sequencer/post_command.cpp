// Post-command verification: once the robot reports idle without error after a command, check
// that the command had its effect — a move ended where it was sent, a pick-up left a disc in the
// picker, a drop-off left it empty, the laminator executed its command and its tray is where the
// command put it — and confirm it, ask for the same command again, or move the
// queue back so that the move and the pick are repeated.
#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "printer/laminator_channel.h"
#include "printer/printer_state.h"
#include "robot/serial_port.h"
#include "sequencer/arm_state.h"
#include "sequencer/command_queue.h"
#include "sequencer/command_steps.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"

#define AFTER_RECORDER_TRAY_CLOSED 1000  // ms of quiet after a recorder's tray closed

// 0 when the two 8-byte commands are equal, 1 when they differ.
static int CompareCommand8(const BYTE* pbFirst, const BYTE* pbSecond) {
    for (int i = 0; i < 8; ++i)
        if (pbFirst[i] != pbSecond[i]) return 1;
    return 0;
}

// A disc was taken from or put into the recorder at the arm's position: close its tray. A tray
// that held a disc for the arm is now empty; otherwise the disc just put in is now inside, and
// the recorder remembers which input bin it came from and where it goes back to.
static void CloseRecorderAfterPick(void) {
    EnterCriticalSection(&g_csModule);
    const int nRow = RecorderRowAt(g_bCurrentPosition);
    if (nRow >= 0 && nRow < (int)g_wRecorderRows && nRow < MAX_RECORDERS) {
        if (g_Recorders[nRow].bTrayState == TRAY_STATE_OPEN_WITH_DISC) {
            OpenCloseTray(1, (DWORD)nRow, TRAY_STATE_CLOSED_EMPTY);
        } else {
            OpenCloseTray(1, (DWORD)nRow, TRAY_STATE_CLOSED_WITH_DISC);
            const BYTE bBin = g_bInputBinIndex < 4 ? g_bInputBinIndex : 0;
            g_szPosition[nRow].bSourceBin = (BYTE)g_szInputBins[bBin];
            g_szPosition[nRow].bReturnBin = (BYTE)g_szOutputBins[bBin];
        }
    } else {
        DebugLogF("ERROR: No recorder at position %c - its tray is not closed", g_bCurrentPosition);
    }
    LeaveCriticalSection(&g_csModule);
    Sleep(AFTER_RECORDER_TRAY_CLOSED);
}

// A laminator command: executed (its code is the laminator's last) and, for the tray commands,
// the tray on the side asked for. 1 to send it again.
static int VerifyLaminatorCommand(const BYTE* pbSent, const LamStatus* pLamStatus) {
    const BYTE bExecuted = pLamStatus->bLastCmdExecuted;
    if (CompareCommand8(pbSent, LaminateCMD) == 0) {
        if (bExecuted == LAM_CMD_LAMINATE) return 0;
        DebugLogF(" #@! RESEND=TRUE: LaminateCMD Requested, pLamStatus->bLastCmdExecuted = ..%.2x..",
                  (unsigned)bExecuted);
        return 1;
    }
    const BOOL fIn = CompareCommand8(pbSent, LamTrayInCMD) == 0;
    if (!fIn && CompareCommand8(pbSent, LamTrayOutCMD) != 0) return 0;  // no laminator command

    const char* pszName = fIn ? "LamTrayInCMD" : "LamTrayOutCMD";
    const BYTE bTray = pLamStatus->bTrayStatus;
    if (bExecuted != (fIn ? LAM_CMD_TRAY_IN : LAM_CMD_TRAY_OUT)) {
        DebugLogF(" #@! RESEND=TRUE: %s Requested, pLamStatus->bLastCmdExecuted = ..%.2x..", pszName,
                  (unsigned)bExecuted);
        return 1;
    }
    const BOOL fThere = fIn ? (bTray == 'I' || bTray == 'D') : (bTray == 'O' || bTray == 'W');
    if (fThere) return 0;
    DebugLogF(" #@! RESEND=TRUE: %s Requested, pLamStatus->bTrayStatus = %c", pszName, bTray);
    return 1;
}

int POSTCommandProcess(RoboStatus status, const LamStatus* pLamStatus, BYTE* pbCursor) {
    DebugLog("-->POSTCommandProcess()");
    int nResend = 0;

    if (strcmp(g_bLastCommandSent, "_PICK") == 0) {
        if (g_bPickDirection == 'U') {
            if (status.bPicker == 'X') {
                DebugLog("#!#$#%^ Pick UP requested-verified but we have NO disc!! Go back to _MOVE:");
                RewindCursor(pbCursor, 2);
                DebugLog("PostCommandProcessReturning");
                return 0;
            }
            DebugLog("Disc PICKED UP successfully");
            g_fRecorderRetry = TRUE;
        } else {
            if (g_bPickDirection == 'D' && status.bPicker == 'O') {
                DebugLog("#!#$#%^ Drop OFF requested-verified but we still have a disc!! Go back to _MOVE:");
                RewindCursor(pbCursor, 2);
                DebugLog("PostCommandProcessReturning");
                return 0;
            }
            DebugLog("Disc DROPPED OFF successfully");
        }
        DebugLogF("RoboStatus.bCurrentPosition=%c  g_bCurrentPosition=%c", status.bCurrentPosition,
                  g_bCurrentPosition ? g_bCurrentPosition : ' ');
        if (IsRecorderPosition(g_bCurrentPosition)) CloseRecorderAfterPick();
    } else if (strncmp(g_bLastCommandSent, "_MOVE:", 6) == 0 && g_bLastCommandSent[6] != '\0') {
        const char cWanted = g_bLastCommandSent[6];
        if (status.bCurrentPosition == (BYTE)cWanted) {
            g_bCurrentPosition = cWanted;
            DebugLogF(" MOVETO:%c Successful.", cWanted);
        } else {
            nResend = 1;
            DebugLogF(" #@! RESEND=TRUE: g_bLastCommandSent=%s  RoboStatus.bCurrentPosition=%c", g_bLastCommandSent,
                      status.bCurrentPosition);
        }
    } else if (g_fLaminator && pLamStatus != NULL) {
        // The laminator's status is read on every pass only while it is in use; without it there
        // is nothing to verify a laminator command against.
        nResend = VerifyLaminatorCommand((const BYTE*)g_bLastCommandSent, pLamStatus);
    }
    // Anything else ("_TRAY", "_PTI", "_PTO") is not verified.

    DebugLog("PostCommandProcessReturning");
    return nResend;
}
