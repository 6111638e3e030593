// Choosing the disc printer: is a printer installed, the local printer list, the selection dialog
// (resource 122, where the laminator is switched on or off too), the start-up check that the robot
// sees a responding printer, and the port and driver names of the chosen printer.
#ifndef ROVANE_PRINTER_SELECT_H
#define ROVANE_PRINTER_SELECT_H

#include <windows.h>

// 1 when an installed local printer's name begins with pszName, else 0.
int PrinterExists(const char* pszName);
// Bytes the spooler needs for the local printer list at level 2; 0 when there are no printers or
// the enumeration fails.
DWORD GetPrinterListSize(void);
// Fills pbBuffer (cbBuffer bytes) with the local printers at level 2. 1 when the enumeration
// succeeded and listed at least one printer. *pdwCount is written in either case as the spooler
// returned it.
int GetPrinterList(BYTE* pbBuffer, DWORD cbBuffer, DWORD* pdwCount);
// Start-up: waits until the robot reports a responding printer (message 120 after 6 s, Retry or
// Cancel); sets or clears g_fPrinterSelected.
void FindPrinter(void);
// Refreshes g_szPrinterPort and g_szPrinterDriver from the spooler: 1 on success; 0 (message 151)
// when the chosen printer cannot be opened or described.
int GetPRINTER2Info(void);
// The selection dialog's procedure, and the dialog run modally with the owner window as owner.
INT_PTR CALLBACK DlgFnSelectPrinter(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
void RunSelectPrinterDialog(void);

// Shared with the options dialog, which offers the same list with the same rules.
// Lists the local printers into g_PrinterList / g_bPrinterCount (message 138, owned by hDlg, when
// nothing can be listed) and fills the list control: "%s on %s" per printer, then
// "- Not using a disc printer -". A list left over from an earlier opening is released first.
void FillPrinterList(HWND hDlg, int nListId);
// Selects the stored printer (key "Printer") in the list, or the default choice when none is
// stored; "- Not using a disc printer -" when nothing matches (then g_fPrinterSelected is cleared).
void SelectCurrentPrinter(HWND hDlg, int nListId);
// OK: takes the list's choice as the printer (message 139 for a printer on "FILE:"), stores it as
// key "Printer" and, unless the answer to message 139 was Yes, sets the printer position, sends
// "_MOVE:" with it to the robot and releases the list. Returns 1 after that Yes, else 0.
int ApplyPrinterChoice(HWND hDlg, int nListId);
// Releases g_PrinterList.
void FreePrinterList(void);

// The "Use Laminator" box, the same in both dialogs.
// Opening: ticked only when key "Laminate Disc" is on, the laminator answers and the robot's
// firmware works with it.
void InitLaminatorCheck(HWND hDlg, int nCheckId);
// A click that left the box ticked: unticks it again when the laminator does not answer, or (with
// the firmware warning) when the robot's firmware is too old.
void VerifyLaminatorCheck(HWND hDlg, int nCheckId);
// OK: g_fLaminator and key "Laminate Disc" from the box.
void ApplyLaminatorChoice(HWND hDlg, int nCheckId);

#endif
