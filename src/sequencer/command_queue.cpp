#include "sequencer/command_queue.h"

#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"

char g_szGlobalQueue[QUEUE_ENTRIES][QUEUE_ENTRY_SIZE];
char g_szPrinterQueue[QUEUE_ENTRIES][QUEUE_ENTRY_SIZE];
BYTE g_bCmdIndex = 0;
BYTE g_bPRN_Index = 0;

// What differs between the two queues: their table, index and texts.
typedef struct QueueDescription {
    char (*pTable)[QUEUE_ENTRY_SIZE];
    BYTE* pbIndex;
    const char* pszQueueFull;    // message box text
    const char* pszQueueFullLog;
    const char* pszTooLong;
    const char* pszTooLongLog;
    const char* pszAppended;     // log format with the entry and its index
} QueueDescription;

static const QueueDescription g_GlobalQueue = {
    g_szGlobalQueue,          &g_bCmdIndex,
    "Fatal GLOBAL Queue overflow!",   "FATAL GLOBAL QUEUE OVERFLOW",
    "Fatal GLOBAL Command overflow!", "FATAL GLOBAL COMMAND OVERFLOW",
    "Queue_Cmd: %s   (g_bCmdIndex=%hu)"};

static const QueueDescription g_PrinterQueue = {
    g_szPrinterQueue,       &g_bPRN_Index,
    "Fatal PRN Queue overflow!",   "FATAL PRN QUEUE OVERFLOW",
    "Fatal PRN Command overflow!", "FATAL PRN COMMAND OVERFLOW",
    "PRN_Queue: %s   (g_bPRN_Index=%hu)"};

// The overflow messages are shown while the module lock is held: every thread that needs the
// lock waits until the operator has closed the box, and the job is aborted.
static void RefuseEntry(const char* pszText, const char* pszLog) {
    MessageBoxA(NULL, pszText, "ROVANE", MB_SYSTEMMODAL | MB_ICONEXCLAMATION);
    DebugLog(pszLog);
    g_fJobAborted = 1;
}

static void AppendEntry(const QueueDescription* pQueue, const char* pszPrefix, const char* pszSuffix, char cLetter) {
    char szLast[QUEUE_ENTRY_SIZE] = "";
    BYTE bIndex = 0;

    EnterCriticalSection(&g_csModule);
    if (*pQueue->pbIndex >= QUEUE_ENTRIES) {
        RefuseEntry(pQueue->pszQueueFull, pQueue->pszQueueFullLog);
    } else {
        // The letter's place is always counted, given or not: prefix and suffix together may
        // hold at most 8 characters.
        const size_t cchPrefix = pszPrefix ? strlen(pszPrefix) : 0;
        const size_t cchSuffix = pszSuffix ? strlen(pszSuffix) : 0;
        if (cchPrefix + cchSuffix + 1 >= QUEUE_ENTRY_SIZE) {
            RefuseEntry(pQueue->pszTooLong, pQueue->pszTooLongLog);
        } else {
            char* pszEntry = pQueue->pTable[*pQueue->pbIndex];
            size_t n = 0;
            if (cchPrefix) memcpy(pszEntry, pszPrefix, cchPrefix);
            n += cchPrefix;
            if (cchSuffix) memcpy(pszEntry + n, pszSuffix, cchSuffix);
            n += cchSuffix;
            if (cLetter != 0) pszEntry[n++] = cLetter;
            pszEntry[n] = '\0';
            ++*pQueue->pbIndex;
        }
    }
    // The most recently stored entry, refused or not.
    bIndex = *pQueue->pbIndex;
    if (bIndex > 0) memcpy(szLast, pQueue->pTable[bIndex - 1], QUEUE_ENTRY_SIZE);
    LeaveCriticalSection(&g_csModule);

    DebugLogF(pQueue->pszAppended, szLast, (unsigned short)bIndex);
}

void Queue_Cmd(const char* pszPrefix, const char* pszSuffix, char cLetter) {
    AppendEntry(&g_GlobalQueue, pszPrefix, pszSuffix, cLetter);
}

void PRN_Queue(const char* pszPrefix, const char* pszSuffix, char cLetter) {
    AppendEntry(&g_PrinterQueue, pszPrefix, pszSuffix, cLetter);
}

void RewindCursor(BYTE* pbCursor, BYTE bSteps) {
    if (pbCursor == NULL) return;
    // The cursor is 8-bit: a rewind before the start of the queue wraps round to the top, where
    // the cursor lies beyond every entry and the queue counts as used up.
    *pbCursor = (BYTE)(*pbCursor - bSteps);
}
