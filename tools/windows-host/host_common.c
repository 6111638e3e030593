/*
 * What every part of the host program shares: the loaded module and its exports, the host's
 * window, the program's clock, waiting with the window's messages handled, the output lock and
 * the text helpers.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host.h"

RovaneExports g_Rovane;
HMODULE g_hRovane;
HWND g_hHostWindow;

static DWORD g_dwStartTicks;
static CRITICAL_SECTION g_csOutput;

void HostStart(void) {
    g_dwStartTicks = GetTickCount();
    InitializeCriticalSection(&g_csOutput);
}

/* ---------------------------------------------------------------------------------------------
 * The clock, waiting, output
 */

unsigned long long HostMs(void) { return (unsigned long long)(DWORD)(GetTickCount() - g_dwStartTicks); }

void HostSleep(DWORD dwMs) {
    const DWORD dwStart = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        const DWORD dwElapsed = GetTickCount() - dwStart;
        if (dwElapsed >= dwMs) return;
        MsgWaitForMultipleObjects(0, NULL, FALSE, dwMs - dwElapsed, QS_ALLINPUT);
    }
}

void HostOutputLock(void) { EnterCriticalSection(&g_csOutput); }
void HostOutputUnlock(void) { LeaveCriticalSection(&g_csOutput); }

char* EscapeText(const char* s, size_t cb, char* out) { return hs_escape(s, cb, out); }

void* HostGrow(void* p, size_t cb) {
    void* q = realloc(p, cb);
    if (q == NULL) {
        fputs("rovane-host: out of memory\n", stderr);
        ExitProcess(1);
    }
    return q;
}

char* CopyBytes(const char* p, size_t cb) {
    char* q = (char*)HostGrow(NULL, cb + 1);
    memcpy(q, p, cb);
    q[cb] = '\0';
    return q;
}
