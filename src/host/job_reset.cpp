#include "host/job_reset.h"

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "foundation/settings.h"
#include "printer/printer_state.h"
#include "sequencer/command_queue.h"
#include "setup/tray_control.h"

void InitGlobals(void) {
    DebugLog("Init variables");
    EnterCriticalSection(&g_csModule);
    g_fCloseMessage = 0;
    g_fNoErrorMode = 0;
    g_fSendQueueRunning = 0;
    g_bCmdIndex = 0;
    g_bPRN_Index = 0;
    g_fJobAborted = 0;
    for (int i = 0; i < 4; ++i) g_dwTrayTick[i] = 0;
    g_fSpooling = 0;
    g_fUsePrinterQueue = 0;
    g_bPendingPrints = 0;
    DebugLog("**&&** PIP is set to FALSE (InitGlobals)");
    g_fPIP = 0;
    g_dwPrintJobNumber = 1;
    // A flag is on for any non-zero value, as the options dialog shows it ("-1" ticks its box too).
    g_fRecordPrint = GetPrivateProfileIntA(SETTINGS_SECTION, KEY_RECORD_PRINT, 1, g_szSettingsPath) != 0;
    g_fMinimizePrintDlg = GetPrivateProfileIntA(SETTINGS_SECTION, KEY_MINIMIZE_PRINTDLG, 1, g_szSettingsPath) != 0;
    LoadBinTables(g_fLaminator);
    g_fLaminateOnly = 0;
    LeaveCriticalSection(&g_csModule);
}
