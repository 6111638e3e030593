// Robot error recovery, the self-closing status message dialog, and the job abort sequence.
#ifndef ROVANE_ERROR_RECOVERY_H
#define ROVANE_ERROR_RECOVERY_H

#include <windows.h>

#include "robot/robo_status.h"

#define IDD_STATUS_MESSAGE 117
#define IDC_STATUS_TEXT 1081
#define IDC_ABORT_JOB 1178

// Decides on each pass whether the send thread may verify and send (1) or must wait (0). Sets
// *pfVerify to 1 and clears it where the previous command must not be verified; may move the
// read cursor of the last command's queue back.
int RoboErrorCheck(RoboStatus* pStatus, BOOL* pfVerify, BYTE* pbCursor);
// Shows a string-table message in the status message dialog, or replaces the text of the one
// that is open.
void ShowRobotMessage(UINT uMessageId, BOOL fSelfClosing);
// 1 when the status message dialog is open and was shown as self-closing.
int MessageIsSelfClosing(void);
// The "Multiple Disc Move Test" dialog while it is shown, else NULL (set by the movements
// dialog). "ABORT Job" in the status message dialog posts IDCANCEL to it.
extern HWND g_hTestDlg;

// The abort sequence: trays closed, a disc in the picker rejected at "G", the robot reset.
void AbortJob(RoboStatus* pStatus);

#endif
