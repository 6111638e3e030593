// Print files: recognising a printer file (".PRN", rendered by the disc printer's driver) or a
// label design (".STD", printed by the label application), checking that a printer file suits the
// chosen printer, and the print thread that sends one queued print.
#ifndef ROVANE_PRINT_FILE_H
#define ROVANE_PRINT_FILE_H

#include <windows.h>

// What ClassifyPrintFile finds.
#define PRINT_FILE_PELLAN_IV 0             // for a printer whose name begins with "Pellan IV"
#define PRINT_FILE_PELLAN_PRO 1            // ... begins with "Pellan PRO"
#define PRINT_FILE_OPTICAL_DISC_PRINTER 2  // ... begins with "Optical Disc Printer"
#define PRINT_FILE_VARROW 3                // ... begins with "Varrow"
#define PRINT_FILE_VARROW_2 4              // for the printer named exactly "Varrow"
#define PRINT_FILE_TESSIK_6 5              // for the printer named exactly "Tessik 6"
#define PRINT_FILE_LABEL 99                // a label design: any printer
#define PRINT_FILE_INVALID 100             // not a print file

#define PRINT_FILE_HEADER_SIZE 32  // bytes of a printer file's header that are examined
#define PRINT_COPY_BLOCK 4096      // bytes copied into the spooler per write

// 1 when the path's extension (the text after its last ".", which must lie in the file name) is
// pszWanted, compared without regard to case; blanks after the extension are allowed.
int HasExtension(const char* pszPath, const char* pszWanted);
// 1 when the name ends in ".STD" (any case) after at least one other character: such a print
// goes through the label application.
int IsLabelFileName(const char* pszPath);
// One of the PRINT_FILE_ codes for the first bytes of a printer file (cbHeader of them at
// pbHeader; the first PRINT_FILE_HEADER_SIZE are examined): PRINT_FILE_INVALID when there are
// fewer, or when no printer family's escape header is recognised.
int ClassifyPrintHeader(const BYTE* pbHeader, DWORD cbHeader);
// One of the PRINT_FILE_ codes. A label design is recognised by its extension alone; a printer
// file by the first 32 bytes of its content.
int ClassifyPrintFile(const char* pszPath);
// 1 when the file can be printed on the printer of that name, else 0.
int IsPrintFileForPrinter(const char* pszPrinterName, const char* pszPath);

// Thread procedure: sends the print file of one print slot. lpSlotDigit points at the slot's digit
// "0".."3"; the character must stay valid while the thread runs. A printer file is copied raw into
// the spooler, a label design handed to the label application. Exit code 1 sent, 0 failed.
// Clears g_fPrintThreadDone while it runs.
DWORD WINAPI SendPrintThread(LPVOID lpSlotDigit);

#endif
