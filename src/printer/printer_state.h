// The disc printer and laminator as the rest of the module sees them: which printer is chosen,
// where its tray is for the robot, its port and driver names, and whether the laminator is in use.
// Written on the host's thread (start-up, the selection and options dialogs); no lock.
#ifndef ROVANE_PRINTER_STATE_H
#define ROVANE_PRINTER_STATE_H

#include <windows.h>

#define PRINTER_NAME_SIZE 250   // 249 characters and the terminator
#define PRINTER_PORT_SIZE 20    // 19 characters and the terminator; a longer port name is cut
#define PRINTER_DRIVER_SIZE 32  // 31 characters and the terminator; a longer driver name is cut

// The printer names that change what the module does. "Begins with" compares the model name's
// length; "equals" compares the whole name.
#define MODEL_OPTICAL_DISC_PRINTER "Optical Disc Printer"
#define MODEL_PELLAN "Pellan"
#define MODEL_PELLAN_IV "Pellan IV"
#define MODEL_PELLAN_PRO "Pellan PRO"
#define MODEL_VARROW "Varrow"
#define MODEL_TESSIK_6 "Tessik 6"
// The list's last line and the stored name when no disc printer is used.
#define NO_DISC_PRINTER "- Not using a disc printer -"

extern char g_szPrinterName[PRINTER_NAME_SIZE];    // spooler name of the disc printer
extern char g_szPrinterPort[PRINTER_PORT_SIZE];    // its port, from the last GetPRINTER2Info
extern char g_szPrinterDriver[PRINTER_DRIVER_SIZE];  // its driver, from the last GetPRINTER2Info
extern BOOL g_fPrinterSelected;
extern char g_szPrinterPosition[2];                // "S", or "I" for an "Optical Disc Printer"
extern BOOL g_fLaminator;                          // "Use Laminator"

// The local printers listed while a selection dialog (or the options dialog) is open: a locked
// movable block of PRINTER_INFO_2A entries and their count.
extern HGLOBAL g_hPrinterList;
extern PRINTER_INFO_2A* g_PrinterList;
extern BYTE g_bPrinterCount;

// 1 when the name begins with the model name (compared over the model name's length).
int PrinterNameBegins(const char* pszName, const char* pszModel);
// The robot position of a printer's tray: "I" for an "Optical Disc Printer", "S" for every other
// name (and for none).
char PrinterPositionFor(const char* pszName);

#endif
