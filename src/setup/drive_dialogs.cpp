// The "Choose Drives" dialogs: the operator tells which recorder of the host's list sits at which
// place in the duplicator. The two-drive dialog (RIGHT and LEFT, or one SELECT column on a
// single-recorder unit) and the four-drive dialog (RIGHT-TOP, RIGHT-BOTTOM, LEFT-TOP,
// LEFT-BOTTOM). Each row has an Open/Close button so the operator can see which physical drive
// a row is.
#include <stdio.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/module_context.h"
#include "foundation/settings.h"
#include "resources/resource.h"
#include "robot/robo_status.h"
#include "setup/recorders.h"
#include "setup/recorders_internal.h"
#include "setup/tray_control.h"

// Per dialog and row: the operator's last Open/Close click opened the tray. Kept from one
// showing of the dialog to the next, so the next click on that row closes it again.
static BOOL g_afTwoDriveTrayOpen[MAX_DIALOG_ROWS];
static BOOL g_afFourDriveTrayOpen[MAX_DIALOG_ROWS];

static int DialogRows(void) {
    return g_wRecorderRows < MAX_DIALOG_ROWS ? (int)g_wRecorderRows : MAX_DIALOG_ROWS;
}

static int IsChecked(HWND hDlg, int nId) { return IsDlgButtonChecked(hDlg, nId) == BST_CHECKED; }

static void ShowItem(HWND hDlg, int nId) {
    HWND hItem = GetDlgItem(hDlg, nId);
    if (hItem != NULL) ShowWindow(hItem, SW_SHOW);
}

// The row's position text alone; the drive index of that position points at the row.
static void SetRowPosition(int nRow, char cPosition) {
    g_bDriveIndex[cPosition - 'A'] = (BYTE)nRow;
    g_szPosition[nRow].szPosition[0] = cPosition;
    g_szPosition[nRow].szPosition[1] = '\0';
}

// A row the operator left without a choice serves no more and keeps no stale position text.
static void DeselectRow(int nRow) {
    g_Recorders[nRow].fSelected = FALSE;
    g_szPosition[nRow].szPosition[0] = '\0';
}

// Rows beyond those the dialogs offer cannot be chosen, so the dialog's decision deselects them
// too (the automatic mapping may have taken one before the dialog opened).
static void DeselectRowsBeyondDialog(void) {
    for (int nRow = MAX_DIALOG_ROWS; nRow < (int)g_wRecorderRows && nRow < MAX_RECORDERS; ++nRow)
        DeselectRow(nRow);
}

// Caption, row texts ("Recorder at Host:%d ID:%d   " and the vendor and model) and the controls
// of every row the host listed; the template keeps the rows hidden.
static void InitDialogRows(HWND hDlg, const int* pnChoiceFirstIds, int nChoiceColumns) {
    SetWindowTextA(hDlg, g_szHostTitle);
    char szFormat[64];
    szFormat[0] = '\0';
    LoadStringA(g_hInstance, IDS_RECORDER_ROW, szFormat, sizeof szFormat);
    for (int nRow = 0; nRow < DialogRows(); ++nRow) {
        const RecorderEntry* pRow = &g_Recorders[nRow];
        char szText[128];
        int cch = snprintf(szText, sizeof szText, szFormat, (int)pRow->dwHost, (int)pRow->dwTarget);
        if (cch < 0) cch = 0;
        if (cch < (int)sizeof szText) snprintf(szText + cch, sizeof szText - (size_t)cch, "%s", pRow->szName);
        SetDlgItemTextA(hDlg, IDC_DRIVE_ROW_TEXT_FIRST + nRow, szText);
        ShowItem(hDlg, IDC_DRIVE_ROW_TEXT_FIRST + nRow);
        ShowItem(hDlg, IDC_DRIVE_OPEN_CLOSE_FIRST + nRow);
        for (int nColumn = 0; nColumn < nChoiceColumns; ++nColumn) ShowItem(hDlg, pnChoiceFirstIds[nColumn] + nRow);
    }
}

static void ToggleRowTray(BOOL* afOpen, int nRow) {
    if (afOpen[nRow]) {
        OpenCloseTray(1, (DWORD)nRow, TRAY_STATE_CLOSED_EMPTY);
        afOpen[nRow] = FALSE;
    } else {
        OpenCloseTray(0, (DWORD)nRow, TRAY_STATE_OPEN_EMPTY);
        afOpen[nRow] = TRUE;
    }
}

// The row of a control in the row block starting at nFirstId, or -1.
static int RowOf(int nId, int nFirstId) {
    const int nRow = nId - nFirstId;
    return nRow >= 0 && nRow < DialogRows() ? nRow : -1;
}

// ---------------------------------------------------------------------------------------------
// Two-drive dialog.

static void AcceptTwoDrives(HWND hDlg) {
    const int nReported = (int)g_bRecorderCount;
    int nChosen = 0;
    for (int nRow = 0; nRow < DialogRows(); ++nRow) {
        if (IsChecked(hDlg, IDC_DRIVE_LEFT_FIRST + nRow)) {
            // Positions were given at the clicks; set again here so that the tables follow the
            // buttons however they came to be checked.
            SetRowPosition(nRow, 'B');
            g_Recorders[nRow].fSelected = TRUE;
            SetRecorderLabel(nRow, "Duplicator Drive LEFT");
            ++nChosen;
        } else if (IsChecked(hDlg, IDC_DRIVE_RIGHT_FIRST + nRow)) {
            SetRowPosition(nRow, 'A');
            g_Recorders[nRow].fSelected = TRUE;
            char szLabel[RECORDER_DESCRIPTION_SIZE];
            if (nReported == 1)
                snprintf(szLabel, sizeof szLabel, "Duplicator Drive %d", nChosen + 1);
            else
                snprintf(szLabel, sizeof szLabel, "Duplicator Drive RIGHT");
            SetRecorderLabel(nRow, szLabel);
            ++nChosen;
        } else {
            DeselectRow(nRow);
        }
    }
    DeselectRowsBeyondDialog();

    UINT uMessage = 0;
    if (nChosen == 0)
        uMessage = IDS_SELECT_ONE_DRIVE;
    else if (nChosen > 2)
        uMessage = IDS_TOO_MANY_RECORDERS;
    else if (nChosen > nReported)
        uMessage = IDS_MORE_THAN_INSTALLED;
    else if (nChosen < nReported)
        uMessage = IDS_SELECT_ONE_MORE;
    if (uMessage != 0) {
        ShowStringMessage(hDlg, uMessage, IDS_TITLE, MB_ICONINFORMATION);
        return;  // the operator chooses again
    }
    EndDialog(hDlg, 1);
}

static INT_PTR CALLBACK TwoDrivesProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (uMsg) {
        case WM_INITDIALOG: {
            const int fLeftColumn = g_bRecorderCount > 1;
            const int anColumns[2] = {IDC_DRIVE_RIGHT_FIRST, IDC_DRIVE_LEFT_FIRST};
            InitDialogRows(hDlg, anColumns, fLeftColumn ? 2 : 1);
            if (fLeftColumn) ShowItem(hDlg, IDC_LEFT_HEADING);
            if (g_bRecorderCount == 1) {
                SetDlgItemTextA(hDlg, IDC_DRIVE_PROMPT, "Choose the drive in your Optical Disc Duplicator.");
                SetDlgItemTextA(hDlg, IDC_DRIVE_HINT,
                                "If you are unsure, try each Open/Close button to determine the proper drive.");
                SetDlgItemTextA(hDlg, IDC_RIGHT_HEADING, "SELECT");
            }
            return TRUE;
        }
        case WM_COMMAND: {
            const int nId = (int)LOWORD(wParam);
            if (HIWORD(wParam) != BN_CLICKED) return FALSE;
            int nRow;
            if (nId == IDC_DRIVES_OK) {
                AcceptTwoDrives(hDlg);
            } else if (nId == IDC_DRIVES_CANCEL || nId == IDCANCEL) {
                EndDialog(hDlg, 0);
            } else if ((nRow = RowOf(nId, IDC_DRIVE_OPEN_CLOSE_FIRST)) >= 0) {
                ToggleRowTray(g_afTwoDriveTrayOpen, nRow);
            } else if ((nRow = RowOf(nId, IDC_DRIVE_LEFT_FIRST)) >= 0) {
                CheckDlgButton(hDlg, IDC_DRIVE_RIGHT_FIRST + nRow, BST_UNCHECKED);
                SetRowPosition(nRow, 'B');
            } else if ((nRow = RowOf(nId, IDC_DRIVE_RIGHT_FIRST)) >= 0) {
                CheckDlgButton(hDlg, IDC_DRIVE_LEFT_FIRST + nRow, BST_UNCHECKED);
                SetRowPosition(nRow, 'A');
            } else {
                return FALSE;
            }
            return TRUE;
        }
    }
    return FALSE;
}

int ChooseTwoDrives(void) {
    const INT_PTR nResult =
        DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_CHOOSE_TWO_DRIVES), g_hOwnerWnd, TwoDrivesProc, 0);
    if (nResult != 0 && nResult != 1) {
        DebugLogF("ERROR: The drive choice dialog could not be shown (%ld)", (long)nResult);
        return 0;
    }
    return (int)nResult;
}

// ---------------------------------------------------------------------------------------------
// Four-drive dialog.

// The choice columns in the order OK examines them, and the position each stands for.
static const int g_anFourDriveColumns[4] = {IDC_DRIVE_RIGHT_BOTTOM_FIRST, IDC_DRIVE_LEFT_BOTTOM_FIRST,
                                            IDC_DRIVE_RIGHT_TOP_FIRST, IDC_DRIVE_LEFT_TOP_FIRST};
static const char g_acFourDrivePositions[4] = {'C', 'D', 'A', 'B'};

// The serial number goes to the position's key exactly as it is.
static void WriteDriveSerial(const char* pszKey, const char* pszSerial) {
    WritePrivateProfileStringA(SETTINGS_SECTION, pszKey, pszSerial, g_szSettingsPath);
}

static void AcceptFourDrives(HWND hDlg) {
    int nChosen = 0;
    for (int nRow = 0; nRow < DialogRows(); ++nRow) {
        int nColumn = 0;
        while (nColumn < 4 && !IsChecked(hDlg, g_anFourDriveColumns[nColumn] + nRow)) ++nColumn;
        if (nColumn == 4) {
            DeselectRow(nRow);
            continue;
        }
        ++nChosen;
        const char cPosition = g_acFourDrivePositions[nColumn];
        const int nPos = cPosition - 'A';
        // A recorder without serial number cannot be recognised later; its place is not stored.
        if (g_Recorders[nRow].szSerial[0] != '\0') WriteDriveSerial(g_aszDriveSerialKeys[nPos], g_Recorders[nRow].szSerial);
        AssignPosition(nRow, cPosition, g_aszFourDriveLabels[nPos]);
        LogDriveIndex(cPosition, nRow);
    }
    DeselectRowsBeyondDialog();

    const int nReported = (int)g_bRecorderCount;
    if (nChosen != nReported) {
        char szText[600];
        char szPart[256];
        szText[0] = '\0';
        szPart[0] = '\0';
        LoadStringA(g_hInstance, IDS_WRONG_DRIVE_COUNT, szPart, sizeof szPart);
        size_t cch = (size_t)snprintf(szText, sizeof szText, "%s", szPart);
        szPart[0] = '\0';
        LoadStringA(g_hInstance, IDS_UNIT_SHOULD_HAVE, szPart, sizeof szPart);
        if (cch < sizeof szText) cch += (size_t)snprintf(szText + cch, sizeof szText - cch, "%s%d", szPart, nReported);
        szPart[0] = '\0';
        LoadStringA(g_hInstance, IDS_RECORDER_DRIVES_RETRY, szPart, sizeof szPart);
        if (cch < sizeof szText) snprintf(szText + cch, sizeof szText - cch, "%s", szPart);
        // Retry: choose again. Cancel: go on with the rows as chosen.
        if (MessageBoxA(hDlg, szText, g_szHostTitle, MB_RETRYCANCEL | MB_ICONINFORMATION) != IDCANCEL) return;
    }
    EndDialog(hDlg, 1);
}

static INT_PTR CALLBACK FourDrivesProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (uMsg) {
        case WM_INITDIALOG:
            InitDialogRows(hDlg, g_anFourDriveColumns, 4);
            return TRUE;
        case WM_COMMAND: {
            const int nId = (int)LOWORD(wParam);
            if (HIWORD(wParam) != BN_CLICKED) return FALSE;
            if (nId == IDC_DRIVES_OK) {
                AcceptFourDrives(hDlg);
                return TRUE;
            }
            if (nId == IDC_DRIVES_CANCEL || nId == IDCANCEL) {
                EndDialog(hDlg, 0);
                return TRUE;
            }
            int nRow = RowOf(nId, IDC_DRIVE_OPEN_CLOSE_FIRST);
            if (nRow >= 0) {
                ToggleRowTray(g_afFourDriveTrayOpen, nRow);
                return TRUE;
            }
            // One choice per row: a click on one clears the row's other three.
            for (int nColumn = 0; nColumn < 4; ++nColumn) {
                nRow = RowOf(nId, g_anFourDriveColumns[nColumn]);
                if (nRow < 0) continue;
                for (int nOther = 0; nOther < 4; ++nOther)
                    if (nOther != nColumn) CheckDlgButton(hDlg, g_anFourDriveColumns[nOther] + nRow, BST_UNCHECKED);
                return TRUE;
            }
            return FALSE;
        }
    }
    return FALSE;
}

int ChooseFourDrives(void) {
    const INT_PTR nResult =
        DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_CHOOSE_FOUR_DRIVES), g_hOwnerWnd, FourDrivesProc, 0);
    if (nResult != 0 && nResult != 1) {
        DebugLogF("ERROR: The four-drive choice dialog could not be shown (%ld)", (long)nResult);
        return 0;
    }
    return (int)nResult;
}
