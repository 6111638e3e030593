// The printing dialog (resource 124) and the ink levels shown in it while a disc is printed: the
// dialog runs modally on a thread of its own; the send thread fills it with the printer's ink
// counters, read through the printer-data value "MARLUNE", and with an estimate of the discs
// that can still be printed before the printer warns of low ink.
#ifndef ROVANE_INK_LEVELS_H
#define ROVANE_INK_LEVELS_H

#include <windows.h>

#include "resources/resource.h"

// Starts the thread that shows the printing dialog; does not wait for the dialog to appear.
void StartPrintingDialog(void);
// Waits (about 2 s at most) for the printing dialog, reads the printer's ink counters and sends
// the levels, the cartridge set and the estimate to the dialog. 1 when the ink data was read.
int UpdateInkLevels(const char* pszPrinterName, const char* pszPrintFile);
// Under the module lock: when the printing dialog is open, tells it to close (without waiting).
void ClosePrintingDialog(void);

// ---------------------------------------------------------------------------------------------
// Ink data as the printer's driver reports it.

#define INK_COUNTERS 6  // counters 1 to 6 are alInk[0] to alInk[5]

// Cartridge sets (InkData.dwCartridges).
#define INK_SET_UNKNOWN 0
#define INK_SET_BLACK 1
#define INK_SET_COLOUR 2
#define INK_SET_COLOUR_BLACK 4
#define INK_SET_COLOUR_PHOTO 5
#define INK_SET_TWO_COLOUR 6

typedef struct InkData {
    DWORD dwCartridges;
    // Ink used so far, in the printer's units: 1 to 3 the inks of the first (colour) cartridge;
    // 4 the black ink, or with sets 5 and 6, 4 to 6 the inks of the second cartridge.
    LONG alInk[INK_COUNTERS];
} InkData;

// Discs that can still be printed before the printer warns of low ink: NO_INK_ESTIMATE, or 0 to
// MAX_INK_ESTIMATE, which also stands for more. Written and read on the send thread.
#define NO_INK_ESTIMATE (-32000)
#define MAX_INK_ESTIMATE 32000
extern int g_iDiscsBeforeInkLow;

#define INK_ANSWER_SIZE 100        // bytes of the driver's answer asked for
#define PRINT_INK_HEADER_SIZE 32   // a print file's header, which carries its ink figures
#define PRINT_INK_TRAILER_SIZE 24  // the last bytes of a "Tessik 6" print file

// Decodes the driver's answer to "MARLUNE" (cbAnswer bytes at pbAnswer; bytes the answer does not
// reach read as 0): for a "Tessik 6" (fTessik) the cartridge byte at 3, counters 1 to 6 from 5,
// the warning byte at 4 and the error byte at 62 (into *pbWarnings and *pbErrors); for any other
// printer the cartridge byte at 2 and counters 1 to 4 from 4. *pInk is cleared first. 0 for an
// answer shorter than 25 bytes, longer than INK_ANSWER_SIZE, or whose byte 1 is not its length
// minus 2 (nothing decoded); else 1, with pInk->dwCartridges INK_SET_UNKNOWN for an invalid
// cartridge byte (a "Tessik 6" answer is then still decoded in full, another printer's not).
int DecodeInkAnswer(const BYTE* pbAnswer, DWORD cbAnswer, BOOL fTessik, InkData* pInk, BYTE* pbWarnings,
                    BYTE* pbErrors);
// The discs before low ink that a print file's figures allow with the counters in *pInk: the
// file's first 32 bytes (cbHeader of them at pbHeader) and, for the "Tessik 6" format, its last
// 24 bytes (pbTrailer, or NULL when they could not be read). NO_INK_ESTIMATE, or 0 to
// MAX_INK_ESTIMATE.
int EstimateInkDiscs(const BYTE* pbHeader, DWORD cbHeader, const BYTE* pbTrailer, const InkData* pInk);
// Asks the printer's driver for its ink counters (at most four attempts, 1 s apart); shows the
// cartridge warnings a "Tessik 6" asks for. 1 with a valid answer in *pInk; else 0 and set 0.
int ReadInkData(const char* pszPrinterName, InkData* pInk);
// The cartridge-type value a "Varrow" or "Tessik 6" driver keeps in its private part of the
// printer's default device mode. 1 when read.
int ReadDriverCartridgeType(const char* pszPrinterName, DWORD* pdwValue);
// Sets g_iDiscsBeforeInkLow from the print file's ink figures and the counters.
void EstimateDiscsBeforeInkLow(const char* pszPrintFile, const InkData* pInk);

// ---------------------------------------------------------------------------------------------
// The printing dialog (resource 124). Commands it takes as WM_COMMAND, the id in wParam and the
// value in lParam; senders post them and never wait.
#define PRINTING_CMD_CARTRIDGES IDC_INK_SECOND_LABEL   // the cartridge set: names the second line
#define PRINTING_CMD_FIRST_LEVEL IDC_INK_FIRST_VALUE   // 0 to 100
#define PRINTING_CMD_SECOND_LEVEL IDC_INK_SECOND_VALUE // 0 to 100
#define PRINTING_CMD_DISCS_LEFT IDC_DISCS_BEFORE_LOW   // 0 or more
#define PRINTING_CMD_CLOSE IDCANCEL

INT_PTR CALLBACK DlgFnPrinting(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

// ---------------------------------------------------------------------------------------------
// The progress dialogs (printing, laminating) each run modally, without owner, on a thread of
// their own that only shows the dialog and ends with it. The description must outlive the thread
// (a static constant); the name is used in the log lines of a failure.
typedef struct DialogThreadInfo {
    UINT uDialogId;
    DLGPROC pfnDialog;
    const char* pszName;
} DialogThreadInfo;

void StartDialogThread(const DialogThreadInfo* pInfo);

#endif
