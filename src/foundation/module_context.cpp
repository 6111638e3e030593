#include "foundation/module_context.h"

#include <string.h>

HINSTANCE g_hInstance = NULL;
HWND g_hOwnerWnd = NULL;
char g_szHostTitle[MAX_HOST_TITLE + 1] = "";
DWORD g_dwHostEngine = 0;
BOOL g_fPrintOnlyApp = FALSE;
BOOL g_fInitialized = FALSE;
BOOL g_fSureThing = FALSE;
void* LabelApp = NULL;
CRITICAL_SECTION g_csModule;
char g_szSettingsPath[MAX_MODULE_PATH + 1] = "";
char g_szLogPath[MAX_MODULE_PATH + 1] = "";
char g_szPortName[8] = "COM1";
// Start-up sets it again; it has its value from load on so that the laminator can be reached
// before start-up too (the services dialogs).
char g_szLaminatorName[32] = "Disc Laminator";
volatile LONG g_fShutdown = 0;

volatile LONG g_fSendThreadDone = 1;
volatile LONG g_fCloserThreadDone = 1;
volatile LONG g_fPrintThreadDone = 1;
volatile LONG g_fTestThreadDone = 1;
HANDLE g_hWorkerThread[WORKER_COUNT] = {NULL, NULL, NULL, NULL};

static BOOL g_fLockCreated = FALSE;

volatile LONG* WorkerDoneFlag(int kind) {
    switch (kind) {
        case WORKER_SEND: return &g_fSendThreadDone;
        case WORKER_CLOSER: return &g_fCloserThreadDone;
        case WORKER_PRINT: return &g_fPrintThreadDone;
        case WORKER_TEST: return &g_fTestThreadDone;
        default: return NULL;
    }
}

void WorkerStarted(int kind, HANDLE hThread) {
    if (kind < 0 || kind >= WORKER_COUNT) return;
    // The handle of the previous thread of that kind is closed when that thread has already
    // returned (nobody needs it any more); one that still runs keeps its handle open.
    HANDLE hPrevious = g_hWorkerThread[kind];
    if (hPrevious != NULL && hPrevious != hThread) {
        DWORD dwExit = 0;
        if (GetExitCodeThread(hPrevious, &dwExit) && dwExit != STILL_ACTIVE) CloseHandle(hPrevious);
    }
    g_hWorkerThread[kind] = hThread;
}

void WorkerBegins(int kind) {
    volatile LONG* flag = WorkerDoneFlag(kind);
    if (flag) *flag = 0;
}

void WorkerEnds(int kind) {
    volatile LONG* flag = WorkerDoneFlag(kind);
    if (flag) *flag = 1;
}

int AllWorkersFinished(void) {
    for (int kind = 0; kind < WORKER_COUNT; ++kind)
        if (*WorkerDoneFlag(kind) != 1) return 0;
    return 1;
}

const char* HostKeyword(const char* pszHostName, BOOL* pfPrintOnly) {
    BOOL fPrintOnly = FALSE;
    const char* pszKeyword = HOST_KEYWORD_VELTODVD;
    if (pszHostName != NULL) {
        if (strcmp(pszHostName, "Dorquel") == 0 || strcmp(pszHostName, "Dorquel Quiet") == 0) {
            pszKeyword = HOST_KEYWORD_FENWIT;
        } else if (strcmp(pszHostName, "Quessa") == 0) {
            pszKeyword = HOST_KEYWORD_QUESSA;
            fPrintOnly = TRUE;
        }
    }
    if (pfPrintOnly != NULL) *pfPrintOnly = fPrintOnly;
    return pszKeyword;
}

const char* SetHostFacts(const char* pszHostName, HWND hOwner, DWORD dwHostEngine) {
    BOOL fPrintOnly = FALSE;
    const char* pszKeyword = HostKeyword(pszHostName, &fPrintOnly);
    g_fPrintOnlyApp = fPrintOnly;
    g_hOwnerWnd = hOwner;
    g_dwHostEngine = dwHostEngine;
    // A longer name is cut; the title is only a caption.
    g_szHostTitle[0] = '\0';
    if (pszHostName != NULL) {
        strncpy(g_szHostTitle, pszHostName, MAX_HOST_TITLE);
        g_szHostTitle[MAX_HOST_TITLE] = '\0';
    }
    return pszKeyword;
}

void CreateModuleLock(void) {
    if (g_fLockCreated) return;
    InitializeCriticalSection(&g_csModule);
    g_fLockCreated = TRUE;
}

int ModuleLockExists(void) { return g_fLockCreated ? 1 : 0; }
