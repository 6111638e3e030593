/* The Win32 conformance cases: one program of cases (cases.c, plain C against <windows.h>) built
 * twice, against the simulated world's Win32 subset on Linux (world_main.cpp) and with mingw-w64
 * for Windows (windows_main.c, run under Wine). Both print one line per case; the two outputs
 * must be the same, and both the same as expected.txt, recorded under Wine x86-64.
 *
 * Each side's main sets the machine up first (its own way: the world's API, or real Win32 calls
 * and the Wine prefix's registry), then calls run_conformance_cases() on a thread of its own. */
#ifndef ROVANE_WIN32_CONFORMANCE_H
#define ROVANE_WIN32_CONFORMANCE_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The machine the cases find when they start. */
#define CONF_FOLDER "C:\\Conformance"            /* an existing, empty folder */
#define CONF_MISSING_FOLDER "C:\\ConformanceMissing" /* no such folder */
#define CONF_PORT "COM1"                          /* a serial port whose far end echoes each byte */
#define CONF_PORT_BAUD 9600                       /* the far end's line speed */
#define CONF_MISSING_PORT "COM9"                  /* a serial port that does not exist */
#define CONF_PRINTER "Conformance Printer"        /* a local spooler printer, port LPT1: */
#define CONF_PRINTER_DRIVER "Conformance Driver"
#define CONF_PRINTER_PORT "LPT1:"
#define CONF_KEY "Software\\Marlune\\Conformance" /* under HKEY_LOCAL_MACHINE, see below */
#define CONF_BOX_CAPTION "Conformance"            /* the caption of every message box of the cases */

/* Registry values under HKLM\CONF_KEY (and its sub-key "Sub", which holds none):
 *   DataPath  REG_SZ         "C:\Conformance\"
 *   Text      REG_SZ         "hello"
 *   Empty     REG_SZ         ""
 *   NoNul     REG_SZ         the 3 bytes "abc" without a terminating NUL
 *   Number    REG_DWORD      0x12345678
 *   Blob      REG_BINARY     01 02 03 00 05
 *   Expand    REG_EXPAND_SZ  "%WINDIR%\x"
 *   Multi     REG_MULTI_SZ   "a\0bc\0\0"  */

/* A message box of the cases carries "[answer N]" in its text: whoever sits at the machine (the
 * world's operator, or the Windows side's answering thread) presses button N. */

typedef struct ConformanceEnv {
    HINSTANCE resources; /* the instance whose string table and dialogs are the module's */
    int under_wine;      /* the Windows build runs under Wine (see the cases that say why) */
} ConformanceEnv;

/* Runs every case; returns the number of cases printed. */
int run_conformance_cases(const ConformanceEnv* env);

#ifdef __cplusplus
}
#endif

#endif
