// The printing dialog: "Printing..." and the ink left in the printer's cartridges, shown
// modally, without owner, on a thread of its own while a disc is printed. The send thread fills
// it by posting commands; whoever ends the print (or the job) posts the close command.
//
// The dialog's thread is not one of the workers shutdown waits for: it only runs the dialog and
// ends when the dialog is closed (the print's end, a job's end or abort, or the close box). The
// laminating dialog is run the same way (StartDialogThread).
#include "printer/ink_levels.h"

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"

// Enables (and, when asked, shows) the dialog's controls from a list ending with 0.
static void EnableControls(HWND hDlg, const int* pnIds, BOOL fShow) {
    for (; *pnIds != 0; ++pnIds) {
        HWND hControl = GetDlgItem(hDlg, *pnIds);
        if (hControl == NULL) continue;
        if (fShow) ShowWindow(hControl, SW_SHOW);
        EnableWindow(hControl, TRUE);
    }
}

static const int g_anFirstLine[] = {IDC_INK_FIRST_VALUE, IDC_INK_FIRST_LABEL, IDC_INK_FIRST_PERCENT, 0};
static const int g_anSecondLine[] = {IDC_INK_SECOND_VALUE, IDC_INK_SECOND_LABEL, IDC_INK_SECOND_PERCENT, 0};
static const int g_anDiscsLine[] = {IDC_DISCS_BEFORE_LOW_LABEL, IDC_DISCS_BEFORE_LOW, 0};

INT_PTR CALLBACK DlgFnPrinting(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
        case WM_INITDIALOG: {
            EnterCriticalSection(&g_csModule);
            g_hPrintingDlg = hDlg;
            const BOOL fMinimize = g_fMinimizePrintDlg;
            LeaveCriticalSection(&g_csModule);
            SetDlgItemTextA(hDlg, IDC_INK_FIRST_VALUE, " ");
            SetDlgItemTextA(hDlg, IDC_INK_SECOND_VALUE, " ");
            if (fMinimize) ShowWindow(hDlg, SW_SHOWMINNOACTIVE);
            return TRUE;
        }

        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case PRINTING_CMD_CARTRIDGES: {
                    const char* pszLabel = "Black:";
                    if (lParam == INK_SET_COLOUR_PHOTO)
                        pszLabel = "Photo:";
                    else if (lParam == INK_SET_TWO_COLOUR)
                        pszLabel = "Color:";
                    SetDlgItemTextA(hDlg, IDC_INK_SECOND_LABEL, pszLabel);
                    return TRUE;
                }
                case PRINTING_CMD_FIRST_LEVEL:
                    SetDlgItemInt(hDlg, IDC_INK_FIRST_VALUE, (UINT)lParam, FALSE);
                    EnableControls(hDlg, g_anFirstLine, FALSE);
                    return TRUE;
                case PRINTING_CMD_SECOND_LEVEL:
                    SetDlgItemInt(hDlg, IDC_INK_SECOND_VALUE, (UINT)lParam, FALSE);
                    EnableControls(hDlg, g_anSecondLine, FALSE);
                    return TRUE;
                case PRINTING_CMD_DISCS_LEFT:
                    SetDlgItemInt(hDlg, IDC_DISCS_BEFORE_LOW, (UINT)lParam, FALSE);
                    EnableControls(hDlg, g_anDiscsLine, TRUE);
                    return TRUE;
                case PRINTING_CMD_CLOSE:
                    EnterCriticalSection(&g_csModule);
                    if (g_hPrintingDlg == hDlg) g_hPrintingDlg = NULL;
                    LeaveCriticalSection(&g_csModule);
                    EndDialog(hDlg, IDCANCEL);
                    return TRUE;
            }
            break;
    }
    return FALSE;
}

static DWORD WINAPI DialogThread(LPVOID lpParameter) {
    const DialogThreadInfo* pInfo = (const DialogThreadInfo*)lpParameter;
    if (DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(pInfo->uDialogId), NULL, pInfo->pfnDialog, 0) == -1)
        DebugLogF("ERROR: Unable to show the %s dialog. Error=%lu", pInfo->pszName, (unsigned long)GetLastError());
    return 0;
}

void StartDialogThread(const DialogThreadInfo* pInfo) {
    HANDLE hThread = CreateThread(NULL, 0, DialogThread, (LPVOID)pInfo, 0, NULL);
    if (hThread == NULL) {
        DebugLogF("ERROR: Unable to start the %s dialog. Error=%lu", pInfo->pszName, (unsigned long)GetLastError());
        return;
    }
    CloseHandle(hThread);
}

void StartPrintingDialog(void) {
    static const DialogThreadInfo s_Printing = {IDD_PRINTING, DlgFnPrinting, "printing"};
    StartDialogThread(&s_Printing);
}

void ClosePrintingDialog(void) {
    EnterCriticalSection(&g_csModule);
    if (g_hPrintingDlg != NULL) PostMessageA(g_hPrintingDlg, WM_COMMAND, PRINTING_CMD_CLOSE, 0);
    LeaveCriticalSection(&g_csModule);
}
