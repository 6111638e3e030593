// Print files and the print thread. A printer file carries the disc printer's own escape header;
// its first 32 bytes tell which printer family rendered it. The print thread copies such a file
// into the spooler as one raw document, or asks the label application to print a label design.
#include "printer/print_file.h"

#include <ctype.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "printer/label_app.h"
#include "printer/printer_select.h"
#include "printer/printer_state.h"

#define MAX_EXTENSION 20  // an extension this long or longer is none
#define ESCAPE 0x1B

int HasExtension(const char* pszPath, const char* pszWanted) {
    if (pszPath == NULL || pszWanted == NULL || pszPath[0] == '\0') return 0;
    const char* pszDot = NULL;
    for (const char* p = pszPath + strlen(pszPath) - 1;; --p) {
        if (*p == '.') {
            pszDot = p;
            break;
        }
        if (*p == '\\' || p == pszPath) return 0;  // a dotted folder, or no dot at all
    }
    const char* pszExtension = pszDot + 1;
    if (strlen(pszExtension) >= MAX_EXTENSION) return 0;
    const size_t cchWanted = strlen(pszWanted);
    for (size_t i = 0; i < cchWanted; ++i) {
        // A shorter extension meets its terminator here, which matches no wanted character.
        if (toupper((unsigned char)pszExtension[i]) != toupper((unsigned char)pszWanted[i])) return 0;
    }
    for (const char* p = pszExtension + cchWanted; *p != '\0'; ++p)
        if (*p != ' ') return 0;
    return 1;
}

int IsLabelFileName(const char* pszPath) {
    if (pszPath == NULL) return 0;
    const size_t cch = strlen(pszPath);
    if (cch <= 4) return 0;
    const char* pszEnd = pszPath + cch - 4;
    return pszEnd[0] == '.' && toupper((unsigned char)pszEnd[1]) == 'S' &&
           toupper((unsigned char)pszEnd[2]) == 'T' && toupper((unsigned char)pszEnd[3]) == 'D';
}

// The printer family of a header, by the format bytes after the escape.
int ClassifyPrintHeader(const BYTE* pbHeader, DWORD cbHeader) {
    if (pbHeader == NULL || cbHeader < PRINT_FILE_HEADER_SIZE) return PRINT_FILE_INVALID;
    const BYTE* pb = pbHeader;
    if (pb[0] != ESCAPE) return PRINT_FILE_INVALID;
    if (pb[1] == 0x00 && pb[2] == 0xFF)
        return pb[8] == ESCAPE && pb[9] == 0x00 && pb[10] == 0xFE ? PRINT_FILE_PELLAN_IV : PRINT_FILE_INVALID;
    if (pb[1] == 0x03 && pb[2] == 0xFF)
        return pb[8] == ESCAPE && pb[9] == 0x03 && pb[10] == 0xFE ? PRINT_FILE_PELLAN_PRO : PRINT_FILE_INVALID;
    // "KS10" is looked at before the format byte alone: it also follows some other first bytes.
    if (pb[2] == 0x02 && memcmp(pb + 3, "KS10", 4) == 0) return PRINT_FILE_OPTICAL_DISC_PRINTER;
    switch (pb[1]) {
        case 0x05: return pb[2] == 0x1E ? PRINT_FILE_VARROW : PRINT_FILE_INVALID;
        case 0x06: return pb[2] == 0x0E ? PRINT_FILE_VARROW : PRINT_FILE_INVALID;
        case 0x07: return PRINT_FILE_VARROW_2;
        case 0x08: return pb[2] == 0x0E ? PRINT_FILE_TESSIK_6 : PRINT_FILE_INVALID;
        default: return PRINT_FILE_INVALID;
    }
}

int ClassifyPrintFile(const char* pszPath) {
    if (pszPath == NULL || pszPath[0] == '\0') return PRINT_FILE_INVALID;
    if (HasExtension(pszPath, "std")) return PRINT_FILE_LABEL;
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE) return PRINT_FILE_INVALID;
    BYTE abHeader[PRINT_FILE_HEADER_SIZE];
    DWORD dwRead = 0;
    const BOOL fRead = ReadFile(hFile, abHeader, sizeof abHeader, &dwRead, NULL);
    CloseHandle(hFile);
    if (!fRead) return PRINT_FILE_INVALID;
    return ClassifyPrintHeader(abHeader, dwRead);
}

int IsPrintFileForPrinter(const char* pszPrinterName, const char* pszPath) {
    if (pszPath == NULL || pszPath[0] == '\0') return 0;
    const char* pszName = pszPrinterName != NULL ? pszPrinterName : "";
    switch (ClassifyPrintFile(pszPath)) {
        case PRINT_FILE_PELLAN_IV: return PrinterNameBegins(pszName, MODEL_PELLAN_IV);
        case PRINT_FILE_PELLAN_PRO: return PrinterNameBegins(pszName, MODEL_PELLAN_PRO);
        case PRINT_FILE_OPTICAL_DISC_PRINTER: return PrinterNameBegins(pszName, MODEL_OPTICAL_DISC_PRINTER);
        case PRINT_FILE_VARROW: return PrinterNameBegins(pszName, MODEL_VARROW);
        case PRINT_FILE_VARROW_2: return strcmp(pszName, MODEL_VARROW) == 0 ? 1 : 0;
        case PRINT_FILE_TESSIK_6: return strcmp(pszName, MODEL_TESSIK_6) == 0 ? 1 : 0;
        case PRINT_FILE_LABEL: return 1;
        default: return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// The print thread.

// A label design through the label application. 1 when the application was asked to print (or
// the printer could not be described, which ends the print without error), 0 when it is missing.
static DWORD PrintThroughLabelApp(const char* pszFile) {
    DebugLogF("Sending %s file through SureThing to %s on %s", pszFile, g_szPrinterName, g_szPrinterPort);
    if (!g_fSureThing || LabelApp == NULL) {
        DebugLog("ERROR: SureThing is not available - label not printed");
        return 0;
    }
    LabelAppPrepare(g_dwPrintJobNumber);
    if (!GetPRINTER2Info()) return 1;
    LabelAppPrintDesign(pszFile, g_szPrinterName, g_szPrinterDriver, g_szPrinterPort);
    DebugLog("<--SendPrintThread returning SUCCESSFULLY");
    return 1;
}

// Copies the file into one raw spooler document, PRINT_COPY_BLOCK bytes at a time through one
// buffer. Whatever was opened is closed again on every way out (page, document, printer, file).
static DWORD SendRawFile(const char* pszFile) {
    DebugLogF("Sending %s file directly to %s on %s", pszFile, g_szPrinterName, g_szPrinterPort);
    HANDLE hFile = CreateFileA(pszFile, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    const DWORD dwSize = hFile != INVALID_HANDLE_VALUE ? GetFileSize(hFile, NULL) : 0;
    if (hFile == INVALID_HANDLE_VALUE || dwSize == 0 || dwSize == INVALID_FILE_SIZE) {
        DebugLog("ERROR: INVALID_HANDLE_VALUE or no data");
        if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
        return 0;
    }
    DebugLogF("File=%s   Size=%lu", pszFile, (unsigned long)dwSize);

    HANDLE hPrinter = NULL;
    if (!OpenPrinterA(g_szPrinterName, &hPrinter, NULL)) {
        DebugLogF("ERROR: Couldn't open PRINTER: %s", g_szPrinterName);
        CloseHandle(hFile);
        return 0;
    }
    DebugLogF("Printer=%s", g_szPrinterName);

    DWORD dwResult = 0;
    BOOL fDocument = FALSE, fPage = FALSE;
    DOC_INFO_1A docInfo;
    docInfo.pDocName = (LPSTR)pszFile;
    docInfo.pOutputFile = NULL;
    docInfo.pDatatype = (LPSTR) "RAW";
    if (!StartDocPrinterA(hPrinter, 1, (LPBYTE)&docInfo)) {
        DebugLog("ERROR: Failed StartDocPrinter!");
        goto done;
    }
    fDocument = TRUE;
    if (!StartPagePrinter(hPrinter)) {
        DebugLog("ERROR: Failed StartPagePrinter!");
        goto done;
    }
    fPage = TRUE;
    // From here until the printer puts the printed disc out, the tray is the printer's own.
    g_fSpooling = 1;

    {
        BYTE abBlock[PRINT_COPY_BLOCK];
        DWORD dwSent = 0;
        while (dwSent < dwSize) {
            const DWORD dwWanted = dwSize - dwSent < PRINT_COPY_BLOCK ? dwSize - dwSent : PRINT_COPY_BLOCK;
            DWORD dwRead = 0, dwWritten = 0;
            if (!ReadFile(hFile, abBlock, dwWanted, &dwRead, NULL)) {
                DebugLog("ERROR: Failed ReadFile!");
                goto done;
            }
            if (dwRead == 0) {
                // The file became shorter while it was sent: the print would be cut off, so it
                // counts as a failed read.
                DebugLogF("ERROR: Failed ReadFile! The file ended after %lu of %lu bytes", (unsigned long)dwSent,
                          (unsigned long)dwSize);
                goto done;
            }
            if (!WritePrinter(hPrinter, abBlock, dwRead, &dwWritten)) {
                DebugLog("ERROR: Failed WritePrinter!");
                goto done;
            }
            if (dwWritten != dwRead) {
                DebugLog("ERROR: dwBytesWritten != dwBytesRead!");
                goto done;
            }
            dwSent += dwRead;
        }
    }

    fPage = FALSE;
    if (!EndPagePrinter(hPrinter)) {
        DebugLog("ERROR: Failed EndPagePrinter!");
        goto done;
    }
    fDocument = FALSE;
    if (!EndDocPrinter(hPrinter)) {
        DebugLog("ERROR: Failed EndDocPrinter!");
        goto done;
    }
    dwResult = 1;

done:
    if (fPage) EndPagePrinter(hPrinter);
    if (fDocument) EndDocPrinter(hPrinter);
    ClosePrinter(hPrinter);
    CloseHandle(hFile);
    if (dwResult) DebugLog("<--SendPrintThread returning SUCCESSFULLY");
    return dwResult;
}

DWORD WINAPI SendPrintThread(LPVOID lpSlotDigit) {
    DebugLog("(__PRINTING STARTED__)");
    WorkerBegins(WORKER_PRINT);
    const char cDigit = lpSlotDigit != NULL ? *(const char*)lpSlotDigit : '\0';
    // The digit names one of the four slots; anything else prints nothing.
    if (!CheckHolds(cDigit >= '0' && cDigit < '0' + MAX_PRINT_SLOTS, "Print slot '%c' does not exist - nothing printed",
                    cDigit ? cDigit : ' ')) {
        WorkerEnds(WORKER_PRINT);
        return 0;
    }
    // The request that fills the slot next may come while this print is being sent: take a copy.
    char szFile[PRINT_FILE_NAME_SIZE];
    EnterCriticalSection(&g_csModule);
    memcpy(szFile, g_PrintSlots[cDigit - '0'].szFileName, sizeof szFile);
    LeaveCriticalSection(&g_csModule);
    szFile[sizeof szFile - 1] = '\0';

    const DWORD dwResult = IsLabelFileName(szFile) ? PrintThroughLabelApp(szFile) : SendRawFile(szFile);
    WorkerEnds(WORKER_PRINT);
    return dwResult;
}
