// Pre-command processing: turns the queue vocabulary into what goes to the robot or to the
// laminator, performs the local commands (printing, waiting for prints and laminations, recorder
// bookkeeping, transfers of waiting discs, recorder trays) and checks that a pick or a drop
// makes sense before it is sent, moving the queue's read cursor back when it does not.
#include <stdio.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "printer/ink_levels.h"
#include "printer/laminator_channel.h"
#include "printer/laminator_ops.h"
#include "printer/print_file.h"
#include "printer/print_wait.h"
#include "printer/printer_select.h"
#include "printer/printer_state.h"
#include "printer/printer_tray.h"
#include "resources/resource.h"
#include "sequencer/arm_state.h"
#include "sequencer/command_queue.h"
#include "sequencer/command_steps.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"

#define PICKUP_TRAY_SETTLE 7500   // ms after a recorder tray moved before the arm picks there
#define REOPEN_TRAY_SETTLE 10500  // ms after a tray closed on a disc before it is opened again
#define PRINT_START_PAUSE 2000    // ms the send thread rests after starting a print
#define LAMINATE_START_PAUSE 1000 // ms between opening the laminating dialog and laminating
#define LAM_WAIT_START_PAUSE 1000 // ms before the lamination wait begins

// The recorder row at a position "A".."D", or -1 when the letter is no recorder position or the
// drive index points outside the recorder table.
static int MappedRecorderRow(char cPosition) {
    if (!IsRecorderPosition(cPosition)) return -1;
    const int nRow = RecorderRowAt(cPosition);
    if (nRow < 0 || nRow >= (int)g_wRecorderRows || nRow >= MAX_RECORDERS) return -1;
    return nRow;
}

// "_MOVE:A" to "_MOVE:D": the recorder letter, else 0.
static char RecorderMoveLetter(const char* pszCommand) {
    if (strncmp(pszCommand, "_MOVE:", 6) != 0) return 0;
    const char c = pszCommand[6];
    if (c >= 'A' && c <= 'D' && pszCommand[7] == '\0') return c;
    return 0;
}

// "DONE:" carries the recorder's row. Requests write it as the character "0" plus the row, which
// is a decimal digit for rows 0 to 9; a longer decimal number is read as one too. A row from 10
// on arrives as the single character "0" + row (":" for 10 and so on); it is accepted as such
// rather than dropped, so that every row of the table can be marked done. Returns the row, or -1.
static int DoneRow(const char* pszRest) {
    const size_t cch = strlen(pszRest);
    if (cch == 0) return -1;
    int nRow = 0;
    if (cch == 1) {
        nRow = (BYTE)pszRest[0] - (BYTE)'0';
    } else {
        for (size_t i = 0; i < cch; ++i) {
            if (pszRest[i] < '0' || pszRest[i] > '9') return -1;
            nRow = nRow * 10 + (pszRest[i] - '0');
            if (nRow >= MAX_RECORDERS) return -1;
        }
    }
    if (nRow < 0 || nRow >= (int)g_wRecorderRows || nRow >= MAX_RECORDERS) return -1;
    return nRow;
}

// The print slot a "PRINT:" digit names for the ink levels: "0" to "3"; any other character
// (there are only four slots) reads slot 0.
static int InkSlotOf(char cDigit) {
    return cDigit >= '0' && cDigit < '0' + MAX_PRINT_SLOTS ? cDigit - '0' : 0;
}

// The print thread's argument: a character that stays valid for the thread's whole life, unlike
// the command buffer, which the next pass rewrites. Every character that names none of the four
// slots means the same to the thread (nothing to print), so one stands for all of them.
static const char* StableSlotDigit(char cDigit) {
    static const char s_szDigits[] = "0123";
    static const char s_szNoSlot[] = "-";
    return cDigit >= '0' && cDigit < '0' + MAX_PRINT_SLOTS ? &s_szDigits[cDigit - '0'] : s_szNoSlot;
}

// "PRINT:" + slot digit: the disc is on the printer's tray and the tray is in. Shows the printing
// dialog with the ink levels and starts the print thread for the slot's file; nothing goes to the
// robot.
static void StartPrint(const char* pszCommand) {
    const char cDigit = pszCommand[6];
    DebugLog("**&&** PIP is set to TRUE (PreCommand)");
    EnterCriticalSection(&g_csModule);
    g_fPIP = 1;
    LeaveCriticalSection(&g_csModule);
    StartPrintingDialog();

    char szFile[PRINT_FILE_NAME_SIZE];
    EnterCriticalSection(&g_csModule);
    memcpy(szFile, g_PrintSlots[InkSlotOf(cDigit)].szFileName, sizeof szFile);
    LeaveCriticalSection(&g_csModule);
    szFile[sizeof szFile - 1] = '\0';
    // The Pellan IV and PRO answer their ink counters only on a parallel port.
    if (PrinterNameBegins(g_szPrinterName, MODEL_PELLAN_IV) || PrinterNameBegins(g_szPrinterName, MODEL_PELLAN_PRO)) {
        if (GetPRINTER2Info() && strstr(g_szPrinterPort, "LPT") != NULL)
            UpdateInkLevels(g_szPrinterName, szFile);
        else
            DebugLog("** Corlin PRO/4 printer on USB, don't get ink levels");
    } else {
        UpdateInkLevels(g_szPrinterName, szFile);
    }

    HANDLE hThread = CreateThread(NULL, 0, SendPrintThread, (LPVOID)StableSlotDigit(cDigit), 0, NULL);
    if (hThread != NULL) {
        EnterCriticalSection(&g_csModule);
        WorkerStarted(WORKER_PRINT, hThread);
        LeaveCriticalSection(&g_csModule);
    } else {
        // The wait that follows ends with its time-out question, as for any print that never came.
        DebugLogF("ERROR: Unable to start the print thread. Error=%lu", (unsigned long)GetLastError());
    }

    EnterCriticalSection(&g_csModule);
    if (g_bPendingPrints > 0)
        --g_bPendingPrints;
    else
        DebugLog("WARNING: PRINT: with no print pending");
    LeaveCriticalSection(&g_csModule);
    Sleep(PRINT_START_PAUSE);
}

// Appends the moves that carry the discs waiting in print slots P down to 1 from their return
// bin back to their source bin, where the next print picks them up, then pulls the printer tray
// in. Slot 0 holds the disc printed now.
static void TransferWaitingDiscs(void) {
    EnterCriticalSection(&g_csModule);
    BYTE bPending = g_bPendingPrints;
    LeaveCriticalSection(&g_csModule);
    if (bPending > MAX_PRINT_SLOTS - 1) {
        DebugLogF("WARNING: XFER: %hu prints pending, only %d slots can wait", (unsigned short)bPending,
                  MAX_PRINT_SLOTS - 1);
        bPending = MAX_PRINT_SLOTS - 1;
    }
    for (int nSlot = bPending; nSlot >= 1; --nSlot) {
        const char szReturn[2] = {(char)g_PrintSlots[nSlot].bReturnBin, '\0'};
        const char szSource[2] = {(char)g_PrintSlots[nSlot].bSourceBin, '\0'};
        // A slot without its bins would turn into a bare "_MOVE:", which means the input bin:
        // refuse it rather than carry some other disc around.
        if (!CheckHolds(szReturn[0] != '\0' && szSource[0] != '\0',
                        "XFER: print slot %d has no bins - its disc is not moved", nSlot))
            continue;
        Queue_Cmd("_MOVE:", szReturn, 0);
        Queue_Cmd("PICKUP", NULL, 0);
        Queue_Cmd("_MOVE:", szSource, 0);
        Queue_Cmd("DROPOFF", NULL, 0);
    }
    PRN_Queue("_TRAYIN", NULL, 0);
}

// The drop-off found the picker empty and the operator asked to try again: back to the nearest
// earlier "PICKUP" of the same queue and one further, so that its "_MOVE:" is taken next.
// Returns 0 when the queue holds no such pick-up.
static int RewindToPickup(BYTE* pbCursor, int nQueue) {
    int nFound = -1;
    EnterCriticalSection(&g_csModule);
    char(*pQueue)[QUEUE_ENTRY_SIZE] = nQueue == QUEUE_PRINTER ? g_szPrinterQueue : g_szGlobalQueue;
    // *pbCursor is past the "DROPOFF" itself; look before it.
    for (int i = (int)*pbCursor - 2; i >= 0; --i) {
        if (strcmp(pQueue[i], "PICKUP") == 0) {
            nFound = i;
            break;
        }
    }
    LeaveCriticalSection(&g_csModule);
    if (nFound < 0) return 0;
    *pbCursor = (BYTE)nFound;
    RewindCursor(pbCursor, 1);
    return 1;
}

// "LAM:": the disc lies on the laminator tray. Notes the laminations the ribbon has left for the
// laminating dialog, opens it, and turns the command into the laminator's LaminateCMD.
static void StartLamination(char* pszCommand, const LamStatus* pLamStatus) {
    const DWORD dwRibbon = ((DWORD)pLamStatus->abRibbonLeft[0] << 16) |
                           ((DWORD)pLamStatus->abRibbonLeft[1] << 8) | (DWORD)pLamStatus->abRibbonLeft[2];
    g_dwLaminationsLeft = LaminationsLeft(pLamStatus);
    DebugLogF("Laminate with %u (%lu) laminations remaining", (unsigned)g_dwLaminationsLeft, (unsigned long)dwRibbon);
    StartLaminatingDialog();
    Sleep(LAMINATE_START_PAUSE);
    memcpy(pszCommand, LaminateCMD, LAM_COMMAND_SIZE);
}

static void ReplaceCommand(char* pszCommand, const char* pszNew) {
    snprintf(pszCommand, COMMAND_BUFFER_SIZE, "%s", pszNew);
}

static void AppendLetter(char* pszCommand, char cLetter) {
    const size_t cch = strlen(pszCommand);
    if (cch + 1 < COMMAND_BUFFER_SIZE) {
        pszCommand[cch] = cLetter;
        pszCommand[cch + 1] = '\0';
    }
}

static void LogPositions(const RoboStatus* pStatus) {
    DebugLogF("RoboPosition=%c  CurrentPosition=%c", pStatus->bCurrentPosition,
              g_bCurrentPosition ? g_bCurrentPosition : ' ');
}

int PreCommandProcess(char* pszCommand, RoboStatus* pStatus, BYTE* pbCursor, int nQueue, LamStatus* pLamStatus) {
    DebugLog("-->PreCommandProcess()");
    int nResult = PREPARED_FOR_ROBOT;

    if (strncmp(pszCommand, "PRINT:", 6) == 0) {
        StartPrint(pszCommand);
        return PREPARED_NOTHING_TO_SEND;
    }

    if (strncmp(pszCommand, "LAM:", 4) == 0) {
        StartLamination(pszCommand, pLamStatus);
        return PREPARED_FOR_LAMINATOR;
    }

    // The arm waits beside the laminator until the disc comes out laminated.
    if (strncmp(pszCommand, "WAITL:", 6) == 0) {
        Sleep(LAM_WAIT_START_PAUSE);
        WaitForLaminating(pLamStatus);
        return PREPARED_NOTHING_TO_SEND;
    }

    // The request is complete for this recorder.
    if (strncmp(pszCommand, "DONE:", 5) == 0) {
        const int nRow = DoneRow(pszCommand + 5);
        if (nRow < 0) {
            DebugLogF("ERROR: %s names no recorder of the table - ignored", pszCommand);
        } else {
            EnterCriticalSection(&g_csModule);
            g_Recorders[nRow].dwMoveState = MOVE_STATE_DONE;
            LeaveCriticalSection(&g_csModule);
        }
        return PREPARED_NOTHING_TO_SEND;
    }

    if (strcmp(pszCommand, "XFER:") == 0) {
        TransferWaitingDiscs();
        return PREPARED_NOTHING_TO_SEND;
    }

    // The output bin, or the input bin, in use now.
    const BYTE bBin = g_bInputBinIndex < 4 ? g_bInputBinIndex : 0;
    if (strcmp(pszCommand, "_MOVE:O") == 0) {
        pszCommand[6] = g_szOutputBins[bBin];
    } else if (strcmp(pszCommand, "_MOVE:") == 0) {
        AppendLetter(pszCommand, g_szInputBins[bBin]);
    }

    // A recorder letter alone opens that recorder's tray ahead of a load.
    if (pszCommand[0] >= 'A' && pszCommand[0] <= 'D' && pszCommand[1] == '\0') {
        const int nRow = MappedRecorderRow(pszCommand[0]);
        if (nRow < 0)
            DebugLogF("ERROR: No recorder at position %c - its tray is not opened", pszCommand[0]);
        else
            OpenCloseTray(0, (DWORD)nRow, TRAY_STATE_OPEN_EMPTY);
        return PREPARED_NOTHING_TO_SEND;
    }

    // A recorder that closed its tray on a disc opens it again, once the tray has settled, so
    // that the arm can take the disc.
    const char cRecorderMove = RecorderMoveLetter(pszCommand);
    if (cRecorderMove) {
        const int nRow = MappedRecorderRow(cRecorderMove);
        if (nRow >= 0 && g_Recorders[nRow].bTrayState == TRAY_STATE_CLOSED_WITH_DISC) {
            WaitSinceTrayMove((DWORD)nRow, REOPEN_TRAY_SETTLE);
            OpenCloseTray(0, (DWORD)nRow, TRAY_STATE_OPEN_WITH_DISC);
        }
    }

    if (strcmp(pszCommand, "PICKUP") == 0) {
        if (pStatus->bPicker == 'O') {
            const int nAnswer =
                ShowStringMessage(NULL, IDS_ALREADY_HOLDING_DISC, IDS_TITLE, MB_ICONEXCLAMATION | MB_RETRYCANCEL);
            if (nAnswer == IDRETRY) {
                RewindCursor(pbCursor, 1);
            } else {
                MarkJobAborted(NULL);
            }
            DebugLog("#$?% Trying to pick up a disc and already have a disc!!");
            nResult = PREPARED_NOTHING_TO_SEND;
        } else if (pStatus->bCurrentPosition != (BYTE)g_bCurrentPosition) {
            RewindCursor(pbCursor, 2);
            DebugLog("!!!Trying to pick up disc but IN WRONG POSITION - go back to MOVE command");
            LogPositions(pStatus);
            nResult = PREPARED_NOTHING_TO_SEND;
        } else {
            ReplaceCommand(pszCommand, "_PICK");
            g_bPickDirection = 'U';
        }
        // The arm reaches into a recorder only once its tray has stopped moving.
        const int nRow = MappedRecorderRow((char)pStatus->bCurrentPosition);
        if (nRow >= 0) WaitSinceTrayMove((DWORD)nRow, PICKUP_TRAY_SETTLE);
    } else if (strcmp(pszCommand, "DROPOFF") == 0) {
        if (pStatus->bPicker == 'X') {
            DebugLog("!!!Dropping off disc but do NOT have - must have lost -- go back");
            const int nAnswer =
                ShowStringMessage(NULL, IDS_DISC_LOST, IDS_TITLE, MB_ICONEXCLAMATION | MB_RETRYCANCEL);
            if (nAnswer == IDRETRY) {
                if (!RewindToPickup(pbCursor, nQueue)) {
                    // Requests always pick a disc up before they drop one; a queue that does not
                    // has nothing to repeat. Going on would report a move as done that never
                    // happened, so the job stops here.
                    DebugLog("ERROR: No earlier PICKUP to go back to - aborting the job");
                    MarkJobAborted(NULL);
                }
            } else {
                MarkJobAborted(NULL);
            }
            return PREPARED_NOTHING_TO_SEND;
        }
        if (pStatus->bCurrentPosition == (BYTE)g_bCurrentPosition) {
            ReplaceCommand(pszCommand, "_PICK");
            g_bPickDirection = 'D';
        } else {
            RewindCursor(pbCursor, 2);
            DebugLog("!!!Trying to drop disc but IN WRONG POSITION - go back to MOVE command");
            LogPositions(pStatus);
            nResult = PREPARED_NOTHING_TO_SEND;
        }
    }

    // The printer tray is pulled in before the arm moves to a recorder, so that it cannot be hit.
    if (cRecorderMove) MovePrinterTray(TRAY_IN, pStatus);

    // The arm waits beside the printer until the print is done.
    if (strcmp(pszCommand, "WAIT:") == 0) {
        WaitForPrinting(pStatus);
        return PREPARED_NOTHING_TO_SEND;
    }

    if (strcmp(pszCommand, "_PICK") == 0) {
        // At the printer the tray must be out to take or receive a disc, unless a print is in
        // the printer (then the printer itself puts the tray out when it is done).
        if (pStatus->bCurrentPosition == (BYTE)g_szPrinterPosition[0] && !g_fSpooling)
            MovePrinterTray(TRAY_OUT, pStatus);
        return nResult;
    }

    if (strcmp(pszCommand, "_TRAYIN") == 0) {
        if (pStatus->bPrinterTray != 'O') return PREPARED_NOTHING_TO_SEND;
        ReplaceCommand(pszCommand, "_TRAY");
        return nResult;
    }
    if (strcmp(pszCommand, "_TRAYOUT") == 0) {
        if (pStatus->bPrinterTray == 'O') return PREPARED_NOTHING_TO_SEND;
        ReplaceCommand(pszCommand, "_TRAY");
        return nResult;
    }

    // The laminator's tray: its 8-byte command goes to the laminator instead of the robot.
    if (strcmp(pszCommand, "_LAMIN") == 0 || strcmp(pszCommand, "_LAMOUT") == 0) {
        const BYTE* pbLamCommand = pszCommand[4] == 'I' ? LamTrayInCMD : LamTrayOutCMD;
        memcpy(pszCommand, pbLamCommand, LAM_COMMAND_SIZE);
        return PREPARED_FOR_LAMINATOR;
    }

    // Anything else ("_MOVE:" with its letter, "_PTI", "_PTO") goes out unchanged.
    return nResult;
}
