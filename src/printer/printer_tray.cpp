#include "printer/printer_tray.h"

#include "foundation/debug_log.h"
#include "foundation/job_state.h"
#include "foundation/module_context.h"
#include "foundation/status_message.h"
#include "printer/printer_state.h"
#include "resources/resource.h"
#include "robot/serial_port.h"

#define TRAY_POLL_MS 300
#define TRAY_MESSAGE_DELAY_MS 6000
#define TRAY_GIVE_UP_MS 15000

static int TrayIsIn(BYTE bTray) { return bTray == 'I' || bTray == 'D'; }

void MovePrinterTray(char cDirection, RoboStatus* pStatus) {
    if (!g_fPrinterSelected) {
        DebugLog("MovePrinterTray - NO PRINTER - returning");
        return;
    }
    const BOOL fIn = cDirection != TRAY_OUT;
    DebugLog(fIn ? "MovePrinterTray( TRAY_IN, " : "MovePrinterTray( TRAY_OUT, ");
    DWORD dwStart = GetTickCount();
    BOOL fMessageShown = FALSE;

    for (;;) {
        if (GetSystemStatus(pStatus) && pStatus->bRoboState == 'I') {
            if (pStatus->bPrinterState != 'B') {
                if (fIn) {
                    if (TrayIsIn(pStatus->bPrinterTray)) break;
                    if (pStatus->bPrinterTray == 'O') {
                        PortWrite("_PTI", FALSE);
                        DebugLogF("PortWrite: %s", "_PTI");
                    }
                } else {
                    if (pStatus->bPrinterTray == 'O') break;
                    if (TrayIsIn(pStatus->bPrinterTray)) {
                        PortWrite("_PTO", FALSE);
                        DebugLogF("PortWrite: %s", "_PTO");
                    }
                }
            } else if (pStatus->bPrinterTray == 'X') {
                // The printer is silent: tell the operator once; the move ends when that
                // message has been closed (or the printer was deselected meanwhile).
                if (!g_fPrinterSelected) break;
                if (fMessageShown) {
                    EnterCriticalSection(&g_csModule);
                    const BOOL fOpen = g_hMessageDlg != NULL;
                    LeaveCriticalSection(&g_csModule);
                    if (!fOpen) break;
                } else if (GetTickCount() - dwStart > TRAY_MESSAGE_DELAY_MS) {
                    ShowRobotMessage(fIn ? IDS_PRINTER_TRAY_NOT_CLOSING : IDS_PRINTER_TRAY_NOT_OPENING, TRUE);
                    fMessageShown = TRUE;
                }
            }
        }
        if (GetTickCount() - dwStart > TRAY_GIVE_UP_MS) {
            const int nAnswer = MessageBoxA(NULL,
                                            "Unable to move the printer tray in/out.\nPlease make sure the printer is "
                                            "powered on and connected to the robotics via the 6-pin cable.\nClick "
                                            "\"Retry\" to try again or \"Cancel\" to abort the job.",
                                            "Error", MB_RETRYCANCEL);
            if (nAnswer != IDRETRY) {
                DebugLog("User aborted in MovePrinterTray");
                MarkJobAborted(NULL);
                break;
            }
            dwStart = GetTickCount();
        }
        Sleep(TRAY_POLL_MS);
    }
    DebugLog(" MovePrinterTray returning");
}
