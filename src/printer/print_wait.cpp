// WaitForPrinting: polls the robot once a second until the printer is idle with its tray out.
// A printer error is shown in the status message on every pass; a printer that stays idle with
// its tray in for a minute has the operator decide between putting the tray out and aborting.
// A printer that is busy printing is waited for without limit, but one that has fallen silent
// (busy with a tray that does not answer: switched off, its cable pulled) for a whole minute gets
// the same question: otherwise the job would wait for it, with only the printing dialog showing,
// until the host gave up.
#include "printer/print_wait.h"

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "foundation/status_message.h"
#include "printer/ink_levels.h"
#include "printer/printer_tray.h"
#include "resources/resource.h"

#define PRINT_POLL_MS 1000
#define PRINT_TIMEOUT_MS 60000

// The operator's choice once a print has taken too long: 1 after Retry (the tray was sent out),
// 0 after Cancel (the job is aborted).
static int AskAfterTimeOut(RoboStatus* pStatus) {
    const int nAnswer = MessageBoxA(NULL,
                                    "Wait for printing timed out.\nThe print may or may not have "
                                    "completed.\nClick 'Retry' to continue or 'Cancel' to Abort the job.",
                                    "Rovane", MB_RETRYCANCEL);
    if (nAnswer != IDRETRY) {
        MarkJobAborted(NULL);
        return 0;
    }
    MovePrinterTray(TRAY_OUT, pStatus);
    return 1;
}

void WaitForPrinting(RoboStatus* pStatus) {
    DebugLog("->WaitForPrinting() started");
    DWORD dwStart = GetTickCount();
    DWORD dwSilentSince = 0;
    BOOL fSilent = FALSE;
    for (;;) {
        Sleep(PRINT_POLL_MS);
        const BOOL fWasSilent = fSilent;
        fSilent = FALSE;
        if (GetSystemStatus(pStatus) && pStatus->bRoboState == 'I') {
            if (pStatus->bError == 'B') {
                // Shown again on every pass: the status message replaces its text, and the
                // operator's clearing of the error is what lets the wait go on.
                DebugLog("ERROR: PRINTER_ERROR");
                ShowRobotMessage(IDS_PRINTER_ERROR, TRUE);
            } else if (pStatus->bError == '.' && pStatus->bPrinterState == 'B' && pStatus->bPrinterTray == 'X') {
                fSilent = TRUE;
                if (!fWasSilent) dwSilentSince = GetTickCount();
                if (GetTickCount() - dwSilentSince > PRINT_TIMEOUT_MS) {
                    DebugLog("WARNING: More than 60 seconds of a printer that does not answer");
                    if (!AskAfterTimeOut(pStatus)) break;
                    fSilent = FALSE;  // a new minute after the operator's Retry
                }
            } else if (pStatus->bError == '.' && pStatus->bPrinterState == 'I') {
                if (pStatus->bPrinterTray == 'O') {
                    EnterCriticalSection(&g_csModule);
                    g_fSpooling = 0;
                    DebugLog("**&&** PIP is set to FALSE (WaitForPrinting)");
                    g_fPIP = 0;
                    LeaveCriticalSection(&g_csModule);
                    DebugLog("===COMPLETED PRINTING===");
                    break;
                }
                // Only an idle printer without error uses up the minute; a busy one is waited for.
                if (GetTickCount() - dwStart > PRINT_TIMEOUT_MS) {
                    DebugLog("More than 60 seconds of waiting for printer - send Tray Out");
                    if (!AskAfterTimeOut(pStatus)) break;
                    dwStart = GetTickCount();
                }
            }
        }
        EnterCriticalSection(&g_csModule);
        const BOOL fAborted = g_fJobAborted ? TRUE : FALSE;
        LeaveCriticalSection(&g_csModule);
        if (fAborted) {
            DebugLog("**&&** WaitForPrinting ABORT");
            break;
        }
    }
    ClosePrintingDialog();
    EnterCriticalSection(&g_csModule);
    ++g_dwPrintJobNumber;
    LeaveCriticalSection(&g_csModule);
    DebugLog("<-WaitForPrinting returning");
}
