#include "robot/robo_status.h"

#include <stdio.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "robot/serial_port.h"

BYTE g_bRecorderCount = 0;
BYTE g_bApprovedDvdR = 0;
WORD g_wModelType = 0;
char g_szFirmware[FIRMWARE_TEXT_SIZE] = "";

int ParseStatusFrame(const BYTE* pbFrame, DWORD cbFrame, RoboStatus* pStatus) {
    if (pbFrame == NULL || pStatus == NULL || cbFrame < STATUS_FRAME_SIZE) return 0;
    if (CheckStatusFrame(pbFrame) != FRAME_COMPLETE) return 0;
    pStatus->bRoboState = pbFrame[2];
    pStatus->bCurrentPosition = pbFrame[3];
    pStatus->bAuxiliary = pbFrame[4];
    pStatus->bError = pbFrame[5];
    pStatus->bPrinterState = pbFrame[6];
    pStatus->bPrinterTray = pbFrame[7];
    pStatus->bPicker = pbFrame[8];
    return 1;
}

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
        if (PortRead(500, 100) && ParseStatusFrame(g_pStatusFrame, STATUS_FRAME_SIZE, pStatus)) return 1;
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

int TakeVersionByte(VersionReply* pReply, BYTE bByte, RoboVersion* pVersion) {
    if (pReply->cchText >= VERSION_BUFFER_SIZE) return VERSION_PENDING;  // a longer reply is cut
    char* pszText = pReply->szText;
    const DWORD cch = ++pReply->cchText;
    pszText[cch - 1] = (char)bByte;
    pszText[cch] = '\0';
    if (cch < 7 || pszText[cch - 2] != '\r' || pszText[cch - 1] != '\n') return VERSION_PENDING;

    // The search resumes where the last one stopped; a NUL received within the text ends it.
    const char* pszIon = strstr(pszText + pReply->dwSearchFrom, "ION:");
    if (pszIon == NULL) return VERSION_LINE;
    const DWORD dwAt = (DWORD)(pszIon - pszText) + 4;
    pReply->dwSearchFrom = dwAt;
    // The two characters after "ION:" name the model; they may be the CR LF of a short line.
    const char c1 = pszText[dwAt];
    const char c2 = dwAt + 1 < cch ? pszText[dwAt + 1] : '\0';
    const char cDrives = pszText[cch - 3];
    if (c1 == 'N' || c2 == 'N' || c1 == 'Q' || c2 == 'Q') {
        pVersion->wModelType = 0;
        pVersion->bRecorderCount = OlderModelDrives(cDrives);
    } else if (c1 == 'R' || c2 == 'R') {
        pVersion->wModelType = 1;
        pVersion->bRecorderCount = QixDrives(cDrives);
    } else {
        return VERSION_LINE;
    }
    pVersion->bApprovedDvdR = ApprovedDvdRDrives(cDrives);
    snprintf(pVersion->szFirmware, sizeof pVersion->szFirmware, "%s", pszText + dwAt);
    return pVersion->wModelType == 1 ? VERSION_QIX : VERSION_OLDER_MODEL;
}

int GetRoboVersion(DWORD dwTimeout, WORD* pwModelType) {
    VersionReply reply;
    memset(&reply, 0, sizeof reply);
    RoboVersion version;
    memset(&version, 0, sizeof version);
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
        const int nFound = TakeVersionByte(&reply, bByte, &version);
        if (nFound == VERSION_PENDING) continue;

        // The received text is logged as it came, its CR LF included.
        DebugLog(reply.szText);
        if (nFound == VERSION_LINE) continue;
        wModel = version.wModelType;
        memcpy(g_szFirmware, version.szFirmware, sizeof g_szFirmware);
        g_bApprovedDvdR = version.bApprovedDvdR;
        if (nFound == VERSION_QIX) {
            g_bRecorderCount = version.bRecorderCount;
            nResult = 1;
            break;
        }
        // An older model does not count as answering: keep listening until the time-out.
        if (version.bRecorderCount) g_bRecorderCount = version.bRecorderCount;
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
