/*
 * rovane-host: a host application for the real Rovane.dll. It runs the same scripts of export
 * calls as `rovane-sim host`, read by the same reader (tools/host-script/host_script.h, where the
 * language is described), and prints the same lines: one per call, with what the call returned
 * and the message boxes and dialogs that were shown and answered meanwhile. The operator is
 * played by window automation.
 *
 *   main.c        the command line, the module's exports, the host window, the clock, output
 *   script.c      the script: reading it (the shared reader), running its calls
 *   automation.c  the operator: finds the module's windows, answers them by the script's rules
 *                 and then by the default operator's
 *   printer_data.c  the printer drivers' answers to the printer-data value "MARLUNE", asked of
 *                 the robot's server
 */
#ifndef ROVANE_HOST_H
#define ROVANE_HOST_H

#include <stddef.h>
#include <windows.h>

#include "host_script.h"
#include "rovane.h"

/* ---------------------------------------------------------------------------------------------
 * main.c: the module, the host window, the clock, the output.
 */

/* The exports the scripts call, looked up in the loaded module. */
typedef struct RovaneExports {
    __typeof__(&Rovane_Init) Init;
    __typeof__(&Rovane_End) End;
    __typeof__(&Rovane_JobBeginsOrEnds) JobBeginsOrEnds;
    __typeof__(&Rovane_PostMoveDisc) PostMoveDisc;
    __typeof__(&Rovane_CheckMoveDisc) CheckMoveDisc;
    __typeof__(&Rovane_Options) Options;
    __typeof__(&Rovane_Movements) Movements;
    __typeof__(&Rovane_Services) Services;
    __typeof__(&Rovane_GetRoboStatus) GetRoboStatus;
    __typeof__(&Rovane_PostMoveAndPrint) PostMoveAndPrint;
    __typeof__(&Rovane_CheckPrinting) CheckPrinting;
    __typeof__(&Rovane_CheckAccumulator) CheckAccumulator;
    __typeof__(&Rovane_CheckValidPrint) CheckValidPrint;
} RovaneExports;

extern RovaneExports g_Rovane;
extern HMODULE g_hRovane;
extern HWND g_hHostWindow;

/* Starts the clock and makes the output lock: first thing in main(). (host_common.c) */
void HostStart(void);

/* Milliseconds since the program started. */
unsigned long long HostMs(void);

/* Waits dwMs milliseconds while the host window's messages are handled, as a host's thread does. */
void HostSleep(DWORD dwMs);

/* Output of both threads goes out whole under this lock: call lines with their events, and the
 * report of a window nobody answered. */
void HostOutputLock(void);
void HostOutputUnlock(void);

/* A byte string: script words may hold NULs. */
typedef HsText Text;

/* `s` as the transcript writes it: \r \n \t \\ and \xNN for bytes outside 0x20..0x7e. Written to
 * the buffer out (at least 4 * cb + 1 bytes). */
char* EscapeText(const char* s, size_t cb, char* out);

/* realloc, or the end of the program when memory is out. */
void* HostGrow(void* p, size_t cb);

/* A fresh copy of cb bytes, NUL-terminated (free() it). */
char* CopyBytes(const char* p, size_t cb);

/* ---------------------------------------------------------------------------------------------
 * printer_data.c: the printer drivers' printer-data answers, from the robot's server.
 */

/* Points the module's imports of winspool's SetPrinterDataA and GetPrinterDataA at the stand-ins
 * that ask the server for the value "MARLUNE" of its printers. 1 when both were found. */
int RedirectPrinterData(HMODULE hModule);

/* ---------------------------------------------------------------------------------------------
 * script.c
 */

/* Reads and checks the script (path "-": standard input), before anything runs. 1 when it can
 * run; 0 on a script error, reported on stderr. fCheckOnly: prints each call as read instead. */
int LoadScript(const char* pszPath, int fCheckOnly);

/* Runs the script's lines, printing each call's line and the events under it. */
void RunScript(void);

/* ---------------------------------------------------------------------------------------------
 * automation.c: the operator.
 */

/* Starts the operator's thread. 0 when it could not start. */
int AutomationStart(void);

/* An answer rule: message boxes whose text contains the pattern get this button (an HsButton;
 * HS_ABORTJOB: the robot's status message containing it gets its ABORT Job button); once: one
 * window only. */
void AutomationAddAnswer(const Text* pattern, int nButton, int fOnce);

/* A dialog rule: the next showing of dialog nDialog gets these actions (the rule keeps them). */
void AutomationAddDialog(int nDialog, const HsAction* pActions, int cActions);

/* Writes the window events recorded since the last call to stdout; under HostOutputLock. */
void AutomationPrintEvents(void);

#endif
