/*
 * The printer drivers' answers under Wine: the printer-data value "MARLUNE".
 *
 * The module asks the disc printer's and the laminator's drivers for their state by writing the
 * printer-data value "MARLUNE" (one byte) and reading it back: a driver answers the read with a
 * record it computes at that moment (the ink counters, the laminator's status record). Wine's
 * spooler has no such drivers; it keeps printer data in the registry, so a read would give back
 * the byte just written. The drivers of the machine are in the robot's server (`rovane-sim
 * serve`), which holds the world's disc printer and laminator.
 *
 * So this program, the test host and not the module, puts itself between the module and Wine's
 * SetPrinterDataA and GetPrinterDataA: after loading Rovane.dll it points the module's import
 * table entries for those two winspool calls at PrinterDataSet and PrinterDataGet below. Every
 * call for another value name, and every call for a printer the server does not hold, goes on
 * to Wine's own call unchanged. A call for "MARLUNE" on a printer of the server is asked of the
 * server through the engine folder (engine_share.h) and waits for its answer, so that a write and
 * the read after it happen in the server's world in the same order, each at once, as a driver's
 * would:
 *
 *   the request, written whole as pd-PID-SEQ.req (a temporary name renamed into place):
 *       set            or   get
 *       PRINTER NAME        PRINTER NAME
 *       VALUE NAME          VALUE NAME
 *       TYPE
 *       HEX BYTES
 *   the answer, pd-PID-SEQ.ans, one line:
 *       pass                          not a printer of the server: Wine's call answers
 *       RESULT [TYPE HEX BYTES]       the Win32 result and, for a read that succeeded, the value
 *
 * The read applies the caller's buffer as GetPrinterDataA does (ERROR_MORE_DATA with the size
 * needed, ERROR_INVALID_PARAMETER for no buffer). Everything else of the spooler (the printer
 * list, opening printers, the raw documents) is Wine's own.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <winspool.h>

#include "engine_share.h"
#include "host.h"

typedef DWORD(WINAPI* SetPrinterDataFn)(HANDLE, LPSTR, DWORD, LPBYTE, DWORD);
typedef DWORD(WINAPI* GetPrinterDataFn)(HANDLE, LPSTR, LPDWORD, LPBYTE, DWORD, LPDWORD);

static SetPrinterDataFn s_pfnWineSet;
static GetPrinterDataFn s_pfnWineGet;
static LONG s_lSequence;

/* How long the server may take to answer before the call is given to Wine's spooler instead. */
#define PRINTER_DATA_WAIT_MS 10000
#define PRINTER_DATA_VALUE "MARLUNE"

/* The name of the printer a handle is open on, as the spooler lists it; 0 when it cannot tell. */
static int PrinterName(HANDLE hPrinter, char* pszName, size_t cchName) {
    DWORD cbNeeded = 0;
    GetPrinterA(hPrinter, 2, NULL, 0, &cbNeeded);
    if (cbNeeded == 0) return 0;
    BYTE* pInfo = (BYTE*)malloc(cbNeeded);
    if (pInfo == NULL) return 0;
    int fOk = 0;
    if (GetPrinterA(hPrinter, 2, pInfo, cbNeeded, &cbNeeded)) {
        const PRINTER_INFO_2A* p2 = (const PRINTER_INFO_2A*)pInfo;
        if (p2->pPrinterName != NULL && strlen(p2->pPrinterName) < cchName) {
            strcpy(pszName, p2->pPrinterName);
            fOk = 1;
        }
    }
    free(pInfo);
    return fOk;
}

static int WriteWhole(const char* pszPath, const char* pText, DWORD cb) {
    char szTemporary[MAX_PATH + 40];
    snprintf(szTemporary, sizeof szTemporary, "%s.tmp", pszPath);
    HANDLE hFile = CreateFileA(szTemporary, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE) return 0;
    DWORD cbWritten = 0;
    const BOOL fWritten = WriteFile(hFile, pText, cb, &cbWritten, NULL) && cbWritten == cb;
    CloseHandle(hFile);
    if (!fWritten || !MoveFileExA(szTemporary, pszPath, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(szTemporary);
        return 0;
    }
    return 1;
}

/*
 * Asks the server; the answer line into pszAnswer. 0 when there is no engine folder, the request
 * cannot be written or no answer came in time.
 */
static int AskServer(const char* pszRequest, char* pszAnswer, size_t cchAnswer) {
    char szFolder[MAX_PATH];
    if (!EngineFolder(szFolder, sizeof szFolder)) return 0;
    const LONG lSeq = InterlockedIncrement(&s_lSequence);
    char szBase[MAX_PATH + 40], szRequest[MAX_PATH + 48], szAnswer[MAX_PATH + 48];
    snprintf(szBase, sizeof szBase, "%s\\pd-%lu-%ld", szFolder, (unsigned long)GetCurrentProcessId(), (long)lSeq);
    snprintf(szRequest, sizeof szRequest, "%s.req", szBase);
    snprintf(szAnswer, sizeof szAnswer, "%s.ans", szBase);
    if (!WriteWhole(szRequest, pszRequest, (DWORD)strlen(pszRequest))) return 0;
    const DWORD dwStart = GetTickCount();
    for (;;) {
        HANDLE hFile = CreateFileA(szAnswer, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (hFile != INVALID_HANDLE_VALUE) {
            DWORD cbRead = 0;
            const BOOL fRead = ReadFile(hFile, pszAnswer, (DWORD)cchAnswer - 1, &cbRead, NULL);
            CloseHandle(hFile);
            DeleteFileA(szAnswer);
            if (!fRead) return 0;
            pszAnswer[cbRead] = '\0';
            return 1;
        }
        if (GetTickCount() - dwStart > PRINTER_DATA_WAIT_MS) {
            DeleteFileA(szRequest);
            fprintf(stderr, "rovane-host: the robot's server did not answer the printer-data request %s\n", szRequest);
            return 0;
        }
        Sleep(1);
    }
}

static int IsDriverValue(LPCSTR pszValue) { return pszValue != NULL && strcmp(pszValue, PRINTER_DATA_VALUE) == 0; }

static DWORD WINAPI PrinterDataSet(HANDLE hPrinter, LPSTR pValueName, DWORD dwType, LPBYTE pData, DWORD cbData) {
    char szPrinter[256];
    if (!IsDriverValue(pValueName) || (pData == NULL && cbData > 0) || cbData > 256 ||
        !PrinterName(hPrinter, szPrinter, sizeof szPrinter))
        return s_pfnWineSet(hPrinter, pValueName, dwType, pData, cbData);
    char szRequest[1024];
    int n = snprintf(szRequest, sizeof szRequest, "set\n%s\n%s\n%lu\n", szPrinter, pValueName, (unsigned long)dwType);
    for (DWORD i = 0; i < cbData && n + 3 < (int)sizeof szRequest; ++i) n += snprintf(szRequest + n, 3, "%02x", pData[i]);
    szRequest[n++] = '\n';
    szRequest[n] = '\0';
    char szAnswer[64];
    if (!AskServer(szRequest, szAnswer, sizeof szAnswer) || strncmp(szAnswer, "pass", 4) == 0)
        return s_pfnWineSet(hPrinter, pValueName, dwType, pData, cbData);
    return (DWORD)strtoul(szAnswer, NULL, 10);
}

static DWORD WINAPI PrinterDataGet(HANDLE hPrinter, LPSTR pValueName, LPDWORD pType, LPBYTE pData, DWORD nSize,
                                   LPDWORD pcbNeeded) {
    char szPrinter[256];
    if (!IsDriverValue(pValueName) || !PrinterName(hPrinter, szPrinter, sizeof szPrinter))
        return s_pfnWineGet(hPrinter, pValueName, pType, pData, nSize, pcbNeeded);
    char szRequest[600];
    snprintf(szRequest, sizeof szRequest, "get\n%s\n%s\n", szPrinter, pValueName);
    char szAnswer[1200];
    if (!AskServer(szRequest, szAnswer, sizeof szAnswer) || strncmp(szAnswer, "pass", 4) == 0)
        return s_pfnWineGet(hPrinter, pValueName, pType, pData, nSize, pcbNeeded);

    char* p = NULL;
    DWORD dwResult = (DWORD)strtoul(szAnswer, &p, 10);
    if (pcbNeeded == NULL) return ERROR_INVALID_PARAMETER;
    *pcbNeeded = 0;
    if (dwResult != ERROR_SUCCESS) return dwResult;
    const DWORD dwType = (DWORD)strtoul(p, &p, 10);
    while (*p == ' ') ++p;
    BYTE abValue[512];
    DWORD cbValue = 0;
    while (cbValue < sizeof abValue && p[0] && p[1] && p[0] != '\n') {
        char szByte[3] = {p[0], p[1], 0};
        abValue[cbValue++] = (BYTE)strtoul(szByte, NULL, 16);
        p += 2;
    }
    *pcbNeeded = cbValue;
    if (pData == NULL && nSize > 0) return ERROR_INVALID_PARAMETER;
    if (nSize < cbValue) return ERROR_MORE_DATA;
    if (cbValue > 0) memcpy(pData, abValue, cbValue);
    if (pType != NULL) *pType = dwType;
    return ERROR_SUCCESS;
}

/* The module's import table entry for winspool's function pszName, or NULL. */
static void** ImportEntry(HMODULE hModule, const char* pszName) {
    BYTE* pBase = (BYTE*)hModule;
    const IMAGE_DOS_HEADER* pDos = (const IMAGE_DOS_HEADER*)pBase;
    const IMAGE_NT_HEADERS* pNt = (const IMAGE_NT_HEADERS*)(pBase + pDos->e_lfanew);
    const IMAGE_DATA_DIRECTORY* pDir = &pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (pDir->VirtualAddress == 0) return NULL;
    for (const IMAGE_IMPORT_DESCRIPTOR* pDesc = (const IMAGE_IMPORT_DESCRIPTOR*)(pBase + pDir->VirtualAddress);
         pDesc->Name != 0; ++pDesc) {
        if (_stricmp((const char*)(pBase + pDesc->Name), "winspool.drv") != 0) continue;
        const IMAGE_THUNK_DATA* pNames =
            (const IMAGE_THUNK_DATA*)(pBase + (pDesc->OriginalFirstThunk ? pDesc->OriginalFirstThunk : pDesc->FirstThunk));
        IMAGE_THUNK_DATA* pAddresses = (IMAGE_THUNK_DATA*)(pBase + pDesc->FirstThunk);
        for (; pNames->u1.AddressOfData != 0; ++pNames, ++pAddresses) {
            if (IMAGE_SNAP_BY_ORDINAL(pNames->u1.Ordinal)) continue;
            const IMAGE_IMPORT_BY_NAME* pByName = (const IMAGE_IMPORT_BY_NAME*)(pBase + pNames->u1.AddressOfData);
            if (strcmp((const char*)pByName->Name, pszName) == 0) return (void**)&pAddresses->u1.Function;
        }
    }
    return NULL;
}

static int Redirect(HMODULE hModule, const char* pszName, void* pfnNew, void** ppfnOld) {
    void** ppEntry = ImportEntry(hModule, pszName);
    if (ppEntry == NULL) return 0;
    DWORD dwOld = 0;
    if (!VirtualProtect(ppEntry, sizeof *ppEntry, PAGE_READWRITE, &dwOld)) return 0;
    *ppfnOld = *ppEntry;
    *ppEntry = pfnNew;
    VirtualProtect(ppEntry, sizeof *ppEntry, dwOld, &dwOld);
    return 1;
}

int RedirectPrinterData(HMODULE hModule) {
    /* The module may import only one of them; each found entry is redirected. */
    const int fSet = Redirect(hModule, "SetPrinterDataA", (void*)PrinterDataSet, (void**)&s_pfnWineSet);
    const int fGet = Redirect(hModule, "GetPrinterDataA", (void*)PrinterDataGet, (void**)&s_pfnWineGet);
    if (!fSet) s_pfnWineSet = SetPrinterDataA;
    if (!fGet) s_pfnWineGet = GetPrinterDataA;
    return fSet && fGet;
}
