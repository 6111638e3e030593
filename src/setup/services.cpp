// Rovane_Services: the options dialog, the label application's availability and its opening,
// and the unit selection dialog "Select a Zorvik QIX...", which finds the serial port that a
// unit answers on for hosts that ask before start-up.
#include <stdio.h>
#include <string.h>

#include "foundation/debug_log.h"
#include "foundation/module_context.h"
#include "foundation/settings.h"
#include "printer/label_app.h"
#include "resources/resource.h"
#include "robot/robo_status.h"
#include "robot/serial_port.h"
#include "rovane.h"
#include "setup/options_dialog.h"

#define MAX_UNITS 4
#define PROBE_REPLY_LIMIT_MS 80
#define PROBE_TRIES 2

// The units the last search found: the number (1 to 4) of each one's port, in list order.
static BYTE g_abUnitPorts[MAX_UNITS];
static BYTE g_bUnitCount = 0;

static void StoreUnitPort(int nPort) { WritePortChoice(nPort - 1); }

// The port number of the chosen entry, or 0 when no entry is chosen.
static int ChosenUnitPort(HWND hDlg) {
    const LRESULT lIndex = SendDlgItemMessageA(hDlg, IDC_UNIT_LIST, CB_GETCURSEL, 0, 0);
    if (lIndex < 0 || lIndex >= (LRESULT)g_bUnitCount) return 0;
    return (int)g_abUnitPorts[lIndex];
}

// Tries COM1 to COM4 for a unit of the supported model and lists each one found.
static void SearchUnits(HWND hDlg) {
    g_bUnitCount = 0;
    // Each port must be opened under its own name: a port still open from earlier would answer
    // for all four.
    PortClose();
    for (int nPort = 1; nPort <= MAX_UNITS; ++nPort) {
        snprintf(g_szPortName, sizeof g_szPortName, "COM%i", nPort);
        if (!PortOpen(g_szPortName, FALSE)) continue;
        for (int nTry = 0; nTry < PROBE_TRIES; ++nTry) {
            WORD wModel = 0;
            if (GetRoboVersion(PROBE_REPLY_LIMIT_MS, &wModel)) {
                char szEntry[32];
                snprintf(szEntry, sizeof szEntry, "QIX on COM%i", nPort);
                SendDlgItemMessageA(hDlg, IDC_UNIT_LIST, CB_ADDSTRING, 0, (LPARAM)szEntry);
                g_abUnitPorts[g_bUnitCount++] = (BYTE)nPort;
                break;
            }
        }
        PortClose();
    }
    DebugLogF("Unit search: %u unit(s) found", (unsigned)g_bUnitCount);
}

// OK or the close box. With an entry chosen, its port becomes key "Com" and the dialog ends
// with 1. With none chosen there is nothing to store: OK leaves the dialog open for a choice,
// and the close box ends it with 0 (no unit chosen) without touching the stored port.
static void AcceptUnit(HWND hDlg, int fClosing) {
    const int nPort = ChosenUnitPort(hDlg);
    if (nPort == 0) {
        if (fClosing) EndDialog(hDlg, 0);
        return;
    }
    StoreUnitPort(nPort);
    EndDialog(hDlg, 1);
}

// "Reset Unit": after the search no port is open, so the selected entry's port is opened for
// the command and closed again; the unit that resets is the one the entry names. Nothing is sent
// while no entry is chosen.
static void ResetUnit(HWND hDlg) {
    const int nPort = ChosenUnitPort(hDlg);
    if (nPort == 0) {
        DebugLog("Reset Unit: no unit chosen");
        return;
    }
    char szPort[8];
    snprintf(szPort, sizeof szPort, "COM%i", nPort);
    if (!PortOpen(szPort, TRUE)) return;
    DebugLogF("Reset Unit on %s", szPort);
    PortWrite("_RESET", FALSE);
    PortClose();
}

static INT_PTR CALLBACK SelectUnitProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (uMsg) {
        case WM_INITDIALOG:
            SearchUnits(hDlg);
            if (g_bUnitCount == 0) {
                EndDialog(hDlg, 0);
            } else if (g_bUnitCount == 1) {
                StoreUnitPort(g_abUnitPorts[0]);
                EndDialog(hDlg, 1);
            }
            return TRUE;
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) return FALSE;
            switch (LOWORD(wParam)) {
                case IDOK: AcceptUnit(hDlg, FALSE); return TRUE;
                case IDCANCEL: AcceptUnit(hDlg, TRUE); return TRUE;
                case IDC_RESET_UNIT: ResetUnit(hDlg); return TRUE;
            }
            return FALSE;
    }
    return FALSE;
}

// The settings key word of a host kind.
static const char* HostKindKeyword(LONG dwHostKind) {
    switch (dwHostKind) {
        case ROVANE_HOST_VELTODVD: return HOST_KEYWORD_VELTODVD;
        case ROVANE_HOST_FENWIT: return HOST_KEYWORD_FENWIT;
        case ROVANE_HOST_QUESSA: return HOST_KEYWORD_QUESSA;
    }
    return "";
}

static LONG SelectUnit(LONG dwHostKind) {
    CreateModuleLock();
    SetModulePaths(HostKindKeyword(dwHostKind));
    DebugLogF("Rovane_Services: unit selection for host kind %ld", (long)dwHostKind);
    const INT_PTR nResult =
        DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_SELECT_UNIT), g_hOwnerWnd, SelectUnitProc, 0);
    if (nResult == -1) {
        DebugLogF("ERROR: The unit selection dialog could not be shown (%lu)", (unsigned long)GetLastError());
        return 0;
    }
    return nResult != 0 ? 1 : 0;
}

extern "C" LONG ROVANE_API Rovane_Services(LONG dwHostKind, LONG dwRequest) {
    switch (dwRequest) {
        case ROVANE_SERVICE_OPTIONS:
            Rovane_Options();
            return 1;
        case ROVANE_SERVICE_NOTHING: return 0;
        case ROVANE_SERVICE_LABEL_APP_READY: return g_fSureThing ? 1 : 0;
        case ROVANE_SERVICE_OPEN_LABEL_APP:
            if (g_fSureThing) {
                ShowStringMessage(NULL, IDS_SAVE_AND_EXIT_SURETHING, IDS_TITLE, MB_SETFOREGROUND);
                LabelAppOpen();
            }
            return 1;
        case ROVANE_SERVICE_SELECT_UNIT: return SelectUnit(dwHostKind);
        case 600:
        case 610:
        case 620:
        case 630:
        case 640: return 0;
    }
    return 1;
}
