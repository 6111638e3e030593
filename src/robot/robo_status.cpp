#include "robot/robo_status.h"

#include <stdio.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "robot/serial_port.h"

BYTE g_bRecorderCount = 0;
BYTE g_bApprovedDvdR = 0;
WORD g_wModelType = 0;
char g_szFirmware[FIRMWARE_TEXT_SIZE] = "";

int GetSystemStatus(RoboStatus* pStatus) {
    pStatus->bRoboState = 'B';
    DWORD dwEaten = 0;
    int nFailed = 0;
    while (nFailed < 3) {
        // Stale bytes from an earlier exchange would confuse the reply: throw them away.
        dwEaten += DrainPort();
        if (dwEaten != 0) DebugLogF("GetSystemStatus: %lu bytes eaten", (unsigned long)dwEaten);

        if (!PortWrite("_SI", FALSE)) {
            DebugLog("NOTE: Retrying PortWrite() in GetSystemStatus");
            ++nFailed;
            continue;
        }
        if (PortRead(500, 100)) {
            const BYTE* pbFrame = g_pStatusFrame;
            pStatus->bRoboState = pbFrame[2];
            pStatus->bCurrentPosition = pbFrame[3];
            pStatus->bAuxiliary = pbFrame[4];
            pStatus->bError = pbFrame[5];
            pStatus->bPrinterState = pbFrame[6];
            pStatus->bPrinterTray = pbFrame[7];
            pStatus->bPicker = pbFrame[8];
            return 1;
        }
        DebugLog("NOTE: PortRead() no response in GetSystemStatus");
        ++nFailed;
    }
    return 0;
}

// The recorder count an older model reports through the character before CR LF; 0 keeps it.
static BYTE OlderModelDrives(char c) {
    if (c == '2') return 2;
    if (c == 'Y' || c == ' ') return 1;
    return 0;
}

// The recorder count of a Zorvik QIX, from the character before CR LF.
static BYTE QixDrives(char c) {
    switch (c) {
        case 'A': case 'D': case 'F': return 4;
        case 'B': case 'C': case 'E': return 2;
        default: return 0;
    }
}

// The number of DVD-R drives the unit is approved for, from the same character.
static BYTE ApprovedDvdRDrives(char c) {
    switch (c) {
        case 'C': case 'F': return 2;
        case 'D': return 4;
        case 'E': return 1;
        default: return 0;
    }
}

int GetRoboVersion(DWORD dwTimeout, WORD* pwModelType) {
    char szReply[VERSION_BUFFER_SIZE + 1];
    DWORD cbReply = 0;
    DWORD dwSearchFrom = 0;
    int nResult = 0;
    WORD wModel = 0;

    DebugLog("GetRoboVersion");
    g_bRecorderCount = 0;
    DrainPort();
    PortWrite("_SV", FALSE);
    const DWORD dwStart = GetTickCount();

    while (GetTickCount() - dwStart < dwTimeout) {
        BYTE bByte = 0;
        DWORD dwRead = 0;
        if (!ReadFile(g_hPort, &bByte, 1, &dwRead, NULL) || dwRead != 1) continue;
        if (cbReply >= VERSION_BUFFER_SIZE) continue;  // a longer reply is cut
        szReply[cbReply++] = (char)bByte;
        szReply[cbReply] = '\0';
        if (cbReply < 7 || szReply[cbReply - 2] != '\r' || szReply[cbReply - 1] != '\n') continue;

        // The received text is logged as it came, its CR LF included.
        DebugLog(szReply);

        const char* pszIon = strstr(szReply + dwSearchFrom, "ION:");
        if (pszIon == NULL) continue;
        const DWORD dwAt = (DWORD)(pszIon - szReply) + 4;
        dwSearchFrom = dwAt;
        // The two characters after "ION:" name the model; they may be the CR LF of a short line.
        const char c1 = szReply[dwAt];
        const char c2 = dwAt + 1 < cbReply ? szReply[dwAt + 1] : '\0';
        const char cDrives = szReply[cbReply - 3];
        if (c1 == 'N' || c2 == 'N' || c1 == 'Q' || c2 == 'Q') {
            wModel = 0;
            snprintf(g_szFirmware, sizeof g_szFirmware, "%s", szReply + dwAt);
            g_bApprovedDvdR = ApprovedDvdRDrives(cDrives);
            const BYTE bDrives = OlderModelDrives(cDrives);
            if (bDrives) g_bRecorderCount = bDrives;
            // An older model does not count as answering: keep listening until the time-out.
        } else if (c1 == 'R' || c2 == 'R') {
            wModel = 1;
            snprintf(g_szFirmware, sizeof g_szFirmware, "%s", szReply + dwAt);
            g_bRecorderCount = QixDrives(cDrives);
            g_bApprovedDvdR = ApprovedDvdRDrives(cDrives);
            nResult = 1;
            break;
        }
    }

    g_wModelType = wModel;
    if (pwModelType) *pwModelType = wModel;
    DebugLogF("GetRoboVersion: %hu drives  ZorvikType=%hu", (unsigned short)g_bRecorderCount, (unsigned short)wModel);
    return nResult;
}

void KillError(RoboStatus* pStatus) {
    DebugLog("->KillError()");
    const DWORD dwStart = GetTickCount();
    while (GetTickCount() - dwStart < 10001) {
        if (pStatus->bRoboState == 'I' && pStatus->bError != '.') PortWrite("_KILL", FALSE);
        Sleep(200);
        if (GetSystemStatus(pStatus) && pStatus->bRoboState == 'I' && pStatus->bError == '.') break;
    }
    DebugLog("<-KillError() exiting");
}

void WaitUntilIdle(RoboStatus* pStatus) {
    DebugLog("->WaitUntilIdle()");
    const DWORD dwStart = GetTickCount();
    GetSystemStatus(pStatus);
    while (pStatus->bRoboState != 'I') {
        Sleep(200);
        if (GetTickCount() - dwStart > 10000) break;
        GetSystemStatus(pStatus);
    }
    DebugLog("<-WaitUntilIdle() exiting");
}
