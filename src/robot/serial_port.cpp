#include "robot/serial_port.h"

#include <stdio.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/module_context.h"

HANDLE g_hPort = INVALID_HANDLE_VALUE;
char g_bLastCommandSent[LAST_COMMAND_SIZE] = "";
const BYTE* g_pStatusFrame = NULL;

static BYTE g_abReceive[RECEIVE_BUFFER_SIZE];

// A robot that keeps talking must not hold a drain for ever: after this many bytes the drain
// stops and leaves the rest to the next read.
#define DRAIN_LIMIT 4096

// Logs a failure of PortOpen and, when asked, shows it.
static void ReportPortError(const char* pszText, BOOL fShowErrors, HWND hOwner) {
    DebugLog(pszText);
    if (fShowErrors) MessageBoxA(hOwner, pszText, "Error", 0);
}

// A configuration step failed: report it with the error code, and close the port again so that
// the next open really opens it.
static int FailConfiguration(const char* pszFormat, BOOL fShowErrors) {
    char szText[160];
    snprintf(szText, sizeof szText, pszFormat, (unsigned long)GetLastError());
    ReportPortError(szText, fShowErrors, g_hOwnerWnd);
    CloseHandle(g_hPort);
    g_hPort = INVALID_HANDLE_VALUE;
    return 0;
}

int PortOpen(const char* pszPortName, BOOL fShowErrors) {
    char szText[160];
    if (g_hPort != INVALID_HANDLE_VALUE) return 1;

    HANDLE hPort = CreateFileA(pszPortName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (hPort == INVALID_HANDLE_VALUE) {
        const DWORD dwError = GetLastError();
        if (dwError == ERROR_FILE_NOT_FOUND)
            snprintf(szText, sizeof szText, "Error opening %s. Port not found.", pszPortName);
        else if (dwError == ERROR_ACCESS_DENIED)
            snprintf(szText, sizeof szText, "Error opening %s. Access Denied.\nSome other program has it open.",
                     pszPortName);
        else
            snprintf(szText, sizeof szText, "Unable to open %s. ERROR code: %lu", pszPortName,
                     (unsigned long)dwError);
        ReportPortError(szText, fShowErrors, NULL);
        return 0;
    }
    g_hPort = hPort;
    DebugLogF("%s control port opened successfully.", pszPortName);

    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(g_hPort, &dcb)) DebugLogF("WARNING: GetCommState failed.  Error=%lu", (unsigned long)GetLastError());
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = PORT_BAUD_RATE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDsrSensitivity = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fAbortOnError = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.EvtChar = '$';
    if (!SetCommState(g_hPort, &dcb))
        return FailConfiguration("Unable to configure the serial port. ERROR code: %lu", fShowErrors);

    COMMTIMEOUTS timeouts;
    memset(&timeouts, 0, sizeof timeouts);
    if (!GetCommTimeouts(g_hPort, &timeouts))
        DebugLogF("WARNING: GetCommTimeouts failed.  Error=%lu", (unsigned long)GetLastError());
    // Reads return at once with whatever has arrived: all waiting is the module's own polling.
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 10;
    timeouts.WriteTotalTimeoutConstant = 1000;
    if (!SetCommTimeouts(g_hPort, &timeouts))
        return FailConfiguration("Unable to set the time-out parameters. ERROR code: %lu", fShowErrors);
    return 1;
}

void RememberCommand(const BYTE* pbCommand, DWORD cbCommand) {
    if (cbCommand > LAST_COMMAND_SIZE - 1) cbCommand = LAST_COMMAND_SIZE - 1;
    memcpy(g_bLastCommandSent, pbCommand, cbCommand);
    g_bLastCommandSent[cbCommand] = '\0';
}

int PortWrite(const char* pszCommand, BOOL fRemember) {
    if (pszCommand == NULL) pszCommand = "";
    const DWORD cchCommand = (DWORD)strlen(pszCommand);
    if (fRemember) RememberCommand((const BYTE*)pszCommand, cchCommand);

    int nFailures = 0;
    DWORD i = 0;
    while (i < cchCommand) {
        DWORD dwWritten = 0;
        if (WriteFile(g_hPort, pszCommand + i, 1, &dwWritten, NULL) && dwWritten == 1) {
            ++i;
            continue;
        }
        // A failed byte spoils the command: count it and send the whole command again.
        if (++nFailures >= 3) return 0;
        i = 0;
    }
    return 1;
}

// A candidate frame: "S" first, a known robot state third, a length below 11. The checksum is
// checked separately.
static int IsFrameCandidate(const BYTE* pbFrame) {
    const BYTE bState = pbFrame[2];
    return pbFrame[0] == 'S' && pbFrame[1] < 11 &&
           (bState == 'I' || bState == 'B' || bState == 'W' || bState == 'P');
}

static BYTE FrameChecksum(const BYTE* pbFrame) {
    // The sum of the L - 1 bytes from the "S" on; a length of 0 sums nothing.
    const unsigned cbSummed = pbFrame[1] > 0 ? (unsigned)pbFrame[1] - 1 : 0;
    BYTE bSum = 0;
    for (unsigned i = 0; i < cbSummed; ++i) bSum = (BYTE)(bSum + pbFrame[i]);
    return bSum;
}

int CheckStatusFrame(const BYTE* pbFrame) {
    if (pbFrame == NULL || !IsFrameCandidate(pbFrame)) return FRAME_PENDING;
    return FrameChecksum(pbFrame) == pbFrame[9] ? FRAME_COMPLETE : FRAME_BAD_CHECKSUM;
}

int TakeReceivedByte(BYTE* pbBuffer, DWORD* pcbReceived, BYTE bByte, const BYTE** ppFrame) {
    if (*pcbReceived >= RECEIVE_BUFFER_SIZE) return FRAME_BUFFER_FULL;
    pbBuffer[(*pcbReceived)++] = bByte;
    // A dropped "$" cannot end a frame: the buffer's last bytes are not followed by it.
    if (bByte != '$' || *pcbReceived < STATUS_FRAME_SIZE) return FRAME_PENDING;
    *ppFrame = pbBuffer + *pcbReceived - STATUS_FRAME_SIZE;
    return CheckStatusFrame(*ppFrame);
}

int PortRead(DWORD dwFirstByteTimeout, DWORD dwInterByteTimeout) {
    DWORD cbReceived = 0;
    BOOL fReceivedAny = FALSE;
    DWORD dwReference = GetTickCount();

    for (;;) {
        BYTE bByte = 0;
        DWORD dwRead = 0;
        if (ReadFile(g_hPort, &bByte, 1, &dwRead, NULL) && dwRead == 1) {
            const int nFrame = TakeReceivedByte(g_abReceive, &cbReceived, bByte, &g_pStatusFrame);
            if (nFrame == FRAME_BUFFER_FULL) DebugLog("ERROR: RECEIVE BUFFER FILLED UP!");
            fReceivedAny = TRUE;
            dwReference = GetTickCount();
            if (nFrame == FRAME_COMPLETE) return 1;
            if (nFrame == FRAME_BAD_CHECKSUM) DebugLog("WARNING: CHECKSUM ERROR!! TRY AGAIN.");
            continue;
        }
        const DWORD dwElapsed = GetTickCount() - dwReference;
        if (!fReceivedAny && dwElapsed > dwFirstByteTimeout) return 0;
        if (fReceivedAny && dwElapsed > dwInterByteTimeout) return 0;
    }
}

int PortClose(void) {
    if (g_hPort == INVALID_HANDLE_VALUE) return 0;
    if (!CloseHandle(g_hPort)) return 0;
    g_hPort = INVALID_HANDLE_VALUE;
    return 1;
}

DWORD DrainPort(void) {
    DWORD dwCount = 0;
    while (dwCount < DRAIN_LIMIT) {
        BYTE bByte;
        DWORD dwRead = 0;
        if (!ReadFile(g_hPort, &bByte, 1, &dwRead, NULL) || dwRead != 1) break;
        ++dwCount;
    }
    return dwCount;
}
