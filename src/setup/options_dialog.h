// The options and services dialog "Duplicator Options/Services": the robot's serial port with a
// communications check, the disc printer, the laminator and its calibration move, choosing the
// recorders again at the next start, and the About box.
#ifndef ROVANE_OPTIONS_DIALOG_H
#define ROVANE_OPTIONS_DIALOG_H

#include <windows.h>

// Runs the dialog modally, owned by the owner window. Its choices are written to the settings
// at once on OK; afterwards g_szPortName names the chosen port (the port was reopened when it
// changed). Cancel sets g_szPortName back to the stored port. Start-up runs it when the port
// cannot be opened or the robot does not answer, then tries again with g_szPortName.
void RunOptionsDialog(void);

#endif
