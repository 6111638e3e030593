// The laminator's operations for a job, on top of its channel: judging a status record and telling
// the user about laminator errors, bringing its tray in or out, waiting until a disc has been
// laminated, and the laminating dialog with the laminations remaining.
#ifndef ROVANE_LAMINATOR_OPS_H
#define ROVANE_LAMINATOR_OPS_H

#include <windows.h>

#include "printer/laminator_channel.h"

#define LAM_TRAY_IN 'I'
#define LAM_TRAY_OUT 'O'

// Laminations left, as the last "LAM:" preparation computed them; shown by the laminating dialog.
extern DWORD g_dwLaminationsLeft;

// 1 when the laminator is ready (state "I", no error). Reports an error or an open cover through
// the status message (self-closing), and forwards the heater state to the laminating dialog.
int CheckLamStatus(const LamStatus* pStatus);
// Brings the laminator tray in (LAM_TRAY_IN) or out (LAM_TRAY_OUT); returns at once without the
// laminator in use, else when the tray is there or the job is aborted.
void MoveLaminatorTray(char cDirection);
// The "WAITL:" command: waits until the disc has been laminated (or the job is aborted).
void WaitForLaminating(LamStatus* pStatus);
// Starts the thread that shows the laminating dialog; does not wait for it.
void StartLaminatingDialog(void);
// The laminating dialog (resource 125). Commands it takes as WM_COMMAND: IDC_LAMINATING_STATUS
// with the heater state character in lParam, IDCANCEL to close it. Senders never wait.
INT_PTR CALLBACK DlgFnLaminating(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

#endif
