/*
 * Rovane.dll: the autoloader robotics module, as seen by the host application.
 *
 * Every export takes and returns 32-bit values with the stdcall convention (the callee removes
 * its arguments) and is exported under its plain, undecorated name, so that the host can find it
 * with GetProcAddress(hModule, "Rovane_...").
 *
 * Order of use: Rovane_Init once; then jobs, each bracketed by Rovane_JobBeginsOrEnds (begin, then
 * end or abort), with move and move-and-print requests polled through Rovane_CheckMoveDisc and
 * Rovane_CheckPrinting until they report done or aborted; Rovane_End once at the end.
 */
#ifndef ROVANE_H
#define ROVANE_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ROVANE_API WINAPI

/* ---------------------------------------------------------------------------------------------
 * Start-up and shutdown.
 */

/* Buffer sizes the host provides. */
#define ROVANE_RECORDER_TEXT_SIZE 1024 /* Rovane_Init argument 6 */
#define ROVANE_PRODUCT_NAME_SIZE 14    /* Rovane_Init argument 8 */
#define ROVANE_END_TEXT_SIZE 23        /* Rovane_End argument */

/* Rovane_Init result for the print-only host when it started (it serves no recorder). */
#define ROVANE_INIT_PRINT_ONLY 99

/*
 * Starts the module. Call once, on the thread that will call the other exports.
 *   dwHostEngine      the host engine's handle; passed on to its tray operation.
 *   hOwner            the host window that owns the module's message boxes and dialogs.
 *   pszHostName       "Dorquel", "Dorquel Quiet" (settings key word "Fenwit"), "Quessa" (the
 *                     print-only host) or any other name (the disc-recording host "VeltoDVD").
 *   pszHostText       a second text; kept, not used.
 *   pszRecorderList   the host's recorders, one "unit,spare,host,target,letter,name\r\n" line each,
 *                     the whole ended by a NUL (at most 17 lines are read; ignored for "Quessa").
 *   pszSelected       receives one "unit,1,description,0\r\n" line (",16" when a disc printer is
 *                     chosen) per recorder the robot serves; at least 1,024 bytes.
 *   pbError           receives 0 on success.
 *   pszProductName    receives "DuplicatorQIX" on success; at least 14 bytes.
 * Returns the number of recorders the robot serves (the lines written to pszSelected); 99 for the
 * print-only host; 0 when start-up failed or the user cancelled (the module told the user why).
 */
LONG ROVANE_API Rovane_Init(DWORD dwHostEngine, HWND hOwner, LPCSTR pszHostName, LPCSTR pszHostText,
                            LPCSTR pszRecorderList, LPSTR pszSelected, LPBYTE pbError, LPSTR pszProductName);

/*
 * Stops the module: waits up to ten seconds for its worker threads (then ends them), resets the
 * robot and closes its serial port.
 *   pszText  receives "Rovane Registry string"; at least 23 bytes.
 * Returns 1. A second call finds the port closed and sends nothing.
 */
DWORD ROVANE_API Rovane_End(LPSTR pszText);

/* ---------------------------------------------------------------------------------------------
 * Jobs.
 */

/* Rovane_JobBeginsOrEnds codes. */
#define ROVANE_JOB_BEGIN 1
#define ROVANE_JOB_END 2
#define ROVANE_JOB_ABORT 3
/* Rovane_JobBeginsOrEnds results. */
#define ROVANE_JOB_OK 1
#define ROVANE_JOB_CANNOT_START 2

/*
 * Begins (1), ends (2) or aborts (3) a recording job of dwHowMany discs; the first argument is
 * ignored. Begin waits for the previous job's commands, checks that robot and laminator are
 * ready, closes the recorder trays and clears discs left behind. Returns 1, or 2 when a job
 * cannot start (the user gave up, or the laminator cannot be reached). End and abort return 1.
 * Before Rovane_Init nothing is done: begin returns 2, end and abort 1.
 */
LONG ROVANE_API Rovane_JobBeginsOrEnds(DWORD dwIgnored, DWORD dwHowMany, LONG dwCode);

/* Rovane_PostMoveDisc actions (the main ones). */
#define ROVANE_MOVE_LOAD 100   /* a blank disc from the input bin into the recorder */
#define ROVANE_MOVE_UNLOAD 200 /* the recorder's disc to its output bin */
#define ROVANE_MOVE_REJECT 300 /* the recorder's disc to a reject position */

/*
 * Asks for one disc movement for the recorder with host unit number dwUnit; the last two
 * arguments are ignored. The module queues it and returns at once; poll
 * Rovane_CheckMoveDisc(dwUnit) until it returns 1 or 4. Returns 0 when dwUnit is not a recorder
 * of the module, else 1.
 */
LONG ROVANE_API Rovane_PostMoveDisc(DWORD dwUnit, LONG dwAction, DWORD dwIgnored1, DWORD dwIgnored2);

/* Rovane_PostMoveAndPrint codes. */
#define ROVANE_PRINT_BLANK 1000       /* a blank disc from the input bin through the printer */
#define ROVANE_RECORD_AND_PRINT 2000  /* recorder to printer to output bin */
#define ROVANE_LAMINATE_ONLY 4000     /* a disc only through the laminator */
#define ROVANE_PRINT_IN_PRINTER 5000  /* print the disc already in the printer */

/*
 * Asks for a movement combined with printing a label (pszFile1: a ".PRN" file for the disc
 * printer or a ".STD" label design) and, with the laminator in use, laminating. dwSetting is only
 * logged; pszFile2 names the printer for the print-only host; dwDiscNumber is the disc's number
 * within the job. Returns 1 when queued, 0 when refused. Poll Rovane_CheckMoveDisc and
 * Rovane_CheckPrinting.
 */
LONG ROVANE_API Rovane_PostMoveAndPrint(DWORD dwUnit, LONG dwCode, DWORD dwSetting, LPCSTR pszFile1, LPCSTR pszFile2,
                                        DWORD dwDiscNumber);

/* Results of the polls. */
#define ROVANE_UNKNOWN 0
#define ROVANE_DONE 1
#define ROVANE_IN_PROGRESS 2
#define ROVANE_ABORTED 4

/*
 * Progress of the move request last posted for a recorder (dwUnit as the host knows it):
 *   1 done, 2 still in progress, 4 the job was aborted or nothing can finish the move any more,
 *   0 the recorder is not known. Poll until 1 or 4.
 */
DWORD ROVANE_API Rovane_CheckMoveDisc(DWORD dwUnit);

/*
 * Printing: 1 not printing, 2 printing in progress, 4 the job was aborted; 0 (with an error
 * message) when the module was never started. The argument is ignored.
 */
DWORD ROVANE_API Rovane_CheckPrinting(DWORD dwIgnored);

/* Obsolete: shows a message saying so and returns 0. The argument is ignored. */
DWORD ROVANE_API Rovane_CheckAccumulator(DWORD dwIgnored);

/*
 * Checks a print file before a job: dwAction is the code the host will pass to
 * Rovane_PostMoveAndPrint, pszFile the print file's path; the other arguments are ignored.
 * Returns 1 when the file is acceptable, 0 when not (the user is told why).
 */
LONG ROVANE_API Rovane_CheckValidPrint(DWORD dwIgnored1, LONG dwAction, DWORD dwIgnored3, LPCSTR pszFile,
                                       DWORD dwIgnored5, DWORD dwIgnored6);

/* ---------------------------------------------------------------------------------------------
 * The robot's status.
 */

/*
 * The robot's status, asked of the robot at the time of the call.
 *   lpBuffer      receives 22 bytes: robot state ("I" idle, "B" busy, "W" waiting for the
 *                 printer, "P" paused), error ("." or "A".."F"), printer state, printer tray,
 *                 arm position, auxiliary byte, picker ("O" disc held, "X" empty), then the
 *                 robot's firmware text, NUL-terminated, cut to fit.
 *   dwBufferSize  at least 22, else the call fails without asking the robot.
 *   lpdwLength    receives 22 on success.
 *   lpdwType      always receives 3.
 * Returns 1 when the buffer was filled, 0 when the buffer is too small or the robot did not answer.
 */
DWORD ROVANE_API Rovane_GetRoboStatus(LPBYTE lpBuffer, DWORD dwBufferSize, LPDWORD lpdwLength, LPDWORD lpdwType);

/* ---------------------------------------------------------------------------------------------
 * Dialogs.
 */

/*
 * Opens the options and services dialog (robot port and communication check, disc printer,
 * laminator, drive re-selection, About), modally, owned by the host window given at start-up.
 * While a job is in progress it only says that it cannot open. Returns 1.
 */
DWORD ROVANE_API Rovane_Options(void);

/* Rovane_Services host kinds (used by request 500 only). */
#define ROVANE_HOST_VELTODVD 0
#define ROVANE_HOST_FENWIT 1
#define ROVANE_HOST_QUESSA 2

/* Rovane_Services requests. */
#define ROVANE_SERVICE_OPTIONS 0          /* as Rovane_Options; returns 1 */
#define ROVANE_SERVICE_NOTHING 100        /* returns 0 */
#define ROVANE_SERVICE_LABEL_APP_READY 101 /* 1 when the label application is available */
#define ROVANE_SERVICE_OPEN_LABEL_APP 200 /* reminds the user, then opens it; returns 1 */
#define ROVANE_SERVICE_SELECT_UNIT 500    /* finds the unit's serial port; 1 when one was chosen */

/*
 * Service requests: dwHostKind (0 VeltoDVD, 1 Fenwit, 2 Quessa; used by request 500 only) and
 * dwRequest (above; 600, 610, 620, 630 and 640 do nothing and return 0, any other does nothing
 * and returns 1). Request 500 may be called before Rovane_Init.
 */
LONG ROVANE_API Rovane_Services(LONG dwHostKind, LONG dwRequest);

/*
 * Opens the "Duplicator Movements" dialog (robot reset and the multiple-disc move test); the
 * argument is ignored. Refused while a job is in progress. Returns 1.
 */
DWORD ROVANE_API Rovane_Movements(DWORD dwIgnored);

#ifdef __cplusplus
}
#endif

#endif /* ROVANE_H */
