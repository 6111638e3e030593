#include "setup/recorders.h"

#include <stdio.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/module_context.h"
#include "foundation/settings.h"
#include "setup/recorders_internal.h"

RecorderEntry g_Recorders[MAX_RECORDERS];
WORD g_wRecorderRows = 0;
PositionEntry g_szPosition[MAX_RECORDERS];
BYTE g_bDriveIndex[4] = {0, 0, 0, 0};

// Copies at most cbOut - 1 characters and always terminates.
static void CopyText(char* pszOut, size_t cbOut, const char* pszIn) {
    if (cbOut == 0) return;
    size_t n = 0;
    if (pszIn != NULL)
        while (n + 1 < cbOut && pszIn[n] != '\0') {
            pszOut[n] = pszIn[n];
            ++n;
        }
    pszOut[n] = '\0';
}

static int IsValidRow(int nRow) { return nRow >= 0 && nRow < (int)g_wRecorderRows && nRow < MAX_RECORDERS; }

int AddRecorder(LONG dwUnit, LONG dwSpare, LONG dwHost, LONG dwTarget, char cLetter, const char* pszName) {
    if (g_wRecorderRows >= MAX_RECORDERS) return -1;
    const int nRow = (int)g_wRecorderRows;
    RecorderEntry* pRow = &g_Recorders[nRow];
    memset(pRow, 0, sizeof *pRow);
    pRow->dwUnit = dwUnit;
    pRow->dwSpare = dwSpare;
    pRow->dwHost = dwHost;
    pRow->dwTarget = dwTarget;
    pRow->cLetter = cLetter;
    CopyText(pRow->szName, sizeof pRow->szName, pszName);
    memset(&g_szPosition[nRow], 0, sizeof g_szPosition[nRow]);
    g_wRecorderRows = (WORD)(nRow + 1);
    return nRow;
}

void ClearRecorders(void) {
    memset(g_Recorders, 0, sizeof g_Recorders);
    memset(g_szPosition, 0, sizeof g_szPosition);
    // The indexes name rows of the table being replaced; they start again at 0 as after load.
    memset(g_bDriveIndex, 0, sizeof g_bDriveIndex);
    g_wRecorderRows = 0;
}

int FindRecorderRow(LONG dwUnit) {
    for (int nRow = 0; nRow < (int)g_wRecorderRows && nRow < MAX_RECORDERS; ++nRow)
        if (g_Recorders[nRow].dwUnit == dwUnit) return nRow;
    return -1;
}

int IsRecorderPosition(char cPosition) { return cPosition >= 'A' && cPosition <= 'D'; }

int RecorderRowAt(char cPosition) {
    if (!IsRecorderPosition(cPosition)) return -1;
    return (int)g_bDriveIndex[cPosition - 'A'];
}

// The drive letter is appended when it is above the blank.
void SetRecorderLabel(int nRow, const char* pszLabel) {
    if (!IsValidRow(nRow)) return;
    RecorderEntry* pRow = &g_Recorders[nRow];
    CopyText(pRow->szDescription, sizeof pRow->szDescription, pszLabel);
    if ((unsigned char)pRow->cLetter > ' ') {
        const size_t cch = strlen(pRow->szDescription);
        snprintf(pRow->szDescription + cch, sizeof pRow->szDescription - cch, " (%c:)", pRow->cLetter);
    }
}

// A position letter of 0 selects the row and labels it without giving it a position (the
// single-recorder unit, whose one recorder is reached without a letter).
void AssignPosition(int nRow, char cPosition, const char* pszLabel) {
    if (!CheckHolds(IsValidRow(nRow), "AssignPosition() refused: row %d is not in the recorder table (%u rows)", nRow,
                    (unsigned)g_wRecorderRows))
        return;
    if (!CheckHolds(cPosition == '\0' || IsRecorderPosition(cPosition),
                    "AssignPosition() refused: \"%c\" is not a recorder position", cPosition))
        return;
    if (cPosition != '\0') {
        g_bDriveIndex[cPosition - 'A'] = (BYTE)nRow;
        g_szPosition[nRow].szPosition[0] = cPosition;
        g_szPosition[nRow].szPosition[1] = '\0';
    }
    g_Recorders[nRow].fSelected = TRUE;
    SetRecorderLabel(nRow, pszLabel);
}

int CountExternalDrives(void) {
    int nCount = 0;
    for (int nRow = 0; nRow < (int)g_wRecorderRows && nRow < MAX_RECORDERS; ++nRow)
        if (g_Recorders[nRow].dwHost == 4 || g_Recorders[nRow].dwHost == 121) ++nCount;
    return nCount;
}

const char* const g_aszDriveSerialKeys[4] = {KEY_DRIVE1_SERIAL, KEY_DRIVE2_SERIAL, KEY_DRIVE3_SERIAL,
                                             KEY_DRIVE4_SERIAL};
const char* const g_aszFourDriveLabels[4] = {"Duplicator RIGHT-TOP", "Duplicator LEFT-TOP", "Duplicator RIGHT-BOTTOM",
                                             "Duplicator LEFT-BOTTOM"};

void LogDriveIndex(char cPosition, int nRow) { DebugLogF("Drive %c Index = %d", cPosition, nRow); }

int MapFourDrivesAutomatically(void) {
    char aszStored[4][DRIVE_SERIAL_SIZE];
    for (int nPos = 0; nPos < 4; ++nPos) {
        aszStored[nPos][0] = '\0';
        GetPrivateProfileStringA(SETTINGS_SECTION, g_aszDriveSerialKeys[nPos], "", aszStored[nPos],
                                 sizeof aszStored[nPos], g_szSettingsPath);
        // One position without a stored serial number: the operator chooses all four.
        if (aszStored[nPos][0] == '\0') return 0;
    }

    int afTaken[4] = {0, 0, 0, 0};
    int nTaken = 0;
    for (int nRow = 0; nRow < (int)g_wRecorderRows && nRow < MAX_RECORDERS; ++nRow) {
        const char* pszSerial = g_Recorders[nRow].szSerial;
        if (pszSerial[0] == '\0') continue;  // a recorder without serial number matches nothing
        for (int nPos = 0; nPos < 4; ++nPos) {
            if (afTaken[nPos] || strcmp(pszSerial, aszStored[nPos]) != 0) continue;
            afTaken[nPos] = 1;
            ++nTaken;
            const char cPosition = (char)('A' + nPos);
            AssignPosition(nRow, cPosition, g_aszFourDriveLabels[nPos]);
            LogDriveIndex(cPosition, nRow);
            break;
        }
    }
    return nTaken == 4;
}
