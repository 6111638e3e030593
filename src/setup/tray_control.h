// Recorder trays: opened and closed through the host's job-processor library, with the state
// the caller asks for and the time of the movement recorded for the send thread's waits.
#ifndef ROVANE_TRAY_CONTROL_H
#define ROVANE_TRAY_CONTROL_H

#include <windows.h>

#include "setup/recorders.h"

// bTrayState values, as the callers choose them.
#define TRAY_STATE_OPEN_EMPTY 0
#define TRAY_STATE_CLOSED_EMPTY 1
#define TRAY_STATE_OPEN_WITH_DISC 2
#define TRAY_STATE_CLOSED_WITH_DISC 3

// Tick count at which each row's last tray command finished; 0 until the first.
extern DWORD g_dwTrayTick[MAX_RECORDERS];

// Opens (fClose 0) or closes a recorder's tray and records bNewState and the time. Retries a
// failing tray 50 times, 500 ms apart, then tells the operator and goes on as if it had moved.
void OpenCloseTray(BYTE fClose, DWORD dwRow, BYTE bNewState);
// Start-up: closes every recorder's tray once through the host engine's own tray operation.
void CloseTraysAtStartup(void);
// Returns once more than dwMilliseconds have passed since the row's last tray movement.
void WaitSinceTrayMove(DWORD dwRow, DWORD dwMilliseconds);

#endif
