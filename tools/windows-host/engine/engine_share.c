/* The engine folder, its recorder list and the tray requests: see engine_share.h. */
#include "engine_share.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define ENGINE_DIR_VARIABLE "ROVANE_ENGINE_DIR"

/* ---------------------------------------------------------------------------------------------
 * The folder
 */

int EngineFolder(char* pszFolder, DWORD cchFolder) {
    char szValue[MAX_PATH];
    const DWORD cch = GetEnvironmentVariableA(ENGINE_DIR_VARIABLE, szValue, sizeof szValue);
    if (cch == 0 || cch >= sizeof szValue) return 0;
    DWORD n = 0;
    if (szValue[0] == '/') {
        /* A Unix path: the same place through drive Z:. */
        if (cchFolder < 3) return 0;
        pszFolder[n++] = 'Z';
        pszFolder[n++] = ':';
    }
    for (DWORD i = 0; i < cch; ++i) {
        if (n + 1 >= cchFolder) return 0;
        pszFolder[n++] = szValue[i] == '/' ? '\\' : szValue[i];
    }
    while (n > 0 && pszFolder[n - 1] == '\\') --n;
    pszFolder[n] = '\0';
    return n > 0;
}

int EngineFolderForCall(const char* pszLibrary, char* pszFolder, DWORD cchFolder) {
    static LONG s_fTold = 0;
    if (EngineFolder(pszFolder, cchFolder)) return 1;
    if (InterlockedExchange(&s_fTold, 1) == 0) {
        char szWhy[200];
        snprintf(szWhy, sizeof szWhy,
                 "%s: " ENGINE_DIR_VARIABLE " does not name the engine folder; every call fails\n", pszLibrary);
        OutputDebugStringA(szWhy);
    }
    return 0;
}

/* ---------------------------------------------------------------------------------------------
 * Reading its files
 */

static int FilePath(const char* pszFolder, const char* pszName, char* pszPath, size_t cchPath) {
    const int n = snprintf(pszPath, cchPath, "%s\\%s", pszFolder, pszName);
    return n > 0 && (size_t)n < cchPath;
}

char* EngineReadFile(const char* pszFolder, const char* pszName, DWORD* pcb) {
    char szPath[MAX_PATH + 32];
    if (!FilePath(pszFolder, pszName, szPath, sizeof szPath)) return NULL;
    /* The server replaces its files by renaming: let it, while we read. */
    HANDLE hFile = CreateFileA(szPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE) return NULL;
    const DWORD cbFile = GetFileSize(hFile, NULL);
    char* pText = NULL;
    DWORD cbRead = 0;
    if (cbFile != INVALID_FILE_SIZE && cbFile < 16 * 1024 * 1024) {
        pText = (char*)HeapAlloc(GetProcessHeap(), 0, cbFile + 1);
        if (pText != NULL && !ReadFile(hFile, pText, cbFile, &cbRead, NULL)) {
            HeapFree(GetProcessHeap(), 0, pText);
            pText = NULL;
        }
    }
    CloseHandle(hFile);
    if (pText == NULL) return NULL;
    pText[cbRead] = '\0';
    if (pcb != NULL) *pcb = cbRead;
    return pText;
}

static char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

/* One line of units.txt into *pUnit: 1 when it is a recorder's line. */
static int ParseUnitLine(const char* pszLine, EngineUnit* pUnit) {
    char* pEnd = NULL;
    const long lUnit = strtol(pszLine, &pEnd, 10);
    if (pEnd == pszLine || *pEnd != ' ') return 0;
    const char* p = pEnd;
    while (*p == ' ') ++p;
    if (p[0] == '\0' || p[1] != ' ') return 0;
    const char cLetter = UpperAscii(p[0]);
    p += 1;
    while (*p == ' ') ++p;
    size_t cchPosition = 0;
    while (p[cchPosition] != '\0' && p[cchPosition] != ' ') ++cchPosition;
    if (cchPosition == 0 || cchPosition >= sizeof pUnit->szPosition || p[cchPosition] != ' ') return 0;
    memset(pUnit, 0, sizeof *pUnit);
    pUnit->lUnit = lUnit;
    pUnit->cLetter = cLetter;
    memcpy(pUnit->szPosition, p, cchPosition);
    /* The serial number is the rest of the line after one blank: a drive's number may hold
     * blanks of its own. */
    const char* pszSerial = p + cchPosition + 1;
    if (strcmp(pszSerial, "-") != 0) {
        strncpy(pUnit->szSerial, pszSerial, sizeof pUnit->szSerial - 1);
    }
    return 1;
}

int EngineReadUnits(const char* pszFolder, EngineUnit* pUnits, int cMax) {
    char* pText = EngineReadFile(pszFolder, "units.txt", NULL);
    if (pText == NULL) return -1;
    int cUnits = 0, fComplete = 0;
    char* pLine = pText;
    while (*pLine != '\0' && !fComplete) {
        char* pNext = strchr(pLine, '\n');
        if (pNext != NULL) *pNext++ = '\0';
        else pNext = pLine + strlen(pLine);
        const size_t cch = strlen(pLine);
        if (cch > 0 && pLine[cch - 1] == '\r') pLine[cch - 1] = '\0';
        if (strcmp(pLine, "end") == 0)
            fComplete = 1;
        else if (cUnits < cMax && ParseUnitLine(pLine, &pUnits[cUnits]))
            ++cUnits;
        pLine = pNext;
    }
    HeapFree(GetProcessHeap(), 0, pText);
    return fComplete ? cUnits : -1;
}

const EngineUnit* EngineFindUnit(const EngineUnit* pUnits, int cUnits, LONG lUnit) {
    for (int i = 0; i < cUnits; ++i)
        if (pUnits[i].lUnit == lUnit) return &pUnits[i];
    return NULL;
}

const EngineUnit* EngineFindLetter(const EngineUnit* pUnits, int cUnits, char cLetter) {
    const char cUpper = UpperAscii(cLetter);
    for (int i = 0; i < cUnits; ++i)
        if (pUnits[i].cLetter == cUpper) return &pUnits[i];
    return NULL;
}

long EngineFaultCount(const char* pszFolder, const char* pszName) {
    char* pText = EngineReadFile(pszFolder, "faults.txt", NULL);
    if (pText == NULL) return 0;
    long lCount = 0;
    const size_t cchName = strlen(pszName);
    for (char* pLine = pText; *pLine != '\0';) {
        char* pNext = strchr(pLine, '\n');
        if (pNext != NULL) *pNext++ = '\0';
        else pNext = pLine + strlen(pLine);
        if (strncmp(pLine, pszName, cchName) == 0 && pLine[cchName] == ' ') lCount = strtol(pLine + cchName + 1, NULL, 10);
        pLine = pNext;
    }
    HeapFree(GetProcessHeap(), 0, pText);
    return lCount > 0 ? lCount : 0;
}

/* ---------------------------------------------------------------------------------------------
 * The tray requests
 */

int EngineAppendTray(const char* pszFolder, LONG lUnit, int fOpen) {
    char szPath[MAX_PATH + 32];
    if (!FilePath(pszFolder, "trays.txt", szPath, sizeof szPath)) return 0;
    char szLine[48];
    const int cchLine = snprintf(szLine, sizeof szLine, "%ld %s\n", (long)lUnit, fOpen ? "open" : "close");

    /* One lock for the process, whichever library asks: a mutex named after the process. */
    char szMutex[64];
    snprintf(szMutex, sizeof szMutex, "Local\\RovaneEngineTrays.%lu", (unsigned long)GetCurrentProcessId());
    HANDLE hMutex = CreateMutexA(NULL, FALSE, szMutex);
    if (hMutex != NULL) WaitForSingleObject(hMutex, INFINITE);

    int fWritten = 0;
    HANDLE hFile = CreateFileA(szPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile != INVALID_HANDLE_VALUE) {
        DWORD cbWritten = 0;
        fWritten = WriteFile(hFile, szLine, (DWORD)cchLine, &cbWritten, NULL) && cbWritten == (DWORD)cchLine;
        CloseHandle(hFile);
    }

    if (hMutex != NULL) {
        ReleaseMutex(hMutex);
        CloseHandle(hMutex);
    }
    return fWritten;
}
