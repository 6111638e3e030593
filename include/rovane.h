/*
 * Rovane.dll: the autoloader robotics module, as seen by the host application.
 *
 * Every export takes and returns 32-bit values with the stdcall convention (the callee removes
 * its arguments) and is exported under its plain, undecorated name, so that the host can find it
 * with GetProcAddress(hModule, "Rovane_...").
 */
#ifndef ROVANE_H
#define ROVANE_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ROVANE_API WINAPI

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

#ifdef __cplusplus
}
#endif

#endif /* ROVANE_H */
