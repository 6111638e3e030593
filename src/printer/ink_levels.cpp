// Ink levels: the disc printer's ink counters, read through its printer-data value "MARLUNE",
// turned into the percentages the printing dialog shows, and the estimate of the discs that can
// still be printed before the printer warns of low ink, worked out from the ink figures a print
// file carries. Everything here runs on the send thread; the dialog is only posted to.
#include "printer/ink_levels.h"

#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "printer/printer_state.h"

#define INK_FULL_ACCESS 0xF000C  // the printer opened for full printer access
#define INK_REQUEST_VALUE "MARLUNE"
#define INK_ANSWER_MIN 25        // a shorter answer is invalid
#define INK_READ_ATTEMPTS 4
#define INK_READ_PAUSE_MS 1000
#define INK_READ_RETRIES 10      // further ReadInkData calls when the first fails
#define INK_RETRY_PAUSE_MS 95
#define DIALOG_LOOKS 20          // further looks for the printing dialog
#define DIALOG_LOOK_PAUSE_MS 100
#define DIALOG_SETTLE_MS 100

// The answer's layout. Counters are 4 bytes each, most significant first.
#define ANSWER_LENGTH_BYTE 1     // the answer's length minus 2
#define ANSWER_CARTRIDGES 2      // most printers
#define TESSIK_CARTRIDGES 3
#define TESSIK_WARNINGS 4
#define TESSIK_COUNTERS 5
#define TESSIK_ERRORS 62
#define ANSWER_COUNTERS 4        // most printers: counters 1 to 4
#define TESSIK_WARN_LEFT 0x01
#define TESSIK_WARN_RIGHT 0x02
#define TESSIK_ERROR_INK_LOW 0x10

// The driver's cartridge-type value, 140 bytes into its private device-mode part.
#define DRIVER_CARTRIDGE_OFFSET 140

// Ink capacities in the printer's units.
#define PELLAN_IV_COLOUR_CAPACITY 405000000.0
#define PELLAN_IV_BLACK_CAPACITY 515000000.0
#define COLOUR_CAPACITY 700000000.0
#define BLACK_CAPACITY 610000000.0
#define PHOTO_CAPACITY 335000000.0

// Print files: the header, and the trailer of the "Tessik 6" format.
#define PRINT_HEADER_SIZE PRINT_INK_HEADER_SIZE
#define PRINT_TRAILER_SIZE PRINT_INK_TRAILER_SIZE
#define PRINT_ESCAPE 0x1B
#define FORMAT_PELLAN_IV 0x00    // header byte 1
#define FORMAT_PELLAN_PRO 0x03
#define FORMAT_TESSIK 0x08
#define FORMAT_TESSIK_SECOND 0x0E  // header byte 2 of the "Tessik 6" format
#define FORMAT_MARK 0xFF         // header byte 2 of the Pellan formats
#define FORMAT_PAGE_MARK 0xFE    // header byte 10 of the Pellan formats

int g_iDiscsBeforeInkLow = NO_INK_ESTIMATE;

static const char g_szBothLowText[] =
    "Both cartridges are low on ink.  To change the cartridge press the \"Cartridge\" button, replace the "
    "cartridges, and press the \"Cartridge\" button again.  To ignore the warning (You will not get another "
    "warning) press the \"Tray\" button.";
static const char g_szLeftLowText[] =
    "The left cartridge is low on ink.  To change the cartridge press the \"Cartridge\" button, replace the "
    "cartridge, and press the \"Cartridge\" button again.  To ignore the warning (You will not get another "
    "warning) press the \"Tray\" button.";
static const char g_szRightLowText[] =
    "The right cartridge is low on ink.  To change the cartridge press the \"Cartridge\" button, replace the "
    "cartridge, and press the \"Cartridge\" button again.  To ignore the warning (You will not get another "
    "warning) press the \"Tray\" button.";

// An unsigned number of cbCount bytes, most significant first.
static DWORD ReadBigEndian(const BYTE* pb, int cbCount) {
    DWORD dwValue = 0;
    for (int i = 0; i < cbCount; ++i) dwValue = (dwValue << 8) | pb[i];
    return dwValue;
}

// The cartridge byte of most printers (and of the "Pellan IV" print files): a set, or 0.
static DWORD CartridgeSetOf(BYTE bCartridges) {
    switch (bCartridges) {
        case 0: return INK_SET_BLACK;
        case 1: return INK_SET_COLOUR;
        case 2:
        case 3: return INK_SET_COLOUR_BLACK;
        default: return INK_SET_UNKNOWN;
    }
}

// The cartridge byte of a "Tessik 6": a set, or 0.
static DWORD TessikCartridgeSetOf(BYTE bCartridges) {
    switch (bCartridges) {
        case 1: return INK_SET_COLOUR;
        case 2: return INK_SET_BLACK;
        case 3: return INK_SET_COLOUR_BLACK;
        case 4: return INK_SET_TWO_COLOUR;
        default: return INK_SET_UNKNOWN;
    }
}

static void ShowCartridgeWarning(BYTE bWarnings) {
    const char* pszText = NULL;
    if ((bWarnings & TESSIK_WARN_LEFT) && (bWarnings & TESSIK_WARN_RIGHT))
        pszText = g_szBothLowText;
    else if (bWarnings & TESSIK_WARN_LEFT)
        pszText = g_szLeftLowText;
    else if (bWarnings & TESSIK_WARN_RIGHT)
        pszText = g_szRightLowText;
    if (pszText != NULL) MessageBoxA(NULL, pszText, "Warning", MB_OK);
}

int DecodeInkAnswer(const BYTE* pbAnswer, DWORD cbAnswer, BOOL fTessik, InkData* pInk, BYTE* pbWarnings,
                    BYTE* pbErrors) {
    memset(pInk, 0, sizeof *pInk);
    *pbWarnings = 0;
    *pbErrors = 0;
    if (pbAnswer == NULL || cbAnswer < INK_ANSWER_MIN || cbAnswer > INK_ANSWER_SIZE) return 0;
    if (pbAnswer[ANSWER_LENGTH_BYTE] != (BYTE)(cbAnswer - 2)) return 0;
    // The fields lie at fixed offsets up to byte 62, also in a shorter answer: read from a
    // zero-filled copy of the whole size asked for.
    BYTE abAnswer[INK_ANSWER_SIZE];
    memset(abAnswer, 0, sizeof abAnswer);
    memcpy(abAnswer, pbAnswer, cbAnswer);

    if (!fTessik) {
        pInk->dwCartridges = CartridgeSetOf(abAnswer[ANSWER_CARTRIDGES]);
        if (pInk->dwCartridges == INK_SET_UNKNOWN) return 1;
        for (int i = 0; i < ANSWER_COUNTERS; ++i) pInk->alInk[i] = (LONG)ReadBigEndian(abAnswer + 4 + 4 * i, 4);
        return 1;
    }
    pInk->dwCartridges = TessikCartridgeSetOf(abAnswer[TESSIK_CARTRIDGES]);
    for (int i = 0; i < INK_COUNTERS; ++i)
        pInk->alInk[i] = (LONG)ReadBigEndian(abAnswer + TESSIK_COUNTERS + 4 * i, 4);
    *pbErrors = abAnswer[TESSIK_ERRORS];
    *pbWarnings = abAnswer[TESSIK_WARNINGS];
    return 1;
}

// One attempt: open, ask, read, close, decode. 1 with valid data in *pInk.
static int ReadInkAnswer(const char* pszPrinterName, InkData* pInk) {
    memset(pInk, 0, sizeof *pInk);
    if (pszPrinterName == NULL || pszPrinterName[0] == '\0') return 0;

    HANDLE hPrinter = NULL;
    PRINTER_DEFAULTSA defaults;
    defaults.pDatatype = NULL;
    defaults.pDevMode = NULL;
    defaults.DesiredAccess = INK_FULL_ACCESS;
    if (!OpenPrinterA((LPSTR)pszPrinterName, &hPrinter, &defaults)) return 0;

    BYTE abAnswer[INK_ANSWER_SIZE];
    memset(abAnswer, 0, sizeof abAnswer);
    BYTE bRequest = 0x00;
    SetPrinterDataA(hPrinter, (LPSTR)INK_REQUEST_VALUE, REG_BINARY, &bRequest, 1);
    DWORD dwType = 0;
    DWORD cbAnswer = 0;
    const DWORD dwRead =
        GetPrinterDataA(hPrinter, (LPSTR)INK_REQUEST_VALUE, &dwType, abAnswer, sizeof abAnswer, &cbAnswer);
    ClosePrinter(hPrinter);
    if (dwRead != ERROR_SUCCESS) return 0;

    const BOOL fTessik = strcmp(pszPrinterName, MODEL_TESSIK_6) == 0;
    BYTE bWarnings = 0, bErrors = 0;
    if (!DecodeInkAnswer(abAnswer, cbAnswer, fTessik, pInk, &bWarnings, &bErrors)) return 0;
    if (!fTessik) return pInk->dwCartridges != INK_SET_UNKNOWN ? 1 : 0;

    DebugLogF("Ink Low Check Error %x, Warn %x", (unsigned)bErrors, (unsigned)bWarnings);
    if (bErrors & TESSIK_ERROR_INK_LOW) ShowCartridgeWarning(bWarnings);
    if (pInk->dwCartridges == INK_SET_COLOUR_BLACK) {
        // The second cartridge may be a photo cartridge: its second and third inks have been
        // used, or the driver was told so.
        if (pInk->alInk[4] >= 1 || pInk->alInk[5] >= 1) {
            pInk->dwCartridges = INK_SET_COLOUR_PHOTO;
        } else {
            DWORD dwDriverType = 0;
            if (!ReadDriverCartridgeType(pszPrinterName, &dwDriverType) || (dwDriverType != 0 && dwDriverType != 2))
                pInk->dwCartridges = INK_SET_COLOUR_PHOTO;
        }
    }
    return pInk->dwCartridges != INK_SET_UNKNOWN ? 1 : 0;
}

int ReadInkData(const char* pszPrinterName, InkData* pInk) {
    if (pInk == NULL) return 0;
    for (int nAttempt = 0; nAttempt < INK_READ_ATTEMPTS; ++nAttempt) {
        if (nAttempt > 0) Sleep(INK_READ_PAUSE_MS);
        if (ReadInkAnswer(pszPrinterName, pInk)) return 1;
    }
    pInk->dwCartridges = INK_SET_UNKNOWN;
    return 0;
}

int ReadDriverCartridgeType(const char* pszPrinterName, DWORD* pdwValue) {
    if (pszPrinterName == NULL || pdwValue == NULL) return 0;
    if (!PrinterNameBegins(pszPrinterName, MODEL_VARROW) && !PrinterNameBegins(pszPrinterName, MODEL_TESSIK_6))
        return 0;
    HANDLE hPrinter = NULL;
    if (!OpenPrinterA((LPSTR)pszPrinterName, &hPrinter, NULL)) return 0;
    int nResult = 0;
    DWORD cbNeeded = 0;
    GetPrinterA(hPrinter, 2, NULL, 0, &cbNeeded);
    HGLOBAL hBlock = cbNeeded != 0 ? GlobalAlloc(GPTR, cbNeeded) : NULL;
    if (hBlock != NULL) {
        PRINTER_INFO_2A* pInfo = (PRINTER_INFO_2A*)hBlock;
        if (GetPrinterA(hPrinter, 2, (LPBYTE)pInfo, cbNeeded, &cbNeeded) && pInfo->pDevMode != NULL) {
            const DEVMODEA* pDevMode = pInfo->pDevMode;
            // The private part follows the public one; a driver that keeps fewer bytes than the
            // value needs has no such value.
            if ((DWORD)pDevMode->dmDriverExtra >= DRIVER_CARTRIDGE_OFFSET + sizeof(DWORD)) {
                const BYTE* pb = (const BYTE*)pDevMode + pDevMode->dmSize + DRIVER_CARTRIDGE_OFFSET;
                *pdwValue = (DWORD)pb[0] | ((DWORD)pb[1] << 8) | ((DWORD)pb[2] << 16) | ((DWORD)pb[3] << 24);
                nResult = 1;
            }
        }
        GlobalFree(hBlock);
    }
    ClosePrinter(hPrinter);
    return nResult;
}

// ---------------------------------------------------------------------------------------------
// Discs before low ink.

// Lowers *pdwEstimate to the discs one ink allows: (low level - used) / use, unsigned; an ink
// that the print does not use is skipped.
static void LimitByInk(DWORD* pdwEstimate, DWORD dwLowLevel, LONG lUsed, DWORD dwUse) {
    if (dwUse == 0) return;
    const DWORD dwDiscs = (dwLowLevel - (DWORD)lUsed) / dwUse;
    if (dwDiscs < *pdwEstimate) *pdwEstimate = dwDiscs;
}

static int Exceeds(LONG lUsed, DWORD dwLowLevel) { return (DWORD)lUsed > dwLowLevel; }

// The three colour inks of a header whose uses sit at bytes 11-13, 14-16 and 17-19.
static void LimitByHeaderColours(DWORD* pdwEstimate, const BYTE* pbHeader, DWORD dwLowLevel, const InkData* pInk) {
    for (int i = 0; i < 3; ++i) LimitByInk(pdwEstimate, dwLowLevel, pInk->alInk[i], ReadBigEndian(pbHeader + 11 + 3 * i, 3));
}

static int AnyColourExceeds(const InkData* pInk, DWORD dwLowLevel) {
    return Exceeds(pInk->alInk[0], dwLowLevel) || Exceeds(pInk->alInk[1], dwLowLevel) ||
           Exceeds(pInk->alInk[2], dwLowLevel);
}

// "Pellan IV" files: one cartridge, black or colour, one low level for every ink.
static int EstimatePellanIV(const BYTE* pbHeader, const InkData* pInk, DWORD* pdwEstimate) {
    if (pbHeader[2] != FORMAT_MARK || pbHeader[8] != PRINT_ESCAPE || pbHeader[9] != FORMAT_PELLAN_IV ||
        pbHeader[10] != FORMAT_PAGE_MARK)
        return 0;
    if (CartridgeSetOf(pbHeader[4]) != pInk->dwCartridges) return 0;
    const DWORD dwLowLevel = ReadBigEndian(pbHeader + 20, 4);
    if (pbHeader[4] == 0) {
        if (Exceeds(pInk->alInk[3], dwLowLevel))
            *pdwEstimate = 0;
        else
            LimitByInk(pdwEstimate, dwLowLevel, pInk->alInk[3], ReadBigEndian(pbHeader + 11, 3));
        return 1;
    }
    if (pbHeader[4] == 1) {
        if (AnyColourExceeds(pInk, dwLowLevel))
            *pdwEstimate = 0;
        else
            LimitByHeaderColours(pdwEstimate, pbHeader, dwLowLevel, pInk);
        return 1;
    }
    return 0;
}

// "Pellan PRO" files: three colour inks and black, each group with its own low level.
static int EstimatePellanPro(const BYTE* pbHeader, const InkData* pInk, DWORD* pdwEstimate) {
    if (pbHeader[2] != FORMAT_MARK || pbHeader[8] != PRINT_ESCAPE || pbHeader[9] != FORMAT_PELLAN_PRO ||
        pbHeader[10] != FORMAT_PAGE_MARK)
        return 0;
    const DWORD dwColourLow = ReadBigEndian(pbHeader + 20, 4);
    const DWORD dwBlackLow = ReadBigEndian(pbHeader + 27, 4);
    if (AnyColourExceeds(pInk, dwColourLow) || Exceeds(pInk->alInk[3], dwBlackLow)) {
        *pdwEstimate = 0;
        return 1;
    }
    LimitByHeaderColours(pdwEstimate, pbHeader, dwColourLow, pInk);
    LimitByInk(pdwEstimate, dwBlackLow, pInk->alInk[3], ReadBigEndian(pbHeader + 24, 3));
    return 1;
}

// "Tessik 6" files: the uses of all six counters in the file's last 24 bytes, the two
// cartridges' low levels in the header.
static int EstimateTessik(const BYTE* pbTrailer, const BYTE* pbHeader, const InkData* pInk, DWORD* pdwEstimate) {
    if (pbTrailer == NULL || pbTrailer[0] != PRINT_ESCAPE || pbTrailer[1] != FORMAT_TESSIK) return 0;

    const DWORD dwFirstLow = ReadBigEndian(pbHeader + 6, 4);
    const DWORD dwSecondLow = ReadBigEndian(pbHeader + 10, 4);
    DWORD adwUse[INK_COUNTERS];
    for (int i = 0; i < INK_COUNTERS; ++i) adwUse[i] = ReadBigEndian(pbTrailer + 4 + 3 * i, 3);
    const LONG* alInk = pInk->alInk;
    // The second cartridge's counters in the order the figures are taken: 5, 6, then 4.
    static const int anSecond[3] = {4, 5, 3};

    switch (pInk->dwCartridges) {
        case INK_SET_COLOUR_PHOTO:
            if (AnyColourExceeds(pInk, dwFirstLow) || Exceeds(alInk[3], dwSecondLow) ||
                Exceeds(alInk[4], dwSecondLow) || Exceeds(alInk[5], dwSecondLow)) {
                *pdwEstimate = 0;
                return 1;
            }
            for (int i = 0; i < 3; ++i) LimitByInk(pdwEstimate, dwFirstLow, alInk[i], adwUse[i]);
            for (int i = 0; i < 3; ++i)
                LimitByInk(pdwEstimate, dwSecondLow, alInk[anSecond[i]], adwUse[anSecond[i]]);
            return 1;

        case INK_SET_TWO_COLOUR:
            if (alInk[3] == 0 && alInk[4] == 0 && alInk[5] == 0) {
                // A fresh second cartridge: the first one's discs, then as many as the second
                // one's longest-lasting ink allows.
                DWORD dwFirst = MAX_INK_ESTIMATE;
                for (int i = 0; i < 3; ++i) LimitByInk(&dwFirst, dwFirstLow, alInk[i], adwUse[i]);
                DWORD dwSecond = 0;
                for (int i = 0; i < 3; ++i) {
                    DWORD dwInk = MAX_INK_ESTIMATE;
                    LimitByInk(&dwInk, dwSecondLow, alInk[anSecond[i]], adwUse[anSecond[i]]);
                    if (dwInk > dwSecond) dwSecond = dwInk;
                }
                *pdwEstimate = dwFirst + dwSecond;
                return 1;
            }
            for (int i = 0; i < 3; ++i)
                LimitByInk(pdwEstimate, dwSecondLow, alInk[anSecond[i]], adwUse[anSecond[i]]);
            return 1;

        default:
            if (AnyColourExceeds(pInk, dwFirstLow) || Exceeds(alInk[3], dwSecondLow)) {
                *pdwEstimate = 0;
                return 1;
            }
            for (int i = 0; i < 3; ++i) LimitByInk(pdwEstimate, dwFirstLow, alInk[i], adwUse[i]);
            LimitByInk(pdwEstimate, dwSecondLow, alInk[3], adwUse[3]);
            return 1;
    }
}

// A "Tessik 6" print file: header byte 1 and 2 say so.
static int IsTessikHeader(const BYTE* pbHeader) {
    return pbHeader[0] == PRINT_ESCAPE && pbHeader[1] == FORMAT_TESSIK && pbHeader[2] == FORMAT_TESSIK_SECOND;
}

int EstimateInkDiscs(const BYTE* pbHeader, DWORD cbHeader, const BYTE* pbTrailer, const InkData* pInk) {
    if (pbHeader == NULL || cbHeader < PRINT_HEADER_SIZE || pInk == NULL || pbHeader[0] != PRINT_ESCAPE)
        return NO_INK_ESTIMATE;
    DWORD dwEstimate = MAX_INK_ESTIMATE;
    int fEstimated = 0;
    if (pbHeader[1] == FORMAT_PELLAN_IV)
        fEstimated = EstimatePellanIV(pbHeader, pInk, &dwEstimate);
    else if (pbHeader[1] == FORMAT_PELLAN_PRO)
        fEstimated = EstimatePellanPro(pbHeader, pInk, &dwEstimate);
    else if (IsTessikHeader(pbHeader))
        fEstimated = EstimateTessik(pbTrailer, pbHeader, pInk, &dwEstimate);
    if (!fEstimated) return NO_INK_ESTIMATE;
    // A fresh second cartridge adds its discs to the first one's: still at most the top figure.
    return dwEstimate > MAX_INK_ESTIMATE ? MAX_INK_ESTIMATE : (int)dwEstimate;
}

void EstimateDiscsBeforeInkLow(const char* pszPrintFile, const InkData* pInk) {
    g_iDiscsBeforeInkLow = NO_INK_ESTIMATE;
    if (pszPrintFile == NULL || pszPrintFile[0] == '\0' || pInk == NULL) return;
    HANDLE hFile =
        CreateFileA(pszPrintFile, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE) return;

    BYTE abHeader[PRINT_HEADER_SIZE];
    DWORD cbHeader = 0;
    if (!ReadFile(hFile, abHeader, sizeof abHeader, &cbHeader, NULL)) cbHeader = 0;
    // The "Tessik 6" figures are in the file's last 24 bytes.
    BYTE abTrailer[PRINT_TRAILER_SIZE];
    const BYTE* pbTrailer = NULL;
    if (cbHeader == sizeof abHeader && IsTessikHeader(abHeader)) {
        DWORD cbTrailer = 0;
        if (SetFilePointer(hFile, -PRINT_TRAILER_SIZE, NULL, FILE_END) != INVALID_SET_FILE_POINTER &&
            ReadFile(hFile, abTrailer, sizeof abTrailer, &cbTrailer, NULL) && cbTrailer == sizeof abTrailer)
            pbTrailer = abTrailer;
    }
    CloseHandle(hFile);
    g_iDiscsBeforeInkLow = EstimateInkDiscs(abHeader, cbHeader, pbTrailer, pInk);
}

// ---------------------------------------------------------------------------------------------
// The levels shown in the printing dialog.

// The percentage of a capacity left after `lUsed`, rounded; 0 for anything outside 0 to 100.
static int PercentLeft(double dCapacity, LONG lUsed) {
    const int nPercent = (int)((dCapacity - (double)lUsed) * 100.0 / dCapacity + 0.5);
    return nPercent < 0 || nPercent > 100 ? 0 : nPercent;
}

static LONG LargestOf(LONG a, LONG b, LONG c) {
    LONG lMax = a > b ? a : b;
    return lMax > c ? lMax : c;
}

// Posts a command to the printing dialog; with no dialog open it goes nowhere.
static void NotifyPrintingDialog(UINT uCommand, LPARAM lValue) {
    EnterCriticalSection(&g_csModule);
    if (g_hPrintingDlg != NULL) PostMessageA(g_hPrintingDlg, WM_COMMAND, (WPARAM)uCommand, lValue);
    LeaveCriticalSection(&g_csModule);
}

// Waits for the printing dialog to appear: the first look and DIALOG_LOOKS more.
static void WaitForPrintingDialog(void) {
    for (int nLook = 0;; ++nLook) {
        EnterCriticalSection(&g_csModule);
        const HWND hDlg = g_hPrintingDlg;
        LeaveCriticalSection(&g_csModule);
        if (hDlg != NULL) {
            Sleep(DIALOG_SETTLE_MS);
            return;
        }
        if (nLook >= DIALOG_LOOKS) return;
        Sleep(DIALOG_LOOK_PAUSE_MS);
    }
}

int UpdateInkLevels(const char* pszPrinterName, const char* pszPrintFile) {
    WaitForPrintingDialog();

    double dColourCapacity = COLOUR_CAPACITY;
    double dBlackCapacity = BLACK_CAPACITY;
    if (pszPrinterName != NULL && strcmp(pszPrinterName, MODEL_PELLAN_IV) == 0) {
        dColourCapacity = PELLAN_IV_COLOUR_CAPACITY;
        dBlackCapacity = PELLAN_IV_BLACK_CAPACITY;
    }

    InkData ink;
    int fRead = ReadInkData(pszPrinterName, &ink);
    for (int nRetry = 0; !fRead && nRetry < INK_READ_RETRIES; ++nRetry) {
        Sleep(INK_RETRY_PAUSE_MS);
        fRead = ReadInkData(pszPrinterName, &ink);
    }

    int nFirstLevel = 1;
    int nSecondLevel = 1;
    if (!fRead) {
        DebugLog("Unable to get ink levels");
        ink.dwCartridges = INK_SET_UNKNOWN;
    } else {
        DebugLog("Got Ink Levels");
        const LONG* alInk = ink.alInk;
        nFirstLevel = PercentLeft(dColourCapacity, LargestOf(alInk[0], alInk[1], alInk[2]));
        if (ink.dwCartridges == INK_SET_COLOUR_PHOTO)
            nSecondLevel = PercentLeft(PHOTO_CAPACITY, LargestOf(alInk[3], alInk[4], alInk[5]));
        else if (ink.dwCartridges == INK_SET_TWO_COLOUR)
            nSecondLevel = PercentLeft(dColourCapacity, LargestOf(alInk[3], alInk[4], alInk[5]));
        else
            nSecondLevel = PercentLeft(dBlackCapacity, alInk[3]);

        EstimateDiscsBeforeInkLow(pszPrintFile, &ink);
        if (g_iDiscsBeforeInkLow >= 0) NotifyPrintingDialog(PRINTING_CMD_DISCS_LEFT, (LPARAM)g_iDiscsBeforeInkLow);
    }

    NotifyPrintingDialog(PRINTING_CMD_CARTRIDGES, (LPARAM)ink.dwCartridges);
    if (ink.dwCartridges != INK_SET_BLACK) NotifyPrintingDialog(PRINTING_CMD_FIRST_LEVEL, (LPARAM)nFirstLevel);
    if (ink.dwCartridges != INK_SET_COLOUR) NotifyPrintingDialog(PRINTING_CMD_SECOND_LEVEL, (LPARAM)nSecondLevel);
    return fRead;
}
