#include "setup/tray_control.h"

#include "foundation/debug_log.h"
#include "foundation/module_context.h"
#include "setup/host_engine.h"

#define TRAY_RETRIES 50
#define TRAY_RETRY_WAIT_MS 500
#define TRAY_WAIT_POLL 50  // ms between two looks at a recorder's tray time

DWORD g_dwTrayTick[MAX_RECORDERS];

void OpenCloseTray(BYTE fClose, DWORD dwRow, BYTE bNewState) {
    if (g_fPrintOnlyApp) {
        DebugLog("OpenCloseTray() called for PRINT-ONLY APP!  Do nothing.");
        return;
    }
    if (!CheckHolds(dwRow < (DWORD)g_wRecorderRows && dwRow < MAX_RECORDERS,
                    "OpenCloseTray() refused: row %lu is not in the recorder table (%u rows)", (unsigned long)dwRow,
                    (unsigned)g_wRecorderRows))
        return;
    DebugLogF(fClose ? "CLOSE TRAY %hu" : "OPEN TRAY %hu", (unsigned short)dwRow);

    const LONG dwDirection = fClose ? DQ_TRAY_CLOSE : DQ_TRAY_OPEN;
    const LONG dwUnit = g_Recorders[dwRow].dwUnit;
    PFN_DQ_OPENCLOSETRAY pfnOpenClose = HostDqOpenCloseTray();
    if (pfnOpenClose == NULL) {
        // Without the job-processor library no tray can move and retrying cannot help: the
        // operator is told at once, as for a tray whose retries are spent, and the caller goes
        // on with the state it asked for.
        DebugLog("ERROR: DQ_OpenCloseTray is not available; the tray was not moved");
        ShowStringMessage(NULL, fClose ? IDS_TRAY_CLOSE_ERROR : IDS_TRAY_OPEN_ERROR, IDS_TITLE,
                          MB_OK | MB_SETFOREGROUND);
    } else {
        LONG lResult = pfnOpenClose(0, dwUnit, dwDirection);
        int nRetries = 0;
        while (lResult != 0) {
            // The same texts whether the tray was opening or closing.
            DebugLogF("Closing DQ_OpenCloseTray error: %li", (long)lResult);
            DebugLog("Wait and try Kt_MoveTray again...");
            Sleep(TRAY_RETRY_WAIT_MS);
            if (nRetries == TRAY_RETRIES) {
                ShowStringMessage(NULL, fClose ? IDS_TRAY_CLOSE_ERROR : IDS_TRAY_OPEN_ERROR, IDS_TITLE,
                                  MB_OK | MB_SETFOREGROUND);
                break;
            }
            lResult = pfnOpenClose(0, dwUnit, dwDirection);
            ++nRetries;
        }
    }

    // Recorded whether the tray moved or not: the caller treats it as moved either way.
    g_Recorders[dwRow].bTrayState = bNewState;
    g_dwTrayTick[dwRow] = GetTickCount();
}

void CloseTraysAtStartup(void) {
    if (g_fPrintOnlyApp) return;  // the print-only host has no recorders
    PFN_KT_MOVETRAY pfnMoveTray = HostKtMoveTray();
    if (pfnMoveTray == NULL && g_wRecorderRows > 0)
        DebugLog("ERROR: Kt_MoveTray is not available; the recorder trays were not closed");
    for (int nRow = 0; nRow < (int)g_wRecorderRows && nRow < MAX_RECORDERS; ++nRow) {
        if (pfnMoveTray != NULL) pfnMoveTray(g_dwHostEngine, g_Recorders[nRow].dwUnit, KT_MOVE_TRAY_CLOSE);
        g_Recorders[nRow].bTrayState = TRAY_STATE_CLOSED_EMPTY;
    }
}

void WaitSinceTrayMove(DWORD dwRow, DWORD dwMilliseconds) {
    if (!CheckHolds(dwRow < MAX_RECORDERS, "WaitSinceTrayMove for recorder row %lu, which does not exist",
                    (unsigned long)dwRow))
        return;
    while (GetTickCount() - g_dwTrayTick[dwRow] <= dwMilliseconds) Sleep(TRAY_WAIT_POLL);
}
