// Choosing the disc printer: the installed local printers, the selection dialog (where the
// laminator is switched on or off too), the start-up check that the robot sees a responding
// printer, and the port and driver names of the chosen printer. The options dialog shares the
// list, its default choice, OK's printer steps and the "Use Laminator" box.
#include "printer/printer_select.h"

#include <stdio.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/module_context.h"
#include "foundation/settings.h"
#include "printer/laminator_channel.h"
#include "printer/printer_state.h"
#include "resources/resource.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"

// The list index is 8-bit: at most this many printers are looked at or offered.
#define MAX_LISTED_PRINTERS 255
// How long FindPrinter waits for a responding printer before it asks the operator.
#define FIND_PRINTER_LIMIT_MS 6000
// How long a robot may keep answering busy before FindPrinter asks the operator all the same.
#define FIND_PRINTER_BUSY_LIMIT_MS 60000
#define FILE_PORT "FILE:"
#define LIST_LINE_SIZE 512

static const char g_szFirmwareTooOld[] = "You need to update the firmware of your ZorvikQIX to use the Laminator.";

// Copies a spooler text into a bounded buffer; a longer text is cut, a missing one is empty.
static void CopyBounded(char* pszOut, size_t cbOut, const char* pszText) {
    if (cbOut == 0) return;
    if (pszText == NULL) pszText = "";
    strncpy(pszOut, pszText, cbOut - 1);
    pszOut[cbOut - 1] = '\0';
}

static void ReleaseBlock(HGLOBAL hBlock) {
    GlobalUnlock(hBlock);
    GlobalFree(hBlock);
}

// ---------------------------------------------------------------------------------------------
// The spooler's printer list.

DWORD GetPrinterListSize(void) {
    DWORD cbNeeded = 0;
    DWORD dwCount = 0;
    // Success with no buffer means an empty list; any failure but "buffer too small" is a failed
    // enumeration.
    if (EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &cbNeeded, &dwCount)) return 0;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return 0;
    return cbNeeded;
}

int GetPrinterList(BYTE* pbBuffer, DWORD cbBuffer, DWORD* pdwCount) {
    DWORD cbNeeded = 0;
    DWORD dwCount = 0;
    if (!CheckHolds(pbBuffer != NULL && cbBuffer != 0, "GetPrinterList refused: no buffer")) {
        if (pdwCount != NULL) *pdwCount = 0;
        return 0;
    }
    const BOOL fListed = EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 2, pbBuffer, cbBuffer, &cbNeeded, &dwCount);
    if (pdwCount != NULL) *pdwCount = dwCount;
    return fListed && dwCount > 0 ? 1 : 0;
}

int PrinterExists(const char* pszName) {
    // An empty name would be the beginning of every printer's name; it names none.
    if (pszName == NULL || pszName[0] == '\0') {
        DebugLog("WARNING: PrinterExists refused: no printer name");
        return 0;
    }
    DWORD cbNeeded = 0;
    DWORD dwCount = 0;
    if (EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &cbNeeded, &dwCount) || cbNeeded == 0) {
        GetLastError();
        return 0;
    }
    HGLOBAL hBlock = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, cbNeeded);
    if (hBlock == NULL) return 0;
    PRINTER_INFO_2A* pList = (PRINTER_INFO_2A*)GlobalLock(hBlock);
    if (pList == NULL) {
        GlobalFree(hBlock);
        return 0;
    }
    if (!EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 2, (LPBYTE)pList, cbNeeded, &cbNeeded, &dwCount) || dwCount == 0) {
        ReleaseBlock(hBlock);
        return 0;
    }
    const size_t cchName = strlen(pszName);
    int fFound = 0;
    for (DWORD i = 0; i < dwCount && i < MAX_LISTED_PRINTERS && !fFound; ++i)
        if (pList[i].pPrinterName != NULL && strncmp(pList[i].pPrinterName, pszName, cchName) == 0) fFound = 1;
    ReleaseBlock(hBlock);
    return fFound;
}

void FreePrinterList(void) {
    if (g_hPrinterList != NULL) ReleaseBlock(g_hPrinterList);
    g_hPrinterList = NULL;
    g_PrinterList = NULL;
    g_bPrinterCount = 0;
}

void FillPrinterList(HWND hDlg, int nListId) {
    // Cancel leaves the list of the last opening allocated; this opening replaces it.
    FreePrinterList();

    int fListed = 0;
    DWORD dwCount = 0;
    const DWORD cbList = GetPrinterListSize();
    if (cbList != 0) {
        g_hPrinterList = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, cbList);
        if (g_hPrinterList != NULL) g_PrinterList = (PRINTER_INFO_2A*)GlobalLock(g_hPrinterList);
        if (g_PrinterList != NULL) fListed = GetPrinterList((BYTE*)g_PrinterList, cbList, &dwCount);
    }
    if (!fListed) {
        ShowStringMessage(hDlg, IDS_PRINTER_ENUM_ERROR, IDS_TITLE, MB_SETFOREGROUND);
        // The spooler reports no printers with a failed listing; its entries are not read.
        dwCount = 0;
    }
    g_bPrinterCount = (BYTE)(dwCount < MAX_LISTED_PRINTERS ? dwCount : MAX_LISTED_PRINTERS);

    for (int i = 0; i < (int)g_bPrinterCount; ++i) {
        char szLine[LIST_LINE_SIZE];
        const PRINTER_INFO_2A* pEntry = &g_PrinterList[i];
        snprintf(szLine, sizeof szLine, "%s on %s", pEntry->pPrinterName ? pEntry->pPrinterName : "",
                 pEntry->pPortName ? pEntry->pPortName : "");
        SendDlgItemMessageA(hDlg, nListId, CB_INSERTSTRING, (WPARAM)i, (LPARAM)szLine);
    }
    SendDlgItemMessageA(hDlg, nListId, CB_INSERTSTRING, (WPARAM)g_bPrinterCount, (LPARAM)NO_DISC_PRINTER);
}

void SelectCurrentPrinter(HWND hDlg, int nListId) {
    GetPrivateProfileStringA(SETTINGS_SECTION, KEY_PRINTER, "", g_szPrinterName, PRINTER_NAME_SIZE, g_szSettingsPath);
    const int fStored = g_szPrinterName[0] != '\0';
    for (int i = 0; i < (int)g_bPrinterCount && g_PrinterList != NULL; ++i) {
        const char* pszName = g_PrinterList[i].pPrinterName;
        if (pszName == NULL) continue;
        if (fStored ? strcmp(pszName, g_szPrinterName) == 0
                    : PrinterNameBegins(pszName, MODEL_PELLAN) || PrinterNameBegins(pszName, MODEL_OPTICAL_DISC_PRINTER)) {
            SendDlgItemMessageA(hDlg, nListId, CB_SETCURSEL, (WPARAM)i, 0);
            if (!fStored) CopyBounded(g_szPrinterName, PRINTER_NAME_SIZE, pszName);
            return;
        }
    }
    SendDlgItemMessageA(hDlg, nListId, CB_SETCURSEL, (WPARAM)g_bPrinterCount, 0);
    CopyBounded(g_szPrinterName, PRINTER_NAME_SIZE, NO_DISC_PRINTER);
    g_fPrinterSelected = FALSE;
}

int ApplyPrinterChoice(HWND hDlg, int nListId) {
    // The selection as an 8-bit index: no selection (CB_ERR) becomes 255, which is never below
    // the count and so means no printer, like the last line.
    const BYTE bIndex = (BYTE)SendDlgItemMessageA(hDlg, nListId, CB_GETCURSEL, 0, 0);
    const PRINTER_INFO_2A* pChosen = NULL;
    int nAnswer = 0;
    if (g_PrinterList != NULL && bIndex < g_bPrinterCount && g_PrinterList[bIndex].pPrinterName != NULL) {
        pChosen = &g_PrinterList[bIndex];
        CopyBounded(g_szPrinterName, PRINTER_NAME_SIZE, pChosen->pPrinterName);
        g_fPrinterSelected = TRUE;
        if (pChosen->pPortName != NULL && strcmp(pChosen->pPortName, FILE_PORT) == 0)
            nAnswer = ShowStringMessage(hDlg, IDS_PRINTER_ON_FILE_PORT, IDS_TITLE, MB_YESNO | MB_ICONEXCLAMATION);
    } else {
        CopyBounded(g_szPrinterName, PRINTER_NAME_SIZE, NO_DISC_PRINTER);
        g_fPrinterSelected = FALSE;
    }
    WritePrinterChoice(g_szPrinterName);
    if (nAnswer == IDYES) {
        // The operator means to choose again (or to change the port): the robot is not told
        // about this printer yet, and the list stays until the next opening replaces it.
        DebugLogF("Printer chosen: %s (connected to FILE:)", g_szPrinterName);
        return 1;
    }

    g_szPrinterPosition[0] = pChosen != NULL ? PrinterPositionFor(pChosen->pPrinterName) : 'S';
    g_szPrinterPosition[1] = '\0';
    DebugLogF("Printer chosen: %s (position %s)", g_szPrinterName, g_szPrinterPosition);
    char szCommand[8];
    snprintf(szCommand, sizeof szCommand, "_MOVE:%c", g_szPrinterPosition[0]);
    PortWrite(szCommand, FALSE);
    FreePrinterList();
    return 0;
}

// ---------------------------------------------------------------------------------------------
// "Use Laminator".

static int IsChecked(HWND hDlg, int nId) { return IsDlgButtonChecked(hDlg, nId) == BST_CHECKED; }

void InitLaminatorCheck(HWND hDlg, int nCheckId) {
    int fUse = 0;
    if (GetPrivateProfileIntA(SETTINGS_SECTION, KEY_LAMINATE_DISC, 1, g_szSettingsPath) != 0) {
        LamStatus status;
        memset(&status, 0, sizeof status);
        fUse = GetLaminatorStatus(&status, FALSE, TRUE) && CheckLaminatorFirmware();
    }
    CheckDlgButton(hDlg, nCheckId, fUse ? BST_CHECKED : BST_UNCHECKED);
}

void VerifyLaminatorCheck(HWND hDlg, int nCheckId) {
    if (!IsChecked(hDlg, nCheckId)) return;
    LamStatus status;
    memset(&status, 0, sizeof status);
    if (!GetLaminatorStatus(&status, FALSE, TRUE)) {
        CheckDlgButton(hDlg, nCheckId, BST_UNCHECKED);
        return;
    }
    if (!CheckLaminatorFirmware()) {
        MessageBoxA(NULL, g_szFirmwareTooOld, "Warning", MB_OK);
        CheckDlgButton(hDlg, nCheckId, BST_UNCHECKED);
    }
}

void ApplyLaminatorChoice(HWND hDlg, int nCheckId) {
    g_fLaminator = IsChecked(hDlg, nCheckId) ? TRUE : FALSE;
    WritePrivateProfileStringA(SETTINGS_SECTION, KEY_LAMINATE_DISC, g_fLaminator ? "1" : "0", g_szSettingsPath);
}

// ---------------------------------------------------------------------------------------------
// The selection dialog.

INT_PTR CALLBACK DlgFnSelectPrinter(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (uMsg) {
        case WM_INITDIALOG:
            g_bPrinterCount = 0;
            g_fPrinterSelected = TRUE;
            InitLaminatorCheck(hDlg, IDC_SELECT_USE_LAMINATOR);
            FillPrinterList(hDlg, IDC_PRINTER_LIST);
            SelectCurrentPrinter(hDlg, IDC_PRINTER_LIST);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_SELECT_USE_LAMINATOR:
                    if (HIWORD(wParam) != BN_CLICKED) return FALSE;
                    VerifyLaminatorCheck(hDlg, IDC_SELECT_USE_LAMINATOR);
                    return TRUE;
                case IDOK:
                case IDCANCEL:  // the window's close command chooses like OK: there is no Cancel
                    ApplyPrinterChoice(hDlg, IDC_PRINTER_LIST);
                    ApplyLaminatorChoice(hDlg, IDC_SELECT_USE_LAMINATOR);
                    EndDialog(hDlg, 0);
                    return TRUE;
            }
            return FALSE;
    }
    return FALSE;
}

void RunSelectPrinterDialog(void) {
    const INT_PTR nResult =
        DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_SELECT_PRINTER), g_hOwnerWnd, DlgFnSelectPrinter, 0);
    if (nResult == -1)
        DebugLogF("ERROR: The printer selection dialog could not be shown (%lu)", (unsigned long)GetLastError());
}

// ---------------------------------------------------------------------------------------------
// Start-up's check that the robot sees the printer.

void FindPrinter(void) {
    DebugLog("FindPrinter...");
    HCURSOR hPrevious = NULL;
    int fWaitCursor = 0;
    HCURSOR hWait = LoadCursorA(NULL, IDC_WAIT);
    if (hWait != NULL) {
        hPrevious = SetCursor(hWait);
        fWaitCursor = 1;
    }
    const DWORD dwStart = GetTickCount();
    for (;;) {
        RoboStatus status;
        memset(&status, 0, sizeof status);
        const int fAnswered = GetSystemStatus(&status);
        if (fAnswered && status.bRoboState == 'B') {
            // A busy robot (still finishing a motion or a reset) says nothing about the printer:
            // it is asked again at once, and its busy time does not run out the printer's six
            // seconds. Only a robot that stays busy for a whole minute ends in the question, so
            // that start-up never waits without end.
            if (GetTickCount() - dwStart <= FIND_PRINTER_BUSY_LIMIT_MS) continue;
        } else if (fAnswered && status.bPrinterState != 'B' && status.bPrinterTray != 'X') {
            if (fWaitCursor) SetCursor(hPrevious);
            g_fPrinterSelected = TRUE;
            DebugLog("FindPrinter - printer found and selected");
            return;
        } else if (GetTickCount() - dwStart <= FIND_PRINTER_LIMIT_MS) {
            // A printer that does not respond, or a robot that does not answer at all (asked
            // again at once too); both share the printer's time limit, so that a silent robot
            // also ends in the operator's Retry or Cancel instead of a wait without end.
            continue;
        }

        if (fWaitCursor) SetCursor(hPrevious);
        fWaitCursor = 0;
        // The start time stays: after Retry one more reading decides whether to ask again.
        if (ShowStringMessage(g_hOwnerWnd, IDS_PRINTER_NOT_RESPONDING, IDS_TITLE, MB_RETRYCANCEL) != IDRETRY) {
            g_fPrinterSelected = FALSE;
            DebugLog("FindPrinter - printer NOT selected");
            return;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Port and driver of the chosen printer.

// Fills g_szPrinterPort and g_szPrinterDriver from an open printer: 1 on success.
static int ReadPrinterInfo(HANDLE hPrinter) {
    DWORD cbNeeded = 0;
    GetPrinterA(hPrinter, 2, NULL, 0, &cbNeeded);
    if (cbNeeded == 0) return 0;
    HGLOBAL hBlock = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, cbNeeded);
    if (hBlock == NULL) return 0;
    PRINTER_INFO_2A* pInfo = (PRINTER_INFO_2A*)GlobalLock(hBlock);
    if (pInfo == NULL) {
        GlobalFree(hBlock);
        return 0;
    }
    if (!GetPrinterA(hPrinter, 2, (LPBYTE)pInfo, cbNeeded, &cbNeeded)) {
        ReleaseBlock(hBlock);
        return 0;
    }
    // The spooler does not bound these names; a longer one is cut to its buffer.
    CopyBounded(g_szPrinterPort, sizeof g_szPrinterPort, pInfo->pPortName);
    CopyBounded(g_szPrinterDriver, sizeof g_szPrinterDriver, pInfo->pDriverName);
    ReleaseBlock(hBlock);
    return 1;
}

int GetPRINTER2Info(void) {
    DebugLog("GetPRINTER2Info() called.");
    int fDone = 0;
    HANDLE hPrinter = NULL;
    if (!OpenPrinterA(g_szPrinterName, &hPrinter, NULL)) {
        DebugLogF("ERROR: Couldn't open PRINTER: %s", g_szPrinterName);
    } else {
        fDone = ReadPrinterInfo(hPrinter);
        ClosePrinter(hPrinter);
    }
    if (fDone) {
        DebugLog("GetPRINTER2Info() returning TRUE");
        return 1;
    }
    ShowStringMessage(NULL, IDS_PRINTER_INFO_ERROR, IDS_TITLE, MB_SETFOREGROUND);
    DebugLog("GetPRINTER2Info() returning FALSE");
    return 0;
}
