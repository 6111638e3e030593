#include "foundation/job_state.h"

#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/module_context.h"

volatile LONG g_fJobAborted = 0;
volatile LONG g_fPIP = 0;
volatile LONG g_fSendQueueRunning = 0;
volatile LONG g_fNoErrorMode = 0;
volatile LONG g_fUsePrinterQueue = 0;
BYTE g_bPendingPrints = 0;
volatile LONG g_fSpooling = 0;
DWORD g_dwPrintJobNumber = 1;
volatile LONG g_fLaminateOnly = 0;
BOOL g_fRecordPrint = FALSE;
BOOL g_fMinimizePrintDlg = FALSE;
char g_szInputBins[4] = {'4', '2', '5', '1'};
char g_szOutputBins[4] = {'3', '4', '2', '5'};
DWORD g_dwBinCount = 4;
BYTE g_bInputBinIndex = 0;
DWORD g_dwJobCount = 0;
DWORD g_dwLastJobEndTick = 0;
DWORD g_dwHowMany = 0;
BYTE g_bRejectCount = 0;
BYTE g_bReject2Count = 0;
char g_bOutputPosition = '3';
volatile LONG g_fCloseMessage = 0;
HWND g_hMessageDlg = NULL;
HWND g_hPrintingDlg = NULL;
HWND g_hLaminatingDlg = NULL;
PrintSlot g_PrintSlots[MAX_PRINT_SLOTS];

void MarkJobAborted(const char* pszLog) {
    EnterCriticalSection(&g_csModule);
    if (pszLog != NULL) DebugLog(pszLog);
    g_fJobAborted = 1;
    LeaveCriticalSection(&g_csModule);
}

void LoadBinTables(BOOL fThreeBins) {
    EnterCriticalSection(&g_csModule);
    if (fThreeBins) {
        // The laminator stands where input bin "1" would be: three bins only. The fourth
        // letters stay as they are, unused.
        memcpy(g_szInputBins, "425", 3);
        memcpy(g_szOutputBins, "342", 3);
        g_dwBinCount = 3;
    } else {
        memcpy(g_szInputBins, "4251", 4);
        memcpy(g_szOutputBins, "3425", 4);
        g_dwBinCount = 4;
    }
    LeaveCriticalSection(&g_csModule);
}
