// The module-wide context: what the library's entry point records, the facts about the host that
// start-up stores for everyone, the single module lock, and the bookkeeping of the worker
// threads that shutdown waits for. All of it lives as long as the loaded library.
#ifndef ROVANE_MODULE_CONTEXT_H
#define ROVANE_MODULE_CONTEXT_H

#include <windows.h>

#include "resources/resource.h"  // ROVANE_VERSION_TEXT

#define MAX_HOST_TITLE 255
#define MAX_MODULE_PATH 245

extern HINSTANCE g_hInstance;             // module instance: string table and dialogs
extern HWND g_hOwnerWnd;                  // host window owning our message boxes and dialogs
extern char g_szHostTitle[MAX_HOST_TITLE + 1];
extern DWORD g_dwHostEngine;              // host engine handle, passed on to the tray operation
extern BOOL g_fPrintOnlyApp;              // the print-only host: no recorders, no trays
extern BOOL g_fInitialized;               // set early in start-up, never cleared
extern BOOL g_fSureThing;                 // the label application's automation object exists
extern void* LabelApp;                    // its interface pointer, held for the module's life
extern CRITICAL_SECTION g_csModule;       // the one module lock; its owner may enter again
extern char g_szSettingsPath[MAX_MODULE_PATH + 1];
extern char g_szLogPath[MAX_MODULE_PATH + 1];
extern char g_szPortName[8];              // "COM1".."COM4"
extern char g_szLaminatorName[32];        // spooler name of the laminator
extern volatile LONG g_fShutdown;         // raised by shutdown; every worker loop checks it

// The worker threads shutdown waits for. Each keeps a finished flag (1 while it is not running)
// and the handle of the thread last started.
enum WorkerKind { WORKER_SEND = 0, WORKER_CLOSER = 1, WORKER_PRINT = 2, WORKER_TEST = 3, WORKER_COUNT = 4 };

extern volatile LONG g_fSendThreadDone;
extern volatile LONG g_fCloserThreadDone;
extern volatile LONG g_fPrintThreadDone;
extern volatile LONG g_fTestThreadDone;
extern HANDLE g_hWorkerThread[WORKER_COUNT];

// The finished flag of a worker kind.
volatile LONG* WorkerDoneFlag(int kind);
// Whoever starts a worker keeps its handle here instead of closing it; the handle of the
// previous thread of that kind is closed when that thread has already returned.
void WorkerStarted(int kind, HANDLE hThread);
// Called by the worker itself: on entry (clears its flag) and just before it returns (sets it).
void WorkerBegins(int kind);
void WorkerEnds(int kind);
// 1 when no worker is running.
int AllWorkersFinished(void);

// Host kinds. The settings key word chooses the registry key of the data folder.
#define HOST_KEYWORD_FENWIT "Fenwit"
#define HOST_KEYWORD_QUESSA "Quessa"
#define HOST_KEYWORD_VELTODVD "VeltoDVD"

// Decides the host kind from the application name by an exact, case-sensitive comparison of
// the whole name; returns the settings key word and tells whether the host only prints.
const char* HostKeyword(const char* pszHostName, BOOL* pfPrintOnly);
// Stores the host facts: the title (cut to 255 characters), the print-only flag, the owner
// window and the engine handle. Returns the settings key word.
const char* SetHostFacts(const char* pszHostName, HWND hOwner, DWORD dwHostEngine);

// Creates the module lock once; later calls do nothing (the lock is never deleted).
void CreateModuleLock(void);
int ModuleLockExists(void);

#endif
