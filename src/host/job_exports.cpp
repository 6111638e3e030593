// The host's progress polls: Rovane_CheckMoveDisc, Rovane_CheckPrinting, and the obsolete
// Rovane_CheckAccumulator.
#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "rovane.h"
#include "setup/recorders.h"

extern "C" DWORD ROVANE_API Rovane_CheckMoveDisc(DWORD dwUnit) {
    const int nRow = FindRecorderRow((LONG)dwUnit);
    if (nRow < 0) return 0;

    // Each test takes the lock on its own: the state may change between them, and the host
    // simply polls again.
    EnterCriticalSection(&g_csModule);
    const LONG fAborted = g_fJobAborted;
    LeaveCriticalSection(&g_csModule);
    if (fAborted) {
        DebugLog("CheckMoveDisc:  g_fJobAborted=TRUE.  Aborting.");
        return 4;
    }

    EnterCriticalSection(&g_csModule);
    const DWORD dwMoveState = g_Recorders[nRow].dwMoveState;
    LeaveCriticalSection(&g_csModule);
    if (dwMoveState == MOVE_STATE_DONE) return 1;

    EnterCriticalSection(&g_csModule);
    const BOOL fStillWorking = g_hMessageDlg != NULL || g_fSendQueueRunning;
    LeaveCriticalSection(&g_csModule);
    if (!fStillWorking) {
        DebugLog("CheckMoveDisc() Nothing more to do. Aborting.");
        return 4;
    }
    return 2;
}

extern "C" DWORD ROVANE_API Rovane_CheckPrinting(DWORD dwIgnored) {
    (void)dwIgnored;
    // Before start-up there is no module lock to take (entering a section nobody initialized
    // waits for ever on Windows) and no job to have been aborted: the call is answered as
    // obsolete, as it is on any host that has not started the module.
    if (!ModuleLockExists()) {
        if (!g_fPrintOnlyApp) MessageBoxA(NULL, "ERROR: Rovane_CheckPrinting obsolete!!!!!", g_szHostTitle, MB_SYSTEMMODAL);
        return 0;
    }
    EnterCriticalSection(&g_csModule);
    if (g_fJobAborted) {
        LeaveCriticalSection(&g_csModule);
        DebugLog("CheckMoveDisc:  g_fJobAborted=TRUE.  Aborting.");
        DebugLog("**&&** CheckPrinting returning ABORT");
        return 4;
    }
    if (!g_fInitialized && !g_fPrintOnlyApp) {
        LeaveCriticalSection(&g_csModule);
        MessageBoxA(NULL, "ERROR: Rovane_CheckPrinting obsolete!!!!!", g_szHostTitle, MB_SYSTEMMODAL);
        return 0;
    }
    if (!g_fPIP) {
        DebugLog("**&&** CheckPrinting returning Print NOT is process");
        LeaveCriticalSection(&g_csModule);
        return 1;
    }
    LeaveCriticalSection(&g_csModule);
    return 2;
}

extern "C" DWORD ROVANE_API Rovane_CheckAccumulator(DWORD dwIgnored) {
    (void)dwIgnored;
    MessageBoxA(NULL, "ERROR: Rovane_CheckAccumulator obsolete!!!!!", g_szHostTitle, MB_SYSTEMMODAL);
    return 0;
}
