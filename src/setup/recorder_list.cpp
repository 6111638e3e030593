// Reading the host's recorder list. Each line is "unit,spare,host,target,letter,name" ended by
// CR LF; the whole text ends with a NUL. A host may pass further lines behind an embedded NUL, so
// a last line without its line feed makes the module look once more past that NUL.
#include "setup/recorder_list.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/module_context.h"
#include "resources/resource.h"
#include "setup/recorders.h"

// The host's text copied up to its first NUL (at most RECORDER_LIST_MAX bytes), so that the
// module never writes into the host's read-only text.
static char g_szListCopy[RECORDER_LIST_MAX + 1];

// Extends the copy past its terminating NUL with the host's bytes up to the next NUL. The host's
// text is never read further than RECORDER_LIST_MAX bytes from its start, so a text that really
// ends at its NUL costs at most that look past it. Returns the new length.
static size_t ExtendPastNul(const char* pszList, size_t cchCopied) {
    if (cchCopied >= RECORDER_LIST_MAX) return cchCopied;
    g_szListCopy[cchCopied] = ' ';
    size_t cch = cchCopied + 1;
    while (cch < RECORDER_LIST_MAX && pszList[cch] != '\0') {
        g_szListCopy[cch] = pszList[cch];
        ++cch;
    }
    g_szListCopy[cch] = '\0';
    return cch;
}

// One decimal field and the comma after it, as "%d," reads it (leading blanks skipped, a sign
// allowed). A number beyond the 32-bit range makes the line unreadable rather than wrapping.
static int ReadNumberField(const char** ppsz, LONG* plValue) {
    const char* psz = *ppsz;
    while (*psz == ' ' || *psz == '\t') ++psz;
    char* pszEnd = NULL;
    errno = 0;
    const long lValue = strtol(psz, &pszEnd, 10);
    if (pszEnd == psz || errno == ERANGE || lValue < INT_MIN || lValue > INT_MAX || *pszEnd != ',') return 0;
    *plValue = (LONG)lValue;
    *ppsz = pszEnd + 1;
    return 1;
}

// One line: "unit,spare,host,target,letter,name". 1 with the fields read, 0 when the line does
// not hold them. The name runs to the carriage return (a line without one runs on into the next
// line); it is bounded here and cut to the table's field when the row is added.
static int ParseRecorderLine(const char* pszLine, RecorderLine* pLine) {
    const char* psz = pszLine;
    pLine->szName[0] = '\0';
    if (!ReadNumberField(&psz, &pLine->lUnit) || !ReadNumberField(&psz, &pLine->lSpare) ||
        !ReadNumberField(&psz, &pLine->lHost) || !ReadNumberField(&psz, &pLine->lTarget))
        return 0;
    if (*psz == '\0') return 0;
    pLine->cLetter = *psz++;
    if (*psz != ',') return 0;
    ++psz;
    size_t cch = 0;
    while (psz[cch] != '\0' && psz[cch] != '\r' && cch < RECORDER_LINE_NAME_SIZE - 1) {
        pLine->szName[cch] = psz[cch];
        ++cch;
    }
    pLine->szName[cch] = '\0';
    return 1;
}

int ScanRecorderList(const char* pszList, PFN_RECORDER_LINE pfnLine, void* pContext) {
    if (pszList == NULL || pszList[0] == '\0') return 0;

    size_t cchCopy = 0;
    while (cchCopy < RECORDER_LIST_MAX && pszList[cchCopy] != '\0') {
        g_szListCopy[cchCopy] = pszList[cchCopy];
        ++cchCopy;
    }
    g_szListCopy[cchCopy] = '\0';

    size_t nAt = 0;
    int nLine = 0;
    while (g_szListCopy[nAt] != '\0') {
        const char* pszLine = g_szListCopy + nAt;
        const char* pszLineFeed = strchr(pszLine, '\n');
        if (pszLineFeed == NULL) {
            DebugLogF("Unit %i, Couldn't find linefeed", nLine);
            const char* pszNul = pszList + cchCopy;
            DebugLogF("Unit %i, strchr for null returned %p", nLine, (const void*)pszNul);
            DebugLogF("Unit %i, Replacing Null with space", nLine);
            cchCopy = ExtendPastNul(pszList, cchCopy);
            DebugLog(g_szListCopy);
            pszLineFeed = strchr(pszLine, '\n');
            if (pszLineFeed == NULL) return RECORDER_LIST_INVALID;
        }

        RecorderLine line;
        memset(&line, 0, sizeof line);
        line.cLetter = ' ';
        if (ParseRecorderLine(pszLine, &line)) {
            if (!pfnLine(&line, pContext)) break;
        } else {
            // A line that is not a recorder is passed over; the host learns of the recorders read.
            char szShown[64];
            const size_t cchShown = (size_t)(pszLineFeed - pszLine) < sizeof szShown - 1
                                        ? (size_t)(pszLineFeed - pszLine)
                                        : sizeof szShown - 1;
            memcpy(szShown, pszLine, cchShown);
            szShown[cchShown] = '\0';
            DebugLogF("ERROR: Unit %i, not a recorder line: \"%s\"", nLine, szShown);
        }
        nAt = (size_t)(pszLineFeed - g_szListCopy) + 1;
        ++nLine;
    }
    return 1;
}

// A recorder line becomes a row of the table, with its serial number; reading stops once the
// table is full.
static int AddRecorderLine(const RecorderLine* pLine, void* pContext) {
    (void)pContext;
    const int nRow =
        AddRecorder(pLine->lUnit, pLine->lSpare, pLine->lHost, pLine->lTarget, pLine->cLetter, pLine->szName);
    if (nRow >= 0) ReadRecorderSerial(nRow);
    return g_wRecorderRows < MAX_RECORDERS;
}

int ReadRecorderList(const char* pszList) {
    ClearRecorders();
    const int nResult = ScanRecorderList(pszList, AddRecorderLine, NULL);
    if (nResult == RECORDER_LIST_INVALID) {
        ShowStringMessage(g_hOwnerWnd, IDS_INVALID_DRIVE_STRING, IDS_TITLE, MB_ICONEXCLAMATION | MB_SYSTEMMODAL);
        return RECORDER_LIST_INVALID;
    }
    return nResult == 0 ? 0 : (int)g_wRecorderRows;
}
