// Rovane_GetRoboStatus: the robot's raw status for the host, queried fresh from the robot.
#include <string.h>

#include "rovane.h"
#include "robot/robo_status.h"

#define ROBO_STATUS_EXPORT_SIZE 22  // 7 status bytes, then the firmware text and its terminator
#define ROBO_STATUS_TYPE 3

extern "C" DWORD ROVANE_API Rovane_GetRoboStatus(LPBYTE lpBuffer, DWORD dwBufferSize, LPDWORD lpdwLength,
                                                 LPDWORD lpdwType) {
    if (lpdwType != NULL) *lpdwType = ROBO_STATUS_TYPE;
    if (dwBufferSize < ROBO_STATUS_EXPORT_SIZE || lpBuffer == NULL) return 0;

    RoboStatus status;
    if (!GetSystemStatus(&status)) return 0;

    lpBuffer[0] = status.bRoboState;
    lpBuffer[1] = status.bError;
    lpBuffer[2] = status.bPrinterState;
    lpBuffer[3] = status.bPrinterTray;
    lpBuffer[4] = status.bCurrentPosition;
    lpBuffer[5] = status.bAuxiliary;
    lpBuffer[6] = status.bPicker;
    // The firmware text with its terminator, cut so that everything stays within 22 bytes.
    const size_t cbRoom = ROBO_STATUS_EXPORT_SIZE - 7;
    size_t cchFirmware = strlen(g_szFirmware);
    if (cchFirmware > cbRoom - 1) cchFirmware = cbRoom - 1;
    memcpy(lpBuffer + 7, g_szFirmware, cchFirmware);
    lpBuffer[7 + cchFirmware] = '\0';
    if (lpdwLength != NULL) *lpdwLength = ROBO_STATUS_EXPORT_SIZE;
    return 1;
}
