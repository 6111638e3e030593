// Rovane_PostMoveAndPrint: a disc's journey through the printer (and, with the laminator in use,
// the laminator) as command sequences. The steps that bring the disc to the printer go to the
// global queue; printing, waiting for the print, laminating and carrying the disc away go to the
// printer queue, so that the send thread serves the recorders while a label prints. The print
// file waits in a print slot until the send thread reaches the sequence's "PRINT:" command.
// Rovane_CheckValidPrint: the host's check of a print file before a job.
#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "host/move_request.h"
#include "printer/print_file.h"
#include "printer/printer_select.h"
#include "printer/printer_state.h"
#include "resources/resource.h"
#include "rovane.h"
#include "sequencer/command_queue.h"
#include "sequencer/send_thread.h"
#include "setup/recorders.h"

#define PRINT_BLANK_DISC 1000
#define PRINT_RECORDED_DISC 2000
#define LAMINATE_ONLY 4000
#define PRINT_DISC_IN_PRINTER 5000

// The print slot a request took, and the bins of its disc (codes 2000; none for the others).
typedef struct PrintRequest {
    BYTE bSlot;
    char szReturnBin[2];
    char szSourceBin[2];
} PrintRequest;

// The printer for codes 1000 and 2000. The print-only host names it with each request; every
// other host chooses it in the selection dialog when none is chosen yet. 0 when there is none.
static int CheckPrinter(LONG lCode, LPCSTR pszFile2) {
    if (g_fPrintOnlyApp) {
        if (lCode == PRINT_BLANK_DISC) {
            g_szPrinterPosition[0] = PrinterPositionFor(g_szPrinterName);
            g_szPrinterPosition[1] = '\0';
        } else if (pszFile2 != NULL) {
            strncpy(g_szPrinterName, pszFile2, PRINTER_NAME_SIZE - 1);
            g_szPrinterName[PRINTER_NAME_SIZE - 1] = '\0';
        } else {
            DebugLog("WARNING: PostMoveAndPrint without a printer name - the last one is used");
        }
        g_fPrinterSelected = TRUE;
        return 1;
    }
    if (!g_fPrinterSelected) RunSelectPrinterDialog();
    if (!g_fPrinterSelected) {
        DebugLog("ERROR: No printer selected!");
        return 0;
    }
    return 1;
}

// The disc on the arm through the laminator and back onto the arm.
static void QueueLaminatorSteps(void) {
    PRN_Queue("_LAMOUT", NULL, 0);
    PRN_Queue("_MOVE:", "E", 0);
    PRN_Queue("DROPOFF", NULL, 0);
    PRN_Queue("LAM:", NULL, '0');
    PRN_Queue("WAITL:", NULL, 0);
    PRN_Queue("_LAMOUT", NULL, 0);
    PRN_Queue("_MOVE:", "E", 0);
    PRN_Queue("PICKUP", NULL, 0);
}

// Through the laminator on the way out, when it is in use.
static void QueueLaminatorBlock(void) {
    if (g_fLaminator) QueueLaminatorSteps();
}

// The print of slot 0 while the arm waits beside the printer, then the printed disc taken off
// the tray: the discs of later prints are carried back to their source bins meanwhile.
static void QueuePrintNow(const char* pszPrinter) {
    PRN_Queue("PRINT:", NULL, '0');
    PRN_Queue("XFER:", NULL, 0);
    PRN_Queue("_MOVE:", "5", 0);
    PRN_Queue("WAIT:", NULL, 0);
    PRN_Queue("_MOVE:", pszPrinter, 0);
    PRN_Queue("PICKUP", NULL, 0);
    QueueLaminatorBlock();
}

// Code 1000: a blank disc from the input bin onto the printer's tray, printed, to the output bin.
static void QueueBlankDiscPrint(const char* pszPrinter) {
    QueueCarryToPrinter(NULL, pszPrinter);
    QueuePrintNow(pszPrinter);
    PRN_Queue("_MOVE:O", NULL, 0);
    PRN_Queue("DROPOFF", NULL, 0);
}

// Code 2000: the recorder's disc to the printer (or, while earlier prints wait, set down on its
// return bin first), printed, to its return bin. With "Record and Print Simultaneously" the
// recorder is free as soon as its disc is picked up, except for the job's last disc.
static void QueueRecordedDiscPrint(int nRow, const PrintRequest* pRequest, BOOL fDoneAtPick, const char* pszPrinter) {
    char szPosition[2];
    TargetPosition(nRow, szPosition);
    const char cDone = (char)('0' + nRow);
    Queue_Cmd("_MOVE:", szPosition, 0);
    Queue_Cmd("PICKUP", NULL, 0);
    if (fDoneAtPick) Queue_Cmd("DONE:", NULL, cDone);
    if (pRequest->bSlot == 0) {
        Queue_Cmd("_TRAYOUT", NULL, 0);
        Queue_Cmd("_MOVE:", pszPrinter, 0);
        Queue_Cmd("DROPOFF", NULL, 0);
        Queue_Cmd(TrayInStep(), NULL, 0);
        QueuePrintNow(pszPrinter);
    } else {
        // The "XFER:" of the print before this one brings the disc from its return bin to its
        // source bin, where this sequence picks it up.
        Queue_Cmd("_MOVE:", pRequest->szReturnBin, 0);
        Queue_Cmd("DROPOFF", NULL, 0);
        PRN_Queue("_TRAYOUT", NULL, 0);
        PRN_Queue("_MOVE:", pRequest->szSourceBin, 0);
        PRN_Queue("PICKUP", NULL, 0);
        PRN_Queue("_MOVE:", pszPrinter, 0);
        PRN_Queue("DROPOFF", NULL, 0);
        PRN_Queue(TrayInStep(), NULL, 0);
        PRN_Queue("PRINT:", NULL, (char)('0' + pRequest->bSlot));
        PRN_Queue("_MOVE:", "5", 0);
        PRN_Queue("WAIT:", NULL, 0);
        PRN_Queue("_MOVE:", pszPrinter, 0);
        PRN_Queue("PICKUP", NULL, 0);
        QueueLaminatorBlock();
    }
    PRN_Queue("_MOVE:", pRequest->szReturnBin, 0);
    PRN_Queue("DROPOFF", NULL, 0);
    if (!fDoneAtPick) PRN_Queue("DONE:", NULL, cDone);
}

// Code 4000: a disc from the input bin through the laminator to the output bin.
static void QueueLaminateOnly(void) {
    Queue_Cmd("_MOVE:", NULL, 0);
    Queue_Cmd("PICKUP", NULL, 0);
    QueueLaminatorSteps();
    PRN_Queue("_MOVE:O", NULL, 0);
    PRN_Queue("DROPOFF", NULL, 0);
}

// The bins of a recorder's disc: where it waits for the printer (its return bin) and where the
// transfer puts it for its print (its source bin). A recorder whose load was never confirmed has
// neither; its disc then waits on the output bin and is printed from the input bin in use.
static void RecorderBins(int nRow, PrintRequest* pRequest) {
    RecorderReturnBin(nRow, pRequest->szReturnBin);
    pRequest->szSourceBin[0] = (char)g_szPosition[nRow].bSourceBin;
    pRequest->szSourceBin[1] = '\0';
    if (pRequest->szSourceBin[0] == '\0') {
        const BYTE bBin = g_bInputBinIndex < 4 ? g_bInputBinIndex : 0;
        pRequest->szSourceBin[0] = g_szInputBins[bBin];
        DebugLogF("WARNING: Recorder %d has no source bin - its disc waits on %c", nRow, pRequest->szSourceBin[0]);
    }
}

// Takes the next print slot for the request: the file name (and, for a recorded disc, its bins)
// go in, and the pending prints count up, in one hold of the lock and before any command of the
// request is queued, so that a send thread already running cannot reach the request's "PRINT:"
// first. Only a recorded disc has bins to wait on; the other codes leave the slot's bins as an
// earlier request left them. There are four slots; while all four wait for the printer a further
// request is refused (0), the host being expected to wait for a print to finish
// (Rovane_CheckPrinting) before it posts another.
static int TakePrintSlot(const char* pszFile, BOOL fWithBins, PrintRequest* pRequest) {
    int fTaken = 0;
    EnterCriticalSection(&g_csModule);
    const BYTE bSlot = g_bPendingPrints;
    if (bSlot < MAX_PRINT_SLOTS) {
        PrintSlot* pSlot = &g_PrintSlots[bSlot];
        strncpy(pSlot->szFileName, pszFile, PRINT_FILE_NAME_SIZE - 1);
        pSlot->szFileName[PRINT_FILE_NAME_SIZE - 1] = '\0';
        if (fWithBins) {
            pSlot->bReturnBin = (BYTE)pRequest->szReturnBin[0];
            pSlot->bSourceBin = (BYTE)pRequest->szSourceBin[0];
        }
        g_bPendingPrints = (BYTE)(bSlot + 1);
        pRequest->bSlot = bSlot;
        fTaken = 1;
    }
    LeaveCriticalSection(&g_csModule);
    if (!fTaken) DebugLogF("ERROR: PostMoveAndPrint - all %d print slots are in use, request refused", MAX_PRINT_SLOTS);
    return fTaken;
}

/*
 * Rovane_PostMoveAndPrint: see rovane.h. 1 when queued; 0 when refused: a label design without
 * the label application, no printer chosen, code 4000 without the laminator, code 2000 for a
 * recorder not in the table, a file name longer than 249 characters, or all four print slots in
 * use. Codes other than 1000, 2000, 4000 and 5000 queue nothing but still take a print slot.
 */
extern "C" LONG ROVANE_API Rovane_PostMoveAndPrint(DWORD dwUnit, LONG dwCode, DWORD dwSttng, LPCSTR pszFile1,
                                                   LPCSTR pszFile2, DWORD dwDiscNum) {
    DebugLog("PostMoveAndPrint - Continuing...Previous printing complete.");
    const char* pszFile = pszFile1 != NULL ? pszFile1 : "";
    if (dwCode != LAMINATE_ONLY && IsLabelFileName(pszFile) && !g_fSureThing) {
        ShowStringMessage(NULL, IDS_CANNOT_PRINT_STD, IDS_TITLE, MB_SETFOREGROUND);
        return 0;
    }
    if (strlen(pszFile) >= PRINT_FILE_NAME_SIZE) {
        DebugLogF("ERROR: PostMoveAndPrint - print file name longer than %d characters, request refused",
                  PRINT_FILE_NAME_SIZE - 1);
        return 0;
    }

    PrintRequest request;
    memset(&request, 0, sizeof request);
    int nRow = -1;
    BOOL fDoneAtPick = FALSE;
    switch (dwCode) {
        case PRINT_BLANK_DISC:
            if (!CheckPrinter(dwCode, pszFile2)) return 0;
            break;
        case PRINT_RECORDED_DISC: {
            nRow = FindRecorderRow((LONG)dwUnit);
            if (nRow < 0) return 0;
            DebugLogF("## PostMoveAndPrint %lu  u=%d  dwUnit=%lu  dwSttng=%lu  dwDiscNum=%lu", (unsigned long)dwCode,
                      nRow, (unsigned long)dwUnit, (unsigned long)dwSttng, (unsigned long)dwDiscNum);
            DebugLogF("File1=%s   File2=%s", pszFile, pszFile2 != NULL ? pszFile2 : "");
            if (!CheckPrinter(dwCode, pszFile2)) return 0;
            const BOOL fLastDisc = dwDiscNum == g_dwHowMany;
            if (fLastDisc) DebugLog("LastDisc = TRUE");
            fDoneAtPick = !fLastDisc && g_fRecordPrint;
            RecorderBins(nRow, &request);
            break;
        }
        case LAMINATE_ONLY:
            if (!g_fLaminator) {
                MessageBoxA(NULL,
                            "The laminator is not selected.  Please click on the \"Robot Options\" button, check \"Use "
                            "Laminator\", and try again.",
                            "Error", MB_OK);
                return 0;
            }
            break;
        default:
            break;
    }

    if (!TakePrintSlot(pszFile, dwCode == PRINT_RECORDED_DISC, &request)) return 0;

    const char szPrinter[2] = {g_szPrinterPosition[0], '\0'};
    switch (dwCode) {
        case PRINT_BLANK_DISC:
            QueueBlankDiscPrint(szPrinter);
            break;
        case PRINT_RECORDED_DISC:
            EnterCriticalSection(&g_csModule);
            g_Recorders[nRow].dwMoveState = MOVE_STATE_POSTED;
            LeaveCriticalSection(&g_csModule);
            QueueRecordedDiscPrint(nRow, &request, fDoneAtPick, szPrinter);
            break;
        case LAMINATE_ONLY:
            EnterCriticalSection(&g_csModule);
            g_fLaminateOnly = 1;
            LeaveCriticalSection(&g_csModule);
            QueueLaminateOnly();
            break;
        case PRINT_DISC_IN_PRINTER:
            DebugLog("**&&** PIP is set to TRUE (PMP Case 5000)");
            EnterCriticalSection(&g_csModule);
            g_fPIP = 1;
            LeaveCriticalSection(&g_csModule);
            PRN_Queue("PRINT:", NULL, '0');
            PRN_Queue("WAIT:", NULL, 0);
            break;
        default:
            DebugLogF("WARNING: PostMoveAndPrint %ld queues nothing", (long)dwCode);
            break;
    }

    StartSendThread("PostMoveAndPrint() now calling SendQueueThread");
    return 1;
}

/*
 * Rovane_CheckValidPrint: see rovane.h. A missing file is acceptable only for record-and-print,
 * where the host may write it while the disc records. Takes no lock.
 */
extern "C" LONG ROVANE_API Rovane_CheckValidPrint(DWORD dwIgnored1, LONG dwAction, DWORD dwIgnored3, LPCSTR pszFile,
                                                  DWORD dwIgnored5, DWORD dwIgnored6) {
    (void)dwIgnored1;
    (void)dwIgnored3;
    (void)dwIgnored5;
    (void)dwIgnored6;
    const DWORD dwAttributes = pszFile != NULL ? GetFileAttributesA(pszFile) : INVALID_FILE_ATTRIBUTES;
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return dwAction == PRINT_RECORDED_DISC ? 1 : 0;
    if (HasExtension(pszFile, "PRN")) {
        if (!IsPrintFileForPrinter(g_szPrinterName, pszFile)) {
            ShowStringMessage(NULL, IDS_PRN_FILE_INVALID, IDS_TITLE, MB_SETFOREGROUND);
            return 0;
        }
    } else if (HasExtension(pszFile, "STD")) {
        if (!g_fSureThing) {
            ShowStringMessage(NULL, IDS_CANNOT_PRINT_STD, IDS_TITLE, MB_SETFOREGROUND);
            return 0;
        }
    } else {
        ShowStringMessage(NULL, IDS_PRINT_FILE_MISSING, IDS_TITLE, MB_SETFOREGROUND);
        return 0;
    }
    return 1;
}
