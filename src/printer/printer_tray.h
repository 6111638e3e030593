// The disc printer's tray, moved by the robot over its auxiliary cable ("_PTI", "_PTO").
#ifndef ROVANE_PRINTER_TRAY_H
#define ROVANE_PRINTER_TRAY_H

#include "robot/robo_status.h"

#define TRAY_IN 'I'
#define TRAY_OUT 'O'

// Brings the printer tray in or out. Returns when it is there, when no printer is selected, when
// the operator cancels (the job is aborted), or when the tray message it showed was closed.
// The status record holds the last status read.
void MovePrinterTray(char cDirection, RoboStatus* pStatus);

#endif
