// The laminator channel: status records read through the printer-data value "MARLUNE" of the
// spooler printer "Disc Laminator", commands written to it as 8-byte raw documents. Every call
// opens the printer, uses it and closes it again; the channel keeps no state between calls.
#include "printer/laminator_channel.h"

#include <stdio.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"

#define LAM_START_MARK 0x01
#define LAM_END_MARK 0x04
#define LAM_FULL_ACCESS 0xF000C   // the printer opened for full printer access
#define LAM_ATTEMPTS 3
#define LAM_RETRY_PAUSE_MS 20
#define LAM_REQUEST_VALUE "MARLUNE"

// The firmware a robot needs to work with a laminator.
#define LAM_FIRMWARE_MAJOR 1
#define LAM_FIRMWARE_MINOR 13

const BYTE LamTrayInCMD[LAM_COMMAND_SIZE] = {0x1B, 0x04, 0x80, 0x00, 0x00, 0x00, 0x00, 0x9F};
const BYTE LamTrayOutCMD[LAM_COMMAND_SIZE] = {0x1B, 0x04, 0x81, 0x00, 0x00, 0x00, 0x00, 0xA0};
const BYTE LaminateCMD[LAM_COMMAND_SIZE] = {0x1B, 0x04, 0x82, 0x00, 0x00, 0x00, 0x00, 0xA1};
const BYTE LamHeaterCMD[LAM_COMMAND_SIZE] = {0x1B, 0x04, 0x83, 0x00, 0x00, 0x00, 0x00, 0xA2};

static const char g_szNoLaminatorText[] =
    "Unable to communicate with the laminator.\nPlease check that the laminator is powered on and connected.\n"
    "To retry click \"Retry\" or to Cancel (aborts job if one is in process) click \"Cancel\"";

// The sum of the bLength - 1 bytes from offset 1; 0 when bLength is 0 or 1. A length that would
// run past the record cannot be the driver's: it yields -1 and the record counts as corrupt.
static int RecordChecksum(const LamStatus* pStatus) {
    const BYTE* pbRecord = (const BYTE*)pStatus;
    const unsigned cbSummed = pStatus->bLength > 1 ? (unsigned)pStatus->bLength - 1 : 0;
    if (1 + cbSummed > LAM_STATUS_SIZE) return -1;
    BYTE bSum = 0;
    for (unsigned i = 1; i <= cbSummed; ++i) bSum = (BYTE)(bSum + pbRecord[i]);
    return bSum;
}

int CheckLamStatus(const LamStatus* pStatus, DWORD cbRead) {
    if (pStatus == NULL || cbRead != LAM_STATUS_SIZE) return LAM_RECORD_WRONG_SIZE;
    if (pStatus->bStartMark != LAM_START_MARK || pStatus->bEndMark != LAM_END_MARK) return LAM_RECORD_FOREIGN;
    if (pStatus->bLamState != 'I' && pStatus->bLamState != 'B' && pStatus->bLamState != 'C') return LAM_RECORD_FOREIGN;
    if (RecordChecksum(pStatus) != (int)pStatus->bChecksum) return LAM_RECORD_BAD_CHECKSUM;
    return LAM_RECORD_VALID;
}

// One attempt: open, ask, read, close. 1 with a valid record in *pStatus. nAttempt counts the
// failed attempts of this cycle so far.
static int ReadLaminatorRecord(LamStatus* pStatus, int nAttempt) {
    HANDLE hPrinter = NULL;
    PRINTER_DEFAULTSA defaults;
    defaults.pDatatype = NULL;
    defaults.pDevMode = NULL;
    defaults.DesiredAccess = LAM_FULL_ACCESS;
    if (!OpenPrinterA(g_szLaminatorName, &hPrinter, &defaults)) {
        DebugLogF("OpenPrinter (%s) Error! (%lu)", g_szLaminatorName, (unsigned long)GetLastError());
        return 0;
    }

    DWORD cbRead = 0;
    BOOL fRead = FALSE;
    BYTE bRequest = 0x00;
    if (SetPrinterDataA(hPrinter, (LPSTR)LAM_REQUEST_VALUE, REG_BINARY, &bRequest, 1) != ERROR_SUCCESS) {
        DebugLog("SetPrinterData() Error!");
        DebugLog("GetPrinterData() Error!");
    } else {
        DWORD dwType = 0;
        DWORD cbNeeded = 0;
        if (GetPrinterDataA(hPrinter, (LPSTR)LAM_REQUEST_VALUE, &dwType, (LPBYTE)pStatus, LAM_STATUS_SIZE,
                            &cbNeeded) == ERROR_SUCCESS) {
            fRead = TRUE;
            cbRead = cbNeeded <= LAM_STATUS_SIZE ? cbNeeded : 0;
        } else {
            DebugLog("GetPrinterData() Error!");
        }
    }
    ClosePrinter(hPrinter);

    switch (CheckLamStatus(pStatus, fRead ? cbRead : 0)) {
        case LAM_RECORD_VALID: return 1;
        case LAM_RECORD_WRONG_SIZE:
            // A one-byte answer is the driver echoing the request; it is worth one line per cycle.
            if (!(cbRead == 1 && nAttempt > 0)) DebugLogF("Wrong number of status bytes: %u", (unsigned)cbRead);
            return 0;
        case LAM_RECORD_BAD_CHECKSUM: DebugLog("WARNING: CHECKSUM ERROR!! TRY AGAIN."); return 0;
        default: return 0;  // wrong marks or an unknown state: not a record of this laminator, refused without a line
    }
}

int GetLaminatorStatus(LamStatus* pStatus, BOOL fAbort, BOOL fDialog) {
    if (pStatus == NULL) return 0;
    pStatus->bLamState = 'B';
    int nFailed = 0;
    for (;;) {
        if (ReadLaminatorRecord(pStatus, nFailed)) return 1;
        if (++nFailed >= LAM_ATTEMPTS) {
            if (!fDialog) break;
            if (MessageBoxA(NULL, g_szNoLaminatorText, "Error", MB_RETRYCANCEL) != IDRETRY) {
                if (fAbort) MarkJobAborted("User aborted in GetLaminatorStatus");
                return 0;
            }
            nFailed = 0;
        }
        Sleep(LAM_RETRY_PAUSE_MS);
    }
    if (fAbort) MarkJobAborted("Job Aborted in GetLaminatorStatus");
    return 0;
}

int SendLaminatorCMD(const BYTE* pbCommand, DWORD cbCommand, BOOL fRemember) {
    if (!CheckHolds(pbCommand != NULL && cbCommand >= 3, "SendLaminatorCMD refused: no command")) return 0;
    DebugLogF("SendLaminatorCMD ..%.2x..", (unsigned)pbCommand[2]);
    if (fRemember) RememberCommand(pbCommand, cbCommand < LAM_COMMAND_SIZE ? cbCommand : LAM_COMMAND_SIZE);

    HANDLE hPrinter = NULL;
    if (!OpenPrinterA(g_szLaminatorName, &hPrinter, NULL)) {
        DebugLogF("ERROR: Couldn't open PRINTER: %s", g_szLaminatorName);
        return 0;
    }
    DOC_INFO_1A doc;
    doc.pDocName = (LPSTR) "LAMINATOR_CMD";
    doc.pOutputFile = NULL;
    doc.pDatatype = (LPSTR) "RAW";
    if (StartDocPrinterA(hPrinter, 1, (LPBYTE)&doc) == 0) {
        DebugLog("ERROR: Failed StartDocPrinter!");
        ClosePrinter(hPrinter);
        return 0;
    }
    if (!StartPagePrinter(hPrinter)) {
        DebugLog("ERROR: Failed StartPagePrinter!");
        EndDocPrinter(hPrinter);
        ClosePrinter(hPrinter);
        return 0;
    }
    DWORD cbWritten = 0;
    const char* pszFailure = NULL;
    if (!WritePrinter(hPrinter, (LPVOID)pbCommand, cbCommand, &cbWritten))
        pszFailure = "ERROR: Failed WritePrinter!";
    else if (cbWritten != cbCommand)
        pszFailure = "ERROR: dwBytesWritten != dwBytesRead!";
    if (pszFailure != NULL) {
        DebugLog(pszFailure);
        EndPagePrinter(hPrinter);
        EndDocPrinter(hPrinter);
        ClosePrinter(hPrinter);
        return 0;
    }
    if (!EndPagePrinter(hPrinter)) {
        DebugLog("ERROR: Failed EndPagePrinter!");
        EndDocPrinter(hPrinter);
        ClosePrinter(hPrinter);
        return 0;
    }
    if (!EndDocPrinter(hPrinter)) {
        DebugLog("ERROR: Failed EndDocPrinter!");
        ClosePrinter(hPrinter);
        return 0;
    }
    ClosePrinter(hPrinter);
    DebugLog("<--SendLaminatorCMD returning SUCCESSFULLY");
    return 1;
}

int ParseVersion(const char* pszText, int* pnMajor, int* pnMinor) {
    if (pszText == NULL || pnMajor == NULL || pnMinor == NULL) return 0;
    for (const char* pszDot = strchr(pszText, '.'); pszDot != NULL; pszDot = strchr(pszDot + 1, '.')) {
        // Every blank before this dot, nearest first, may start the number pair.
        for (const char* p = pszDot - 1; p >= pszText; --p) {
            if (*p != ' ') continue;
            int nMajor = 0;
            int nMinor = *pnMinor;
            if (sscanf(p, "%i.%i", &nMajor, &nMinor) >= 1) {
                *pnMajor = nMajor;
                *pnMinor = nMinor;
                return 1;
            }
        }
    }
    return 0;
}

int CheckLaminatorFirmware(void) {
    int nMajor = 0;
    int nMinor = 0;
    ParseVersion(g_szFirmware, &nMajor, &nMinor);
    if (nMajor < LAM_FIRMWARE_MAJOR || (nMajor == LAM_FIRMWARE_MAJOR && nMinor < LAM_FIRMWARE_MINOR)) {
        DebugLog(g_szFirmware);
        DebugLogF("Firmware not updated for laminator installed %i.%i, needed %i.%i", nMajor, nMinor,
                  LAM_FIRMWARE_MAJOR, LAM_FIRMWARE_MINOR);
        return 0;
    }
    return 1;
}

DWORD LaminationsLeft(const LamStatus* pStatus) {
    if (pStatus == NULL) return 0;
    const DWORD dwRibbon = ((DWORD)pStatus->abRibbonLeft[0] << 16) | ((DWORD)pStatus->abRibbonLeft[1] << 8) |
                           (DWORD)pStatus->abRibbonLeft[2];
    return dwRibbon / LAM_RIBBON_PER_LAMINATION;
}
