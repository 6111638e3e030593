// The settings file "ROVANE_QIX.INI" (one section, "PORTS") and the registry lookup of the data
// folder that holds it and the log. Nothing is cached: every read goes to the file and every
// write rewrites it at once.
#ifndef ROVANE_SETTINGS_H
#define ROVANE_SETTINGS_H

#include <windows.h>

#define SETTINGS_FILE_NAME "ROVANE_QIX.INI"
#define SETTINGS_SECTION "PORTS"
#define KEY_COM "Com"
#define KEY_PRINTER "Printer"
#define KEY_DRIVE1_SERIAL "Drive1Serial"
#define KEY_DRIVE2_SERIAL "Drive2Serial"
#define KEY_DRIVE3_SERIAL "Drive3Serial"
#define KEY_DRIVE4_SERIAL "Drive4Serial"
#define KEY_LAMINATE_DISC "Laminate Disc"
#define KEY_RECORD_PRINT "Record-Print"
#define KEY_MINIMIZE_PRINTDLG "Minimize PrintDlg"

#define DATA_PATH_SIZE 250   // the DataPath value: 249 characters and its terminator
#define COM_VALUE_SIZE 10
#define PRINTER_VALUE_SIZE 250
#define DRIVE_SERIAL_SIZE 30

extern const char* const g_aszPortNames[4];  // "COM1".."COM4", indexed by the port index

// Finds the data folder: the DataPath value under "Software\Marlune\" + key word in the
// local-machine hive. Returns 1 and fills pszOut (DATA_PATH_SIZE bytes) when found, else 0 with
// pszOut unchanged.
int LookupDataPath(const char* pszKeyword, char* pszOut);
// Sets the settings and log paths from the data folder of the host's key word; the bare file
// names when the folder is not registered.
void SetModulePaths(const char* pszKeyword);
// The port index 0..3 from key "Com" (exact, case-sensitive names; anything else is COM1).
int ReadPortChoice(void);
// Writes key "Com" with the port's name; tells the user when the write fails.
void WritePortChoice(int nPortIndex);
// Writes key "Printer"; tells the user when the write fails.
void WritePrinterChoice(const char* pszPrinterName);

#endif
