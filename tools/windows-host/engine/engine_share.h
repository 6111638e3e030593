/*
 * What the stand-in recording engine libraries (KT.dll, Dorquel.dll, KTSDKPLS.dll) share: the
 * engine folder they have in common with the robot's server, the recorders it lists in units.txt,
 * and the tray requests they append to trays.txt.
 *
 * The folder is named by the environment variable ROVANE_ENGINE_DIR, a Windows path
 * ("Z:\tmp\engine") or a Unix one ("/tmp/engine", reached through drive Z:).
 *
 * units.txt holds one line per recorder, "UNIT LETTER POSITION SERIAL" ("-" for a drive without
 * a serial number), and a last line "end"; a file without that line is not complete and lists
 * nothing.
 *
 * faults.txt names the faults of the server's machine that the libraries play themselves
 * (EngineFaultCount).
 *
 * trays.txt receives one line per accepted tray request, "UNIT open" or "UNIT close", each written
 * whole under a lock shared by all the libraries of the process.
 */
#ifndef ROVANE_ENGINE_SHARE_H
#define ROVANE_ENGINE_SHARE_H

#include <windows.h>

#define ENGINE_MAX_UNITS 32
#define ENGINE_SERIAL_SIZE 256

/* Result codes of the tray calls (0 is success). */
#define ENGINE_ERROR_NO_SUCH_UNIT 2
#define ENGINE_ERROR_BAD_PARAMETER 87

typedef struct EngineUnit {
    LONG lUnit;
    char cLetter;                      /* upper case */
    char szPosition[8];                /* the robot's place for the drive: A, B, C or D */
    char szSerial[ENGINE_SERIAL_SIZE]; /* empty: the drive has no serial number */
} EngineUnit;

/*
 * The engine folder, without a trailing backslash, into pszFolder (cchFolder bytes). 0 when
 * ROVANE_ENGINE_DIR is not set (or too long).
 */
int EngineFolder(char* pszFolder, DWORD cchFolder);

/*
 * The folder for a library's call: as EngineFolder, and, the first time the folder is missing,
 * a line for the debugger naming pszLibrary and what is wrong.
 */
int EngineFolderForCall(const char* pszLibrary, char* pszFolder, DWORD cchFolder);

/*
 * Reads the whole of a file of the engine folder into a fresh NUL-terminated buffer (free it
 * with HeapFree(GetProcessHeap(), ...)); *pcb receives its length. NULL when it cannot be read.
 */
char* EngineReadFile(const char* pszFolder, const char* pszName, DWORD* pcb);

/* The recorders units.txt lists, at most cMax; -1 when it is missing or not complete. */
int EngineReadUnits(const char* pszFolder, EngineUnit* pUnits, int cMax);

/* The listed recorder with this unit number / drive letter (either case), or NULL. */
const EngineUnit* EngineFindUnit(const EngineUnit* pUnits, int cUnits, LONG lUnit);
const EngineUnit* EngineFindLetter(const EngineUnit* pUnits, int cUnits, char cLetter);

/*
 * The count of a fault named in faults.txt, one "NAME N" line per fault the server's machine was
 * started with ("tray-fail 2"); 0 when the file or the line is missing.
 */
long EngineFaultCount(const char* pszFolder, const char* pszName);

/* Appends "UNIT open" / "UNIT close" to trays.txt; 1 when written. */
int EngineAppendTray(const char* pszFolder, LONG lUnit, int fOpen);

#endif
