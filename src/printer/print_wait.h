// Waiting for a print: the printer shows that it has finished by putting the printed disc out on
// its tray, which the robot reports in its status frames.
#ifndef ROVANE_PRINT_WAIT_H
#define ROVANE_PRINT_WAIT_H

#include "robot/robo_status.h"

// Returns when the printer has put the printed disc out (clearing g_fSpooling and g_fPIP) or the
// job was aborted, by the operator here or by anyone else. Closes the printing dialog and counts
// g_dwPrintJobNumber up either way. The status record holds the last status read.
void WaitForPrinting(RoboStatus* pStatus);

#endif
