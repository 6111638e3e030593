// The disc printer and laminator as the rest of the module sees them: which printer is chosen,
// where its tray is for the robot, and whether the laminator is in use.
#ifndef ROVANE_PRINTER_STATE_H
#define ROVANE_PRINTER_STATE_H

#include <windows.h>

#define PRINTER_NAME_SIZE 250

extern char g_szPrinterName[PRINTER_NAME_SIZE];  // spooler name of the disc printer; "" when none
extern char g_szPrinterPort[PRINTER_NAME_SIZE];
extern BOOL g_fPrinterSelected;
extern char g_szPrinterPosition[2];               // "S", or "I" for an "Optical Disc Printer"
extern BOOL g_fLaminator;                         // "Use Laminator"

#endif
