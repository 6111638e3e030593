#include "foundation/debug_log.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "foundation/module_context.h"

// 0 while no line is being written, 1 while one is; shared by both log files.
static volatile LONG g_fLogBusy = 0;

// Room for a line's stamp: "MM/DD hh:mm:ss:mmm  " is 20 characters, and even fields at their
// largest (five digits each) take 37.
#define LOG_STAMP_ROOM 40

// Writes the decimal digits of dwValue into pszOut, at least cchWidth of them (zeros in front);
// returns the count written.
static int PutDigits(char* pszOut, DWORD dwValue, int cchWidth) {
    char szDigits[10];
    int cchDigits = 0;
    do {
        szDigits[cchDigits++] = (char)('0' + dwValue % 10);
        dwValue /= 10;
    } while (dwValue);
    int cchOut = 0;
    for (int i = cchDigits; i < cchWidth; ++i) pszOut[cchOut++] = '0';
    while (cchDigits) pszOut[cchOut++] = szDigits[--cchDigits];
    return cchOut;
}

// The stamp that starts every line, "MM/DD hh:mm:ss:mmm  " (the local time, two spaces after
// it), written into pszOut (LOG_STAMP_ROOM characters); returns its length. Put together by
// hand: the log is written on every status poll, and a formatted print costs many times more.
static int FormatLogStamp(const SYSTEMTIME* pst, char* pszOut) {
    int n = 0;
    n += PutDigits(pszOut + n, pst->wMonth, 2);
    pszOut[n++] = '/';
    n += PutDigits(pszOut + n, pst->wDay, 2);
    pszOut[n++] = ' ';
    n += PutDigits(pszOut + n, pst->wHour, 2);
    pszOut[n++] = ':';
    n += PutDigits(pszOut + n, pst->wMinute, 2);
    pszOut[n++] = ':';
    n += PutDigits(pszOut + n, pst->wSecond, 2);
    pszOut[n++] = ':';
    n += PutDigits(pszOut + n, pst->wMilliseconds, 3);
    pszOut[n++] = ' ';
    pszOut[n++] = ' ';
    return n;
}

// Opens the file, restarts it when it has grown too large, and appends one stamped line. The
// file is opened without sharing, so a second writer that gets past the busy flag anyway (only
// the unguarded writer below can) fails to open it and loses its line instead of mixing it in.
static void AppendLine(const char* pszPath, const char* pszText) {
    HANDLE hFile = CreateFileA(pszPath, GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile != INVALID_HANDLE_VALUE) {
        const DWORD dwSize = GetFileSize(hFile, NULL);
        if (dwSize != INVALID_FILE_SIZE && dwSize > LOG_RESTART_SIZE) {
            SetFilePointer(hFile, 0, NULL, FILE_BEGIN);
            SetEndOfFile(hFile);
        } else {
            SetFilePointer(hFile, 0, NULL, FILE_END);
        }

        SYSTEMTIME st;
        GetLocalTime(&st);
        char szLine[LOG_STAMP_ROOM + LOG_MAX_TEXT + 3];
        int nLen = FormatLogStamp(&st, szLine);
        size_t cchText = pszText ? strlen(pszText) : 0;
        if (cchText > LOG_MAX_TEXT) cchText = LOG_MAX_TEXT;
        if (cchText) memcpy(szLine + nLen, pszText, cchText);
        nLen += (int)cchText;
        szLine[nLen++] = '\r';
        szLine[nLen++] = '\n';

        DWORD dwWritten = 0;
        WriteFile(hFile, szLine, (DWORD)nLen, &dwWritten, NULL);
        CloseHandle(hFile);
    }
}

static void WriteLogLine(const char* pszPath, const char* pszText) {
    // Lines logged before start-up has created the module lock (and set the log path) have
    // nowhere to go; they are dropped like a line that meets a busy log.
    if (!ModuleLockExists() || pszPath[0] == '\0') return;

    EnterCriticalSection(&g_csModule);
    if (g_fLogBusy) {
        LeaveCriticalSection(&g_csModule);
        return;
    }
    g_fLogBusy = 1;
    LeaveCriticalSection(&g_csModule);

    AppendLine(pszPath, pszText);

    EnterCriticalSection(&g_csModule);
    g_fLogBusy = 0;
    LeaveCriticalSection(&g_csModule);
}

void DebugLog(const char* pszText) { WriteLogLine(g_szLogPath, pszText); }

void DebugLogNoWait(const char* pszText) {
    if (g_szLogPath[0] == '\0') return;
    if (ModuleLockExists() && TryEnterCriticalSection(&g_csModule)) {
        // Held across the write so that nobody takes the lock in between: a few lines at most.
        DebugLog(pszText);
        LeaveCriticalSection(&g_csModule);
        return;
    }
    // Another thread holds the lock, or held it when it was ended: write without the busy flag.
    AppendLine(g_szLogPath, pszText);
}

void DebugLogSecondary(const char* pszText) {
    // The second file's name is formed on each write: the main path with "2" appended.
    char szPath[MAX_MODULE_PATH + 2];
    snprintf(szPath, sizeof szPath, "%s2", g_szLogPath);
    WriteLogLine(g_szLogPath[0] ? szPath : "", pszText);
}

void DebugLogF(const char* pszFormat, ...) {
    char szText[LOG_MAX_TEXT + 1];
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(szText, sizeof szText, pszFormat, args);
    va_end(args);
    DebugLog(szText);
}

int CheckHolds(int fHolds, const char* pszFormat, ...) {
    if (fHolds) return fHolds;
    char szText[LOG_MAX_TEXT + 1];
    const int nMarker = (int)(sizeof LOG_CHECK_MARKER - 1);
    memcpy(szText, LOG_CHECK_MARKER, (size_t)nMarker);
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(szText + nMarker, sizeof szText - (size_t)nMarker, pszFormat, args);
    va_end(args);
    DebugLog(szText);
    return fHolds;
}

int ShowStringMessage(HWND hOwner, UINT uTextId, UINT uTitleId, UINT uFlags) {
    char szText[513];
    char szTitle[51];
    szText[0] = '\0';
    szTitle[0] = '\0';
    LoadStringA(g_hInstance, uTextId, szText, sizeof szText);
    LoadStringA(g_hInstance, uTitleId, szTitle, sizeof szTitle);
    return MessageBoxA(hOwner, szText, szTitle, uFlags);
}
