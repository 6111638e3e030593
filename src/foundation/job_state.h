// The job state: the module-wide variables that describe the job in progress, guarded by the
// module lock. Every floor above reads them; the job begin puts them back to their start values
// (host/job_reset.h).
#ifndef ROVANE_JOB_STATE_H
#define ROVANE_JOB_STATE_H

#include <windows.h>

#define MAX_PRINT_SLOTS 4
#define PRINT_FILE_NAME_SIZE 250

// One queued print: the file, and the bins of the disc it is for.
typedef struct PrintSlot {
    char szFileName[PRINT_FILE_NAME_SIZE];
    BYTE bReturnBin;
    BYTE bSourceBin;
} PrintSlot;

extern volatile LONG g_fJobAborted;
extern volatile LONG g_fPIP;              // print in process
extern volatile LONG g_fSendQueueRunning;
extern volatile LONG g_fNoErrorMode;
extern volatile LONG g_fUsePrinterQueue;
extern BYTE g_bPendingPrints;
extern volatile LONG g_fSpooling;
extern DWORD g_dwPrintJobNumber;
extern volatile LONG g_fLaminateOnly;
extern BOOL g_fRecordPrint;
extern BOOL g_fMinimizePrintDlg;
extern char g_szInputBins[4];   // not terminated; the first g_dwBinCount are used
extern char g_szOutputBins[4];
extern DWORD g_dwBinCount;
extern BYTE g_bInputBinIndex;
extern DWORD g_dwJobCount;
extern DWORD g_dwLastJobEndTick;
extern DWORD g_dwHowMany;
extern BYTE g_bRejectCount;
extern BYTE g_bReject2Count;
extern char g_bOutputPosition;
extern volatile LONG g_fCloseMessage;
extern HWND g_hMessageDlg;
extern HWND g_hPrintingDlg;
extern HWND g_hLaminatingDlg;
extern PrintSlot g_PrintSlots[MAX_PRINT_SLOTS];

// Aborts the job in progress: under the module lock, logs pszLog (unless NULL) and raises
// g_fJobAborted, which every loop of the job's threads checks. A thread may call it with the
// lock held (the lock is re-entrant for its owner).
void MarkJobAborted(const char* pszLog);

// The bin tables: three bins ("425" / "342") where the laminator stands on the place of input
// bin "1", else four ("4251" / "3425"). Takes the module lock.
void LoadBinTables(BOOL fThreeBins);

#endif
