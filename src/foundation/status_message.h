// The status message dialog: one string-table message with an "ABORT Job" button, shown on a
// thread of its own by whoever must tell the operator why the machine waits (robot error
// recovery, the printer and its tray, the laminator).
#ifndef ROVANE_STATUS_MESSAGE_H
#define ROVANE_STATUS_MESSAGE_H

#include <windows.h>

// Shows a string-table message in the status message dialog, or replaces the text of the one
// that is open.
void ShowRobotMessage(UINT uMessageId, BOOL fSelfClosing);
// 1 when the status message dialog is open and was shown as self-closing.
int MessageIsSelfClosing(void);
// The "Multiple Disc Move Test" dialog while it is shown, else NULL (set by the movements
// dialog). "ABORT Job" in the status message dialog posts IDCANCEL to it.
extern HWND g_hTestDlg;

#endif
