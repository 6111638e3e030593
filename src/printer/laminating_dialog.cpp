// The laminating dialog: "Laminating...", the laminations the ribbon has left and whether the
// heater is warming up, shown modally, without owner, on a thread of its own while a disc is
// laminated. The "LAM:" preparation opens it; every status check sends it the heater state and
// the end of the lamination wait closes it, both by notifications that do not wait.
#include <stdio.h>

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "printer/ink_levels.h"
#include "printer/laminator_ops.h"
#include "resources/resource.h"

// The status text for a heater state: heating up, off, or anything else (laminating).
static const char* HeaterText(char cHeater) {
    if (cHeater == 'H') return "The Laminator is heating...\nThis may take several minutes.";
    if (cHeater == 'X') return "The Heater is off.";
    return "Laminating...";
}

INT_PTR CALLBACK DlgFnLaminating(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
        case WM_INITDIALOG: {
            EnterCriticalSection(&g_csModule);
            g_hLaminatingDlg = hDlg;
            LeaveCriticalSection(&g_csModule);
            DebugLog("WM_INITDIALOG in DlgFnLaminating");
            char szCount[16];
            snprintf(szCount, sizeof szCount, "%lu", (unsigned long)g_dwLaminationsLeft);
            SetDlgItemTextA(hDlg, IDC_LAMINATIONS_LEFT, szCount);
            if (g_fMinimizePrintDlg) ShowWindow(hDlg, SW_SHOWMINNOACTIVE);
            return TRUE;
        }

        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDCANCEL:
                    EnterCriticalSection(&g_csModule);
                    g_hLaminatingDlg = NULL;
                    LeaveCriticalSection(&g_csModule);
                    EndDialog(hDlg, IDCANCEL);
                    DebugLog("Lamination dialog dismissed");
                    return TRUE;
                case IDC_LAMINATING_STATUS: {
                    HWND hStatus = GetDlgItem(hDlg, IDC_LAMINATING_STATUS);
                    SetDlgItemTextA(hDlg, IDC_LAMINATING_STATUS, HeaterText((char)lParam));
                    if (hStatus != NULL) {
                        EnableWindow(hStatus, TRUE);
                        ShowWindow(hStatus, SW_SHOW);
                    }
                    return TRUE;
                }
            }
            break;
    }
    return FALSE;
}

void StartLaminatingDialog(void) {
    static const DialogThreadInfo s_Laminating = {IDD_LAMINATING, DlgFnLaminating, "laminating"};
    StartDialogThread(&s_Laminating);
}
